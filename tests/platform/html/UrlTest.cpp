// Reference resolution (RFC 3986 with the browser's habits) and origins
// (RFC 6454).
#include "platform/html/Url.h"

#include <gtest/gtest.h>

using namespace html;

namespace {

constexpr const char* kBase = "http://h.test:8080/dir/page.html?q=1#frag";

TEST(ResolveUrl, Rfc3986FormsBrowserHabitsOpaqueSchemesAndMalformedInput)
{
    const std::pair<const char*, const char*> cases[] = {
        { "img/a.gif", "http://h.test:8080/dir/img/a.gif" },
        { "../x/./y.gif", "http://h.test:8080/x/y.gif" },
        { "/abs.gif", "http://h.test:8080/abs.gif" },
        { "//cdn.test/c.gif", "http://cdn.test/c.gif" },
        { "?other", "http://h.test:8080/dir/page.html?other" },
        { "https://s.test/z", "https://s.test/z" },
        // Same-document references keep the path.
        { "", "http://h.test:8080/dir/page.html?q=1" },
        { "#part", "http://h.test:8080/dir/page.html?q=1#part" },
        // What browsers do with spaces, backslashes and non-ASCII.
        { "  \n img/a b.gif\t ", "http://h.test:8080/dir/img/a%20b.gif" },
        { "img\\back.gif", "http://h.test:8080/dir/img/back.gif" },
        { "gr\xC3\xB6\xC3\x9F" "e.gif", "http://h.test:8080/dir/gr%C3%B6%C3%9Fe.gif" },
        { "gr%C3%B6%C3%9Fe.gif", "http://h.test:8080/dir/gr%C3%B6%C3%9Fe.gif" },
        { "data:image/gif;base64,R0lG", "data:image/gif;base64,R0lG" },
        { "javascript:void(0)", "javascript:void(0)" },
        { "about:blank", "about:blank" },
        { "http://h.test:99999/x", "<failed>" },
    };
    for (const auto& [ref, expected] : cases)
        EXPECT_EQ(ResolveUrl(kBase, ref).value_or("<failed>"), expected) << ref;
    EXPECT_FALSE(ResolveUrl("not a url", "a.gif"));
}

TEST(Origin, SchemeHostAndPortDecide)
{
    EXPECT_TRUE(SameOrigin("http://H.test/a", "http://h.test:80/b"));
    EXPECT_TRUE(SameOrigin("https://h.test/a", "https://h.test:443/b?x"));
    EXPECT_FALSE(SameOrigin("http://h.test/a", "https://h.test/a"));
    EXPECT_FALSE(SameOrigin("http://h.test:8080/a", "http://h.test:8081/a"));
    EXPECT_FALSE(SameOrigin("http://a.h.test/", "http://h.test/"));
    EXPECT_TRUE(SameOrigin("file:///a/b.html", "file:///c/d.html"));
    EXPECT_FALSE(SameOrigin("data:text/html,x", "data:text/html,x"));
    EXPECT_FALSE(SameOrigin("about:blank", "http://h.test/"));
}

TEST(FileUrl, LocalPathsRoundTripThroughFileAddresses)
{
    std::filesystem::path p = "/tmp/M\xC3\xA4rz Bilder/#1 100%.html";
    std::string url = FileUrlFromPath(p);
    EXPECT_EQ(url, "file:///tmp/M%C3%A4rz%20Bilder/%231%20100%25.html");
    EXPECT_EQ(PathFromFileUrl(url), p);
    EXPECT_FALSE(PathFromFileUrl("http://h.test/x"));
}

TEST(SchemeOf, OnlyAWellFormedSchemeCounts)
{
    EXPECT_EQ(SchemeOf("HTTP://x"), "http");
    EXPECT_EQ(SchemeOf("c:/dir"), "c");
    EXPECT_EQ(SchemeOf("/abs/path"), "");
    EXPECT_EQ(SchemeOf("a b:c"), "");
    EXPECT_EQ(SchemeOf("1http://x"), "");
}

} // namespace
