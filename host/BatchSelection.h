#pragma once
// What a grab without a dialog downloads: the items of a filtered resource
// document (every src absolute) whose kind the options switch on, in
// document order, each address once. Scripts and stylesheets written into
// the page (no src) have nothing to download.
//
// Thread: any (plain functions).
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct KindSwitches {
    bool images = false;      // GrabImage
    bool css = false;         // GrabCSS
    bool scripts = false;     // GrabScript
    bool flash = false;       // GrabFlash
    bool quickTime = false;   // GrabQT
    bool realPlayer = false;  // GrabRP
    bool mediaPlayer = false; // GrabMP
};

// Addresses are kept only when absolute with a scheme the downloads know
// (http, https, ftp, mms, and file when `localPage`); anything else a page
// may write there (javascript:, data:, bare names) is left out. With no
// one looking at the choice, a page from the network never gets a local
// file copied: file: addresses count only for a page read from disk.
// At most `limit` addresses.
[[nodiscard]] std::vector<std::string> SelectForBatch(std::string_view filteredResourceXml, const KindSwitches& kinds,
                                                      bool localPage, std::size_t limit = 100000);

} // namespace host
