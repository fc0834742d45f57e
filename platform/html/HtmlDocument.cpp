#include "platform/html/HtmlDocument.h"

namespace html {

const Attribute* Node::FindAttribute(std::string_view name) const
{
    for (const Attribute& a : attributes) {
        if (a.specified && a.nodeName == name)
            return &a;
    }
    return nullptr;
}

std::string_view to_string(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Unknown:
        return "unknown";
    case ControlKind::Flash:
        return "Flash";
    case ControlKind::QuickTime:
        return "QuickTime";
    case ControlKind::RealPlayer:
        return "RealPlayer";
    case ControlKind::MediaPlayer:
        return "Media Player";
    }
    return "unknown";
}

} // namespace html
