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

bool HasScheme(const std::string& value, std::initializer_list<const char*> schemes)
{
    const auto first = value.find_first_not_of(" \t\r\n\f");
    const std::string v = first == std::string::npos ? std::string() : Lower(value.substr(first));
    return std::any_of(schemes.begin(), schemes.end(), [&](const char* s) { return v.rfind(s, 0) == 0; });
}

class HostilePage : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = dialogtest::HostilePage();
        built = dialog::DialogPageBuilder().Build(*page, AllOptions(std::string(kMarkup)), TestPictures());
        ASSERT_FALSE(built.body.empty());
        elements = ScanHtml(built.body);
    }

    std::unique_ptr<html::Document> page;
    dialog::DialogPage built;
    std::vector<ScannedElement> elements;
};

} // namespace

TEST_F(HostilePage, BodyHasNoScriptHandlerForeignStyleOrLinkOtherThanHarmlessSchemes)
{
    const std::set<std::string> forbidden = { "script", "style", "iframe", "frame", "object", "embed", "base",
                                              "meta", "link", "form", "svg", "math", "template", "noscript" };
    const std::regex own("--qx-depth:[0-9]+");
    const std::set<std::string> ours = { TestPictures().left, TestPictures().right };
    int links = 0;
    for (const auto& e : elements) {
        EXPECT_EQ(forbidden.count(e.tag), 0u) << "<" << e.tag << "> in the body";
        for (const auto& [name, value] : e.attributes)
            EXPECT_NE(name.rfind("on", 0), 0u) << "<" << e.tag << " " << name << "=\"" << value << "\">";
        if (const std::string* style = e.Attr("style")) {
            EXPECT_TRUE(std::regex_match(*style, own)) << *style;
        }
        for (const std::string attr : { "href", "src", "action", "formaction", "xlink:href", "srcset", "poster", "data" }) {
            const std::string* v = e.Attr(attr);
            if (!v || ours.count(*v))
                continue;
            const bool link = e.tag == "a" && attr == "href";
            ASSERT_TRUE(link || (e.tag == "img" && attr == "src")) << "<" << e.tag << " " << attr << "=\"" << *v << "\">";
            links += link;
            EXPECT_TRUE(link ? HasScheme(*v, { "http://", "https://", "ftp://", "file:", "mms://" })
                             : HasScheme(*v, { "http://", "https://", "file:" })) << *v;
        }
    }
    // The page's own address is an ordinary link.
    EXPECT_GE(links, 1);
}

TEST_F(HostilePage, HostileTextIsShownAsTextAndOnlySafeAddressesAreSaveableExactlyAsListed)
{
    // Escaped, not dropped: what the page said is what the user reads.
    const auto shown = [&](const char* text) {
        return std::any_of(elements.begin(), elements.end(), [&](const auto& e) { return e.text.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(shown("<script>alert(1)</script>"));
    EXPECT_TRUE(shown("</script><script>alert(7)</script>"));
    EXPECT_TRUE(std::any_of(elements.begin(), elements.end(),
                            [](const auto& e) { return e.tag == "input" && e.Attr("value") && *e.Attr("value") == kMarkup; }));
    bool quoted = false;
    for (const auto& row : WithClass(elements, "qx-item")) {
        if (const std::string* url = row.Attr("data-url")) {
            EXPECT_TRUE(HasScheme(*url, { "http://", "https://", "ftp://", "file:", "mms://" })) << *url;
            // What the script reads back is the address itself, quotes and
            // all, so Save gets what the page listed.
            quoted = quoted || url->find("a.gif\" onerror=\"alert(6)") != std::string::npos;
        }
    }
    EXPECT_TRUE(quoted);
    // javascript:, data: and vbscript: resources are listed as not saveable.
    EXPECT_GE(WithClass(elements, "qx-pick-none").size(), 6u);
}
