#pragma once
// Lists the stylesheets of a document, each with its address and CSS text.
#include "discovery/HTMLProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CCSSExtractor : public CHTMLProcessor {
public:
    CCSSExtractor() : CHTMLProcessor("css") {}
    void Process(const html::Document& document) override;
    SectionOrder Order() const override { return SectionOrder::Css; }
};

} // namespace QVXMLInfoExtractors
