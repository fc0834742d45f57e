#include "host/NativeHostManifests.h"

#include "platform/sys/XdgPaths.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace host {

namespace fs = std::filesystem;

namespace {

// Written beside the target and renamed over it, so a browser never reads
// half a manifest.
bool WriteFileAtomically(const fs::path& path, const std::string& text, fs::perms perms, std::string& error)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        error = "cannot create " + path.parent_path().string() + ": " + ec.message();
        return false;
    }
    const fs::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            error = "cannot write " + temp.string();
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::permissions(temp, perms, ec);
    fs::rename(temp, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

// A single-quoted shell word.
std::string ShellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

std::vector<ManifestPlace> NativeHostManifestPlaces()
{
    const std::string file = std::string(kNativeHostName) + ".json";
    const fs::path config = platform::ConfigHome();
    return {
        { "Chromium", config / "chromium" / "NativeMessagingHosts" / file, false },
        { "Google Chrome", config / "google-chrome" / "NativeMessagingHosts" / file, false },
        { "Firefox", platform::HomeDir() / ".mozilla" / "native-messaging-hosts" / file, true },
    };
}

fs::path NativeHostWrapperPath()
{
    return platform::DataHome() / "quillory" / "native-host";
}

bool InstallNativeHost(const fs::path& program, std::vector<std::string>& done, std::vector<std::string>& errors)
{
    const fs::path wrapper = NativeHostWrapperPath();
    const std::string script = "#!/bin/sh\n# Started by the browser for the Quillory extension.\nexec " + ShellQuote(program.string())
        + " native-host \"$@\"\n";
    std::string error;
    if (!WriteFileAtomically(wrapper, script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                 | fs::perms::others_read | fs::perms::others_exec, error)) {
        errors.push_back(error);
        return false;
    }
    bool ok = true;
    for (const ManifestPlace& place : NativeHostManifestPlaces()) {
        nlohmann::json manifest { { "name", kNativeHostName },
                                  { "description", "Quillory: grab pictures, flash ainimations, scripts, css" },
                                  { "path", wrapper.string() },
                                  { "type", "stdio" } };
        if (place.firefox)
            manifest["allowed_extensions"] = { kFirefoxExtensionId };
        else
            manifest["allowed_origins"] = { std::string("chrome-extension://") + kChromiumExtensionId + "/" };
        if (WriteFileAtomically(place.manifest, manifest.dump(2) + "\n", fs::perms::owner_read | fs::perms::owner_write
                                    | fs::perms::group_read | fs::perms::others_read, error)) {
            done.push_back(place.browser + ": " + place.manifest.string());
        } else {
            errors.push_back(place.browser + ": " + error);
            ok = false;
        }
    }
    return ok;
}

bool RemoveNativeHost(std::vector<std::string>& done, std::vector<std::string>& errors)
{
    bool ok = true;
    std::vector<fs::path> files;
    for (const ManifestPlace& place : NativeHostManifestPlaces())
        files.push_back(place.manifest);
    files.push_back(NativeHostWrapperPath());
    for (const fs::path& f : files) {
        std::error_code ec;
        if (fs::remove(f, ec)) {
            done.push_back("removed " + f.string());
        } else if (ec && ec != std::errc::no_such_file_or_directory) {
            errors.push_back("cannot remove " + f.string() + ": " + ec.message());
            ok = false;
        }
    }
    return ok;
}

std::optional<fs::path> FindExtensionFolder(const fs::path& program)
{
    std::vector<fs::path> candidates;
    if (const char* env = std::getenv("QUILLORY_EXTENSION_DIR"); env && *env)
        candidates.emplace_back(env);
    const fs::path dir = program.parent_path();
    candidates.push_back(dir / ".." / "share" / "quillory" / "extension");
    // A build folder inside the source tree: build-x/host/quillory.
    candidates.push_back(dir / ".." / ".." / "extension");
    candidates.push_back(dir / ".." / "extension");
    for (const fs::path& c : candidates) {
        std::error_code ec;
        if (fs::is_regular_file(c / "manifest.json", ec))
            return fs::weakly_canonical(c, ec);
    }
    return std::nullopt;
}

} // namespace host
