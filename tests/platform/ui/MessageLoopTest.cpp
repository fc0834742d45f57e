#include "platform/ui/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using ui::MessageLoop;

namespace {

// A thread that owns a loop and runs it until told to stop.
class LoopThread {
public:
    LoopThread()
    {
        std::promise<std::shared_ptr<MessageLoop>> ready;
        auto f = ready.get_future();
        m_thread = std::thread([this, &ready] {
            ready.set_value(MessageLoop::CurrentRef());
            MessageLoop::Current().RunUntil([this] { return m_stop.load(); });
        });
        m_loop = f.get();
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

TEST(MessageLoop, PostsFromManyThreadsAllArriveInPerThreadOrder)
{
    auto& loop = MessageLoop::Current();
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

TEST(MessageLoop, PostNeverRunsInsideThePostCall)
{
    auto& loop = MessageLoop::Current();
    bool ran = false;
    loop.Post([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(loop.RunPending(), 1u);
    EXPECT_TRUE(ran);
}

TEST(MessageLoop, SendWaitsForTheCallOnTheLoopThread)
{
    LoopThread target;
    std::thread::id ranOn;
    int value = 0;
    ASSERT_TRUE(target.loop().Send([&] {
        std::this_thread::sleep_for(20ms);
        ranOn = std::this_thread::get_id();
        value = 42;
    }));
    // Without waiting, value would still be 0 here.
    EXPECT_EQ(value, 42);
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

TEST(MessageLoop, SendReachesAThreadInsideANestedLoop)
{
    LoopThread target;
    std::atomic<bool> nestedRunning { false };
    std::atomic<bool> releaseNested { false };
    std::atomic<int> depthSeen { 0 };
    // The target enters a nested loop (a modal dialog) inside a message.
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
    auto bRef = b.ref();
    auto aRef = a.ref();
    // a sends to b, whose handler sends back to a while a is still waiting.
    std::thread driver([&] {
        a.loop().Send([&] {
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
    target.loop().Send([] { });
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "sent");
    EXPECT_EQ(order[1], "posted");
}

TEST(MessageLoop, SendToAnEndedThreadFailsInsteadOfHanging)
{
    std::shared_ptr<MessageLoop> loop;
    std::thread([&] { loop = MessageLoop::CurrentRef(); }).join();
    bool ran = false;
    EXPECT_FALSE(loop->Send([&] { ran = true; }));
    EXPECT_FALSE(loop->Post([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(MessageLoop, SendPendingWhenTheThreadEndsIsReleased)
{
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

TEST(MessageLoop, NestedRunUntilReturnsInnermostFirst)
{
    auto& loop = MessageLoop::Current();
    std::vector<std::string> trace;
    bool outerDone = false;
    bool innerDone = false;
    loop.Post([&] {
        trace.push_back("outer message");
        loop.Post([&] {
            trace.push_back("inner message");
            innerDone = true;
        });
        loop.RunUntil([&] { return innerDone; });
        trace.push_back("inner loop returned at depth " + std::to_string(loop.Depth()));
        outerDone = true;
    });
    loop.RunUntil([&] { return outerDone; });
    EXPECT_EQ(loop.Depth(), 0);
    const std::vector<std::string> expected { "outer message", "inner message", "inner loop returned at depth 1" };
    EXPECT_EQ(trace, expected);
}

TEST(MessageLoop, QuitEndsOnlyTheInnermostLoop)
{
    auto& loop = MessageLoop::Current();
    bool innerReturned = false;
    bool outerStillRunning = false;
    loop.Post([&] {
        loop.Post([&] { loop.Quit(); });
        loop.Run();
        innerReturned = true;
        loop.Post([&] { outerStillRunning = true; });
    });
    loop.RunUntil([&] { return outerStillRunning; }, 5s);
    EXPECT_TRUE(innerReturned);
    EXPECT_TRUE(outerStillRunning);
}

TEST(MessageLoop, RunUntilTimesOutWhenNothingHappens)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MessageLoop::Current().RunUntil([] { return false; }, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(MessageLoop, WakeLetsAnotherThreadEndAWait)
{
    auto loop = MessageLoop::CurrentRef();
    std::atomic<bool> flag { false };
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        flag = true;
        loop->Wake();
    });
    EXPECT_TRUE(loop->RunUntil([&] { return flag.load(); }, 10s));
    t.join();
}

TEST(MessageLoop, DelayedMessagesRunInDueOrderAndCanBeCancelled)
{
    auto& loop = MessageLoop::Current();
    std::vector<int> order;
    loop.PostDelayed([&] { order.push_back(2); }, 40ms);
    loop.PostDelayed([&] { order.push_back(1); }, 10ms);
    auto cancelled = loop.PostDelayed([&] { order.push_back(99); }, 20ms);
    loop.CancelDelayed(cancelled);
    loop.RunUntil([&] { return order.size() == 2; }, 5s);
    std::vector<int> expected { 1, 2 };
    EXPECT_EQ(order, expected);
    loop.RunUntil([] { return false; }, 40ms);
    EXPECT_EQ(order, expected);
}

TEST(MessageLoop, ThrowingSentCallStillReleasesTheSender)
{
    std::atomic<bool> caught { false };
    // The target's handler throws; the target catches it outside RunUntil.
    std::thread owner;
    std::promise<std::shared_ptr<MessageLoop>> ready;
    std::atomic<bool> stop { false };
    owner = std::thread([&] {
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
