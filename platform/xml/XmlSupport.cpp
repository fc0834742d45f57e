#include "platform/xml/XmlSupport.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxslt/security.h>
#include <libxslt/xsltutils.h>

#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace xml::detail {

namespace {

// Nothing this process parses may pull in other resources by address:
// documents come from strings or from a file we read ourselves.
xmlParserInputPtr RefuseExternalLoad(const char* /*url*/, const char* /*id*/, xmlParserCtxtPtr /*ctxt*/)
{
    return nullptr;
}

struct DocState {
    std::unordered_set<xmlNodePtr> loose;
};

DocState* StateOf(xmlDocPtr doc)
{
    return doc ? static_cast<DocState*>(doc->_private) : nullptr;
}

// Decodes one UTF-8 sequence; returns its length, or 0 when invalid.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

} // namespace

void SilentError(void* /*ctx*/, const char* /*msg*/, ...) {}

void EnsureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(RefuseExternalLoad);
        // libxml2 keeps this handler per thread: set it here and for
        // threads started later.
        xmlSetGenericErrorFunc(nullptr, SilentError);
        xmlThrDefSetGenericErrorFunc(nullptr, SilentError);
        xsltSetGenericErrorFunc(nullptr, SilentError);
        // Default preferences govern stylesheet compilation (xsl:include,
        // xsl:import); each transformation also gets them explicitly.
        xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(prefs, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        xsltSetDefaultSecurityPrefs(prefs); // lives as long as the process
    });
}

bool IsLegalName(std::string_view name)
{
    if (name.empty() || name.find('\0') != std::string_view::npos || !IsXmlText(name))
        return false;
    const std::string copy(name);
    return xmlValidateName(reinterpret_cast<const xmlChar*>(copy.c_str()), 0) == 0;
}

bool IsXmlText(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0 || !IsXmlChar(cp))
            return false;
        i += len;
    }
    return true;
}

std::string ToXmlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (IsXmlChar(cp))
            out.append(text.substr(i, len));
        else
            out += "\xEF\xBF\xBD";
        i += len;
    }
    return out;
}

void AttachState(xmlDocPtr doc)
{
    if (doc && !doc->_private)
        doc->_private = new DocState;
}

void TrackLoose(xmlNodePtr node)
{
    if (!node)
        return;
    if (DocState* state = StateOf(node->doc))
        state->loose.insert(node);
}

void FreeDocument(xmlDocPtr doc)
{
    if (!doc)
        return;
    if (DocState* state = StateOf(doc)) {
        // Decide which nodes are still outside the tree before freeing any:
        // freeing one may free others that were appended below it.
        std::vector<xmlNodePtr> roots;
        for (xmlNodePtr node : state->loose)
            if (node->parent == nullptr)
                roots.push_back(node);
        for (xmlNodePtr node : roots)
            xmlFreeNode(node);
        delete state;
        doc->_private = nullptr;
    }
    xmlFreeDoc(doc);
}

std::string DumpNode(xmlNodePtr node)
{
    if (!node)
        return {};
    if (node->type == XML_PI_NODE && node->name && xmlStrEqual(node->name, BAD_CAST "xml")) {
        // libxml2 would not write a declaration-shaped instruction itself.
        std::string out = "<?xml";
        if (node->content && node->content[0]) {
            out += ' ';
            out += reinterpret_cast<const char*>(node->content);
        }
        out += "?>";
        return out;
    }
    xmlBufferPtr buffer = xmlBufferCreate();
    if (!buffer)
        return {};
    std::string out;
    if (xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL | XML_SAVE_AS_XML)) {
        xmlSaveTree(save, node);
        xmlSaveClose(save);
        out.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
    }
    xmlBufferFree(buffer);
    return out;
}

} // namespace xml::detail
