// `quillory grab --batch` and `quillory demo --batch` against the sample
// site on loopback, run as the real program with a fresh HOME.
#include "tests/host/RunQuillory.h"
#include "tests/support/PythonServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

using hosttest::RunQuillory;

// File names (not paths) of every regular file below `dir`.
std::multiset<std::string> FileNames(const fs::path& dir)
{
    std::multiset<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec))
            names.insert(it->path().filename().string());
    }
    return names;
}

// Regular files below HOME that are neither the program's own settings and
// caches nor below `allowed`.
std::vector<std::string> StrayFiles(const fs::path& home, const fs::path& allowed)
{
    std::vector<std::string> stray;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path rel = it->path().lexically_relative(home);
        const std::string top = rel.begin()->string();
        if (top == ".config" || top == ".cache" || top == ".local" || top == ".mozilla") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->path() == allowed) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(ec))
            stray.push_back(rel.string());
    }
    return stray;
}

class GrabBatch : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    fs::path home = dir / "home";
    fs::path out = dir / "home" / "grabbed";
    std::map<std::string, std::string> env {
        { "HOME", home.string() },
        { "PATH", "/usr/bin:/bin" },
        { "QUILLORY_MODULE_PATH", QUILLORY_MODULE_PATH },
        { "QUILLORY_REGISTRY_SYSTEM_MACHINE", (dir / "no-system" / "machine.reg").string() },
    };

    void SetUp() override { fs::create_directories(home); }

    hosttest::RunResult Run(const std::vector<std::string>& args) { return RunQuillory(args, env, home.string()); }

    // The sample site on two loopback origins, as the demo serves it.
    struct Site {
        testsupport::PythonServer other;
        testsupport::PythonServer main;
        Site()
            : other(testsupport::SourcePath("tests/servers/site_server.py"),
                    { "--root", testsupport::SourcePath("sample/site").string(), "--lifetime", "120" })
            , main(testsupport::SourcePath("tests/servers/site_server.py"),
                   { "--root", testsupport::SourcePath("sample/site").string(), "--lifetime", "120", "--define",
                     "OTHER_ORIGIN=" + other.BaseUrl() })
        {
        }
        std::string Url() const { return main.BaseUrl() + "/index.html"; }
    };
};

