// `quillory fetch` end to end: the built command against the loopback
// servers, with HOME, XDG folders and the registry in fresh folders.
#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

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

    RunResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), exe.string());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> envStrings = {
            "HOME=" + home.path().string(),
            "XDG_CONFIG_HOME=" + (home / "config").string(),
            "XDG_DATA_HOME=" + (home / "data").string(),
            "XDG_DOCUMENTS_DIR=" + (home / "Documents").string(),
            "QUILLORY_REGISTRY_USER=" + (home / "user.reg").string(),
            "QUILLORY_REGISTRY_MACHINE=" + (home / "machine.reg").string(),
            "TMPDIR=" + home.path().string(),
            "PATH=/usr/bin:/bin",
        };
        std::vector<char*> env;
        for (auto& e : envStrings)
            env.push_back(e.data());
        env.push_back(nullptr);

        const std::string outPath = (home / "stdout.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, workdir.path().c_str());
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        RunResult result;
        if (rc != 0)
            return result;
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        const auto bytes = testsupport::ReadFileBytes(outPath);
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

TEST_F(FetchCommandTest, EveryUrlCompletedExitsZeroWithCorrectBytes)
{
    const RunResult r = Run({ "fetch", "-o", root.path().string(), Url("/gen/250000/1/a.gif"),
                              Url("/chunked/70000/2/b.css") });
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("2 completed, 0 failed\n"), std::string::npos) << r.out;
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "a.gif", 250000, 1), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "b.css", 70000, 2), "");
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

TEST_F(FetchCommandTest, DefaultRootFolderIsTheStoredGrabPath)
{
    const fs::path stored = root / "grabbed";
    ASSERT_EQ(Run({ "settings", "GrabPath", stored.string() }).status, 0);
    const RunResult r = Run({ "fetch", Url("/gen/1234/5/stored.gif") });
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(testsupport::CompareWithGenerated(stored / "stored.gif", 1234, 5), "");
}

TEST_F(FetchCommandTest, EscapedSeparatorsNeverLeaveTheRootFolder)
{
    const fs::path inner = root / "inner";
    const RunResult r = Run({ "fetch", "-o", inner.string(), Url("/gen/10/1/..%2F..%2Fescape.gif"),
                              Url("/gen/10/1/%2E%2E"), Url("/gen/10/1/a%5C..%5C..%5Cb.gif") });
    EXPECT_EQ(r.status, 0) << r.out;
    std::size_t inside = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().parent_path(), inner) << entry.path();
            ++inside;
        }
    }
    EXPECT_EQ(inside, 3u);
}

} // namespace
