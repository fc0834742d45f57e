#pragma once
// The root handle of internet access: who we say we are (the agent string
// sent with every request) and how long we wait before giving up.
//
//   auto session = inet::InternetSession::Open("Vornel QVSaveProcessors");
//   auto request = inet::InternetRequest::Open(session.value(), url);
//
// Proxies come from the environment (http_proxy, https_proxy, ftp_proxy,
// all_proxy, no_proxy), as every curl-based program reads them.
//
// Thread: any; a session is immutable after Open and may be shared by the
// requests of several threads.
#include "platform/inet/InetResult.h"

#include <chrono>
#include <string>
#include <string_view>

namespace inet {

// Time limits of every transfer, so that a silent or crawling peer can never
// hold a download (and whoever waits for it) for ever.
struct TransferLimits {
    // Name resolution plus the TCP (and TLS) handshake.
    std::chrono::milliseconds connectTimeout { std::chrono::seconds(30) };
    // Longest time without a single byte from the peer, at any stage after
    // the connection: waiting for the response, or in the middle of the body.
    std::chrono::seconds idleTimeout { 60 };
    // Redirects followed before the open fails.
    long maxRedirects = 10;
};

// The limits new sessions get unless told otherwise. Tests shorten them.
// Thread: any.
[[nodiscard]] TransferLimits DefaultTransferLimits();
void SetDefaultTransferLimits(const TransferLimits& limits);

class InternetSession {
public:
    // Starts the client library once per process. Fails only when that fails.
    [[nodiscard]] static Result<InternetSession> Open(std::string_view agent,
                                                      const TransferLimits& limits = DefaultTransferLimits());

    [[nodiscard]] const std::string& Agent() const { return m_agent; }
    [[nodiscard]] const TransferLimits& Limits() const { return m_limits; }

private:
    InternetSession(std::string_view agent, const TransferLimits& limits) : m_agent(agent), m_limits(limits) { }

    std::string m_agent;
    TransferLimits m_limits;
};

} // namespace inet
