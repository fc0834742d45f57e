#include "dialog/DialogPageBuilder.h"
#include "dialog/Templates.h"
#include "platform/xml/Document.h"
#include "tests/dialog/DialogPages.h"
#include "tests/support/HtmlScan.h"

#include <gtest/gtest.h>

#include <map>

using namespace dialogtest;
using namespace testsupport;

namespace {

std::vector<std::string> ChildNames(const xml::Element& e)
{
    std::vector<std::string> names;
    for (const auto& c : e.ChildElements())
        names.push_back(c.Name());
    return names;
}

// The intermediate document's "options" element.
std::optional<xml::Element> OptionsOf(xml::Document& doc, const dialog::DialogPage& page)
{
    if (!doc.LoadXml(page.intermediateXml))
        return std::nullopt;
    for (const auto& c : doc.DocumentElement()->ChildElements())
        if (c.Name() == "options")
            return c;
    return std::nullopt;
}

dialog::StylesheetSource WithList(std::optional<std::string> list)
{
    auto s = dialog::StylesheetSource::Stored();
    s.list = [list] { return list; };
    return s;
}

} // namespace

// ---- options and pictures in the intermediate document ---------------------

TEST(DialogPageBuilder, OptionsOnAreListedUnderTheirOwnFixedNamesInFixedOrderAfterTheRootFolder)
{
    auto page = GalleryPage();
    struct Case {
        const char* what;
        dialog::DialogOptions options;
        std::vector<std::string> names;
    };
    std::vector<Case> cases = {
        { "all on", AllOptions(""), { "rootfolder", "grabflash", "grabqt", "grabrp", "grabmp", "grabpictures",
                                        "autoclose", "selectall", "grabcss", "grabscript" } },
        { "all off", {}, { "rootfolder" } },
    };
    for (auto [flag, name] : { std::pair { &dialog::DialogOptions::grabPictures, "grabpictures" },
             std::pair { &dialog::DialogOptions::grabQT, "grabqt" }, std::pair { &dialog::DialogOptions::grabRP, "grabrp" },
             std::pair { &dialog::DialogOptions::grabMP, "grabmp" },
             std::pair { &dialog::DialogOptions::grabScript, "grabscript" } }) {
        dialog::DialogOptions one;
        one.*flag = true;
        cases.push_back({ name, one, { "rootfolder", name } });
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto built = dialog::DialogPageBuilder().Build(*page, c.options, TestPictures());
        xml::Document doc;
        auto options = OptionsOf(doc, built);
        ASSERT_TRUE(options);
        EXPECT_EQ(ChildNames(*options), c.names);
        EXPECT_EQ(options->ChildElements()[0].Text(), "") << "an empty root folder stays empty";
        // The body's folder field is there, empty, for the user to fill.
        auto inputs = WithClass(ScanHtml(built.body), "qx-root");
        ASSERT_EQ(inputs.size(), 1u);
        EXPECT_EQ(inputs[0].Attr("value") ? *inputs[0].Attr("value") : "<none>", "");
    }
    dialog::DialogOptions folder;
    folder.rootFolder = "/tmp/x";
    xml::Document doc;
    auto options = OptionsOf(doc, dialog::DialogPageBuilder().Build(*page, folder, TestPictures()));
    ASSERT_TRUE(options);
    EXPECT_EQ(options->ChildElements()[0].Text(), "/tmp/x");
}

TEST(DialogPageBuilder, PicturesAndOptionsFollowTheFrameContentInOrder)
{
    auto page = GalleryPage();
    auto built = dialog::DialogPageBuilder().Build(*page, AllOptions(), TestPictures());
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(built.intermediateXml));
    auto names = ChildNames(*doc.DocumentElement());
    ASSERT_GE(names.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 5, names.end()),
              std::vector<std::string>({ "limage", "rimage", "okimage", "failimage", "options" }));
    auto children = doc.DocumentElement()->ChildElements();
    const auto pictures = TestPictures();
    EXPECT_EQ(children[children.size() - 5].Text(), pictures.left);
    EXPECT_EQ(children[children.size() - 2].Text(), pictures.fail);
}

// ---- the list stylesheet and the frame source pass --------------------------

TEST(DialogPageBuilder, ListDropsElementTreeKeepsFramesAndResolvesEveryAddress)
{
    auto page = GalleryPage();
    auto built = dialog::DialogPageBuilder().Build(*page, AllOptions(), TestPictures());
    ASSERT_TRUE(built.listApplied);
    EXPECT_NE(built.resourceXml.find("<HTMLDOM>"), std::string::npos);
    EXPECT_EQ(built.intermediateXml.find("HTMLDOM"), std::string::npos);
    // Relative addresses became absolute, with their relative forms.
    EXPECT_NE(built.intermediateXml.find("relsrc=\"img/sunset.jpg\" src=\"http://site.test/gallery/img/sunset.jpg\""),
              std::string::npos);
    // The nested frame and iframe resolve against their own frames.
    EXPECT_NE(built.intermediateXml.find("src=\"http://site.test/gallery/nav/left.html\""), std::string::npos);
    EXPECT_NE(built.intermediateXml.find("src=\"http://site.test/gallery/nav/ad.html\" iframe=\"\""), std::string::npos);
    EXPECT_NE(built.intermediateXml.find("src=\"http://site.test/gallery/nav/banner.png\""), std::string::npos);
    // Inline text is not carried, only its size and start.
    EXPECT_EQ(built.intermediateXml.find("console.log(greeting);\n"), std::string::npos);
    EXPECT_NE(built.intermediateXml.find("preview=\"var greeting = 'hello'; console.log(greeting);\""), std::string::npos)
        << built.intermediateXml;
}

