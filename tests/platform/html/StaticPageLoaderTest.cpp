// The static loader against the sample site served on loopback by two
// servers (two origins), and against the site server's hostile paths.
#include "platform/html/StaticPageLoader.h"
#include "platform/html/Url.h"
#include "tests/platform/html/DocumentWalk.h"
#include "tests/support/SampleSiteServers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace html;
using testsupport::PythonServer;
using testsupport::SourcePath;
using testsupport::SiteServerArgs;
using testsupport::SiteServerScript;

namespace {

using Lines = std::vector<std::string>;

std::string Encode(std::string_view text)
{
    std::string out;
    for (unsigned char b : text) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        out += std::isalnum(b) || std::strchr("-_.", b) ? std::string(1, static_cast<char>(b)) : std::string(hex);
    }
    return out;
}

const Document& FrameDocument(const Document& doc, std::size_t i)
{
    static const Document kEmpty;
    if (i >= doc.frames->size() || !(*doc.frames)[i].DocumentOrNull()) {
        ADD_FAILURE() << "frame " << i << " of " << doc.URL << " has no document";
        return kEmpty;
    }
    return *(*doc.frames)[i].DocumentOrNull();
}

const Image* FindImage(const Document& doc, std::string_view alt)
{
    // The alt text is only in the element tree; pictures are matched by
    // position against the IMG elements of the tree.
    const auto imgs = htmltest::NodesNamed(doc.documentElement.get(), "IMG");
    for (std::size_t i = 0; i < imgs.size() && i < doc.images->size(); ++i) {
        const Attribute* a = imgs[i]->FindAttribute("alt");
        if (a && a->nodeValue == alt)
            return &(*doc.images)[i];
    }
    ADD_FAILURE() << "no picture with alt \"" << alt << "\" in " << doc.URL;
    return nullptr;
}

