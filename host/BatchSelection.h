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
// (http, https, ftp, file, mms); anything else a page may write there
// (javascript:, data:, bare names) is left out. At most `limit` addresses.
[[nodiscard]] std::vector<std::string> SelectForBatch(std::string_view filteredResourceXml, const KindSwitches& kinds,
                                                      std::size_t limit = 100000);

} // namespace host
