// A page controls every address, name, type, script and stylesheet text the
// dialog shows, and the dialog's page holds window.external: nothing the
// page supplies may become markup, script, a handler or a dangerous link.
#include "dialog/DialogPageBuilder.h"
#include "tests/dialog/DialogPages.h"
#include "tests/support/HtmlScan.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace dialogtest;
using namespace testsupport;

namespace {

std::string Trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r\n\f");
    return first == std::string::npos ? std::string() : Lower(s.substr(first));
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

class HostilePage : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = dialogtest::HostilePage();
        built = dialog::DialogPageBuilder().Build(*page, AllOptions(std::string(kMarkup)), TestPictures());
        ASSERT_FALSE(built.body.empty());
        KeepArtifact("hostile-body.html", built.body);
        elements = ScanHtml(built.body);
    }

    std::unique_ptr<html::Document> page;
    dialog::DialogPage built;
    std::vector<ScannedElement> elements;
};

} // namespace

TEST_F(HostilePage, BodyHasNoScriptStyleEmbeddingElementHandlerOrForeignStyle)
{
    const std::set<std::string> forbidden = { "script", "style", "iframe", "frame", "object", "embed", "base",
                                              "meta", "link", "form", "svg", "math", "template", "noscript" };
    const std::regex own("--qx-depth:[0-9]+");
    for (const auto& e : elements) {
        EXPECT_EQ(forbidden.count(e.tag), 0u) << "<" << e.tag << "> in the body";
        for (const auto& [name, value] : e.attributes)
            EXPECT_FALSE(StartsWith(name, "on")) << "<" << e.tag << " " << name << "=\"" << value << "\">";
        if (const std::string* style = e.Attr("style")) {
            EXPECT_TRUE(std::regex_match(*style, own)) << *style;
        }
    }
}

TEST_F(HostilePage, LinksAndPicturesUseOnlyHarmlessSchemes)
{
    const auto pictures = TestPictures();
    const std::set<std::string> ours = { pictures.left, pictures.right };
    int links = 0;
    for (const auto& e : elements) {
        for (const char* attr : { "href", "src", "action", "formaction", "xlink:href", "srcset", "poster", "data" }) {
            const std::string* v = e.Attr(attr);
            if (!v)
                continue;
            if (ours.count(*v))
                continue;
            const std::string t = Trimmed(*v);
            const bool link = e.tag == "a" && std::string(attr) == "href";
            const bool picture = e.tag == "img" && std::string(attr) == "src";
            ASSERT_TRUE(link || picture) << "<" << e.tag << " " << attr << "=\"" << *v << "\">";
            if (link) {
                ++links;
                EXPECT_TRUE(StartsWith(t, "http://") || StartsWith(t, "https://") || StartsWith(t, "ftp://")
                            || StartsWith(t, "file:") || StartsWith(t, "mms://"))
                    << *v;
            } else {
                EXPECT_TRUE(StartsWith(t, "http://") || StartsWith(t, "https://") || StartsWith(t, "file:")) << *v;
            }
        }
    }
    // The page's own address is an ordinary link.
    EXPECT_GE(links, 1);
}

TEST_F(HostilePage, HostileTextIsShownAsText)
{
    // Escaped, not dropped: what the page said is what the user reads.
    bool nameShown = false;
    bool folderKept = false;
    bool scriptPreviewShown = false;
    for (const auto& e : elements) {
        if (e.text.find("<script>alert(1)</script>") != std::string::npos)
            nameShown = true;
        if (e.text.find("</script><script>alert(7)</script>") != std::string::npos)
            scriptPreviewShown = true;
        if (e.tag == "input" && e.Attr("value") && *e.Attr("value") == kMarkup)
            folderKept = true;
    }
    EXPECT_TRUE(nameShown);
    EXPECT_TRUE(scriptPreviewShown);
    EXPECT_TRUE(folderKept);
}

TEST_F(HostilePage, UnsafeAddressesGetNoCheckBoxAndSafeOnesRoundTripExactly)
{
    bool quoted = false;
    for (const auto& row : WithClass(elements, "qx-item")) {
        if (const std::string* url = row.Attr("data-url")) {
            const std::string t = Trimmed(*url);
            EXPECT_TRUE(StartsWith(t, "http://") || StartsWith(t, "https://") || StartsWith(t, "ftp://")
                        || StartsWith(t, "file:") || StartsWith(t, "mms://"))
                << *url;
            // What the script reads back is the address itself, quotes and
            // all, so Save gets what the page listed.
            quoted = quoted || url->find("a.gif\" onerror=\"alert(6)") != std::string::npos;
        }
    }
    EXPECT_TRUE(quoted);
    // javascript:, data: and vbscript: resources are listed as not saveable.
    EXPECT_GE(WithClass(elements, "qx-pick-none").size(), 6u);
}

