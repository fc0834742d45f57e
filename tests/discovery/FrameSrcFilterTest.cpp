#include "discovery/FrameSrcResolver.h"
#include "discovery/SAXFrameSrcProcessor.h"
#include "platform/xml/Document.h"

#include <gtest/gtest.h>

using namespace QVXMLInfoExtractors;

namespace {

constexpr const char* kOut = "<?xml version=\"1.0\" standalone=\"no\"?>";
constexpr const char* kPage = "http://H/dir/index.html";

// Filters one element placed in the outermost frame of kPage and returns the
// element as written.
std::string FilterOne(const std::string& element)
{
    CSAXFrameSrcProcessor filter;
    EXPECT_TRUE(filter.Filter(std::string("<?xml version='1.0'?><frame src='") + kPage + "'>" + element + "</frame>"));
    const std::string out = filter.GetResult();
    const std::string head = std::string(kOut) + "<frame src=\"" + kPage + "\">";
    EXPECT_EQ(out.substr(0, head.size()), head);
    return out.substr(head.size(), out.size() - head.size() - std::string("</frame>").size());
}

} // namespace

TEST(FrameSrcFilter, EachSrcGetsTheRelativeFormsItsAddressAllows)
{
    const std::string longName(250, 'a');
    const std::string absolute = "http://other.example/" + std::string(240, 'b');
    const std::string fits = std::string(259 - std::string("http://H/dir/").size(), 'c');
    struct Case {
        const char* what;
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        { "relative picture", "<item src='img/a.gif'/>", "<item relsrc=\"img/a.gif\" src=\"http://H/dir/img/a.gif\"/>" },
        { "same host: root and frame-relative forms", "<item src='http://H/dir/pics/b.gif?x=1'/>",
            "<item relrootsrc=\"dir/pics/b.gif?x=1\" relsrc=\"pics/b.gif?x=1\" src=\"http://H/dir/pics/b.gif?x=1\"/>" },
        { "outside the frame's folder never steps up", "<item src='http://H/other/c.gif'/>",
            "<item relrootsrc=\"other/c.gif\" relsrc=\"other/c.gif\" src=\"http://H/other/c.gif\"/>" },
        { "a folder sharing the prefix is outside too", "<item src='http://H/dirx/c.gif'/>",
            "<item relrootsrc=\"dirx/c.gif\" relsrc=\"dirx/c.gif\" src=\"http://H/dirx/c.gif\"/>" },
        { "other host", "<item src='http://other.example/dir/a.gif'/>", "<item src=\"http://other.example/dir/a.gif\"/>" },
        { "other scheme", "<item src='https://H/dir/a.gif'/>", "<item src=\"https://H/dir/a.gif\"/>" },
        { "network-path reference", "<item src='//cdn.example/x.js'/>",
            "<item relsrc=\"//cdn.example/x.js\" src=\"http://cdn.example/x.js\"/>" },
        { "host names compare case-sensitively", "<item src='http://h/dir/a.gif'/>", "<item src=\"http://h/dir/a.gif\"/>" },
        { "copied upper-case FRAME elements open no scope",
            "<HTMLDOM><HTML><FRAME src='f/x.html'><IMG src='i.gif'/></FRAME></HTML></HTMLDOM>",
            "<HTMLDOM><HTML><FRAME relsrc=\"f/x.html\" src=\"http://H/dir/f/x.html\">"
            "<IMG relsrc=\"i.gif\" src=\"http://H/dir/i.gif\"/></FRAME></HTML></HTMLDOM>" },
        { "added attributes stand before src, others keep their order", "<item a='1' src='http://H/dir/p.gif' b='2'/>",
            "<item a=\"1\" relrootsrc=\"dir/p.gif\" relsrc=\"p.gif\" src=\"http://H/dir/p.gif\" b=\"2\"/>" },
        { "the page's own relsrc after src cannot duplicate ours either", "<EMBED src='a.mov' width='160' relsrc='136'/>",
            "<EMBED relsrc=\"a.mov\" src=\"http://H/dir/a.mov\" width=\"160\"/>" },
        { "empty src stays empty", "<item src=''>inline()</item>", "<item src=\"\">inline()</item>" },
        { "the page's own relsrc cannot duplicate ours", "<IMG relsrc='evil' relrootsrc='x' src='a.gif' alt='k'/>",
            "<IMG relrootsrc=\"x\" relsrc=\"a.gif\" src=\"http://H/dir/a.gif\" alt=\"k\"/>" },
        { "canonical form decodes escapes and dot segments", "<i src='a%20b/./c/../%C3%A9.gif?q=%41'/>",
            "<i relsrc=\"a%20b/./c/../%C3%A9.gif?q=%41\" src=\"http://H/dir/a b/\xC3\xA9.gif?q=A\"/>" },
        { "fragment", "<i src='#top'/>", "<i relsrc=\"#top\" src=\"http://H/dir/index.html#top\"/>" },
        { "query", "<i src='?page=2'/>", "<i relsrc=\"?page=2\" src=\"http://H/dir/index.html?page=2\"/>" },
        { "escapes XML cannot carry stay escaped", "<i src='x%00y%0A%E9%FF%C3%A9.gif'/>",
            "<i relsrc=\"x%00y%0A%E9%FF%C3%A9.gif\" src=\"http://H/dir/x%00y%0A%E9%FF\xC3\xA9.gif\"/>" },
        { "resolution over 259 bytes stays relative", "<i src='" + longName + "'/>", "<i src=\"" + longName + "\"/>" },
        { "canonical form over 259 bytes stays as written", "<i src='" + absolute + "'/>", "<i src=\"" + absolute + "\"/>" },
        { "259 bytes fit", "<i src='" + fits + "'/>", "<i relsrc=\"" + fits + "\" src=\"http://H/dir/" + fits + "\"/>" },
        { "javascript: passes without relative forms", "<i src='javascript:void(0)'/>", "<i src=\"javascript:void(0)\"/>" },
        { "data: passes without relative forms", "<i src='data:image/gif;base64,R0lG'/>",
            "<i src=\"data:image/gif;base64,R0lG\"/>" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = FilterOne(c.in);
        EXPECT_EQ(out, c.out);
        xml::Document doc;
        EXPECT_TRUE(doc.LoadXml("<r>" + out + "</r>")) << "the result stays one readable document";
    }
}

TEST(FrameSrcFilter, FramesSetTheBaseOfTheirContentAndEverythingElsePassesThrough)
{
    struct Case {
        const char* what;
        const char* in;
        const char* out; // after the declaration
    };
    const Case cases[] = {
        { "a nested frame resolves and becomes the base of its content",
            "<frame src='http://H/dir/index.html'><images/><frame src='left.html'><images><item src='l.gif'/></images>"
            "<frame src='sub/in.html' iframe=''><item src='../up.gif'/></frame><item src='after.gif'/></frame>"
            "<item src='top.gif'/></frame>",
            "<frame src=\"http://H/dir/index.html\"><images/>"
            "<frame relsrc=\"left.html\" src=\"http://H/dir/left.html\"><images>"
            "<item relsrc=\"l.gif\" src=\"http://H/dir/l.gif\"/></images>"
            "<frame relsrc=\"sub/in.html\" src=\"http://H/dir/sub/in.html\" iframe=\"\">"
            "<item relsrc=\"../up.gif\" src=\"http://H/dir/up.gif\"/></frame>"
            "<item relsrc=\"after.gif\" src=\"http://H/dir/after.gif\"/></frame>"
            "<item relsrc=\"top.gif\" src=\"http://H/dir/top.gif\"/></frame>" },
        { "a frame without src inherits the enclosing base",
            "<frame src='http://H/a/'><frame><item src='x.gif'/></frame><frame src=''><item src='y.gif'/></frame></frame>",
            "<frame src=\"http://H/a/\"><frame><item relsrc=\"x.gif\" src=\"http://H/a/x.gif\"/></frame>"
            "<frame src=\"\"><item relsrc=\"y.gif\" src=\"http://H/a/y.gif\"/></frame></frame>" },
        { "outermost frames and elements outside frames pass unchanged",
            "<list><item src='a.gif'/><frame src='http://H/d/x.html' z='1'><i src='b.gif'/></frame>"
            "<frame src='http://H/e/'><i src='c.gif'/></frame></list>",
            "<list><item src=\"a.gif\"/><frame src=\"http://H/d/x.html\" z=\"1\">"
            "<i relsrc=\"b.gif\" src=\"http://H/d/b.gif\"/></frame>"
            "<frame src=\"http://H/e/\"><i relsrc=\"c.gif\" src=\"http://H/e/c.gif\"/></frame></list>" },
        { "an outer frame without address leaves relative values",
            "<frame src=''><item src='a/./b/../c.gif'/><item src='http://H/x/../y.gif'/></frame>",
            "<frame src=\"\"><item src=\"a/./b/../c.gif\"/><item src=\"http://H/y.gif\"/></frame>" },
        // Page at the root and target "/" itself: outcome "" (kept); a
        // target whose remaining path is exactly "/" is left out.
        { "relsrc left out when the outcome is the root",
            "<frame src='http://H/a//'><i src='http://H/a//'/><i src='http://H/'/></frame>",
            "<frame src=\"http://H/a//\"><i relrootsrc=\"a//\" src=\"http://H/a//\"/>"
            "<i relrootsrc=\"\" relsrc=\"\" src=\"http://H/\"/></frame>" },
        { "a local file page gets folder-relative forms but no root form",
            "<frame src='file:///home/u/site/index.html'><i src='img/a.gif'/>"
            "<i src='file:///home/u/site/pics/x%20y.gif'/><i src='file:///etc/z.gif'/></frame>",
            "<frame src=\"file:///home/u/site/index.html\"><i relsrc=\"img/a.gif\" src=\"file:///home/u/site/img/a.gif\"/>"
            "<i relsrc=\"pics/x y.gif\" src=\"file:///home/u/site/pics/x y.gif\"/>"
            "<i relsrc=\"etc/z.gif\" src=\"file:///etc/z.gif\"/></frame>" },
        { "comments, instructions, escaped text and CDATA pass through",
            "<?xml version='1.0'?><!--c--><frame src='http://H/'><?pi d?>"
            "<css>a &lt; b &amp;&amp; c &gt; d<![CDATA[<x>]]></css>\n<e/></frame>",
            "<!--c--><frame src=\"http://H/\"><?pi d?><css>a &lt; b &amp;&amp; c &gt; d&lt;x&gt;</css>\n<e/></frame>" },
    };
    CSAXFrameSrcProcessor filter;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(filter.Filter(c.in));
        EXPECT_EQ(filter.GetResult(), std::string(kOut) + c.out);
    }
}

