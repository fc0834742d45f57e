#include "discovery/SAXFrameSrcProcessor.h"

#include "discovery/FrameSrcResolver.h"

#include <vector>

namespace QVXMLInfoExtractors {

namespace {

constexpr std::string_view kFrame = "frame";
constexpr std::string_view kSrc = "src";
constexpr std::string_view kRelSrc = "relsrc";
constexpr std::string_view kRelRootSrc = "relrootsrc";

struct PendingAttribute {
    xml::SaxAttributes::Attribute attribute;
    bool generated = false;
};

// A page may carry its own relsrc or relrootsrc attribute next to src. The
// ones computed here win; writing both would make the text unreadable
// (an attribute may appear only once in a start tag).
void DropShadowedAttributes(std::vector<PendingAttribute>& list)
{
    // Decided for every attribute before any is moved: a moved-from name
    // would no longer shadow a later duplicate.
    std::vector<bool> keep(list.size(), false);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string& name = list[i].attribute.qName;
        bool shadowed = false;
        for (std::size_t j = 0; j < list.size() && !shadowed; ++j) {
            if (j == i || list[j].attribute.qName != name)
                continue;
            // Keep the last computed one, else the first incoming one.
            if (list[j].generated)
                shadowed = !list[i].generated || j > i;
            else
                shadowed = !list[i].generated && j < i;
        }
        keep[i] = !shadowed;
    }
    std::vector<PendingAttribute> kept;
    kept.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        if (keep[i])
            kept.push_back(std::move(list[i]));
    list = std::move(kept);
}

} // namespace

bool CSAXFrameSrcProcessor::Filter(std::string_view text)
{
    m_result.clear();
    m_frameSources.clear();
    xml::SaxWriter writer;
    writer.SetStandalone(false);
    xml::SaxReader reader;
    m_next = &writer;
    reader.SetContentHandler(this);
    // Comments and CDATA bounds go straight to the writer.
    reader.SetLexicalHandler(&writer);
    const bool parsed = reader.Parse(text);
    m_next = nullptr;
    writer.Flush();
    m_result = writer.Output();
    m_frameSources.clear();
    return parsed;
}

std::string CSAXFrameSrcProcessor::CurrentBase() const
{
    for (auto it = m_frameSources.rbegin(); it != m_frameSources.rend(); ++it)
        if (!it->empty())
            return *it;
    return {};
}

bool CSAXFrameSrcProcessor::StartElement(std::string_view uri, std::string_view localName, std::string_view qName,
                                         const xml::SaxAttributes& attributes)
{
    const bool isFrame = localName == kFrame;
    if (m_frameSources.empty()) {
        // The outermost frame: its src is already the page's address.
        if (isFrame) {
            const auto src = attributes.GetValueFromName("", kSrc);
            m_frameSources.emplace_back(src ? *src : std::string_view());
        }
        if (m_next)
            (void)m_next->StartElement(uri, localName, qName, attributes);
        return true;
    }

    const std::string base = CurrentBase();
    if (isFrame)
        m_frameSources.emplace_back();

    std::vector<PendingAttribute> pending;
    pending.reserve(attributes.GetLength() + 2);
    for (const xml::SaxAttributes::Attribute& incoming : attributes.Items()) {
        PendingAttribute attribute{incoming, false};
        if (incoming.localName == kSrc && !incoming.value.empty()) {
            ResolvedSrc resolved = ResolveFrameSrc(incoming.value, base);
            if (resolved.relrootsrc)
                pending.push_back({{"", "", std::string(kRelRootSrc), "", std::move(*resolved.relrootsrc)}, true});
            if (resolved.relsrc)
                pending.push_back({{"", "", std::string(kRelSrc), "", std::move(*resolved.relsrc)}, true});
            attribute.attribute.value = std::move(resolved.src);
            if (isFrame)
                m_frameSources.back() = attribute.attribute.value;
        }
        pending.push_back(std::move(attribute));
    }
    DropShadowedAttributes(pending);

    xml::SaxAttributeList list;
    for (const PendingAttribute& p : pending) {
        const auto& a = p.attribute;
        list.AddAttribute(a.uri, a.localName, a.qName, a.type, a.value);
    }
    if (m_next)
        (void)m_next->StartElement(uri, localName, qName, list);
    return true;
}

bool CSAXFrameSrcProcessor::EndElement(std::string_view uri, std::string_view localName, std::string_view qName)
{
    if (localName == kFrame && !m_frameSources.empty())
        m_frameSources.pop_back();
    if (m_next)
        (void)m_next->EndElement(uri, localName, qName);
    return true;
}

// Everything but elements passes straight through; the next handler's
// answer is not looked at.

bool CSAXFrameSrcProcessor::StartDocument()
{
    if (m_next)
        (void)m_next->StartDocument();
    return true;
}

bool CSAXFrameSrcProcessor::EndDocument()
{
    if (m_next)
        (void)m_next->EndDocument();
    return true;
}

bool CSAXFrameSrcProcessor::StartPrefixMapping(std::string_view prefix, std::string_view uri)
{
    if (m_next)
        (void)m_next->StartPrefixMapping(prefix, uri);
    return true;
}

bool CSAXFrameSrcProcessor::EndPrefixMapping(std::string_view prefix)
{
    if (m_next)
        (void)m_next->EndPrefixMapping(prefix);
    return true;
}

bool CSAXFrameSrcProcessor::Characters(std::string_view text)
{
    if (m_next)
        (void)m_next->Characters(text);
    return true;
}

bool CSAXFrameSrcProcessor::IgnorableWhitespace(std::string_view text)
{
    if (m_next)
        (void)m_next->IgnorableWhitespace(text);
    return true;
}

bool CSAXFrameSrcProcessor::ProcessingInstruction(std::string_view target, std::string_view data)
{
    if (m_next)
        (void)m_next->ProcessingInstruction(target, data);
    return true;
}

bool CSAXFrameSrcProcessor::SkippedEntity(std::string_view name)
{
    if (m_next)
        (void)m_next->SkippedEntity(name);
    return true;
}

} // namespace QVXMLInfoExtractors
