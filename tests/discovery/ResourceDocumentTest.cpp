#include "discovery/ResourceDocument.h"
#include "platform/xml/Document.h"
#include "tests/discovery/PageModel.h"

#include <gtest/gtest.h>

using namespace QVXMLInfoExtractors;
using namespace discoverytest;

namespace {

// A page on H with a picture, a style block, a script, a Flash movie, a
// frame (with a nested iframe) and a frame from another origin.
std::unique_ptr<html::Document> SamplePage()
{
    auto page = EmptyPage("http://H/dir/index.html");
    page->documentElement = Element(
        "HTML", {}, Children(Element("BODY", {}, Children(Element("IMG", {{"src", "img/a.gif", true}}),
                                                          Element("FRAMESET", {}, Children(Element("FRAME", {{"src", "left.html", true}})))))));
    page->images = std::vector<html::Image>{LoadedImage("img/a.gif")};
    html::StyleSheet block;
    block.cssText = std::string("p > a[title=\"x&y\"] { content: '<]]>' }");
    page->styleSheets = std::vector<html::StyleSheet>{block};
    html::Script script;
    script.src = std::string("http://H/dir/pics/s.js?x=1");
    script.text = std::string("if (a<b && b>c) {}");
    page->scripts = std::vector<html::Script>{script};
    page->embeddedControls = std::vector<html::EmbeddedControl>{Control(html::ControlKind::Flash, "movie.swf")};

    auto left = EmptyPage("http://H/dir/left.html");
    left->images = std::vector<html::Image>{LoadedImage("../other/c.gif")};
    auto inner = EmptyPage("http://H/dir/sub/in.html");
    inner->images = std::vector<html::Image>{LoadedImage("http://elsewhere.example/e.gif")};
    left->frames = std::vector<html::Frame>{};
    left->frames->push_back(FrameOf(std::move(inner), "sub/in.html", true));
    page->frames = std::vector<html::Frame>{};
    page->frames->push_back(FrameOf(std::move(left), "left.html"));
    page->frames->push_back(RefusedFrame("http://ads.example/banner.html"));
    return page;
}

} // namespace

TEST(ResourceDocument, StructureOfTheWholeRun)
{
    auto page = SamplePage();
    ResourceDocumentResult result = BuildResourceDocument(*page);
    ASSERT_TRUE(result.ok()) << result.error;
    const std::string sections = "<objects><qts/><flashes/><rps/><mps/></objects>";
    EXPECT_EQ(result.text,
              "<?xml version='1.0'?><frame src=\"http://H/dir/index.html\">"
              "<HTMLDOM><HTML><BODY><IMG src=\"img/a.gif\"/><FRAMESET><FRAME src=\"left.html\"/></FRAMESET></BODY></HTML></HTMLDOM>"
              "<images><item src=\"img/a.gif\" href=\"img/a.gif\" width=\"10\" height=\"20\"/></images>"
              "<scripts><item src=\"http://H/dir/pics/s.js?x=1\">if (a&lt;b &amp;&amp; b&gt;c) {}</item></scripts>"
              "<css><item src=\"\">p &gt; a[title=\"x&amp;y\"] { content: '&lt;]]&gt;' }</item></css>"
              "<objects><qts/><flashes><item src=\"movie.swf\"/></flashes><rps/><mps/></objects>"
              "<frame src=\"left.html\"><HTMLDOM><HTML/></HTMLDOM>"
              "<images><item src=\"../other/c.gif\" href=\"../other/c.gif\" width=\"10\" height=\"20\"/></images>"
              "<scripts/><css/>" + sections
              + "<frame src=\"sub/in.html\" iframe=\"\"><HTMLDOM><HTML/></HTMLDOM>"
                "<images><item src=\"http://elsewhere.example/e.gif\" href=\"http://elsewhere.example/e.gif\" width=\"10\" height=\"20\"/></images>"
                "<scripts/><css/>" + sections + "</frame></frame></frame>");
}

TEST(ResourceDocument, FailingMediaControlEndsTheRunWithItsError)
{
    auto page = SamplePage();
    html::Document& left = *page->frames->at(0).document.value();
    left.embeddedControls = std::vector<html::EmbeddedControl>{
        FailingControl(html::ControlKind::MediaPlayer, MakeHResult(0x80004005))};
    ResourceDocumentResult result = BuildResourceDocument(*page);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.hr, MakeHResult(0x80004005));
    EXPECT_TRUE(result.text.empty());
    EXPECT_NE(result.error.find("{22D6F311-B0F6-11D0-94AB-0080C74C7E95}"), std::string::npos);
}

TEST(ResourceDocument, HostilePageTextStaysOneReadableDocument)
{
    auto page = EmptyPage("http://H/\x01x");  // an address XML cannot carry
    page->documentElement = Element("HTML", {{"on\x01x", "v", true}, {"a", std::string("b\x02", 2), true}},
                                    Children(Element("SCRIPT", {{"src", "a.js", true}})));
    html::Script script;
    script.text = std::string("x\x0b\x00y", 4);
    page->scripts = std::vector<html::Script>{script};
    html::StyleSheet sheet;
    sheet.href = std::string("\xff\xfe");
    page->styleSheets = std::vector<html::StyleSheet>{sheet};
    ResourceDocumentResult result = BuildResourceDocument(*page);
    ASSERT_TRUE(result.ok());
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(result.text)) << result.text;
    const std::string filtered = FilterFrameSources(result.text);
    ASSERT_TRUE(doc.LoadXml(filtered)) << filtered;
    // Script text survives both passes, with what XML cannot carry replaced.
    for (const std::string& text : {result.text, filtered})
        EXPECT_NE(text.find("<scripts><item src=\"\">x\xEF\xBF\xBD\xEF\xBF\xBDy</item></scripts>"), std::string::npos)
            << text;
}
