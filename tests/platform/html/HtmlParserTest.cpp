// The HTML parser's model: node names, attributes, collections, base
// addresses and its bounds, without any network.
#include "platform/html/HtmlParser.h"
#include "platform/html/NestingLimiter.h"
#include "tests/platform/html/DocumentWalk.h"

#include <gtest/gtest.h>

using namespace html;

namespace {

constexpr const char* kBase = "http://site.test/dir/page.html";

ParsedPage MustParse(std::string_view text, const ParseLimits& limits = {})
{
    ParseResult r = HtmlParser::Parse(text, kBase, limits);
    EXPECT_TRUE(r) << r.error;
    if (!r) {
        ParsedPage empty;
        empty.document = std::make_unique<Document>();
        return empty;
    }
    return std::move(*r.page);
}

std::vector<std::string> ChildNames(const Node& n)
{
    std::vector<std::string> names;
    for (const auto& c : n.childNodes)
        names.push_back(c->nodeName);
    return names;
}

const Node& Body(const Document& doc)
{
    return *doc.documentElement->childNodes.back();
}

TEST(HtmlParserTree, NodeNamesAreUpperCaseTagsAndHashNamesTemplateContentIsLeftOut)
{
    ParsedPage p = MustParse("<!DOCTYPE html><html><head><title>t</title></head><body><!--note-->text<p>x</p>"
                             "<my-Widget></my-Widget><svg></svg><o:p>office</o:p></body></html>");
    const Document& doc = *p.document;
    ASSERT_TRUE(doc.documentElement);
    EXPECT_EQ(doc.documentElement->nodeName, "HTML");
    EXPECT_EQ(ChildNames(*doc.documentElement), (std::vector<std::string> { "HEAD", "BODY" }));
    EXPECT_EQ(ChildNames(Body(doc)), (std::vector<std::string> { "#comment", "#text", "P", "MY-WIDGET", "SVG", "O:P" }));
    EXPECT_EQ(Body(doc).childNodes[0]->nodeValue, "note");
    EXPECT_EQ(Body(doc).childNodes[1]->nodeValue, "text");
    EXPECT_FALSE(Body(doc).childNodes[1]->IsElement());
    // Implied elements exist as in a browser.
    ParsedPage implied = MustParse("just text");
    EXPECT_EQ(ChildNames(*implied.document->documentElement), (std::vector<std::string> { "HEAD", "BODY" }));
    EXPECT_EQ(ChildNames(Body(*implied.document)), (std::vector<std::string> { "#text" }));
    // Template content is not part of the document.
    ParsedPage t = MustParse("<body><template><img src=\"t.gif\"><iframe src=\"t.html\"></iframe></template></body>");
    EXPECT_TRUE(t.document->images->empty());
    EXPECT_TRUE(t.document->frames->empty());
    EXPECT_TRUE(Body(*t.document).childNodes[0]->childNodes.empty());
}

TEST(HtmlParserTree, AttributeNamesLowerCasedValuesDecodedAllSpecified)
{
    ParsedPage p = MustParse("<body><div CLASS=\"A&amp;B\" Data-X='1' 1col=\"q\" title=caf&eacute;>x</div></body>");
    const Node& div = *Body(*p.document).childNodes[0];
    ASSERT_EQ(div.attributes.size(), 4u);
    EXPECT_EQ(div.attributes[0].nodeName, "class");
    EXPECT_EQ(div.attributes[0].nodeValue, "A&B");
    EXPECT_EQ(div.attributes[1].nodeName, "data-x");
    EXPECT_EQ(div.attributes[2].nodeName, "1col");
    EXPECT_EQ(div.attributes[3].nodeValue, "caf\xC3\xA9");
    for (const Attribute& a : div.attributes)
        EXPECT_TRUE(a.specified);
    EXPECT_EQ(div.FindAttribute("title"), &div.attributes[3]);
    EXPECT_EQ(div.FindAttribute("missing"), nullptr);
}

TEST(HtmlParserCollections, PicturesKeepSrcAsWrittenAndResolveHref)
{
    ParsedPage p = MustParse("<img src=\"img/a.gif#x\" width=\"20px\" height=\"50%\"><img src=\"\"><img>"
                             "<img src=\" //cdn.test/b.png \"><image src=\"c.gif\">");
    const auto& images = *p.document->images;
    ASSERT_EQ(images.size(), 5u); // <image> is parsed as <img>
    EXPECT_EQ(*images[0].src, "img/a.gif#x");
    EXPECT_EQ(*images[0].href, "http://site.test/dir/img/a.gif#x");
    EXPECT_EQ(p.images[0].url, "http://site.test/dir/img/a.gif");
    EXPECT_EQ(p.images[0].widthAttribute, 20);
    EXPECT_FALSE(p.images[0].heightAttribute); // a percentage needs a layout
    EXPECT_EQ(*images[1].src, "");
    EXPECT_EQ(p.images[1].url, "");
    EXPECT_EQ(*images[2].src, "");
    EXPECT_EQ(p.images[2].url, "");
    EXPECT_EQ(*images[3].href, "http://cdn.test/b.png");
    EXPECT_EQ(*images[4].href, "http://site.test/dir/c.gif");
}

TEST(HtmlParserCollections, BaseHrefChangesResolutionNotTheWrittenSrc)
{
    ParsedPage p = MustParse("<head><base href=\"/other/\"></head><body><img src=\"a.gif\">"
                             "<iframe src=\"f.html\"></iframe></body>");
    EXPECT_EQ(*(*p.document->images)[0].src, "a.gif");
    EXPECT_EQ(*(*p.document->images)[0].href, "http://site.test/other/a.gif");
    EXPECT_EQ(p.frameUrls[0], "http://site.test/other/f.html");
    EXPECT_EQ(p.document->URL, kBase); // the document keeps its own address
}

TEST(HtmlParserCollections, SheetsInDocumentOrderAndScriptTextIsRawInlineCode)
{
    ParsedPage p = MustParse("<head><link rel=\"Alternate StyleSheet\" href=\"a.css\"><style>p{}</style>"
                             "<link rel=\"icon\" href=\"i.ico\"><link rel=\"stylesheet\" href=\"  \">"
                             "<link rel=\"stylesheet\" href=\"../b.css\"></head>"
                             "<script>if (a < b && c > d) { x = \"</p>\"; }</script><script src=\"s.js\"> </script>");
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Pairs sheets, scripts;
    for (std::size_t i = 0; i < p.document->styleSheets->size(); ++i)
        sheets.emplace_back(*(*p.document->styleSheets)[i].href + " " + *(*p.document->styleSheets)[i].cssText, p.styleSheetUrls.at(i));
    for (const Script& s : *p.document->scripts)
        scripts.emplace_back(*s.src, *s.text);
    EXPECT_EQ(sheets, (Pairs { { "a.css ", "http://site.test/dir/a.css" }, { " p{}", "" }, { "../b.css ", "http://site.test/b.css" } }));
    EXPECT_EQ(scripts, (Pairs { { "", "if (a < b && c > d) { x = \"</p>\"; }" }, { "s.js", " " } }));
}

TEST(HtmlParserCollections, FramesOfFramesetsAndIframesWithSrcAsWritten)
{
    ParsedPage p = MustParse("<frameset><frame src=\"a.html\"><frame><frameset><frame src=\"b.html#top\">"
                             "</frameset></frameset>");
    const auto& frames = *p.document->frames;
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].frameElement->src, "a.html");
    EXPECT_FALSE(frames[0].frameElement->isIFrame);
    EXPECT_EQ(frames[1].frameElement->src, "");
    EXPECT_EQ(p.frameUrls[1], "");
    EXPECT_EQ(frames[2].frameElement->src, "b.html#top");
    EXPECT_EQ(p.frameUrls[2], "http://site.test/dir/b.html#top");

    ParsedPage i = MustParse("<body><iframe src=\"x.html\"></iframe><frame src=\"ignored.html\"></body>");
    ASSERT_EQ(i.document->frames->size(), 1u); // a <frame> outside a frameset is dropped by the parser
    EXPECT_TRUE((*i.document->frames)[0].frameElement->isIFrame);
}

