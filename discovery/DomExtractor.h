#pragma once
// Copies the page's element tree: one XML element per HTML element, named
// as the browser names it, with the attributes the page gives it.
#include "discovery/HTMLProcessor.h"

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
class CDomExtractor : public CHTMLProcessor {
public:
    // Element levels copied below "HTML". Deeper elements are left out with
    // their subtrees, so that the resource document, nested frames
    // included, stays within the XML parser's nesting limit (256) and can
    // always be read back.
    static constexpr int kMaxCopyDepth = 160;

    CDomExtractor() : CHTMLProcessor("HTMLDOM") {}
    void Process(const html::Document& document) override;
    SectionOrder Order() const override { return SectionOrder::HtmlDom; }

private:
    void CopyNode(const html::Node& node, xml::Element& target, int depth);
    void CopyAttributes(const html::Node& node, xml::Element& target);
};

} // namespace QVXMLInfoExtractors
