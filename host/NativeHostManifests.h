#pragma once
// The browser side of registration: the native messaging host manifests
// (user level) that let the Quillory extension start `quillory native-host`.
//
//   Chromium       $XDG_CONFIG_HOME/chromium/NativeMessagingHosts/com.vornel.quillory.json
//   Google Chrome  $XDG_CONFIG_HOME/google-chrome/NativeMessagingHosts/com.vornel.quillory.json
//   Firefox        ~/.mozilla/native-messaging-hosts/com.vornel.quillory.json
//
// A manifest's "path" cannot carry arguments, so it names a small wrapper
// script, $XDG_DATA_HOME/quillory/native-host, that runs
// `<quillory> native-host` with what the browser passes. Every browser's
// manifest is written whether or not that browser is installed (it is a
// file in the user's own folders), so installing a browser later needs no
// second registration.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace host {

inline constexpr const char* kNativeHostName = "com.vornel.quillory";
// From the public key in extension/manifest.json ("key").
inline constexpr const char* kChromiumExtensionId = "giofkconlhinbomchjddogpdcjiehcgn";
// extension/manifest.json: browser_specific_settings.gecko.id.
inline constexpr const char* kFirefoxExtensionId = "quillory@vornel.example";

struct ManifestPlace {
    std::string browser;               // "Chromium", "Google Chrome", "Firefox"
    std::filesystem::path manifest;    // the manifest file
    bool firefox = false;              // allowed_extensions rather than allowed_origins
};

std::vector<ManifestPlace> NativeHostManifestPlaces();
std::filesystem::path NativeHostWrapperPath();

// Writes the wrapper (running `program native-host`) and every manifest;
// false with one line per failure in `errors`. Lines for people in `done`.
bool InstallNativeHost(const std::filesystem::path& program, std::vector<std::string>& done, std::vector<std::string>& errors);
// Removes the manifests and the wrapper; missing files are no error.
bool RemoveNativeHost(std::vector<std::string>& done, std::vector<std::string>& errors);

// The unpacked extension's folder: $QUILLORY_EXTENSION_DIR, else
// share/quillory/extension beside the program's folder, else the source
// tree's extension/ above a build folder; nullopt when none holds a
// manifest.json.
std::optional<std::filesystem::path> FindExtensionFolder(const std::filesystem::path& program);

} // namespace host
