// The extension's "Grab" button pressed in headless Chromium: a fresh home
// with `quillory register` run in it (or not), the user's Chromium profile
// in that home (where Chromium reads the native messaging manifests), the
// unpacked extension loaded, the sample site on loopback, and a press of
// the button on the page's tab (tests/e2e/extension-click.mjs). What the
// press brought - alerts in the page, windows the extension opened - is
// read back from the driver's result file.
#include "host/NativeHostManifests.h"
#include "tests/host/RunQuillory.h"
#include "tests/support/NodeDriver.h"
#include "tests/support/PythonServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using json = nlohmann::json;

extern char** environ;

namespace {

// Runs argv with env, output to log; killed by its PID after the limit.
// The exit status, or -1 when it did not end by itself.
int RunBounded(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
               const fs::path& log, std::chrono::seconds limit)
{
    hosttest::ExecLine line(args, env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, line.argv()[0], &actions, nullptr, line.argv(), line.envp());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ExtensionClick : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* chromium = std::getenv("QUILLORY_CHROMIUM");
        m_chromium = chromium && *chromium ? chromium : "/usr/bin/chromium";
        if (::access(m_chromium.c_str(), X_OK) != 0)
            m_chromium.clear();
        const char* firefox = std::getenv("QUILLORY_FIREFOX");
        m_firefox = firefox && *firefox ? firefox : testsupport::Which("firefox-esr");
        if (m_firefox.empty())
            m_firefox = testsupport::Which("firefox");
        m_node = testsupport::Which("node");
        if (m_node.empty() || testsupport::Which("npm").empty())
            GTEST_SKIP() << "no node/npm on PATH (install nodejs and npm)";
        const char* build = std::getenv("QUILLORY_BINARY_DIR");
        m_driverDir = (build && *build ? fs::path(build) : fs::path(QUILLORY_EXE).parent_path().parent_path()) / "e2e-extension";
        std::string why;
        if (!testsupport::InstallNodeDriver(m_driverDir, testsupport::SourcePath("tests/e2e"), { "package.json", "package-lock.json", "extension-click.mjs", "firefox-click.mjs" }, why))
            GTEST_SKIP() << why;

        const fs::path home = m_dir / "home";
        fs::create_directories(home);
        m_browserLog = m_dir / "browser-urls";
        const fs::path browser = m_dir / "browser.sh";
        std::ofstream(browser) << "#!/bin/sh\necho \"$1\" >> '" << m_browserLog.string() << "'\n";
        fs::permissions(browser, fs::perms::owner_all);
        m_env = {
            { "HOME", home.string() },
            { "XDG_CONFIG_HOME", (home / ".config").string() },
            { "XDG_DATA_HOME", (home / ".local" / "share").string() },
            { "XDG_CACHE_HOME", (home / ".cache").string() },
            { "PATH", std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin" },
            { "TMPDIR", m_dir.path().string() },
            { "QUILLORY_MODULE_PATH", QUILLORY_MODULE_PATH },
            { "QUILLORY_REGISTRY_SYSTEM_MACHINE", (m_dir / "no-system" / "machine.reg").string() },
            // The dialog must come as a window of the pressing browser, not a new one.
            { "BROWSER", browser.string() + " %s" },
        };
        for (const char* name : { "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS" }) {
            if (const char* value = std::getenv(name))
                m_env[name] = value;
        }
    }

    int Quillory(const std::string& command, const std::map<std::string, std::string>& extra = {})
    {
        auto env = m_env;
        for (const auto& [k, v] : extra)
            env[k] = v;
        return RunBounded({ QUILLORY_EXE, command }, env, m_dir / "quillory.log", std::chrono::seconds(60));
    }

    // Presses the button on `url` in Chromium, or in Firefox; what the
    // driver saw (failures also show its log).
    json Press(const std::string& url, bool inFirefox = false)
    {
        const fs::path result = m_dir / "press.json";
        const std::string extension = testsupport::SourcePath("extension").string();
        std::vector<std::string> args { m_node, (m_driverDir / "extension-click.mjs").string(),
                                        (m_dir / "home" / ".config" / "chromium").string(), extension, url, result.string() };
        if (inFirefox)
            args = { m_node, (m_driverDir / "firefox-click.mjs").string(), m_firefox, (m_dir / "firefox-profile").string(),
                     extension, url, result.string() };
        auto env = m_env;
        env["QUILLORY_CHROMIUM"] = m_chromium;
        const int code = RunBounded(args, env, m_dir / "driver.log", std::chrono::seconds(150));
        std::ifstream in(result);
        json seen = in ? json::parse(in, nullptr, false) : json();
        EXPECT_EQ(code, 0) << Log("driver.log");
        EXPECT_TRUE(seen.is_object()) << Log("driver.log");
        if (!seen.is_object())
            return json::object();
        EXPECT_EQ(seen["error"], nullptr) << Log("driver.log");
        EXPECT_EQ(seen.value("extensionId", ""), inFirefox ? host::kFirefoxExtensionId : host::kChromiumExtensionId);
        return seen;
    }

    std::string Log(const std::string& name) const
    {
        std::ifstream in(m_dir / name);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return name + ":\n" + (text.size() > 6000 ? text.substr(text.size() - 6000) : text);
    }

    std::string PageUrl(const std::string& page)
    {
        const fs::path root = testsupport::SourcePath("sample/site");
        m_other = std::make_unique<testsupport::PythonServer>(testsupport::SourcePath("tests/servers/site_server.py"),
            std::vector<std::string> { "--root", root.string(), "--lifetime", "150" });
        m_site = std::make_unique<testsupport::PythonServer>(testsupport::SourcePath("tests/servers/site_server.py"),
            std::vector<std::string> { "--root", root.string(), "--lifetime", "150", "--define", "OTHER_ORIGIN=" + m_other->BaseUrl() });
        return m_site->BaseUrl() + "/" + page;
    }

    testsupport::TempDir m_dir;
    std::string m_chromium; // empty: not installed
    std::string m_firefox;  // empty: not installed
    std::string m_node;
    fs::path m_driverDir;
    fs::path m_browserLog;
    std::map<std::string, std::string> m_env;
    std::unique_ptr<testsupport::PythonServer> m_other;
    std::unique_ptr<testsupport::PythonServer> m_site;
};

constexpr const char* kNoChromium = "no Chromium (install the chromium package or set QUILLORY_CHROMIUM)";
constexpr const char* kNoFirefox = "no Firefox (install the firefox-esr package or set QUILLORY_FIREFOX)";

bool Contains(const json& list, const std::string& value)
{
    return list.is_array() && std::find(list.begin(), list.end(), value) != list.end();
}

// One window, the grab dialog of the page at `url` (scripted.html): the
// pictures in its markup and those its script inserted, so the live page
// was read; no cross-origin frame; Exit closes the window.
void ExpectDialogFor(const json& seen, const std::string& url, const std::string& base, const std::string& otherOrigin)
{
    EXPECT_EQ(seen["alerts"], json::array());
    ASSERT_EQ(seen["windows"].size(), 1u) << seen.dump(1);
    const json& dialog = seen["windows"][0];
    ASSERT_EQ(dialog.value("kind", ""), "dialog") << dialog.dump(1);
    ASSERT_FALSE(dialog["frames"].empty());
    EXPECT_EQ(dialog["frames"][0], url) << "the dialog is for another page";
    EXPECT_TRUE(Contains(dialog["kinds"], "pictures")) << dialog["kinds"];
    for (const char* picture : { "/images/logo.gif", "/images/photo.jpg", "/images/icon.png" })
        EXPECT_TRUE(Contains(dialog["items"], base + picture)) << picture << " missing from " << dialog["items"];
    EXPECT_EQ(dialog["frames"].dump().find(otherOrigin), std::string::npos) << "a cross-origin frame was read";
    EXPECT_TRUE(dialog.value("closedByHost", false)) << "Exit left the dialog's window open";
}

TEST_F(ExtensionClick, GrabButtonOpensTheDialogForThatPageWithThePicturesItsScriptInserted)
{
    if (m_chromium.empty())
        GTEST_SKIP() << kNoChromium;
    ASSERT_EQ(Quillory("register"), 0) << Log("quillory.log");
    const std::string url = PageUrl("scripted.html");
    ExpectDialogFor(Press(url), url, m_site->BaseUrl(), m_other->BaseUrl());
    EXPECT_FALSE(fs::exists(m_browserLog)) << "a window went to $BROWSER instead of the pressing browser";
}

TEST_F(ExtensionClick, GrabButtonWithoutRegistrationSaysTheModuleIsNotInstalled)
{
    if (m_chromium.empty())
        GTEST_SKIP() << kNoChromium;
    const json seen = Press(PageUrl("index.html"));
    EXPECT_EQ(seen["alerts"], json::array({ "Module QVTovanix.Tovanix not installed" })) << Log("driver.log");
    EXPECT_EQ(seen["windows"], json::array());
}

// The host runs and answers, but the registered module file has gone (the
// registry names a file moved away): its error message becomes the page's
// alert.
TEST_F(ExtensionClick, GrabButtonWithTheRegisteredModuleGoneSaysTheModuleIsNotInstalled)
{
    if (m_chromium.empty())
        GTEST_SKIP() << kNoChromium;
    ASSERT_EQ(Quillory("register"), 0) << Log("quillory.log");
    const fs::path hive = m_dir / "home" / ".config" / "quillory" / "registry" / "machine.reg";
    std::ifstream in(hive);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::string module = fs::canonical(QUILLORY_MODULE_PATH).string();
    const std::string gone = (m_dir / "moved" / "libqvtovanix.so").string();
    std::size_t replaced = 0;
    for (std::size_t at = text.find(module); at != std::string::npos; at = text.find(module, at + gone.size()), ++replaced)
        text.replace(at, module.size(), gone);
    ASSERT_GT(replaced, 0u) << "the registry does not name " << module;
    std::ofstream(hive, std::ios::trunc) << text;
    const json seen = Press(PageUrl("index.html"));
    EXPECT_EQ(seen["alerts"], json::array({ "Module QVTovanix.Tovanix not installed" })) << Log("driver.log");
    EXPECT_EQ(seen["windows"], json::array());
}

// A grab-run message box comes as a window of the pressing browser and its
// answer ends the run, which then closes that window.
TEST_F(ExtensionClick, MhtRefusalBoxReachesTheUserAsABrowserWindow)
{
    if (m_chromium.empty())
        GTEST_SKIP() << kNoChromium;
    ASSERT_EQ(Quillory("register"), 0) << Log("quillory.log");
    const json seen = Press(PageUrl("index.html#saved.mht"));
    EXPECT_EQ(seen["alerts"], json::array());
    ASSERT_EQ(seen["windows"].size(), 1u) << seen.dump(1) << Log("driver.log");
    const json& box = seen["windows"][0];
    EXPECT_EQ(box.value("kind", ""), "other") << "the grab dialog opened for a .mht address";
    EXPECT_NE(box.value("text", "").find("Sorry, grabbing files from page in .mht format not supported"), std::string::npos)
        << box.dump(1);
    EXPECT_TRUE(box.value("closedByHost", false)) << "the answered box stayed open";
    EXPECT_FALSE(fs::exists(m_browserLog));
}

// Browser pages cannot be scripted, so neither read nor given an alert:
// the refusal comes in a window of the extension's own.
TEST_F(ExtensionClick, GrabButtonOnAPageItCannotReadTellsTheUserInAWindow)
{
    if (m_chromium.empty())
        GTEST_SKIP() << kNoChromium;
    ASSERT_EQ(Quillory("register"), 0) << Log("quillory.log");
    const json seen = Press("chrome://version/");
    EXPECT_EQ(seen["alerts"], json::array());
    ASSERT_EQ(seen["windows"].size(), 1u) << seen.dump(1) << Log("driver.log");
    const json& box = seen["windows"][0];
    EXPECT_EQ(box.value("kind", ""), "other") << box.dump(1);
    EXPECT_NE(box.value("text", "").find("Quillory cannot read this page"), std::string::npos) << box.dump(1);
    EXPECT_TRUE(box.value("closedByHost", false)) << "OK left the window open";
}

// Firefox: the temporary add-on gets the id the host manifest allows, and
// its press without a registered host tells the user so.
TEST_F(ExtensionClick, FirefoxGrabButtonWithoutRegistrationSaysTheModuleIsNotInstalled)
{
    if (m_firefox.empty())
        GTEST_SKIP() << kNoFirefox;
    const json seen = Press(PageUrl("index.html"), true);
    EXPECT_EQ(seen["alerts"], json::array({ "Module QVTovanix.Tovanix not installed" })) << Log("driver.log");
    EXPECT_EQ(seen["windows"], json::array());
}

// Firefox marks the windows an extension opens "Sec-Fetch-Site: cross-site":
// the dialog server must still let that page load in.
TEST_F(ExtensionClick, FirefoxGrabButtonOpensTheDialogForThatPage)
{
    if (m_firefox.empty())
        GTEST_SKIP() << kNoFirefox;
    ASSERT_EQ(Quillory("register"), 0) << Log("quillory.log");
    const std::string url = PageUrl("scripted.html");
    ExpectDialogFor(Press(url, true), url, m_site->BaseUrl(), m_other->BaseUrl());
}

} // namespace
