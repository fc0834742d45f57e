// The dialogs in a real browser: headless Chromium driven by Playwright
// (tests/webui/e2e/driver.mjs) plays the user in the windows the web view
// opens. Skipped, with the reason, when Chromium, Node or the driver's
// package are not to be had.
#include "grabber/HtmlDocumentObject.h"
#include "grabber/Tovanix.h"
#include "platform/com/Variant.h"
#include "platform/sys/XdgPaths.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "tests/support/DownloadServers.h"
#include "tests/support/TempDir.h"
#include "webui/GrabWithBrowser.h"
#include "webui/WebSavingUrlsView.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// An address inside this program: its file is "the module" whose res:
// addresses the dialog body uses.
void Anchor() { }

fs::path BuildDir()
{
    const char* dir = std::getenv("QUILLORY_BINARY_DIR");
    return dir && *dir ? fs::path(dir) : platform::TempDir() / "quillory-webui-tests";
}

fs::path ArtifactDir()
{
    const fs::path dir = BuildDir() / "test-artifacts" / "webui";
    fs::create_directories(dir);
    return dir;
}

std::string Which(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (!dirs.substr(start, end - start).empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        start = end + 1;
    }
    return {};
}

// The driver and its one package, installed once per build folder (under a
// lock: CTest runs the tests of this program in parallel processes).
bool InstallDriver(const fs::path& dir, std::string& why)
{
    fs::create_directories(dir);
    const fs::path source = testsupport::SourcePath("tests/webui/e2e");
    for (const char* file : { "package.json", "package-lock.json", "driver.mjs" })
        fs::copy_file(source / file, dir / (std::string(file) + ".new"), fs::copy_options::overwrite_existing);
    const int lock = ::open((dir / "install.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        why = "cannot lock " + dir.string();
        return false;
    }
    for (const char* file : { "package.json", "package-lock.json", "driver.mjs" })
        fs::rename(dir / (std::string(file) + ".new"), dir / file);
    bool ok = true;
    if (!fs::exists(dir / "node_modules" / "playwright-core" / "package.json")) {
        const std::string command = "cd '" + dir.string() + "' && npm ci --no-audit --no-fund > npm.log 2>&1";
        if (std::system(command.c_str()) != 0) {
            why = "npm could not install playwright-core (see " + (dir / "npm.log").string() + ")";
            ok = false;
        }
    }
    ::close(lock);
    return ok;
}

// One run of the driver, as the window the web view opened.
class DriverWindow final : public webui::BrowserWindow {
public:
    explicit DriverWindow(pid_t pid) : m_pid(pid) { }
    ~DriverWindow() override { Close(); }
    How Kind() const override { return How::AppWindow; }
    // The driver ends by itself once its scenario is played; it is given
    // that long before it is stopped.
    void Close() override
    {
        if (m_pid <= 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid;
};

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* chromium = std::getenv("QUILLORY_CHROMIUM");
        m_chromium = chromium && *chromium ? chromium : "/usr/bin/chromium";
        if (::access(m_chromium.c_str(), X_OK) != 0)
            GTEST_SKIP() << "no Chromium at " << m_chromium << " (install the chromium package)";
        m_node = Which("node");
        if (m_node.empty() || Which("npm").empty())
            GTEST_SKIP() << "no node/npm on PATH";
        m_driverDir = BuildDir() / "webui-browser-tests";
        std::string why;
        if (!InstallDriver(m_driverDir, why))
            GTEST_SKIP() << why;
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("HOME", m_home.path().string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("QUILLORY_REGISTRY_USER", (m_home / "user.reg").string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("QUILLORY_REGISTRY_MACHINE", (m_home / "machine.reg").string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("XDG_CONFIG_HOME", (m_home / "config").string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("XDG_DATA_HOME", (m_home / "data").string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("XDG_CACHE_HOME", (m_home / "cache").string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("XDG_DOCUMENTS_DIR", (m_home / "docs").string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("TMPDIR", m_home.path().string()));
        m_env.emplace_back(std::make_unique<testsupport::ScopedEnv>("QUILLORY_CHROMIUM", m_chromium));
    }

    // A launcher that plays `scenario` in every window it is asked for.
    webui::Launcher DriverLauncher(const std::string& scenario)
    {
        return [this, scenario](const webui::WindowRequest& request) -> std::unique_ptr<webui::BrowserWindow> {
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
            }
            const std::string log = (ArtifactDir() / (scenario + "-driver.log")).string();
            std::vector<std::string> argv { m_node, (m_driverDir / "driver.mjs").string(), scenario, request.url,
                                            ArtifactDir().string(), ResultFile().string() };
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
            pid_t pid = -1;
            const int rc = ::posix_spawn(&pid, m_node.c_str(), &actions, nullptr, args.data(), environ);
            posix_spawn_file_actions_destroy(&actions);
            if (rc != 0)
                return nullptr;
            return std::make_unique<DriverWindow>(pid);
        };
    }

    fs::path ResultFile() const { return m_home / "driver-result.json"; }
    json Result() const
    {
        std::ifstream in(ResultFile());
        if (!in)
            return json { { "ok", false }, { "error", "the driver wrote no result" } };
        return json::parse(in, nullptr, false);
    }

    static ComPtr<IHTMLDocument2> Page(const std::string& url)
    {
        auto model = std::make_shared<html::Document>();
        model->URL = url;
        return CHtmlDocumentObject::Create(model);
    }

    static ComPtr<ITovanix> NewTovanix()
    {
        void* p = nullptr;
        EXPECT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, &p), S_OK);
        return ComPtr<ITovanix>::Attach(static_cast<ITovanix*>(p));
    }

    std::string m_chromium;
    std::string m_node;
    fs::path m_driverDir;
    testsupport::TempDir m_home;
    std::vector<std::unique_ptr<testsupport::ScopedEnv>> m_env;
    std::mutex m_mutex;
    std::vector<webui::WindowRequest> m_requests;
};

// The grabber object as the page sees it, with the dialog's content fixed
// by the test: GetData(1) and GetData(0) give a small script and body, and
// GetData(99) fails with E_PENDING. Everything else is the object's own.
class TestExternal final : public IDispatch {
public:
    TestExternal(ComPtr<ITovanix> inner, CTovanix* object) : m_inner(std::move(inner)), m_object(object) { }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(riid, ppv);
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
        if (id == 17 && params && params->cArgs == 1) {
            Variant index;
            VariantChangeType(&index, &params->rgvarg[0], 0, VT_I4);
            if (index.lVal == 99)
                return E_PENDING;
            const std::string module = platform::ModuleFileOf(reinterpret_cast<const void*>(&Anchor)).string();
            const std::string text = index.lVal == 1
                ? "<script>function BodyOnLoad() { document.getElementById('state').textContent = 'loaded'; }"
                  " function BodyOnUnLoad() { }</script>"
                : "<div id=\"state\">written</div><img id=\"ok\" src=\"res://" + module + "/GIF/226\">";
            if (result) {
                result->vt = VT_BSTR;
                result->bstrVal = Bstr(text).Detach();
            }
            return S_OK;
        }
        const HRESULT hr = m_inner->Invoke(id, riid, lcid, flags, params, result, e, arg);
        if (id == 23 && m_object->GrabDialog().Browser()) {
            browserWidth = m_object->GrabDialog().Browser()->width;
            browserHeight = m_object->GrabDialog().Browser()->height;
        }
        return hr;
    }

    std::vector<std::string> names_;
    int browserWidth = 0;
    int browserHeight = 0;

private:
    ~TestExternal() = default;
    std::atomic<ULONG> m_refs { 1 };
    ComPtr<ITovanix> m_inner;
    CTovanix* m_object;
};

TEST_F(BrowserTest, ShellPageDrivesTheGrabberThroughWindowExternal)
{
    auto tovanix = NewTovanix();
    auto* object = static_cast<CTovanix*>(tovanix.get());
    auto external = ComPtr<TestExternal>::Attach(new TestExternal(tovanix, object));
    webui::WebView::Options options;
    options.launcher = DriverLauncher("bridge");
    options.wrapExternal = [&](ComPtr<IDispatch>) { return ComPtr<IDispatch>(external.get()); };

    ASSERT_TRUE(webui::RunGrabWithBrowser(tovanix, Page("http://example.test/page.html"), options));

    const json r = Result();
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    const json& c = r["checks"];
    EXPECT_EQ(r["pageErrors"], json::array());
    // document.write of GetData(1) and GetData(0) during load, then BodyOnLoad.
    EXPECT_EQ(c["state"], "loaded");
    // The body's res: address of a dialog picture loaded as a 14 x 14 GIF.
    EXPECT_EQ(c["image"], json::array({ 14, 14 }));
    // Every letter case reached GetIDsOfNames as written; the put of 1 stored on.
    EXPECT_EQ(c["cases"], json::array({ true, true, true }));
    for (const char* name : { "GRABFLASH", "grabflash", "GrabFlash", "gRaBfLaSh" })
        EXPECT_NE(std::find(external->names_.begin(), external->names_.end(), name), external->names_.end()) << name;
    EXPECT_TRUE(object->Settings().GrabFlash);
    // A failed HRESULT is a script error carrying the code.
    EXPECT_EQ(c["pending"]["number"], static_cast<std::int32_t>(0x8000000A));
    EXPECT_NE(c["pending"]["message"].get<std::string>().find("0x8000000A"), std::string::npos);
    EXPECT_EQ(c["unknown"], static_cast<std::int32_t>(0x80020006));
    // CreateXmlDom's object dispatches its own members.
    ASSERT_EQ(c["xml"].size(), 2u);
    EXPECT_EQ(c["xml"][0], true);
    EXPECT_NE(c["xml"][1].get<std::string>().find("<a b=\"1\">x</a>"), std::string::npos);
    // No context menu.
    EXPECT_EQ(c["contextMenuDispatched"], false);
    EXPECT_EQ(c["contextMenuClick"], json::array({ true }));
    // SetDlgSize: the window's outer size, the browser area 20 pixels less.
    EXPECT_EQ(object->GrabDialog().Width(), 800);
    EXPECT_EQ(object->GrabDialog().Height(), 600);
    EXPECT_EQ(external->browserWidth, 780);
    EXPECT_EQ(external->browserHeight, 580);
    // Exit closed the dialog with result 2; the page then hears it is gone.
    EXPECT_EQ(object->GrabDialog().result(), 2);
    EXPECT_FALSE(object->DialogOpen());
    EXPECT_EQ(c["afterExit"], static_cast<std::int32_t>(0x8000000A));
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].role, "grab");
    EXPECT_NE(m_requests[0].url.find("/res/215?page="), std::string::npos);
}

TEST_F(BrowserTest, ClosingTheDialogWindowEndsTheModalRun)
{
    auto tovanix = NewTovanix();
    auto* object = static_cast<CTovanix*>(tovanix.get());
    auto external = ComPtr<TestExternal>::Attach(new TestExternal(tovanix, object));
    webui::WebView::Options options;
    options.launcher = DriverLauncher("close");
    options.wrapExternal = [&](ComPtr<IDispatch>) { return ComPtr<IDispatch>(external.get()); };

    ASSERT_TRUE(webui::RunGrabWithBrowser(tovanix, Page("http://example.test/other.html"), options));
    const auto returned = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();

    const json r = Result();
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    EXPECT_EQ(object->GrabDialog().result(), 2);
    EXPECT_FALSE(object->DialogOpen());
    // The goodbye beacon ends the run after the reload grace, well before
    // the silence limit would.
    const auto closedAt = r["checks"]["closedAt"].get<long long>();
    EXPECT_LT(returned - closedAt, 9000);
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

    const json r = Result();
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    const json& c = r["checks"];
    EXPECT_EQ(c["title"], "Saving files...");
    EXPECT_EQ(c["headers"], json::array({ "File", "Url", "Protocol", "Ratio", "Status" }));
    ASSERT_EQ(c["rows"].size(), 2u);
    const json& done = c["rows"][0];
    EXPECT_EQ(done[1], url);
    EXPECT_EQ(done[2], "http");
    EXPECT_EQ(done[3], "20000 B");
    EXPECT_EQ(done[4], "Completed");
    EXPECT_NE(done[0].get<std::string>().find("picture.bin"), std::string::npos);
    EXPECT_EQ(c["rows"][1][0], "URL analyse...");
    EXPECT_EQ(c["rows"][1][2], "rtsp");
    EXPECT_EQ(c["widths"][0], 180);
    // "Protocol": its title's width plus 15 pixels (and the cell padding).
    EXPECT_GT(c["widths"][2].get<double>(), 40);
    EXPECT_LT(c["widths"][2].get<double>(), 120);
    EXPECT_EQ(c["widths"][3], 60);
    EXPECT_EQ(c["widths"][4], 70);
    // "Close" is the dialog's OK: result 1, and the download counts.
    EXPECT_EQ(how, 1);
    EXPECT_EQ(dialog.m_results[url], QVSaveProcessors::SaveResultComplete);
    EXPECT_EQ(dialog.m_results["rtsp://127.0.0.1/stream"], QVSaveProcessors::SaveResultNone);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].role, "saving");
    EXPECT_EQ(m_requests[0].width, webui::WebSavingUrlsView::kWidth);
    server->Stop();
}

} // namespace
