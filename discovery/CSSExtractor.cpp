#include "discovery/CSSExtractor.h"

namespace QVXMLInfoExtractors {

void CCSSExtractor::Process(const html::Document& document)
{
    CHTMLProcessor::Process(document);
    if (!document.styleSheets)
        return;
    for (const html::StyleSheet& sheet : *document.styleSheets) {
        std::optional<xml::Element> item = CreateElement("item", true);
        if (!item)
            continue;
        // Written even when empty: a style block in the page has no address.
        if (sheet.href)
            (void)item->SetAttribute("src", *sheet.href);
        if (sheet.cssText && !sheet.cssText->empty())
            item->SetText(*sheet.cssText);
    }
}

} // namespace QVXMLInfoExtractors
