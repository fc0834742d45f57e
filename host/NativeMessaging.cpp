#include "host/NativeMessaging.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace host {

namespace {

enum class Fill { Ok, End, Stopped, Failed };

// Reads exactly `size` bytes, waking for ShutdownRead.
Fill ReadExactly(int fd, int wake, char* data, std::size_t size, std::size_t& got)
{
    got = 0;
    while (got < size) {
        pollfd fds[2] = { { fd, POLLIN, 0 }, { wake, POLLIN, 0 } };
        int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fill::Failed;
        if (fds[1].revents)
            return Fill::Stopped;
        ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return Fill::Failed;
        if (n == 0)
            return Fill::End;
        got += static_cast<std::size_t>(n);
    }
    return Fill::Ok;
}

} // namespace

NativeChannel::NativeChannel(int in, int out, std::size_t maxRead)
    : m_in(in)
    , m_out(out)
    , m_maxRead(maxRead)
{
    if (pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    // A browser that has gone makes writes fail, not end the process.
    signal(SIGPIPE, SIG_IGN);
}

NativeChannel::~NativeChannel()
{
    if (m_out >= 0)
        close(m_out);
    for (int fd : m_wake) {
        if (fd >= 0)
            close(fd);
    }
}

ReadResult NativeChannel::Read()
{
    ReadResult r;
    std::uint32_t length = 0;
    std::size_t got = 0;
    switch (ReadExactly(m_in, m_wake[0], reinterpret_cast<char*>(&length), sizeof length, got)) {
    case Fill::Ok:
        break;
    case Fill::End:
        r.status = got == 0 ? ReadStatus::End : ReadStatus::Truncated;
        r.error = got == 0 ? "the browser closed the connection" : "the connection ended inside a message length";
        return r;
    case Fill::Stopped:
        r.status = ReadStatus::Stopped;
        return r;
    case Fill::Failed:
        r.error = std::string("reading from the browser: ") + std::strerror(errno);
        return r;
    }
    if (length > m_maxRead) {
        r.status = ReadStatus::TooLarge;
        r.error = "the browser sent a message of " + std::to_string(length) + " bytes, above the limit of "
                  + std::to_string(m_maxRead);
        return r;
    }
    r.message.resize(length);
    switch (ReadExactly(m_in, m_wake[0], r.message.data(), length, got)) {
    case Fill::Ok:
        r.status = ReadStatus::Ok;
        return r;
    case Fill::End:
        r.status = ReadStatus::Truncated;
        r.error = "the connection ended inside a message";
        break;
    case Fill::Stopped:
        r.status = ReadStatus::Stopped;
        break;
    case Fill::Failed:
        r.error = std::string("reading from the browser: ") + std::strerror(errno);
        break;
    }
    r.message.clear();
    return r;
}

bool NativeChannel::Write(std::string_view json)
{
    if (json.size() > kMaxMessageToBrowser || m_out < 0)
        return false;
    std::lock_guard lock(m_writeMutex);
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame.append(json);
    std::size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = write(m_out, frame.data() + done, frame.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void NativeChannel::ShutdownRead()
{
    if (m_wake[1] >= 0) {
        const char byte = 1;
        (void)!write(m_wake[1], &byte, 1);
    }
}

bool SnapshotAssembler::Add(const nlohmann::json& piece, std::string& error)
{
    auto integer = [&](const char* key) -> std::optional<std::int64_t> {
        auto it = piece.find(key);
        if (it == piece.end() || !it->is_number_integer())
            return std::nullopt;
        return it->get<std::int64_t>();
    };
    const auto id = integer("id");
    const auto part = integer("part");
    const auto parts = integer("parts");
    auto data = piece.find("data");
    if (!id || !part || !parts || data == piece.end() || !data->is_string()) {
        error = "a snapshot piece without id, part, parts or data";
        return false;
    }
    if (*parts < 1 || static_cast<std::uint64_t>(*parts) > m_maxParts) {
        error = "a snapshot in " + std::to_string(*parts) + " pieces (at most " + std::to_string(m_maxParts) + ")";
        return false;
    }
    if (*id != m_id) {
        m_id = *id;
        m_parts = *parts;
        m_next = 0;
        m_text.clear();
    }
    if (*parts != m_parts || *part != m_next) {
        error = "snapshot piece " + std::to_string(*part) + " of " + std::to_string(*parts) + " out of order";
        m_id = -1;
        m_text.clear();
        return false;
    }
    const std::string& text = data->get_ref<const std::string&>();
    if (m_text.size() + text.size() > m_maxBytes) {
        error = "the page snapshot is larger than " + std::to_string(m_maxBytes >> 20) + " MiB";
        m_id = -1;
        m_text.clear();
        return false;
    }
    m_text += text;
    ++m_next;
    return true;
}

std::optional<std::string> SnapshotAssembler::Take(std::int64_t id, std::string& error)
{
    if (id != m_id || m_next != m_parts || m_parts == 0) {
        error = m_id == id ? "the page snapshot arrived incomplete" : "no page snapshot arrived for this grab";
        return std::nullopt;
    }
    m_id = -1;
    return std::move(m_text);
}

} // namespace host
