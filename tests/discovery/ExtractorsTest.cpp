#include "discovery/CSSExtractor.h"
#include "discovery/ComError.h"
#include "discovery/DomExtractor.h"
#include "discovery/FlashesExtractor.h"
#include "discovery/ImagesExtractor.h"
#include "discovery/MediaPlayerExtractor.h"
#include "discovery/ObjectsExtractor.h"
#include "discovery/QuickTimeExtractor.h"
#include "discovery/RealPlayerExtractor.h"
#include "discovery/ScriptsExtractor.h"
#include "platform/xml/Document.h"
#include "tests/discovery/PageModel.h"

#include <gtest/gtest.h>

using namespace QVXMLInfoExtractors;
using namespace discoverytest;

namespace {

constexpr const char* kDecl = "<?xml version='1.0'?>";

} // namespace

TEST(ImagesExtractor, ListsLoadedPicturesWithAttributesInOrderAndEachRunOnlyItsOwn)
{
    html::Document page;
    html::Image full = LoadedImage("a.gif", 16, 32);
    full.href = std::string("http://h/a.gif");
    full.fileSize = std::string("1234");
    full.mimeType = std::string("GIF Image");
    html::Image loading = LoadedImage("b.gif");
    loading.complete = false;
    html::Image failedComplete = LoadedImage("c.gif");
    failedComplete.complete = html::Read<bool>::Fail(E_FAIL);
    html::Image noSrc = LoadedImage("");
    html::Image srcRefused = LoadedImage("x");
    srcRefused.src = html::Read<std::string>::Fail(E_FAIL);
    html::Image sparse = LoadedImage("d.gif");
    sparse.href = std::string("");
    sparse.fileSize = std::string("");
    sparse.mimeType = std::string("");
    html::Image unreadable = LoadedImage("e.gif");
    unreadable.href = html::Read<std::string>::Fail(E_FAIL);
    unreadable.width = html::Read<std::int32_t>::Fail(E_FAIL);
    unreadable.height = html::Read<std::int32_t>::Fail(E_FAIL);
    unreadable.fileSize = html::Read<std::string>::Fail(E_FAIL);
    page.images = std::vector<html::Image>{full, loading, failedComplete, noSrc, srcRefused, sparse, unreadable};

    CImagesExtractor images;
    EXPECT_EQ(images.GetXml(), std::string(kDecl) + "<images/>");
    images.Process(page);
    EXPECT_EQ(images.GetXml(),
              std::string(kDecl)
                  + "<images>"
                    "<item src=\"a.gif\" href=\"http://h/a.gif\" size=\"1234\" width=\"16\" height=\"32\" mime=\"GIF Image\"/>"
                    "<item src=\"d.gif\" href=\"\" width=\"10\" height=\"20\"/>"
                    "<item src=\"e.gif\"/>"
                    "</images>");
    // A second run lists only its own pictures, duplicates included.
    html::Document second;
    second.images = std::vector<html::Image>{LoadedImage("two.gif"), LoadedImage("two.gif")};
    images.Process(second);
    const std::string item = "<item src=\"two.gif\" href=\"two.gif\" width=\"10\" height=\"20\"/>";
    EXPECT_EQ(images.GetXml(), std::string(kDecl) + "<images>" + item + item + "</images>");
}

TEST(Extractors, RefusedCollectionsMissingRootOrOnlyLoadingPicturesGiveEmptySections)
{
    html::Document refused;
    refused.images = html::Read<std::vector<html::Image>>::Fail(E_FAIL);
    refused.styleSheets = html::Read<std::vector<html::StyleSheet>>::Fail(E_FAIL);
    refused.scripts = html::Read<std::vector<html::Script>>::Fail(E_FAIL);
    html::Document loading;
    html::Image image = LoadedImage("a.gif");
    image.complete = false;
    loading.images = std::vector<html::Image>{image};
    CImagesExtractor images;
    CCSSExtractor sheets;
    CScriptsExtractor scripts;
    CDomExtractor dom;
    for (const html::Document* page : {&refused, &loading}) {
        images.Process(*page);
        sheets.Process(*page);
        scripts.Process(*page);
        dom.Process(*page);
        EXPECT_EQ(images.GetXml(), std::string(kDecl) + "<images/>");
        EXPECT_EQ(sheets.GetXml(), std::string(kDecl) + "<css/>");
        EXPECT_EQ(scripts.GetXml(), std::string(kDecl) + "<scripts/>");
        EXPECT_EQ(dom.GetXml(), std::string(kDecl) + "<HTMLDOM/>");
    }
}

