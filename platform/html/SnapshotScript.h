#pragma once
// The page snapshot script (extension/snapshot.js), compiled in at build
// time: one expression that evaluates, in a page, to the page's snapshot as
// a JSON string (read by SnapshotLoader).
#include <string_view>

namespace html {

// Thread: any.
std::string_view SnapshotScript();

} // namespace html
