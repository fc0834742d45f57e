#include "platform/ui/MessageLoop.h"

#include <atomic>

namespace ui {

struct MessageLoop::SentCall {
    std::function<void()> fn;
    std::atomic<bool> done { false };
    bool ran = false; // written before `done` is released
    // The sender's own loop, woken on completion so that it can go on
    // serving calls sent to it while it waits; empty for a thread without a
    // loop, which waits on `cv` instead.
    std::weak_ptr<MessageLoop> replyTo;
    std::mutex m;
    std::condition_variable cv;

    void Complete(bool didRun)
    {
        ran = didRun;
        {
            std::lock_guard lock(m);
            done.store(true, std::memory_order_release);
        }
        cv.notify_all();
        if (auto loop = replyTo.lock())
            loop->Wake();
    }
};

// Owns the thread's loop; its destruction at thread exit ends the loop.
struct LoopHolder {
    std::shared_ptr<MessageLoop> loop;
    ~LoopHolder()
    {
        if (loop)
            loop->MarkThreadEnded();
    }
};

namespace {
thread_local LoopHolder t_holder;
}

MessageLoop::MessageLoop() : m_thread(std::this_thread::get_id()) { }

MessageLoop::~MessageLoop() = default;

MessageLoop& MessageLoop::Current()
{
    return *CurrentRef();
}

std::shared_ptr<MessageLoop> MessageLoop::CurrentRef()
{
    if (!t_holder.loop)
        t_holder.loop = std::shared_ptr<MessageLoop>(new MessageLoop());
    return t_holder.loop;
}

void MessageLoop::MarkThreadEnded()
{
    std::deque<std::function<void()>> posted;
    std::deque<std::shared_ptr<SentCall>> sent;
    decltype(m_timers) timers;
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        posted.swap(m_posted);
        sent.swap(m_sent);
        timers.swap(m_timers);
    }
    // Senders must not wait forever for a thread that is gone.
    for (auto& call : sent)
        call->Complete(false);
    // Dropped messages are destroyed here, outside the lock, because their
    // captures may release objects whose destructors post again.
}

bool MessageLoop::Post(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_ended)
            return false;
        m_posted.push_back(std::move(fn));
    }
    m_wake.notify_all();
    return true;
}

MessageLoop::TimerId MessageLoop::PostDelayed(std::function<void()> fn, Clock::duration delay)
{
    TimerId id;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended)
            return 0;
        id = m_nextTimer++;
        m_timers.emplace(Clock::now() + delay, std::make_pair(id, std::move(fn)));
        // A loop asleep until a later time (or without any timer) must
        // recompute when to wake: counted as a wake so its wait ends now.
        ++m_wakeCount;
    }
    m_wake.notify_all();
    return id;
}

void MessageLoop::CancelDelayed(TimerId id)
{
    std::function<void()> dropped;
    std::lock_guard lock(m_mutex);
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.first == id) {
            dropped = std::move(it->second.second);
            m_timers.erase(it);
            break;
        }
    }
}

void MessageLoop::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeCount;
    }
    m_wake.notify_all();
}

bool MessageLoop::Send(std::function<void()> fn)
{
    if (IsLoopThread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<SentCall>();
    call->fn = std::move(fn);
    std::shared_ptr<MessageLoop> own = t_holder.loop;
    call->replyTo = own;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended)
            return false;
        m_sent.push_back(call);
    }
    m_wake.notify_all();

    if (!own) {
        std::unique_lock lock(call->m);
        call->cv.wait(lock, [&] { return call->done.load(std::memory_order_acquire); });
        return call->ran;
    }
    // Serve calls sent to this thread while waiting, as SendMessage does.
    for (;;) {
        std::shared_ptr<SentCall> incoming;
        {
            std::unique_lock lock(own->m_mutex);
            own->m_wake.wait(lock, [&] {
                return call->done.load(std::memory_order_acquire) || !own->m_sent.empty();
            });
            if (call->done.load(std::memory_order_acquire))
                return call->ran;
            incoming = std::move(own->m_sent.front());
            own->m_sent.pop_front();
        }
        RunSent(*incoming);
    }
}

