#pragma once
// A manual-reset event: once set it stays set, releasing every waiter, until
// it is reset. A pollable event also owns an eventfd that polls readable
// (POLLIN) exactly while the event is set, so a thread blocked in poll() on
// a socket can be woken by the same Set() that releases condition waiters.
//
// Thread: any. Every member may be called concurrently.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace QVSaveProcessors {

class ManualResetEvent {
public:
    enum class InitialState { Reset, Signalled };
    enum class Pollable { No, Yes };

    explicit ManualResetEvent(InitialState initial, Pollable pollable = Pollable::No);
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    [[nodiscard]] bool IsSet() const;
    // Blocks until the event is set.
    void Wait() const;
    // True when the event is (or becomes) set within `timeout`.
    [[nodiscard]] bool WaitFor(std::chrono::milliseconds timeout) const;

    // Descriptor for poll()/curl_multi_poll(): readable while the event is
    // set. -1 for a non-pollable event or when no descriptor could be made
    // (then poll() ignores it, so pollers should keep a bounded timeout).
    // Never read from or write to it; it stays valid for the event's life.
    [[nodiscard]] int PollFd() const { return m_fd; }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    // Written under m_mutex; read without it by IsSet() and by Wait()'s
    // fast path, which workers call before every small unit of work.
    std::atomic<bool> m_set { false };
    int m_fd = -1;
};

} // namespace QVSaveProcessors
