#include "saveprocessors/MmsSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace QVSaveProcessors::mms {

std::optional<ResolvedAddress> ResolveHost(std::string_view host, std::uint16_t port)
{
    if (host.empty() || host.find('\0') != std::string_view::npos)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string name(host);
    const std::string service = std::to_string(port);
    if (::getaddrinfo(name.c_str(), service.c_str(), &hints, &list) != 0 || !list)
        return std::nullopt;
    ResolvedAddress resolved;
    std::memcpy(&resolved.address, list->ai_addr, list->ai_addrlen);
    resolved.length = list->ai_addrlen;
    resolved.family = list->ai_family;
    ::freeaddrinfo(list);
    return resolved;
}

MmsSocket::MmsSocket(int stopFd, std::chrono::milliseconds idleLimit)
    : m_stopFd(stopFd)
    , m_idleLimit(idleLimit)
{
}

bool MmsSocket::Open(int family)
{
    m_fd = UniqueFd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!m_fd.IsOpen())
        return false;
    // Commands are small and each waits for its answer: no Nagle delay.
    const int one = 1;
    ::setsockopt(m_fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

IoStatus MmsSocket::WaitFor(short events) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + m_idleLimit;
    for (;;) {
        pollfd fds[2] = {{m_fd.Get(), events, 0}, {m_stopFd, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return IoStatus::TimedOut;
        const int ready = ::poll(fds, m_stopFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return IoStatus::Error;
        }
        if (ready == 0)
            return IoStatus::TimedOut;
        if (m_stopFd >= 0 && (fds[1].revents & POLLIN))
            return IoStatus::Stopped;
        if (fds[0].revents != 0) // ready, or an error/hang-up the next call reports
            return IoStatus::Ok;
    }
}

IoStatus MmsSocket::Connect(const ResolvedAddress& address)
{
    if (::connect(m_fd.Get(), reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0)
        return IoStatus::Ok;
    if (errno != EINPROGRESS && errno != EINTR)
        return IoStatus::Error;
    const IoStatus waited = WaitFor(POLLOUT);
    if (waited != IoStatus::Ok)
        return waited;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(m_fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
        return IoStatus::Error;
    return IoStatus::Ok;
}

std::string MmsSocket::LocalIpv4() const
{
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        local.ss_family == AF_INET) {
        char text[INET_ADDRSTRLEN] = {};
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&local);
        if (::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text))
            return text;
    }
    return "127.0.0.1";
}

IoResult MmsSocket::Receive(std::span<std::uint8_t> buffer)
{
    for (;;) {
        const ssize_t n = ::recv(m_fd.Get(), buffer.data(), buffer.size(), 0);
        if (n > 0)
            return {IoStatus::Ok, static_cast<std::size_t>(n), 0};
        if (n == 0)
            return {IoStatus::Closed, 0, 0};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return {IoStatus::Error, 0, errno};
        const IoStatus waited = WaitFor(POLLIN);
        if (waited != IoStatus::Ok)
            return {waited, 0, waited == IoStatus::Error ? errno : 0};
    }
}

IoResult MmsSocket::Send(ByteSpan bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        // MSG_NOSIGNAL: a peer that has gone must be a failed send, not a
        // SIGPIPE that ends the whole process.
        const ssize_t n = ::send(m_fd.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const IoStatus waited = WaitFor(POLLOUT);
            if (waited != IoStatus::Ok)
                return {waited, sent, 0};
            continue;
        }
        return {IoStatus::Error, sent, n < 0 ? errno : 0};
    }
    return {IoStatus::Ok, sent, 0};
}

double MmsSocket::IdleLimitSeconds() const
{
    return std::chrono::duration<double>(m_idleLimit).count();
}

} // namespace QVSaveProcessors::mms
