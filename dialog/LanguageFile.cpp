#include "dialog/LanguageFile.h"

#include "platform/xml/Document.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace dialog {

namespace {

// Opens for writing, creating or truncating, with no other writer of this
// system in the file at the same time.
int OpenForReplace(const std::string& path)
{
    if (path.empty())
        return -1;
    // Non-blocking open so that a FIFO without a reader fails instead of
    // hanging the dialog; it has no effect on a regular file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Advisory only: the closest this platform comes to a file opened
    // without sharing. Truncate once no other writer of this system is in
    // the file.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) { }
    if (::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void WriteAll(int fd, const std::vector<unsigned char>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

std::string LanguageFile::PathIn(const std::string& folder)
{
    if (folder.empty())
        return {};
    return folder + "/" + std::string(kLanguageFileName);
}

std::optional<std::string> LanguageFile::Read() const
{
    for (const std::string* folder : { &m_moduleFolder, &m_userFolder }) {
        const std::string path = PathIn(*folder);
        if (path.empty())
            continue;
        xml::Document document;
        document.SetAsync(false);
        if (document.Load(path))
            return document.Xml();
    }
    return std::nullopt;
}

std::optional<std::string> LanguageFile::Write(std::u16string_view text) const
{
    std::string path = PathIn(m_userFolder);
    int fd = OpenForReplace(path);
    if (fd < 0) {
        path = PathIn(m_moduleFolder);
        fd = OpenForReplace(path);
    }
    if (fd < 0)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    bytes.reserve(2 + text.size() * 2);
    bytes.push_back(0xFF);
    bytes.push_back(0xFE);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    WriteAll(fd, bytes);
    ::close(fd);
    return path;
}

} // namespace dialog
