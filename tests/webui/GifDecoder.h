#pragma once
// A minimal GIF reader for the tests: logical screen, global colour table,
// extensions, one image, LZW decoding. It is strict where an encoder can go
// wrong (code widths, table resets, the end code, the pixel count, indexes
// inside the colour table, the trailer), so a picture that decodes here
// decodes anywhere.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace webuitest {

// What is wrong with the picture; empty when it decodes, with its size set.
inline std::string GifProblem(std::string_view data, int& width, int& height)
{
    auto u8 = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
    auto le16 = [&](std::size_t i) { return u8(i) | (u8(i + 1) << 8); };
    if (data.size() < 13 || (data.substr(0, 6) != "GIF89a" && data.substr(0, 6) != "GIF87a"))
        return "no GIF signature";
    width = le16(6);
    height = le16(8);
    const std::size_t colours = (u8(10) & 0x80) ? std::size_t { 2 } << (u8(10) & 7) : 0;
    std::size_t pos = 13 + 3 * colours;
    while (pos + 1 < data.size() && u8(pos) == 0x21) // extensions: label, then sub-blocks
        for (pos += 2; pos < data.size(); pos += u8(pos) + 1u)
            if (u8(pos) == 0) {
                ++pos;
                break;
            }
    if (pos + 11 > data.size() || u8(pos) != 0x2C)
        return "no image descriptor";
    if (le16(pos + 5) != width || le16(pos + 7) != height || (u8(pos + 9) & 0xC0))
        return "image does not fill the screen, or has a local table";
    const int minCode = u8(pos + 10);
    std::string stream;
    for (pos += 11; pos < data.size() && u8(pos) != 0; pos += 1 + u8(pos)) {
        if (pos + 1 + u8(pos) > data.size())
            return "short sub-block";
        stream.append(data.substr(pos + 1, u8(pos)));
    }
    if (pos + 1 >= data.size() || u8(pos + 1) != 0x3B)
        return "no trailer";
    const int clear = 1 << minCode, end = clear + 1;
    std::vector<std::vector<std::uint8_t>> table;
    std::vector<std::uint8_t> out, previous;
    int codeWidth = 0;
    auto reset = [&] {
        table.clear();
        for (int i = 0; i < clear + 2; ++i)
            table.push_back({ static_cast<std::uint8_t>(i) });
        codeWidth = minCode + 1;
        previous.clear();
    };
    reset();
    for (std::size_t bit = 0; bit + static_cast<std::size_t>(codeWidth) <= stream.size() * 8;) {
        int code = 0;
        for (int i = 0; i < codeWidth; ++i, ++bit)
            code |= ((static_cast<std::uint8_t>(stream[bit / 8]) >> (bit % 8)) & 1) << i;
        if (code == clear) {
            reset();
            continue;
        }
        if (code == end) {
            if (out.size() != static_cast<std::size_t>(width * height))
                return "pixel count " + std::to_string(out.size());
            for (std::uint8_t index : out)
                if (index >= colours)
                    return "index outside the colour table";
            return {};
        }
        std::vector<std::uint8_t> entry;
        if (code < static_cast<int>(table.size()))
            entry = table[static_cast<std::size_t>(code)];
        else if (code == static_cast<int>(table.size()) && !previous.empty())
            entry = previous, entry.push_back(previous[0]);
        else
            return "code out of range";
        if (!previous.empty() && table.size() < 4096) {
            table.push_back(previous);
            table.back().push_back(entry[0]);
        }
        out.insert(out.end(), entry.begin(), entry.end());
        previous = entry;
        if (static_cast<int>(table.size()) == (1 << codeWidth) && codeWidth < 12)
            ++codeWidth;
    }
    return "no end code";
}

} // namespace webuitest
