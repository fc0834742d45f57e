// CMMSFileProcessor against the loopback MMS server streaming a real ASF
// file made by ffmpeg; the files it writes are checked with ffprobe.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "saveprocessors/MMSFileProcessor.h"
#include "saveprocessors/MmsMessage.h"
#include "tests/saveprocessors/RecordingEvents.h"
#include "tests/support/AsfTestFile.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/PythonServer.h"
#include "tests/support/TempDir.h"

using namespace QVSaveProcessors;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using mms::Bytes;

namespace {

Bytes ReadFile(const fs::path& path) { return testsupport::ReadFileBytes(path); }

struct LoggedCommand {
    std::uint32_t command, switches, extra, length, sequence;
    Bytes payload;
};

// The server's log: "command": n, ... "payload": "hex" per line.
std::vector<LoggedCommand> ReadLog(const fs::path& path)
{
    std::vector<LoggedCommand> commands;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const auto field = [&](const std::string& key) {
            const auto at = line.find("\"" + key + "\": ");
            return at == std::string::npos ? std::string("0") : line.substr(at + key.size() + 4);
        };
        const auto number = [&](const char* key) { return static_cast<std::uint32_t>(std::stoul(field(key))); };
        LoggedCommand c{number("command"), number("switches"), number("extra"), number("length"), number("sequence"), {}};
        const std::string hex = field("payload"); // "0" when absent
        for (std::size_t i = 1; i + 1 < hex.size() && hex[i] != '"'; i += 2)
            c.payload.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        commands.push_back(std::move(c));
    }
    return commands;
}

class MMSFileProcessorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!testsupport::HaveFfmpeg())
            return;
        s_dir = std::make_unique<testsupport::TempDir>();
        s_source = *s_dir / "test.asf";
        if (!testsupport::MakeTestAsf(s_source, 3))
            s_source.clear();
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        if (!testsupport::HaveFfmpeg())
            GTEST_SKIP() << "ffmpeg/ffprobe are not installed; the MMS server tests stream an ASF file made with them";
        ASSERT_FALSE(s_source.empty()) << "ffmpeg could not make the test ASF file";
        const Bytes file = ReadFile(s_source);
        const std::uint64_t headerSize = mms::ReadLe64(file, 16);
        m_header.assign(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(headerSize + 50));
        const std::uint64_t count = mms::ReadLe64(file, headerSize + 40);
        m_packetLength = static_cast<std::uint32_t>((mms::ReadLe64(file, headerSize + 16) - 50) / count);
        // Header, then the packets: the file without its trailing index.
        m_expected.assign(file.begin(),
                          file.begin() + static_cast<std::ptrdiff_t>(headerSize + 50 + count * m_packetLength));
        m_packetCount = static_cast<std::size_t>(count);
    }

    void StartServer(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--asf", s_source.string(), "--log", (m_dir / "commands.jsonl").string()});
        m_server = std::make_unique<testsupport::PythonServer>(testsupport::SourcePath("tests/servers/mms_server.py"),
                                                               args);
    }

    // Starts a job against the server (port 9 without one: nothing listens).
    void Start(const std::string& url, testsupport::RecordingEvents& events, const fs::path& target,
               std::chrono::milliseconds idleLimit = CMMSFileProcessor::kDefaultIdleTimeLimit)
    {
        // The worker reads the port after Start returns: keep it set.
        m_port.reset();
        m_port = std::make_unique<testsupport::ScopedEnv>(CMMSFileProcessor::kTestPortVariable,
                                                          std::to_string(m_server ? m_server->port() : 9));
        m_processor.SetEvents(&events);
        m_processor.SetIdleTimeLimit(idleLimit);
        m_processor.Start(url, target.string(), false);
    }
    // Runs one job to its end.
    void Fetch(const std::string& url, testsupport::RecordingEvents& events, const fs::path& target,
               std::chrono::milliseconds idleLimit = CMMSFileProcessor::kDefaultIdleTimeLimit)
    {
        Start(url, events, target, idleLimit);
        ASSERT_TRUE(events.WaitFinished()) << "the job did not end";
        m_processor.WaitForWorker();
    }

    std::vector<LoggedCommand> Log() const { return ReadLog(m_dir / "commands.jsonl"); }

    void ExpectProbesLikeTheSource(const fs::path& path)
    {
        const auto source = testsupport::ProbeAsf(s_source);
        const auto copy = testsupport::ProbeAsf(path);
        ASSERT_TRUE(source);
        ASSERT_TRUE(copy) << "ffprobe could not read the written file to its end";
        ASSERT_EQ(copy->size(), source->size());
        for (std::size_t i = 0; i < source->size(); ++i) {
            EXPECT_EQ((*copy)[i].codec, (*source)[i].codec);
            EXPECT_EQ((*copy)[i].packets, (*source)[i].packets);
        }
    }

    static inline std::unique_ptr<testsupport::TempDir> s_dir;
    static inline fs::path s_source;

    testsupport::TempDir m_dir;
    fs::path m_target = m_dir / "out.asf";
    Bytes m_header;
    Bytes m_expected;
    std::uint32_t m_packetLength = 0;
    std::size_t m_packetCount = 0;
    std::unique_ptr<testsupport::PythonServer> m_server;
    std::unique_ptr<testsupport::ScopedEnv> m_port;
    testsupport::RecordingEvents m_events;
    CMMSFileProcessor m_processor;
};

} // namespace

