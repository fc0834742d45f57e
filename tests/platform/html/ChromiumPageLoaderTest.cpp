// The snapshot script in headless Chromium against the sample site served
// by two loopback servers (two origins). Skipped, with a message, where
// Chromium is not installed; CI installs it (scripts/install-deps.sh).
#include "platform/html/ChromiumPageLoader.h"
#include "platform/html/ChromiumProcess.h"
#include "platform/html/StaticPageLoader.h"
#include "tests/platform/html/DocumentWalk.h"
#include "tests/support/SampleSiteServers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <unistd.h>
#include <fstream>

using namespace html;
using testsupport::SourcePath;

namespace {

std::vector<std::string> CompleteSources(const Document& d)
{
    std::vector<std::string> out;
    for (const Image& i : *d.images) {
        if (*i.complete)
            out.push_back(*i.src);
    }
    return out;
}

bool Has(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

class ChromiumSampleSite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (ChromiumProcess::FindBrowser())
            s_servers = std::make_unique<testsupport::SampleSiteServers>();
    }
    static void TearDownTestSuite() { s_servers.reset(); }
    void SetUp() override
    {
        if (!ChromiumProcess::FindBrowser())
            GTEST_SKIP() << "Chromium is not installed (install the chromium package): browser tests skipped";
        ASSERT_TRUE(s_servers) << "the loopback servers did not start";
    }

    static std::string Url(const std::string& path) { return s_servers->Url(path); }

    static std::unique_ptr<Document> Rendered(const std::string& url)
    {
        LoadResult r = ChromiumPageLoader::Load(url);
        EXPECT_TRUE(r.ok()) << url << ": " << r.error();
        return r.ok() ? r.take() : std::make_unique<Document>();
    }

    static std::unique_ptr<testsupport::SampleSiteServers> s_servers;
};

std::unique_ptr<testsupport::SampleSiteServers> ChromiumSampleSite::s_servers;

} // namespace

