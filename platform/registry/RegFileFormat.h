#pragma once
// The hive file format: the registry editor's text export, version 5, as
// UTF-8.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vornel]
//   @="default value"
//   "Text"="C:\\Users\\me"
//   "Flag"=hex:01
//   "Count"=dword:000001f4
//   "Path"=hex(2):25,48,4f,4d,45,25,00
//
// Sections appear depth first with subkeys in sorted order; every key has
// a section (an empty key too) except a root without values. Values keep
// their order. A REG_SZ is written as a quoted string only when that
// string reads back to the same bytes: exactly one terminating zero at the
// end, valid UTF-8, no control characters; any other REG_SZ, and every
// type but REG_SZ, REG_DWORD of four bytes and REG_BINARY, is written as
// hex(type): with its exact bytes. Quoted text escapes \ and " with a
// backslash; value names also write control characters and bytes that are
// not UTF-8 as \xHH. Hex lists wrap at 80 columns with a trailing ",\".
//
// Parsing is pure: text in, tree or error out.
#include "platform/registry/HiveKey.h"
#include "platform/registry/HiveLocations.h"

#include <memory>
#include <string>
#include <string_view>

namespace platform::registry {

inline constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

struct ParsedHive {
    std::unique_ptr<HiveKey> root; // null on error
    std::string error; // "line N: what", empty on success
};

// The machine hive file also accepts sections under HKEY_CLASSES_ROOT,
// which lands in HKEY_LOCAL_MACHINE\Software\Classes.
[[nodiscard]] ParsedHive ParseHiveText(std::string_view text, Hive hive);
[[nodiscard]] std::string SerializeHive(const HiveKey& root, Hive hive);

// Name of the hive's root in section headers.
std::string_view HiveRootName(Hive hive);

} // namespace platform::registry
