// The options and about dialogs as pages of the UI server, played by
// headless Chromium (tests/webui/options-e2e/driver.mjs), against the real
// registry file and the real module. Skipped, with the reason, when
// Chromium, Node or the driver's package are not to be had.
#include "options/AboutPP.h"
#include "options/LogPP.h"
#include "platform/registry/Registry.h"
#include "platform/sys/XdgPaths.h"
#include "tests/options/OptionsFixture.h"
#include "tests/support/TempDir.h"
#include "webui/ModelDialogPage.h"
#include "webui/WebView.h"

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
#include <map>
#include <mutex>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kKey = kSettingsKey;

fs::path BuildDir()
{
    const char* dir = std::getenv("QUILLORY_BINARY_DIR");
    if (dir && *dir)
        return fs::path(dir);
    // The test program lives in <build>/tests.
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? platform::TempDir() / "quillory-options-tests" : self.parent_path().parent_path();
}

fs::path ArtifactDir()
{
    const fs::path dir = BuildDir() / "test-artifacts" / "options";
    fs::create_directories(dir);
    return dir;
}

std::string Which(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string folder = dirs.substr(start, end - start);
        if (!folder.empty() && ::access((fs::path(folder) / name).c_str(), X_OK) == 0)
            return (fs::path(folder) / name).string();
        start = end + 1;
    }
    return {};
}

// The driver and its package, installed once per build folder under a
// lock (CTest runs these tests in parallel processes).
bool InstallDriver(const fs::path& dir, std::string& why)
{
    fs::create_directories(dir);
    const fs::path source = testsupport::SourcePath("tests/webui/options-e2e");
    const int lock = ::open((dir / "install.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        why = "cannot lock " + dir.string();
        return false;
    }
    for (const char* file : { "package.json", "package-lock.json", "driver.mjs" })
        fs::copy_file(source / file, dir / file, fs::copy_options::overwrite_existing);
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

class DriverWindow final : public webui::BrowserWindow {
public:
    explicit DriverWindow(pid_t pid) : m_pid(pid) { }
    ~DriverWindow() override { Close(); }
    How Kind() const override { return How::AppWindow; }
    // The driver ends by itself once its scenario is played.
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

// The web view with the options and about pages plugged in, and the
// shell's "open" and the file picker answered by the test.
class PagesView final : public ui::IView {
public:
    explicit PagesView(std::shared_ptr<webui::WebView> web) : m_web(std::move(web)) { }

    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override
    {
        return m_web->MessageBox(text, caption, type);
    }
    void DialogShown(ui::Dialog& dialog) override
    {
        if (auto* model = dynamic_cast<CDialogModel*>(&dialog))
            m_shown[&dialog] = webui::ShowModelDialog(*m_web, *model);
        else
            m_web->DialogShown(dialog);
    }
    void DialogClosed(ui::Dialog& dialog) override
    {
        if (auto it = m_shown.find(&dialog); it != m_shown.end()) {
            it->second.Close();
            m_shown.erase(it);
        } else {
            m_web->DialogClosed(dialog);
        }
    }
    std::optional<std::string> OpenFile(ui::Dialog*, std::string_view, std::string_view filter) override
    {
        filters.emplace_back(filter);
        return fileAnswer;
    }
    bool ShellOpen(std::string_view target) override
    {
        opened.emplace_back(target);
        return true;
    }

    std::optional<std::string> fileAnswer;
    std::vector<std::string> filters;
    std::vector<std::string> opened;

private:
    std::shared_ptr<webui::WebView> m_web;
    std::map<ui::Dialog*, webui::ModelDialogShowing> m_shown;
};

class OptionsPagesBrowserTest : public ::testing::Test {
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
        m_driverDir = BuildDir() / "options-browser-tests";
        std::string why;
        if (!InstallDriver(m_driverDir, why))
            GTEST_SKIP() << why;
        for (auto [name, value] : std::initializer_list<std::pair<const char*, fs::path>> {
                 { "HOME", m_home.path() }, { "QUILLORY_REGISTRY_USER", m_home / "user.reg" },
                 { "QUILLORY_REGISTRY_MACHINE", m_home / "machine.reg" }, { "XDG_CONFIG_HOME", m_home / "config" },
                 { "XDG_CACHE_HOME", m_home / "cache" }, { "TMPDIR", m_home.path() } })
            m_env.push_back(std::make_unique<testsupport::ScopedEnv>(name, value.string()));
        m_env.push_back(std::make_unique<testsupport::ScopedEnv>("QUILLORY_CHROMIUM", m_chromium));
        m_server = std::make_shared<webui::UiServer>();
        ASSERT_TRUE(m_server->Start());
    }
    void TearDown() override
    {
        ui::SetActiveView(nullptr);
        if (m_server)
            m_server->Stop();
    }

    std::shared_ptr<PagesView> MakeView(const std::string& scenario)
    {
        webui::WebView::Options options;
        options.launcher = [this, scenario](const webui::WindowRequest& request) -> std::unique_ptr<webui::BrowserWindow> {
            m_requests.push_back(request);
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
            return rc == 0 ? std::make_unique<DriverWindow>(pid) : nullptr;
        };
        auto view = std::make_shared<PagesView>(std::make_shared<webui::WebView>(m_server, options));
        ui::SetActiveView(view);
        return view;
    }

    fs::path ResultFile() const { return m_home / "driver-result.json"; }
    json Result() const
    {
        std::ifstream in(ResultFile());
        if (!in)
            return json { { "ok", false }, { "error", "the driver wrote no result" } };
        return json::parse(in, nullptr, false);
    }

    static std::map<std::string, std::vector<std::uint8_t>> Stored()
    {
        std::map<std::string, std::vector<std::uint8_t>> out;
        RegKey key;
        if (key.Open(HKEY_CURRENT_USER, kKey, KEY_READ) != ERROR_SUCCESS)
            return out;
        for (DWORD i = 0;; ++i) {
            std::string name;
            std::vector<std::uint8_t> data;
            if (RegEnumValue(key.get(), i, name, nullptr, &data) != ERROR_SUCCESS)
                break;
            out[name] = data;
        }
        return out;
    }

    std::string m_chromium;
    std::string m_node;
    fs::path m_driverDir;
    testsupport::TempDir m_home;
    std::vector<std::unique_ptr<testsupport::ScopedEnv>> m_env;
    std::shared_ptr<webui::UiServer> m_server;
    std::vector<webui::WindowRequest> m_requests;
};

TEST_F(OptionsPagesBrowserTest, OptionsPageEditsEveryFieldAndOkStoresThem)
{
    auto view = MakeView("options");
    const std::string browsed = (m_home / "logs" / "browsed.txt").string();
    view->fileAnswer = browsed;
    const auto help = BuildHelpFile(m_home.path(), "help/quillory.chm", StandardHelpFiles());
    ASSERT_FALSE(help.empty()) << "chmcmd (Debian package fp-utils) is needed to build the test help file";
    CLogPP dialog(kKey, help.string());
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);

    const json r = Result();
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    const json& c = r["checks"];
    EXPECT_EQ(r["pageErrors"], json::array());
    EXPECT_EQ(c["title"], "Options");
    for (const char* text : { "Overall Log", "Enabled", "File name:", "Browse...", "Size limit:", "Kb", "View...",
             "Show Postgrab Log", "OK", "Cancel" })
        EXPECT_NE(std::find(c["labels"].begin(), c["labels"].end(), text), c["labels"].end()) << text;
    EXPECT_EQ(c["initial"], (json { { "path", false }, { "size", false }, { "browse", false }, { "view", false },
                                { "postgrab", true } }));
    EXPECT_EQ(c["afterCheck"], (json { { "size", true }, { "browse", true }, { "view", true } }));
    EXPECT_LT(c["enabledAfterMs"].get<int>(), 1500);
    // F1 on the path box, then the help button and a click on Browse.
    EXPECT_EQ(c["popup"], "The text file the overall log is written to.");
    EXPECT_EQ(c["popup2"], "Chooses the overall log's file.");
    EXPECT_EQ(c["browsed"], browsed);
    EXPECT_EQ(c["size"], "123");
    EXPECT_EQ(view->filters, std::vector<std::string> { "Text File (*.txt)|*.txt" });
    EXPECT_EQ(view->opened, std::vector<std::string> { browsed });

    auto stored = Stored();
    EXPECT_EQ(stored["OverallLog"], std::vector<std::uint8_t> { 1 });
    EXPECT_EQ(stored["PostGrabbingLog"], std::vector<std::uint8_t> { 0 });
    EXPECT_EQ(stored["MaxOverallLog"], (std::vector<std::uint8_t> { 123, 0, 0, 0 }));
    const std::string typed = "/tmp/typed log.txt";
    std::vector<std::uint8_t> path(typed.begin(), typed.end());
    path.push_back(0);
    EXPECT_EQ(stored["OverallLogPath"], path);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].role, "options");
}

