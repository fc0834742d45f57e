#include "platform/sys/XdgPaths.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// XDG requires absolute paths; a relative value is ignored.
std::filesystem::path XdgDir(const char* var, const char* fallback)
{
    std::filesystem::path p = Env(var);
    if (!p.empty() && p.is_absolute())
        return p;
    return HomeDir() / fallback;
}

// Reads XDG_DOCUMENTS_DIR="$HOME/..." from user-dirs.dirs.
std::filesystem::path FromUserDirs()
{
    std::ifstream in(ConfigHome() / "user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string v = line.substr(key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0)
            return HomeDir().string() + v.substr(5);
        if (!v.empty() && v.front() == '/')
            return v;
    }
    return {};
}

} // namespace

std::filesystem::path HomeDir()
{
    if (auto h = Env("HOME"); !h.empty())
        return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

std::filesystem::path ConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::filesystem::path DataHome() { return XdgDir("XDG_DATA_HOME", ".local/share"); }
std::filesystem::path CacheHome() { return XdgDir("XDG_CACHE_HOME", ".cache"); }

std::filesystem::path DocumentsDir()
{
    std::filesystem::path p = Env("XDG_DOCUMENTS_DIR");
    if (!p.empty() && p.is_absolute())
        return p;
    if (auto u = FromUserDirs(); !u.empty())
        return u;
    return HomeDir() / "Documents";
}

std::filesystem::path TempDir()
{
    std::filesystem::path p = Env("TMPDIR");
    if (!p.empty() && p.is_absolute())
        return p;
    return "/tmp";
}

std::filesystem::path ModuleFileOf(const void* address)
{
    Dl_info info {};
    if (dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return {};
    std::error_code ec;
    auto p = std::filesystem::canonical(info.dli_fname, ec);
    return ec ? std::filesystem::path(info.dli_fname) : p;
}

} // namespace platform
