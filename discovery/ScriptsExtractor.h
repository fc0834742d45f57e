#pragma once
// Lists the script elements of a document, each with its address and
// inline code.
#include "discovery/HTMLProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CScriptsExtractor : public CHTMLProcessor {
public:
    CScriptsExtractor() : CHTMLProcessor("scripts") {}
    void Process(const html::Document& document) override;
    SectionOrder Order() const override { return SectionOrder::Scripts; }
};

} // namespace QVXMLInfoExtractors
