#pragma once
// Local path named by the URL path of a `file` URL.
//
// Thread: any (pure).
#include <string>
#include <string_view>

namespace QVSaveProcessors {

// Every leading '/' and '\' of the (decoded) URL path is dropped and one '/'
// put back: "/home/a.txt" and "///home/a.txt" both name "/home/a.txt". A
// drive-letter path ("/C:/dir/a.txt") keeps its letter and simply does not
// exist here.
[[nodiscard]] std::string LocalPathOfFileUrl(std::string_view urlPath);

} // namespace QVSaveProcessors
