#include "tests/webui/BrowserFixture.h"

#include "platform/sys/XdgPaths.h"
#include "tests/options/OptionsFixture.h"
#include "tests/support/NodeDriver.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

fs::path ArtifactDir()
{
    const fs::path dir = BrowserFixture::BuildDir() / "test-artifacts" / "webui";
    fs::create_directories(dir);
    return dir;
}

// One run of the driver, as the window the web view opened. The driver
// ends by itself once its scenario is played; it is given 30 s before it
// is stopped.
class DriverWindow final : public webui::BrowserWindow {
public:
    explicit DriverWindow(pid_t pid) : m_pid(pid) { }
    ~DriverWindow() override { Close(); }
    How Kind() const override { return How::AppWindow; }
    void Close() override
    {
        for (int i = 0; m_pid > 0 && i < 600; ++i)
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
                m_pid = -1;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(std::exchange(m_pid, -1), nullptr, 0);
        }
    }

private:
    pid_t m_pid;
};

} // namespace

fs::path BrowserFixture::BuildDir()
{
    const char* dir = std::getenv("QUILLORY_BINARY_DIR");
    if (dir && *dir)
        return fs::path(dir);
    // The test program lives in <build>/tests.
    std::error_code ec;
    const auto self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? platform::TempDir() / "quillory-webui-tests" : self.parent_path().parent_path();
}

void BrowserFixture::SetUp()
{
    const char* chromium = std::getenv("QUILLORY_CHROMIUM");
    const std::string browser = chromium && *chromium ? chromium : "/usr/bin/chromium";
    if (::access(browser.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no Chromium at " << browser << " (install the chromium package)";
    m_node = testsupport::Which("node");
    if (m_node.empty() || testsupport::Which("npm").empty())
        GTEST_SKIP() << "no node/npm on PATH";
    m_driverDir = BuildDir() / "webui-browser-tests";
    std::string why;
    if (!testsupport::InstallNodeDriver(m_driverDir, testsupport::SourcePath("tests/webui/e2e"), { "package.json", "package-lock.json", "driver.mjs" }, why))
        GTEST_SKIP() << why;
    for (auto [name, value] : std::initializer_list<std::pair<const char*, fs::path>> {
             { "HOME", m_home.path() }, { "QUILLORY_REGISTRY_USER", m_home / "user.reg" },
             { "QUILLORY_REGISTRY_MACHINE", m_home / "machine.reg" }, { "XDG_CONFIG_HOME", m_home / "config" },
             { "XDG_DATA_HOME", m_home / "data" }, { "XDG_CACHE_HOME", m_home / "cache" },
             { "XDG_DOCUMENTS_DIR", m_home / "docs" }, { "TMPDIR", m_home.path() }, { "QUILLORY_CHROMIUM", browser } })
        m_env.push_back(std::make_unique<testsupport::ScopedEnv>(name, value.string()));
}

webui::Launcher BrowserFixture::DriverLauncher(const std::string& scenario)
{
    return [this, scenario](const webui::WindowRequest& request) -> std::unique_ptr<webui::BrowserWindow> {
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        const std::string log = (ArtifactDir() / (scenario + "-" + request.role + "-driver.log")).string();
        std::vector<std::string> argv { m_node, (m_driverDir / "driver.mjs").string(), scenario, request.role,
                                        request.url, ArtifactDir().string(), (m_home / ("result-" + request.role + ".json")).string() };
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
}

nlohmann::json BrowserFixture::Result(const std::string& role) const
{
    std::ifstream in(m_home / ("result-" + role + ".json"));
    if (!in)
        return nlohmann::json { { "ok", false }, { "error", "the driver of the " + role + " window wrote no result" } };
    return nlohmann::json::parse(in, nullptr, false);
}

std::vector<webui::WindowRequest> BrowserFixture::Requests()
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void BrowserFixture::StoreSetting(const char* name, DWORD type, const std::vector<std::uint8_t>& bytes)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kSettingsKey), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.get(), name, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
}

std::map<std::string, std::vector<std::uint8_t>> BrowserFixture::StoredSettings()
{
    std::map<std::string, std::vector<std::uint8_t>> out;
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, kSettingsKey, KEY_READ) != ERROR_SUCCESS)
        return out;
    std::string name;
    for (std::vector<std::uint8_t> data; RegEnumValue(key.get(), static_cast<DWORD>(out.size()), name, nullptr, &data) == ERROR_SUCCESS;)
        out[name] = std::exchange(data, {});
    return out;
}
