#pragma once
// Base of the save processors: saves one URL into one local file on a worker
// thread of its own, and reports what happens to one listener.
//
// Driving thread (the one that owns the processor, e.g. the progress
// dialog's): construct, SetEvents, SaveToFolder or Start; later Stop,
// WaitForWorker, destroy. The worker runs Process() of the derived class.
//
// Writing a Process() implementation:
//   - Work in small units. Before each unit call Checkpoint(): it returns
//     false when a stop is requested (end the job then), and blocks while
//     the job is paused.
//   - Write with WriteToTarget() and check its result: a failed write must
//     be reported (ReportError) and must never end in ReportCompleted().
//     Then ReportProgress() with the byte count written.
//   - A processor that reads in small blocks may instead hand each block
//     to WriteBlock(): blocks are gathered (SetWriteBuffer) and written as
//     one batch, and each block's progress is reported once its batch is in
//     the file, so progress still never counts a byte that was not
//     written. Call FlushTarget() before a wait that may be long (the
//     source has nothing more at once); Checkpoint() does so before
//     blocking in a pause, ReportCompleted() and CloseTarget() before they
//     act, and the end of the worker for a job that ended otherwise. A
//     failed batch write is reported by whoever flushed it; no held byte is
//     dropped silently.
//   - A blocking network wait must be breakable by Stop(). Either
//       * poll() on your socket together with StopPollFd(), which polls
//         readable as soon as a stop is requested (curl_multi_poll takes it
//         as an extra fd as well), or
//       * hold a StopWakeRegistration from RegisterStopWake(hook) for the span
//         of the wait; Stop() and the destructor call `hook` on the driving
//         thread right after the stop is requested (e.g. curl_multi_wakeup).
//     After registering, check IsStopRequested() before blocking: a stop
//     that came just before the registration has no hook to call.
//   - A final class must call StopAndWaitForWorker() first thing in its
//     destructor: once the derived part is destroyed the worker must not be
//     running Process() on it, and the base destructor runs too late.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "saveprocessors/ManualResetEvent.h"
#include "saveprocessors/SaveProcessor2Events.h"

namespace QVSaveProcessors {

// Owner of a POSIX file descriptor; closes it when replaced or destroyed.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    [[nodiscard]] int Get() const { return m_fd; }
    [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }
    int Release() { int fd = m_fd; m_fd = -1; return fd; }
    // True when the descriptor was closed cleanly (or none was open).
    bool Close();

private:
    int m_fd = -1;
};

class CSaveProcessor2 {
public:
    // Job state; the progress dialog turns it into a save result.
    enum JobState : std::int32_t {
        StateCompleted = 0, // the whole resource was saved
        StateReceiving = 1, // at least one block was written
        StatePending = 2,   // nothing written yet (also after a failed Start)
    };

    CSaveProcessor2();
    // Wakes a still running (even paused) worker, waits for it, closes the
    // file. See the note above on StopAndWaitForWorker for final classes.
    // Thread: driving.
    virtual ~CSaveProcessor2();
    CSaveProcessor2(const CSaveProcessor2&) = delete;
    CSaveProcessor2& operator=(const CSaveProcessor2&) = delete;

    // Stops and awaits a previous job, creates `targetPath` anew (truncating
    // an existing file) and starts the worker. A file that cannot be created
    // reports "Cannot create output file '%s'." and starts nothing.
    // With `startPaused` the worker blocks at its first checkpoint until
    // Resume(); OnResumed then OnPaused are reported.
    // Thread: driving.
    virtual void Start(std::string_view url, std::string_view targetPath, bool startPaused);
    // Start() into a free name for `url` inside `folder`; reports "Cannot
    // create path for URL:%s, folder:%s" when every numbered name is taken.
    // Thread: driving.
    virtual void SaveToFolder(std::string_view url, std::string_view folder, bool startPaused);
    // Thread: driving.
    virtual void Resume();
    // Requests a running worker to stop (and wakes it if paused or blocked
    // in a registered wait). Does nothing, reports nothing, when no worker
    // runs. Thread: driving.
    virtual void Stop();
    // Thread: driving.
    virtual void Pause();

    // Thread: driving; call once, before the first Start. May be null.
    void SetEvents(CSaveProcessor2Events* events) { m_pEvents = events; }
    // Blocks until the current worker (if any) has ended. Thread: driving.
    void WaitForWorker();
    // Thread: any.
    [[nodiscard]] bool IsStopRequested() const { return m_hStopEvent.IsSet(); }
    // Thread: driving, or the worker during its job.
    [[nodiscard]] std::string GetUrl() const { return m_url; }
    // Thread: driving, or the worker during its job.
    [[nodiscard]] const std::string& GetTargetPath() const { return m_targetPath; }
    // Latest values written by the worker. Thread: any.
    [[nodiscard]] std::uint64_t GetBytesReceived() const { return m_bytesReceived.load(); }
    [[nodiscard]] JobState GetState() const { return static_cast<JobState>(m_state.load()); }

