// The job life cycle shared by every save processor: start (paused or
// not), pause at checkpoints, stop from any state, destruction, and the
// reports that go with each.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/TargetPath.h"
#include "tests/saveprocessors/RecordingEvents.h"
#include "tests/support/TempDir.h"

using namespace QVSaveProcessors;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr auto kPatience = 10s; // generous bound for sanitizer builds

// Writes `blocks` blocks of kBlock bytes (negative: until stopped), one per
// checkpoint, then reports completion.
class BlockProcessor : public CSaveProcessor2 {
public:
    static constexpr std::size_t kBlock = 16;

    explicit BlockProcessor(int blocks, std::chrono::milliseconds pace = 0ms) : m_blocks(blocks), m_pace(pace) {}
    ~BlockProcessor() override { StopAndWaitForWorker(); }

    std::atomic<int> m_blocks;
    std::atomic<int> m_unitsRun{0};
    // Set each time the worker arrives at a checkpoint.
    ManualResetEvent m_atCheckpoint{ManualResetEvent::InitialState::Reset};

protected:
    void Process() override
    {
        const std::vector<std::byte> block(kBlock, std::byte{'b'});
        const int blocks = m_blocks; // per job: the next job may be given another count
        for (int i = 0; blocks < 0 || i < blocks; ++i) {
            m_atCheckpoint.Set();
            if (!Checkpoint())
                return;
            ++m_unitsRun;
            if (!WriteToTarget(block)) {
                ReportError("Write error");
                return;
            }
            ReportProgress(static_cast<std::uint32_t>(block.size()));
            if (m_pace > 0ms)
                std::this_thread::sleep_for(m_pace);
        }
        ReportCompleted();
    }

private:
    const std::chrono::milliseconds m_pace;
};

class SaveProcessor2Test : public ::testing::Test {
protected:
    std::string In(std::string_view name) const { return (m_dir.path() / std::string(name)).string(); }

    testsupport::TempDir m_dir;
    testsupport::RecordingEvents m_events;
};

} // namespace

TEST_F(SaveProcessor2Test, CompletedJobCountsEveryByteWrittenAndTruncatesAnOldFileAndStopsWithoutAWorkerReportNothing)
{
    std::ofstream(In("a.bin")) << std::string(1000, 'o');
    BlockProcessor processor(3);
    processor.SetEvents(&m_events);
    processor.Stop();
    EXPECT_TRUE(m_events.Events().empty()) << "stop before any job";
    processor.Start("http://h/a.bin", In("a.bin"), false);
    ASSERT_TRUE(m_events.WaitFinished());
    processor.WaitForWorker();

    EXPECT_EQ(m_events.Events(), (std::vector<std::string>{"started " + In("a.bin"), "resumed", "progress 16", "progress 16",
                                                           "progress 16", "completed", "finished"}));
    EXPECT_EQ(processor.GetBytesReceived(), 3 * BlockProcessor::kBlock);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateCompleted);
    EXPECT_EQ(fs::file_size(In("a.bin")), 3 * BlockProcessor::kBlock);
    m_events.Clear();
    processor.Stop();
    EXPECT_TRUE(m_events.Events().empty()) << "stop after the job ended";
}

TEST_F(SaveProcessor2Test, StartPausedNeverPassesFirstCheckpointBeforeResume)
{
    BlockProcessor processor(2);
    // Should Start create the worker before it pauses, give that worker
    // every chance to slip through its first checkpoint in between.
    m_events.onResumed = [&] {
        if (processor.m_atCheckpoint.WaitFor(200ms))
            std::this_thread::sleep_for(50ms);
    };
    processor.SetEvents(&m_events);
    processor.Start("http://h/p.bin", In("p.bin"), true);
    m_events.onResumed = nullptr;

    EXPECT_EQ(m_events.Events(), (std::vector<std::string>{"started " + In("p.bin"), "resumed", "paused"}));
    ASSERT_TRUE(processor.m_atCheckpoint.WaitFor(kPatience));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(processor.m_unitsRun, 0);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);

    processor.Resume();
    ASSERT_TRUE(m_events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(processor.m_unitsRun, 2);
    EXPECT_EQ(m_events.Count("completed"), 1u);
}

TEST_F(SaveProcessor2Test, StopOrDestructionOfAPausedJobWakesItAndEndsItWithoutCompletionOrAnotherUnit)
{
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "stopped");
        testsupport::RecordingEvents events;
        auto processor = std::make_unique<BlockProcessor>(5);
        processor->SetEvents(&events);
        processor->Start("http://h/s.bin", In("s.bin"), true);
        ASSERT_TRUE(processor->m_atCheckpoint.WaitFor(kPatience));
        if (destroy) {
            processor.reset(); // the worker must end before the destructor returns
        } else {
            processor->Stop();
            ASSERT_TRUE(events.WaitFinished());
            processor->WaitForWorker();
            EXPECT_EQ(processor->m_unitsRun, 0);
            EXPECT_EQ(processor->GetState(), CSaveProcessor2::StatePending);
            EXPECT_TRUE(processor->IsStopRequested());
        }
        EXPECT_EQ(events.Count("finished"), 1u);
        EXPECT_EQ(events.Count("completed"), 0u);
    }
}

