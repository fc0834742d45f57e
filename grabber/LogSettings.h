#pragma once
// The four log settings under the settings key: "OverallLog" (1 byte),
// "OverallLogPath" (REG_SZ, at most 259 bytes), "MaxOverallLog" (4 bytes,
// little-endian signed) and "PostGrabbingLog" (1 byte), in the stored forms
// of options/LogValues.h, which the options page shares. Only the options
// page and the `quillory settings` command read or write them.
//
// Thread: any; each instance is used by one thread at a time.
#include "platform/registry/Registry.h"

#include <cstdint>
#include <optional>
#include <string>

class CLogSettings {
public:
    std::string OverallLogPath;          // "" when missing
    bool OverallLog = false;             // 0 when missing
    std::int32_t MaxOverallLog = 500;    // kilobytes
    bool PostGrabbingLog = true;         // 1 when missing

    // Opens (creating when missing) the settings key of the current user and
    // reads the values present. Binary values are read into buffers of
    // exactly their stored size whatever their registry type; a value of
    // another size, or missing, keeps the initial value. An unreadable path
    // is empty. Returns false when the key could not be opened (every field
    // then keeps its initial value).
    bool Load();

    // Writes "OverallLog", "PostGrabbingLog", "MaxOverallLog",
    // "OverallLogPath" in this order. Returns false when the key could not
    // be opened (nothing is written); single write failures are ignored.
    bool Save() const;
};

// "MaxOverallLog"'s read rule: exactly four bytes, little-endian signed,
// whatever the registry type.
[[nodiscard]] std::optional<std::int32_t> ReadSettingsInt32(HKEY key, const char* name);
