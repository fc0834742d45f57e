#include "discovery/UnknownProcessor.h"

#include "discovery/ComError.h"

namespace QVXMLInfoExtractors {

void CUnknownProcessor::RecordSource(const html::EmbeddedControl& control, html::ControlKind kind,
                                     const IID* failingInterface)
{
    if (!control.Answers(kind))
        return;
    std::optional<xml::Element> item = CreateElement("item", true);
    if (!item)
        return;
    if (!control.source) {
        if (failingInterface)
            throw ComError(control.source.hr(), *failingInterface); // the item stays without src
        (void)item->SetAttribute("src", std::string_view());
        return;
    }
    (void)item->SetAttribute("src", *control.source);
}

} // namespace QVXMLInfoExtractors
