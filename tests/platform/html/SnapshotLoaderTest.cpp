// The live-DOM snapshot turned into the document model: fixed snapshots of
// the shape extension/snapshot.js writes, and hostile ones.
#include "platform/html/SnapshotLoader.h"
#include "tests/platform/html/DocumentWalk.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

using namespace html;
using Json = nlohmann::json;

namespace {

LoadResult FromJson(const Json& j, const SnapshotLimits& limits = {})
{
    return SnapshotLoader::Load(j.dump(), FetchMissing::No, {}, limits);
}

Json Page(Json doc)
{
    return Json { { "v", 1 }, { "truncated", false }, { "doc", std::move(doc) } };
}

Json BasicDoc()
{
    return Json::parse(R"json({
      "url": "http://127.0.0.1:8000/page.html",
      "images": [
        {"complete": true, "src": "a.png", "href": "http://127.0.0.1:8000/a.png", "width": 10, "height": 20, "size": 1234, "type": "image/png"},
        {"complete": false, "src": "broken.gif", "href": "http://127.0.0.1:8000/broken.gif", "width": 0, "height": 0, "size": -1, "type": ""},
        {"complete": true, "src": "x.svg", "href": "http://127.0.0.1:8000/x.svg", "width": 5, "height": 5, "size": -1, "type": "image/svg+xml"}
      ],
      "scripts": [{"src": "app.js", "text": ""}, {"src": "", "text": "var a = 1 < 2;"}],
      "styleSheets": [{"href": "", "url": "", "cssText": "p { color: red; }", "readable": true},
                      {"href": "s.css", "url": "http://127.0.0.1:8000/s.css", "cssText": "", "readable": false}],
      "frames": [
        {"src": "inner.html", "iframe": true, "refused": false,
         "doc": {"url": "http://127.0.0.1:8000/inner.html", "images": [], "scripts": [], "styleSheets": [], "frames": [],
                 "dom": ["HTML", [], [["HEAD", [], []], ["BODY", [], []]]], "objects": []}},
        {"src": "http://127.0.0.1:9000/other.html", "iframe": false, "refused": true}
      ],
      "dom": ["HTML", [["lang", "en"]], [
        ["HEAD", [], [["#text"]]],
        ["BODY", [["ID", "top"], ["onload", "go()"]], [["#comment"], ["IMG", [["src", "a.png"]], []], ["svg", [["viewBox", "0 0 1 1"]], []]]]
      ]],
      "objects": [
        {"tag": "OBJECT", "parent": -1, "attrs": [["classid", "clsid:D27CDB6E-AE6D-11cf-96B8-444553540000"]], "params": [["movie", "m.swf"]]},
        {"tag": "EMBED", "parent": 0, "attrs": [["src", "m.swf"], ["type", "application/x-shockwave-flash"]], "params": []},
        {"tag": "EMBED", "parent": -1, "attrs": [["src", "talk.wmv"], ["type", "application/x-mplayer2"]], "params": []},
        {"tag": "OBJECT", "parent": -1, "attrs": [["data", "fallback.html"]], "params": []}
      ]
    })json");
}

} // namespace

