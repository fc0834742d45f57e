#pragma once
// Recognises a fetched picture and reads its own size from its header,
// without decoding the pixels: the loader needs to know whether the bytes
// are a picture at all (the browser's "complete"), how large it is and what
// type to report. Pure: bytes in, facts out; it never allocates in
// proportion to the picture's claimed size.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace html {

enum class PictureType { Gif, Png, Jpeg, Bmp, Icon, WebP };

struct PictureInfo {
    PictureType type;
    std::int32_t width;  // > 0
    std::int32_t height; // > 0
};

// The picture's type and size, or nullopt when the bytes are not a whole
// picture of a known type: unknown signature, unreadable header, zero or
// absurd dimensions, or a stream cut short before its end marker (PNG
// IEND, GIF trailer, JPEG EOI, RIFF length, ICO/BMP data offsets).
std::optional<PictureInfo> ProbePicture(std::span<const std::uint8_t> bytes);

// The type description a browser reports as the picture's mimeType:
// "GIF Image", "PNG Image", "JPEG Image", "Bitmap Image", "Icon", "WebP Image".
std::string_view DescribePictureType(PictureType type);

} // namespace html
