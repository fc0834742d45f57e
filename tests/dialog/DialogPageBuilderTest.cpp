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

std::vector<std::string> Texts(const std::vector<ScannedElement>& all, const std::string& cls)
{
    std::vector<std::string> texts;
    for (const auto& e : WithClass(all, cls))
        texts.push_back(e.text);
    return texts;
}

dialog::DialogPage Build(const html::Document& page, const dialog::DialogOptions& options = AllOptions(),
                         dialog::StylesheetSource source = dialog::StylesheetSource::Stored())
{
    return dialog::DialogPageBuilder(std::move(source)).Build(page, options, TestPictures());
}

dialog::StylesheetSource WithList(std::optional<std::string> list)
{
    auto s = dialog::StylesheetSource::Stored();
    s.list = [list] { return list; };
    return s;
}

} // namespace

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
    dialog::DialogOptions folder;
    folder.rootFolder = "/tmp/x";
    cases.push_back({ "root folder", folder, { "rootfolder" } });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto built = Build(*page, c.options);
        xml::Document doc;
        ASSERT_TRUE(doc.LoadXml(built.intermediateXml));
        const auto options = doc.DocumentElement()->ChildElements().back();
        ASSERT_EQ(options.Name(), "options");
        EXPECT_EQ(ChildNames(options), c.names);
        EXPECT_EQ(options.ChildElements()[0].Text(), c.options.rootFolder);
        // The body has one folder field, holding the root folder.
        auto inputs = WithClass(ScanHtml(built.body), "qx-root");
        ASSERT_EQ(inputs.size(), 1u);
        EXPECT_EQ(inputs[0].Attr("value") ? *inputs[0].Attr("value") : "<none>", c.options.rootFolder);
    }
}

TEST(DialogPageBuilder, ListKeepsFramesWithResolvedAddressesThenPicturesAndOptionsAndDropsTheElementTree)
{
    auto page = GalleryPage();
    auto built = Build(*page);
    ASSERT_TRUE(built.listApplied);
    EXPECT_NE(built.resourceXml.find("<HTMLDOM>"), std::string::npos);
    EXPECT_EQ(built.intermediateXml.find("HTMLDOM"), std::string::npos);
    const std::string& xml = built.intermediateXml;
    // Relative addresses became absolute, with their relative forms; the
    // nested frame and iframe resolve against their own frames.
    for (const char* attributes : { "relsrc=\"img/sunset.jpg\" src=\"http://site.test/gallery/img/sunset.jpg\"",
             "src=\"http://site.test/gallery/nav/left.html\"", "src=\"http://site.test/gallery/nav/ad.html\" iframe=\"\"",
             "src=\"http://site.test/gallery/nav/banner.png\"",
             // Inline text is not carried, only its size and start.
             "preview=\"var greeting = 'hello'; console.log(greeting);\"" })
        EXPECT_NE(xml.find(attributes), std::string::npos) << attributes << "\n" << xml;
    EXPECT_EQ(xml.find("console.log(greeting);\n"), std::string::npos);
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(xml));
    auto children = doc.DocumentElement()->ChildElements();
    ASSERT_GE(children.size(), 5u);
    const std::vector<std::string> last { "limage", "rimage", "okimage", "failimage", "options" };
    const auto names = ChildNames(*doc.DocumentElement());
    EXPECT_EQ(std::vector<std::string>(names.end() - 5, names.end()), last);
    EXPECT_EQ(children[children.size() - 5].Text(), TestPictures().left);
    EXPECT_EQ(children[children.size() - 2].Text(), TestPictures().fail);
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
    const auto items = WithClass(ScanHtml(Build(*page).body), "qx-item").size();
    for (const auto& list : failing) {
        auto built = Build(*page, AllOptions(), WithList(list));
        EXPECT_FALSE(built.listApplied);
        // The raw resource document went on, element tree and all, and the
        // resource document itself never got the additions.
        EXPECT_NE(built.intermediateXml.find("<HTMLDOM>"), std::string::npos);
        EXPECT_NE(built.intermediateXml.find("<failimage>"), std::string::npos);
        EXPECT_EQ(built.resourceXml.find("limage"), std::string::npos);
        EXPECT_EQ(built.resourceXml.find("<options>"), std::string::npos);
        // The page stylesheet still makes the same dialog of it.
        EXPECT_EQ(WithClass(ScanHtml(built.body), "qx-item").size(), items);
    }
}

