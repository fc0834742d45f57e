#include "dialog/Scramble.h"

#include <array>

namespace dialog {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t RotateLeft2(std::uint8_t b)
{
    return static_cast<std::uint8_t>((b << 2) | (b >> 6));
}

constexpr std::uint8_t RotateRight2(std::uint8_t b)
{
    return static_cast<std::uint8_t>((b >> 2) | (b << 6));
}

// Alphabet value of each byte; -1 for '=' (padding), -2 for anything else.
constexpr std::array<int, 256> MakeDecodeTable()
{
    std::array<int, 256> table {};
    for (auto& v : table)
        v = -2;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
    table['='] = -1;
    return table;
}

constexpr std::array<int, 256> kDecode = MakeDecodeTable();

} // namespace

std::string Scramble(std::string_view plain, std::uint8_t key, std::size_t lineLength)
{
    std::string out;
    out.reserve((plain.size() + 2) / 3 * 4 + (lineLength ? plain.size() / lineLength + 1 : 0));
    std::size_t column = 0;
    auto put = [&](char c) {
        if (lineLength && column == lineLength) {
            out.push_back('\n');
            column = 0;
        }
        out.push_back(c);
        ++column;
    };
    auto byteAt = [&](std::size_t i) {
        return static_cast<std::uint8_t>(RotateRight2(static_cast<std::uint8_t>(plain[i])) ^ key);
    };
    for (std::size_t i = 0; i < plain.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, plain.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(byteAt(i)) << 16;
        if (n > 1)
            group |= static_cast<std::uint32_t>(byteAt(i + 1)) << 8;
        if (n > 2)
            group |= byteAt(i + 2);
        put(kAlphabet[(group >> 18) & 63]);
        put(kAlphabet[(group >> 12) & 63]);
        put(n > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        put(n > 2 ? kAlphabet[group & 63] : '=');
    }
    return out;
}

std::optional<std::string> Unscramble(std::string_view stored, std::uint8_t key)
{
    std::string out;
    out.reserve(stored.size() / 4 * 3);
    std::uint32_t group = 0;
    int count = 0;       // sextets in the current group
    bool padded = false; // padding seen: nothing but padding may follow
    for (char c : stored) {
        const int v = kDecode[static_cast<unsigned char>(c)];
        if (v == -2)
            continue;
        if (v == -1) {
            padded = true;
            continue;
        }
        if (padded)
            return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<char>((group >> 16) & 0xFF));
            out.push_back(static_cast<char>((group >> 8) & 0xFF));
            out.push_back(static_cast<char>(group & 0xFF));
            group = 0;
            count = 0;
        }
    }
    // Two sextets carry one byte, three carry two; one alone carries none.
    if (count == 1)
        return std::nullopt;
    if (count == 2) {
        out.push_back(static_cast<char>((group >> 4) & 0xFF));
    } else if (count == 3) {
        out.push_back(static_cast<char>((group >> 10) & 0xFF));
        out.push_back(static_cast<char>((group >> 2) & 0xFF));
    }
    for (auto& c : out)
        c = static_cast<char>(RotateLeft2(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ key)));
    if (auto nul = out.find('\0'); nul != std::string::npos)
        out.resize(nul);
    return out;
}

} // namespace dialog
