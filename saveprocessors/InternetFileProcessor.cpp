#include "saveprocessors/InternetFileProcessor.h"

#include "platform/inet/InternetRequest.h"
#include "platform/inet/InternetSession.h"
#include "saveprocessors/FileUrl.h"
#include "saveprocessors/UrlParts.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>

namespace QVSaveProcessors {

CInternetFileProcessor::CInternetFileProcessor()
{
    SetWriteBuffer(kWriteBufferSize);
}

CInternetFileProcessor::~CInternetFileProcessor()
{
    StopAndWaitForWorker();
}

void CInternetFileProcessor::Process()
{
    const std::string url = GetUrl();
    const std::optional<UrlParts> parts = SplitUrl(url, true);
    if (!parts || !parts->IsKnownScheme()) {
        ReportError("(" + url + ") URL scheme don't detected, file can't be saved");
        return;
    }
    if (parts->scheme() == Scheme::File)
        CopyFile(*parts);
    else
        Download();
}

void CInternetFileProcessor::CopyFile(const UrlParts& parts)
{
    // The copy replaces the (empty) file that Start created.
    CloseTarget();
    const std::string source = LocalPathOfFileUrl(parts.urlPath);
    std::error_code error;
    bool copied = false;
    if (source.find('\0') == std::string::npos) {
        // Only regular files are copied: a device or a pipe named by a page
        // (file:///dev/zero) would never end.
        copied = std::filesystem::copy_file(source, GetTargetPath(),
                                            std::filesystem::copy_options::overwrite_existing, error)
            && !error;
    }
    if (copied)
        ReportCompleted();
    else
        ReportError("Cannot copy file: " + GetUrl() + " to: " + GetTargetPath());
}

void CInternetFileProcessor::Download()
{
    // 1. Root handle.
    inet::Result<inet::InternetSession> session = inet::InternetSession::Open(kAgent);
    if (!session) {
        ReportError("Cannot open URL: " + session.error().message);
        return;
    }

    // 2. The URL. The stop event's descriptor ends the wait for a silent
    // server as soon as a stop is requested.
    auto opened = inet::InternetRequest::Open(session.value(), GetUrl(), StopPollFd());
    if (!opened) {
        if (opened.error().code != inet::ErrorCode::Interrupted)
            ReportError("Cannot open URL: " + opened.error().message);
        return;
    }
    inet::InternetRequest& request = *opened.value();

    // The blocks received so far go to the file (and their progress to the
    // listener) before a failure is reported, in the order they happened.
    const auto reportAfterData = [this](const std::string& message) {
        if (!FlushTarget())
            ReportWriteFailure(errno);
        ReportError(message);
    };

    // 3.-5. Blocks of at most 1,024 bytes, a checkpoint before each. The
    // blocks are written in batches: a batch ends when it is full or when
    // the request has nothing more at once, so bytes never wait in memory
    // for a slow network.
    std::array<std::byte, kBlockSize> buffer;
    inet::Result<std::size_t> available = request.QueryDataAvailable();
    while (available && available.value() > 0) {
        if (!Checkpoint())
            return; // stopped: the file is not whole, so no completion
        const std::size_t wanted = std::min(available.value(), buffer.size());
        inet::Result<std::size_t> read = request.Read(std::span(buffer).first(wanted));
        if (!read) {
            available = read;
            break;
        }
        if (read.value() == 0) {
            // Data was announced and none came: the resource is cut short.
            reportAfterData("Cannot read data");
            return;
        }
        const bool drained = read.value() >= available.value();
        if (!WriteBlock(std::span(buffer).first(read.value())) || (drained && !FlushTarget())) {
            ReportWriteFailure(errno);
            return;
        }
        available = request.QueryDataAvailable();
    }

    // 6.-7. A transfer that broke off is not a complete file, however many
    // blocks arrived.
    if (!available) {
        if (available.error().code != inet::ErrorCode::Interrupted)
            reportAfterData("Download incomplete: " + available.error().message);
        return;
    }
    // Errors of delayed writes can surface at close; the file counts only
    // once it is safely closed. An empty resource served whole is an empty
    // file, and complete.
    errno = 0;
    if (!CloseTarget()) {
        ReportWriteFailure(errno);
        return;
    }
    ReportCompleted();
}

} // namespace QVSaveProcessors
