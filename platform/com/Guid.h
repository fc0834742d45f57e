#pragma once
// GUID with the braced text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
// used by the registry and by the browser's extension keys.
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::array<std::uint8_t, 8> Data4 {};

    friend bool operator==(const GUID&, const GUID&) = default;
    friend auto operator<=>(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

inline constexpr GUID GUID_NULL {};

// Accepts the braced form, with or without braces, any letter case.
std::optional<GUID> ParseGuid(std::string_view text);
// Upper-case braced form, as the registry stores class identifiers.
std::string GuidToString(const GUID& g);

// Compile-time GUID from its parts, for the well-known identifiers.
constexpr GUID MakeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3,
                        std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                        std::uint8_t e, std::uint8_t f, std::uint8_t g, std::uint8_t h)
{
    return GUID { d1, d2, d3, { a, b, c, d, e, f, g, h } };
}