std::string FileText(const std::string& relative)
{
    std::ifstream in(SourcePath("sample/site/" + relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

LoadOptions ShortLimits()
{
    LoadOptions o;
    o.connectTimeout = std::chrono::milliseconds(1000);
    o.transferTimeout = std::chrono::milliseconds(1000);
    o.totalTimeout = std::chrono::milliseconds(20'000);
    return o;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class SampleSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_servers = std::make_unique<testsupport::SampleSiteServers>(); }
    static void TearDownTestSuite() { s_servers.reset(); }
    void SetUp() override { ASSERT_TRUE(s_servers) << "the loopback servers did not start"; }

    static std::string Url(const std::string& path) { return s_servers->Url(path); }
    static std::string OtherUrl(const std::string& path) { return s_servers->OtherUrl(path); }

    static std::unique_ptr<Document> MustLoad(const std::string& url, const LoadOptions& o = {})
    {
        LoadResult r = StaticPageLoader::Load(url, o);
        EXPECT_TRUE(r.ok()) << url << ": " << r.error();
        return r.ok() ? r.take() : std::make_unique<Document>();
    }

    static std::unique_ptr<testsupport::SampleSiteServers> s_servers;
};

std::unique_ptr<testsupport::SampleSiteServers> SampleSite::s_servers;

TEST_F(SampleSite, FramesetPageOwnsItsFrameAndNestedFrameDocuments)
{
    auto doc = MustLoad(Url("/index.html"));
    EXPECT_EQ(doc->URL, Url("/index.html"));
    ASSERT_EQ(htmltest::FrameLines(*doc),
              (Lines { "main.html (frame) -> " + Url("/main.html"), "frames/nested.html (frame) -> " + Url("/frames/nested.html") }));
    const Document& nested = FrameDocument(*doc, 1);
    // The hosting element's src stays as written; the document address is encoded.
    ASSERT_EQ(htmltest::FrameLines(nested), (Lines { "left.html (frame) -> " + Url("/frames/left.html"),
                                                     "\xC3\xBC" "ber.html (frame) -> " + Url("/frames/%C3%BCber.html") }));
    const Image* inRight = FindImage(FrameDocument(nested, 1), "Gr\xC3\xB6\xC3\x9F" "e");
    ASSERT_TRUE(inRight);
    EXPECT_TRUE(*inRight->complete);
}

TEST_F(SampleSite, OtherOriginFramesAreRefusedEvenAfterARedirectSameOriginIframeIsRead)
{
    auto doc = MustLoad(Url("/main.html"));
    ASSERT_EQ(htmltest::FrameLines(*doc), (Lines { "iframe.html (iframe) -> " + Url("/iframe.html"),
                                                   OtherUrl("/other/page.html") + " (iframe) refused: other origin, E_ACCESSDENIED" }));
    EXPECT_NE((*doc->frames)[1].note.find(OtherUrl("/other/page.html")), std::string::npos) << (*doc->frames)[1].note;
    auto hop = MustLoad(Url("/gen/frames?count=1&src=" + Encode("/redirect?to=" + Encode(OtherUrl("/iframe.html")))));
    const Lines lines = htmltest::FrameLines(*hop);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("refused: other origin, E_ACCESSDENIED")) << lines[0];
}

TEST_F(SampleSite, FrameShowingAnErrorPageOrAPictureStillHasADocumentAndAddressesFollowRedirects)
{
    // The browser shows the server's error page, or the picture, in the
    // frame: a same-origin document the page may read.
    auto errorPage = MustLoad(Url("/gen/frames?count=1&src=/status/404"));
    const Document& shown = FrameDocument(*errorPage, 0);
    EXPECT_EQ(shown.URL, Url("/status/404"));
    ASSERT_TRUE(shown.documentElement);
    EXPECT_EQ(shown.documentElement->childNodes.back()->childNodes.front()->nodeName, "H1");
    auto picture = MustLoad(Url("/gen/frames?count=1&src=/not-html"));
    const Document& gif = FrameDocument(*picture, 0);
    EXPECT_EQ(gif.URL, Url("/not-html"));
    ASSERT_FALSE(gif.notes.empty());
    EXPECT_NE(gif.notes[0].find("image/gif"), std::string::npos) << gif.notes[0];
    auto blank = MustLoad(Url("/gen/frames?count=1&src=about:blank"));
    EXPECT_EQ(FrameDocument(*blank, 0).URL, "about:blank");

    // The page's address is the one after redirects; relative addresses resolve against it.
    auto moved = MustLoad(Url("/redirect?to=/iframe.html"));
    EXPECT_EQ(moved->URL, Url("/iframe.html"));
    ASSERT_EQ(moved->images->size(), 1u);
    EXPECT_EQ(*(*moved->images)[0].href, Url("/frames/corner.png"));
    EXPECT_TRUE(*(*moved->images)[0].complete);
}

TEST_F(SampleSite, PicturesAreCompleteOnlyWhenFetchedAndReallyPicturesSizedByAttributesElseHeader)
{
    auto doc = MustLoad(Url("/main.html"));
    struct Case {
        const char* alt;
        bool complete;
        const char* mime;
        int width, height;
        std::string fileSize; // "?" where the case does not say
    } cases[] = {
        { "logo", true, "GIF Image", 88, 31, std::to_string(FileText("images/logo.gif").size()) },
        { "photo", true, "JPEG Image", 60, 40, "?" }, // both attributes, picture is 120x80
        { "the same logo, half as wide", true, "GIF Image", 44, 16, "?" }, // height kept in proportion
        { "icon", true, "PNG Image", 32, 32, "?" },
        { "banner", true, "WebP Image", 64, 16, "?" },
        { "button", true, "Bitmap Image", 24, 12, "?" },
        { "site icon", true, "Icon", 16, 16, "?" },
        { "from the second origin", true, "GIF Image", -1, -1, "?" },
        { "missing", false, "", 10, 10, "" }, // a failed fetch has no byte count
        { "no source at all", false, "", -1, -1, "" },
        // A fetched body has its byte count even when it is no picture.
        { "text named like a picture", false, "", 0, 0, std::to_string(FileText("images/not-a-picture.gif").size()) },
        { "cut short", false, "", -1, -1, "?" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alt);
        const Image* img = FindImage(*doc, c.alt);
        ASSERT_TRUE(img);
        EXPECT_TRUE(img->complete.ok());
        EXPECT_EQ(*img->complete, c.complete);
        EXPECT_EQ(*img->mimeType, c.mime);
        if (c.width >= 0) {
            EXPECT_EQ(std::pair(*img->width, *img->height), std::pair(c.width, c.height));
        }
        if (c.fileSize != "?") {
            EXPECT_EQ(*img->fileSize, c.fileSize);
        }
    }
    const Image* noSrc = FindImage(*doc, "no source at all");
    EXPECT_TRUE(noSrc->src.ok());
    EXPECT_EQ(*noSrc->src, "");
}

TEST_F(SampleSite, DuplicatedPicturesAreListedTwiceButFetchedOnceAndNonAsciiAddressesAreUtf8)
{
    auto doc = MustLoad(Url("/main.html"));
    const Image* encoded = FindImage(*doc, "Gr\xC3\xB6\xC3\x9F" "e, encoded");
    const Image* typed = FindImage(*doc, "Gr\xC3\xB6\xC3\x9F" "e, as typed");
    ASSERT_TRUE(encoded && typed);
    EXPECT_EQ(*typed->src, "images/bilder/gr\xC3\xB6\xC3\x9F" "e.gif"); // as written
    EXPECT_EQ(*typed->href, Url("/images/bilder/gr%C3%B6%C3%9Fe.gif"));
    EXPECT_EQ(*encoded->href, *typed->href);
    EXPECT_TRUE(*typed->complete);
    EXPECT_EQ(*typed->width, 10);

    PythonServer logged(SiteServerScript(), SiteServerArgs({ "--log-requests" }));
    LoadResult r = StaticPageLoader::Load(logged.BaseUrl() + "/main.html");
    ASSERT_TRUE(r.ok()) << r.error();
    int logoEntries = 0;
    for (const Image& img : *r.document().images)
        logoEntries += *img.src == "images/logo.gif";
    EXPECT_EQ(logoEntries, 2);
    int logoFetches = 0;
    int sizeFetches = 0;
    while (auto line = logged.ReadLine(std::chrono::milliseconds(300))) {
        logoFetches += *line == "REQUEST GET /images/logo.gif";
        sizeFetches += *line == "REQUEST GET /images/bilder/gr%C3%B6%C3%9Fe.gif";
    }
    EXPECT_EQ(logoFetches, 1);
    EXPECT_EQ(sizeFetches, 1) << "written encoded and as typed, it is one address";
}

TEST_F(SampleSite, SheetsScriptsControlsAndElementTreeAreWhatABrowserExposes)
{
    auto doc = MustLoad(Url("/main.html"));
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    Pairs sheets, scripts;
    for (const StyleSheet& s : *doc->styleSheets)
        sheets.emplace_back(*s.href, *s.cssText);
    for (const Script& s : *doc->scripts)
        scripts.emplace_back(*s.src, *s.text);
    // The icon link is no stylesheet; one that failed to load is empty.
    ASSERT_EQ(sheets.size(), 4u);
    EXPECT_EQ(Pairs(sheets.begin(), sheets.begin() + 3),
              (Pairs { { "css/site.css", FileText("css/site.css") }, { "css/print.css", FileText("css/print.css") }, { "css/missing.css", "" } }));
    EXPECT_EQ(sheets[3].first, "");
    EXPECT_NE(sheets[3].second.find("p > a[href^=\"http\"]"), std::string::npos) << sheets[3].second;
    // The text property is the inline code, not the file.
    EXPECT_EQ(scripts, (Pairs { { "", "var ready = 1 < 2 && \"yes\" !== 'no';" }, { "scripts/app.js", "" }, { "scripts/empty.js", "" }, { "", "" } }));

    ASSERT_TRUE(doc->embeddedControls.ok());
    std::vector<std::pair<ControlKind, std::string>> controls;
    for (const EmbeddedControl& c : *doc->embeddedControls)
        controls.emplace_back(c.kind, c.source.ok() ? *c.source : "<no answer>");
    EXPECT_EQ(controls, (std::vector<std::pair<ControlKind, std::string>> {
                            { ControlKind::Flash, "media/intro.swf" }, // <object> with its twin <embed> inside
                            { ControlKind::Flash, "media/intro.swf" }, // a lone <embed>, by extension
                            { ControlKind::QuickTime, "media/clip.mov" },
                            { ControlKind::RealPlayer, "media/song.rm" },
                            { ControlKind::RealPlayer, "<no answer>" }, // a console without a source
                            { ControlKind::MediaPlayer, "media/talk.wmv" }, // FileName param
                            { ControlKind::MediaPlayer, "media/talk.wmv" }, // a lone <embed>, by type
                        }));

    ASSERT_TRUE(doc->documentElement);
    const Node& html = *doc->documentElement;
    EXPECT_EQ(html.nodeName, "HTML");
    ASSERT_TRUE(html.FindAttribute("lang"));
    EXPECT_EQ(html.FindAttribute("lang")->nodeValue, "en");
    EXPECT_TRUE(html.FindAttribute("lang")->specified);
    std::vector<std::string> names;
    for (const auto& c : html.childNodes)
        names.push_back(c->nodeName);
    EXPECT_EQ(names, (std::vector<std::string> { "HEAD", "#text", "BODY" }));
    const Node& body = *html.childNodes.back();
    EXPECT_TRUE(std::any_of(body.childNodes.begin(), body.childNodes.end(), [](const auto& c) { return c->nodeName == "#comment"; }));
    const auto divs = htmltest::NodesNamed(&body, "DIV");
    ASSERT_FALSE(divs.empty());
    std::vector<std::string> attrs;
    for (const Attribute& a : divs.back()->attributes)
        attrs.push_back(a.nodeName + "=" + a.nodeValue);
    EXPECT_EQ(attrs, (std::vector<std::string> { "1col=first", "[bind]=value", "@click=go()", "data-ok=fine" }));
}

TEST_F(SampleSite, SelfFramingPageStopsAtTheDepthLimit)
{
    LoadOptions o;
    o.maxFrameDepth = 3;
    auto doc = MustLoad(Url("/self.html"), o);
    const Document* d = doc.get();
    int levels = 0;
    while (d->frames->size() == 1 && (*d->frames)[0].DocumentOrNull()) {
        d = (*d->frames)[0].DocumentOrNull();
        ++levels;
    }
    EXPECT_EQ(levels, 3);
    EXPECT_EQ(htmltest::FrameLines(*d), Lines { "self.html (iframe) refused: depth limit, E_ABORT" });
}

TEST_F(SampleSite, NetworkPageCannotReadOrRedirectIntoLocalFiles)
{
    std::string local = FileUrlFromPath(SourcePath("sample/site/images/logo.gif"));
    auto doc = MustLoad(Url("/gen/images?count=1&src=" + Encode(local)));
    ASSERT_EQ(doc->images->size(), 1u);
    EXPECT_FALSE(*(*doc->images)[0].complete);
    EXPECT_EQ(*(*doc->images)[0].fileSize, "");
    auto framed = MustLoad(Url("/gen/frames?count=1&src=" + Encode(FileUrlFromPath(SourcePath("sample/site/iframe.html")))));
    ASSERT_EQ(framed->frames->size(), 1u);
    EXPECT_FALSE((*framed->frames)[0].DocumentOrNull());
    std::string target = FileUrlFromPath(SourcePath("sample/site/main.html"));
    LoadResult r = StaticPageLoader::Load(Url("/redirect?to=" + Encode(target)));
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("redirected to an address that may not be followed: " + target), std::string::npos)
        << r.error();
}

TEST_F(SampleSite, LoadErrorsAreClearOneLineTexts)
{
    // A port that was just free: nothing listens there.
    std::optional<int> port;
    {
        PythonServer gone(SiteServerScript(), { "--lifetime", "30" });
        port = gone.port();
    }
    const std::pair<std::string, std::string> cases[] = {
        { Url("/status/404"), "HTTP status 404 (Not Found)" },
        { Url("/status/500"), "HTTP status 500" },
        { Url("/not-html"), "not an HTML document: " + Url("/not-html") + " is image/gif" },
        { Url("/redirect-loop"), "more than 10 redirects" },
        { "http://[::1", "malformed address" },
        { "gopher://127.0.0.1/x", "unsupported address scheme \"gopher\"" },
        { "/no/such/page.html", "no such file: /no/such/page.html" },
        { SourcePath("sample/site").string(), "not a file" },
        { "", "no address given" },
        { "http://127.0.0.1:" + std::to_string(*port) + "/", "cannot reach host" },
    };
    for (const auto& [input, expected] : cases) {
        LoadResult r = StaticPageLoader::Load(input, ShortLimits());
        ASSERT_FALSE(r.ok()) << input;
        EXPECT_NE(r.error().find(expected), std::string::npos) << input << " -> " << r.error();
        EXPECT_EQ(r.error().find('\n'), std::string::npos) << r.error();
    }
}

TEST(StaticPageLoader, LocalFilesLoadByPathOrAddressWhateverTheirName)
{
    std::string path = SourcePath("sample/site/main.html").string();
    LoadResult byPath = StaticPageLoader::Load(path);
    ASSERT_TRUE(byPath.ok()) << byPath.error();
    const Document& doc = byPath.document();
    EXPECT_EQ(doc.URL, FileUrlFromPath(path));
    // Pictures and sheets of a local page are read from their files.
    EXPECT_EQ(*(*doc.images)[0].width, 88);
    EXPECT_EQ(*(*doc.styleSheets)[0].cssText, FileText("css/site.css"));
    // Unreplaced, the second origin's placeholder is a missing local page.
    const Lines frames = htmltest::FrameLines(doc);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], "iframe.html (iframe) -> " + FileUrlFromPath(SourcePath("sample/site/iframe.html")));
    EXPECT_NE(frames[1].find("refused: load failed"), std::string::npos) << frames[1];
    LoadResult byUrl = StaticPageLoader::Load(FileUrlFromPath(path));
    ASSERT_TRUE(byUrl.ok()) << byUrl.error();
    EXPECT_EQ(byUrl.document().URL, doc.URL);

    testsupport::TempDir dir;
    std::filesystem::path page = dir / "m\xC3\xA4rz seite.html";
    std::filesystem::copy_file(SourcePath("sample/site/images/icon.png"), dir / "b i.png");
    std::ofstream(page) << "<html><body><img src=\"b%20i.png\"><img src=\"b i.png\"></body></html>";
    LoadResult r = StaticPageLoader::Load(page.string());
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_NE(r.document().URL.find("m%C3%A4rz%20seite.html"), std::string::npos) << r.document().URL;
    ASSERT_EQ(r.document().images->size(), 2u);
    EXPECT_TRUE(*(*r.document().images)[0].complete);
    EXPECT_TRUE(*(*r.document().images)[1].complete);
    // A relative name that looks like "scheme:rest" is still a file when one exists.
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::ofstream("notes:v2.html") << "<p>colon</p>";
    LoadResult colon = StaticPageLoader::Load("notes:v2.html");
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(colon.ok()) << colon.error();
    EXPECT_NE(colon.document().URL.find("/notes:v2.html"), std::string::npos) << colon.document().URL;
}

