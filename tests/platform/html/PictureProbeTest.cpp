// Picture recognition: the six types from real files, and the ways a
// fetched body fails to be a whole picture.
#include "platform/html/PictureProbe.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
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

void PutLe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutBe32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
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

TEST(PictureProbe, TextAndUnknownSignaturesAreNotPictures)
{
    EXPECT_FALSE(Probe(SiteFile("images/not-a-picture.gif")));
    std::string html = "<html><body>GIF89a</body></html>";
    EXPECT_FALSE(Probe(Bytes(html.begin(), html.end())));
    EXPECT_FALSE(Probe(Bytes {}));
}

TEST(PictureProbe, AbsurdDimensionsAreRefusedWithoutDecoding)
{
    Bytes png = SiteFile("images/icon.png");
    ASSERT_GT(png.size(), 24u);
    PutBe32(png, 16, 100000); // IHDR width
    PutBe32(png, 20, 100000); // IHDR height; the chunk CRC is not what the probe trusts
    EXPECT_FALSE(Probe(png));

    Bytes gif = SiteFile("images/logo.gif");
    gif[6] = 0;
    gif[7] = 0; // logical screen width 0
    EXPECT_FALSE(Probe(gif));
}

TEST(PictureProbe, ContainerOffsetsMustStayInsideTheBody)
{
    Bytes ico = SiteFile("favicon.ico");
    PutLe32(ico, 6 + 12, static_cast<std::uint32_t>(ico.size())); // image data starts past the end
    EXPECT_FALSE(Probe(ico));

    Bytes many = SiteFile("favicon.ico");
    many[4] = 0xFF; // 255 directory entries in a body that holds one
    EXPECT_FALSE(Probe(many));

    Bytes bmp = SiteFile("images/button.bmp");
    PutLe32(bmp, 10, 1u << 30); // pixel data offset
    EXPECT_FALSE(Probe(bmp));

    Bytes webp = SiteFile("images/banner.webp");
    PutLe32(webp, 4, static_cast<std::uint32_t>(webp.size())); // RIFF claims 8 more bytes than sent
    EXPECT_FALSE(Probe(webp));
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
        PutLe32(e, 8, static_cast<std::uint32_t>(png.size()));
        PutLe32(e, 12, 6 + 32);
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
