#include "grabber/TovanixSettings.h"

#include "options/LogValues.h"
#include "platform/registry/Registry.h"
#include "platform/sys/XdgPaths.h"

#include <array>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace {

struct ModuleString {
    unsigned id;
    const char* text;
};

// The module's string table.
constexpr std::array kStringTable {
    ModuleString { kIdsSettingsKey, "Software\\Vornel\\Plugins\\Internet Explorer\\Quillory" },
};

// The flags in the order they are loaded and saved, with "GrabPath" going
// between the fourth and the fifth.
using FlagMember = std::uint8_t CTovanixSettings::*;
struct FlagValue {
    const char* name;
    FlagMember member;
};
constexpr std::array kFlagsBeforePath {
    FlagValue { "GrabPictures", &CTovanixSettings::GrabPictures },
    FlagValue { "GrabFlash", &CTovanixSettings::GrabFlash },
    FlagValue { "GrabCSS", &CTovanixSettings::GrabCSS },
    FlagValue { "GrabScripts", &CTovanixSettings::GrabScripts },
};
constexpr std::array kFlagsAfterPath {
    FlagValue { "GrabQuickTime", &CTovanixSettings::GrabQuickTime },
    FlagValue { "GrabRealPlayer", &CTovanixSettings::GrabRealPlayer },
    FlagValue { "GrabMediaPlayer", &CTovanixSettings::GrabMediaPlayer },
    FlagValue { "AutoClose", &CTovanixSettings::AutoClose },
    FlagValue { "SelectAll", &CTovanixSettings::SelectAll },
    FlagValue { "DebugMode", &CTovanixSettings::DebugMode },
};

void ReadFlag(HKEY key, const char* name, std::uint8_t& flag)
{
    if (auto v = ReadSettingsFlag(key, name))
        flag = *v;
}

void WriteFlag(HKEY key, const char* name, std::uint8_t flag)
{
    RegSetValueEx(key, name, REG_BINARY, &flag, 1);
}

std::mutex g_helpPathMutex;
std::string g_helpPath;

bool ReadHelpPathFrom(HKEY root, std::string& value)
{
    // Only read access: a machine hive that this user may not change must
    // still give its help path.
    RegKey key;
    if (key.Open(root, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ) != ERROR_SUCCESS)
        return false;
    auto path = ReadSettingsPath(key.get(), "HelpPath");
    if (!path)
        return false;
    value = std::move(*path);
    return true;
}

// "." and ".." resolved without looking at the file system; ".." above the
// root stays at the root. Always starts with '/', never ends with one
// (except the root itself).
std::string CanonicalizeAbsolute(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t next = text.find('/', pos);
        if (next == std::string::npos)
            next = text.size();
        std::string part = text.substr(pos, next - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        pos = next + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

bool AnythingAt(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::optional<std::uint8_t> ReadSettingsFlag(HKEY key, const char* name)
{
    return ReadLogFlag(key, name);
}

std::optional<std::string> ReadSettingsPath(HKEY key, const char* name)
{
    return ReadSettingsText(key, name, kMaxSettingsPath);
}

std::string DefaultRootFolder(CreateDocuments create)
{
    std::filesystem::path docs = platform::DocumentsDir();
    if (create == CreateDocuments::Yes) {
        // As the shell does for its special folders.
        std::error_code ec;
        std::filesystem::create_directories(docs, ec);
    }
    return docs.string() + "/Grabbed Files";
}

std::string LoadModuleString(unsigned id)
{
    for (const auto& entry : kStringTable) {
        if (entry.id == id)
            return entry.text;
    }
    return {};
}

void CTovanixSettings::SetDefaults()
{
    *this = CTovanixSettings {};
}

void CTovanixSettings::Load()
{
    // 1. Defaults.
    SetDefaults();
    // 2. The shared help path is refreshed by every new object.
    ReadHelpPath();
    // 3. The key, created when missing.
    RegKey key;
    if (key.Create(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return;
    // 4.
    for (const auto& f : kFlagsBeforePath)
        ReadFlag(key.get(), f.name, this->*f.member);
    // 5.
    auto path = ReadSettingsPath(key.get(), "GrabPath");
    const bool fromDocuments = !path;
    if (path)
        RootFolder = std::move(*path);
    // 6.
    for (const auto& f : kFlagsAfterPath)
        ReadFlag(key.get(), f.name, this->*f.member);
    // 7. Not created here: the RootFolder setter and the downloads create
    // folders when they need them.
    if (fromDocuments)
        RootFolder = DefaultRootFolder(CreateDocuments::Yes);
    // 8. The key closes with `key`.
}

void CTovanixSettings::Save() const
{
    RegKey key;
    if (key.Create(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return;
    for (const auto& f : kFlagsBeforePath)
        WriteFlag(key.get(), f.name, this->*f.member);
    key.SetStringValue("GrabPath", RootFolder, REG_SZ);
    for (const auto& f : kFlagsAfterPath)
        WriteFlag(key.get(), f.name, this->*f.member);
}

RootFolderResult CreateRootFolder(const std::string& text)
{
    // A relative folder would land wherever the host process happens to be
    // running; only absolute paths are accepted.
    if (text.empty() || text.front() != '/')
        return RootFolderResult::Failed;
    const std::string canonical = CanonicalizeAbsolute(text);
    // The canonical form has to fit the same 260-byte buffer as the stored
    // "GrabPath"; a longer root folder could never be read back.
    if (canonical.size() >= kMaxSettingsPath)
        return RootFolderResult::Failed;
    // Each prefix that ends after an element: /a, /a/b, /a/b/c.
    for (std::size_t end = canonical.find('/', 1);; end = canonical.find('/', end + 1)) {
        const std::string prefix = canonical.substr(0, end);
        if (prefix.size() > 1 && !AnythingAt(prefix) && ::mkdir(prefix.c_str(), 0777) != 0)
            break;
        if (end == std::string::npos)
            break;
    }
    return AnythingAt(canonical) ? RootFolderResult::Exists : RootFolderResult::Failed;
}

void ReadHelpPath()
{
    std::string value;
    if (!ReadHelpPathFrom(HKEY_CURRENT_USER, value) && !ReadHelpPathFrom(HKEY_LOCAL_MACHINE, value))
        value.clear();
    std::lock_guard lock(g_helpPathMutex);
    g_helpPath = std::move(value);
}

std::string HelpPath()
{
    std::lock_guard lock(g_helpPathMutex);
    return g_helpPath;
}
