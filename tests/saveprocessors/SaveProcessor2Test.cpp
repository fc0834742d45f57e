#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/TargetPath.h"
#include "tests/support/TempDir.h"

using namespace QVSaveProcessors;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr auto kPatience = 10s; // generous bound for sanitizer builds

// Records every report in arrival order, from any thread.
class RecordingListener : public CSaveProcessor2Events {
public:
    void OnProgress(CSaveProcessor2*, std::uint32_t bytes) override { Add("Progress:" + std::to_string(bytes)); }
    void OnCompleted(CSaveProcessor2*) override { Add("Completed"); }
    void OnPaused(CSaveProcessor2*) override { Add("Paused"); }
    void OnResumed(CSaveProcessor2* p) override
    {
        if (onResumed)
            onResumed(p);
        Add("Resumed");
    }
    void OnFinished(CSaveProcessor2*) override { Add("Finished"); }
    void OnError(CSaveProcessor2*, std::string_view message) override { Add("Error:" + std::string(message)); }
    void OnTrace(CSaveProcessor2*, std::string_view message) override { Add("Trace:" + std::string(message)); }
    void OnStarted(CSaveProcessor2*, std::string_view path) override { Add("Started:" + std::string(path)); }

    std::vector<std::string> Events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::size_t Count(const std::string& event) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count(m_events.begin(), m_events.end(), event));
    }
    // True when `event` has been seen `times` times within the patience.
    bool WaitFor(const std::string& event, std::size_t times = 1) const
    {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, kPatience, [&] {
            return static_cast<std::size_t>(std::count(m_events.begin(), m_events.end(), event)) >= times;
        });
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

    // Runs inside OnResumed, on the thread that reports it.
    std::function<void(CSaveProcessor2*)> onResumed;

private:
    void Add(std::string event)
    {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_cv.notify_all();
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<std::string> m_events;
};

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
    std::string Folder() const { return m_dir.path().string(); }

    testsupport::TempDir m_dir;
    RecordingListener m_listener;
};

} // namespace

TEST_F(SaveProcessor2Test, CompletedJobCountsEveryByteWritten)
{
    BlockProcessor processor(3);
    processor.SetEvents(&m_listener);
    processor.Start("http://h/a.bin", In("a.bin"), false);
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    processor.WaitForWorker();

    const std::vector<std::string> expected{"Started:" + In("a.bin"), "Resumed", "Progress:16",
                                            "Progress:16", "Progress:16", "Completed", "Finished"};
    EXPECT_EQ(m_listener.Events(), expected);
    EXPECT_EQ(processor.GetBytesReceived(), 3 * BlockProcessor::kBlock);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateCompleted);
    EXPECT_EQ(fs::file_size(In("a.bin")), 3 * BlockProcessor::kBlock);
}

TEST_F(SaveProcessor2Test, StartPausedNeverPassesFirstCheckpointBeforeResume)
{
    BlockProcessor processor(2);
    // Should Start create the worker before it pauses, give that worker
    // every chance to slip through its first checkpoint in between.
    m_listener.onResumed = [&](CSaveProcessor2*) {
        if (processor.m_atCheckpoint.WaitFor(200ms))
            std::this_thread::sleep_for(50ms);
    };
    processor.SetEvents(&m_listener);
    processor.Start("http://h/p.bin", In("p.bin"), true);
    m_listener.onResumed = nullptr;

    const std::vector<std::string> afterStart{"Started:" + In("p.bin"), "Resumed", "Paused"};
    EXPECT_EQ(m_listener.Events(), afterStart);
    ASSERT_TRUE(processor.m_atCheckpoint.WaitFor(kPatience));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(processor.m_unitsRun, 0);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);

    processor.Resume();
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    processor.WaitForWorker();
    EXPECT_EQ(processor.m_unitsRun, 2);
    EXPECT_EQ(m_listener.Count("Completed"), 1u);
}