TEST(HtmlParserControls, EmbedInsideARecognisedObjectIsTheSameControl)
{
    ParsedPage p = MustParse(
        "<object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\"><param name=\"Movie\" value=\"m.swf\">"
        "<embed src=\"m.swf\" type=\"application/x-shockwave-flash\"></object>"
        "<object classid=\"clsid:{8AD9C840-044E-11D1-B3E9-00805F499D93}\"><embed src=\"n.swf\"></object>"
        "<object type=\"text/html\" data=\"inner.html\"><embed src=\"clip.mov\"></object>"
        "<embed src=\"tune.mid\">");
    const auto& controls = *p.document->embeddedControls;
    ASSERT_EQ(controls.size(), 5u);
    EXPECT_EQ(controls[0].kind, ControlKind::Flash);
    EXPECT_EQ(*controls[0].source, "m.swf");
    EXPECT_EQ(controls[0].tagName, "OBJECT");
    // Another ActiveX control is a plug-in of its own; its fallback content
    // holds a Flash <embed> that counts by itself.
    EXPECT_EQ(controls[1].kind, ControlKind::Unknown);
    EXPECT_EQ(controls[2].kind, ControlKind::Flash);
    EXPECT_EQ(*controls[2].source, "n.swf");
    // An <object> showing a page is no plug-in; its fallback QuickTime embed is.
    EXPECT_EQ(controls[3].kind, ControlKind::QuickTime);
    EXPECT_EQ(controls[3].tagName, "EMBED");
    EXPECT_EQ(controls[4].kind, ControlKind::Unknown);
    EXPECT_FALSE(controls[4].Answers(ControlKind::Unknown));
}

