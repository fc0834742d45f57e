#include "platform/html/PictureProbe.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <webp/decode.h>

// Only the header readers of the formats we report; nothing else of the
// library is compiled in.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_MAX_DIMENSIONS (1 << 16)
// GCC's flow analysis reports stb's decoder state as maybe-uninitialized
// once inlined; that code is the library's, and the pragma must stay in
// force for the whole file because the warning is raised after inlining.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace html {

namespace {

// Pictures wider or taller than this are refused as hostile, as browsers
// refuse to decode them.
constexpr std::int32_t kMaxSide = 1 << 16;

using Bytes = std::span<const std::uint8_t>;

bool StartsWith(Bytes b, std::string_view sig)
{
    return b.size() >= sig.size() && std::memcmp(b.data(), sig.data(), sig.size()) == 0;
}

std::uint32_t Le16(Bytes b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t Le32(Bytes b, std::size_t at) { return Le16(b, at) | (Le16(b, at + 2) << 16); }
std::uint32_t Be32(Bytes b, std::size_t at)
{
    return (std::uint32_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

std::optional<PictureType> Sniff(Bytes b)
{
    if (StartsWith(b, "GIF87a") || StartsWith(b, "GIF89a"))
        return PictureType::Gif;
    if (StartsWith(b, "\x89PNG\r\n\x1a\n"))
        return PictureType::Png;
    if (StartsWith(b, "\xFF\xD8\xFF"))
        return PictureType::Jpeg;
    if (StartsWith(b, "BM"))
        return PictureType::Bmp;
    if (b.size() >= 12 && StartsWith(b, "RIFF") && std::memcmp(b.data() + 8, "WEBP", 4) == 0)
        return PictureType::WebP;
    if (b.size() >= 6 && Le16(b, 0) == 0 && (Le16(b, 2) == 1 || Le16(b, 2) == 2) && Le16(b, 4) > 0)
        return PictureType::Icon;
    return std::nullopt;
}

// The end marker of each stream format says the transfer was not cut short.
bool PngIsWhole(Bytes b)
{
    // Walk the chunks (RFC 2083 section 3.2) to IEND.
    std::size_t at = 8;
    while (at + 12 <= b.size()) {
        std::uint32_t length = Be32(b, at);
        if (length > b.size() - at - 12)
            return false;
        if (std::memcmp(b.data() + at + 4, "IEND", 4) == 0)
            return true;
        at += 12 + length;
    }
    return false;
}

bool GifIsWhole(Bytes b)
{
    // The trailer 0x3B closes the data stream; encoders may pad after it.
    std::size_t from = b.size() > 16 ? b.size() - 16 : 0;
    return std::find(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(), 0x3B) != b.end();
}

bool JpegIsWhole(Bytes b)
{
    // EOI (FF D9) within the last bytes; cameras append a little after it.
    std::size_t from = b.size() > 4096 ? b.size() - 4096 : 0;
    for (std::size_t i = b.size(); i-- > from + 1;) {
        if (b[i - 1] == 0xFF && b[i] == 0xD9)
            return true;
    }
    return false;
}

bool BmpIsWhole(Bytes b)
{
    return b.size() >= 14 && Le32(b, 10) < b.size();
}

std::optional<PictureInfo> ProbeWithStb(Bytes b, PictureType type)
{
    if (b.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    int w = 0;
    int h = 0;
    int comp = 0;
    if (!stbi_info_from_memory(b.data(), static_cast<int>(b.size()), &w, &h, &comp))
        return std::nullopt;
    return PictureInfo { type, w, h };
}

std::optional<PictureInfo> ProbeWebP(Bytes b)
{
    // The RIFF length (RIFF container, little-endian) covers the rest of the file.
    if (b.size() < 12 || static_cast<std::uint64_t>(Le32(b, 4)) + 8 > b.size())
        return std::nullopt;
    int w = 0;
    int h = 0;
    if (!WebPGetInfo(b.data(), b.size(), &w, &h))
        return std::nullopt;
    return PictureInfo { PictureType::WebP, w, h };
}

std::optional<PictureInfo> ProbeIcon(Bytes b)
{
    // ICONDIR, then 16-byte ICONDIRENTRY records; 0 in a size byte means 256.
    std::uint32_t count = Le16(b, 4);
    if (6 + std::size_t(count) * 16 > b.size())
        return std::nullopt;
    std::int32_t bestW = 0;
    std::int32_t bestH = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t e = 6 + std::size_t(i) * 16;
        std::int32_t w = b[e] ? b[e] : 256;
        std::int32_t h = b[e + 1] ? b[e + 1] : 256;
        std::uint64_t size = Le32(b, e + 8);
        std::uint64_t offset = Le32(b, e + 12);
        if (size == 0 || offset + size > b.size())
            return std::nullopt;
        if (std::int64_t(w) * h > std::int64_t(bestW) * bestH) {
            bestW = w;
            bestH = h;
        }
    }
    return PictureInfo { PictureType::Icon, bestW, bestH };
}

} // namespace

std::optional<PictureInfo> ProbePicture(Bytes bytes)
{
    std::optional<PictureType> type = Sniff(bytes);
    if (!type)
        return std::nullopt;
    std::optional<PictureInfo> info;
    switch (*type) {
    case PictureType::Gif:
        if (GifIsWhole(bytes))
            info = ProbeWithStb(bytes, *type);
        break;
    case PictureType::Png:
        if (PngIsWhole(bytes))
            info = ProbeWithStb(bytes, *type);
        break;
    case PictureType::Jpeg:
        if (JpegIsWhole(bytes))
            info = ProbeWithStb(bytes, *type);
        break;
    case PictureType::Bmp:
        if (BmpIsWhole(bytes))
            info = ProbeWithStb(bytes, *type);
        break;
    case PictureType::WebP:
        info = ProbeWebP(bytes);
        break;
    case PictureType::Icon:
        info = ProbeIcon(bytes);
        break;
    }
    if (!info || info->width <= 0 || info->height <= 0 || info->width > kMaxSide || info->height > kMaxSide)
        return std::nullopt;
    return info;
}

std::string_view DescribePictureType(PictureType type)
{
    switch (type) {
    case PictureType::Gif:
        return "GIF Image";
    case PictureType::Png:
        return "PNG Image";
    case PictureType::Jpeg:
        return "JPEG Image";
    case PictureType::Bmp:
        return "Bitmap Image";
    case PictureType::Icon:
        return "Icon";
    case PictureType::WebP:
        return "WebP Image";
    }
    return {};
}

} // namespace html
