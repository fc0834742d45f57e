#include "grabber/Folders.h"

#include "platform/sys/XdgPaths.h"

#include <cstdlib>

namespace {

// An address inside this file's code, so that the lookup finds whichever
// file this object code was linked into.
void Anchor() { }

std::string WithoutTrailingSlash(std::string s)
{
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

} // namespace

std::string ModuleFolder()
{
    if (const char* dir = std::getenv("QUILLORY_MODULE_DIR"); dir && *dir == '/')
        return WithoutTrailingSlash(dir);
    std::filesystem::path file = platform::ModuleFileOf(reinterpret_cast<const void*>(&Anchor));
    if (file.empty())
        return {};
    return WithoutTrailingSlash(file.parent_path().string());
}

std::string UserDataFolder()
{
    return (platform::DataHome() / "Danwell" / "Tovanix").string();
}
