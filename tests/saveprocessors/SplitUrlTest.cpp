#include <gtest/gtest.h>

#include <string>

#include "saveprocessors/UrlParts.h"

using namespace QVSaveProcessors;

namespace {

UrlParts MustSplit(std::string_view url, bool decode = true)
{
    auto parts = SplitUrl(url, decode);
    EXPECT_TRUE(parts.has_value()) << url;
    return parts.value_or(UrlParts{});
}

} // namespace

TEST(SplitUrl, SeparatesHostPortPathAndTail)
{
    const UrlParts parts = MustSplit("http://Host:8080/a/b.gif?x=1#y");
    EXPECT_EQ(parts.schemeNumber, 2);
    EXPECT_EQ(parts.schemeName, "http");
    EXPECT_EQ(parts.hostName, "Host");
    EXPECT_EQ(parts.port, 8080);
    EXPECT_EQ(parts.urlPath, "/a/b.gif");
    EXPECT_EQ(parts.extraInfo, "?x=1#y");
}

TEST(SplitUrl, SchemeMatchedInAnyCaseButKeptAsWritten)
{
    const UrlParts parts = MustSplit("HtTpS://h/");
    EXPECT_EQ(parts.scheme(), Scheme::Https);
    EXPECT_EQ(parts.schemeName, "HtTpS");
    EXPECT_EQ(parts.port, 443);
}

TEST(SplitUrl, EveryKnownSchemeHasItsNumberAndDefaultPort)
{
    struct Case {
        const char* url;
        int number;
        int port;
    };
    for (const Case& c : {Case{"ftp://h/x", 0, 21}, Case{"gopher://h/x", 1, 70},
                          Case{"http://h/x", 2, 80}, Case{"https://h/x", 3, 443},
                          Case{"file:///x", 4, 0}, Case{"news:h", 5, 0},
                          Case{"mailto:a@h", 6, 0}, Case{"socks://h", 7, 1080}}) {
        const UrlParts parts = MustSplit(c.url);
        EXPECT_EQ(parts.schemeNumber, c.number) << c.url;
        EXPECT_EQ(parts.port, c.port) << c.url;
    }
}

TEST(SplitUrl, QueryRightAfterHostLeavesPathEmpty)
{
    const UrlParts parts = MustSplit("http://h?q=/a/b");
    EXPECT_EQ(parts.hostName, "h");
    EXPECT_EQ(parts.urlPath, "");
    EXPECT_EQ(parts.extraInfo, "?q=/a/b");
}

TEST(SplitUrl, FragmentEndsHostAndPath)
{
    const UrlParts noPath = MustSplit("http://h#/frag");
    EXPECT_EQ(noPath.hostName, "h");
    EXPECT_EQ(noPath.urlPath, "");
    EXPECT_EQ(noPath.extraInfo, "#/frag");

    const UrlParts withPath = MustSplit("http://h/p#a?b");
    EXPECT_EQ(withPath.urlPath, "/p");
    EXPECT_EQ(withPath.extraInfo, "#a?b");
}

TEST(SplitUrl, FileUrlKeepsQueryAndFragmentInPath)
{
    const UrlParts parts = MustSplit("file:///C:/dir/a.txt?x#y");
    EXPECT_EQ(parts.scheme(), Scheme::File);
    EXPECT_EQ(parts.hostName, "");
    EXPECT_EQ(parts.urlPath, "/C:/dir/a.txt?x#y");
    EXPECT_EQ(parts.extraInfo, "");
    EXPECT_EQ(parts.port, 0);
}

TEST(SplitUrl, UnknownSchemeStillFindsHostAndPath)
{
    const UrlParts parts = MustSplit("abc://server:99/p/q.asf");
    EXPECT_EQ(parts.schemeNumber, -1);
    EXPECT_EQ(parts.schemeName, "abc");
    EXPECT_EQ(parts.hostName, "server");
    EXPECT_EQ(parts.port, 99);
    EXPECT_EQ(parts.urlPath, "/p/q.asf");

    const UrlParts mms = MustSplit("mms://media.example/live");
    EXPECT_EQ(mms.schemeNumber, -1);
    EXPECT_EQ(mms.schemeName, "mms");
    EXPECT_EQ(mms.port, 0);
    EXPECT_EQ(mms.hostName, "media.example");
}

TEST(SplitUrl, CredentialsAreNotTakenForTheHost)
{
    const UrlParts parts = MustSplit("ftp://user:pw@h:2121/f");
    EXPECT_EQ(parts.userName, "user");
    EXPECT_EQ(parts.password, "pw");
    EXPECT_EQ(parts.hostName, "h");
    EXPECT_EQ(parts.port, 2121);

    // A decoded %40 inside the credentials must not move the host.
    const UrlParts decoded = MustSplit("http://a%40b@real.host/x");
    EXPECT_EQ(decoded.hostName, "real.host");
    EXPECT_EQ(decoded.userName, "a@b");

    // '@' in the path is not a credential separator.
    const UrlParts inPath = MustSplit("http://h/a@b");
    EXPECT_EQ(inPath.hostName, "h");
    EXPECT_EQ(inPath.userName, "");
}

TEST(SplitUrl, PasswordWithoutUserFails)
{
    EXPECT_FALSE(SplitUrl("http://:pw@h/", true));
}

