// Finding a page's encoding as a browser does, and never handing on
// invalid UTF-8.
#include "platform/html/TextDecoder.h"

#include <gtest/gtest.h>

using namespace html;

namespace {

TEST(TextDecoder, EncodingComesFromMarkHeaderMetaOrValidityAndTheResultIsAlwaysUtf8)
{
    const std::string meta = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-15\">"
                             "</head><body>\xA4</body></html>";
    struct Case {
        const char* what;
        std::string bytes;
        const char* contentType;
        SniffMeta sniff;
        std::string expected;
    };
    const std::vector<Case> cases = {
        { "header charset wins over the bytes", "gr\xF6\xDF" "e", "text/html; charset=ISO-8859-1", SniffMeta::Yes,
            "gr\xC3\xB6\xC3\x9F" "e" },
        { "quoted header charset", "\x80", "text/html; charset=\"windows-1252\"", SniffMeta::Yes, "\xE2\x82\xAC" },
        { "meta declaration near the start", meta, "text/html", SniffMeta::Yes,
            "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-15\">"
            "</head><body>\xE2\x82\xAC</body></html>" },
        { "meta charset", "<meta charset='latin1'>\xE9", "", SniffMeta::Yes, "<meta charset='latin1'>\xC3\xA9" },
        // Stylesheets are not searched for <meta>: invalid UTF-8, so windows-1252.
        { "no meta sniffing", "<meta charset='latin1'>\xE9", "", SniffMeta::No, "<meta charset='latin1'>\xC3\xA9" },
        { "valid UTF-8 undeclared", "\xC3\xBC" "ber", "", SniffMeta::Yes, "\xC3\xBC" "ber" },
        { "invalid UTF-8 undeclared is windows-1252", "\xFC" "ber", "", SniffMeta::Yes, "\xC3\xBC" "ber" },
        { "UTF-8 mark wins over the header", "\xEF\xBB\xBF" "a", "text/html; charset=latin1", SniffMeta::Yes, "a" },
        { "UTF-16 mark", std::string("\xFF\xFE" "a\0\xFC\0", 6), "", SniffMeta::Yes, "a\xC3\xBC" },
        { "declared UTF-8 with bad bytes", "a\xFF" "b\xC3", "text/html; charset=utf-8", SniffMeta::Yes,
            "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" },
        { "unknown charset", "abc\xFF", "text/html; charset=x-no-such-charset", SniffMeta::Yes, "abc\xEF\xBF\xBD" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeToUtf8(c.bytes, c.contentType, c.sniff), c.expected) << c.what;
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // a UTF-16 surrogate is not UTF-8
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                 // an overlong "/"
}

TEST(TextDecoder, ContentTypeParts)
{
    EXPECT_EQ(MediaTypeOf(" Text/HTML ; charset=UTF-8"), "text/html");
    EXPECT_EQ(CharsetOf("text/html; Charset=\"UTF-8\""), "utf-8");
    EXPECT_EQ(CharsetOf("text/html"), "");
}

} // namespace