TEST_F(MMSFileProcessorTest, TwoJobsWriteTheSourceAndSendTheMmsCommandsInOneSequence)
{
    StartServer({});
    // The query stays out of the path; the explicit port is not used.
    Fetch("mms://127.0.0.1:8080/test.asf?x=1", m_events, m_target);
    EXPECT_EQ(m_events.Errors(), std::vector<std::string>{});
    EXPECT_TRUE(m_events.Has("completed"));
    EXPECT_EQ(m_processor.GetState(), CSaveProcessor2::StateCompleted);
    EXPECT_EQ(m_processor.GetBytesReceived(), m_expected.size());
    EXPECT_EQ(ReadFile(m_target), m_expected);
    ExpectProbesLikeTheSource(m_target);
    char port[16];
    std::snprintf(port, sizeof port, "Port: %08x", static_cast<unsigned>(htons(static_cast<std::uint16_t>(m_server->port()))));
    // 0x01 for host 127.0.0.1: (2 + 67 + 9) characters x 2 + 8 = 164 bytes.
    for (const std::string& trace : {std::string(port), std::string("host : >127.0.0.1<"), std::string("path : >/test.asf<"),
                                    std::string("command sent, 212 bytes"), std::string("stream object, stream id: 2\n")})
        EXPECT_TRUE(m_events.Has("trace " + trace)) << trace;

    // The second job's sequence numbers go on from the first one's, and a
    // non-ASCII path reaches the server as UTF-16, one unit per character.
    testsupport::RecordingEvents second;
    Fetch("mms://127.0.0.1/%C3%A9t%C3%A9.asf", second, m_dir / "again.asf");
    EXPECT_TRUE(second.Has("completed"));

    const auto log = Log();
    std::vector<std::uint32_t> commands;
    for (const auto& c : log)
        commands.push_back(c.command);
    ASSERT_EQ(commands, (std::vector<std::uint32_t>{0x01, 0x02, 0x05, 0x15, 0x33, 0x07, 0x01, 0x02, 0x05, 0x15, 0x33, 0x07}));
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].sequence, i);
        EXPECT_EQ(log[i].length, log[i].payload.size() + 32);
    }
    EXPECT_EQ(log[0].extra, 0x0004000Bu);
    EXPECT_EQ(log[1].payload, mms::ConnectFunnelPayload("127.0.0.1"));
    EXPECT_EQ(log[2].payload, mms::OpenFilePayload("/test.asf"));
    EXPECT_EQ(log[3].switches, 1u);
    EXPECT_EQ(log[4].payload, (Bytes{0, 0, 0xFF, 0xFF, 2, 0, 0, 0})) << "streams 1 and 2 of the ffmpeg header";
    EXPECT_EQ(log[8].payload, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, '/', 0, 0xE9, 0, 't', 0, 0xE9, 0, '.', 0, 'a', 0,
                                     's', 0, 'f', 0, 0, 0, 0, 0}));
}

