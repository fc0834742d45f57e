#include "grabber/ModuleResources.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace resources {

namespace {

// The grab dialog's shell page. The page's own script comes from
// GetData(1) and its body from GetData(0). The background is the system's
// button face colour; HTML5 reads a bgcolor attribute as a hex colour and
// would turn "buttonface" into purple, so it goes into the style.
constexpr std::string_view kShellPageText =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n"
    "<html>\r\n"
    "<head>\r\n"
    "<style>\r\n"
    ".checkBox { font-size: 11pt; font-family: Serif; }\r\n"
    ".txmenu { font-size: 11pt; font-family: Serif; color: black; text-decoration: none; }\r\n"
    ".txmenu:hover { color: #f26522; text-decoration: none; }\r\n"
    "</style>\r\n"
    "</head>\r\n"
    "<body onunload=\"BodyOnUnLoad()\" style=\"background-color:buttonface;overflow:visible;padding:10px;border:0px;margin:0px\">\r\n"
    "<script language=\"javascript\">\r\n"
    "document.write(window.external.GetData(1));\r\n"
    "document.write(window.external.GetData(0));\r\n"
    "BodyOnLoad();\r\n"
    "</script>\r\n"
    "</body>\r\n"
    "</html>\r\n";

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba&) const = default;
};

constexpr Rgba kWhite { 255, 255, 255, 255 };
constexpr Rgba kBand { 0x7B, 0x9E, 0xEF, 255 };
constexpr Rgba kTick { 0x21, 0x9A, 0x2E, 255 };
constexpr Rgba kMark { 0xD8, 0x24, 0x24, 255 };
constexpr Rgba kClear { 0, 0, 0, 0 };

// Fraction of the pixel at (x, y) for which `inside` holds, from a 4 x 4
// grid of samples.
double Coverage(int x, int y, const std::function<bool(double, double)>& inside)
{
    int hits = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            hits += inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4) ? 1 : 0;
    return hits / 16.0;
}

Rgba Mix(Rgba under, Rgba over, double amount)
{
    auto ch = [&](std::uint8_t a, std::uint8_t b) {
        return static_cast<std::uint8_t>(std::lround(a + (b - a) * amount));
    };
    return { ch(under.r, over.r), ch(under.g, over.g), ch(under.b, over.b), ch(under.a, over.a) };
}

