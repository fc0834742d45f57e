// `quillory native-host` as the browser runs it: a child process spoken to
// in native-messaging frames on its stdin and stdout; and the host
// manifests that `quillory register` writes and `unregister` removes.
#include "tests/host/RunQuillory.h"
#include "tests/support/PythonServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// One `quillory native-host` child; killed by its PID if it outlives the test.
class HostProcess {
public:
    // Runs `quillory native-host extraArgs...`, or `program extraArgs...`.
    HostProcess(const std::map<std::string, std::string>& env, const std::vector<std::string>& extraArgs = {},
                const std::string& program = {})
    {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> argStore { QUILLORY_EXE, "native-host" };
        if (!program.empty())
            argStore = { program };
        argStore.insert(argStore.end(), extraArgs.begin(), extraArgs.end());
        hosttest::ExecLine line(std::move(argStore), env);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            execve(line.argv()[0], line.argv(), line.envp());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~HostProcess()
    {
        CloseInput();
        if (m_out >= 0)
            close(m_out);
        if (m_pid > 0 && Wait(std::chrono::seconds(5)) == -2) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool WriteRaw(const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(m_in, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Send(const Json& message)
    {
        const std::string text = message.dump();
        const auto length = static_cast<std::uint32_t>(text.size());
        return WriteRaw(std::string(reinterpret_cast<const char*>(&length), 4) + text);
    }
    void CloseInput()
    {
        if (m_in >= 0)
            close(m_in);
        m_in = -1;
    }

    // The next framed message, or nullopt on end of stream or time-out.
    std::optional<Json> Receive(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::string length;
        if (!ReadBytes(4, length, timeout))
            return std::nullopt;
        std::uint32_t n = 0;
        std::memcpy(&n, length.data(), 4);
        if (n > (1u << 20)) {
            ADD_FAILURE() << "the host sent " << n << " bytes, above the browser's 1 MiB limit";
            return std::nullopt;
        }
        std::string body;
        if (!ReadBytes(n, body, timeout))
            return std::nullopt;
        return Json::parse(body, nullptr, false);
    }

    // Exit status, -1 for a signal, -2 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(20'000);
        }
        return -2;
    }

private:
    bool ReadBytes(std::size_t count, std::string& out, std::chrono::milliseconds timeout)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            pollfd fd { m_out, POLLIN, 0 };
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buf[4096];
            ssize_t n = read(m_out, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0)
                return false;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
};

std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A snapshot of a page without subresources (nothing to fetch).
std::string SmallSnapshot()
{
    return Json { { "v", 1 }, { "truncated", false },
                  { "doc", { { "url", "http://127.0.0.1:9/page.html" },
                             { "dom", Json::array({ "HTML", Json::array(), Json::array({ Json::array({ "BODY", Json::array(), Json::array() }) }) }) } } } }
        .dump();
}

class NativeHost : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::map<std::string, std::string> env {
        { "HOME", dir.path().string() },
        { "PATH", "/usr/bin:/bin" },
        { "QUILLORY_REGISTRY_SYSTEM_MACHINE", (dir / "no-system" / "machine.reg").string() },
        { "BROWSER", "true" },
    };
};

} // namespace

TEST_F(NativeHost, SnapshotInPiecesReachesTheGrabAndAnUnregisteredModuleIsReported)
{
    // Firefox passes the manifest path and the extension's id (Chromium the
    // caller's origin): arguments the host ignores, saying ready first.
    HostProcess host(env, { "/path/to/manifest.json", "quillory@vornel.example" });
    auto ready = host.Receive();
    ASSERT_TRUE(ready);
    EXPECT_EQ((*ready)["type"], "ready");
    const std::string text = SmallSnapshot();
    const std::size_t piece = 7; // many pieces, cut anywhere in the text
    const std::size_t parts = (text.size() + piece - 1) / piece;
    for (std::size_t i = 0; i < parts; ++i) {
        ASSERT_TRUE(host.Send({ { "type", "snapshot" }, { "id", 3 }, { "part", i }, { "parts", parts }, { "data", text.substr(i * piece, piece) } }));
    }
    ASSERT_TRUE(host.Send({ { "type", "grab" }, { "id", 3 }, { "via", "menu" } }));
    // Nothing is registered in this HOME: the menu extension's own words.
    auto reply = host.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["type"], "error");
    EXPECT_EQ((*reply)["id"], 3);
    EXPECT_EQ((*reply)["text"], "Module QVTovanix.Tovanix not installed");
    EXPECT_EQ(host.Wait(std::chrono::seconds(10)), 1);
}

