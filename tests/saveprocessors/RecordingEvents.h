#pragma once
// A listener that keeps every report of a save processor, for tests that
// check what a job reported and in which order.
#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/SaveProcessor2Events.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
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
    std::vector<std::string> Milestones() const { return Select("", "progress "); }
    std::vector<std::string> Errors() const { return Select("error ", ""); }
    std::vector<std::uint32_t> ProgressCounts() const
    {
        std::vector<std::uint32_t> out;
        for (const std::string& e : Select("progress ", ""))
            out.push_back(static_cast<std::uint32_t>(std::stoul(e)));
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
        m_sizes.clear();
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

    // Set before the job starts: the size this file had at each report is
    // checked by FileFaults().
    std::filesystem::path watch;
    // Progress counted before its bytes were in the watched file, and
    // progress after the completion or error.
    std::vector<std::string> FileFaults() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> faults;
        std::uint64_t counted = 0;
        const std::string* end = nullptr;
        for (std::size_t i = 0; i < m_sizes.size(); ++i) {
            const std::string& e = m_events[i];
            if (e == "completed" || e.rfind("error ", 0) == 0) {
                end = end ? end : &e;
            } else if (e.rfind("progress ", 0) == 0) {
                counted += std::stoul(e.substr(9));
                if (end)
                    faults.push_back(e + " after " + *end);
                if (m_sizes[i] < counted)
                    faults.push_back("counted " + std::to_string(counted) + " with " + std::to_string(m_sizes[i]) + " in the file");
            }
        }
        return faults;
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
    // Events starting with `prefix` (cut off), or all but those starting with `skip`.
    std::vector<std::string> Select(const std::string& prefix, const std::string& skip) const
    {
        std::vector<std::string> out;
        for (const std::string& e : Events())
            if (skip.empty() ? e.rfind(prefix, 0) == 0 : e.rfind(skip, 0) != 0)
                out.push_back(e.substr(skip.empty() ? prefix.size() : 0));
        return out;
    }
    void Add(std::string event, std::uint64_t bytes = 0)
    {
        std::lock_guard lock(m_mutex);
        m_finished = m_finished || event == "finished";
        if (!watch.empty()) {
            std::error_code error;
            const auto size = std::filesystem::file_size(watch, error);
            m_sizes.push_back(error ? 0 : size);
        }
        m_events.push_back(std::move(event));
        m_bytes += bytes;
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
    std::vector<std::uint64_t> m_sizes; // of `watch`, one per event
    std::uint64_t m_bytes = 0;
    bool m_finished = false;
};

} // namespace testsupport