// Coverage quantised to four steps, so an edge needs at most two blended
// colours and a picture fits a small palette.
double Quantise(double c)
{
    return std::round(c * 3) / 3;
}

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by)
{
    const double dx = bx - ax, dy = by - ay;
    const double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgba> pixels;
    Rgba& at(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
    const Rgba& at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

Picture Draw(int width, int height, const std::function<Rgba(int, int)>& paint)
{
    Picture p { width, height, std::vector<Rgba>(static_cast<std::size_t>(width * height)) };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.at(x, y) = paint(x, y);
    return p;
}

// A header band's rounded top corner: blue, with the outside of a quarter
// circle in the top-left (or, mirrored, top-right) corner left white.
Picture CornerPicture(int width, int height, bool right)
{
    const double radius = 10;
    return Draw(width, height, [&](int x, int y) {
        const double c = Quantise(Coverage(x, y, [&](double px, double py) {
            const double fx = right ? width - px : px;
            if (fx >= radius || py >= radius)
                return true;
            return std::hypot(fx - radius, py - radius) <= radius;
        }));
        return Mix(kWhite, kBand, c);
    });
}

Picture TickPicture()
{
    return Draw(14, 14, [](int x, int y) {
        const double c = Quantise(Coverage(x, y, [](double px, double py) {
            return std::min(SegmentDistance(px, py, 2.5, 7.5, 5.5, 10.5), SegmentDistance(px, py, 5.5, 10.5, 11.5, 3.0))
                <= 1.25;
        }));
        return Mix(kWhite, kTick, c);
    });
}

// Transparent background: a GIF pixel is either fully transparent or
// opaque, so the mark's edge is not blended.
Picture FailPicture()
{
    return Draw(13, 12, [](int x, int y) {
        const double cx = x + 0.5, cy = y + 0.5;
        if (std::hypot(cx - 6.5, cy - 6.0) > 5.9)
            return kClear;
        const bool bar = x == 6 && y >= 2 && y <= 6;
        const bool dot = x == 6 && y == 8;
        return bar || dot ? kWhite : kMark;
    });
}

// Product icon: a blue rounded square with a white arrow pointing down into
// a tray; the hot image has an orange arrow.
Picture IconPicture(int size, bool hot)
{
    const Rgba arrow = hot ? Rgba { 0xF2, 0x65, 0x22, 255 } : kWhite;
    const double s = size / 32.0;
    return Draw(size, size, [&](int x, int y) {
        const double square = Coverage(x, y, [&](double px, double py) {
            const double r = 6 * s, lo = 1 * s, hi = size - 1 * s;
            const double qx = std::clamp(px, lo + r, hi - r), qy = std::clamp(py, lo + r, hi - r);
            return px >= lo && px <= hi && py >= lo && py <= hi && std::hypot(px - qx, py - qy) <= r;
        });
        const double mark = Coverage(x, y, [&](double px, double py) {
            const double u = px / s, v = py / s;
            const bool shaft = u >= 13.5 && u <= 18.5 && v >= 6 && v <= 16;
            const bool head = v >= 15 && v <= 22 && std::abs(u - 16) <= (22 - v) * 1.1;
            const bool tray = v >= 24 && v <= 26.5 && u >= 8 && u <= 24;
            return shaft || head || tray;
        });
        Rgba c = kBand;
        c.a = static_cast<std::uint8_t>(std::lround(255 * square));
        if (mark > 0)
            c = Mix(c, arrow, mark);
        return c;
    });
}

// LZW as GIF uses it (variable code width from minCodeSize + 1 up to 12
// bits, clear code first, a clear whenever the table is full), packed
// least significant bit first into 255-byte sub-blocks.
std::string GifLzw(const std::vector<std::uint8_t>& indexes, int minCodeSize)
{
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::map<std::pair<int, std::uint8_t>, int> table;
    int next = end + 1, width = minCodeSize + 1;
    std::string packed;
    std::uint32_t bits = 0;
    int count = 0;
    auto emit = [&](int code) {
        bits |= static_cast<std::uint32_t>(code) << count;
        count += width;
        while (count >= 8) {
            packed += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    emit(clear);
    int prefix = -1;
    for (std::uint8_t k : indexes) {
        if (prefix < 0) {
            prefix = k;
            continue;
        }
        if (auto it = table.find({ prefix, k }); it != table.end()) {
            prefix = it->second;
            continue;
        }
        emit(prefix);
        if (next < 4096) {
            table[{ prefix, k }] = next++;
            if (next > (1 << width) && width < 12)
                ++width;
        } else {
            emit(clear);
            table.clear();
            next = end + 1;
            width = minCodeSize + 1;
        }
        prefix = k;
    }
    if (prefix >= 0)
        emit(prefix);
    emit(end);
    if (count > 0)
        packed += static_cast<char>(bits & 0xFF);

    std::string blocks;
    for (std::size_t i = 0; i < packed.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
        blocks += static_cast<char>(n);
        blocks.append(packed, i, n);
    }
    blocks += '\0';
    return blocks;
}

void PutLe16(std::string& out, unsigned v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void PutLe32(std::string& out, std::uint32_t v)
{
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

// A GIF89a file: global colour table of the picture's colours (at most
// 256), a graphic control extension naming the transparent colour when
// there is one, one image.
std::string EncodeGif(const Picture& p)
{
    std::vector<Rgba> palette;
    std::vector<std::uint8_t> indexes;
    int transparent = -1;
    for (Rgba c : p.pixels) {
        if (c.a == 0)
            c = kClear;
        auto it = std::find(palette.begin(), palette.end(), c);
        if (it == palette.end()) {
            palette.push_back(c);
            it = palette.end() - 1;
        }
        const auto index = static_cast<std::uint8_t>(it - palette.begin());
        if (c.a == 0)
            transparent = index;
        indexes.push_back(index);
    }
    int depth = 1;
    while ((1 << depth) < static_cast<int>(palette.size()))
        ++depth;
    palette.resize(std::size_t { 1 } << depth, kClear);

    std::string out = "GIF89a";
    PutLe16(out, static_cast<unsigned>(p.width));
    PutLe16(out, static_cast<unsigned>(p.height));
    out += static_cast<char>(0x80 | ((depth - 1) << 4) | (depth - 1)); // global table, colour resolution, size
    out += '\0';                                                         // background colour index
    out += '\0';                                                         // pixel aspect ratio: not given
    for (const Rgba& c : palette) {
        out += static_cast<char>(c.r);
        out += static_cast<char>(c.g);
        out += static_cast<char>(c.b);
    }
    if (transparent >= 0) {
        out += "\x21\xF9\x04";
        out += '\x01'; // transparent colour flag
        PutLe16(out, 0);
        out += static_cast<char>(transparent);
        out += '\0';
    }
    out += '\x2C';
    PutLe16(out, 0);
    PutLe16(out, 0);
    PutLe16(out, static_cast<unsigned>(p.width));
    PutLe16(out, static_cast<unsigned>(p.height));
    out += '\0'; // no local colour table, not interlaced
    const int minCodeSize = std::max(2, depth);
    out += static_cast<char>(minCodeSize);
    out += GifLzw(indexes, minCodeSize);
    out += '\x3B';
    return out;
}

// One icon image as an ICO directory entry's data: BITMAPINFOHEADER with
// double height, pixels bottom-up, then the 1-bit AND mask. 8 bits per pixel
// uses a 6x6x6 colour cube; 32 bits carries alpha.
std::string IconImage(const Picture& p, int bitCount)
{
    std::string out;
    PutLe32(out, 40);
    PutLe32(out, static_cast<std::uint32_t>(p.width));
    PutLe32(out, static_cast<std::uint32_t>(p.height * 2));
    PutLe16(out, 1);
    PutLe16(out, static_cast<unsigned>(bitCount));
    for (int i = 0; i < 6; ++i)
        PutLe32(out, 0); // compression, size, resolution, colours
    auto cube = [](std::uint8_t v) { return static_cast<int>(std::lround(v / 51.0)); };
    if (bitCount == 8) {
        for (int i = 0; i < 256; ++i) {
            const int r = i / 36 % 6, g = i / 6 % 6, b = i % 6;
            const bool used = i < 216;
            out += static_cast<char>(used ? b * 51 : 0);
            out += static_cast<char>(used ? g * 51 : 0);
            out += static_cast<char>(used ? r * 51 : 0);
            out += '\0';
        }
    }
    for (int y = p.height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < p.width; ++x) {
            const Rgba c = p.at(x, y);
            if (bitCount == 8) {
                row += static_cast<char>(cube(c.r) * 36 + cube(c.g) * 6 + cube(c.b));
            } else {
                row += static_cast<char>(c.b);
                row += static_cast<char>(c.g);
                row += static_cast<char>(c.r);
                row += static_cast<char>(c.a);
            }
        }
        while (row.size() % 4)
            row += '\0';
        out += row;
    }
    const std::size_t maskStride = static_cast<std::size_t>((p.width + 31) / 32 * 4);
    for (int y = p.height - 1; y >= 0; --y) {
        std::string row(maskStride, '\0');
        for (int x = 0; x < p.width; ++x)
            if (p.at(x, y).a < 128)
                row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
        out += row;
    }
    return out;
}

// An icon group as one .ico file: 32 x 32 in 256 colours and in 32 bits,
// 20 x 20 and 24 x 24 in 32 bits.
std::string EncodeIcon(bool hot)
{
    const std::array<std::pair<int, int>, 4> images { { { 32, 8 }, { 32, 32 }, { 20, 32 }, { 24, 32 } } };
    std::vector<std::string> data;
    for (auto [size, bits] : images)
        data.push_back(IconImage(IconPicture(size, hot), bits));
    std::string out;
    PutLe16(out, 0);
    PutLe16(out, 1); // icon
    PutLe16(out, static_cast<unsigned>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto [size, bits] = images[i];
        out += static_cast<char>(size);
        out += static_cast<char>(size);
        out += '\0'; // colour count: 0 for 256 and more
        out += '\0';
        PutLe16(out, 1);
        PutLe16(out, static_cast<unsigned>(bits));
        PutLe32(out, static_cast<std::uint32_t>(data[i].size()));
        PutLe32(out, offset);
        offset += static_cast<std::uint32_t>(data[i].size());
    }
    for (const std::string& d : data)
        out += d;
    return out;
}

struct Store {
    std::string left, right, ok, fail, hotIcon, icon;
};

const Store& Images()
{
    static const Store store {
        EncodeGif(CornerPicture(21, 19, false)),
        EncodeGif(CornerPicture(27, 22, true)),
        EncodeGif(TickPicture()),
        EncodeGif(FailPicture()),
        EncodeIcon(true),
        EncodeIcon(false),
    };
    return store;
}

} // namespace

std::string NormalizeType(std::string_view type)
{
    if (!type.empty() && type.front() == '#')
        type.remove_prefix(1);
    int number = -1;
    if (!type.empty() && std::isdigit(static_cast<unsigned char>(type.front()))) {
        const auto [end, ec] = std::from_chars(type.data(), type.data() + type.size(), number);
        if (ec != std::errc() || end != type.data() + type.size())
            return {};
        if (number == kTypeHtml)
            return "HTML";
        if (number == kTypeIcon || number == kTypeGroupIcon)
            return "ICON";
        return {};
    }
    std::string upper(type);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "HTML" || upper == "GIF" || upper == "ICON")
        return upper;
    if (upper == "GROUP_ICON")
        return "ICON";
    return {};
}

std::optional<Resource> FindResource(std::string_view type, int id)
{
    const std::string kind = NormalizeType(type);
    if (kind == "HTML" && id == kShellPage)
        return Resource { "HTML", id, "text/html; charset=utf-8", kShellPageText };
    if (kind == "GIF") {
        const Store& s = Images();
        const std::string* bytes = id == kLeftCornerImage ? &s.left
            : id == kRightCornerImage                      ? &s.right
            : id == kOkImage                               ? &s.ok
            : id == kFailImage                             ? &s.fail
                                                           : nullptr;
        if (bytes)
            return Resource { "GIF", id, "image/gif", *bytes };
    }
    if (kind == "ICON" && (id == kHotIcon || id == kIcon))
        return Resource { "ICON", id, "image/x-icon", id == kHotIcon ? Images().hotIcon : Images().icon };
    return std::nullopt;
}

} // namespace resources
