#pragma once
// A TCP connection for the MMS client whose every wait (connect, receive,
// send) also watches a stop descriptor and gives up after an idle time
// limit, so a silent server can never hold a job, or the dialog that waits
// for it, for longer than that.
//
// Thread: one worker at a time.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <sys/socket.h>

#include "saveprocessors/MmsTransport.h"
#include "saveprocessors/SaveProcessor2.h"

namespace QVSaveProcessors::mms {

struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = 0;
};

// The first address of `host` (getaddrinfo: thread-safe, unlike the classic
// resolver calls) with `port`; nullopt when the name does not resolve.
[[nodiscard]] std::optional<ResolvedAddress> ResolveHost(std::string_view host, std::uint16_t port);

class MmsSocket final : public MmsTransport {
public:
    // `stopFd` polls readable once a stop is requested (-1: none).
    MmsSocket(int stopFd, std::chrono::milliseconds idleLimit);

    [[nodiscard]] bool Open(int family);
    [[nodiscard]] IoStatus Connect(const ResolvedAddress& address);
    // Dotted IPv4 address of this end of the connection; "127.0.0.1" for a
    // connection that has none (IPv6).
    [[nodiscard]] std::string LocalIpv4() const;
    void Close() { m_fd.Close(); }

    [[nodiscard]] IoResult Receive(std::span<std::uint8_t> buffer) override;
    [[nodiscard]] IoResult Send(ByteSpan bytes) override;
    [[nodiscard]] double IdleLimitSeconds() const override;

private:
    // Waits until the socket is ready for `events`, a stop is requested or
    // the idle limit passes.
    [[nodiscard]] IoStatus WaitFor(short events) const;

    UniqueFd m_fd;
    int m_stopFd;
    std::chrono::milliseconds m_idleLimit;
};

} // namespace QVSaveProcessors::mms