TEST_F(MMSFileProcessorTest, SplitHeaderPingsShortPacketsAndSplitSegmentsStillGiveTheSource)
{
    StartServer({"--header-packets", "3", "--ping-header", "--ping-media", "4", "--ping-with-answer",
                 "--short-packets", "--split-writes"});
    Fetch("mms://127.0.0.1/test.asf", m_events, m_target);
    EXPECT_EQ(m_events.Errors(), std::vector<std::string>{});
    EXPECT_TRUE(m_events.Has("completed"));
    EXPECT_EQ(ReadFile(m_target), m_expected);
    ExpectProbesLikeTheSource(m_target);
    // Every ping was answered: one in front of each of the 6 answers (0x01,
    // 0x02, 0x06, 0x11, 0x21, 0x05), 2 between header packets, one per 4
    // media packets.
    int pongs = 0;
    for (const auto& c : Log())
        pongs += c.command == 0x1B;
    EXPECT_EQ(pongs, 6 + 2 + static_cast<int>((m_packetCount + 3) / 4));
}

TEST_F(MMSFileProcessorTest, BrokenConnectionsReportTheirCauseAndKeepOnlyWholePackets)
{
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> serverArgs; // none: no server
        std::string url;
        std::chrono::milliseconds idleLimit;
        std::vector<std::string> errors;
        CSaveProcessor2::JobState state;
        std::size_t packetsKept; // after the header; none: an empty file
    };
    constexpr auto kIdle = CMMSFileProcessor::kDefaultIdleTimeLimit;
    constexpr std::size_t kEmpty = ~std::size_t{0};
    const std::string url = "mms://127.0.0.1/test.asf";
    const std::vector<Case> cases = {
        {"server closes while an answer is awaited", std::vector<std::string>{"--close-at", "05"}, url, kIdle,
         {"alert! eof"}, CSaveProcessor2::StatePending, kEmpty},
        {"server closes inside a packet", std::vector<std::string>{"--close-in-media", "3"}, url, kIdle,
         {"read error in GetData()", "media data read failed"}, CSaveProcessor2::StateReceiving, 3},
        {"server goes silent past the idle limit", std::vector<std::string>{"--stall-in-media", "2"}, url, 400ms,
         {"timeout: the server sent nothing for 0.4 s", "pre-header read failed"}, CSaveProcessor2::StateReceiving, 2},
        {"unresolvable host", std::nullopt, "mms://no-such-host.invalid/test.asf", kIdle,
         {"Host name lookup failure!"}, CSaveProcessor2::StatePending, kEmpty},
        {"refused connection", std::nullopt, url, kIdle,
         {"Error while trying to connect to socket!"}, CSaveProcessor2::StatePending, kEmpty},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.reset();
        if (c.serverArgs)
            StartServer(*c.serverArgs);
        testsupport::RecordingEvents events;
        const fs::path target = m_dir / ("broken" + std::to_string(n++) + ".asf");
        Fetch(c.url, events, target, c.idleLimit);
        EXPECT_EQ(events.Errors(), c.errors);
        EXPECT_FALSE(events.Has("completed"));
        EXPECT_EQ(m_processor.GetState(), c.state);
        ASSERT_TRUE(fs::exists(target));
        EXPECT_EQ(fs::file_size(target), c.packetsKept == kEmpty ? 0 : m_header.size() + c.packetsKept * m_packetLength);
    }
}