TEST_F(OptionsPagesBrowserTest, EscapeAfterEditingStoresNothing)
{
    auto view = MakeView("cancel");
    {
        RegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS);
        const std::uint8_t on = 1;
        ASSERT_EQ(RegSetValueEx(key.get(), "OverallLog", REG_BINARY, &on, 1), ERROR_SUCCESS);
    }
    const auto before = Stored();
    CLogPP dialog(kKey, "");
    EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
    const json r = Result();
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    // Unchecking "Enabled" disabled the path box again.
    EXPECT_EQ(r["checks"]["disabledAgain"], true);
    EXPECT_EQ(Stored(), before);
}

TEST_F(OptionsPagesBrowserTest, AboutPageShowsTheModulesVersionAndOpensTheLink)
{
    const fs::path module = BuildDir() / "module" / "libqvtovanix.so";
    ASSERT_TRUE(fs::exists(module)) << "build the qvtovanix target first: " << module << " is missing";
    auto view = MakeView("about");
    CAboutPP dialog(module.string());
    EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
    const json r = Result();
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    const json& c = r["checks"];
    EXPECT_EQ(r["pageErrors"], json::array());
    EXPECT_EQ(c["title"], "About");
    EXPECT_EQ(c["version"], "3.6.0.0");
    EXPECT_EQ(c["link"], "www.vornel.com");
    for (const char* text : { "Quillory", "Version", "OK" })
        EXPECT_NE(std::find(c["texts"].begin(), c["texts"].end(), text), c["texts"].end()) << text;
    EXPECT_EQ(view->opened, std::vector<std::string> { "http://www.vornel.com/" });
}

} // namespace