// Hostile servers: every case ends, within its configured limits, with a
// clear outcome.
class HostileServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<PythonServer>(SiteServerScript(), SiteServerArgs()); }
    static void TearDownTestSuite() { s_server.reset(); }
    void SetUp() override { ASSERT_TRUE(s_server) << "the loopback server did not start"; }
    static std::string Url(const std::string& path) { return s_server->BaseUrl() + path; }
    static std::unique_ptr<PythonServer> s_server;
};

std::unique_ptr<PythonServer> HostileServer::s_server;

TEST_F(HostileServer, SilentServerTimesOutThePageFramesAndPicturesAndTheLoadDeadlineAbandonsTheQueue)
{
    auto start = std::chrono::steady_clock::now();
    LoadResult page = StaticPageLoader::Load(Url("/never-answers"), ShortLimits());
    ASSERT_FALSE(page.ok());
    EXPECT_NE(page.error().find("no complete answer within 1 s"), std::string::npos) << page.error();
    EXPECT_LT(SecondsSince(start), 10.0);
    LoadResult frames = StaticPageLoader::Load(Url("/gen/frames?count=12&src=/never-answers%3Fa"), ShortLimits());
    ASSERT_TRUE(frames.ok()) << frames.error();
    for (const Frame& f : *frames.document().frames) {
        EXPECT_EQ(f.refusal, FrameRefusal::LoadFailed);
        EXPECT_NE(f.note.find("no complete answer"), std::string::npos) << f.note;
    }
    LoadResult pictures = StaticPageLoader::Load(Url("/gen/images?count=12&src=/never-answers"), ShortLimits());
    ASSERT_TRUE(pictures.ok()) << pictures.error();
    for (const Image& img : *pictures.document().images)
        EXPECT_FALSE(*img.complete);
    EXPECT_LT(SecondsSince(start), 30.0);

    LoadOptions o;
    o.transferTimeout = std::chrono::seconds(60);
    o.totalTimeout = std::chrono::milliseconds(1500);
    o.maxParallel = 2;
    start = std::chrono::steady_clock::now();
    // Distinct addresses, so every picture is its own transfer; two at a
    // time, most are still queued when the time is up.
    LoadResult r = StaticPageLoader::Load(Url("/gen/images?count=10&distinct=1&src=/never-answers"), o);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_LT(SecondsSince(start), 15.0);
    for (const Image& img : *r.document().images)
        EXPECT_FALSE(*img.complete);
    ASSERT_FALSE(r.document().notes.empty());
    EXPECT_NE(r.document().notes.back().find("time limit"), std::string::npos) << r.document().notes.back();
}

