#pragma once
// SAX 2 style reader and writer over libxml2.
//
// The reader reports namespace declarations as attributes too (qualified
// name "xmlns" or "xmlns:p", namespace URI "http://www.w3.org/2000/xmlns/")
// so that a writer fed from it reproduces them.
//
// Entities declared in a document's DTD are never expanded or loaded, so
// no document can make the reader fetch or amplify anything. A reference
// to an entity of a DTD that is not read (an external one) is reported as
// SkippedEntity; one that only an internal DTD declares is a parse error.
// The five predefined entities and character references are decoded.
//
// Thread: any, one thread at a time per object.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xml {

// Attributes of one start tag, readable by index and by name. Strings are
// UTF-8; every attribute's type is "CDATA" unless a builder said otherwise.
class SaxAttributes {
public:
    struct Attribute {
        std::string uri;
        std::string localName;
        std::string qName;
        std::string type;
        std::string value;
    };

    [[nodiscard]] std::size_t GetLength() const { return m_items.size(); }
    // By index; nullopt when the index is out of range.
    [[nodiscard]] std::optional<std::string_view> GetURI(std::size_t index) const;
    [[nodiscard]] std::optional<std::string_view> GetLocalName(std::size_t index) const;
    [[nodiscard]] std::optional<std::string_view> GetQName(std::size_t index) const;
    // The SAX "name" triple's qualified name; same as GetQName.
    [[nodiscard]] std::optional<std::string_view> GetName(std::size_t index) const { return GetQName(index); }
    [[nodiscard]] std::optional<std::string_view> GetType(std::size_t index) const;
    [[nodiscard]] std::optional<std::string_view> GetValue(std::size_t index) const;
    // The first attribute with this namespace URI and local name.
    [[nodiscard]] std::optional<std::string_view> GetValueFromName(std::string_view uri, std::string_view localName) const;
    [[nodiscard]] std::optional<std::string_view> GetValueFromQName(std::string_view qName) const;

    [[nodiscard]] const std::vector<Attribute>& Items() const { return m_items; }

protected:
    std::vector<Attribute> m_items;
};

// Builder for a new attribute list handed to a content handler.
class SaxAttributeList : public SaxAttributes {
public:
    void AddAttribute(std::string_view uri, std::string_view localName, std::string_view qName,
                      std::string_view type, std::string_view value);
    void Clear() { m_items.clear(); }
};

// Receives the events of a parse. Every method returns true to go on; false
// stops the parse, which then reports failure. Default bodies do nothing.
class SaxContentHandler {
public:
    virtual ~SaxContentHandler() = default;
    virtual bool StartDocument() { return true; }
    virtual bool EndDocument() { return true; }
    virtual bool StartPrefixMapping(std::string_view /*prefix*/, std::string_view /*uri*/) { return true; }
    virtual bool EndPrefixMapping(std::string_view /*prefix*/) { return true; }
    virtual bool StartElement(std::string_view /*uri*/, std::string_view /*localName*/, std::string_view /*qName*/,
                              const SaxAttributes& /*attributes*/) { return true; }
    virtual bool EndElement(std::string_view /*uri*/, std::string_view /*localName*/, std::string_view /*qName*/) { return true; }
    virtual bool Characters(std::string_view /*text*/) { return true; }
    virtual bool IgnorableWhitespace(std::string_view /*text*/) { return true; }
    virtual bool ProcessingInstruction(std::string_view /*target*/, std::string_view /*data*/) { return true; }
    virtual bool SkippedEntity(std::string_view /*name*/) { return true; }
};

// Comments and CDATA section bounds (text inside a CDATA section arrives as
// Characters).
class SaxLexicalHandler {
public:
    virtual ~SaxLexicalHandler() = default;
    virtual bool Comment(std::string_view /*text*/) { return true; }
    virtual bool StartCData() { return true; }
    virtual bool EndCData() { return true; }
};

class SaxReader {
public:
    void SetContentHandler(SaxContentHandler* handler) { m_content = handler; }
    void SetLexicalHandler(SaxLexicalHandler* handler) { m_lexical = handler; }

    // Parses the UTF-8 text (an encoding named in its declaration is
    // ignored) into the handlers. Returns false on a parse error or when a
    // handler asked to stop; the events up to that point have been
    // delivered, EndDocument not among them.
    [[nodiscard]] bool Parse(std::string_view text);
    [[nodiscard]] const std::string& LastError() const { return m_lastError; }

private:
    SaxContentHandler* m_content = nullptr;
    SaxLexicalHandler* m_lexical = nullptr;
    std::string m_lastError;
};

// A content and lexical handler that writes the events as XML text.
// Elements without content are written as <a/>. Text escapes & < > and
// carriage returns; attribute values escape & < > " and tab, line feed and
// carriage return as character references, so the output parses back to
// the same events.
class SaxWriter : public SaxContentHandler, public SaxLexicalHandler {
public:
    // The declaration's standalone flag: "no" when false (the default),
    // "yes" when true.
    void SetStandalone(bool standalone) { m_standalone = standalone; }
    // Leave the declaration out entirely.
    void SetOmitXmlDeclaration(bool omit) { m_omitDeclaration = omit; }

    // Everything written so far, an element start that still waits for its
    // content included as a complete start tag.
    [[nodiscard]] std::string Output() const;
    void Flush() {}
    // Drops the output so the writer can serve another document.
    void Reset();

    bool StartDocument() override;
    bool EndDocument() override;
    bool StartElement(std::string_view uri, std::string_view localName, std::string_view qName,
                      const SaxAttributes& attributes) override;
    bool EndElement(std::string_view uri, std::string_view localName, std::string_view qName) override;
    bool Characters(std::string_view text) override;
    bool IgnorableWhitespace(std::string_view text) override;
    bool ProcessingInstruction(std::string_view target, std::string_view data) override;
    bool SkippedEntity(std::string_view name) override;
    bool Comment(std::string_view text) override;

private:
    void CloseStartTag();

    std::string m_out;
    bool m_startTagOpen = false;
    bool m_standalone = false;
    bool m_omitDeclaration = false;
};

} // namespace xml