TEST_F(MMSFileProcessorTest, StopWakesAWaitingWorkerPromptlyAndLeavesHeaderAndWholePacketsOnly)
{
    struct Case {
        const char* name;
        std::vector<std::string> serverArgs;
        std::size_t packets; // received before the server goes silent; ~0: not even the answer to 0x01
        CSaveProcessor2::JobState state;
        std::vector<std::string> errors;
    };
    constexpr std::size_t kNoHeader = ~std::size_t{0};
    const Case cases[] = {
        {"silent inside packet 6", {"--stall-in-media", "5", "--stall-mid-packet"}, 5, CSaveProcessor2::StateReceiving, {}},
        {"silent from the first answer", {"--stall-at", "01"}, kNoHeader, CSaveProcessor2::StatePending,
         {"asf_header_len < 1"}}, // as a stop before the header always reports
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.reset();
        StartServer(c.serverArgs);
        testsupport::RecordingEvents events;
        const fs::path target = m_dir / (std::to_string(c.packets) + ".asf");
        Start("mms://127.0.0.1/test.asf", events, target);
        const std::size_t kept = c.packets == kNoHeader ? 0 : m_header.size() + c.packets * m_packetLength;
        ASSERT_TRUE(events.WaitForBytes(kept));
        std::this_thread::sleep_for(300ms); // the worker now waits for the silent server
        const auto before = std::chrono::steady_clock::now();
        m_processor.Stop();
        // The state read right after the stop is what the dialog records.
        EXPECT_EQ(m_processor.GetState(), c.state);
        ASSERT_TRUE(events.WaitFinished(5s)) << "Stop did not wake the worker";
        m_processor.WaitForWorker();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s); // the idle limit is 30 s
        EXPECT_EQ(events.Errors(), c.errors);
        EXPECT_FALSE(events.Has("completed"));
        EXPECT_EQ(ReadFile(target), Bytes(m_expected.begin(), m_expected.begin() + static_cast<std::ptrdiff_t>(kept)));
    }
}

TEST_F(MMSFileProcessorTest, FfmpegsOwnClientDownloadsFromTheTestServer)
{
    // Proof that the test server speaks MMS: a client we did not write.
    // ffmpeg's client does not stop at the end of a stream, so it copies
    // two of the three seconds.
    StartServer({});
    const fs::path out = m_dir / "ffmpeg.asf";
    std::ostringstream command;
    command << "timeout -s KILL 60 ffmpeg -nostdin -hide_banner -loglevel error -y -probesize 32 "
               "-analyzeduration 0 -i mmst://127.0.0.1:"
            << m_server->port() << "/test.asf -c copy -t 2 '" << out.string() << "'";
    ASSERT_EQ(testsupport::RunCommand(command.str()), 0);
    const auto probed = testsupport::ProbeAsf(out);
    ASSERT_TRUE(probed);
    ASSERT_EQ(probed->size(), 2u);
    EXPECT_EQ((*probed)[0].codec, "wmv2");
    EXPECT_EQ((*probed)[1].codec, "wmav2");
    EXPECT_GT((*probed)[0].packets, 10);
    const auto log = Log();
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].command, 0x01u);
}

namespace {

// Brings up the loopback interface of the calling thread's network
// namespace.
bool LoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

} // namespace

TEST_F(MMSFileProcessorTest, Port1755IsUsedWhateverTheUrlSays)
{
    // In a network namespace of our own, the server can take port 1755 and
    // the client needs no port override. The namespace belongs to one
    // thread: its children (server, worker) inherit it, the rest of the
    // test program keeps the host's network.
    bool skipped = false;
    std::string skipReason;
    std::thread isolated([&] {
        if (::unshare(CLONE_NEWNET) != 0 || !LoopbackUp()) {
            skipped = true;
            skipReason = "cannot create a network namespace here (needs CAP_SYS_ADMIN)";
            return;
        }
        ::unsetenv(CMMSFileProcessor::kTestPortVariable);
        StartServer({"--port", "1755"});
        m_processor.SetEvents(&m_events);
        m_processor.Start("mms://127.0.0.1:8080/test.asf", m_target.string(), false);
        m_events.WaitFinished();
        m_processor.WaitForWorker();
        m_server.reset();
    });
    isolated.join();
    if (skipped)
        GTEST_SKIP() << skipReason;
    EXPECT_TRUE(m_events.Has("completed")) << ::testing::PrintToString(m_events.Errors());
    EXPECT_TRUE(m_events.Has("trace Port: 0000db06"));
    EXPECT_EQ(ReadFile(m_target), m_expected);
}
