#include "platform/xml/Document.h"

#include "platform/com/Utf.h"
#include "platform/xml/XmlSupport.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdio>
#include <fstream>
#include <system_error>

namespace xml {

namespace {

constexpr std::uintmax_t kMaxFileBytes = 256u * 1024 * 1024;

// Parser options for every document: no network, no DTD loading, no entity
// substitution; libxml2's depth and amplification limits stay on.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

bool IsXmlDeclarationPi(xmlNodePtr node)
{
    return node->type == XML_PI_NODE && node->name && xmlStrEqual(node->name, BAD_CAST "xml");
}

// Whether the text (already in UTF-8, BOM removed) opens with a declaration.
bool StartsWithDeclaration(std::string_view text)
{
    return text.size() > 5 && text.substr(0, 5) == "<?xml"
        && (text[5] == ' ' || text[5] == '\t' || text[5] == '\r' || text[5] == '\n');
}

std::string LastParseError()
{
    const xmlError* error = xmlGetLastError();
    if (!error || !error->message)
        return "not well-formed";
    std::string message = error->message;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return "line " + std::to_string(error->line) + ": " + message;
}

// A copy of the document without "xml" instructions: XSLT must see the
// declaration as a declaration, not as a node.
xmlDocPtr CopyForXslt(xmlDocPtr doc)
{
    xmlDocPtr copy = xmlCopyDoc(doc, 1);
    if (!copy)
        return nullptr;
    copy->_private = nullptr;
    for (xmlNodePtr node = copy->children; node;) {
        xmlNodePtr next = node->next;
        if (IsXmlDeclarationPi(node)) {
            xmlUnlinkNode(node);
            xmlFreeNode(node);
        }
        node = next;
    }
    return copy;
}

} // namespace

Document::Document()
{
    detail::EnsureInitialised();
    Reset(xmlNewDoc(BAD_CAST "1.0"));
}

Document::~Document()
{
    detail::FreeDocument(m_doc);
}

Document::Document(Document&& other) noexcept
    : m_doc(other.m_doc), m_lastError(std::move(other.m_lastError))
{
    other.m_doc = nullptr;
}

Document& Document::operator=(Document&& other) noexcept
{
    if (this != &other) {
        detail::FreeDocument(m_doc);
        m_doc = other.m_doc;
        other.m_doc = nullptr;
        m_lastError = std::move(other.m_lastError);
    }
    return *this;
}

void Document::Reset(xmlDocPtr doc)
{
    detail::FreeDocument(m_doc);
    m_doc = doc;
    detail::AttachState(m_doc);
}

bool Document::Adopt(xmlDocPtr doc, bool hadDeclaration)
{
    if (!doc) {
        m_lastError = LastParseError();
        Reset(xmlNewDoc(BAD_CAST "1.0"));
        return false;
    }
    Reset(doc);
    if (hadDeclaration) {
        // Keep the declaration as a node, as a DOM built from the text would;
        // the encoding is dropped because the text is always UTF-8 here.
        std::string data = "version=\"";
        data += m_doc->version ? reinterpret_cast<const char*>(m_doc->version) : "1.0";
        data += '"';
        if (m_doc->standalone == 1)
            data += " standalone=\"yes\"";
        else if (m_doc->standalone == 0)
            data += " standalone=\"no\"";
        xmlNodePtr pi = xmlNewDocPI(m_doc, BAD_CAST "xml", reinterpret_cast<const xmlChar*>(data.c_str()));
        if (pi) {
            if (m_doc->children)
                xmlAddPrevSibling(m_doc->children, pi);
            else
                xmlAddChild(reinterpret_cast<xmlNodePtr>(m_doc), pi);
        }
    }
    m_lastError.clear();
    return true;
}

bool Document::LoadXml(std::string_view text)
{
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
        m_lastError = "text too large";
        Reset(xmlNewDoc(BAD_CAST "1.0"));
        return false;
    }
    xmlResetLastError();
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                                  kParseOptions | XML_PARSE_IGNORE_ENC);
    return Adopt(doc, doc && StartsWithDeclaration(text));
}

bool Document::Load(const std::filesystem::path& path)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxFileBytes) {
        m_lastError = ec ? ec.message() : "file too large";
        Reset(xmlNewDoc(BAD_CAST "1.0"));
        return false;
    }
    // Read at most one byte past the limit: the file may grow meanwhile.
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (!in.is_open() || in.bad() || bytes.size() > kMaxFileBytes) {
        m_lastError = "cannot read file";
        Reset(xmlNewDoc(BAD_CAST "1.0"));
        return false;
    }
    // UTF-16 with a byte-order mark, as the language file is written.
    if (bytes.size() >= 2 && (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
        const bool little = bytes[0] == '\xFF';
        std::u16string units;
        units.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
            const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
            units.push_back(static_cast<char16_t>(lo | (hi << 8)));
        }
        return LoadXml(Utf16ToUtf8(units));
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return LoadXml(std::string_view(bytes).substr(3));
    // No mark: the declaration (or the UTF-8 default) names the encoding.
    xmlResetLastError();
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, kParseOptions);
    return Adopt(doc, doc && StartsWithDeclaration(bytes));
}

