// The whole discovery chain over the sample site served on loopback: the
// static loader's model, the extractors, the frame source filter.
#include "discovery/ResourceDocument.h"
#include "platform/html/StaticPageLoader.h"
#include "platform/xml/Document.h"
#include "tests/support/SampleSiteServers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace QVXMLInfoExtractors;

namespace {

std::vector<xml::Element> ChildrenNamed(const xml::Element& parent, const std::string& name)
{
    std::vector<xml::Element> out;
    for (const xml::Element& child : parent.ChildElements())
        if (child.Name() == name)
            out.push_back(child);
    return out;
}

std::vector<std::string> Names(const xml::Element& parent)
{
    std::vector<std::string> out;
    for (const xml::Element& child : parent.ChildElements())
        out.push_back(child.Name());
    return out;
}

// Every element with a src attribute below `element`, depth first.
void CollectSrc(const xml::Element& element, std::vector<xml::Element>& out)
{
    for (const xml::Element& child : element.ChildElements()) {
        if (child.GetAttribute("src"))
            out.push_back(child);
        CollectSrc(child, out);
    }
}

} // namespace

TEST(SampleSiteDiscovery, FramesNestInOrderAfterTheFiveSectionsAndTheFilterLeavesNoRelativeSrc)
{
    const testsupport::SampleSiteServers servers;
    const auto Url = [&](const std::string& path) { return servers.Url(path); };
    html::LoadResult loaded = html::StaticPageLoader::Load(Url("/index.html"));
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const std::unique_ptr<html::Document> page = loaded.take();
    const ResourceDocumentResult result = BuildResourceDocument(*page);
    ASSERT_TRUE(result.ok()) << result.error;
    const std::string& text = result.text;
    const std::string filtered = FilterFrameSources(text);

    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(text)) << doc.LastError();
    EXPECT_EQ(text.rfind("<?xml version='1.0'?><frame src=\"" + Url("/index.html") + "\">", 0), 0u);
    auto top = *doc.DocumentElement();
    EXPECT_EQ(Names(top), (std::vector<std::string>{"HTMLDOM", "images", "scripts", "css", "objects", "frame", "frame"}));
    auto frames = ChildrenNamed(top, "frame");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].GetAttribute("src"), "main.html");
    EXPECT_EQ(frames[1].GetAttribute("src"), "frames/nested.html");
    EXPECT_FALSE(frames[0].GetAttribute("iframe"));

    // main.html: its own iframe, but not the one from the other origin.
    auto inMain = ChildrenNamed(frames[0], "frame");
    ASSERT_EQ(inMain.size(), 1u);
    EXPECT_EQ(inMain[0].GetAttribute("src"), "iframe.html");
    EXPECT_EQ(inMain[0].GetAttribute("iframe"), "");
    EXPECT_EQ(text.find("other/page.html\" iframe"), std::string::npos);

    auto inNested = ChildrenNamed(frames[1], "frame");
    ASSERT_EQ(inNested.size(), 2u);
    EXPECT_EQ(inNested[0].GetAttribute("src"), "left.html");
    EXPECT_EQ(inNested[1].GetAttribute("src"), "\xC3\xBC" "ber.html");

    // The sections of main.html.
    auto objects = ChildrenNamed(frames[0], "objects").at(0);
    EXPECT_EQ(Names(objects), (std::vector<std::string>{"qts", "flashes", "rps", "mps"}));
    EXPECT_EQ(ChildrenNamed(objects, "flashes").at(0).ChildElements().size(), 2u);
    EXPECT_EQ(ChildrenNamed(objects, "rps").at(0).ChildElements().size(), 2u);

    // The style block's text reads back unchanged.
    bool found = false;
    for (const xml::Element& item : ChildrenNamed(frames[0], "css").at(0).ChildElements())
        found = found || item.Text().find("/* \"quoted\" & <escaped> */") != std::string::npos;
    EXPECT_TRUE(found);
    // Attribute names XML rejects are kept as fail_attr.
    for (const char* name : {"1col", "[bind]", "@click"})
        EXPECT_NE(text.find(std::string("<fail_attr name=\"") + name + "\""), std::string::npos) << name;

    // After the filter no src inside a frame is relative.
    xml::Document filteredDoc;
    ASSERT_TRUE(filteredDoc.LoadXml(filtered)) << filteredDoc.LastError();
    const xml::Element root = *filteredDoc.DocumentElement();
    EXPECT_EQ(root.GetAttribute("src"), Url("/index.html"));
    EXPECT_FALSE(root.GetAttribute("relsrc"));
    std::vector<xml::Element> withSrc;
    CollectSrc(root, withSrc);
    ASSERT_GT(withSrc.size(), 20u);
    for (const xml::Element& e : withSrc) {
        const std::string src = *e.GetAttribute("src");
        if (src.empty())
            continue;
        EXPECT_TRUE(src.rfind("http://127.0.0.1:", 0) == 0) << e.Xml();
        // Same origin means same host and scheme here: both forms present.
        if (src.rfind(servers.site.BaseUrl(), 0) == 0 || src.rfind(servers.other.BaseUrl(), 0) == 0) {
            EXPECT_TRUE(e.GetAttribute("relsrc") || e.GetAttribute("relrootsrc")) << e.Xml();
        }
    }
    // The nested frame written with a non-ASCII name: resolved and decoded.
    EXPECT_NE(filtered.find("<frame relsrc=\"\xC3\xBC" "ber.html\" src=\"" + Url("/frames/\xC3\xBC" "ber.html") + "\">"),
              std::string::npos);
    EXPECT_NE(filtered.find("<frame relsrc=\"main.html\" src=\"" + Url("/main.html") + "\">"), std::string::npos);
}
