#include "saveprocessors/ManualResetEvent.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace QVSaveProcessors {

namespace {

// The eventfd counter is 1 exactly while the event is set; the mutex of the
// event orders these calls, so the counter never goes above 1.
void RaiseFd(int fd)
{
    if (fd < 0)
        return;
    const std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void DrainFd(int fd)
{
    if (fd < 0)
        return;
    std::uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

} // namespace

ManualResetEvent::ManualResetEvent(InitialState initial, Pollable pollable)
{
    if (pollable == Pollable::Yes)
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (initial == InitialState::Signalled)
        Set();
}

ManualResetEvent::~ManualResetEvent()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ManualResetEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_set.load(std::memory_order_relaxed))
            return;
        // Descriptor first: whoever sees the event set finds it readable.
        RaiseFd(m_fd);
        m_set.store(true, std::memory_order_release);
    }
    m_cv.notify_all();
}

void ManualResetEvent::Reset()
{
    std::lock_guard lock(m_mutex);
    if (!m_set.load(std::memory_order_relaxed))
        return;
    DrainFd(m_fd);
    m_set.store(false, std::memory_order_release);
}

bool ManualResetEvent::IsSet() const
{
    return m_set.load(std::memory_order_acquire);
}

void ManualResetEvent::Wait() const
{
    if (IsSet())
        return;
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_set.load(std::memory_order_relaxed); });
}

bool ManualResetEvent::WaitFor(std::chrono::milliseconds timeout) const
{
    if (IsSet())
        return true;
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_set.load(std::memory_order_relaxed); });
}

} // namespace QVSaveProcessors