TEST_F(NativeHost, FramesSplitAcrossWritesAreReassembled)
{
    HostProcess host(env);
    ASSERT_TRUE(host.Receive());
    const std::string body = Json { { "type", "snapshot" }, { "id", 1 }, { "part", 0 }, { "parts", 1 }, { "data", "{}" } }.dump();
    const auto length = static_cast<std::uint32_t>(body.size());
    const std::string frame = std::string(reinterpret_cast<const char*>(&length), 4) + body;
    for (char c : frame) {
        ASSERT_TRUE(host.WriteRaw(std::string(1, c)));
        usleep(1000);
    }
    ASSERT_TRUE(host.Send({ { "type", "grab" }, { "id", 1 }, { "via", "button" } }));
    // The two-byte snapshot is no page: the reply says so (rather than
    // the host waiting for the rest of a frame it misread).
    auto reply = host.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["type"], "error");
    EXPECT_NE((*reply)["text"].get<std::string>().find("cannot read the page"), std::string::npos) << *reply;
}

TEST_F(NativeHost, HostileFramesEndTheHostWithoutReadingThem)
{
    {
        // A length above the browser's own 64 MiB limit: nothing is allocated or read.
        HostProcess host(env);
        ASSERT_TRUE(host.Receive());
        const std::uint32_t huge = 0xFFFFFFF0u;
        ASSERT_TRUE(host.WriteRaw(std::string(reinterpret_cast<const char*>(&huge), 4)));
        EXPECT_EQ(host.Wait(std::chrono::seconds(10)), 1);
    }
    {
        // The stream ends inside a message.
        HostProcess host(env, { "chrome-extension://giofkconlhinbomchjddogpdcjiehcgn/" });
        ASSERT_TRUE(host.Receive());
        const std::uint32_t length = 100;
        ASSERT_TRUE(host.WriteRaw(std::string(reinterpret_cast<const char*>(&length), 4) + "{\"type\":"));
        host.CloseInput();
        EXPECT_EQ(host.Wait(std::chrono::seconds(10)), 1);
    }
    {
        // Pieces out of order are refused with a reason.
        HostProcess host(env);
        ASSERT_TRUE(host.Receive());
        ASSERT_TRUE(host.Send({ { "type", "snapshot" }, { "id", 5 }, { "part", 1 }, { "parts", 2 }, { "data", "x" } }));
        auto reply = host.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["type"], "error");
        EXPECT_NE((*reply)["text"].get<std::string>().find("out of order"), std::string::npos) << *reply;
        EXPECT_EQ(host.Wait(std::chrono::seconds(10)), 1);
    }
    {
        // A grab whose snapshot never came.
        HostProcess host(env);
        ASSERT_TRUE(host.Receive());
        ASSERT_TRUE(host.Send({ { "type", "snapshot" }, { "id", 8 }, { "part", 0 }, { "parts", 2 }, { "data", "{" } }));
        ASSERT_TRUE(host.Send({ { "type", "grab" }, { "id", 8 }, { "via", "menu" } }));
        auto reply = host.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ((*reply)["type"], "error");
        EXPECT_NE((*reply)["text"].get<std::string>().find("incomplete"), std::string::npos) << *reply;
    }
}

