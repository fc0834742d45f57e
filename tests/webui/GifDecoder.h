#pragma once
// A minimal GIF reader for the tests: logical screen, global colour table,
// graphic control extension (transparency), one image, LZW decoding. It is
// strict where an encoder can go wrong (code widths, table resets, the end
// code, the trailer), so a picture that decodes here decodes anywhere.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webuitest {

struct GifPixel {
    std::uint8_t r = 0, g = 0, b = 0;
    bool transparent = false;
};

struct GifImage {
    int width = 0;
    int height = 0;
    std::vector<GifPixel> pixels;
    const GifPixel& at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// The picture, or nothing with `why` set.
inline std::optional<GifImage> DecodeGif(std::string_view data, std::string& why)
{
    auto u8 = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
    auto le16 = [&](std::size_t i) { return u8(i) | (u8(i + 1) << 8); };
    if (data.size() < 13 || (data.substr(0, 6) != "GIF89a" && data.substr(0, 6) != "GIF87a")) {
        why = "no GIF signature";
        return std::nullopt;
    }
    GifImage image;
    image.width = le16(6);
    image.height = le16(8);
    const std::uint8_t flags = u8(10);
    std::size_t pos = 13;
    std::vector<GifPixel> palette;
    if (flags & 0x80) {
        const std::size_t n = std::size_t { 2 } << (flags & 7);
        if (pos + 3 * n > data.size()) {
            why = "short colour table";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < n; ++i)
            palette.push_back({ u8(pos + 3 * i), u8(pos + 3 * i + 1), u8(pos + 3 * i + 2), false });
        pos += 3 * n;
    }
    int transparent = -1;
    while (pos < data.size() && u8(pos) == 0x21) {
        const std::uint8_t label = u8(pos + 1);
        pos += 2;
        if (label == 0xF9 && pos + 5 < data.size() && (u8(pos + 1) & 1))
            transparent = u8(pos + 4);
        while (pos < data.size() && u8(pos) != 0)
            pos += u8(pos) + 1u;
        ++pos;
    }
    if (pos + 10 > data.size() || u8(pos) != 0x2C) {
        why = "no image descriptor";
        return std::nullopt;
    }
    if (le16(pos + 5) != image.width || le16(pos + 7) != image.height || (u8(pos + 9) & 0xC0)) {
        why = "image does not fill the screen, or has a local table";
        return std::nullopt;
    }
    pos += 10;
    const int minCode = u8(pos++);
    std::string stream;
    while (pos < data.size() && u8(pos) != 0) {
        const std::size_t n = u8(pos);
        if (pos + 1 + n > data.size()) {
            why = "short sub-block";
            return std::nullopt;
        }
        stream.append(data.substr(pos + 1, n));
        pos += 1 + n;
    }
    if (pos + 1 >= data.size() || u8(pos + 1) != 0x3B) {
        why = "no trailer";
        return std::nullopt;
    }
    const int clear = 1 << minCode, end = clear + 1;
    std::vector<std::vector<std::uint8_t>> table;
    auto reset = [&] {
        table.clear();
        for (int i = 0; i < clear + 2; ++i)
            table.push_back({ static_cast<std::uint8_t>(i) });
    };
    reset();
    int width = minCode + 1;
    std::size_t bit = 0;
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> previous;
    bool ended = false;
    while (bit + static_cast<std::size_t>(width) <= stream.size() * 8) {
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((static_cast<std::uint8_t>(stream[bit / 8]) >> (bit % 8)) & 1) << i;
        if (code == clear) {
            reset();
            width = minCode + 1;
            previous.clear();
            continue;
        }
        if (code == end) {
            ended = true;
            break;
        }
        std::vector<std::uint8_t> entry;
        if (code < static_cast<int>(table.size())) {
            entry = table[static_cast<std::size_t>(code)];
            if (!previous.empty() && table.size() < 4096) {
                auto added = previous;
                added.push_back(entry[0]);
                table.push_back(added);
            }
        } else if (code == static_cast<int>(table.size()) && !previous.empty()) {
            entry = previous;
            entry.push_back(previous[0]);
            table.push_back(entry);
        } else {
            why = "code out of range";
            return std::nullopt;
        }
        out.insert(out.end(), entry.begin(), entry.end());
        previous = entry;
        if (static_cast<int>(table.size()) == (1 << width) && width < 12)
            ++width;
    }
    if (!ended) {
        why = "no end code";
        return std::nullopt;
    }
    if (out.size() != static_cast<std::size_t>(image.width * image.height)) {
        why = "pixel count " + std::to_string(out.size());
        return std::nullopt;
    }
    for (std::uint8_t index : out) {
        if (index >= palette.size()) {
            why = "index outside the colour table";
            return std::nullopt;
        }
        GifPixel p = palette[index];
        p.transparent = index == transparent;
        image.pixels.push_back(p);
    }
    return image;
}

} // namespace webuitest
