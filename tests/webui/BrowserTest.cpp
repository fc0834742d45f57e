// The grab dialog and the progress list in a real browser (see
// BrowserFixture).
#include "grabber/HtmlDocumentObject.h"
#include "grabber/Tovanix.h"
#include "platform/com/Variant.h"
#include "platform/sys/XdgPaths.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "tests/support/DownloadServers.h"
#include "tests/webui/BrowserFixture.h"
#include "webui/GrabWithBrowser.h"
#include "webui/WebSavingUrlsView.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// An address inside this program: its file is "the module" whose res:
// addresses the dialog body uses.
void Anchor() { }

// The grabber object as the page sees it, with the dialog's content fixed
// by the test: GetData(1) and GetData(0) give a small script and a body
// (a state line, a dialog picture, a counter the user's clicks and keys
// move and an Options button), and GetData(99) fails with E_PENDING.
// Everything else is the object's own.
class TestExternal final : public IDispatch {
public:
    explicit TestExternal(ComPtr<ITovanix> inner) : m_inner(std::move(inner)) { }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_IDispatch)
            return m_inner->QueryInterface(riid, ppv);
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override
    {
        const ULONG n = --m_refs;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT GetTypeInfoCount(UINT* n) override { return m_inner->GetTypeInfoCount(n); }
    HRESULT GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return m_inner->GetTypeInfo(i, l, t); }
    HRESULT GetIDsOfNames(REFIID riid, OLECHAR** names, UINT count, LCID lcid, DISPID* ids) override
    {
        names_.push_back(Bstr(BstrView(names[0])).Utf8());
        return m_inner->GetIDsOfNames(riid, names, count, lcid, ids);
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* e,
                   UINT* arg) override
    {
        if (id != 17 || !params || params->cArgs != 1) {
            const HRESULT hr = m_inner->Invoke(id, riid, lcid, flags, params, result, e, arg);
            if (const auto& browser = Object().GrabDialog().Browser(); id == 23 && browser)
                browserSize = { browser->width, browser->height };
            return hr;
        }
        Variant index;
        VariantChangeType(&index, &params->rgvarg[0], 0, VT_I4);
        if (index.lVal == 99)
            return E_PENDING;
        const std::string module = platform::ModuleFileOf(reinterpret_cast<const void*>(&Anchor)).string();
        const std::string text = index.lVal == 1
            ? "<script>function BodyOnLoad() { document.getElementById('state').textContent = 'loaded'; }"
              " function BodyOnUnLoad() { }</script>"
            : "<div id=\"state\">written</div><img id=\"ok\" src=\"res://" + module + "/GIF/226\">"
              "<button id=\"count\" onclick=\"this.textContent = +this.textContent + 1\">0</button>"
              "<button id=\"options\" onclick=\"window.external.ShowOptions()\">Options</button>"
              "<script>window.keys = 0; document.addEventListener('keydown', function () { keys++; });</script>";
        if (result) {
            result->vt = VT_BSTR;
            result->bstrVal = Bstr(text).Detach();
        }
        return S_OK;
    }
    CTovanix& Object() const { return *static_cast<CTovanix*>(m_inner.get()); }

    std::vector<std::string> names_;
    std::pair<int, int> browserSize;

private:
    ~TestExternal() = default;
    std::atomic<ULONG> m_refs { 1 };
    ComPtr<ITovanix> m_inner;
};

class BrowserTest : public BrowserFixture {
protected:
    // Runs a grab of a page whose dialog window the driver plays as `scenario`.
    ComPtr<TestExternal> Grab(const std::string& scenario)
    {
        void* p = nullptr;
        EXPECT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, &p), S_OK);
        auto tovanix = ComPtr<ITovanix>::Attach(static_cast<ITovanix*>(p));
        auto external = ComPtr<TestExternal>::Attach(new TestExternal(tovanix));
        webui::WebView::Options options;
        options.launcher = DriverLauncher(scenario);
        options.wrapExternal = [&](ComPtr<IDispatch>) { return ComPtr<IDispatch>(external.get()); };
        auto model = std::make_shared<html::Document>();
        model->URL = "http://example.test/page.html";
        EXPECT_TRUE(webui::RunGrabWithBrowser(tovanix, CHtmlDocumentObject::Create(model), options));
        return external;
    }
};