TEST_F(NativeHost, RegisterWritesTheManifestsAndUnregisterRemovesThem)
{
    // No browser is installed in this HOME: registration still succeeds.
    const auto reg = hosttest::RunQuillory({ "register" }, env, dir.path().string());
    ASSERT_EQ(reg.exitCode, 0) << reg.err;
    EXPECT_NE(reg.err.find("Load unpacked"), std::string::npos) << reg.err;

    const fs::path wrapper = dir / ".local" / "share" / "quillory" / "native-host";
    ASSERT_TRUE(fs::exists(wrapper));
    EXPECT_NE(fs::status(wrapper).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_NE(ReadFile(wrapper).find("native-host \"$@\""), std::string::npos);

    const fs::path chromium = dir / ".config" / "chromium" / "NativeMessagingHosts" / "com.vornel.quillory.json";
    const fs::path chrome = dir / ".config" / "google-chrome" / "NativeMessagingHosts" / "com.vornel.quillory.json";
    const fs::path firefox = dir / ".mozilla" / "native-messaging-hosts" / "com.vornel.quillory.json";
    for (const fs::path& p : { chromium, chrome, firefox }) {
        Json m = Json::parse(ReadFile(p), nullptr, false);
        ASSERT_TRUE(m.is_object()) << p;
        EXPECT_EQ(m["name"], "com.vornel.quillory");
        EXPECT_EQ(m["type"], "stdio");
        EXPECT_EQ(m["path"], wrapper.string());
    }
    EXPECT_EQ(Json::parse(ReadFile(chromium))["allowed_origins"][0], "chrome-extension://giofkconlhinbomchjddogpdcjiehcgn/");
    EXPECT_EQ(Json::parse(ReadFile(firefox))["allowed_extensions"][0], "quillory@vornel.example");
    // The id in the manifests is the one the extension's key gives.
    EXPECT_NE(ReadFile(testsupport::SourcePath("extension/manifest.json")).find("\"key\""), std::string::npos);

    // The wrapper starts the host.
    {
        HostProcess viaWrapper(env, { "chrome-extension://giofkconlhinbomchjddogpdcjiehcgn/" }, wrapper.string());
        auto ready = viaWrapper.Receive();
        ASSERT_TRUE(ready);
    }

    const auto unreg = hosttest::RunQuillory({ "unregister" }, env, dir.path().string());
    ASSERT_EQ(unreg.exitCode, 0) << unreg.err;
    for (const fs::path& p : { chromium, chrome, firefox, wrapper })
        EXPECT_FALSE(fs::exists(p)) << p;
    // A second unregistration finds nothing to remove and still succeeds.
    EXPECT_EQ(hosttest::RunQuillory({ "unregister" }, env, dir.path().string()).exitCode, 0);
}

// The whole chain behind the browser's button and menu entry: snapshot ->
// document model -> grabber object -> grab run -> the grab dialog's window,
// which the host asks the extension to open. The browser going away (its
// end of stdin closing) ends the dialog and the host.
TEST_F(NativeHost, ButtonAndMenuOpenTheGrabDialogInTheExtensionsBrowser)
{
    const auto reg = hosttest::RunQuillory({ "register" }, env, dir.path().string());
    ASSERT_EQ(reg.exitCode, 0) << reg.err;
    for (const char* via : { "button", "menu" }) {
        HostProcess host(env, { "chrome-extension://giofkconlhinbomchjddogpdcjiehcgn/" });
        ASSERT_TRUE(host.Receive());
        ASSERT_TRUE(host.Send({ { "type", "snapshot" }, { "id", 1 }, { "part", 0 }, { "parts", 1 }, { "data", SmallSnapshot() } }));
        ASSERT_TRUE(host.Send({ { "type", "grab" }, { "id", 1 }, { "via", via } }));
        auto open = host.Receive(std::chrono::seconds(30));
        ASSERT_TRUE(open) << via;
        EXPECT_EQ((*open)["type"], "open") << *open;
        EXPECT_EQ((*open)["role"], "grab") << *open;
        const std::string url = (*open)["url"].get<std::string>();
        EXPECT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
        host.CloseInput();
        // The dialog closes, its window is taken down, the run reports done.
        bool closed = false;
        bool done = false;
        while (auto m = host.Receive(std::chrono::seconds(30))) {
            closed = closed || (*m)["type"] == "close";
            done = done || (*m)["type"] == "done";
        }
        EXPECT_TRUE(closed) << via;
        EXPECT_TRUE(done) << via;
        EXPECT_EQ(host.Wait(std::chrono::seconds(15)), 0) << via;
    }
}

// `quillory list --loader chromium` on a page its script builds lists the
// pictures the script inserted; the static loader's listing has only the
// one in the markup.
TEST(ListCommandLoader, ChromiumListsPicturesAScriptInserted)
{
    if (access("/usr/bin/chromium", X_OK) != 0 && !std::getenv("QUILLORY_CHROMIUM"))
        GTEST_SKIP() << "Chromium is not installed (install the chromium package): browser tests skipped";
    testsupport::TempDir dir;
    testsupport::PythonServer site(testsupport::SourcePath("tests/servers/site_server.py"),
                                   { "--root", testsupport::SourcePath("sample/site").string(), "--lifetime", "300" });
    std::map<std::string, std::string> env { { "HOME", dir.path().string() }, { "PATH", "/usr/bin:/bin" } };
    const std::string url = site.BaseUrl() + "/scripted.html";
    const auto live = hosttest::RunQuillory({ "list", "--loader", "chromium", url }, env, dir.path().string());
    ASSERT_EQ(live.exitCode, 0) << live.err;
    EXPECT_NE(live.out.find("<item src=\"images/photo.jpg\""), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("<item src=\"images/icon.png\""), std::string::npos) << live.out;
    EXPECT_NE(live.out.find("<item src=\"images/logo.gif\""), std::string::npos) << live.out;

    const auto markup = hosttest::RunQuillory({ "list", url }, env, dir.path().string());
    ASSERT_EQ(markup.exitCode, 0) << markup.err;
    EXPECT_EQ(markup.out.find("<item src=\"images/photo.jpg\""), std::string::npos);
    EXPECT_NE(markup.out.find("<item src=\"images/logo.gif\""), std::string::npos);

    const auto wrong = hosttest::RunQuillory({ "list", "--loader", "firefox", url }, env, dir.path().string());
    EXPECT_NE(wrong.exitCode, 0);
}
