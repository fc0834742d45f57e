#pragma once
// Lists the pictures the browser has finished loading, with what it knows of
// their size and type.
#include "discovery/HTMLProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CImagesExtractor : public CHTMLProcessor {
public:
    CImagesExtractor() : CHTMLProcessor("images") {}
    void Process(const html::Document& document) override;
    SectionOrder Order() const override { return SectionOrder::Images; }
};

} // namespace QVXMLInfoExtractors
