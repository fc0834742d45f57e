// CInternetFileProcessor against the loopback HTTP and FTP servers and the
// local file system: what lands in the file, and what the job reports.
#include "saveprocessors/InternetFileProcessor.h"

#include "tests/saveprocessors/RecordingEvents.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/LoopbackHttpTest.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using QVSaveProcessors::CInternetFileProcessor;
using QVSaveProcessors::CSaveProcessor2;
using testsupport::RecordingEvents;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class InternetFileProcessorTest : public testsupport::LoopbackHttpTest {
protected:
    void SetUp() override
    {
        LoopbackHttpTest::SetUp();
        processor.SetEvents(&events);
    }

    std::string Target(const std::string& name = "out.bin") const { return (dir / name).string(); }

    // Runs one job to its end.
    static void Run(CInternetFileProcessor& p, RecordingEvents& e, const std::string& url, const std::string& target)
    {
        p.SetEvents(&e);
        p.Start(url, target, false);
        ASSERT_TRUE(e.WaitFinished()) << "the job did not end";
        p.WaitForWorker();
    }

    testsupport::TempDir dir;
    RecordingEvents events;
    CInternetFileProcessor processor;
};

TEST_F(InternetFileProcessorTest, WholeResourcesLandWholeInKilobyteBlocksAndComplete)
{
    fs::create_directories(dir / "My Files");
    const Bytes local = testsupport::GeneratedBytes(3000, 2);
    testsupport::WriteFileBytes(dir / "My Files" / "a.txt", local);
    const std::string agent = "Vornel QVSaveProcessors";
    struct Case {
        std::string url;
        Bytes bytes;
        bool counted; // downloads report progress, a file copy does not
    };
    const std::vector<Case> cases = {
        {Url("/gen/5000/3/x.gif"), testsupport::GeneratedBytes(5000, 3), true},
        {Url("/gen/3000000/11/big.bin"), testsupport::GeneratedBytes(3000000, 11), true},
        {Url("/empty/e.txt"), {}, true}, // served whole with zero bytes
        {Url("/agent"), Bytes(agent.begin(), agent.end()), true},
        {"file://" + (dir / "My%20Files" / "a.txt").string(), local, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        RecordingEvents e;
        CInternetFileProcessor p;
        const std::string target = Target("whole" + std::to_string(n++));
        Run(p, e, c.url, target);
        EXPECT_EQ(testsupport::ReadFileBytes(target), c.bytes);
        EXPECT_EQ(e.Milestones(), (std::vector<std::string>{"started " + target, "resumed", "completed", "finished"}));
        EXPECT_EQ(p.GetState(), CSaveProcessor2::StateCompleted);
        const std::uint64_t counted = c.counted ? c.bytes.size() : 0;
        EXPECT_EQ(e.ProgressTotal(), counted);
        EXPECT_EQ(p.GetBytesReceived(), counted);
        for (std::uint32_t block : e.ProgressCounts())
            EXPECT_LE(block, CInternetFileProcessor::kBlockSize);
    }
}

TEST_F(InternetFileProcessorTest, FailuresAreReportedOnceWithTheirCauseAndNeverCompleted)
{
    struct Case {
        std::string url;
        std::string error; // the report starts with this
        std::optional<CSaveProcessor2::JobState> state;
        std::optional<std::uintmax_t> fileSize;
    };
    const std::string missing = "file://" + (dir / "nothing.txt").string();
    const std::vector<Case> cases = {
        // The error page must not become the file.
        {Url("/status/404/x.gif"), "Cannot open URL: HTTP 404 Not Found", CSaveProcessor2::StatePending, 0},
        {"http://no-such-host.invalid/x.gif", "Cannot open URL: ", CSaveProcessor2::StatePending, {}},
        {"http://127.0.0.1:1/x.gif", "Cannot open URL: ", CSaveProcessor2::StatePending, {}},
        {"news:comp.lang.c", "Cannot open URL: ", {}, {}}, // a scheme the client does not fetch
        {Url("/cut/10000/5/3000/x.gif"), "Download incomplete: ", CSaveProcessor2::StateReceiving, 3000},
        {Url("/stall/10000/5/2000/x.gif"), "Download incomplete: ", CSaveProcessor2::StateReceiving, {}},
        {"rtsp://127.0.0.1/x.gif", "(rtsp://127.0.0.1/x.gif) URL scheme don't detected, file can't be saved", {}, {}},
        {missing, "Cannot copy file: " + missing + " to: ", CSaveProcessor2::StatePending, 0},
        // A device would be copied forever.
        {"file:///dev/zero", "Cannot copy file: file:///dev/zero to: ", {}, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        RecordingEvents e;
        CInternetFileProcessor p;
        const std::string target = Target("failed" + std::to_string(n++));
        Run(p, e, c.url, target);
        const auto milestones = e.Milestones();
        ASSERT_EQ(milestones.size(), 4u) << ::testing::PrintToString(milestones);
        EXPECT_EQ(milestones[0], "started " + target);
        EXPECT_EQ(milestones[2].rfind("error " + c.error, 0), 0u) << milestones[2];
        EXPECT_EQ(milestones[3], "finished");
        if (c.state) {
            EXPECT_EQ(p.GetState(), *c.state);
        }
        if (c.fileSize) {
            EXPECT_EQ(fs::file_size(target), *c.fileSize);
        }
    }
}

TEST_F(InternetFileProcessorTest, WriteFailureIsReportedAndNeverCompleted)
{
    // /dev/full accepts the open and fails every write with ENOSPC: a full
    // disk without filling one.
    processor.Start(Url("/gen/5000/3/x.gif"), "/dev/full", false);
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_FALSE(events.Has("completed"));
    EXPECT_TRUE(events.Has("error Cannot write to file '/dev/full': No space left on device"))
        << ::testing::PrintToString(events.Milestones());
    EXPECT_TRUE(events.ProgressCounts().empty()) << "a block that was not written was reported";
}

TEST_F(InternetFileProcessorTest, StopInTheThirdKilobyteKeepsExactlyTheBytesCounted)
{
    // 1 KiB every 100 ms: the stop lands while the third block is on its way.
    processor.Start(Url("/slow/20480/4/1024/100/x.gif"), Target(), false);
    ASSERT_TRUE(events.WaitForBytes(2048));
    const auto stopAt = std::chrono::steady_clock::now();
    processor.Stop();
    ASSERT_TRUE(events.WaitFinished(10s));
    processor.WaitForWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    EXPECT_FALSE(events.Has("completed")) << "a stopped download is not whole";
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateReceiving);
    const std::uint64_t written = processor.GetBytesReceived();
    EXPECT_GE(written, 2048u);
    EXPECT_LT(written, 20480u);
    auto expected = testsupport::GeneratedBytes(20480, 4);
    expected.resize(written);
    EXPECT_EQ(testsupport::ReadFileBytes(Target()), expected);
}

TEST_F(InternetFileProcessorTest, PausedBeforeTheFirstBlockWritesNothingUntilResumed)
{
    processor.Start(Url("/gen/4000/6/x.gif"), Target(), true);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(processor.GetBytesReceived(), 0u);
    EXPECT_EQ(fs::file_size(Target()), 0u);
    EXPECT_EQ(events.Milestones(), (std::vector<std::string> { "started " + Target(), "resumed", "paused" }));
    processor.Resume();
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(testsupport::CompareWithGenerated(Target(), 4000, 6), "");
    EXPECT_TRUE(events.Has("completed"));
}

TEST_F(InternetFileProcessorTest, StopOrDestructionEndsAJobBlockedOnTheNetworkPromptly)
{
    WaitPatiently(); // only the stop can end these jobs soon
    processor.Start(Url("/silent/x.gif"), Target(), false);
    std::this_thread::sleep_for(300ms);
    auto stopAt = std::chrono::steady_clock::now();
    processor.Stop();
    processor.WaitForWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    // Stop resumes the job so that a paused one can end too; a stop is no
    // error and no completion.
    EXPECT_EQ(events.Milestones(),
              (std::vector<std::string> { "started " + Target(), "resumed", "resumed", "finished" }));

    RecordingEvents local;
    {
        CInternetFileProcessor p;
        p.SetEvents(&local);
        p.Start(Url("/stall/100000/1/3000/x.gif"), Target("stalled"), false);
        ASSERT_TRUE(local.WaitForBytes(3000));
        stopAt = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    EXPECT_FALSE(local.Has("completed"));
    EXPECT_TRUE(local.Has("finished"));
}

TEST_F(InternetFileProcessorTest, FtpFileArrivesWholeAndAMissingOneIsReported)
{
    testsupport::TempDir served;
    std::string whyNot;
    const auto ftp = testsupport::StartFtpTestServer(served.path(), whyNot);
    if (!ftp)
        GTEST_SKIP() << whyNot;
    const auto bytes = testsupport::GeneratedBytes(123457, 21);
    testsupport::WriteFileBytes(served / "movie.swf", bytes);
    Run(processor, events, ftp->BaseUrl("ftp") + "/movie.swf", Target("movie.swf"));
    EXPECT_EQ(testsupport::ReadFileBytes(Target("movie.swf")), bytes);
    EXPECT_TRUE(events.Has("completed"));

    RecordingEvents missing;
    CInternetFileProcessor p;
    Run(p, missing, ftp->BaseUrl("ftp") + "/gone.swf", Target("gone.swf"));
    EXPECT_FALSE(missing.Has("completed"));
    const auto milestones = missing.Milestones();
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_EQ(milestones[2].rfind("error Cannot open URL: ", 0), 0u) << milestones[2];
}

} // namespace
