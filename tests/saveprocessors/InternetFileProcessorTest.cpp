// CInternetFileProcessor against the loopback HTTP and FTP servers and the
// local file system: what lands in the file, and what the job reports.
#include "saveprocessors/InternetFileProcessor.h"

#include "platform/inet/InternetSession.h"
#include "tests/saveprocessors/RecordingEvents.h"
#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace std::chrono_literals;
using QVSaveProcessors::CInternetFileProcessor;
using QVSaveProcessors::CSaveProcessor2;
using testsupport::RecordingEvents;

namespace {

namespace fs = std::filesystem;

class InternetFileProcessorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = inet::DefaultTransferLimits();
        inet::TransferLimits limits;
        limits.connectTimeout = 5s;
        limits.idleTimeout = 2s;
        inet::SetDefaultTransferLimits(limits);
        server = testsupport::StartHttpTestServer();
        processor.SetEvents(&events);
    }
    void TearDown() override { inet::SetDefaultTransferLimits(saved); }

    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }
    std::string Target(const std::string& name = "out.bin") const { return (dir / name).string(); }

    // Runs one job to its end.
    void Run(const std::string& url, const std::string& target)
    {
        processor.Start(url, target, false);
        ASSERT_TRUE(events.WaitFinished()) << "the job did not end";
        processor.WaitForWorker();
    }

    inet::TransferLimits saved;
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::PythonServer> server;
    RecordingEvents events;
    CInternetFileProcessor processor;
};

TEST_F(InternetFileProcessorTest, DownloadWritesEveryByteInKilobyteBlocksAndCompletes)
{
    Run(Url("/gen/5000/3/x.gif"), Target());
    EXPECT_EQ(testsupport::CompareWithGenerated(Target(), 5000, 3), "");
    EXPECT_EQ(events.Milestones(),
              (std::vector<std::string> { "started " + Target(), "resumed", "completed", "finished" }));
    EXPECT_EQ(events.ProgressTotal(), 5000u);
    for (std::uint32_t n : events.ProgressCounts())
        EXPECT_LE(n, CInternetFileProcessor::kBlockSize);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateCompleted);
    EXPECT_EQ(processor.GetBytesReceived(), 5000u);
}

TEST_F(InternetFileProcessorTest, LargeDownloadArrivesIntact)
{
    Run(Url("/gen/3000000/11/big.bin"), Target());
    EXPECT_EQ(testsupport::CompareWithGenerated(Target(), 3000000, 11), "");
    EXPECT_TRUE(events.Has("completed"));
}

TEST_F(InternetFileProcessorTest, AgentStringOfDownloadsReachesTheServer)
{
    Run(Url("/agent"), Target("agent.txt"));
    const auto bytes = testsupport::ReadFileBytes(Target("agent.txt"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "Vornel QVSaveProcessors");
}

TEST_F(InternetFileProcessorTest, EmptyResourceIsCompleteAsAnEmptyFile)
{
    // Served whole with zero bytes: the empty file is the whole resource.
    Run(Url("/empty/e.txt"), Target());
    EXPECT_TRUE(fs::exists(Target()));
    EXPECT_EQ(fs::file_size(Target()), 0u);
    EXPECT_EQ(events.Milestones(),
              (std::vector<std::string> { "started " + Target(), "resumed", "completed", "finished" }));
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateCompleted);
}

TEST_F(InternetFileProcessorTest, ErrorStatusIsReportedAndNeverCompleted)
{
    Run(Url("/status/404/x.gif"), Target());
    EXPECT_EQ(events.Milestones(), (std::vector<std::string> { "started " + Target(), "resumed",
                                                               "error Cannot open URL: HTTP 404 Not Found", "finished" }));
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
    EXPECT_EQ(fs::file_size(Target()), 0u) << "the error page must not become the file";
}

