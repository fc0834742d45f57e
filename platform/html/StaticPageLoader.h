#pragma once
// The static page loader: the default way a page reaches discovery. It
// fetches the page (http, https, ftp, file; redirects followed), parses it
// as HTML5, fetches its frame documents under the same-origin rule and a
// nesting limit, fetches linked stylesheets and probes every picture. All
// subresources of one document are fetched in parallel, each with connect
// and total time limits and a size cap, so a slow or hostile server ends a
// load in bounded time and memory.
#include "platform/html/HtmlDocument.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace html {

struct LoadOptions {
    // Per transfer: time to connect, and time for the whole transfer.
    std::chrono::milliseconds connectTimeout { 10'000 };
    std::chrono::milliseconds transferTimeout { 30'000 };
    // The whole load (page, frames, pictures, stylesheets) ends by then;
    // what is still running is abandoned as failed.
    std::chrono::milliseconds totalTimeout { 120'000 };
    // Byte caps: one HTML document, one subresource, everything together.
    std::size_t maxDocumentBytes = 8u << 20;
    std::size_t maxResourceBytes = 16u << 20;
    std::size_t maxTotalBytes = 256u << 20;
    // Frame windows: nesting depth followed below the page, and the number
    // of frame documents loaded in the whole page.
    int maxFrameDepth = 8;
    int maxFrames = 64;
    // Element nesting kept in the tree; deeper elements are cut off.
    int maxElementDepth = 512;
    // The HTML parser's memory and time for one document.
    // (Both end pages that make the HTML5 tree builder clone formatting
    // elements without bound.)
    std::size_t maxParserMemory = 256u << 20;
    std::chrono::milliseconds maxParseTime { 10'000 };
    // Distinct addresses fetched in the whole load.
    std::size_t maxResources = 2048;
    // Subresources of the same document fetched at once.
    int maxParallel = 8;
    int maxRedirects = 10;
};

// Either the loaded document or a one-line error text.
// Thread: any (a plain value).
class [[nodiscard]] LoadResult {
public:
    static LoadResult Success(std::unique_ptr<Document> document)
    {
        LoadResult r;
        r.m_document = std::move(document);
        return r;
    }
    static LoadResult Failure(std::string error)
    {
        LoadResult r;
        r.m_error = std::move(error);
        return r;
    }

    bool ok() const { return m_document != nullptr; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return m_error; }
    Document& document() { return *m_document; }
    const Document& document() const { return *m_document; }
    std::unique_ptr<Document> take() { return std::move(m_document); }

private:
    std::unique_ptr<Document> m_document;
    std::string m_error;
};

// Thread: any; each call is independent (libcurl global init is done once,
// thread-safely).
class StaticPageLoader {
public:
    // Loads a page by URL or by plain file path (absolute or relative to
    // the current folder). Errors: malformed address, unreachable host,
    // HTTP error status, time-out, not an HTML document, too large.
    static LoadResult Load(std::string_view urlOrPath, const LoadOptions& options = {});
};

} // namespace html