TEST(ScriptsAndCSSExtractors, EveryElementGivesAnItemWhoseTextReadsBackUnchanged)
{
    const std::string css = "a[href^=\"x&y\"] > b::after { content: \"<\\]]>\"; }\r\n/* & */";
    html::Document page;
    html::Script external, inlineScript, empty, refused;
    external.src = std::string("lib.js");
    inlineScript.text = std::string("if (a < b && c > d) x = \"]]>\";");
    refused.src = html::Read<std::string>::Fail(E_FAIL);
    refused.text = html::Read<std::string>::Fail(E_FAIL);
    page.scripts = std::vector<html::Script>{external, inlineScript, empty, refused};
    html::StyleSheet block, linked;
    block.cssText = css;
    linked.href = std::string("site.css");
    page.styleSheets = std::vector<html::StyleSheet>{block, linked};

    CScriptsExtractor scripts;
    scripts.Process(page);
    EXPECT_EQ(scripts.GetXml(),
              std::string(kDecl)
                  + "<scripts><item src=\"lib.js\"/>"
                    "<item src=\"\">if (a &lt; b &amp;&amp; c &gt; d) x = \"]]&gt;\";</item>"
                    "<item src=\"\"/><item/></scripts>");
    CCSSExtractor sheets;
    sheets.Process(page);
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(sheets.GetXml())) << sheets.GetXml();
    EXPECT_EQ(doc.DocumentElement()->Name(), "css");
    auto items = doc.DocumentElement()->ChildElements();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].GetAttribute("src"), "");
    EXPECT_EQ(items[0].Text(), css);
    EXPECT_EQ(items[1].GetAttribute("src"), "site.css");
    EXPECT_EQ(items[1].Text(), "");
}

TEST(DomExtractor, CopiesElementsAndGivenAttributesAndKeepsNamesXmlRejectsAsFailAttr)
{
    html::Document page;
    page.documentElement = Element(
        "HTML", {{"lang", "en", true}, {"dir", "", false}},
        Children(Element("HEAD", {}, Children(Element("META", {{"charset", "utf-8", true}}))),
                 Element("BODY", {{"onload", "go()", true}, {"bgcolor", "", false}},
                         Children(Text("hello"),
                                  Element("IMG", {{"src", "a.gif", true}, {"alt", "", true}}),
                                  Element("#comment"),
                                  Element("P", {}, Children(Text("x"), Element("B")))))));
    CDomExtractor dom;
    dom.Process(page);
    EXPECT_EQ(dom.GetXml(),
              std::string(kDecl)
                  + "<HTMLDOM><HTML lang=\"en\"><HEAD><META charset=\"utf-8\"/></HEAD>"
                    "<BODY onload=\"go()\"><IMG src=\"a.gif\" alt=\"\"/><P><B/></P></BODY></HTML></HTMLDOM>");

    // fail_attr elements come before the children; no namespace creeps in.
    page.documentElement = Element(
        "HTML", {{"xmlns", "http://www.w3.org/1999/xhtml", true}},
        Children(Element("DIV", {{"a", "1", true}, {"2bad", "v<&\"", true}, {"b", "2", true}, {"x y", "z", true}},
                         Children(Element("SPAN")))));
    dom.Process(page);
    EXPECT_EQ(dom.GetXml(),
              std::string(kDecl)
                  + "<HTMLDOM><HTML><fail_attr name=\"xmlns\" value=\"http://www.w3.org/1999/xhtml\"/>"
                    "<DIV a=\"1\" b=\"2\"><fail_attr name=\"2bad\" value=\"v&lt;&amp;&quot;\"/>"
                    "<fail_attr name=\"x y\" value=\"z\"/><SPAN/></DIV></HTML></HTMLDOM>");
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(dom.GetXml()));
    EXPECT_EQ(doc.DocumentElement()->ChildElements().at(0).Name(), "HTML");
}

TEST(DomExtractor, RootIsAlwaysHtmlAndAnElementWithAnIllegalNameIsLeftOutWithItsSubtree)
{
    html::Document svg;
    svg.documentElement = Element("svg", {{"width", "4", true}});
    html::Document illegal;
    illegal.documentElement = Element(
        "HTML", {}, Children(Element("BODY", {}, Children(Element("1X", {}, Children(Element("IMG", {{"src", "a", true}}))),
                                                          Element("O:P"), Element("DIV")))));
    CDomExtractor dom;
    dom.Process(svg);
    EXPECT_EQ(dom.GetXml(), std::string(kDecl) + "<HTMLDOM><HTML width=\"4\"/></HTMLDOM>");
    dom.Process(illegal);
    EXPECT_EQ(dom.GetXml(), std::string(kDecl) + "<HTMLDOM><HTML><BODY><O:P/><DIV/></BODY></HTML></HTMLDOM>");
}