TEST_F(InternetFileProcessorTest, UnreachableServersAreReportedAndNeverCompleted)
{
    for (const std::string& url : { std::string("http://no-such-host.invalid/x.gif"),
                                   std::string("http://127.0.0.1:1/x.gif") }) {
        RecordingEvents local;
        CInternetFileProcessor p;
        p.SetEvents(&local);
        p.Start(url, Target(), false);
        ASSERT_TRUE(local.WaitFinished());
        p.WaitForWorker();
        const auto milestones = local.Milestones();
        ASSERT_EQ(milestones.size(), 4u) << url;
        EXPECT_EQ(milestones[2].rfind("error Cannot open URL: ", 0), 0u) << milestones[2];
        EXPECT_FALSE(local.Has("completed")) << url;
        EXPECT_EQ(p.GetState(), CSaveProcessor2::StatePending);
    }
}

TEST_F(InternetFileProcessorTest, DisconnectMidBodyIsIncompleteNeverCompleted)
{
    Run(Url("/cut/10000/5/3000/x.gif"), Target());
    EXPECT_FALSE(events.Has("completed"));
    const auto milestones = events.Milestones();
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_EQ(milestones[2].rfind("error Download incomplete: ", 0), 0u) << milestones[2];
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateReceiving);
    EXPECT_EQ(fs::file_size(Target()), 3000u);
}

TEST_F(InternetFileProcessorTest, StalledBodyEndsIncompleteAfterTheIdleLimit)
{
    Run(Url("/stall/10000/5/2000/x.gif"), Target());
    EXPECT_FALSE(events.Has("completed"));
    const auto milestones = events.Milestones();
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_EQ(milestones[2].rfind("error Download incomplete: ", 0), 0u) << milestones[2];
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateReceiving);
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

TEST_F(InternetFileProcessorTest, StopInTheThirdKilobyteEndsWithoutCompletion)
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
    EXPECT_EQ(fs::file_size(Target()), written);
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

TEST_F(InternetFileProcessorTest, StopOfAPausedJobEndsItWithoutCompletion)
{
    processor.Start(Url("/gen/4000/6/x.gif"), Target(), true);
    std::this_thread::sleep_for(300ms);
    processor.Stop();
    ASSERT_TRUE(events.WaitFinished(10s));
    processor.WaitForWorker();
    EXPECT_FALSE(events.Has("completed"));
    EXPECT_TRUE(events.ProgressCounts().empty());
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
}

TEST_F(InternetFileProcessorTest, StopDoesNotWaitForASilentServer)
{
    inet::TransferLimits patient;
    patient.idleTimeout = 600s; // only the stop can end this job soon
    inet::SetDefaultTransferLimits(patient);
    processor.Start(Url("/silent/x.gif"), Target(), false);
    std::this_thread::sleep_for(300ms);
    const auto stopAt = std::chrono::steady_clock::now();
    processor.Stop();
    processor.WaitForWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    // Stop resumes the job so that a paused one can end too; a stop is no
    // error and no completion.
    EXPECT_EQ(events.Milestones(),
              (std::vector<std::string> { "started " + Target(), "resumed", "resumed", "finished" }));
}