TEST(DialogPageBuilder, BrokenPageStylesheetListOutputOrControlReadGivesNoBody)
{
    auto page = GalleryPage();
    for (const auto& stylesheet : { std::optional<std::string>(), std::optional<std::string>("<xsl:stylesheet") }) {
        auto source = dialog::StylesheetSource::Stored();
        source.page = [stylesheet] { return stylesheet; };
        EXPECT_TRUE(Build(*page, AllOptions(), source).body.empty()) << stylesheet.value_or("missing");
    }
    auto textList = Build(*page, AllOptions(),
                          WithList(std::string("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                                               "<xsl:output method='text'/><xsl:template match='/'>not &lt;xml</xsl:template>"
                                               "</xsl:stylesheet>")));
    EXPECT_TRUE(textList.listApplied);
    EXPECT_TRUE(textList.body.empty()) << "list output that is no XML";

    html::EmbeddedControl broken;
    broken.kind = html::ControlKind::Flash;
    broken.source = html::Read<std::string>::Fail(E_UNEXPECTED);
    page->embeddedControls->push_back(std::move(broken));
    auto built = Build(*page);
    EXPECT_TRUE(built.body.empty());
    EXPECT_FALSE(built.error.empty());
}

TEST(DialogPageBuilder, PageWithoutResourcesStillGivesADialog)
{
    auto all = ScanHtml(Build(*EmptyPage("http://site.test/empty.html")).body);
    EXPECT_EQ(WithClass(all, "qx-item").size(), 0u);
    EXPECT_EQ(WithClass(all, "qx-panel").size(), 7u);
    EXPECT_EQ(WithClass(all, "qx-empty").size(), 7u);
    EXPECT_EQ(WithClass(all, "qx-primary").size(), 1u);
}

TEST(DialogPageBuilder, EveryResourceIsListedOnceUnderItsKindWithItsAbsoluteAddressAndPictureDetailsTheSameEachBuild)
{
    auto page = GalleryPage();
    auto built = Build(*page);
    EXPECT_EQ(Build(*page).body, built.body);
    auto all = ScanHtml(built.body);
    std::map<std::string, std::vector<std::string>> byKind;
    for (const auto& row : WithClass(all, "qx-item"))
        if (const std::string* url = row.Attr("data-url"))
            byKind[*row.Attr("data-type")].push_back(*url);
    // An rtsp stream is shown but cannot be saved: no "realplayer" row.
    const std::map<std::string, std::vector<std::string>> expected {
        { "pictures", { "http://site.test/gallery/img/sunset.jpg", "http://site.test/gallery/img/logo.png?v=3",
                        "https://cdn.test/pixel.gif", "http://site.test/gallery/nav/arrow.gif",
                        "http://site.test/gallery/nav/banner.png" } },
        { "scripts", { "http://site.test/gallery/js/app.js" } },
        { "stylesheets", { "http://site.test/gallery/css/site.css" } },
        { "flash", { "http://site.test/gallery/media/intro.swf" } },
        { "quicktime", { "http://site.test/gallery/media/clip.mov" } },
        { "mediaplayer", { "mms://stream.test/talk.asf" } },
    };
    EXPECT_EQ(byKind, expected);
    // Groups: page and frame and iframe for pictures.
    const auto frameKinds = Texts(all, "qx-frame-kind");
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
    // Pictures show their dimensions, size, name and a lazy thumbnail.
    const auto dims = Texts(all, "qx-dim"), sizes = Texts(all, "qx-size"), names = Texts(all, "qx-name");
    ASSERT_GE(dims.size(), 2u);
    ASSERT_GE(sizes.size(), 3u);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(dims[0], "640 \u00D7 480");
    EXPECT_EQ(std::vector<std::string>(sizes.begin(), sizes.begin() + 3), (std::vector<std::string> { "47.1 KB", "2 KB", "43 B" }));
    EXPECT_EQ(names[0], "sunset.jpg");
    EXPECT_EQ(names[1], "logo.png");
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& e) { return e.tag == "img" && e.Has("loading"); }), 5);
}

TEST(DialogPageBuilder, CheckBoxesFollowSelectAllAndTheKindsGrabOption)
{
    auto page = GalleryPage();
    auto o = AllOptions();
    o.grabFlash = false;
    std::vector<int> boxes;
    for (bool selectAll : { true, false }) {
        o.selectAll = selectAll;
        std::string type;
        boxes.push_back(0);
        for (const auto& e : ScanHtml(Build(*page, o).body)) {
            if (e.tag == "li" && e.Has("data-type"))
                type = *e.Attr("data-type");
            else if (e.tag == "input" && e.Attr("class") && *e.Attr("class") == "qx-pick") {
                ++boxes.back();
                EXPECT_EQ(e.Has("disabled"), type == "flash") << type;
                EXPECT_EQ(e.Has("checked"), selectAll && type != "flash") << type;
            }
        }
    }
    // Unselected rows keep their check boxes.
    EXPECT_GT(boxes[0], 0);
    EXPECT_EQ(boxes[1], boxes[0]);
}