TEST(SnapshotLoader, SnapshotBecomesTheModelTheStaticLoaderWouldGive)
{
    LoadResult r = FromJson(Page(BasicDoc()));
    ASSERT_TRUE(r) << r.error();
    const Document& d = r.document();
    EXPECT_EQ(d.URL, "http://127.0.0.1:8000/page.html");
    std::vector<std::string> images;
    for (const Image& i : *d.images)
        images.push_back((*i.complete ? "complete " : "broken ") + *i.src + " " + *i.href + " " + *i.fileSize + " ["
                         + *i.mimeType + "] " + std::to_string(*i.width) + "x" + std::to_string(*i.height));
    // An unknown size is empty, not "-1"; a type the browser has no picture name for is left empty.
    EXPECT_EQ(images, (std::vector<std::string> { "complete a.png http://127.0.0.1:8000/a.png 1234 [PNG Image] 10x20",
                                                  "broken broken.gif http://127.0.0.1:8000/broken.gif  [] 0x0",
                                                  "complete x.svg http://127.0.0.1:8000/x.svg  [] 5x5" }));
    ASSERT_EQ(d.scripts->size(), 2u);
    EXPECT_EQ(*(*d.scripts)[0].src, "app.js");
    EXPECT_EQ(*(*d.scripts)[1].text, "var a = 1 < 2;");
    ASSERT_EQ(d.styleSheets->size(), 2u);
    EXPECT_EQ(*(*d.styleSheets)[0].href, "");
    EXPECT_EQ(*(*d.styleSheets)[0].cssText, "p { color: red; }");
    EXPECT_EQ(*(*d.styleSheets)[1].href, "s.css");
    // Readable frames nest; other origins are refused.
    EXPECT_EQ(htmltest::FrameLines(d), (std::vector<std::string> {
                                           "inner.html (iframe) -> http://127.0.0.1:8000/inner.html",
                                           "http://127.0.0.1:9000/other.html (frame) refused: other origin, E_ACCESSDENIED" }));

    // Browser node names, lower-case attribute names, only the given ones.
    const Node* html = d.documentElement.get();
    ASSERT_NE(html, nullptr);
    EXPECT_EQ(html->nodeName, "HTML");
    ASSERT_EQ(html->attributes.size(), 1u);
    EXPECT_EQ(html->attributes[0].nodeName, "lang");
    ASSERT_EQ(html->childNodes.size(), 2u);
    const Node& body = *html->childNodes[1];
    EXPECT_EQ(body.nodeName, "BODY");
    ASSERT_EQ(body.attributes.size(), 2u);
    EXPECT_EQ(body.attributes[0].nodeName, "id");
    EXPECT_TRUE(body.attributes[0].specified);
    std::vector<std::string> children;
    for (const auto& c : body.childNodes)
        children.push_back(c->nodeName + (c->IsElement() ? "" : " (no element)"));
    EXPECT_EQ(children, (std::vector<std::string> { "#comment (no element)", "IMG", "SVG" }));

    // The Flash object and the Media Player embed; not the embed inside the
    // Flash object, not an <object> without a class id (fallback content).
    std::vector<std::pair<ControlKind, std::string>> controls;
    for (const EmbeddedControl& c : *d.embeddedControls)
        controls.emplace_back(c.kind, *c.source);
    EXPECT_EQ(controls, (std::vector<std::pair<ControlKind, std::string>> { { ControlKind::Flash, "m.swf" },
                                                                            { ControlKind::MediaPlayer, "talk.wmv" } }));
}

TEST(SnapshotLoader, MediaTypesGetThePictureNamesTheStaticLoaderUses)
{
    for (auto [type, name] : { std::pair { "image/gif", "GIF Image" }, { "IMAGE/JPEG; charset=x", "JPEG Image" },
             { "image/vnd.microsoft.icon", "Icon" }, { "image/webp", "WebP Image" }, { "image/svg+xml", "" }, { "", "" } })
        EXPECT_EQ(SnapshotLoader::DescribeMediaType(type), name) << type;
}

