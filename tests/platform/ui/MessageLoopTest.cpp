#include "platform/ui/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using ui::MessageLoop;
using Clock = std::chrono::steady_clock;

namespace {

// A thread that owns a loop and runs it until told to stop.
class LoopThread {
public:
    LoopThread()
    {
        std::promise<std::shared_ptr<MessageLoop>> ready;
        m_thread = std::thread([this, &ready] {
            ready.set_value(MessageLoop::CurrentRef());
            MessageLoop::Current().RunUntil([this] { return m_stop.load(); });
        });
        m_loop = ready.get_future().get();
    }
    ~LoopThread()
    {
        m_loop->Post([this] { m_stop = true; });
        m_thread.join();
    }
    MessageLoop& loop() { return *m_loop; }
    std::shared_ptr<MessageLoop> ref() { return m_loop; }

private:
    std::atomic<bool> m_stop { false };
    std::shared_ptr<MessageLoop> m_loop;
    std::thread m_thread;
};

} // namespace

TEST(MessageLoop, PostsFromManyThreadsArriveInPerThreadOrderAndNeverInsideThePost)
{
    auto& loop = MessageLoop::Current();
    bool ran = false;
    loop.Post([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(loop.RunPending(), 1u);
    EXPECT_TRUE(ran);

    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> total { 0 };
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                loop.Post([&, t, i] {
                    seen[t].push_back(i);
                    ++total;
                });
        });
    }
    loop.RunUntil([&] { return total.load() == kThreads * kEach; }, 20s);
    for (auto& p : posters)
        p.join();
    ASSERT_EQ(total.load(), kThreads * kEach);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i)
            EXPECT_EQ(seen[t][i], i) << "thread " << t;
    }
}

TEST(MessageLoop, SendWaitsForTheCallOnTheLoopThreadEvenInsideANestedLoop)
{
    LoopThread target;
    std::thread::id ranOn;
    int value = 0;
    ASSERT_TRUE(target.loop().Send([&] {
        std::this_thread::sleep_for(20ms);
        ranOn = std::this_thread::get_id();
        value = 42;
    }));
    EXPECT_EQ(value, 42) << "Send returned before the call ran";
    EXPECT_NE(ranOn, std::this_thread::get_id());

    // The target enters a nested loop (a modal dialog) inside a message.
    std::atomic<bool> nestedRunning { false };
    std::atomic<bool> releaseNested { false };
    std::atomic<int> depthSeen { 0 };
    target.loop().Post([&] {
        nestedRunning = true;
        MessageLoop::Current().RunUntil([&] { return releaseNested.load(); });
    });
    while (!nestedRunning)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(target.loop().Send([&] { depthSeen = MessageLoop::Current().Depth(); }));
    EXPECT_EQ(depthSeen.load(), 2) << "the send must run inside the nested loop";
    releaseNested = true;
    target.loop().Wake();
}

TEST(MessageLoop, TwoThreadsSendingToEachOtherDoNotDeadlock)
{
    LoopThread a;
    LoopThread b;
    std::atomic<int> done { 0 };
    auto aRef = a.ref();
    auto bRef = b.ref();
    // a sends to b, whose handler sends back to a while a is still waiting.
    std::thread driver([&] {
        aRef->Send([&] {
            bRef->Send([&] {
                aRef->Send([&] { ++done; });
                ++done;
            });
            ++done;
        });
    });
    driver.join();
    EXPECT_EQ(done.load(), 3);
}