TEST_F(HostileServer, EndlessBodiesStopAtTheirCapsAndTheByteBudgetStopsFurtherTransfers)
{
    LoadOptions o = ShortLimits();
    o.transferTimeout = std::chrono::seconds(30);
    o.maxDocumentBytes = 1 << 20;
    o.maxResourceBytes = 256 << 10;
    LoadResult page = StaticPageLoader::Load(Url("/huge"), o);
    ASSERT_FALSE(page.ok());
    EXPECT_NE(page.error().find("larger than 1048576 bytes"), std::string::npos) << page.error();
    LoadResult r = StaticPageLoader::Load(Url("/gen/images?count=3&src=" + Encode("/huge?type=image/gif&length=1")), o);
    ASSERT_TRUE(r.ok()) << r.error();
    ASSERT_EQ(r.document().images->size(), 3u);
    for (const Image& img : *r.document().images) {
        EXPECT_FALSE(*img.complete);
        EXPECT_EQ(*img.fileSize, "");
    }

    LoadOptions budget = ShortLimits();
    budget.maxTotalBytes = 100'000;
    budget.maxParallel = 1;
    LoadResult some = StaticPageLoader::Load(Url("/gen/images?count=5&distinct=1&src=" + Encode("/bytes?n=40000")), budget);
    ASSERT_TRUE(some.ok()) << some.error();
    // The page and two bodies fit in the budget; the third would not.
    EXPECT_EQ(std::count_if(some.document().images->begin(), some.document().images->end(),
                            [](const Image& img) { return *img.fileSize == "40000"; }),
              2);
}

