#pragma once
// The root of the extractor tree: something that reads one HTML document.
#include "platform/html/HtmlDocument.h"

namespace QVInfoExtractors {

// Thread: the discovery caller's thread only.
class CInfoExtractor {
public:
    virtual ~CInfoExtractor() = default;
    // Reads the document. May throw QVXMLInfoExtractors::ComError when a
    // recognised media control fails a read, and std::bad_alloc; nothing
    // below the discovery run catches either.
    virtual void Process(const html::Document& document) = 0;
};

} // namespace QVInfoExtractors