bool Document::Save(const std::filesystem::path& path) const
{
    const std::string text = Xml();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    return static_cast<bool>(out);
}

std::string Document::Xml() const
{
    std::string out;
    if (!m_doc)
        return out;
    for (xmlNodePtr node = m_doc->children; node; node = node->next)
        out += detail::DumpNode(node);
    return out;
}

Node Document::CreateProcessingInstruction(std::string_view target, std::string_view data)
{
    if (!detail::IsLegalName(target) || !detail::IsXmlText(data) || data.find("?>") != std::string_view::npos)
        return Node();
    const std::string t(target);
    const std::string d(data);
    xmlNodePtr pi = xmlNewDocPI(m_doc, reinterpret_cast<const xmlChar*>(t.c_str()),
                                reinterpret_cast<const xmlChar*>(d.c_str()));
    detail::TrackLoose(pi);
    return Node(pi);
}

std::optional<Element> Document::CreateElement(std::string_view name)
{
    if (!detail::IsLegalName(name))
        return std::nullopt;
    const std::string n(name);
    xmlNodePtr element = xmlNewDocNode(m_doc, nullptr, reinterpret_cast<const xmlChar*>(n.c_str()), nullptr);
    if (!element)
        return std::nullopt;
    detail::TrackLoose(element);
    return Element(element);
}

bool Document::AppendChild(const Node& child)
{
    xmlNodePtr c = child.raw();
    if (!c || c->doc != m_doc)
        return false;
    if (c->type == XML_ELEMENT_NODE) {
        if (c->parent == reinterpret_cast<xmlNodePtr>(m_doc))
            return false;
        if (xmlDocGetRootElement(m_doc))
            return false; // one root element only
    } else if (c->type != XML_PI_NODE && c->type != XML_COMMENT_NODE) {
        return false;
    }
    xmlUnlinkNode(c);
    if (!xmlAddChild(reinterpret_cast<xmlNodePtr>(m_doc), c)) {
        detail::TrackLoose(c);
        return false;
    }
    return true;
}

std::optional<Element> Document::DocumentElement() const
{
    xmlNodePtr root = m_doc ? xmlDocGetRootElement(m_doc) : nullptr;
    if (!root)
        return std::nullopt;
    return Element(root);
}

std::optional<Element> Document::ImportNode(const Element& node, bool deep)
{
    if (!node.IsElement())
        return std::nullopt;
    xmlNodePtr copy = xmlDocCopyNode(node.raw(), m_doc, deep ? 1 : 2);
    if (!copy)
        return std::nullopt;
    detail::TrackLoose(copy);
    return Element(copy);
}

std::optional<std::string> Document::TransformNode(const Document& stylesheet) const
{
    if (!m_doc || !stylesheet.m_doc || !xmlDocGetRootElement(m_doc) || !xmlDocGetRootElement(stylesheet.m_doc))
        return std::nullopt;
    xmlDocPtr styleDoc = CopyForXslt(stylesheet.m_doc);
    if (!styleDoc)
        return std::nullopt;
    xsltStylesheetPtr style = xsltParseStylesheetDoc(styleDoc);
    if (!style) {
        xmlFreeDoc(styleDoc); // not taken over on failure
        return std::nullopt;
    }
    // The result is handed out as UTF-8 text whatever xsl:output asks for.
    if (style->encoding)
        xmlFree(const_cast<xmlChar*>(style->encoding));
    style->encoding = xmlStrdup(BAD_CAST "UTF-8");
    // Unless asked for, no indentation: HTML output would otherwise gain
    // line breaks between block elements.
    if (style->indent < 0)
        style->indent = 0;

    std::optional<std::string> text;
    xmlDocPtr source = CopyForXslt(m_doc);
    xsltTransformContextPtr ctxt = source ? xsltNewTransformContext(style, source) : nullptr;
    if (ctxt) {
        xsltSetCtxtSecurityPrefs(xsltGetDefaultSecurityPrefs(), ctxt);
        xsltSetTransformErrorFunc(ctxt, nullptr, detail::SilentError);
        xmlDocPtr result = xsltApplyStylesheetUser(style, source, nullptr, nullptr, nullptr, ctxt);
        if (result && ctxt->state != XSLT_STATE_ERROR && ctxt->state != XSLT_STATE_STOPPED) {
            xmlChar* buffer = nullptr;
            int length = 0;
            if (xsltSaveResultToString(&buffer, &length, result, style) == 0) {
                text.emplace(buffer ? reinterpret_cast<const char*>(buffer) : "", buffer ? length : 0);
                // The serialiser ends the document with a line break of its own.
                if (!text->empty() && text->back() == '\n')
                    text->pop_back();
            }
            xmlFree(buffer);
        }
        xmlFreeDoc(result);
        xsltFreeTransformContext(ctxt);
    }
    xmlFreeDoc(source);
    xsltFreeStylesheet(style);
    return text;
}

} // namespace xml