TEST_F(GrabBatch, UnregisteredProductSaysHowToRegisterAndWritesNothing)
{
    Site site;
    const auto r = Run({ "grab", "--batch", "-o", out.string(), site.Url() });
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("quillory register"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

// The object is made through the registered InprocServer32, not from the
// program's own code: a registration naming another file stops the grab.
TEST_F(GrabBatch, GrabLoadsTheRegisteredModuleFileAndReportsWhatIsWrongWithIt)
{
    ASSERT_EQ(Run({ "register" }).exitCode, 0);
    const fs::path hive = home / ".config" / "quillory" / "registry" / "machine.reg";
    std::ifstream in(hive, std::ios::binary);
    const std::string registered((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string module = fs::canonical(QUILLORY_MODULE_PATH).string();
    ASSERT_NE(registered.find("@=\"" + module + "\""), std::string::npos) << registered;
    // A shared library without the entry points: the C library.
    Dl_info libc {};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::printf), &libc), 0);
    struct Case {
        std::string path;
        std::string says;
    } cases[] = {
        { (dir / "gone" / "libqvtovanix.so").string(), "Cannot load" },
        { (dir / "empty.so").string(), "Cannot load" },
        { libc.dli_fname, "is not a Quillory module" },
    };
    std::ofstream(dir / "empty.so").put('\0');
    Site site;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string text = registered;
        text.replace(text.find("@=\"" + module + "\""), module.size() + 4, "@=\"" + c.path + "\"");
        std::ofstream(hive, std::ios::binary | std::ios::trunc) << text;
        const auto r = Run({ "grab", "--batch", "-o", out.string(), site.Url() });
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("quillory register"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(GrabBatch, ChosenFilesLandInTheOutputFolderOnlyAndStoredGrabPathStays)
{
    ASSERT_EQ(Run({ "register" }).exitCode, 0);
    const auto before = Run({ "settings", "GrabPath" });
    Site site;
    const auto r = Run({ "grab", "--batch", "-o", out.string(), site.Url() });
    // The site names files that do not exist: the run
    // says that not every chosen file arrived.
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    std::size_t completed = 0;
    std::size_t failed = 0;
    const auto summary = r.out.rfind('\n', r.out.size() - 2);
    ASSERT_EQ(std::sscanf(r.out.c_str() + (summary == std::string::npos ? 0 : summary + 1), "%zu completed, %zu failed",
                          &completed, &failed), 2) << r.out;
    EXPECT_GE(failed, 1u);
    EXPECT_GT(completed, failed);

    // Pictures, stylesheets and scripts of the page and of its frames.
    const auto names = FileNames(out);
    for (const char* expected : { "logo.gif", "site.css", "app.js", "corner.png" })
        EXPECT_EQ(names.count(expected), 1u) << expected << " missing; got " << names.size() << " files";
    EXPECT_EQ(StrayFiles(home, out), std::vector<std::string>());

    // -o was for this run: the stored folder reads as before.
    const auto after = Run({ "settings", "GrabPath" });
    EXPECT_EQ(after.out, before.out);
}

TEST_F(GrabBatch, KindSwitchedOffInTheOptionsIsNotDownloaded)
{
    ASSERT_EQ(Run({ "register" }).exitCode, 0);
    ASSERT_EQ(Run({ "settings", "GrabPictures", "off" }).exitCode, 0);
    Site site;
    const auto r = Run({ "grab", "--batch", "-o", out.string(), site.Url() });
    ASSERT_EQ(r.exitCode, 2) << r.out << r.err; // the missing stylesheet
    const auto names = FileNames(out);
    EXPECT_EQ(names.count("site.css"), 1u);
    for (const std::string& name : names) {
        const std::string ext = fs::path(name).extension().string();
        EXPECT_TRUE(ext != ".gif" && ext != ".png" && ext != ".jpg" && ext != ".webp") << name;
    }
}

TEST_F(GrabBatch, UnreachablePageFailsWithoutShowingAnything)
{
    ASSERT_EQ(Run({ "register" }).exitCode, 0);
    // Port 1 on loopback: nothing listens there.
    const auto r = Run({ "grab", "--batch", "-o", out.string(), "http://127.0.0.1:1/index.html" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(FileNames(out).empty());
}

TEST_F(GrabBatch, DemoRegistersWhenNeededServesTheSiteAndSaysWhereTheFilesWent)
{
    env["QUILLORY_SAMPLE_SITE"] = testsupport::SourcePath("sample/site").string();
    const auto r = Run({ "demo", "--batch", "-o", out.string() });
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("running `quillory register`"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("The files went to " + out.string()), std::string::npos) << r.out;
    EXPECT_EQ(FileNames(out).count("logo.gif"), 1u);
    // The second origin's picture came through the replaced address.
    EXPECT_EQ(FileNames(out).count("remote.gif"), 1u);
    EXPECT_EQ(StrayFiles(home, out), std::vector<std::string>());
}

TEST_F(GrabBatch, NetworkPageCannotHaveLocalFilesOrScriptAddressesFetched)
{
    ASSERT_EQ(Run({ "register" }).exitCode, 0);
    const fs::path secret = dir / "secret.txt";
    std::ofstream(secret) << "private";
    const fs::path root = dir / "www";
    fs::create_directories(root);
    // A whole 1x1 picture: only pictures that loaded are listed.
    const unsigned char gif[] = { 0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00,
        0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b };
    std::ofstream(root / "ok.gif", std::ios::binary).write(reinterpret_cast<const char*>(gif), sizeof gif);
    std::ofstream(root / "hostile.html")
        << "<html><body><img src=\"ok.gif\"><img src=\"file://" << secret.string() << "\">"
        << "<img src=\"javascript:alert(1)\"><script src=\"data:text/javascript,1\"></script></body></html>";
    testsupport::PythonServer site(testsupport::SourcePath("tests/servers/site_server.py"),
                                   { "--root", root.string(), "--lifetime", "120" });
    const auto r = Run({ "grab", "--batch", "-o", out.string(), site.BaseUrl() + "/hostile.html" });
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("1 completed, 0 failed"), std::string::npos) << r.out;
    const auto names = FileNames(out);
    EXPECT_EQ(names.count("ok.gif"), 1u);
    EXPECT_EQ(names.count("secret.txt"), 0u);
    EXPECT_EQ(names.size(), 1u);
}

} // namespace