void MessageLoop::RunSent(SentCall& call)
{
    // The sender must be released even if the call throws.
    struct Completer {
        SentCall& c;
        bool ran = false;
        ~Completer() { c.Complete(ran); }
    } completer { call };
    call.fn();
    completer.ran = true;
}

std::size_t MessageLoop::PendingSends() const
{
    std::lock_guard lock(m_mutex);
    return m_sent.size();
}

std::function<void()> MessageLoop::TakeDueTimer(Clock::time_point now)
{
    if (m_timers.empty() || m_timers.begin()->first > now)
        return {};
    auto fn = std::move(m_timers.begin()->second.second);
    m_timers.erase(m_timers.begin());
    return fn;
}

bool MessageLoop::RunOne()
{
    std::shared_ptr<SentCall> sent;
    std::function<void()> fn;
    {
        std::lock_guard lock(m_mutex);
        if (!m_sent.empty()) {
            sent = std::move(m_sent.front());
            m_sent.pop_front();
        } else {
            // A due timer takes its turn after a posted message, so a
            // stream of posts that never lets the queue run dry cannot
            // starve timers (progress redraws, delayed drains).
            if (m_postedSinceTimer > 0 || m_posted.empty()) {
                fn = TakeDueTimer(Clock::now());
                if (fn)
                    m_postedSinceTimer = 0;
            }
            if (!fn && !m_posted.empty()) {
                fn = std::move(m_posted.front());
                m_posted.pop_front();
                ++m_postedSinceTimer;
            }
            if (!fn)
                return false;
        }
    }
    if (sent) {
        RunSent(*sent);
    } else {
        fn();
    }
    return true;
}

std::size_t MessageLoop::RunPending()
{
    std::size_t n = 0;
    while (RunOne())
        ++n;
    return n;
}

bool MessageLoop::RunUntil(const std::function<bool()>& done, Clock::duration timeout)
{
    const auto now = Clock::now();
    const auto deadline = timeout >= Clock::time_point::max() - now ? Clock::time_point::max() : now + timeout;
    return RunUntilDeadline(done, deadline);
}

bool MessageLoop::RunUntilDeadline(const std::function<bool()>& done, Clock::time_point deadline)
{
    Frame frame;
    m_frames.push_back(&frame);
    struct Pop {
        std::vector<Frame*>& frames;
        ~Pop() { frames.pop_back(); }
    } pop { m_frames };

    for (;;) {
        if (frame.quit || done())
            return true;
        if (RunOne()) {
            // A loop kept busy by an endless stream still keeps its
            // deadline.
            if (deadline != Clock::time_point::max() && Clock::now() >= deadline && !frame.quit && !done())
                return false;
            continue;
        }
        std::unique_lock lock(m_mutex);
        const auto seen = m_wakeCount;
        auto until = deadline;
        if (!m_timers.empty() && m_timers.begin()->first < until)
            until = m_timers.begin()->first;
        if (!m_sent.empty() || !m_posted.empty())
            continue;
        if (Clock::now() >= deadline)
            return false;
        auto woken = [&] { return !m_sent.empty() || !m_posted.empty() || m_wakeCount != seen; };
        if (until == Clock::time_point::max())
            m_wake.wait(lock, woken);
        else
            m_wake.wait_until(lock, until, woken);
    }
}

void MessageLoop::RunUntil(const std::function<bool()>& done)
{
    RunUntilDeadline(done, Clock::time_point::max());
}

void MessageLoop::Run()
{
    RunUntil([] { return false; });
}

void MessageLoop::Quit()
{
    if (!m_frames.empty())
        m_frames.back()->quit = true;
}

} // namespace ui
