#include "discovery/ObjectsExtractor.h"

namespace QVXMLInfoExtractors {

void CObjectsExtractor::Process(const html::Document& document)
{
    CHTMLProcessor::Process(document);
    for (CUnknownProcessor* processor : m_processors)
        processor->ResetSection();
    // A document without a container or enumerator: "objects" stays empty,
    // without sub-sections.
    if (!document.embeddedControls)
        return;
    for (const html::EmbeddedControl& control : *document.embeddedControls)
        for (CUnknownProcessor* processor : m_processors)
            processor->ProcessObject(control);
    for (CUnknownProcessor* processor : m_processors)
        (void)ImportXml(processor->GetXml());
}

} // namespace QVXMLInfoExtractors
