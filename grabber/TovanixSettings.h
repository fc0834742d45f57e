#pragma once
// The grabber object's stored options: ten one-byte flags and the root
// folder, kept under the settings key of the current user's hive, plus the
// help path that every object re-reads and all of them share.
//
// Thread: a CTovanixSettings belongs to the thread of its object (the UI
// thread). The module-wide help path may be read and refreshed from any
// thread.
#include "platform/registry/Registry.h"

#include <cstdint>
#include <optional>
#include <string>

// String table of the module. Id 101 is the settings key path; it is looked
// up each time it is needed instead of being spread through the code.
inline constexpr unsigned kIdsSettingsKey = 101;
// The text of string `id`; empty for an id the table does not hold.
[[nodiscard]] std::string LoadModuleString(unsigned id);

// Longest string value read from the settings key, in bytes, including the
// terminating zero (the classic MAX_PATH).
inline constexpr std::size_t kMaxSettingsPath = 260;

class CTovanixSettings {
public:
    // Flags: 0 = off, 1 = on. Declared in the order the grabber object keeps
    // them; the registry order is the one of Load and Save.
    std::uint8_t GrabPictures = 1;
    std::uint8_t GrabFlash = 1;
    std::uint8_t GrabCSS = 1;
    std::uint8_t GrabScripts = 1;
    std::uint8_t GrabQuickTime = 1;
    std::uint8_t GrabRealPlayer = 1;
    std::uint8_t GrabMediaPlayer = 1;
    std::uint8_t AutoClose = 0;
    std::uint8_t SelectAll = 1;
    std::uint8_t DebugMode = 0;
    // "GrabPath": narrow UTF-8 text, exactly as the user gave it.
    std::string RootFolder;

    // Flags to their defaults, root folder empty.
    void SetDefaults();

    // Reads the help path into the module-wide copy, then the flags and the
    // root folder from the settings key (created when missing). Values that
    // cannot be read keep their defaults; a missing or unreadable "GrabPath"
    // becomes the documents folder + "/Grabbed Files" (that folder is not
    // created). When the key cannot be opened at all, the root folder stays
    // empty. Never fails.
    void Load();

    // Writes all eleven values to the settings key (created when missing):
    // the flags as one-byte REG_BINARY, "GrabPath" as REG_SZ. Failures are
    // ignored: nothing is reported to the user.
    void Save() const;
};

// Flag setter rule of the scripting interface: only VARIANT_TRUE (-1) means
// on; every other value, 1 included, stores off.
[[nodiscard]] constexpr std::uint8_t FlagFromVariantBool(std::int16_t value)
{
    return value == -1 ? 1 : 0;
}
// Flag getter rule: any non-zero byte reads as VARIANT_TRUE.
[[nodiscard]] constexpr std::int16_t VariantBoolFromFlag(std::uint8_t flag)
{
    return flag != 0 ? -1 : 0;
}

// Outcome of CreateRootFolder.
enum class RootFolderResult { Exists, Failed };

// The folder-creating walk of the RootFolder setter, on the narrow (UTF-8)
// text: canonicalize the path lexically ("." and ".." resolved), then create
// each missing prefix folder from the start, stopping at the first one that
// cannot be created. Exists when anything (folder or file) is now at the
// whole canonical path. The caller keeps the text as given, not its
// canonical form.
[[nodiscard]] RootFolderResult CreateRootFolder(const std::string& text);

// The read rules of Load for single values, for tools that show what is
// stored. A flag is taken only when it is exactly one byte, whatever its
// registry type (a four-byte REG_DWORD is not taken). A path is taken when
// it is REG_SZ or REG_EXPAND_SZ, carries its terminating zero and fits
// kMaxSettingsPath bytes with it.
[[nodiscard]] std::optional<std::uint8_t> ReadSettingsFlag(HKEY key, const char* name);
[[nodiscard]] std::optional<std::string> ReadSettingsPath(HKEY key, const char* name);

// Where "GrabPath" points when it is missing or unreadable: the documents
// folder + "/Grabbed Files". The documents folder is created when
// `create` says so (Load does; a read-only listing does not).
enum class CreateDocuments { No, Yes };
[[nodiscard]] std::string DefaultRootFolder(CreateDocuments create);

// Module-wide help path ("HelpPath", current user first, then the local
// machine; at most 259 characters). ReadHelpPath refreshes it; HelpPath
// returns a copy.
void ReadHelpPath();
[[nodiscard]] std::string HelpPath();