TEST_F(SaveProcessor2Test, JobThatCannotCreateItsFileReportsOnceAndStartsNoWorker)
{
    const std::string folder = m_dir.path().string();
    const std::string missing = In("missing/x.gif");
    // A NUL must not truncate the path to a shorter, creatable one.
    const std::string withNul = In("a") + std::string(1, '\0') + "/../../escaped";
    std::ofstream(In("t.gif")) << "x";
    for (int n = 1; n <= kMaxUniqueNumber; ++n)
        std::ofstream(In("t" + std::to_string(n) + ".gif")) << "x";
    struct Case {
        const char* name;
        std::function<void(CSaveProcessor2&)> start;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"missing folder", [&](CSaveProcessor2& p) { p.Start("http://h/x.gif", missing, false); },
         "Cannot create output file '" + missing + "'."},
        {"path with NUL", [&](CSaveProcessor2& p) { p.Start("http://h/x", withNul, false); },
         "Cannot create output file '" + withNul + "'."},
        {"every numbered name taken", [&](CSaveProcessor2& p) { p.SaveToFolder("http://h/t.gif", folder, false); },
         "Cannot create path for URL:http://h/t.gif, folder:" + folder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::RecordingEvents events;
        BlockProcessor processor(1);
        processor.SetEvents(&events);
        c.start(processor);
        processor.WaitForWorker();
        EXPECT_EQ(events.Events(), (std::vector<std::string>{"error " + c.error}));
        EXPECT_FALSE(processor.m_atCheckpoint.IsSet());
        EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
    }
    EXPECT_FALSE(fs::exists(In("a")));
}

TEST_F(SaveProcessor2Test, StartWhileJobRunsStopsItAndAwaitsItFirstLeavingItsFileAsCounted)
{
    BlockProcessor processor(-1, 1ms);
    processor.SetEvents(&m_events);
    processor.Start("http://h/one.bin", In("one.bin"), false);
    ASSERT_TRUE(m_events.WaitFor("progress 16", 2));

    processor.m_blocks = 2; // the second job's count; the first one runs until stopped
    processor.Start("http://h/two.bin", In("two.bin"), false);
    ASSERT_TRUE(m_events.WaitFor("finished", 2));
    processor.WaitForWorker();

    const auto events = m_events.Events();
    const auto firstFinished = std::find(events.begin(), events.end(), "finished");
    const auto secondStarted = std::find(events.begin(), events.end(), "started " + In("two.bin"));
    ASSERT_NE(secondStarted, events.end());
    EXPECT_LT(firstFinished, secondStarted);
    EXPECT_EQ(std::find(events.begin(), firstFinished, "completed"), firstFinished) << "a stopped job completed";
    // The stopped job's file is closed by its worker and holds exactly what it counted.
    EXPECT_EQ(fs::file_size(In("one.bin")), std::count(events.begin(), firstFinished, "progress 16") * BlockProcessor::kBlock);
    EXPECT_EQ(m_events.Count("completed"), 1u);
    EXPECT_EQ(processor.GetUrl(), "http://h/two.bin");
    EXPECT_EQ(processor.GetBytesReceived(), 2 * BlockProcessor::kBlock);
    EXPECT_EQ(fs::file_size(In("two.bin")), 2 * BlockProcessor::kBlock);
}

namespace {

// Blocks in poll() on a pipe that never becomes readable, as a worker
// waiting on a silent server does; only the stop descriptor can wake it.
class PollingProcessor : public CSaveProcessor2 {
public:
    PollingProcessor()
    {
        int fds[2];
        if (::pipe(fds) == 0) {
            m_read = UniqueFd(fds[0]);
            m_write = UniqueFd(fds[1]);
        }
    }
    ~PollingProcessor() override { StopAndWaitForWorker(); }
    ManualResetEvent m_polling{ManualResetEvent::InitialState::Reset};

protected:
    void Process() override
    {
        if (!Checkpoint())
            return;
        pollfd fds[2] = {{m_read.Get(), POLLIN, 0}, {StopPollFd(), POLLIN, 0}};
        m_polling.Set();
        while (::poll(fds, 2, -1) < 0) {
        }
        if (fds[1].revents & POLLIN)
            ReportTrace("woken by stop");
    }

private:
    UniqueFd m_read;
    UniqueFd m_write;
};

// Blocks on a condition of its own, as a client library's wait does; the
// registered hook is the only thing that ends the wait.
class HookProcessor : public CSaveProcessor2 {
public:
    ~HookProcessor() override { StopAndWaitForWorker(); }
    ManualResetEvent m_waiting{ManualResetEvent::InitialState::Reset};

protected:
    void Process() override
    {
        ManualResetEvent woken(ManualResetEvent::InitialState::Reset);
        auto registration = RegisterStopWake([&] { woken.Set(); });
        if (IsStopRequested())
            return;
        m_waiting.Set();
        woken.Wait();
        ReportTrace("woken by hook");
        // The hook is gone with the registration: a later Stop must not call
        // into this finished frame.
        registration.Reset();
    }
};

} // namespace

TEST_F(SaveProcessor2Test, StopWakesAWorkerBlockedInPollOrOnTheWakeHookOfItsCurrentJob)
{
    // Starts a job, waits until its worker is blocked, stops it.
    auto stopBlocked = [&](auto& processor, auto& blocked, const char* url, const char* file) {
        processor.SetEvents(&m_events);
        processor.Start(url, In(file), false);
        ASSERT_TRUE(blocked.WaitFor(kPatience)) << url;
        processor.Stop();
        processor.WaitForWorker();
    };
    PollingProcessor polling;
    stopBlocked(polling, polling.m_polling, "mms://h/live", "live.asf");
    EXPECT_EQ(m_events.Count("trace woken by stop"), 1u);
    HookProcessor processor;
    stopBlocked(processor, processor.m_waiting, "http://h/slow", "slow");
    EXPECT_EQ(m_events.Count("trace woken by hook"), 1u);
    EXPECT_EQ(m_events.Count("finished"), 2u);

    // A second job left waiting: the destructor's stop must reach the new
    // registration, not the first one's finished frame.
    processor.m_waiting.Reset();
    processor.Start("http://h/slow", In("slow2"), false);
    ASSERT_TRUE(processor.m_waiting.WaitFor(kPatience));
}
