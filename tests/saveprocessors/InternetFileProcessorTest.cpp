// CInternetFileProcessor against the loopback HTTP and FTP servers and the
// local file system: what lands in the file, and what the job reports.
// Blocks are written in batches; that must never show: progress never
// counts a byte not yet in the file, and every byte received reaches the
// file before the job ends, also when it is stopped or breaks off.
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
using Strings = std::vector<std::string>;
constexpr auto kBlock = CInternetFileProcessor::kBlockSize;

class InternetFileProcessorTest : public testsupport::LoopbackHttpTest {
protected:
    std::string Target(const std::string& name = "out.bin") const { return (dir / name).string(); }

    // Starts one job whose file `events` watches.
    static void Start(CInternetFileProcessor& p, RecordingEvents& e, const std::string& url, const std::string& target,
                      bool paused = false)
    {
        e.watch = target;
        p.SetEvents(&e);
        p.Start(url, target, paused);
    }
    // Runs one job to its end.
    static void Run(CInternetFileProcessor& p, RecordingEvents& e, const std::string& url, const std::string& target)
    {
        Start(p, e, url, target);
        ASSERT_TRUE(e.WaitFinished()) << "the job did not end";
        p.WaitForWorker();
    }
    static Bytes Prefix(std::uint32_t seed, std::uint64_t length) { return testsupport::GeneratedBytes(length, seed); }

    testsupport::TempDir dir;
    RecordingEvents events;
    CInternetFileProcessor processor;
};

TEST_F(InternetFileProcessorTest, WholeResourcesLandWholeInKilobyteBlocksCountedOnlyOnceWritten)
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
        {Url("/gen/3000000/11/big.bin"), Prefix(11, 3000000), true}, // many batches
        {Url("/chunked/200003/6/b.bin"), Prefix(6, 200003), true},    // chunk edges inside batches
        {Url("/nolength/70001/7/c.bin"), Prefix(7, 70001), true},     // the end is the close
        {Url("/gen/1500/8/d.bin"), Prefix(8, 1500), true},            // less than one batch
        {Url("/empty/e.txt"), {}, true},                              // served whole with zero bytes
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
        EXPECT_EQ(e.Milestones(), (Strings{"started " + target, "resumed", "completed", "finished"}));
        EXPECT_EQ(e.FileFaults(), Strings{});
        EXPECT_EQ(p.GetState(), CSaveProcessor2::StateCompleted);
        const std::uint64_t counted = c.counted ? c.bytes.size() : 0;
        EXPECT_EQ(e.ProgressTotal(), counted);
        EXPECT_EQ(p.GetBytesReceived(), counted);
        const auto blocks = e.ProgressCounts();
        EXPECT_GE(blocks.size(), (counted + kBlock - 1) / kBlock) << "fewer progress events than kilobyte blocks";
        for (std::uint32_t block : blocks)
            EXPECT_TRUE(block > 0 && block <= kBlock) << block;
    }
}