    // Unregisters its hook when destroyed, waiting for a call in progress.
    class StopWakeRegistration {
    public:
        StopWakeRegistration() = default;
        StopWakeRegistration(StopWakeRegistration&& other) noexcept;
        StopWakeRegistration& operator=(StopWakeRegistration&& other) noexcept;
        ~StopWakeRegistration() { Reset(); }
        void Reset();

    private:
        friend class CSaveProcessor2;
        StopWakeRegistration(CSaveProcessor2* owner, std::uint64_t id) : m_owner(owner), m_id(id) {}
        CSaveProcessor2* m_owner = nullptr;
        std::uint64_t m_id = 0;
    };

protected:
    // The job. Thread: worker.
    virtual void Process() = 0;

    // False when the job must end (stop requested); otherwise blocks while
    // paused and returns true, re-checking the stop request after a pause
    // so that a stop never lets one more unit run. Held blocks are written
    // before a pause blocks (a failure is reported and ends the job: false).
    // Thread: worker.
    [[nodiscard]] bool Checkpoint();
    // Blocks while the job is paused. Thread: worker.
    void WaitWhilePaused() const { m_hRunEvent.Wait(); }
    // Readable (POLLIN) while a stop is requested; never read it.
    // Thread: any.
    [[nodiscard]] int StopPollFd() const { return m_hStopEvent.PollFd(); }
    // Installs `wake` as the one hook Stop() and the destructor call after
    // requesting a stop; a later registration replaces an earlier one.
    // Thread: worker (or any).
    [[nodiscard]] StopWakeRegistration RegisterStopWake(std::function<void()> wake);

    // Writes all of `bytes` to the target file now (after any held blocks),
    // retrying short writes. False, with errno set, when no target file is
    // open or the system refuses the write (disk full, I/O error).
    // Thread: worker.
    [[nodiscard]] bool WriteToTarget(std::span<const std::byte> bytes);
    // One block read from the source: held for the next batch write, its
    // progress reported (ReportProgress) once it is written. False, with
    // errno set, when a batch write failed (nothing more is held then; the
    // blocks of that batch are not counted). Thread: worker.
    [[nodiscard]] bool WriteBlock(std::span<const std::byte> bytes);
    // Writes the held blocks and reports their progress, in order. False,
    // with errno set, when the write failed. Thread: worker.
    [[nodiscard]] bool FlushTarget();
    // Writes what is held and closes the target file before the job ends
    // (e.g. to replace it with a copy). False, with errno set, when either
    // reported an error. Thread: worker.
    bool CloseTarget();
    // Most bytes WriteBlock holds before writing a batch (0: each block is
    // written at once). The first `bytes` of each job are written block by
    // block. Thread: driving, while no job runs (a derived constructor).
    void SetWriteBuffer(std::size_t bytes) { m_writeBufferSize = bytes; }
    // Reports "Cannot write to file '<target>': <reason of `error`>".
    // Thread: worker.
    void ReportWriteFailure(int error);

    // Reports. Each is dropped when no listener is attached. Thread: worker
    // (or driving for the errors of Start and SaveToFolder).
    void ReportProgress(std::uint32_t bytes);
    // Completion counts only once every byte is in the file: held blocks
    // are written first, and a failure is reported instead.
    void ReportCompleted();
    void ReportError(std::string_view message);
    void ReportTrace(std::string_view message);

    // Requests a stop of a running worker, wakes it and joins it. Idempotent.
    // Thread: driving.
    void StopAndWaitForWorker();

private:
    static void ThreadRoutine(CSaveProcessor2* self);
    void RequestStop();
    // Reports "resumed", then requests the stop and wakes a paused worker.
    void WakeForStop();
    void CallStopWake();
    void ReleaseStopWake(std::uint64_t id);

    ManualResetEvent m_hStopEvent{ManualResetEvent::InitialState::Signalled,
                                  ManualResetEvent::Pollable::Yes};
    ManualResetEvent m_hRunEvent{ManualResetEvent::InitialState::Signalled};
    std::thread m_hThread;
    // Cleared by the worker as its last act, read by Stop() on the driving
    // thread: it stands for the zero-time wait on a thread handle.
    std::atomic<bool> m_workerRunning{false};
    CSaveProcessor2Events* m_pEvents = nullptr;
    // Written by the worker, read by the driving thread while the job runs
    // (progress display, save result): atomic so those reads are never torn
    // and always see the worker's latest value.
    std::atomic<std::uint64_t> m_bytesReceived{0};
    std::atomic<std::int32_t> m_state{StatePending};
    UniqueFd m_hFile;
    // Blocks accepted by WriteBlock and not yet written, and the size of
    // each (their progress reports). Worker only.
    std::vector<std::byte> m_heldBytes;
    std::vector<std::uint32_t> m_heldBlocks;
    std::size_t m_writeBufferSize = 0;
    std::string m_url;
    std::string m_targetPath;

    std::mutex m_wakeMutex; // guards the hook and serialises its calls
    std::function<void()> m_stopWake;
    std::uint64_t m_stopWakeId = 0;
};

} // namespace QVSaveProcessors
