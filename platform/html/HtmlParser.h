#pragma once
// Parses one HTML document (HTML5 tree construction, by gumbo) into the
// document model: the element tree with browser node names and the
// collections discovery reads. It fetches nothing: what needs fetching
// (pictures, linked stylesheets, frame documents) comes back as resolved
// addresses beside the model for the loader. Pure and bounded: element
// nesting is flattened and cut (see NestingLimiter), and the parser runs
// within a memory and time budget.
#include "platform/html/HtmlDocument.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace html {

struct ParseLimits {
    std::size_t maxElementDepth = 512;
    std::size_t maxParserMemory = 256u << 20;
    std::chrono::milliseconds maxParseTime { 10'000 };
};

// A picture's fetch address and its size as the element gives it.
struct PendingImage {
    std::string url; // resolved, without fragment; "" when there is nothing to fetch
    std::optional<std::int32_t> widthAttribute;
    std::optional<std::int32_t> heightAttribute;
};

struct ParsedPage {
    std::unique_ptr<Document> document; // URL, tree and collections; fetched facts still empty
    std::vector<PendingImage> images;   // one per document->images entry
    std::vector<std::string> styleSheetUrls; // one per styleSheets entry; "" for a <style> block
    std::vector<std::string> frameUrls;      // one per frames entry; "" for a frame without src
};

// Either the parsed page or a one-line error text.
class [[nodiscard]] ParseResult {
public:
    std::optional<ParsedPage> page;
    std::string error;
    explicit operator bool() const { return page.has_value(); }
};

// Thread: any (no shared state).
class HtmlParser {
public:
    // utf8: the page text as UTF-8; documentUrl: its address, the base for
    // relative references unless the page names a <base href>.
    static ParseResult Parse(std::string_view utf8, std::string_view documentUrl, const ParseLimits& limits = {});

    // An HTML non-negative integer ("120", " 64px"), as width and height
    // attributes are read; nullopt for a percentage or no digits.
    static std::optional<std::int32_t> ParseDimension(std::string_view value);
};

} // namespace html
