#pragma once
// A listener that keeps every report of a save processor, for tests that
// check what a job reported and in which order.
#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/SaveProcessor2Events.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class RecordingEvents final : public QVSaveProcessors::CSaveProcessor2Events {
public:
    using Processor = QVSaveProcessors::CSaveProcessor2;

    // "started <path>", "resumed", "paused", "progress <n>", "completed",
    // "error <message>", "trace <line>", "finished".
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    // The events without progress lines, which vary with timing.
    std::vector<std::string> Milestones() const { return Select([](const std::string& e) { return e.rfind("progress ", 0) != 0; }); }
    std::vector<std::string> Errors() const
    {
        std::vector<std::string> out;
        for (const std::string& e : Select([](const std::string& e) { return e.rfind("error ", 0) == 0; }))
            out.push_back(e.substr(6));
        return out;
    }
    std::vector<std::uint32_t> ProgressCounts() const
    {
        std::vector<std::uint32_t> out;
        for (const std::string& e : Select([](const std::string& e) { return e.rfind("progress ", 0) == 0; }))
            out.push_back(static_cast<std::uint32_t>(std::stoul(e.substr(9))));
        return out;
    }
    std::uint64_t ProgressTotal() const
    {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    std::size_t Count(const std::string& event) const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count(m_events.begin(), m_events.end(), event));
    }
    bool Has(const std::string& event) const { return Count(event) > 0; }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }
    // Waits until `event` was reported `times` times; false on timeout.
    bool WaitFor(const std::string& event, std::size_t times = 1, std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] {
            return static_cast<std::size_t>(std::count(m_events.begin(), m_events.end(), event)) >= times;
        });
    }
    bool WaitFinished(std::chrono::milliseconds timeout = std::chrono::seconds(60)) { return WaitFor("finished", 1, timeout); }
    // Waits until the progress reported adds up to at least `bytes`.
    bool WaitForBytes(std::uint64_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_bytes >= bytes || m_finished; }) && m_bytes >= bytes;
    }

    // Runs inside OnResumed, on the thread that reports it.
    std::function<void()> onResumed;

    void OnProgress(Processor*, std::uint32_t bytes) override { Add("progress " + std::to_string(bytes), bytes); }
    void OnCompleted(Processor*) override { Add("completed"); }
    void OnPaused(Processor*) override { Add("paused"); }
    void OnResumed(Processor*) override
    {
        if (onResumed)
            onResumed();
        Add("resumed");
    }
    void OnFinished(Processor*) override { Add("finished"); }
    void OnError(Processor*, std::string_view message) override { Add("error " + std::string(message)); }
    void OnTrace(Processor*, std::string_view message) override { Add("trace " + std::string(message)); }
    void OnStarted(Processor*, std::string_view path) override { Add("started " + std::string(path)); }

private:
    template <class Keep>
    std::vector<std::string> Select(Keep keep) const
    {
        std::vector<std::string> out;
        for (const std::string& e : Events())
            if (keep(e))
                out.push_back(e);
        return out;
    }
    void Add(std::string event, std::uint64_t bytes = 0)
    {
        std::lock_guard lock(m_mutex);
        m_finished = m_finished || event == "finished";
        m_events.push_back(std::move(event));
        m_bytes += bytes;
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    std::uint64_t m_bytes = 0;
    bool m_finished = false;
};

} // namespace testsupport
