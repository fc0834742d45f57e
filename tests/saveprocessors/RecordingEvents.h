#pragma once
// A listener that keeps every report of a save processor, for tests that
// check what a job reported and in which order.
#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/SaveProcessor2Events.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class RecordingEvents final : public QVSaveProcessors::CSaveProcessor2Events {
public:
    // "started <path>", "resumed", "paused", "progress <n>", "completed",
    // "error <message>", "trace <line>", "finished".
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    // The events without progress lines, which vary with timing.
    std::vector<std::string> Milestones() const
    {
        std::vector<std::string> out;
        for (const std::string& e : Events())
            if (e.rfind("progress ", 0) != 0)
                out.push_back(e);
        return out;
    }
    std::vector<std::uint32_t> ProgressCounts() const
    {
        std::vector<std::uint32_t> out;
        for (const std::string& e : Events())
            if (e.rfind("progress ", 0) == 0)
                out.push_back(static_cast<std::uint32_t>(std::stoul(e.substr(9))));
        return out;
    }
    std::uint64_t ProgressTotal() const
    {
        std::uint64_t total = 0;
        for (std::uint32_t n : ProgressCounts())
            total += n;
        return total;
    }
    bool Has(const std::string& event) const
    {
        for (const std::string& e : Events())
            if (e == event)
                return true;
        return false;
    }
    // Waits until "finished" was reported; false on timeout.
    bool WaitFinished(std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_finished; });
    }
    // Waits until the progress reported adds up to at least `bytes`.
    bool WaitForBytes(std::uint64_t bytes, std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_bytes >= bytes || m_finished; }) && m_bytes >= bytes;
    }

    void OnProgress(QVSaveProcessors::CSaveProcessor2*, std::uint32_t bytes) override
    {
        Add("progress " + std::to_string(bytes), bytes);
    }
    void OnCompleted(QVSaveProcessors::CSaveProcessor2*) override { Add("completed"); }
    void OnPaused(QVSaveProcessors::CSaveProcessor2*) override { Add("paused"); }
    void OnResumed(QVSaveProcessors::CSaveProcessor2*) override { Add("resumed"); }
    void OnFinished(QVSaveProcessors::CSaveProcessor2*) override
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back("finished");
        m_finished = true;
        m_changed.notify_all();
    }
    void OnError(QVSaveProcessors::CSaveProcessor2*, std::string_view message) override
    {
        Add("error " + std::string(message));
    }
    void OnTrace(QVSaveProcessors::CSaveProcessor2*, std::string_view message) override
    {
        Add("trace " + std::string(message));
    }
    void OnStarted(QVSaveProcessors::CSaveProcessor2*, std::string_view path) override
    {
        Add("started " + std::string(path));
    }

private:
    void Add(std::string event, std::uint64_t bytes = 0)
    {
        std::lock_guard lock(m_mutex);
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