TEST_F(SaveProcessor2Test, StopOfPausedJobEndsWithoutCompletionOrAnotherUnit)
{
    BlockProcessor processor(5);
    processor.SetEvents(&m_listener);
    processor.Start("http://h/s.bin", In("s.bin"), true);
    ASSERT_TRUE(processor.m_atCheckpoint.WaitFor(kPatience));

    processor.Stop();
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    processor.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Completed"), 0u);
    EXPECT_EQ(processor.m_unitsRun, 0);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
    EXPECT_TRUE(processor.IsStopRequested());
}

TEST_F(SaveProcessor2Test, StopOfRunningJobKeepsReceivingState)
{
    BlockProcessor processor(-1, 1ms);
    processor.SetEvents(&m_listener);
    processor.Start("http://h/r.bin", In("r.bin"), false);
    ASSERT_TRUE(m_listener.WaitFor("Progress:16", 3));

    processor.Stop();
    processor.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Finished"), 1u);
    EXPECT_EQ(m_listener.Count("Completed"), 0u);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateReceiving);
    // The file is closed by the worker and holds exactly what was counted.
    EXPECT_EQ(fs::file_size(In("r.bin")), processor.GetBytesReceived());
}

TEST_F(SaveProcessor2Test, StopWithoutRunningWorkerReportsNothing)
{
    BlockProcessor processor(1);
    processor.SetEvents(&m_listener);
    processor.Stop();
    EXPECT_TRUE(m_listener.Events().empty());

    processor.Start("http://h/d.bin", In("d.bin"), false);
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    processor.WaitForWorker();
    m_listener.Clear();
    processor.Stop();
    EXPECT_TRUE(m_listener.Events().empty());
}

TEST_F(SaveProcessor2Test, MissingFolderReportsCannotCreateAndStartsNoWorker)
{
    BlockProcessor processor(1);
    processor.SetEvents(&m_listener);
    const std::string path = In("missing/x.gif");
    processor.Start("http://h/x.gif", path, false);
    processor.WaitForWorker();

    const std::vector<std::string> expected{"Error:Cannot create output file '" + path + "'."};
    EXPECT_EQ(m_listener.Events(), expected);
    EXPECT_EQ(processor.m_atCheckpoint.IsSet(), false);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
}

TEST_F(SaveProcessor2Test, PathWithNulIsRefusedInsteadOfTruncated)
{
    BlockProcessor processor(1);
    processor.SetEvents(&m_listener);
    const std::string path = In("a") + std::string(1, '\0') + "/../../escaped";
    processor.Start("http://h/x", path, false);
    processor.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Error:Cannot create output file '" + path + "'."), 1u);
    EXPECT_FALSE(fs::exists(In("a")));
}

TEST_F(SaveProcessor2Test, ExistingTargetIsTruncated)
{
    std::ofstream(In("old.bin")) << std::string(1000, 'o');
    BlockProcessor processor(1);
    processor.SetEvents(&m_listener);
    processor.Start("http://h/old.bin", In("old.bin"), false);
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    processor.WaitForWorker();
    EXPECT_EQ(fs::file_size(In("old.bin")), BlockProcessor::kBlock);
}

TEST_F(SaveProcessor2Test, StartWhileJobRunsStopsAndAwaitsItFirst)
{
    BlockProcessor processor(-1, 1ms);
    processor.SetEvents(&m_listener);
    processor.Start("http://h/one.bin", In("one.bin"), false);
    ASSERT_TRUE(m_listener.WaitFor("Progress:16", 2));

    processor.m_blocks = 2; // the second job's count; the first one runs until stopped
    processor.Start("http://h/two.bin", In("two.bin"), false);
    ASSERT_TRUE(m_listener.WaitFor("Finished", 2));
    processor.WaitForWorker();

    const auto events = m_listener.Events();
    const auto firstFinished = std::find(events.begin(), events.end(), "Finished");
    const auto secondStarted = std::find(events.begin(), events.end(), "Started:" + In("two.bin"));
    ASSERT_NE(secondStarted, events.end());
    EXPECT_LT(firstFinished, secondStarted);
    EXPECT_EQ(m_listener.Count("Completed"), 1u);
    EXPECT_EQ(processor.GetUrl(), "http://h/two.bin");
    EXPECT_EQ(processor.GetBytesReceived(), 2 * BlockProcessor::kBlock);
    EXPECT_EQ(fs::file_size(In("two.bin")), 2 * BlockProcessor::kBlock);
}