TEST(DialogPageBuilder, ListStylesheetThatFailsLeavesRawDocumentAndAddsToACopy)
{
    auto page = GalleryPage();
    const std::optional<std::string> failing[] = {
        std::nullopt,                                  // does not unscramble
        std::string("<xsl:stylesheet version='1.0'"),  // does not load
        std::string("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                    "<xsl:template match='/'><xsl:no-such-instruction/></xsl:template></xsl:stylesheet>"), // does not run
    };
    const auto normal = dialog::DialogPageBuilder().Build(*page, AllOptions(), TestPictures());
    for (const auto& list : failing) {
        auto built = dialog::DialogPageBuilder(WithList(list)).Build(*page, AllOptions(), TestPictures());
        EXPECT_FALSE(built.listApplied);
        // The raw resource document went on, element tree and all.
        EXPECT_NE(built.intermediateXml.find("<HTMLDOM>"), std::string::npos);
        EXPECT_NE(built.intermediateXml.find("<failimage>"), std::string::npos);
        // The resource document itself never got the additions.
        EXPECT_EQ(built.resourceXml.find("limage"), std::string::npos);
        EXPECT_EQ(built.resourceXml.find("<options>"), std::string::npos);
        // The page stylesheet still makes the same dialog of it.
        EXPECT_FALSE(built.body.empty());
        EXPECT_EQ(WithClass(ScanHtml(built.body), "qx-item").size(), WithClass(ScanHtml(normal.body), "qx-item").size());
    }
}

TEST(DialogPageBuilder, BrokenPageStylesheetListOutputOrControlReadGivesNoBody)
{
    auto page = GalleryPage();
    auto source = dialog::StylesheetSource::Stored();
    source.page = [] { return std::optional<std::string>(); };
    EXPECT_TRUE(dialog::DialogPageBuilder(source).Build(*page, AllOptions(), TestPictures()).body.empty()) << "missing";
    source.page = [] { return std::optional<std::string>("<xsl:stylesheet"); };
    EXPECT_TRUE(dialog::DialogPageBuilder(source).Build(*page, AllOptions(), TestPictures()).body.empty()) << "broken";

    auto textList = dialog::DialogPageBuilder(WithList(std::string(
                        "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                        "<xsl:output method='text'/><xsl:template match='/'>not &lt;xml</xsl:template></xsl:stylesheet>")))
                        .Build(*page, AllOptions(), TestPictures());
    EXPECT_TRUE(textList.listApplied);
    EXPECT_TRUE(textList.body.empty()) << "list output that is no XML";

    html::EmbeddedControl broken;
    broken.kind = html::ControlKind::Flash;
    broken.source = html::Read<std::string>::Fail(E_UNEXPECTED);
    page->embeddedControls->push_back(std::move(broken));
    auto built = dialog::DialogPageBuilder().Build(*page, AllOptions(), TestPictures());
    EXPECT_TRUE(built.body.empty());
    EXPECT_FALSE(built.error.empty());
}

// ---- the body -----------------------------------------------------------------

TEST(DialogPageBuilder, PageWithoutResourcesStillGivesADialog)
{
    auto page = EmptyPage("http://site.test/empty.html");
    auto built = dialog::DialogPageBuilder().Build(*page, AllOptions(), TestPictures());
    ASSERT_FALSE(built.body.empty());
    auto all = ScanHtml(built.body);
    EXPECT_EQ(WithClass(all, "qx-item").size(), 0u);
    EXPECT_EQ(WithClass(all, "qx-panel").size(), 7u);
    EXPECT_EQ(WithClass(all, "qx-empty").size(), 7u);
    EXPECT_EQ(WithClass(all, "qx-primary").size(), 1u);
}

TEST(DialogPageBuilder, EveryResourceIsListedOnceUnderItsKindWithItsAbsoluteAddressTheSameEachBuild)
{
    auto page = GalleryPage();
    dialog::DialogPageBuilder builder;
    auto built = builder.Build(*page, AllOptions(), TestPictures());
    EXPECT_EQ(builder.Build(*page, AllOptions(), TestPictures()).body, built.body);
    KeepArtifact("gallery-body.html", built.body);
    auto all = ScanHtml(built.body);
    std::map<std::string, std::vector<std::string>> byKind;
    for (const auto& row : WithClass(all, "qx-item"))
        if (const std::string* url = row.Attr("data-url"))
            byKind[*row.Attr("data-type")].push_back(*url);
    EXPECT_EQ(byKind["pictures"],
              std::vector<std::string>({ "http://site.test/gallery/img/sunset.jpg", "http://site.test/gallery/img/logo.png?v=3",
                                         "https://cdn.test/pixel.gif", "http://site.test/gallery/nav/arrow.gif",
                                         "http://site.test/gallery/nav/banner.png" }));
    EXPECT_EQ(byKind["scripts"], std::vector<std::string>({ "http://site.test/gallery/js/app.js" }));
    EXPECT_EQ(byKind["stylesheets"], std::vector<std::string>({ "http://site.test/gallery/css/site.css" }));
    EXPECT_EQ(byKind["flash"], std::vector<std::string>({ "http://site.test/gallery/media/intro.swf" }));
    EXPECT_EQ(byKind["quicktime"], std::vector<std::string>({ "http://site.test/gallery/media/clip.mov" }));
    EXPECT_EQ(byKind["mediaplayer"], std::vector<std::string>({ "mms://stream.test/talk.asf" }));
    // An rtsp stream is shown but cannot be saved.
    EXPECT_EQ(byKind.count("realplayer"), 0u);
    // Groups: page and frame and iframe for pictures.
    std::vector<std::string> frameKinds;
    for (const auto& e : WithClass(all, "qx-frame-kind"))
        frameKinds.push_back(e.text);
    EXPECT_EQ(std::count(frameKinds.begin(), frameKinds.end(), "Frame"), 1);
    EXPECT_EQ(std::count(frameKinds.begin(), frameKinds.end(), "Inline frame"), 1);
    // Tab counts.
    std::map<std::string, std::string> counts;
    std::string kind;
    for (const auto& e : all) {
        if (e.Has("data-kind") && e.tag == "button")
            kind = *e.Attr("data-kind");
        else if (e.tag == "span" && e.Attr("class") && *e.Attr("class") == "qx-count" && !kind.empty()) {
            counts[kind] = e.text;
            kind.clear();
        }
    }
    EXPECT_EQ(counts["pictures"], "5");
    EXPECT_EQ(counts["scripts"], "2");
    EXPECT_EQ(counts["realplayer"], "1");
}

TEST(DialogPageBuilder, PicturesShowSizeDimensionsAndAThumbnail)
{
    auto page = GalleryPage();
    auto built = dialog::DialogPageBuilder().Build(*page, AllOptions(), TestPictures());
    auto all = ScanHtml(built.body);
    std::vector<std::string> dims, sizes, names;
    for (const auto& e : WithClass(all, "qx-dim"))
        dims.push_back(e.text);
    for (const auto& e : WithClass(all, "qx-size"))
        sizes.push_back(e.text);
    for (const auto& e : WithClass(all, "qx-name"))
        names.push_back(e.text);
    ASSERT_GE(dims.size(), 2u);
    EXPECT_EQ(dims[0], "640 \u00D7 480");
    ASSERT_GE(sizes.size(), 3u);
    EXPECT_EQ(sizes[0], "47.1 KB");
    EXPECT_EQ(sizes[1], "2 KB");
    EXPECT_EQ(sizes[2], "43 B");
    EXPECT_EQ(names[0], "sunset.jpg");
    EXPECT_EQ(names[1], "logo.png");
    int thumbnails = 0;
    for (const auto& e : all)
        if (e.tag == "img" && e.Has("loading"))
            ++thumbnails;
    EXPECT_EQ(thumbnails, 5);
}

TEST(DialogPageBuilder, CheckBoxesFollowSelectAllAndTheKindsGrabOption)
{
    auto page = GalleryPage();
    auto o = AllOptions();
    o.grabFlash = false;
    auto all = ScanHtml(dialog::DialogPageBuilder().Build(*page, o, TestPictures()).body);
    // Rows and their check boxes come in order; pair them up.
    std::vector<std::pair<std::string, const ScannedElement*>> rows;
    std::string type;
    for (const auto& e : all) {
        if (e.tag == "li" && e.Has("data-type"))
            type = *e.Attr("data-type");
        else if (e.tag == "input" && e.Attr("class") && *e.Attr("class") == "qx-pick")
            rows.emplace_back(type, &e);
    }
    ASSERT_FALSE(rows.empty());
    for (const auto& [kind, box] : rows) {
        if (kind == "flash") {
            EXPECT_TRUE(box->Has("disabled"));
            EXPECT_FALSE(box->Has("checked"));
        } else {
            EXPECT_FALSE(box->Has("disabled")) << kind;
            EXPECT_TRUE(box->Has("checked")) << kind;
        }
    }
    o.selectAll = false;
    all = ScanHtml(dialog::DialogPageBuilder().Build(*page, o, TestPictures()).body);
    int boxes = 0;
    for (const auto& e : all) {
        if (e.tag == "input" && e.Attr("class") && *e.Attr("class") == "qx-pick") {
            EXPECT_FALSE(e.Has("checked"));
            ++boxes;
        }
    }
    EXPECT_EQ(boxes, static_cast<int>(rows.size()));
}