TEST(MessageLoop, SentCallsOvertakePostedOnes)
{
    LoopThread target;
    std::vector<std::string> order;
    std::atomic<bool> gate { false };
    std::atomic<bool> blocked { false };
    // Block the target so both messages queue up.
    target.loop().Post([&] {
        blocked = true;
        while (!gate)
            std::this_thread::sleep_for(1ms);
    });
    while (!blocked)
        std::this_thread::sleep_for(1ms);
    target.loop().Post([&] { order.push_back("posted"); });
    std::thread sender([&] { target.loop().Send([&] { order.push_back("sent"); }); });
    while (target.loop().PendingSends() == 0)
        std::this_thread::sleep_for(1ms);
    gate = true;
    sender.join();
    // A later post runs after "posted" (a send would overtake it again).
    std::promise<void> drained;
    target.loop().Post([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_EQ(order, (std::vector<std::string> { "sent", "posted" }));
}

TEST(MessageLoop, SendToAnEndedThreadFailsAndAPendingOneIsReleasedWhenItEnds)
{
    std::shared_ptr<MessageLoop> ended;
    std::thread([&] { ended = MessageLoop::CurrentRef(); }).join();
    bool ran = false;
    EXPECT_FALSE(ended->Send([&] { ran = true; }));
    EXPECT_FALSE(ended->Post([&] { ran = true; }));
    EXPECT_FALSE(ran);

    std::promise<std::shared_ptr<MessageLoop>> ready;
    std::atomic<bool> exit { false };
    std::thread owner([&] {
        ready.set_value(MessageLoop::CurrentRef());
        while (!exit)
            std::this_thread::sleep_for(1ms);
        // Ends without ever running its loop.
    });
    auto loop = ready.get_future().get();
    std::atomic<int> result { -1 };
    std::thread sender([&] { result = loop->Send([] { }) ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    exit = true;
    owner.join();
    sender.join();
    EXPECT_EQ(result.load(), 0);
}

TEST(MessageLoop, ThrowingSentCallStillReleasesTheSender)
{
    std::atomic<bool> caught { false };
    std::atomic<bool> stop { false };
    std::promise<std::shared_ptr<MessageLoop>> ready;
    // The target catches its handler's exception outside RunUntil.
    std::thread owner([&] {
        ready.set_value(MessageLoop::CurrentRef());
        while (!stop) {
            try {
                MessageLoop::Current().RunUntil([&] { return stop.load(); });
            } catch (const std::runtime_error&) {
                caught = true;
            }
        }
    });
    auto loop = ready.get_future().get();
    EXPECT_FALSE(loop->Send([] { throw std::runtime_error("boom"); }));
    // The sender is released while the exception unwinds; the owner sees
    // it just after.
    for (int i = 0; i < 5000 && !caught; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(caught.load());
    loop->Post([&] { stop = true; });
    owner.join();
}

TEST(MessageLoop, NestedLoopsReturnInnermostFirstAndQuitEndsOnlyTheInnermost)
{
    auto& loop = MessageLoop::Current();
    std::vector<std::string> trace;
    bool outerDone = false;
    loop.Post([&] {
        trace.push_back("outer message");
        loop.Post([&] {
            trace.push_back("inner message");
            loop.Quit();
        });
        loop.Run();
        trace.push_back("inner loop returned at depth " + std::to_string(loop.Depth()));
        loop.Post([&] { outerDone = true; });
    });
    EXPECT_TRUE(loop.RunUntil([&] { return outerDone; }, 5s));
    EXPECT_EQ(loop.Depth(), 0);
    EXPECT_EQ(trace, (std::vector<std::string> { "outer message", "inner message", "inner loop returned at depth 1" }));
}

TEST(MessageLoop, RunUntilTimesOutWhenIdleAndWakeLetsAnotherThreadEndTheWait)
{
    auto loop = MessageLoop::CurrentRef();
    const auto start = Clock::now();
    EXPECT_FALSE(loop->RunUntil([] { return false; }, 30ms));
    EXPECT_GE(Clock::now() - start, 30ms);

    std::atomic<bool> flag { false };
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        flag = true;
        loop->Wake();
    });
    EXPECT_TRUE(loop->RunUntil([&] { return flag.load(); }, 10s));
    t.join();
}

TEST(MessageLoopTimers, DelayedMessagesRunInDueOrderAndCanBeCancelled)
{
    auto& loop = MessageLoop::Current();
    std::vector<int> order;
    loop.PostDelayed([&] { order.push_back(2); }, 40ms);
    loop.PostDelayed([&] { order.push_back(1); }, 10ms);
    loop.CancelDelayed(loop.PostDelayed([&] { order.push_back(99); }, 20ms));
    loop.RunUntil([&] { return order.size() == 2; }, 5s);
    loop.RunUntil([] { return false; }, 40ms);
    EXPECT_EQ(order, (std::vector<int> { 1, 2 }));
}

// Progress displays depend on timers armed from other threads running on
// time, also inside a modal dialog's nested loop.
TEST(MessageLoopTimers, DelayedMessageFromAnotherThreadWakesASleepingNestedLoop)
{
    auto loop = MessageLoop::CurrentRef();
    for (const bool localTimer : { false, true }) {
        // Asleep with no timer (an unbounded wait) or until its own timer
        // due in 10 s: the armed timer must shorten either wait.
        SCOPED_TRACE(localTimer ? "local timer due later" : "no local timer");
        const MessageLoop::TimerId far = localTimer ? loop->PostDelayed([] { }, 10s) : 0;
        std::atomic<bool> ran { false };
        std::atomic<bool> innerDone { false };
        std::thread arming;
        loop->Post([&] {
            arming = std::thread([&] {
                std::this_thread::sleep_for(20ms);
                loop->PostDelayed([&] { ran = true; }, 10ms);
            });
            loop->RunUntil([&] { return ran.load(); }, 8s);
            innerDone = true;
        });
        const auto start = Clock::now();
        EXPECT_TRUE(loop->RunUntil([&] { return innerDone.load(); }, 10s));
        arming.join();
        EXPECT_TRUE(ran.load());
        EXPECT_LT(Clock::now() - start, 4s) << "the delayed message waited for another timeout";
        loop->CancelDelayed(far);
    }
}

TEST(MessageLoopTimers, DueTimersRunAmidAnEndlessStreamOfPostsWithoutReorderingThem)
{
    // A message that posts its successor keeps the posted queue from ever
    // being empty (a busy download reporting); timers must not starve.
    auto& loop = MessageLoop::Current();
    std::atomic<bool> stop { false };
    std::function<void()> again = [&] {
        if (!stop)
            loop.Post(again);
    };
    loop.Post(again);
    bool fired = false;
    loop.PostDelayed([&] { fired = true; }, 10ms);
    EXPECT_TRUE(loop.RunUntil([&] { return fired; }, 5s));
    stop = true;
    loop.RunUntil([] { return false; }, 20ms); // let the chain end

    // Letting timers in between must not reorder posted messages.
    std::vector<int> order;
    int timerRuns = 0;
    for (int i = 0; i < 3; ++i)
        loop.PostDelayed([&] { ++timerRuns; }, 0ms);
    for (int i = 0; i < 100; ++i)
        loop.Post([&order, i] { order.push_back(i); });
    loop.RunUntil([&] { return order.size() == 100 && timerRuns == 3; }, 5s);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(timerRuns, 3);
}
