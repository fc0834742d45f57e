#pragma once
// The second way a page reaches discovery: a snapshot of the live DOM, taken
// inside a real browser by extension/snapshot.js (by the WebExtension in the
// user's own browser, or by ChromiumPageLoader in a headless one). The page
// is then seen as the user sees it: pictures that scripts inserted, lazily
// loaded pictures, pages behind a login.
//
// The snapshot is page-controlled input: its size, nesting, node count and
// collection lengths are bounded here again, whatever the script promised.
//
// What the browser does not tell a page about another origin's resources
// (a picture's byte size and type, a stylesheet's text) is filled by a
// request of the host's own, with the static loader's limits.
#include "platform/html/StaticPageLoader.h"

#include <string_view>

namespace html {

enum class FetchMissing {
    No,  // keep what the browser knew
    Yes, // ask the servers for byte sizes, types and texts the browser kept back
};

struct SnapshotLimits {
    std::size_t maxJsonBytes = 256u << 20;
    std::size_t maxJsonNesting = 4096;   // arrays and objects inside each other
    std::size_t maxNodes = 1'000'000;    // element tree nodes in the whole page
    std::size_t maxItems = 20'000;       // entries of one collection
};

// Thread: any; each call is independent.
class SnapshotLoader {
public:
    // Builds the document model from the snapshot's JSON text. Errors: not
    // JSON, not a snapshot, too large or too deeply nested.
    static LoadResult Load(std::string_view json, FetchMissing fetch = FetchMissing::Yes,
                           const LoadOptions& options = {}, const SnapshotLimits& limits = {});

    // The type description a browser reports for a picture of this MIME
    // type ("image/png" -> "PNG Image"); "" for a type it has no name for.
    static std::string_view DescribeMediaType(std::string_view mediaType);
};

} // namespace html
