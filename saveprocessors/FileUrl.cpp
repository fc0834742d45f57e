#include "saveprocessors/FileUrl.h"

namespace QVSaveProcessors {

std::string LocalPathOfFileUrl(std::string_view urlPath)
{
    const std::size_t start = urlPath.find_first_not_of("/\\");
    if (start == std::string_view::npos)
        return "/";
    // On Windows the bare remainder is a drive path ("C:/dir/a.txt"); on
    // Linux the path needs its root back.
    return "/" + std::string(urlPath.substr(start));
}

} // namespace QVSaveProcessors