TEST_F(BrowserTest, ShellPageDrivesTheGrabberThroughWindowExternalAndIgnoresTheUserWhileOptionsIsOpen)
{
    StoreSetting("OverallLog", REG_BINARY, { 1 });
    const auto external = Grab("grab");
    CTovanix& object = external->Object();

    const json r = Result("grab");
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    json c = r["checks"];
    EXPECT_EQ(r["pageErrors"], json::array());
    // A failed HRESULT is a script error carrying the code.
    EXPECT_NE(c["pending"]["message"].get<std::string>().find("0x8000000A"), std::string::npos);
    // CreateXmlDom's object dispatches its own members.
    EXPECT_NE(c["xml"][1].get<std::string>().find("<a b=\"1\">x</a>"), std::string::npos);
    c["pending"].erase("message");
    c["xml"][1] = "checked";
    const json expected {
        // document.write of GetData(1) and GetData(0) during load, then BodyOnLoad.
        { "state", "loaded" },
        // The body's res: address of a dialog picture loaded as a 14 x 14 GIF.
        { "image", { 14, 14 } },
        // Every letter case reached GetIDsOfNames as written; the put of 1 stored on.
        { "cases", { true, true, true } },
        { "pending", { { "number", static_cast<std::int32_t>(0x8000000A) } } },
        { "unknown", static_cast<std::int32_t>(0x80020006) },
        { "xml", { true, "checked" } },
        // No context menu.
        { "contextMenuDispatched", false },
        { "contextMenuClick", { true } },
        // While Options was open: greyed, and neither a click nor a key
        // counted; after it closed the page works again.
        { "veiled", true },
        { "during", { { "count", "1" }, { "keys", 1 } } },
        { "after", { { "veiled", false }, { "count", "2" }, { "keys", 2 } } },
        // Exit closed the dialog; the page then hears it is gone.
        { "afterExit", static_cast<std::int32_t>(0x8000000A) },
    };
    EXPECT_EQ(c, expected);
    for (const char* name : { "GRABFLASH", "grabflash", "GrabFlash", "gRaBfLaSh" })
        EXPECT_NE(std::find(external->names_.begin(), external->names_.end(), name), external->names_.end()) << name;
    EXPECT_TRUE(object.Settings().GrabFlash);
    // SetDlgSize: the window's outer size, the browser area 20 pixels less.
    EXPECT_EQ(object.GrabDialog().Width(), 800);
    EXPECT_EQ(object.GrabDialog().Height(), 600);
    EXPECT_EQ(external->browserSize, std::pair(780, 580));
    EXPECT_EQ(object.GrabDialog().result(), 2);
    EXPECT_FALSE(object.DialogOpen());
    // A second click on Options while it was open opened nothing.
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].role, "grab");
    EXPECT_NE(requests[0].url.find("/res/215?page="), std::string::npos);
    EXPECT_EQ(requests[1].role, "options");
    EXPECT_EQ(requests[1].level, 1);
    // In Options, unchecking "Enabled" disabled the path box again, and
    // Escape after the edits stored nothing.
    const json options = Result("options");
    ASSERT_TRUE(options.value("ok", false)) << options.dump(1);
    EXPECT_EQ(options["checks"]["disabledAgain"], true);
    EXPECT_EQ(StoredSettings()["OverallLog"], std::vector<std::uint8_t> { 1 });
    EXPECT_EQ(StoredSettings().count("PostGrabbingLog"), 0u);
}

TEST_F(BrowserTest, ClosingTheDialogWindowEndsTheModalRun)
{
    const auto external = Grab("close");
    const auto returned = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    const json r = Result("grab");
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    EXPECT_EQ(external->Object().GrabDialog().result(), 2);
    EXPECT_FALSE(external->Object().DialogOpen());
    // The goodbye beacon ends the run after the reload grace, well before
    // the silence limit would.
    EXPECT_LT(returned - r["checks"]["closedAt"].get<long long>(), 9000);
}

TEST_F(BrowserTest, ProgressWindowShowsLiveRowsAndItsCloseButtonEndsTheDialog)
{
    auto http = testsupport::StartHttpTestServer();
    const std::string url = "http://127.0.0.1:" + std::to_string(http->port()) + "/gen/20000/7/picture.bin";
    auto server = std::make_shared<webui::UiServer>();
    ASSERT_TRUE(server->Start());
    webui::WebView::Options options;
    options.launcher = DriverLauncher("progress");
    auto view = std::make_shared<webui::WebView>(server, options);
    QVSaveProcessors::CSavingUrlsDialog dialog;
    dialog.m_urls = { url, "rtsp://127.0.0.1/stream" };
    dialog.m_rootFolder = (m_home / "saved").string();
    fs::create_directories(dialog.m_rootFolder);
    dialog.SetView(view->CreateSavingUrlsView());
    ui::SetActiveView(view);
    const int how = dialog.DoModal();
    ui::SetActiveView(nullptr);

    const json r = Result("saving");
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    const json& c = r["checks"];
    EXPECT_EQ(c["title"], "Saving files...");
    EXPECT_EQ(c["headers"], json::array({ "File", "Url", "Protocol", "Ratio", "Status" }));
    ASSERT_EQ(c["rows"].size(), 2u);
    const json& done = c["rows"][0];
    EXPECT_NE(done[0].get<std::string>().find("picture.bin"), std::string::npos);
    EXPECT_EQ(done, json::array({ done[0], url, "http", "20000 B", "Completed" }));
    EXPECT_EQ(c["rows"][1][0], "URL analyse...");
    EXPECT_EQ(c["rows"][1][2], "rtsp");
    // "Protocol": its title's width plus 15 pixels (and the cell padding).
    EXPECT_GT(c["widths"][2].get<double>(), 40);
    EXPECT_LT(c["widths"][2].get<double>(), 120);
    EXPECT_EQ(c["widths"][0], 180);
    EXPECT_EQ(c["widths"][3], 60);
    EXPECT_EQ(c["widths"][4], 70);
    // "Close" is the dialog's OK: result 1, and the download counts.
    EXPECT_EQ(how, 1);
    EXPECT_EQ(dialog.m_results[url], QVSaveProcessors::SaveResultComplete);
    EXPECT_EQ(dialog.m_results["rtsp://127.0.0.1/stream"], QVSaveProcessors::SaveResultNone);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].role, "saving");
    EXPECT_EQ(requests[0].width, webui::WebSavingUrlsView::kWidth);
    server->Stop();
}

} // namespace