TEST_F(HostileServer, ThousandsOfFramesStopAtTheFrameLimit)
{
    LoadOptions o = ShortLimits();
    o.maxFrames = 10;
    std::string inner = "/gen/frames?count=2000&src=/not-html";
    LoadResult r = StaticPageLoader::Load(Url("/gen/frames?count=2000&src=" + Encode(inner)), o);
    ASSERT_TRUE(r.ok()) << r.error();
    const Document& doc = r.document();
    ASSERT_EQ(doc.frames->size(), 2000u);
    int loaded = 0;
    int limited = 0;
    const auto count = [&](const Document& d, const auto& self) -> void {
        for (const Frame& f : *d.frames) {
            limited += f.refusal == FrameRefusal::FrameLimit;
            if (const Document* c = f.DocumentOrNull()) {
                ++loaded;
                self(*c, self);
            }
        }
    };
    count(doc, count);
    EXPECT_EQ(loaded, 10);
    EXPECT_EQ(limited, 2000 - 10 + 10 * 2000);
    EXPECT_NE(doc.notes.front().find("more than 10 frames"), std::string::npos) << doc.notes.front();
}

TEST_F(HostileServer, DeepPageIsFlattenedHugeAttributeKeptWholeSlowPageReadInTime)
{
    LoadOptions o = ShortLimits();
    o.maxElementDepth = 100;
    LoadResult r = StaticPageLoader::Load(Url("/gen/deep?depth=300000"), o);
    ASSERT_TRUE(r.ok()) << r.error();
    const std::size_t depth = htmltest::TreeDepth(*r.document().documentElement, true);
    EXPECT_LE(depth, 100u);
    EXPECT_GE(depth, 90u);
    ASSERT_FALSE(r.document().notes.empty());
    EXPECT_NE(r.document().notes.front().find("flattened"), std::string::npos) << r.document().notes.front();

    LoadResult wide = StaticPageLoader::Load(Url("/gen/huge-attr?bytes=3000000"), ShortLimits());
    ASSERT_TRUE(wide.ok()) << wide.error();
    const Node& body = *wide.document().documentElement->childNodes.back();
    ASSERT_FALSE(body.childNodes.empty());
    const Attribute* big = body.childNodes.front()->FindAttribute("data-x");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->nodeValue.size(), 3000000u);

    o.transferTimeout = std::chrono::seconds(10);
    LoadResult slow = StaticPageLoader::Load(Url("/slow?bytes=4&delay=0.1"), o);
    // Four spaces are a text/html page without elements of its own.
    ASSERT_TRUE(slow.ok()) << slow.error();
    EXPECT_EQ(slow.document().documentElement->nodeName, "HTML");
}

} // namespace
