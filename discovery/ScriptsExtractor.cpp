#include "discovery/ScriptsExtractor.h"

namespace QVXMLInfoExtractors {

void CScriptsExtractor::Process(const html::Document& document)
{
    CHTMLProcessor::Process(document);
    if (!document.scripts)
        return;
    for (const html::Script& script : *document.scripts) {
        std::optional<xml::Element> item = CreateElement("item", true);
        if (!item)
            continue;
        // Written even when empty: an inline script has no address.
        if (script.src)
            (void)item->SetAttribute("src", *script.src);
        if (script.text && !script.text->empty())
            item->SetText(*script.text);
    }
}

} // namespace QVXMLInfoExtractors
