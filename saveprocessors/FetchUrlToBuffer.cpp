#include "saveprocessors/FetchUrlToBuffer.h"

#include "platform/inet/InternetRequest.h"
#include "platform/inet/InternetSession.h"
#include "saveprocessors/FileUrl.h"
#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/UrlParts.h"

#include <cerrno>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace QVSaveProcessors {

namespace {

bool ReadLocalFile(const std::string& path, std::vector<std::uint8_t>& out)
{
    if (path.find('\0') != std::string::npos)
        return false;
    // O_NONBLOCK: opening a FIFO named by a page must not hang; anything
    // but a regular file is refused right after.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsOpen())
        return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxFetchBytes)
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break; // the file shrank meanwhile: what is there is the file
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

bool Download(std::string_view url, std::vector<std::uint8_t>& out)
{
    inet::Result<inet::InternetSession> session = inet::InternetSession::Open(kFetchAgent);
    if (!session)
        return false;
    auto opened = inet::InternetRequest::Open(session.value(), url);
    if (!opened)
        return false;
    inet::InternetRequest& request = *opened.value();

    std::vector<std::uint8_t> bytes;
    for (;;) {
        inet::Result<std::size_t> available = request.QueryDataAvailable();
        if (!available)
            return false; // broken off: a truncated text is not the text
        if (available.value() == 0)
            break;
        if (bytes.size() + available.value() > kMaxFetchBytes)
            return false;
        const std::size_t old = bytes.size();
        bytes.resize(old + available.value());
        inet::Result<std::size_t> read
            = request.Read(std::as_writable_bytes(std::span(bytes).subspan(old)));
        if (!read)
            return false;
        bytes.resize(old + read.value());
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

} // namespace

bool FetchUrlToBuffer(std::string_view url, std::vector<std::uint8_t>& buffer)
{
    const std::optional<UrlParts> parts = SplitUrl(url, true);
    if (!parts || !parts->IsKnownScheme())
        return false;
    if (parts->scheme() == Scheme::File)
        return ReadLocalFile(LocalPathOfFileUrl(parts->urlPath), buffer);
    return Download(url, buffer);
}

} // namespace QVSaveProcessors
