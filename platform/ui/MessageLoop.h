#pragma once
// Per-thread message loop: the user-interface threads' queue of work.
//
// Every thread that shows windows owns one loop. Other threads reach it by
// posting (never blocks) or sending (blocks until the loop's thread has run
// the call). Modal dialogs run a nested RunUntil() inside a call made from an
// outer loop, so page callbacks, progress events and downloads interleave on
// one thread exactly as nested Windows message loops would.
//
// Thread: Post, PostDelayed, Send and Wake from any thread; RunUntil, Run,
// RunPending, Quit and Depth only on the loop's own thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ui {

class MessageLoop : public std::enable_shared_from_this<MessageLoop> {
public:
    using Clock = std::chrono::steady_clock;
    using TimerId = std::uint64_t;

    // The calling thread's loop, created on first use. It lives until the
    // thread ends; after that, posts to it are dropped and sends return false.
    static MessageLoop& Current();
    // The same loop as a counted reference, for handing to other threads.
    static std::shared_ptr<MessageLoop> CurrentRef();

    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;
    ~MessageLoop();

    // Queues fn to run on the loop's thread after everything already queued.
    // Returns false (and drops fn) when the loop's thread has ended.
    bool Post(std::function<void()> fn);

    // Runs fn once `delay` has passed, from within a running loop (however
    // deeply nested), also when another thread arms it while the loop
    // sleeps. A due timer runs before the next posted message whenever a
    // posted one ran since the last timer, so a busy queue delays timers
    // by one message at most. The id can cancel it until it has started.
    // Returns 0 (and drops fn) when the loop's thread has ended.
    TimerId PostDelayed(std::function<void()> fn, Clock::duration delay);
    void CancelDelayed(TimerId id);

    // Runs fn on the loop's thread and waits until it has returned. Sent
    // calls overtake posted ones, are run by any RunUntil the target thread
    // is in (however deeply nested), and while the caller waits it runs
    // calls sent to its own thread, so two threads sending to each other do
    // not deadlock. Called on the loop's own thread it runs fn directly.
    // Returns false when the loop's thread has ended (fn did not run).
    bool Send(std::function<void()> fn);

    // Handles messages until done() is true, checking it before waiting and
    // after every message; nests. Also returns when Quit() targets this
    // level. done must be cheap; other threads changing what it reads should
    // Wake() the loop.
    void RunUntil(const std::function<bool()>& done);
    // RunUntil with a deadline; true when done() became true (or Quit()).
    bool RunUntil(const std::function<bool()>& done, Clock::duration timeout);
    // Handles messages until Quit().
    void Run();
    // Handles what is due now without waiting; returns how many ran.
    std::size_t RunPending();
    // Makes the innermost running RunUntil/Run return after the current
    // message (the modal loop's PostQuitMessage).
    void Quit();
    // Re-checks the done predicate of the running loops.
    void Wake();

    // How many RunUntil levels are active on this loop.
    int Depth() const { return static_cast<int>(m_frames.size()); }
    // Sent calls waiting to run (diagnostics; any thread).
    std::size_t PendingSends() const;
    bool IsLoopThread() const { return std::this_thread::get_id() == m_thread; }

private:
    MessageLoop();
    struct SentCall;
    struct Frame {
        bool quit = false;
    };

    // Takes one message off the queues and runs it; false if none was due.
    bool RunOne();
    static void RunSent(SentCall& call);
    bool RunUntilDeadline(const std::function<bool()>& done, Clock::time_point deadline);
    void MarkThreadEnded();
    std::function<void()> TakeDueTimer(Clock::time_point now);

    friend struct LoopHolder;

    const std::thread::id m_thread;
    std::vector<Frame*> m_frames; // loop thread only

    // The system itself has no locks; this queue is where threads meet, and
    // a mutex with a condition variable is the plain way to hand work from
    // one thread to another and wake the sleeper.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_posted;
    std::deque<std::shared_ptr<SentCall>> m_sent;
    std::multimap<Clock::time_point, std::pair<TimerId, std::function<void()>>> m_timers;
    TimerId m_nextTimer = 1;
    // Posted messages run since the last timer ran; guarded by m_mutex.
    std::uint64_t m_postedSinceTimer = 0;
    bool m_ended = false;
    std::uint64_t m_wakeCount = 0;
};

} // namespace ui
