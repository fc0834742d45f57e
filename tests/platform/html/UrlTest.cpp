// Reference resolution (RFC 3986 with the browser's habits) and origins
// (RFC 6454).
#include "platform/html/Url.h"

#include <gtest/gtest.h>

using namespace html;

namespace {

constexpr const char* kBase = "http://h.test:8080/dir/page.html?q=1#frag";

std::string Resolve(std::string_view ref)
{
    return ResolveUrl(kBase, ref).value_or("<failed>");
}

TEST(ResolveUrl, RelativeFormsOfRfc3986)
{
    EXPECT_EQ(Resolve("img/a.gif"), "http://h.test:8080/dir/img/a.gif");
    EXPECT_EQ(Resolve("../x/./y.gif"), "http://h.test:8080/x/y.gif");
    EXPECT_EQ(Resolve("/abs.gif"), "http://h.test:8080/abs.gif");
    EXPECT_EQ(Resolve("//cdn.test/c.gif"), "http://cdn.test/c.gif");
    EXPECT_EQ(Resolve("?other"), "http://h.test:8080/dir/page.html?other");
    EXPECT_EQ(Resolve("https://s.test/z"), "https://s.test/z");
}

TEST(ResolveUrl, SameDocumentReferencesKeepThePath)
{
    EXPECT_EQ(Resolve(""), "http://h.test:8080/dir/page.html?q=1");
    EXPECT_EQ(Resolve("#part"), "http://h.test:8080/dir/page.html?q=1#part");
}

TEST(ResolveUrl, BrowserHabitsSpacesBackslashesAndNonAscii)
{
    EXPECT_EQ(Resolve("  \n img/a b.gif\t "), "http://h.test:8080/dir/img/a%20b.gif");
    EXPECT_EQ(Resolve("img\\back.gif"), "http://h.test:8080/dir/img/back.gif");
    EXPECT_EQ(Resolve("gr\xC3\xB6\xC3\x9F" "e.gif"), "http://h.test:8080/dir/gr%C3%B6%C3%9Fe.gif");
    EXPECT_EQ(Resolve("gr%C3%B6%C3%9Fe.gif"), "http://h.test:8080/dir/gr%C3%B6%C3%9Fe.gif");
}

TEST(ResolveUrl, OpaqueSchemesComeBackAsWritten)
{
    EXPECT_EQ(Resolve("data:image/gif;base64,R0lG"), "data:image/gif;base64,R0lG");
    EXPECT_EQ(Resolve("javascript:void(0)"), "javascript:void(0)");
    EXPECT_EQ(Resolve("about:blank"), "about:blank");
}

TEST(ResolveUrl, MalformedInputFails)
{
    EXPECT_FALSE(ResolveUrl("not a url", "a.gif"));
    EXPECT_FALSE(ResolveUrl(kBase, "http://h.test:99999/x"));
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
