// `quillory fetch` end to end: the built command against the loopback
// servers, with HOME, XDG folders and the registry in fresh folders.
#include "tests/support/AsfTestFile.h"
#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1; // exit status, -1 when it did not exit normally
    std::string out;
};

// QUILLORY_BINARY_DIR/host/quillory, else beside this test program's
// folder (<build>/tests/test_saveprocessors -> <build>/host/quillory).
fs::path QuilloryExe()
{
    if (const char* bin = std::getenv("QUILLORY_BINARY_DIR"); bin && *bin)
        return fs::path(bin) / "host" / "quillory";
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path().parent_path() / "host" / "quillory";
}

class FetchCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = QuilloryExe();
        if (exe.empty() || !fs::exists(exe))
            GTEST_SKIP() << "the quillory command is not built (" << exe << ")";
        server = testsupport::StartHttpTestServer();
    }

    // Runs the command with a clean environment whose HOME, XDG folders and
    // registry files lie in a fresh folder, from an empty working folder.
    RunResult Run(const std::vector<std::string>& args)
    {
        auto quote = [](const std::string& text) { return "'" + text + "'"; };
        const fs::path h = home.path();
        std::string command = "cd " + quote(workdir.path().string()) + " && env -i HOME=" + quote(h.string()) +
                              " XDG_CONFIG_HOME=" + quote((h / "config").string()) +
                              " XDG_DATA_HOME=" + quote((h / "data").string()) +
                              " XDG_DOCUMENTS_DIR=" + quote((h / "Documents").string()) +
                              " QUILLORY_REGISTRY_USER=" + quote((h / "user.reg").string()) +
                              " QUILLORY_REGISTRY_MACHINE=" + quote((h / "machine.reg").string()) +
                              " TMPDIR=" + quote(h.string()) + " PATH=/usr/bin:/bin " + quote(exe.string());
        for (const std::string& a : args)
            command += " " + quote(a);
        command += " </dev/null >" + quote((h / "stdout.txt").string());
        RunResult result;
        result.status = testsupport::RunCommand(command);
        const auto bytes = testsupport::ReadFileBytes(h / "stdout.txt");
        result.out.assign(bytes.begin(), bytes.end());
        return result;
    }

    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }

    fs::path exe;
    testsupport::TempDir home;
    testsupport::TempDir workdir; // the command's working directory; must stay empty
    testsupport::TempDir root;
    std::unique_ptr<testsupport::PythonServer> server;
};

TEST_F(FetchCommandTest, EveryUrlCompletedExitsZeroWithCorrectBytesInTheStoredGrabPathAndNothingLeavesIt)
{
    // Without -o the root folder is the stored grab path.
    const fs::path stored = root / "grabbed";
    ASSERT_EQ(Run({ "settings", "GrabPath", stored.string() }).status, 0);
    const RunResult r = Run({ "fetch", Url("/gen/250000/1/a.gif"), Url("/chunked/70000/2/b.css"),
                              Url("/gen/10/1/..%2F..%2Fescape.gif"), Url("/gen/10/1/%2E%2E"),
                              Url("/gen/10/1/a%5C..%5C..%5Cb.gif") });
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("5 completed, 0 failed\n"), std::string::npos) << r.out;
    EXPECT_EQ(testsupport::CompareWithGenerated(stored / "a.gif", 250000, 1), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(stored / "b.css", 70000, 2), "");
    // Escaped separators never lead out of the root folder.
    std::size_t inside = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().parent_path(), stored) << entry.path();
            ++inside;
        }
    }
    EXPECT_EQ(inside, 5u);
    EXPECT_TRUE(fs::is_empty(workdir.path())) << "something was written into the working directory";
}

TEST_F(FetchCommandTest, AnyFailureMakesTheExitStatusNonZero)
{
    const RunResult r = Run({ "fetch", "-o", root.path().string(), Url("/gen/100/1/ok.gif"),
                              Url("/cut/9000/1/4000/cut.gif"), "rtsp://127.0.0.1/x.rm" });
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("1 completed, 2 failed\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(Url("/cut/9000/1/4000/cut.gif") + ": Error: Download incomplete: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(Url("/cut/9000/1/4000/cut.gif") + ": Completed"), std::string::npos) << r.out;
}

} // namespace
