#include "saveprocessors/SaveProcessor2.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>
#include <utility>

#include "saveprocessors/TargetPath.h"

namespace QVSaveProcessors {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.Release();
    }
    return *this;
}

bool UniqueFd::Close()
{
    if (m_fd < 0)
        return true;
    // close() must not be retried on EINTR on Linux: the descriptor is gone.
    const int result = ::close(Release());
    return result == 0 || errno == EINTR;
}

CSaveProcessor2::StopWakeRegistration::StopWakeRegistration(StopWakeRegistration&& other) noexcept
    : m_owner(std::exchange(other.m_owner, nullptr)), m_id(other.m_id)
{
}

CSaveProcessor2::StopWakeRegistration&
CSaveProcessor2::StopWakeRegistration::operator=(StopWakeRegistration&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_owner = std::exchange(other.m_owner, nullptr);
        m_id = other.m_id;
    }
    return *this;
}

void CSaveProcessor2::StopWakeRegistration::Reset()
{
    if (m_owner)
        std::exchange(m_owner, nullptr)->ReleaseStopWake(m_id);
}

CSaveProcessor2::CSaveProcessor2() = default;

CSaveProcessor2::~CSaveProcessor2()
{
    StopAndWaitForWorker();
}

void CSaveProcessor2::Start(std::string_view url, std::string_view targetPath, bool startPaused)
{
    // 1. A processor runs one job at a time: end the previous one first.
    Stop();
    WaitForWorker();

    // 2. Fresh job.
    m_url = url;
    m_bytesReceived = 0;
    m_state = StatePending;
    m_hFile.Close();
    m_heldBytes = {};
    m_heldBlocks = {};

    // 3./4. Create the target anew. A path holding a NUL byte would name a
    // different (shorter) path at the system call, so it is refused.
    m_targetPath = targetPath;
    int fd = -1;
    if (m_targetPath.find('\0') == std::string::npos) {
        do {
            fd = ::open(m_targetPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
        } while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) {
        ReportError("Cannot create output file '" + m_targetPath + "'.");
        return;
    }
    m_hFile = UniqueFd(fd);

    // 5.
    if (m_pEvents)
        m_pEvents->OnStarted(this, m_targetPath);

    // 6./7. The run state is settled, and reported, before the worker
    // exists: a job started paused must not slip through its first
    // checkpoint, and listeners see "resumed" (and "paused") before
    // anything the worker reports.
    m_hStopEvent.Reset();
    Resume();
    if (startPaused)
        Pause();
    m_workerRunning = true;
    try {
        m_hThread = std::thread(&CSaveProcessor2::ThreadRoutine, this);
    } catch (const std::system_error&) {
        m_workerRunning = false;
        m_hStopEvent.Set();
        m_hFile.Close();
        ReportError("Cannot start the download of '" + m_url + "'.");
    }
}

void CSaveProcessor2::SaveToFolder(std::string_view url, std::string_view folder, bool startPaused)
{
    const auto path = MakeUniqueTargetPath(url, folder, {});
    if (!path) {
        std::string message = "Cannot create path for URL:";
        message.append(url).append(", folder:").append(folder);
        ReportError(message);
        return;
    }
    Start(url, *path, startPaused);
}

void CSaveProcessor2::Resume()
{
    m_hRunEvent.Set();
    if (m_pEvents)
        m_pEvents->OnResumed(this);
}

void CSaveProcessor2::Stop()
{
    if (!m_hThread.joinable() || !m_workerRunning)
        return;
    // A paused worker must wake to see the request. The wake is reported
    // before the request is made: the worker's last report is its answer
    // to the stop, and "resumed" must not come after it.
    WakeForStop();
}

void CSaveProcessor2::WakeForStop()
{
    if (m_pEvents)
        m_pEvents->OnResumed(this);
    RequestStop();
    m_hRunEvent.Set();
}

void CSaveProcessor2::Pause()
{
    m_hRunEvent.Reset();
    if (m_pEvents)
        m_pEvents->OnPaused(this);
}

void CSaveProcessor2::WaitForWorker()
{
    if (m_hThread.joinable())
        m_hThread.join();
}

void CSaveProcessor2::StopAndWaitForWorker()
{
    if (!m_hThread.joinable())
        return;
    if (m_workerRunning)
        WakeForStop();
    m_hThread.join();
}

bool CSaveProcessor2::Checkpoint()
{
    if (IsStopRequested())
        return false;
    if (!m_hRunEvent.IsSet() && !FlushTarget()) {
        // What was received shows in the file (and the count) while the
        // job is paused.
        ReportWriteFailure(errno);
        return false;
    }
    m_hRunEvent.Wait();
    // Stop() resumes a paused job so that it can end; it must not run
    // another unit on the way out.
    return !IsStopRequested();
}

CSaveProcessor2::StopWakeRegistration CSaveProcessor2::RegisterStopWake(std::function<void()> wake)
{
    std::lock_guard lock(m_wakeMutex);
    m_stopWake = std::move(wake);
    return StopWakeRegistration(this, ++m_stopWakeId);
}

void CSaveProcessor2::ReleaseStopWake(std::uint64_t id)
{
    std::lock_guard lock(m_wakeMutex);
    if (id == m_stopWakeId)
        m_stopWake = nullptr;
}

void CSaveProcessor2::RequestStop()
{
    m_hStopEvent.Set();
    CallStopWake();
}

void CSaveProcessor2::CallStopWake()
{
    // Held during the call: the registration's owner cannot release the
    // resource the hook touches until the hook has returned.
    std::lock_guard lock(m_wakeMutex);
    if (m_stopWake)
        m_stopWake();
}

namespace {

bool WriteAll(int fd, std::span<const std::byte> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

std::string ErrnoText(int error)
{
    char buffer[256];
    // GNU strerror_r: returns the text, which may or may not be in buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

} // namespace

bool CSaveProcessor2::WriteToTarget(std::span<const std::byte> bytes)
{
    if (!FlushTarget())
        return false;
    if (!m_hFile.IsOpen()) {
        errno = EBADF;
        return false;
    }
    return WriteAll(m_hFile.Get(), bytes);
}

bool CSaveProcessor2::WriteBlock(std::span<const std::byte> bytes)
{
    if (!m_hFile.IsOpen()) {
        errno = EBADF;
        return false;
    }
    // A job gathers blocks only once it has proved large: the many small
    // files of a batch, all running at once, each keep no batch in memory.
    if (bytes.size() >= m_writeBufferSize || m_bytesReceived.load(std::memory_order_relaxed) < m_writeBufferSize) {
        if (!WriteToTarget(bytes))
            return false;
        ReportProgress(static_cast<std::uint32_t>(bytes.size()));
        return true;
    }
    if (m_heldBytes.size() + bytes.size() > m_writeBufferSize && !FlushTarget())
        return false;
    if (m_heldBytes.capacity() < m_writeBufferSize)
        m_heldBytes.reserve(m_writeBufferSize);
    m_heldBytes.insert(m_heldBytes.end(), bytes.begin(), bytes.end());
    m_heldBlocks.push_back(static_cast<std::uint32_t>(bytes.size()));
    return true;
}

bool CSaveProcessor2::FlushTarget()
{
    if (m_heldBlocks.empty())
        return true;
    const bool open = m_hFile.IsOpen();
    const bool written = open && WriteAll(m_hFile.Get(), m_heldBytes);
    const int error = open ? errno : EBADF;
    m_heldBytes.clear();
    if (written) {
        for (const std::uint32_t block : m_heldBlocks)
            ReportProgress(block);
    }
    m_heldBlocks.clear();
    errno = error;
    return written;
}

bool CSaveProcessor2::CloseTarget()
{
    const bool flushed = FlushTarget();
    const int flushError = errno;
    // The batch buffer of a finished job is not kept for the life of the
    // processor (a download batch holds one processor per URL).
    m_heldBytes = {};
    m_heldBlocks = {};
    errno = 0;
    const bool closed = m_hFile.Close();
    if (!flushed)
        errno = flushError;
    return flushed && closed;
}

void CSaveProcessor2::ReportWriteFailure(int error)
{
    ReportError("Cannot write to file '" + m_targetPath + "': " + ErrnoText(error));
}

void CSaveProcessor2::ReportProgress(std::uint32_t bytes)
{
    m_bytesReceived += bytes;
    m_state = StateReceiving;
    if (m_pEvents)
        m_pEvents->OnProgress(this, bytes);
}

void CSaveProcessor2::ReportCompleted()
{
    if (!FlushTarget()) {
        ReportWriteFailure(errno);
        return;
    }
    m_state = StateCompleted;
    if (m_pEvents)
        m_pEvents->OnCompleted(this);
}

void CSaveProcessor2::ReportError(std::string_view message)
{
    if (m_pEvents)
        m_pEvents->OnError(this, message);
}

void CSaveProcessor2::ReportTrace(std::string_view message)
{
    if (m_pEvents)
        m_pEvents->OnTrace(this, message);
}

void CSaveProcessor2::ThreadRoutine(CSaveProcessor2* self)
{
    // Nothing may escape a thread: an unexpected failure of the job is
    // reported like any other and the worker still ends in order.
    try {
        self->Process();
    } catch (const std::exception& e) {
        self->ReportError(e.what());
    } catch (...) {
        self->ReportError("Unexpected failure in the download.");
    }
    // A job that ended without closing its file (stopped, broken off) keeps
    // every byte it received; a failure to write them is its last report.
    if (!self->FlushTarget())
        self->ReportWriteFailure(errno);
    self->m_hFile.Close();
    self->m_heldBytes = {};
    self->m_heldBlocks = {};
    if (self->m_pEvents)
        self->m_pEvents->OnFinished(self);
    self->m_workerRunning = false;
}

} // namespace QVSaveProcessors
