#pragma once
// The module's version record, the counterpart of a version resource.
//
// The record is an exported C symbol, `QVTovanixVersionInfo`, placed in its
// own ELF section "qvversion" of libqvtovanix.so. Readers (the about page)
// find it with dlopen + dlsym on the module's own file name, which only
// adds a reference when the module is already loaded. Product and file
// versions are kept as two 32-bit halves each, as a version resource keeps
// them: most significant half = major << 16 | minor, least significant
// half = build << 16 | revision.
//
// Thread: any.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <dlfcn.h>

struct QVVersionInfo {
    char signature[8];            // "QVVERS1"
    std::uint32_t fileVersionMS;
    std::uint32_t fileVersionLS;
    std::uint32_t productVersionMS;
    std::uint32_t productVersionLS;
    std::uint16_t language;       // 0x0409, U.S. English
    std::uint16_t codePage;       // 1200, Unicode
    char fileDescription[64];
    char originalFilename[32];
    char internalName[32];
};

inline constexpr const char* kVersionInfoSymbol = "QVTovanixVersionInfo";

// "%d.%d.%d.%d" from the high and low halves of the most significant and
// then the least significant 32 bits of the product version.
// Header-only, so that code outside the module can read the record.
[[nodiscard]] inline std::string FormatProductVersion(const QVVersionInfo& info)
{
    char text[48];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", int(info.productVersionMS >> 16),
        int(info.productVersionMS & 0xFFFF), int(info.productVersionLS >> 16), int(info.productVersionLS & 0xFFFF));
    return text;
}

// The version record of the module file at `path`; nullopt when the file
// cannot be loaded or carries no record with the right signature.
[[nodiscard]] inline std::optional<QVVersionInfo> ReadVersionInfo(const std::string& path)
{
    void* lib = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
    if (!lib)
        return std::nullopt;
    std::optional<QVVersionInfo> result;
    if (const auto* info = static_cast<const QVVersionInfo*>(dlsym(lib, kVersionInfoSymbol));
        info && std::memcmp(info->signature, "QVVERS1", 8) == 0)
        result = *info;
    dlclose(lib);
    return result;
}
