#include "platform/xml/Sax.h"
#include "platform/xml/XmlSupport.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>

namespace xml {

// ---- attribute lists -------------------------------------------------------

namespace {

template <typename Field>
std::optional<std::string_view> At(const std::vector<SaxAttributes::Attribute>& items, std::size_t index, Field field)
{
    if (index >= items.size())
        return std::nullopt;
    return std::string_view(items[index].*field);
}

} // namespace

std::optional<std::string_view> SaxAttributes::GetURI(std::size_t index) const
{
    return At(m_items, index, &Attribute::uri);
}

std::optional<std::string_view> SaxAttributes::GetLocalName(std::size_t index) const
{
    return At(m_items, index, &Attribute::localName);
}

std::optional<std::string_view> SaxAttributes::GetQName(std::size_t index) const
{
    return At(m_items, index, &Attribute::qName);
}

std::optional<std::string_view> SaxAttributes::GetType(std::size_t index) const
{
    return At(m_items, index, &Attribute::type);
}

std::optional<std::string_view> SaxAttributes::GetValue(std::size_t index) const
{
    return At(m_items, index, &Attribute::value);
}

std::optional<std::string_view> SaxAttributes::GetValueFromName(std::string_view uri, std::string_view localName) const
{
    for (const Attribute& a : m_items)
        if (a.uri == uri && a.localName == localName)
            return std::string_view(a.value);
    return std::nullopt;
}

std::optional<std::string_view> SaxAttributes::GetValueFromQName(std::string_view qName) const
{
    for (const Attribute& a : m_items)
        if (a.qName == qName)
            return std::string_view(a.value);
    return std::nullopt;
}

void SaxAttributeList::AddAttribute(std::string_view uri, std::string_view localName, std::string_view qName,
                                    std::string_view type, std::string_view value)
{
    m_items.push_back(Attribute{std::string(uri), std::string(localName), std::string(qName), std::string(type),
                                std::string(value)});
}

// ---- reader ----------------------------------------------------------------

namespace {

std::string_view View(const xmlChar* s)
{
    return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

std::string_view View(const xmlChar* s, int len)
{
    return s && len > 0 ? std::string_view(reinterpret_cast<const char*>(s), static_cast<std::size_t>(len))
                        : std::string_view();
}

std::string QName(const xmlChar* prefix, const xmlChar* local)
{
    std::string q;
    if (prefix) {
        q = View(prefix);
        q += ':';
    }
    q += View(local);
    return q;
}

constexpr std::string_view kXmlnsUri = "http://www.w3.org/2000/xmlns/";

// Per-parse state handed to libxml2 as user data.
struct ParseState {
    xmlParserCtxtPtr ctxt = nullptr;
    SaxContentHandler* content = nullptr;
    SaxLexicalHandler* lexical = nullptr;
    bool stopped = false;
    std::string error;
    // Prefixes declared by each open element, for EndPrefixMapping.
    std::vector<std::vector<std::string>> prefixes;
    SaxAttributeList attributes; // reused to spare allocations
};

ParseState& StateOf(void* user)
{
    return *static_cast<ParseState*>(user);
}

// Whether events may still be delivered. libxml2 may report a little more
// after a fatal error (an undeclared entity, for one); a failed parse ends
// at the error for our handlers.
bool Live(ParseState& s)
{
    if (s.stopped)
        return false;
    if (!s.ctxt->wellFormed) {
        s.stopped = true;
        xmlStopParser(s.ctxt);
        return false;
    }
    return true;
}

// Every handler result goes through here: false stops the parse.
void Check(ParseState& s, bool goOn)
{
    if (!goOn && !s.stopped) {
        s.stopped = true;
        s.error = "stopped by the content handler";
        xmlStopParser(s.ctxt);
    }
}

void OnStartDocument(void* user)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.content)
        Check(s, s.content->StartDocument());
}

void OnEndDocument(void* user)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.content)
        Check(s, s.content->EndDocument());
}