TEST_F(SaveProcessor2Test, DestroyingProcessorWithPausedWorkerWakesAndAwaitsIt)
{
    auto processor = std::make_unique<BlockProcessor>(3);
    processor->SetEvents(&m_listener);
    processor->Start("http://h/z.bin", In("z.bin"), true);
    ASSERT_TRUE(processor->m_atCheckpoint.WaitFor(kPatience));
    processor.reset();
    // The worker ended before the destructor returned.
    EXPECT_EQ(m_listener.Count("Finished"), 1u);
    EXPECT_EQ(m_listener.Count("Completed"), 0u);
}

TEST_F(SaveProcessor2Test, SameFileNameFromTwoHostsIsNumberedInStartOrder)
{
    BlockProcessor first(1);
    BlockProcessor second(1);
    RecordingListener secondListener;
    first.SetEvents(&m_listener);
    second.SetEvents(&secondListener);
    first.SaveToFolder("http://a.example/x.gif", Folder(), false);
    second.SaveToFolder("http://b.example/x.gif", Folder(), false);
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    ASSERT_TRUE(secondListener.WaitFor("Finished"));
    first.WaitForWorker();
    second.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Started:" + In("x.gif")), 1u);
    EXPECT_EQ(secondListener.Count("Started:" + In("x1.gif")), 1u);
}

TEST_F(SaveProcessor2Test, NoFreeNameReportsCannotCreatePath)
{
    std::ofstream(In("t.gif")) << "x";
    for (int n = 1; n <= kMaxUniqueNumber; ++n)
        std::ofstream(In("t" + std::to_string(n) + ".gif")) << "x";
    BlockProcessor processor(1);
    processor.SetEvents(&m_listener);
    processor.SaveToFolder("http://h/t.gif", Folder(), false);
    processor.WaitForWorker();
    const std::vector<std::string> expected{"Error:Cannot create path for URL:http://h/t.gif, folder:" + Folder()};
    EXPECT_EQ(m_listener.Events(), expected);
}

TEST_F(SaveProcessor2Test, WriteFailureIsVisibleToTheJob)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    BlockProcessor processor(3);
    processor.SetEvents(&m_listener);
    processor.Start("http://h/full", "/dev/full", false);
    ASSERT_TRUE(m_listener.WaitFor("Finished"));
    processor.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Error:Write error"), 1u);
    EXPECT_EQ(m_listener.Count("Completed"), 0u);
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StatePending);
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

TEST_F(SaveProcessor2Test, StopWakesWorkerBlockedInPoll)
{
    PollingProcessor processor;
    processor.SetEvents(&m_listener);
    processor.Start("mms://h/live", In("live.asf"), false);
    ASSERT_TRUE(processor.m_polling.WaitFor(kPatience));
    processor.Stop();
    processor.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Trace:woken by stop"), 1u);
    EXPECT_EQ(m_listener.Count("Finished"), 1u);
}

TEST_F(SaveProcessor2Test, StopCallsRegisteredWakeHook)
{
    HookProcessor processor;
    processor.SetEvents(&m_listener);
    processor.Start("http://h/slow", In("slow"), false);
    ASSERT_TRUE(processor.m_waiting.WaitFor(kPatience));
    processor.Stop();
    processor.WaitForWorker();
    EXPECT_EQ(m_listener.Count("Trace:woken by hook"), 1u);

    // A second job left waiting: the destructor's stop must reach the new
    // registration, not the first one's finished frame.
    processor.m_waiting.Reset();
    processor.Start("http://h/slow", In("slow2"), false);
    ASSERT_TRUE(processor.m_waiting.WaitFor(kPatience));
}