TEST_F(InternetFileProcessorTest, DestroyingARunningJobStopsItPromptly)
{
    inet::TransferLimits patient;
    patient.idleTimeout = 600s;
    inet::SetDefaultTransferLimits(patient);
    RecordingEvents local;
    const auto start = std::chrono::steady_clock::now();
    {
        CInternetFileProcessor p;
        p.SetEvents(&local);
        p.Start(Url("/stall/100000/1/3000/x.gif"), Target(), false);
        ASSERT_TRUE(local.WaitForBytes(3000));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(local.Has("completed"));
    EXPECT_TRUE(local.Has("finished"));
}

TEST_F(InternetFileProcessorTest, MissingTargetFolderIsReportedWithoutWorker)
{
    const std::string folder = (dir / "not-there").string();
    processor.SaveToFolder(Url("/gen/10/1/x.gif"), folder, false);
    processor.WaitForWorker();
    EXPECT_EQ(events.Events(), (std::vector<std::string> { "error Cannot create output file '" + folder + "/x.gif'." }));
}

TEST_F(InternetFileProcessorTest, FileUrlWithEscapedBlankIsCopied)
{
    fs::create_directories(dir / "My Files");
    const auto bytes = testsupport::GeneratedBytes(3000, 2);
    testsupport::WriteFileBytes(dir / "My Files" / "a.txt", bytes);
    std::string url = "file://" + (dir / "My%20Files" / "a.txt").string();
    Run(url, Target("a.txt"));
    EXPECT_EQ(testsupport::ReadFileBytes(Target("a.txt")), bytes);
    EXPECT_EQ(events.Milestones(),
              (std::vector<std::string> { "started " + Target("a.txt"), "resumed", "completed", "finished" }));
    EXPECT_TRUE(events.ProgressCounts().empty()) << "a copy reports no progress";
    EXPECT_EQ(processor.GetBytesReceived(), 0u);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateCompleted);
}

TEST_F(InternetFileProcessorTest, MissingFileSourceIsReportedAndLeavesEmptyTarget)
{
    const std::string url = "file://" + (dir / "nothing.txt").string();
    Run(url, Target("nothing.txt"));
    EXPECT_EQ(events.Milestones(), (std::vector<std::string> { "started " + Target("nothing.txt"), "resumed",
                                                               "error Cannot copy file: " + url + " to: " + Target("nothing.txt"),
                                                               "finished" }));
    EXPECT_TRUE(fs::exists(Target("nothing.txt")));
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
}

TEST_F(InternetFileProcessorTest, FileUrlOfADeviceIsRefusedInsteadOfCopiedForever)
{
    Run("file:///dev/zero", Target("zero"));
    EXPECT_FALSE(events.Has("completed"));
    EXPECT_TRUE(events.Has("error Cannot copy file: file:///dev/zero to: " + Target("zero")));
}

TEST_F(InternetFileProcessorTest, UnknownSchemeIsReported)
{
    Run("rtsp://127.0.0.1/x.gif", Target());
    EXPECT_TRUE(events.Has("error (rtsp://127.0.0.1/x.gif) URL scheme don't detected, file can't be saved"));
    EXPECT_FALSE(events.Has("completed"));
}

TEST_F(InternetFileProcessorTest, KnownSchemeTheClientCannotFetchIsReported)
{
    Run("news:comp.lang.c", Target());
    EXPECT_FALSE(events.Has("completed"));
    const auto milestones = events.Milestones();
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_EQ(milestones[2].rfind("error Cannot open URL: ", 0), 0u) << milestones[2];
}

class InternetFileProcessorFtp : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string whyNot;
        server = testsupport::StartFtpTestServer(served.path(), whyNot);
        if (!server)
            GTEST_SKIP() << whyNot;
        processor.SetEvents(&events);
    }
    testsupport::TempDir served;
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::PythonServer> server;
    RecordingEvents events;
    CInternetFileProcessor processor;
};

TEST_F(InternetFileProcessorFtp, FtpFileArrivesWholeAndCompletes)
{
    const auto bytes = testsupport::GeneratedBytes(123457, 21);
    testsupport::WriteFileBytes(served / "movie.swf", bytes);
    processor.SaveToFolder(server->BaseUrl("ftp") + "/movie.swf", dir.path().string(), false);
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "movie.swf"), bytes);
    EXPECT_TRUE(events.Has("completed"));
}

TEST_F(InternetFileProcessorFtp, MissingFtpFileIsReportedAndNeverCompleted)
{
    processor.SaveToFolder(server->BaseUrl("ftp") + "/gone.swf", dir.path().string(), false);
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_FALSE(events.Has("completed"));
    const auto milestones = events.Milestones();
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_EQ(milestones[2].rfind("error Cannot open URL: ", 0), 0u) << milestones[2];
}

} // namespace