TEST(SnapshotLoaderHostile, MalformedForeignOrTooDeeplyNestedTextIsRefusedWithAReason)
{
    std::string deep = R"({"v":1,"doc":{"url":"http://a/","dom":)";
    for (int i = 0; i < 100'000; ++i)
        deep += "[\"DIV\",[],";
    for (const std::string& text : { std::string(), std::string("not json"), std::string("[1,2,3]"),
                                      std::string(R"({"v":2,"doc":{"url":"x"}})"), std::string(R"({"v":1,"doc":[]})"),
                                      std::string(R"({"v":1,"doc":{"url":""}})"), std::string(R"({"v":1,"doc":{"url":"http://a/"})"), deep }) {
        LoadResult r = SnapshotLoader::Load(text, FetchMissing::No);
        EXPECT_FALSE(r) << text.substr(0, 40);
        EXPECT_FALSE(r.error().empty()) << text.substr(0, 40);
    }
    // The nesting is refused before parsing, so it cannot exhaust the stack.
    EXPECT_NE(SnapshotLoader::Load(deep, FetchMissing::No).error().find("nested deeper"), std::string::npos);
}

TEST(SnapshotLoaderHostile, ElementDepthAndNodeCountAreCut)
{
    // 600 nested elements: the model keeps the loader's element depth.
    Json node = Json::array({ "DIV", Json::array(), Json::array() });
    for (int i = 0; i < 600; ++i)
        node = Json::array({ "DIV", Json::array(), Json::array({ node }) });
    Json doc { { "url", "http://a/" }, { "dom", Json::array({ "HTML", Json::array(), Json::array({ node }) }) } };
    LoadOptions options;
    options.maxElementDepth = 100;
    LoadResult r = SnapshotLoader::Load(Page(doc).dump(), FetchMissing::No, options);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(htmltest::TreeDepth(*r.document().documentElement, false), 100u);
    EXPECT_FALSE(r.document().notes.empty());
    SnapshotLimits few;
    few.maxNodes = 50;
    LoadResult cut = SnapshotLoader::Load(Page(doc).dump(), FetchMissing::No, {}, few);
    ASSERT_TRUE(cut) << cut.error();
    EXPECT_EQ(htmltest::TreeDepth(*cut.document().documentElement, false), 50u);
}

TEST(SnapshotLoaderHostile, WrongTypesAndHugeNumbersAreSkippedNotTrusted)
{
    Json doc = Json::parse(R"({
      "url": "http://a/",
      "images": [{"complete": "yes", "src": 5, "href": null, "width": 1e300, "height": -7, "size": 1e40, "type": 3}, 17, null],
      "scripts": "none",
      "styleSheets": [[]],
      "frames": [{"src": "f.html", "iframe": true, "refused": false, "doc": 5}, "x"],
      "dom": ["HTML", "attrs?", [["", [], []], [5], ["P", [["ok", "1"], ["bad"], [1, 2]], "kids?"]]],
      "objects": [{"tag": "OBJECT", "parent": 99, "attrs": 5, "params": {"a": 1}}, 3]
    })");
    LoadResult r = FromJson(Page(doc));
    ASSERT_TRUE(r) << r.error();
    const Document& d = r.document();
    // Entries that are no objects are no pictures; numbers are clamped.
    ASSERT_EQ(d.images->size(), 1u);
    EXPECT_FALSE(*(*d.images)[0].complete);
    EXPECT_EQ(*(*d.images)[0].src, "");
    EXPECT_EQ(*(*d.images)[0].width, INT32_MAX);
    EXPECT_EQ(*(*d.images)[0].height, 0);
    EXPECT_EQ(*(*d.images)[0].mimeType, "");
    EXPECT_TRUE(d.scripts->empty());
    EXPECT_TRUE(d.styleSheets->empty());
    ASSERT_EQ(d.frames->size(), 1u);
    EXPECT_EQ((*d.frames)[0].DocumentOrNull(), nullptr);
    const Node* html = d.documentElement.get();
    ASSERT_NE(html, nullptr);
    EXPECT_TRUE(html->attributes.empty());
    ASSERT_EQ(html->childNodes.size(), 1u);
    ASSERT_EQ(html->childNodes[0]->attributes.size(), 1u);
    EXPECT_EQ(html->childNodes[0]->attributes[0].nodeName, "ok");
    EXPECT_TRUE(d.embeddedControls->empty());
}

TEST(SnapshotLoaderHostile, FrameNestingStopsAtTheLoadersDepth)
{
    Json doc { { "url", "http://a/10" } };
    for (int i = 9; i >= 0; --i) {
        Json frame { { "src", "f" }, { "iframe", true }, { "refused", false }, { "doc", doc } };
        doc = Json { { "url", "http://a/" + std::to_string(i) }, { "frames", Json::array({ frame }) } };
    }
    LoadOptions options;
    options.maxFrameDepth = 3;
    LoadResult r = SnapshotLoader::Load(Page(doc).dump(), FetchMissing::No, options);
    ASSERT_TRUE(r) << r.error();
    const Document* d = &r.document();
    int depth = 0;
    while (!d->frames->empty() && (*d->frames)[0].DocumentOrNull()) {
        d = (*d->frames)[0].DocumentOrNull();
        ++depth;
    }
    EXPECT_EQ(depth, 3);
    ASSERT_FALSE(d->frames->empty());
    EXPECT_EQ((*d->frames)[0].refusal, FrameRefusal::DepthLimit);
}
