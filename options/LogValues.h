#pragma once
// The four log values under the settings key, in their stored forms. The
// options page and the grabber's settings read and write them through this
// one definition:
//   "OverallLog"       1 byte, non-zero means on
//   "PostGrabbingLog"  1 byte, non-zero means on
//   "MaxOverallLog"    4 bytes, little-endian signed (kilobytes)
//   "OverallLogPath"   REG_SZ (or REG_EXPAND_SZ when read), at most 259 bytes
// Binary values are read into buffers of exactly their stored size whatever
// their registry type; a value of another size, or a missing one, keeps the
// field's value. A path that is missing, too long, of another type or not
// terminated reads as empty.
//
// Thread: any; each instance is used by one thread at a time.
#include "platform/registry/Registry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Bytes of the buffer a stored path is read into, terminating zero included.
inline constexpr std::size_t kLogPathBuffer = 260;

struct LogValues {
    bool overallLog = false;
    bool postGrabbingLog = true;
    std::int32_t maxOverallLog = 500;
    std::string overallLogPath;

    // Reads the values present under `key` into the fields.
    void Read(HKEY key);
    // Writes "OverallLog", "PostGrabbingLog", "MaxOverallLog" and
    // "OverallLogPath" in this order; a single failed write is ignored.
    void Write(HKEY key) const;
};

// A one-byte value; nullopt when missing or of another size.
[[nodiscard]] std::optional<std::uint8_t> ReadLogFlag(HKEY key, const char* name);
// A four-byte little-endian signed value; nullopt when missing or of another
// size.
[[nodiscard]] std::optional<std::int32_t> ReadLogInt32(HKEY key, const char* name);
// A REG_SZ or REG_EXPAND_SZ value read into a buffer of `bufferBytes`;
// nullopt when missing, too long, of another type or not terminated. An
// empty stored value reads as empty.
[[nodiscard]] std::optional<std::string> ReadSettingsText(HKEY key, const char* name, std::size_t bufferBytes);
