#pragma once
// The frame source filter: passes a resource document through a SAX reader
// and writer, tracking which frame each element belongs to, and rewrites
// every src attribute inside a frame into an absolute, canonical address
// with its relative forms relrootsrc and relsrc before it.
#include "platform/xml/Sax.h"

#include <deque>
#include <string>
#include <string_view>

namespace QVXMLInfoExtractors {

// Thread: one thread at a time; one object serves one page build.
class CSAXFrameSrcProcessor : public xml::SaxContentHandler {
public:
    // Filters the text; the result is what the writer produced, also when
    // the text is malformed (then up to the error). Returns whether the
    // whole text parsed.
    bool Filter(std::string_view text);
    std::string GetResult() const { return m_result; }

    bool StartDocument() override;
    bool EndDocument() override;
    bool StartPrefixMapping(std::string_view prefix, std::string_view uri) override;
    bool EndPrefixMapping(std::string_view prefix) override;
    bool StartElement(std::string_view uri, std::string_view localName, std::string_view qName,
                      const xml::SaxAttributes& attributes) override;
    bool EndElement(std::string_view uri, std::string_view localName, std::string_view qName) override;
    bool Characters(std::string_view text) override;
    bool IgnorableWhitespace(std::string_view text) override;
    bool ProcessingInstruction(std::string_view target, std::string_view data) override;
    bool SkippedEntity(std::string_view name) override;

private:
    // The address of the nearest enclosing frame that has one.
    std::string CurrentBase() const;

    // One entry per open "frame" element, outermost first; may be empty.
    std::deque<std::string> m_frameSources;
    xml::SaxContentHandler* m_next = nullptr;
    std::string m_result;
};

} // namespace QVXMLInfoExtractors
