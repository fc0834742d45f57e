// Finding a page's encoding as a browser does, and never handing on
// invalid UTF-8.
#include "platform/html/TextDecoder.h"

#include <gtest/gtest.h>

using namespace html;

namespace {

TEST(TextDecoder, HeaderCharsetWinsOverTheBytes)
{
    EXPECT_EQ(DecodeToUtf8("gr\xF6\xDF" "e", "text/html; charset=ISO-8859-1", SniffMeta::Yes), "gr\xC3\xB6\xC3\x9F" "e");
    EXPECT_EQ(DecodeToUtf8("\x80", "text/html; charset=\"windows-1252\"", SniffMeta::Yes), "\xE2\x82\xAC"); // the euro sign
}

TEST(TextDecoder, MetaDeclarationNearTheStartCounts)
{
    std::string page = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-15\">"
                       "</head><body>\xA4</body></html>";
    EXPECT_NE(DecodeToUtf8(page, "text/html", SniffMeta::Yes).find("\xE2\x82\xAC"), std::string::npos);
    std::string page2 = "<meta charset='latin1'>\xE9";
    EXPECT_EQ(DecodeToUtf8(page2, "", SniffMeta::Yes), "<meta charset='latin1'>\xC3\xA9");
    // Stylesheets are not searched for <meta>.
    EXPECT_EQ(DecodeToUtf8(page2, "", SniffMeta::No), "<meta charset='latin1'>\xC3\xA9"); // invalid UTF-8: windows-1252
}

TEST(TextDecoder, UndeclaredBytesAreUtf8WhenValidElseWindows1252)
{
    EXPECT_EQ(DecodeToUtf8("\xC3\xBC" "ber", "", SniffMeta::Yes), "\xC3\xBC" "ber");
    EXPECT_EQ(DecodeToUtf8("\xFC" "ber", "", SniffMeta::Yes), "\xC3\xBC" "ber");
}

TEST(TextDecoder, ByteOrderMarksDecide)
{
    EXPECT_EQ(DecodeToUtf8("\xEF\xBB\xBF" "a", "text/html; charset=latin1", SniffMeta::Yes), "a");
    EXPECT_EQ(DecodeToUtf8(std::string("\xFF\xFE" "a\0\xFC\0", 6), "", SniffMeta::Yes), "a\xC3\xBC");
}

TEST(TextDecoder, DeclaredUtf8WithBadBytesGetsReplacementCharacters)
{
    EXPECT_EQ(DecodeToUtf8("a\xFF" "b\xC3", "text/html; charset=utf-8", SniffMeta::Yes), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a UTF-16 surrogate is not UTF-8
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                 // an overlong "/"
}

TEST(TextDecoder, UnknownCharsetStillYieldsUtf8)
{
    std::string out = DecodeToUtf8("abc\xFF", "text/html; charset=x-no-such-charset", SniffMeta::Yes);
    EXPECT_EQ(out, "abc\xEF\xBF\xBD");
}

TEST(TextDecoder, ContentTypeParts)
{
    EXPECT_EQ(MediaTypeOf(" Text/HTML ; charset=UTF-8"), "text/html");
    EXPECT_EQ(CharsetOf("text/html; Charset=\"UTF-8\""), "utf-8");
    EXPECT_EQ(CharsetOf("text/html"), "");
}

} // namespace