TEST(HtmlParserBounds, DeepNestingIsFlattenedAndTheTreeCut)
{
    std::string page = "<body>";
    for (int i = 0; i < 5000; ++i)
        page += "<div>";
    page += "<img src=\"deep.gif\">";
    ParseLimits limits;
    limits.maxElementDepth = 64;
    ParsedPage p = MustParse(page, limits);
    EXPECT_LE(htmltest::TreeDepth(*p.document->documentElement, false), 64u + 1); // + a text or element leaf at the cut
    ASSERT_EQ(p.document->images->size(), 1u); // collections still see everything
    ASSERT_FALSE(p.document->notes.empty());
    EXPECT_NE(p.document->notes[0].find("flattened"), std::string::npos);
}

TEST(HtmlParserBounds, MemoryAndTimeBudgetsEndAParseWithAnError)
{
    std::string spans, bomb = "<body>";
    for (int i = 0; i < 20000; ++i) {
        spans += "<span class=\"c\">text</span>";
        // Each <div> reopens every <b> still active before it: the tree grows
        // with the square of the tag count, out of tags the text never nests.
        bomb += "<div><b id=" + std::to_string(i) + "></div>";
    }
    ParseLimits small, medium, instant;
    small.maxParserMemory = 256 << 10;
    medium.maxParserMemory = 8 << 20;
    instant.maxParseTime = std::chrono::milliseconds(0);
    const std::tuple<const std::string&, ParseLimits, const char*> cases[] = {
        { spans, small, "too complex to parse" }, { bomb, medium, "8 MiB" }, { spans, instant, "0 ms" } };
    for (const auto& [page, limits, error] : cases) {
        ParseResult r = HtmlParser::Parse(page, kBase, limits);
        ASSERT_FALSE(r) << error;
        EXPECT_NE(r.error.find(error), std::string::npos) << r.error;
    }
}

TEST(HtmlParserBounds, DimensionsFollowTheHtmlIntegerRules)
{
    for (auto [text, value] : { std::pair { "120", 120 }, { "  64px", 64 }, { "+7", 7 }, { "12.5", 12 },
             { "99999999999999", INT32_MAX } })
        EXPECT_EQ(HtmlParser::ParseDimension(text), value) << text;
    for (const char* text : { "50%", "-3", "wide", "" })
        EXPECT_FALSE(HtmlParser::ParseDimension(text)) << text;
}

TEST(NestingLimiter, TagsBeyondTheLimitAreDroppedWithTheirEndTagsOrdinaryPagesPassUnchanged)
{
    std::string ordinary = "<ul>";
    for (int i = 0; i < 3000; ++i)
        ordinary += "<li><p>item <b>bold</b> <br> <img src=x>"; // unclosed li/p never build depth
    ordinary += "</ul><script>for (;;) { document.write('<div><div><div>') }</script><!-- <div><div> -->";
    struct Case {
        std::string page;
        std::size_t limit, dropped;
        std::string expected; // "" where the text does not matter
    } cases[] = {
        { ordinary, 16, 0, ordinary },
        { "<div><section><span a='>'>x</span></section></div>", 2, 2, "<div><section>x</section></div>" },
        // "<!-->" is a whole comment: the tags after it count, however the
        // text closes a comment later on.
        { "<!--><div><div><div><div>-->", 2, 2, "" },
        { "<!---><div><div><div><div>-->", 2, 2, "" },
        { "<!-- x --!><div><div><div><div>-->", 2, 2, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page.substr(0, 40));
        NestingLimitResult r = LimitNesting(c.page, c.limit);
        EXPECT_EQ(r.droppedTags, c.dropped);
        if (!c.expected.empty()) {
            EXPECT_EQ(r.text, c.expected);
        }
    }
}

} // namespace