TEST(FrameSrcFilter, ParseErrorKeepsWhatWasWrittenAndTheNextRunStartsAfresh)
{
    CSAXFrameSrcProcessor filter;
    EXPECT_FALSE(filter.Filter("<frame src='http://H/'><i src='a.gif'/><b></c></frame>"));
    EXPECT_EQ(filter.GetResult(), std::string(kOut) + "<frame src=\"http://H/\"><i relsrc=\"a.gif\" src=\"http://H/a.gif\"/><b>");
    EXPECT_TRUE(filter.Filter("<frame/>"));
    EXPECT_EQ(filter.GetResult(), std::string(kOut) + "<frame/>");
    EXPECT_FALSE(filter.Filter(""));
    EXPECT_EQ(filter.GetResult(), "");
}

TEST(FrameSrcResolver, FilePathTestAndRfc3986Combination)
{
    for (const char* absolute : { "/home/u/a.gif", "\\share\\a.gif", "C:/dir/a.gif", "c:\\dir" })
        EXPECT_FALSE(IsRelativeFilePath(absolute)) << absolute;
    for (const char* relative : { "a.gif", "dir/a.gif", "" })
        EXPECT_TRUE(IsRelativeFilePath(relative)) << relative;
    EXPECT_EQ(CombineUrl("http://H/a/b/c", "../../x/./y/../z?q#f"), "http://H/x/z?q#f");
    EXPECT_EQ(CombineUrl("http://H/a/b", "/root.gif"), "http://H/root.gif");
    EXPECT_EQ(CombineUrl("http://H/a/b?old#frag", "#new"), "http://H/a/b?old#new");
    EXPECT_EQ(CombineUrl("https://H:8443/a/", "//other/x"), "https://other/x");
    EXPECT_FALSE(CombineUrl("not a url", "x"));
    EXPECT_FALSE(CombineUrl("about:blank", "x"));
}
