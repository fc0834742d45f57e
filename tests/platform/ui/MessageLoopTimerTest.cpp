// Delayed messages armed from other threads, and delayed messages among a
// steady stream of posted ones: both must run on time inside nested loops
// (a modal dialog's loop inside an outer one), where progress displays
// depend on them.
#include "platform/ui/MessageLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using ui::MessageLoop;

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

TEST(MessageLoopTimers, DelayedMessageFromAnotherThreadWakesAnIdleNestedLoop)
{
    // The loop sleeps with no timer of its own (an unbounded wait); a timer
    // armed by another thread must shorten that wait rather than wait for
    // some unrelated message to come by.
    auto loop = MessageLoop::CurrentRef();
    std::atomic<bool> ran { false };
    std::atomic<bool> innerDone { false };
    std::thread arming;
    loop->Post([&] {
        // Inside the nested level, as a modal dialog's loop would be.
        arming = std::thread([&] {
            std::this_thread::sleep_for(20ms);
            loop->PostDelayed([&] { ran = true; }, 10ms);
        });
        loop->RunUntil([&] { return ran.load(); }, 5s);
        innerDone = true;
    });
    const auto start = Clock::now();
    EXPECT_TRUE(loop->RunUntil([&] { return innerDone.load(); }, 10s));
    arming.join();
    EXPECT_TRUE(ran.load());
    EXPECT_LT(Clock::now() - start, 4s) << "the delayed message waited for the nested loop's timeout";
}

TEST(MessageLoopTimers, DelayedMessageFromAnotherThreadOvertakesALaterLocalTimer)
{
    // The loop is asleep until its own timer, due in 10 s; a 10 ms timer
    // armed from elsewhere is due long before that and must not wait for it.
    auto loop = MessageLoop::CurrentRef();
    const auto far = loop->PostDelayed([] { }, 10s);
    std::atomic<bool> ran { false };
    std::thread arming([&] {
        std::this_thread::sleep_for(20ms);
        loop->PostDelayed([&] { ran = true; }, 10ms);
    });
    const auto start = Clock::now();
    EXPECT_TRUE(loop->RunUntil([&] { return ran.load(); }, 8s));
    EXPECT_LT(Clock::now() - start, 5s);
    arming.join();
    loop->CancelDelayed(far);
}

TEST(MessageLoopTimers, DueTimerRunsAmidAnEndlessStreamOfPostedMessages)
{
    // A message that posts its successor keeps the posted queue from ever
    // being empty (a busy download reporting without pause); timers must
    // still get their turn instead of starving behind it.
    auto& loop = MessageLoop::Current();
    std::atomic<bool> stop { false };
    int posted = 0;
    std::function<void()> again = [&] {
        ++posted;
        if (!stop)
            loop.Post(again);
    };
    loop.Post(again);
    bool fired = false;
    loop.PostDelayed([&] { fired = true; }, 10ms);
    EXPECT_TRUE(loop.RunUntil([&] { return fired; }, 5s));
    stop = true;
    loop.RunUntil([] { return false; }, 20ms); // let the chain end
    EXPECT_GT(posted, 0);
}

TEST(MessageLoopTimers, PostedMessagesKeepTheirOrderAroundDueTimers)
{
    // Letting timers in between must not reorder posted messages.
    auto& loop = MessageLoop::Current();
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
