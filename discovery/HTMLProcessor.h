#pragma once
// An extractor that reads an HTML document into a section of its own.
#include "discovery/InfoExtractor.h"
#include "discovery/XmlProvider.h"

#include <string_view>

namespace QVXMLInfoExtractors {

// Where a member stands when a group runs its members, whatever the order
// in which they were added; within one kind, in the order of adding.
enum class SectionOrder {
    HtmlDom, // "HTMLDOM"
    Images,  // "images"
    Scripts, // "scripts"
    Css,     // "css"
    Objects, // "objects"
    Other,   // groups and anything else, after the standard sections
};

// Thread: the discovery caller's thread only.
class CHTMLProcessor : public QVInfoExtractors::CInfoExtractor, public CXmlProvider {
public:
    explicit CHTMLProcessor(std::string_view rootName) : CXmlProvider(rootName) {}

    // Starts an empty section; every override calls this first, so a run
    // never shows what an earlier run found.
    void Process(const html::Document& document) override;

    virtual SectionOrder Order() const { return SectionOrder::Other; }
};

} // namespace QVXMLInfoExtractors