void OnStartElement(void* user, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                    int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int /*nbDefaulted*/,
                    const xmlChar** attributes)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    s.prefixes.emplace_back();
    if (!s.content)
        return;
    s.attributes.Clear();
    for (int i = 0; i < nbNamespaces; ++i) {
        const xmlChar* nsPrefix = namespaces[2 * i];
        const xmlChar* nsUri = namespaces[2 * i + 1];
        s.prefixes.back().emplace_back(View(nsPrefix));
        Check(s, s.content->StartPrefixMapping(View(nsPrefix), View(nsUri)));
        if (s.stopped)
            return;
        std::string q = nsPrefix ? "xmlns:" + std::string(View(nsPrefix)) : std::string("xmlns");
        // Declarations carry the xmlns namespace so that a lookup by local
        // name with an empty URI never mistakes "xmlns:src" for "src".
        s.attributes.AddAttribute(kXmlnsUri, nsPrefix ? View(nsPrefix) : std::string_view("xmlns"), q, "CDATA",
                                  View(nsUri));
    }
    for (int i = 0; i < nbAttributes; ++i) {
        const xmlChar** a = attributes + 5 * i;
        const std::string q = QName(a[1], a[0]);
        const auto length = static_cast<int>(a[4] - a[3]);
        s.attributes.AddAttribute(View(a[2]), View(a[0]), q, "CDATA", View(a[3], length));
    }
    Check(s, s.content->StartElement(View(uri), View(localname), QName(prefix, localname), s.attributes));
}

void OnEndElement(void* user, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    std::vector<std::string> declared;
    if (!s.prefixes.empty()) {
        declared = std::move(s.prefixes.back());
        s.prefixes.pop_back();
    }
    if (!s.content)
        return;
    Check(s, s.content->EndElement(View(uri), View(localname), QName(prefix, localname)));
    for (const std::string& p : declared) {
        if (s.stopped)
            return;
        Check(s, s.content->EndPrefixMapping(p));
    }
}

void OnCharacters(void* user, const xmlChar* text, int len)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.content)
        Check(s, s.content->Characters(View(text, len)));
}

void OnIgnorableWhitespace(void* user, const xmlChar* text, int len)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.content)
        Check(s, s.content->IgnorableWhitespace(View(text, len)));
}

void OnProcessingInstruction(void* user, const xmlChar* target, const xmlChar* data)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.content)
        Check(s, s.content->ProcessingInstruction(View(target), View(data)));
}

// An entity that is declared nowhere we read (its DTD is never loaded).
void OnReference(void* user, const xmlChar* name)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.content)
        Check(s, s.content->SkippedEntity(View(name)));
}

void OnComment(void* user, const xmlChar* text)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.lexical)
        Check(s, s.lexical->Comment(View(text)));
}

void OnCData(void* user, const xmlChar* text, int len)
{
    ParseState& s = StateOf(user);
    if (!Live(s))
        return;
    if (s.lexical)
        Check(s, s.lexical->StartCData());
    if (s.content && !s.stopped)
        Check(s, s.content->Characters(View(text, len)));
    if (s.lexical && !s.stopped)
        Check(s, s.lexical->EndCData());
}

void OnStructuredError(void* user, xmlErrorPtr error)
{
    // libxml2 hands the parse's user data to the structured handler.
    if (!user || !error || error->level < XML_ERR_FATAL)
        return;
    ParseState& s = StateOf(user);
    if (!s.error.empty())
        return;
    std::string message = error->message ? error->message : "not well-formed";
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    s.error = "line " + std::to_string(error->line) + ": " + message;
}

} // namespace

bool SaxReader::Parse(std::string_view text)
{
    detail::EnsureInitialised();
    m_lastError.clear();
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        m_lastError = "text too large";
        return false;
    }

    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startDocument = OnStartDocument;
    sax.endDocument = OnEndDocument;
    sax.startElementNs = OnStartElement;
    sax.endElementNs = OnEndElement;
    sax.characters = OnCharacters;
    sax.ignorableWhitespace = OnIgnorableWhitespace;
    sax.processingInstruction = OnProcessingInstruction;
    sax.reference = OnReference;
    sax.comment = OnComment;
    sax.cdataBlock = OnCData;
    sax.serror = OnStructuredError;
    // No entityDecl/getEntity: DTD entities are never defined, so nothing
    // can expand (no amplification) or load (no external entities).

    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
    if (!ctxt) {
        m_lastError = "out of memory";
        return false;
    }
    // NOENT only makes the five predefined entities and character references
    // arrive decoded in attribute values; no other entity is known.
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOENT | XML_PARSE_IGNORE_ENC);
    std::memcpy(ctxt->sax, &sax, sizeof sax);

    ParseState state;
    state.ctxt = ctxt;
    state.content = m_content;
    state.lexical = m_lexical;
    ctxt->userData = &state;

    xmlParseDocument(ctxt);
    const bool ok = ctxt->wellFormed && !state.stopped;
    if (!ok)
        m_lastError = state.error.empty() ? "not well-formed" : state.error;
    ctxt->userData = ctxt;
    xmlFreeParserCtxt(ctxt);
    return ok;
}

} // namespace xml