TEST_F(ChromiumSampleSite, ScriptedPageIsReadAsTheBrowserShowsItWithinItsOrigin)
{
    auto live = Rendered(Url("/scripted.html"));
    const auto liveSources = CompleteSources(*live);
    // banner.webp is far below the first screen and loading="lazy": it loads once scrolled to.
    for (const char* src : { "images/logo.gif", "images/photo.jpg", "images/icon.png", "images/banner.webp" })
        EXPECT_TRUE(Has(liveSources, src)) << src;
    LoadResult markup = StaticPageLoader::Load(Url("/scripted.html"));
    ASSERT_TRUE(markup) << markup.error();
    const auto staticSources = CompleteSources(markup.document());
    EXPECT_TRUE(Has(staticSources, "images/logo.gif"));
    EXPECT_FALSE(Has(staticSources, "images/photo.jpg"));
    EXPECT_FALSE(Has(staticSources, "images/icon.png"));

    // Sizes and types: same origin, so the browser's own figures.
    for (const Image& i : *live->images) {
        if (*i.src == "images/photo.jpg") {
            EXPECT_EQ(*i.mimeType, "JPEG Image");
            EXPECT_EQ(*i.fileSize, std::to_string(std::filesystem::file_size(SourcePath("sample/site/images/photo.jpg"))));
            EXPECT_GT(*i.width, 0);
        }
    }
    // The style block the script added is a sheet of the live page.
    EXPECT_EQ(live->styleSheets->size(), markup.document().styleSheets->size() + 1);
    // Other-origin frames drop out, same-origin frames are read.
    ASSERT_EQ(htmltest::FrameLines(*live),
              (std::vector<std::string> { "iframe.html (iframe) -> " + Url("/iframe.html"),
                                          s_servers->OtherUrl("/other/page.html") + " (iframe) refused: other origin, E_ACCESSDENIED" }));
    EXPECT_TRUE(Has(CompleteSources(*(*live->frames)[0].DocumentOrNull()), "frames/corner.png"));

    // Elements carry only the attributes they were given: none of the browser's defaults.
    const auto imgs = htmltest::NodesNamed(live->documentElement.get(), "IMG");
    ASSERT_GE(imgs.size(), 3u);
    auto names = [](const Node* n) {
        std::vector<std::string> out;
        for (const Attribute& a : n->attributes) {
            EXPECT_TRUE(a.specified);
            out.push_back(a.nodeName);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(names(imgs[0]), (std::vector<std::string> { "alt", "src" })); // as in the markup
    EXPECT_EQ(names(imgs[1]), (std::vector<std::string> { "alt", "class", "src" })); // as the script set them
    EXPECT_EQ(live->documentElement->nodeName, "HTML");
}

TEST_F(ChromiumSampleSite, StaticPageReadsAsTheStaticLoaderReadsIt)
{
    auto live = Rendered(Url("/main.html"));
    LoadResult markup = StaticPageLoader::Load(Url("/main.html"));
    ASSERT_TRUE(markup) << markup.error();
    const Document& s = markup.document();
    // One line per entry, so each collection is one comparison.
    auto lines = [](const Document& d) {
        std::vector<std::string> out;
        for (const Image& i : *d.images) {
            // A browser calls a picture cut short loaded (it shows the part
            // that arrived); the static probe wants the whole stream.
            const std::string state = *i.complete ? " " + *i.fileSize + " " + *i.mimeType : " incomplete";
            out.push_back(*i.src + " " + *i.href + (*i.src == "images/truncated.png" ? "" : state));
        }
        for (const Script& x : *d.scripts)
            out.push_back("script " + *x.src + " " + *x.text);
        for (const Frame& f : *d.frames)
            out.push_back("frame " + f.frameElement->src + " refusal " + std::to_string(static_cast<int>(f.refusal)));
        for (const EmbeddedControl& c : *d.embeddedControls)
            out.push_back(std::string(to_string(c.kind)) + " " + *c.source);
        return out;
    };
    EXPECT_EQ(lines(*live), lines(s));
    for (const Document* d : std::initializer_list<const Document*> { live.get(), &s }) {
        for (const Image& i : *d->images) {
            if (*i.src == "images/truncated.png") {
                EXPECT_EQ(*i.complete, d == live.get());
            }
        }
    }
    std::vector<std::string> liveSheets;
    for (const StyleSheet& st : *live->styleSheets)
        liveSheets.push_back(*st.href);
    for (const StyleSheet& st : *s.styleSheets) {
        if (*st.href != "css/missing.css") { // a sheet that failed to load: see the loader notes
            EXPECT_TRUE(Has(liveSheets, *st.href)) << *st.href;
        }
    }
}

TEST_F(ChromiumSampleSite, ErrorPagesAndMissingBrowserAreReportedInOneLine)
{
    LoadResult missing = ChromiumPageLoader::Load(Url("/status/404"));
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("404"), std::string::npos) << missing.error();

    LoadResult picture = ChromiumPageLoader::Load(Url("/images/logo.gif"));
    ASSERT_FALSE(picture);
    EXPECT_NE(picture.error().find("not an HTML document"), std::string::npos) << picture.error();

    testsupport::ScopedEnv none("QUILLORY_CHROMIUM", "/nonexistent/chromium");
    LoadResult noBrowser = ChromiumPageLoader::Load(Url("/main.html"));
    ASSERT_FALSE(noBrowser);
    EXPECT_EQ(noBrowser.error(), kChromiumMissing);
}

TEST_F(ChromiumSampleSite, APageThatNeverFinishesLoadingIsReadWhenTheTimeIsUp)
{
    ChromiumOptions options;
    options.pageTimeout = std::chrono::milliseconds(3000);
    options.settle = std::chrono::milliseconds(200);
    // A page whose picture never arrives keeps its load event back.
    testsupport::TempDir dir;
    const auto page = dir / "stuck.html";
    std::ofstream(page) << "<!DOCTYPE html><p>waiting</p><img src=\"" << Url("/never-answers") << "\">";
    const auto started = std::chrono::steady_clock::now();
    LoadResult r = ChromiumPageLoader::Load(page.string(), options);
    ASSERT_TRUE(r) << r.error();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    ASSERT_EQ(r.document().images->size(), 1u);
    EXPECT_FALSE(*(*r.document().images)[0].complete);
    EXPECT_TRUE(std::any_of(r.document().notes.begin(), r.document().notes.end(),
                            [](const std::string& n) { return n.find("not finished loading") != std::string::npos; }));
}

// The unpacked extension as a user loads it: Chromium accepts its manifest,
// starts its service worker, and gives it the id the native-messaging
// manifests allow (derived from the manifest's public key).
TEST(ChromiumExtension, LoadsUnpackedWithTheIdTheHostManifestsAllow)
{
    const auto browser = ChromiumProcess::FindBrowser();
    if (!browser)
        GTEST_SKIP() << "Chromium is not installed (install the chromium package): browser tests skipped";
    std::string error;
    auto process = ChromiumProcess::Start(*browser,
                                          { "--disable-features=DisableLoadExtensionCommandLineSwitch",
                                            "--load-extension=" + SourcePath("extension").string() },
                                          error);
    ASSERT_TRUE(process) << error;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    std::string worker;
    for (int id = 1; worker.empty() && std::chrono::steady_clock::now() < until; ++id) {
        ASSERT_TRUE(process->Send(R"({"id":)" + std::to_string(id) + R"(,"method":"Target.getTargets"})", until));
        for (;;) {
            auto m = process->Receive(until, 16u << 20);
            ASSERT_TRUE(m) << "the browser did not answer: " << process->lastError();
            auto j = nlohmann::json::parse(*m, nullptr, false);
            if (!j.is_object() || j.value("id", 0) != id)
                continue;
            for (const auto& t : j["result"]["targetInfos"]) {
                if (t.value("type", "") == "service_worker")
                    worker = t.value("url", "");
            }
            break;
        }
        if (worker.empty())
            usleep(300'000);
    }
    EXPECT_EQ(worker, "chrome-extension://giofkconlhinbomchjddogpdcjiehcgn/background.js");
}