TEST(DomExtractor, DeepNestingStaysReadable)
{
    html::Document page;
    page.documentElement = Element("HTML");
    html::Node* at = page.documentElement.get();
    for (int i = 0; i < 1000; ++i) {
        at->childNodes.push_back(Element("DIV", {{"i", std::to_string(i), true}}));
        at = at->childNodes.back().get();
    }
    CDomExtractor dom;
    dom.Process(page);
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(dom.GetXml())) << doc.LastError();
    // The copy stops at the documented depth, attributes of the last level kept.
    EXPECT_NE(dom.GetXml().find("i=\"" + std::to_string(CDomExtractor::kMaxCopyDepth - 1) + "\""), std::string::npos);
    EXPECT_EQ(dom.GetXml().find("i=\"" + std::to_string(CDomExtractor::kMaxCopyDepth) + "\""), std::string::npos);
}

class ObjectsExtractorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Added in an order other than the run order on purpose.
        ControlProcessorSet set;
        set.Insert(&media);
        set.Insert(&real);
        set.Insert(&flash);
        set.Insert(&quickTime);
        set.Insert(&flash);
        objects.SetObjectProcessors(set);
    }

    CFlashesExtractor flash;
    CQuickTimeExtractor quickTime;
    CRealPlayerExtractor real;
    CMediaPlayerExtractor media;
    CObjectsExtractor objects;
};

TEST_F(ObjectsExtractorTest, SubSectionsInFixedOrderWithOneItemPerControl)
{
    html::Document page;
    page.embeddedControls = std::vector<html::EmbeddedControl>{
        Control(html::ControlKind::Flash, "movie.swf"),
        Control(html::ControlKind::MediaPlayer, "mms://h/clip.asf"),
        Control(html::ControlKind::Flash, "movie.swf"),
        Control(html::ControlKind::Unknown, "ignored.bin"),
        Control(html::ControlKind::QuickTime, "film.mov"),
        FailingControl(html::ControlKind::RealPlayer, E_FAIL),
        Control(html::ControlKind::RealPlayer, "song.rm"),
    };
    objects.Process(page);
    EXPECT_EQ(objects.GetXml(),
              std::string(kDecl)
                  + "<objects><qts><item src=\"film.mov\"/></qts>"
                    "<flashes><item src=\"movie.swf\"/><item src=\"movie.swf\"/></flashes>"
                    "<rps><item src=\"\"/><item src=\"song.rm\"/></rps>"
                    "<mps><item src=\"mms://h/clip.asf\"/></mps></objects>");
}

TEST_F(ObjectsExtractorTest, NoControlsGiveFourEmptySubSectionsMissingContainerNoneAndResetsProcessors)
{
    html::Document withFlash;
    withFlash.embeddedControls = std::vector<html::EmbeddedControl>{Control(html::ControlKind::Flash, "a.swf")};
    objects.Process(withFlash);
    html::Document noControls;
    noControls.embeddedControls = std::vector<html::EmbeddedControl>{};
    objects.Process(noControls);
    EXPECT_EQ(objects.GetXml(), std::string(kDecl) + "<objects><qts/><flashes/><rps/><mps/></objects>");
    objects.Process(withFlash);
    html::Document noContainer;
    noContainer.embeddedControls = html::Read<std::vector<html::EmbeddedControl>>::Fail(E_NOINTERFACE);
    objects.Process(noContainer);
    EXPECT_EQ(objects.GetXml(), std::string(kDecl) + "<objects/>");
    EXPECT_EQ(flash.GetXml(), std::string(kDecl) + "<flashes/>");
}

TEST_F(ObjectsExtractorTest, FailingReadOnFlashQuickTimeOrMediaPlayerPropagates)
{
    const std::pair<html::ControlKind, const char*> cases[] = {
        {html::ControlKind::Flash, "{D27CDB6C-AE6D-11CF-96B8-444553540000}"},
        {html::ControlKind::QuickTime, "{02BF25D3-8C17-4B23-BC80-D3488ABDDC6B}"},
        {html::ControlKind::MediaPlayer, "{22D6F311-B0F6-11D0-94AB-0080C74C7E95}"},
    };
    for (const auto& [kind, iid] : cases) {
        html::Document page;
        const HRESULT hr = MakeHResult(0x80040154);
        page.embeddedControls = std::vector<html::EmbeddedControl>{FailingControl(kind, hr)};
        try {
            objects.Process(page);
            ADD_FAILURE() << "no error for " << html::to_string(kind);
        } catch (const ComError& e) {
            EXPECT_EQ(e.hr(), hr);
            EXPECT_EQ(GuidToString(e.iid()), iid);
        }
    }
}

