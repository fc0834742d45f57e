#include "platform/xml/Node.h"

#include "platform/xml/Document.h"
#include "platform/xml/XmlSupport.h"

#include <libxml/tree.h>

namespace xml {

namespace {

const char* C(const xmlChar* s)
{
    return reinterpret_cast<const char*>(s);
}

// Whether `node` is `ancestor` or lies below it.
bool IsSelfOrDescendant(xmlNodePtr node, xmlNodePtr ancestor)
{
    for (xmlNodePtr n = node; n; n = n->parent)
        if (n == ancestor)
            return true;
    return false;
}

// xmlns and xmlns:p are namespace declarations, not data: setting one as a
// plain attribute would put the element and its descendants into another
// namespace when the text is read back. Only a declaration that restates
// the namespace already in force is accepted.
bool ChangesNamespace(xmlNodePtr element, std::string_view name, std::string_view value)
{
    std::string prefix;
    if (name == "xmlns")
        prefix.clear();
    else if (name.substr(0, 6) == "xmlns:")
        prefix = std::string(name.substr(6));
    else
        return false;
    xmlNsPtr ns = xmlSearchNs(element->doc, element,
                              prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
    if (!ns)
        return true;
    return !ns->href || std::string_view(C(ns->href)) != value;
}

} // namespace

std::string Node::Name() const
{
    if (!m_node)
        return {};
    switch (m_node->type) {
    case XML_TEXT_NODE:
        return "#text";
    case XML_COMMENT_NODE:
        return "#comment";
    case XML_CDATA_SECTION_NODE:
        return "#cdata-section";
    default:
        break;
    }
    if (!m_node->name)
        return {};
    std::string name;
    if (m_node->type == XML_ELEMENT_NODE && m_node->ns && m_node->ns->prefix) {
        name = C(m_node->ns->prefix);
        name += ':';
    }
    name += C(m_node->name);
    return name;
}

bool Node::IsElement() const
{
    return m_node && m_node->type == XML_ELEMENT_NODE;
}

std::string Node::Xml() const
{
    return detail::DumpNode(m_node);
}

std::optional<Element> Node::AsElement() const
{
    if (!IsElement())
        return std::nullopt;
    return Element(m_node);
}

bool Element::SetAttribute(std::string_view name, std::string_view value)
{
    if (!IsElement() || !detail::IsLegalName(name) || !detail::IsXmlText(value))
        return false;
    if (ChangesNamespace(m_node, name, value))
        return false;
    const std::string n(name);
    const std::string v(value);
    return xmlSetProp(m_node, reinterpret_cast<const xmlChar*>(n.c_str()),
                      reinterpret_cast<const xmlChar*>(v.c_str()))
        != nullptr;
}

bool Element::SetAttribute(std::string_view name, std::int32_t value)
{
    return SetAttribute(name, std::to_string(value));
}

std::optional<std::string> Element::GetAttribute(std::string_view name) const
{
    if (!IsElement())
        return std::nullopt;
    for (xmlAttrPtr attr = m_node->properties; attr; attr = attr->next) {
        std::string qname;
        if (attr->ns && attr->ns->prefix) {
            qname = C(attr->ns->prefix);
            qname += ':';
        }
        qname += C(attr->name);
        if (qname != name)
            continue;
        xmlChar* value = xmlNodeListGetString(m_node->doc, attr->children, 1);
        std::string out = value ? C(value) : "";
        xmlFree(value);
        return out;
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> Element::Attributes() const
{
    std::vector<std::pair<std::string, std::string>> out;
    if (!IsElement())
        return out;
    for (xmlAttrPtr attr = m_node->properties; attr; attr = attr->next) {
        std::string qname;
        if (attr->ns && attr->ns->prefix) {
            qname = C(attr->ns->prefix);
            qname += ':';
        }
        qname += C(attr->name);
        xmlChar* value = xmlNodeListGetString(m_node->doc, attr->children, 1);
        out.emplace_back(std::move(qname), value ? C(value) : "");
        xmlFree(value);
    }
    return out;
}

bool Element::AppendChild(const Node& child)
{
    xmlNodePtr c = child.raw();
    if (!IsElement() || !c || c->doc != m_node->doc)
        return false;
    // Text nodes could be merged into a neighbour and freed by libxml2,
    // which would leave a dangling handle; they are only made by SetText.
    if (c->type != XML_ELEMENT_NODE && c->type != XML_PI_NODE && c->type != XML_COMMENT_NODE)
        return false;
    if (IsSelfOrDescendant(m_node, c))
        return false;
    xmlUnlinkNode(c);
    if (!xmlAddChild(m_node, c)) {
        detail::TrackLoose(c);
        return false;
    }
    return true;
}

std::optional<Element> Element::CloneNode(bool deep) const
{
    if (!IsElement())
        return std::nullopt;
    // 1 copies the subtree, 2 the element with its attributes only.
    xmlNodePtr copy = xmlDocCopyNode(m_node, m_node->doc, deep ? 1 : 2);
    if (!copy)
        return std::nullopt;
    detail::TrackLoose(copy);
    return Element(copy);
}

void Element::SetText(std::string_view text)
{
    if (!IsElement())
        return;
    // Old children are parked rather than freed: handles to them may exist.
    while (xmlNodePtr child = m_node->children) {
        xmlUnlinkNode(child);
        detail::TrackLoose(child);
    }
    if (text.empty())
        return;
    const std::string clean = detail::ToXmlText(text);
    xmlNodePtr node = xmlNewDocTextLen(m_node->doc, reinterpret_cast<const xmlChar*>(clean.data()),
                                       static_cast<int>(clean.size()));
    if (node && !xmlAddChild(m_node, node))
        xmlFreeNode(node);
}

std::string Element::Text() const
{
    if (!m_node)
        return {};
    xmlChar* content = xmlNodeGetContent(m_node);
    std::string out = content ? C(content) : "";
    xmlFree(content);
    return out;
}

std::vector<Element> Element::ChildElements() const
{
    std::vector<Element> out;
    if (!IsElement())
        return out;
    for (xmlNodePtr c = m_node->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            out.emplace_back(c);
    return out;
}

std::optional<std::string> Element::TransformNode(const Document& stylesheet) const
{
    if (!IsElement())
        return std::nullopt;
    Document single;
    std::optional<Element> copy = single.ImportNode(*this, true);
    if (!copy || !single.AppendChild(*copy))
        return std::nullopt;
    return single.TransformNode(stylesheet);
}

} // namespace xml