TEST_F(InternetFileProcessorTest, FailuresAreReportedOnceAfterTheBytesTheyKeptAndNeverCompleted)
{
    struct Case {
        std::string url;
        std::string error; // the report starts with this
        std::optional<CSaveProcessor2::JobState> state;
        std::optional<std::uintmax_t> kept; // in the file and counted
        std::string target = "";
    };
    const std::string missing = "file://" + (dir / "nothing.txt").string();
    const std::vector<Case> cases = {
        // The error page must not become the file.
        {Url("/status/404/x.gif"), "Cannot open URL: HTTP 404 Not Found", CSaveProcessor2::StatePending, 0},
        {"http://no-such-host.invalid/x.gif", "Cannot open URL: ", CSaveProcessor2::StatePending, {}},
        {"http://127.0.0.1:1/x.gif", "Cannot open URL: ", CSaveProcessor2::StatePending, {}},
        {"news:comp.lang.c", "Cannot open URL: ", {}, {}}, // a scheme the client does not fetch
        // Blocks still gathered for a batch are written and counted before the error.
        {Url("/cut/200000/9/150000/x.gif"), "Download incomplete: ", CSaveProcessor2::StateReceiving, 150000},
        {Url("/stall/10000/5/2000/x.gif"), "Download incomplete: ", CSaveProcessor2::StateReceiving, {}},
        {"rtsp://127.0.0.1/x.gif", "(rtsp://127.0.0.1/x.gif) URL scheme don't detected, file can't be saved", {}, {}},
        {missing, "Cannot copy file: " + missing + " to: ", CSaveProcessor2::StatePending, 0},
        // A device would be copied forever.
        {"file:///dev/zero", "Cannot copy file: file:///dev/zero to: ", {}, {}},
        // A full disk: every write fails with ENOSPC, and no block may be counted.
        {Url("/gen/5000/3/x.gif"), "Cannot write to file '/dev/full': No space left on device", {}, {}, "/dev/full"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        RecordingEvents e;
        CInternetFileProcessor p;
        const std::string target = c.target.empty() ? Target("failed" + std::to_string(n++)) : c.target;
        Run(p, e, c.url, target);
        const auto milestones = e.Milestones();
        ASSERT_EQ(milestones.size(), 4u) << ::testing::PrintToString(milestones);
        EXPECT_EQ(milestones[0], "started " + target);
        EXPECT_EQ(milestones[2].rfind("error " + c.error, 0), 0u) << milestones[2];
        EXPECT_EQ(milestones[3], "finished");
        EXPECT_EQ(e.FileFaults(), Strings{});
        if (c.state) {
            EXPECT_EQ(p.GetState(), *c.state);
        }
        if (c.kept) {
            EXPECT_EQ(fs::file_size(target), *c.kept);
            EXPECT_EQ(e.ProgressTotal(), *c.kept);
        }
    }
    EXPECT_EQ(testsupport::ReadFileBytes(Target("failed4")), Prefix(9, 150000));
}

TEST_F(InternetFileProcessorTest, StalledTransferShowsEveryByteThatArrivedAndStopsPromptly)
{
    // 100,000 bytes, then nothing: blocks must not wait in memory for a
    // batch to fill while the network is silent, and the stop wakes the wait.
    WaitPatiently();
    Start(processor, events, Url("/stall/300000/10/100000/stall.bin"), Target());
    ASSERT_TRUE(events.WaitForBytes(100000, 30s)) << "counted " << events.ProgressTotal();
    EXPECT_EQ(events.Milestones(), (Strings{"started " + Target(), "resumed"}));
    EXPECT_EQ(fs::file_size(Target()), 100000u);
    EXPECT_EQ(processor.GetBytesReceived(), 100000u);
    const auto stopAt = std::chrono::steady_clock::now();
    processor.Stop();
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    EXPECT_EQ(events.FileFaults(), Strings{});
    // A stop is neither an error nor a completion.
    EXPECT_EQ(events.Milestones(), (Strings{"started " + Target(), "resumed", "resumed", "finished"}));
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateReceiving);
    EXPECT_EQ(testsupport::ReadFileBytes(Target()), Prefix(10, 100000));
}

TEST_F(InternetFileProcessorTest, StopInAFastTransferKeepsTheFileAndTheCountEqual)
{
    // Stopped while blocks are gathered for a batch: they are written and
    // counted as the job ends.
    const std::size_t size = 64u * 1024 * 1024;
    Start(processor, events, Url("/gen/" + std::to_string(size) + "/11/big.bin"), Target());
    ASSERT_TRUE(events.WaitForBytes(300000));
    processor.Stop();
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(events.FileFaults(), Strings{});
    const std::uint64_t counted = events.ProgressTotal();
    EXPECT_EQ(processor.GetBytesReceived(), counted);
    ASSERT_LT(counted, size) << "the stop came too late to test anything";
    EXPECT_EQ(testsupport::ReadFileBytes(Target()), Prefix(11, counted));
}

TEST_F(InternetFileProcessorTest, PausedBeforeTheFirstBlockWritesNothingUntilResumed)
{
    Start(processor, events, Url("/gen/4000/6/x.gif"), Target(), true);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(processor.GetBytesReceived(), 0u);
    EXPECT_EQ(fs::file_size(Target()), 0u);
    EXPECT_EQ(events.Milestones(), (Strings{"started " + Target(), "resumed", "paused"}));
    processor.Resume();
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(testsupport::CompareWithGenerated(Target(), 4000, 6), "");
    EXPECT_TRUE(events.Has("completed"));
}

TEST_F(InternetFileProcessorTest, StopOrDestructionEndsAJobBlockedOnTheNetworkPromptly)
{
    WaitPatiently(); // only the stop can end these jobs soon
    Start(processor, events, Url("/silent/x.gif"), Target());
    std::this_thread::sleep_for(300ms);
    auto stopAt = std::chrono::steady_clock::now();
    processor.Stop();
    processor.WaitForWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    EXPECT_EQ(events.Milestones(), (Strings{"started " + Target(), "resumed", "resumed", "finished"}));

    RecordingEvents local;
    {
        CInternetFileProcessor p;
        Start(p, local, Url("/stall/100000/1/3000/x.gif"), Target("stalled"));
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
    const auto milestones = missing.Milestones();
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_EQ(milestones[2].rfind("error Cannot open URL: ", 0), 0u) << milestones[2];
}

} // namespace
