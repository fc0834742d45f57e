#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <thread>

#include "saveprocessors/ManualResetEvent.h"

using namespace QVSaveProcessors;
using namespace std::chrono_literals;

namespace {

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

} // namespace

TEST(ManualResetEvent, PollFdReadableExactlyWhileSet)
{
    ManualResetEvent event(ManualResetEvent::InitialState::Signalled, ManualResetEvent::Pollable::Yes);
    ASSERT_GE(event.PollFd(), 0);
    EXPECT_TRUE(Readable(event.PollFd()));
    event.Reset();
    EXPECT_FALSE(Readable(event.PollFd()));
    // Setting twice must not leave the descriptor readable after one reset.
    event.Set();
    event.Set();
    event.Reset();
    EXPECT_FALSE(Readable(event.PollFd()));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    event.Set();
    EXPECT_TRUE(Readable(event.PollFd()));
}

TEST(ManualResetEvent, SetReleasesEveryWaiterAndStaysSet)
{
    ManualResetEvent event(ManualResetEvent::InitialState::Reset);
    EXPECT_FALSE(event.WaitFor(1ms));
    std::thread a([&] { event.Wait(); });
    std::thread b([&] { event.Wait(); });
    event.Set();
    a.join();
    b.join();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_EQ(event.PollFd(), -1);
}
