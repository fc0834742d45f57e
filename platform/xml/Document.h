#pragma once
// XML DOM document over libxml2.
//
// Hostile pages end up in these documents, so parsing never touches the
// network or the file system beyond the one file Load is asked for: no
// external DTD or entity is loaded and entities are not substituted.
// libxml2's default limits on nesting depth and entity amplification stay
// in force (no XML_PARSE_HUGE).
//
// The XML declaration is an ordinary processing instruction named "xml" in
// the tree, as the MSXML DOM has it: a document that holds the instruction
// "xml" with data "version='1.0'" and a root <a/> serialises as
// "<?xml version='1.0'?><a/>", with no indentation and no line breaks.
//
// Thread: any, one thread at a time per document.
#include "platform/xml/Node.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct _xmlDoc;

namespace xml {

class Document {
public:
    // An empty document (no children).
    Document();
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Loading is always synchronous; kept for callers that mirror the DOM
    // they were written against.
    void SetAsync(bool) {}

    // Replaces the content by the parsed text (UTF-8; an encoding named in
    // its declaration is ignored). On failure the document is left empty and
    // false is returned.
    [[nodiscard]] bool LoadXml(std::string_view text);
    // Replaces the content by the parsed file. A UTF-16 byte-order mark
    // (FF FE or FE FF) or a UTF-8 one decides the encoding; without one the
    // declaration does. Files larger than 256 MiB are refused.
    [[nodiscard]] bool Load(const std::filesystem::path& path);
    // Writes Xml() as UTF-8, replacing any earlier file.
    [[nodiscard]] bool Save(const std::filesystem::path& path) const;

    // The document as text: its children in order, an "xml" processing
    // instruction written as a declaration, nothing added between them.
    [[nodiscard]] std::string Xml() const;

    // A processing instruction not yet in the tree; empty handle when the
    // target is not a legal XML name.
    [[nodiscard]] Node CreateProcessingInstruction(std::string_view target, std::string_view data);
    // An element not yet in the tree; nullopt when the name is not a legal
    // XML name.
    [[nodiscard]] std::optional<Element> CreateElement(std::string_view name);
    // Appends a node of this document as last child of the document. An
    // element is refused when the document already has a root element.
    bool AppendChild(const Node& child);
    [[nodiscard]] std::optional<Element> DocumentElement() const;

    // A copy of a node of another document (with descendants when deep),
    // belonging to this document and not yet in its tree.
    [[nodiscard]] std::optional<Element> ImportNode(const Element& node, bool deep);

    // Applies the XSLT stylesheet held by `stylesheet` to this document and
    // returns the result as text, serialised by the stylesheet's xsl:output
    // (HTML text for method "html"), always in UTF-8. nullopt when the
    // stylesheet does not compile or the transformation fails. Stylesheets
    // may not read or write files or reach the network (document(),
    // xsl:include of anything but what is already loaded, extension
    // elements that write).
    [[nodiscard]] std::optional<std::string> TransformNode(const Document& stylesheet) const;

    // Message of the last failed load, for diagnostics.
    [[nodiscard]] const std::string& LastError() const { return m_lastError; }

    _xmlDoc* raw() const { return m_doc; }

private:
    void Reset(_xmlDoc* doc);
    bool Adopt(_xmlDoc* doc, bool hadDeclaration);

    _xmlDoc* m_doc = nullptr;
    std::string m_lastError;
};

} // namespace xml
