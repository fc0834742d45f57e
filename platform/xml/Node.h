#pragma once
// Non-owning handles to nodes of an xml::Document.
//
// A handle stays valid while the Document that made the node lives. Nodes
// that were created but never appended belong to their Document too and are
// freed with it. All text is UTF-8.
//
// Thread: any, but one Document and its handles are used by one thread at a
// time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct _xmlNode;

namespace xml {

class Document;
class Element;

// Any node (element, processing instruction, text ...).
class Node {
public:
    Node() = default;
    explicit Node(_xmlNode* node) : m_node(node) {}

    explicit operator bool() const { return m_node != nullptr; }
    bool operator==(const Node& other) const { return m_node == other.m_node; }

    // Node name: the tag of an element, the target of a processing
    // instruction, "#text" for text.
    [[nodiscard]] std::string Name() const;
    [[nodiscard]] bool IsElement() const;
    // The node as XML text, without declaration or indentation.
    [[nodiscard]] std::string Xml() const;
    // The node's element form, when it is one.
    [[nodiscard]] std::optional<Element> AsElement() const;

    _xmlNode* raw() const { return m_node; }

protected:
    _xmlNode* m_node = nullptr;
};

// An element of a Document.
class Element : public Node {
public:
    Element() = default;
    explicit Element(_xmlNode* node) : Node(node) {}

    // Sets (adds or replaces) an attribute. Fails, leaving the element
    // unchanged, when the name is not a legal XML name or the value holds
    // text that XML cannot carry (invalid UTF-8, control characters).
    [[nodiscard]] bool SetAttribute(std::string_view name, std::string_view value);
    // Stores the decimal text of the number.
    [[nodiscard]] bool SetAttribute(std::string_view name, std::int32_t value);
    [[nodiscard]] std::optional<std::string> GetAttribute(std::string_view name) const;
    // Attributes in document order as (name, value).
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> Attributes() const;

    // Appends a node of the same document as last child; a node that is
    // already in the tree is moved. Fails for a node of another document,
    // for the element itself and for its ancestors.
    bool AppendChild(const Node& child);

    // A copy of this element (with all descendants when deep) that belongs
    // to the same document and is not yet in its tree.
    [[nodiscard]] std::optional<Element> CloneNode(bool deep) const;

    // Replaces all children by one text node holding the text verbatim.
    // Characters XML cannot carry are replaced by U+FFFD so the document
    // always stays serialisable.
    void SetText(std::string_view text);
    // Concatenated text of all descendants.
    [[nodiscard]] std::string Text() const;

    [[nodiscard]] std::vector<Element> ChildElements() const;

    // Applies an XSLT stylesheet to a copy of this element made into a
    // document of its own; see Document::TransformNode.
    [[nodiscard]] std::optional<std::string> TransformNode(const Document& stylesheet) const;
};

} // namespace xml
