// `quillory grab` end to end in headless Chromium: the program opens its
// windows with $BROWSER, which here starts tests/e2e/grab-flow.mjs (a
// Playwright driver of the system Chromium) for each window. The driver
// lists what the dialog shows, switches scripts off, saves, watches the
// progress window finish, sees the marks and exits; this test then finds
// the files on disk and the option stored. Screenshots go to
// <build>/artifacts/grab-e2e/.
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
#include <sys/file.h>
#include <thread>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

fs::path BuildDir()
{
    const char* dir = std::getenv("QUILLORY_BINARY_DIR");
    return dir && *dir ? fs::path(dir) : fs::path(QUILLORY_EXE).parent_path().parent_path();
}

// The driver writes its file as it ends, which may be after the program.
std::optional<json> WaitForResult(const fs::path& file)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(file);
        if (in) {
            json j = json::parse(in, nullptr, false);
            if (!j.is_discarded())
                return j;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::nullopt;
}

std::set<std::string> FileNames(const fs::path& dir)
{
    std::set<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec))
            names.insert(it->path().filename().string());
    }
    return names;
}

TEST(GrabDialogE2E, SampleSiteDialogSavesTheChoiceShowsProgressAndStoresTheOption)
{
    const std::string chromium = std::getenv("QUILLORY_CHROMIUM") ? std::getenv("QUILLORY_CHROMIUM") : "/usr/bin/chromium";
    if (::access(chromium.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no Chromium at " << chromium << " (install the chromium package)";
    const std::string node = testsupport::Which("node");
    if (node.empty() || testsupport::Which("npm").empty())
        GTEST_SKIP() << "no node/npm on PATH";
    const fs::path driverDir = BuildDir() / "e2e-grab";
    std::string why;
    if (!testsupport::InstallNodeDriver(driverDir, testsupport::SourcePath("tests/e2e"), { "package.json", "package-lock.json", "grab-flow.mjs" }, why))
        GTEST_SKIP() << why;

    testsupport::TempDir dir;
    const fs::path home = dir / "home";
    const fs::path out = home / "grabbed";
    const fs::path results = dir / "results";
    const fs::path artifacts = BuildDir() / "artifacts" / "grab-e2e";
    fs::create_directories(home);
    fs::create_directories(results);
    fs::create_directories(artifacts);
    std::map<std::string, std::string> env {
        { "HOME", home.string() },
        { "PATH", std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin" },
        { "TMPDIR", dir.path().string() },
        { "QUILLORY_MODULE_PATH", QUILLORY_MODULE_PATH },
        { "QUILLORY_REGISTRY_SYSTEM_MACHINE", (dir / "no-system" / "machine.reg").string() },
        { "QUILLORY_CHROMIUM", chromium },
        { "QUILLORY_E2E_RESULTS", results.string() },
        { "QUILLORY_E2E_ARTIFACTS", artifacts.string() },
        { "BROWSER", node + " " + (driverDir / "grab-flow.mjs").string() + " %s" },
    };
    ASSERT_EQ(hosttest::RunQuillory({ "register" }, env, home.string()).exitCode, 0);
    const auto scriptsBefore = hosttest::RunQuillory({ "settings", "GrabScripts" }, env, home.string());

    testsupport::PythonServer other(testsupport::SourcePath("tests/servers/site_server.py"),
                                    { "--root", testsupport::SourcePath("sample/site").string(), "--lifetime", "150" });
    testsupport::PythonServer site(testsupport::SourcePath("tests/servers/site_server.py"),
                                   { "--root", testsupport::SourcePath("sample/site").string(), "--lifetime", "150",
                                     "--define", "OTHER_ORIGIN=" + other.BaseUrl() });

    const auto run = hosttest::RunQuillory({ "grab", "-o", out.string(), site.BaseUrl() + "/index.html" }, env, home.string());
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const auto dialog = WaitForResult(results / "dialog.json");
    ASSERT_TRUE(dialog) << "the dialog driver wrote nothing; quillory said: " << run.err;
    ASSERT_TRUE(dialog->value("ok", false)) << dialog->dump(1);
    const json& c = (*dialog)["checks"];
    EXPECT_EQ((*dialog)["pageErrors"], json::array());
    EXPECT_EQ((*dialog)["dialogs"], json::array()) << "the page raised a box";
    // Kinds and frames of the sample site.
    const auto kinds = c["kinds"].dump();
    EXPECT_NE(kinds.find("pictures"), std::string::npos) << kinds;
    EXPECT_NE(kinds.find("scripts"), std::string::npos) << kinds;
    EXPECT_NE(c["frames"].dump().find("/frames/left.html"), std::string::npos) << c["frames"].dump();
    EXPECT_EQ(c["scriptOption"], false);
    EXPECT_GT(c.value("items", 0), 3);

    const auto progress = WaitForResult(results / "progress.json");
    ASSERT_TRUE(progress) << "no progress window was driven";
    ASSERT_TRUE(progress->value("ok", false)) << progress->dump(1);
    bool anyCompleted = false;
    for (const json& row : (*progress)["checks"]["rows"])
        anyCompleted = anyCompleted || (row.size() > 4 && row[4] == "Completed");
    EXPECT_TRUE(anyCompleted) << (*progress)["checks"].dump(1);
    if (c.value("afterSave", "") == "marked") {
        EXPECT_GT(c.value("saved", 0), 0);
    }

    // The pictures and stylesheets chosen, the scripts switched off.
    const auto names = FileNames(out);
    EXPECT_EQ(names.count("logo.gif"), 1u);
    EXPECT_EQ(names.count("site.css"), 1u);
    EXPECT_EQ(names.count("app.js"), 0u);
    // The option switched in the page was stored as the dialog went.
    const auto setting = hosttest::RunQuillory({ "settings", "GrabScripts" }, env, home.string());
    EXPECT_NE(setting.out, scriptsBefore.out) << setting.out;
    EXPECT_TRUE(fs::exists(artifacts / "grab-dialog.png"));
    EXPECT_TRUE(fs::exists(artifacts / "progress.png"));
}

} // namespace