TEST(SplitUrl, Ipv6LiteralColonsAreNotAPort)
{
    const UrlParts parts = MustSplit("http://[::1]:8080/x");
    EXPECT_EQ(parts.hostName, "[::1]");
    EXPECT_EQ(parts.port, 8080);
    EXPECT_EQ(parts.urlPath, "/x");
    EXPECT_FALSE(SplitUrl("http://[::1/x", true));
}

TEST(SplitUrl, MalformedPortFails)
{
    EXPECT_FALSE(SplitUrl("http://h:80a/", true));
    EXPECT_FALSE(SplitUrl("http://h:65536/", true));
    EXPECT_FALSE(SplitUrl("http://h:0000080/", true));
    EXPECT_EQ(MustSplit("http://h:65535/").port, 65535);
    EXPECT_EQ(MustSplit("http://h:/").port, 80);
}

TEST(SplitUrl, MailtoWithSlashesOrNoColonFails)
{
    EXPECT_FALSE(SplitUrl("mailto://a@b", true));
    EXPECT_FALSE(SplitUrl("MAILTO://a@b", false));
    EXPECT_FALSE(SplitUrl("no colon at all", true));
    EXPECT_FALSE(SplitUrl(":nothing-before", true));
    EXPECT_TRUE(SplitUrl("mailto:a@b", true));
}

TEST(SplitUrl, FailureLeavesEveryPartEmpty)
{
    const UrlParts parts = SplitUrlOrEmpty("mailto://user:pw@host/x", true);
    EXPECT_EQ(parts.schemeNumber, -1);
    EXPECT_EQ(parts.schemeName, "");
    EXPECT_EQ(parts.userName, "");
    EXPECT_EQ(parts.password, "");
    EXPECT_EQ(parts.hostName, "");
    EXPECT_EQ(parts.port, 0);
    EXPECT_EQ(parts.urlPath, "");
    EXPECT_EQ(parts.extraInfo, "");
}

TEST(SplitUrl, SchemeNameOverLimitFails)
{
    EXPECT_TRUE(SplitUrl(std::string(32, 's') + "://h/", true));
    EXPECT_FALSE(SplitUrl(std::string(33, 's') + "://h/", true));
}

TEST(SplitUrl, PartOverItsLimitFails)
{
    EXPECT_TRUE(SplitUrl("http://" + std::string(256, 'h') + "/", true));
    EXPECT_FALSE(SplitUrl("http://" + std::string(257, 'h') + "/", true));
    EXPECT_TRUE(SplitUrl("http://h/" + std::string(2047, 'p'), true));
    EXPECT_FALSE(SplitUrl("http://h/" + std::string(2048, 'p'), true));
    EXPECT_FALSE(SplitUrl("http://h/?" + std::string(2048, 'q'), false));
    EXPECT_FALSE(SplitUrl("ftp://" + std::string(129, 'u') + "@h/", true));
    EXPECT_FALSE(SplitUrl("ftp://u:" + std::string(129, 'p') + "@h/", true));
    EXPECT_FALSE(SplitUrl("file://" + std::string(2049, 'f'), true));
}

TEST(SplitUrl, DecodedUrlOverLimitFails)
{
    // 2,083 bytes after decoding are accepted, one more is not; the escapes
    // count as the one byte they stand for.
    const std::string head = "http://h/";
    const std::string fits = head + std::string(1000, 'p') + "?" + std::string(1073, 'q');
    ASSERT_EQ(fits.size(), 2083u);
    EXPECT_TRUE(SplitUrl(fits, true));
    EXPECT_FALSE(SplitUrl(fits + "q", true));
    const std::string escaped = head + "%41" + std::string(1000, 'p') + "?" + std::string(1072, 'q');
    ASSERT_EQ(escaped.size(), 2085u);
    EXPECT_TRUE(SplitUrl(escaped, true));
    EXPECT_FALSE(SplitUrl(escaped + "q", true));
}

TEST(SplitUrl, DecodingReplacesEscapesBeforeSplitting)
{
    const UrlParts parts = MustSplit("http://h/a%20b.gif");
    EXPECT_EQ(parts.urlPath, "/a b.gif");
    // %3F decodes to '?', which then starts the extra information.
    EXPECT_EQ(MustSplit("http://h/a%3Fb").urlPath, "/a");
    EXPECT_EQ(MustSplit("http://h/a%3Fb", false).urlPath, "/a%3Fb");
    // Lower-case hex digits.
    EXPECT_EQ(MustSplit("http://h/%2f%5c").urlPath, "//\\");
    // Not an escape: kept as written.
    EXPECT_EQ(MustSplit("http://h/%zz1").urlPath, "/%zz1");
}

TEST(SplitUrl, EscapeCutOffAtEndFails)
{
    EXPECT_FALSE(SplitUrl("http://h/a%2", true));
    EXPECT_FALSE(SplitUrl("http://h/a%", true));
    EXPECT_FALSE(DecodeUrlEscapes("%4"));
    // Without decoding the same text is an ordinary path.
    EXPECT_EQ(MustSplit("http://h/a%2", false).urlPath, "/a%2");
}

TEST(SplitUrl, DecodedNulStaysInsideThePart)
{
    const UrlParts parts = MustSplit("http://h/a%00b.gif?x");
    EXPECT_EQ(parts.urlPath, std::string("/a\0b.gif", 8));
    EXPECT_EQ(parts.extraInfo, "?x");
}
