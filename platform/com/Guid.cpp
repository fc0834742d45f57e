#include "platform/com/Guid.h"

#include <cstdio>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits from text at pos; advances pos.
std::optional<std::uint64_t> ReadHex(std::string_view text, size_t& pos, size_t digits)
{
    if (pos + digits > text.size())
        return std::nullopt;
    std::uint64_t v = 0;
    for (size_t i = 0; i < digits; ++i) {
        int h = HexValue(text[pos + i]);
        if (h < 0)
            return std::nullopt;
        v = (v << 4) | static_cast<std::uint64_t>(h);
    }
    pos += digits;
    return v;
}

bool Expect(std::string_view text, size_t& pos, char c)
{
    if (pos >= text.size() || text[pos] != c)
        return false;
    ++pos;
    return true;
}

} // namespace

std::optional<GUID> ParseGuid(std::string_view text)
{
    bool braced = !text.empty() && text.front() == '{';
    if (braced) {
        if (text.size() != 38 || text.back() != '}')
            return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36)
        return std::nullopt;
    GUID g;
    size_t pos = 0;
    auto d1 = ReadHex(text, pos, 8);
    if (!d1 || !Expect(text, pos, '-'))
        return std::nullopt;
    auto d2 = ReadHex(text, pos, 4);
    if (!d2 || !Expect(text, pos, '-'))
        return std::nullopt;
    auto d3 = ReadHex(text, pos, 4);
    if (!d3 || !Expect(text, pos, '-'))
        return std::nullopt;
    g.Data1 = static_cast<std::uint32_t>(*d1);
    g.Data2 = static_cast<std::uint16_t>(*d2);
    g.Data3 = static_cast<std::uint16_t>(*d3);
    for (size_t i = 0; i < 8; ++i) {
        if (i == 2 && !Expect(text, pos, '-'))
            return std::nullopt;
        auto b = ReadHex(text, pos, 2);
        if (!b)
            return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(*b);
    }
    return g;
}

std::string GuidToString(const GUID& g)
{
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
        g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
        g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}
