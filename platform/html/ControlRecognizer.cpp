#include "platform/html/ControlRecognizer.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace html {

namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string Trim(std::string_view s)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

const std::string* Attr(const ControlMarkup& m, std::string_view name)
{
    for (const auto& [n, v] : m.attributes) {
        if (n == name)
            return &v;
    }
    return nullptr;
}

// Parameter names are compared without regard to case, as the controls do.
const std::string* Param(const ControlMarkup& m, std::string_view lowerName)
{
    for (const auto& [n, v] : m.params) {
        if (Lower(Trim(n)) == lowerName)
            return &v;
    }
    return nullptr;
}

struct KindRule {
    ControlKind kind;
    std::array<std::string_view, 2> classIds; // lower-case, without "clsid:"
    std::array<std::string_view, 4> types;
    std::array<std::string_view, 5> extensions;
};

constexpr std::array<KindRule, 4> kRules { {
    { ControlKind::Flash,
      { "d27cdb6e-ae6d-11cf-96b8-444553540000", "" },
      { "application/x-shockwave-flash", "application/futuresplash", "", "" },
      { ".swf", ".spl", "", "", "" } },
    { ControlKind::QuickTime,
      { "02bf25d5-8c17-4b23-bc80-d3488abddc6b", "" },
      { "video/quicktime", "image/x-quicktime", "", "" },
      { ".mov", ".qt", "", "", "" } },
    { ControlKind::RealPlayer,
      { "cfcdaa03-8be4-11cf-b84b-0020afbbccfa", "" },
      { "audio/x-pn-realaudio", "audio/x-pn-realaudio-plugin", "application/vnd.rn-realmedia", "" },
      { ".rm", ".ram", ".rpm", ".ra", "" } },
    { ControlKind::MediaPlayer,
      { "22d6f312-b0f6-11d0-94ab-0080c74c7e95", "6bf52a52-394a-11d3-b153-00c04f79faa6" },
      { "application/x-mplayer2", "video/x-ms-asf", "video/x-ms-wmv", "audio/x-ms-wma" },
      { ".asf", ".asx", ".wmv", ".wma", ".wax" } },
} };

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& set, std::string_view value)
{
    return !value.empty() && std::find(set.begin(), set.end(), value) != set.end();
}

// "clsid:{D27CDB6E-...}" -> "d27cdb6e-..."
std::string NormalClassId(std::string_view written)
{
    std::string id = Lower(Trim(written));
    if (id.rfind("clsid:", 0) == 0)
        id.erase(0, 6);
    id.erase(std::remove(id.begin(), id.end(), '{'), id.end());
    id.erase(std::remove(id.begin(), id.end(), '}'), id.end());
    return Trim(id);
}

// "video/quicktime; codecs=x" -> "video/quicktime"
std::string NormalType(std::string_view written)
{
    std::string t = Lower(Trim(written));
    std::size_t semi = t.find(';');
    if (semi != std::string::npos)
        t = Trim(t.substr(0, semi));
    return t;
}

// ".mov" from "clips/a.MOV?x=1#t"
std::string ExtensionOf(std::string_view url)
{
    std::size_t end = std::min(url.find('?'), url.find('#'));
    std::string_view path = url.substr(0, std::min(end, url.size()));
    std::size_t slash = path.find_last_of('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::size_t dot = last.find_last_of('.');
    if (dot == std::string_view::npos)
        return {};
    return Lower(Trim(last.substr(dot)));
}

// Where each kind's control takes the address of its medium, in the order
// the control itself prefers them.
std::optional<std::string> SourceOf(const ControlMarkup& m, ControlKind kind)
{
    auto first = [&](std::initializer_list<std::string_view> params,
                     std::initializer_list<std::string_view> attrs) -> std::optional<std::string> {
        for (std::string_view p : params) {
            if (const std::string* v = Param(m, p))
                return *v;
        }
        for (std::string_view a : attrs) {
            if (const std::string* v = Attr(m, a))
                return *v;
        }
        return std::nullopt;
    };
    switch (kind) {
    case ControlKind::Flash:
        return first({ "movie", "src" }, { "movie", "src", "data" });
    case ControlKind::QuickTime:
        // QuickTime plays qtsrc in preference to src when both are given.
        return first({ "qtsrc", "src" }, { "qtsrc", "src", "data" });
    case ControlKind::RealPlayer:
        return first({ "src" }, { "src", "data" });
    case ControlKind::MediaPlayer:
        return first({ "filename", "url", "src" }, { "filename", "src", "data" });
    case ControlKind::Unknown:
        break;
    }
    return std::nullopt;
}

} // namespace

ControlKind RecognizeControl(const ControlMarkup& m)
{
    if (const std::string* classId = Attr(m, "classid")) {
        std::string id = NormalClassId(*classId);
        for (const KindRule& r : kRules) {
            if (Contains(r.classIds, id))
                return r.kind;
        }
        if (!id.empty())
            return ControlKind::Unknown; // another ActiveX control: the type does not matter then
    }
    if (const std::string* type = Attr(m, "type")) {
        std::string t = NormalType(*type);
        for (const KindRule& r : kRules) {
            if (Contains(r.types, t))
                return r.kind;
        }
    }
    for (std::string_view where : { "data", "src", "movie", "filename", "url", "qtsrc" }) {
        const std::string* url = Attr(m, where);
        if (!url)
            url = Param(m, where);
        if (!url)
            continue;
        std::string ext = ExtensionOf(*url);
        for (const KindRule& r : kRules) {
            if (Contains(r.extensions, ext))
                return r.kind;
        }
    }
    return ControlKind::Unknown;
}

EmbeddedControl MakeControl(const ControlMarkup& m)
{
    EmbeddedControl c;
    c.kind = RecognizeControl(m);
    c.tagName = m.tagName;
    if (const std::string* v = Attr(m, "classid"))
        c.classId = *v;
    if (const std::string* v = Attr(m, "type"))
        c.type = *v;
    std::optional<std::string> source = SourceOf(m, c.kind);
    if (source)
        c.source = Trim(*source);
    else if (c.kind == ControlKind::RealPlayer)
        c.source = Read<std::string>::Fail(E_FAIL);
    else
        c.source = std::string();
    return c;
}

} // namespace html
