// Picture recognition: the six types from real files, and the ways a
// fetched body fails to be a whole picture.
#include "platform/html/PictureProbe.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

using namespace html;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SiteFile(const std::string& relative)
{
    std::ifstream in(testsupport::SourcePath("sample/site/" + relative), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::optional<PictureInfo> Probe(const Bytes& b)
{
    return ProbePicture(std::span(b.data(), b.size()));
}

// Writes `v` at `at`, little-endian (as RIFF, BMP and ICO do) or big-endian (PNG).
void Put32(Bytes& b, std::size_t at, std::uint32_t v, bool bigEndian = false)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
}

TEST(PictureProbe, EachTypeIsRecognisedWithItsOwnSize)
{
    struct Case {
        const char* file;
        PictureType type;
        std::int32_t w, h;
        const char* description;
    } cases[] = {
        { "images/logo.gif", PictureType::Gif, 88, 31, "GIF Image" },
        { "images/icon.png", PictureType::Png, 32, 32, "PNG Image" },
        { "images/photo.jpg", PictureType::Jpeg, 120, 80, "JPEG Image" },
        { "images/button.bmp", PictureType::Bmp, 24, 12, "Bitmap Image" },
        { "images/banner.webp", PictureType::WebP, 64, 16, "WebP Image" },
        { "favicon.ico", PictureType::Icon, 16, 16, "Icon" },
    };
    for (const Case& c : cases) {
        Bytes b = SiteFile(c.file);
        ASSERT_FALSE(b.empty()) << c.file;
        std::optional<PictureInfo> info = Probe(b);
        ASSERT_TRUE(info) << c.file;
        EXPECT_EQ(info->type, c.type) << c.file;
        EXPECT_EQ(info->width, c.w) << c.file;
        EXPECT_EQ(info->height, c.h) << c.file;
        EXPECT_EQ(DescribePictureType(info->type), c.description);
    }
}

TEST(PictureProbe, BodiesCutShortAreNotPictures)
{
    for (const char* file : { "images/logo.gif", "images/icon.png", "images/photo.jpg", "images/banner.webp", "favicon.ico" }) {
        Bytes b = SiteFile(file);
        for (std::size_t keep : { std::size_t(0), std::size_t(4), b.size() / 2, b.size() - 2 }) {
            Bytes cut(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(keep));
            EXPECT_FALSE(Probe(cut)) << file << " cut to " << keep << " bytes";
        }
    }
}

TEST(PictureProbe, TextAbsurdDimensionsAndOffsetsOutsideTheBodyAreNotPictures)
{
    struct Case {
        const char* what;
        std::string file;
        std::function<void(Bytes&)> spoil;
    };
    const std::vector<Case> cases = {
        { "text named like a picture", "images/not-a-picture.gif", [](Bytes&) { } },
        { "text starting like one", "", [](Bytes& b) { std::string t = "<html><body>GIF89a</body></html>"; b.assign(t.begin(), t.end()); } },
        { "nothing", "", [](Bytes& b) { b.clear(); } },
        // The PNG chunk CRC is not what the probe trusts.
        { "PNG of 100000 x 100000", "images/icon.png", [](Bytes& b) { Put32(b, 16, 100000, true); Put32(b, 20, 100000, true); } },
        { "GIF of width 0", "images/logo.gif", [](Bytes& b) { b[6] = 0; b[7] = 0; } },
        { "icon data past the end", "favicon.ico", [](Bytes& b) { Put32(b, 6 + 12, static_cast<std::uint32_t>(b.size())); } },
        { "255 icon entries in a body that holds one", "favicon.ico", [](Bytes& b) { b[4] = 0xFF; } },
        { "bitmap pixel offset", "images/button.bmp", [](Bytes& b) { Put32(b, 10, 1u << 30); } },
        { "RIFF claims 8 more bytes than sent", "images/banner.webp",
            [](Bytes& b) { Put32(b, 4, static_cast<std::uint32_t>(b.size())); } },
    };
    for (const auto& c : cases) {
        Bytes b = c.file.empty() ? Bytes {} : SiteFile(c.file);
        ASSERT_TRUE(c.file.empty() || b.size() > 24) << c.what;
        c.spoil(b);
        EXPECT_FALSE(Probe(b)) << c.what;
    }
}

TEST(PictureProbe, IconReportsItsLargestImageAnd256ForZero)
{
    Bytes png = SiteFile("images/icon.png");
    // Two entries: 16x16 and "0x0" (256x256), both pointing at the same PNG.
    Bytes ico { 0, 0, 1, 0, 2, 0 };
    auto entry = [&](std::uint8_t side) {
        Bytes e(16, 0);
        e[0] = side;
        e[1] = side;
        Put32(e, 8, static_cast<std::uint32_t>(png.size()));
        Put32(e, 12, 6 + 32);
        ico.insert(ico.end(), e.begin(), e.end());
    };
    entry(16);
    entry(0);
    ico.insert(ico.end(), png.begin(), png.end());
    std::optional<PictureInfo> info = Probe(ico);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->type, PictureType::Icon);
    EXPECT_EQ(info->width, 256);
    EXPECT_EQ(info->height, 256);
}

} // namespace
