#include "discovery/DomExtractor.h"

namespace QVXMLInfoExtractors {

void CDomExtractor::Process(const html::Document& document)
{
    CHTMLProcessor::Process(document);
    if (!document.documentElement)
        return;
    // Always "HTML", whatever the root element is called.
    std::optional<xml::Element> html = CreateElement("HTML", true);
    if (html)
        CopyNode(*document.documentElement, *html, 0);
}

void CDomExtractor::CopyNode(const html::Node& node, xml::Element& target, int depth)
{
    // The model always delivers a children collection (possibly empty), so
    // attributes are copied for every element, IMG and META included.
    CopyAttributes(node, target);
    if (depth >= kMaxCopyDepth)
        return;
    for (const auto& child : node.childNodes) {
        if (!child)
            continue;
        // "#text", "#comment" and names XML rejects fail here and are left
        // out with everything below them.
        std::optional<xml::Element> copy = CreateElement(child->nodeName, false);
        if (!copy || !target.AppendChild(*copy))
            continue;
        CopyNode(*child, *copy, depth + 1);
    }
}

void CDomExtractor::CopyAttributes(const html::Node& node, xml::Element& target)
{
    for (const html::Attribute& attribute : node.attributes) {
        // The browser lists every attribute an element supports; only those
        // present in the page are wanted.
        if (!attribute.specified)
            continue;
        if (target.SetAttribute(attribute.nodeName, attribute.nodeValue))
            continue;
        std::optional<xml::Element> failed = CreateElement("fail_attr", false);
        if (!failed || !target.AppendChild(*failed))
            continue;
        (void)failed->SetAttribute("name", attribute.nodeName);
        (void)failed->SetAttribute("value", attribute.nodeValue);
    }
}

} // namespace QVXMLInfoExtractors
