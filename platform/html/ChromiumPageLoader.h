#pragma once
// The page as a browser renders it: headless Chromium loads the page (its
// scripts run), the page is scrolled through so lazily loaded pictures
// arrive, and the snapshot script reads the live DOM, which SnapshotLoader
// turns into the document model. A page that builds itself from script is
// then seen whole, where the static loader sees only its markup.
//
// The whole load is bounded in time; the browser is ended by the process
// id this loader started, whatever happens.
#include "platform/html/SnapshotLoader.h"

#include <chrono>
#include <string_view>

namespace html {

struct ChromiumOptions {
    LoadOptions load;                                    // limits for the snapshot and the host's own fetches
    std::chrono::milliseconds startTimeout { 20'000 };   // browser start to first answer
    std::chrono::milliseconds pageTimeout { 45'000 };    // navigation to the load event
    std::chrono::milliseconds settle { 1'500 };          // after loading and scrolling, for late scripts
    std::chrono::milliseconds totalTimeout { 90'000 };   // everything the browser does
    std::size_t maxMessageBytes = 320u << 20;            // one DevTools message (the snapshot)
    int maxScrollSteps = 40;                             // viewport heights scrolled for lazy pictures
};

inline constexpr const char* kChromiumMissing =
    "Chromium was not found: install the chromium package or use the static loader";

// Thread: any; each call starts and ends its own browser.
class ChromiumPageLoader {
public:
    // Loads a page by URL or plain file path. Errors: Chromium missing or
    // failing, malformed address, navigation failure, HTTP error status,
    // not an HTML document, time-out, an unreadable snapshot.
    static LoadResult Load(std::string_view urlOrPath, const ChromiumOptions& options = {});

    // Only the snapshot's JSON text (for tests and for tools); *unfinished
    // tells whether the page's load event had not come when it was taken.
    static bool Snapshot(std::string_view urlOrPath, const ChromiumOptions& options, std::string& json, std::string& error,
                         bool* unfinished = nullptr);
};

} // namespace html
