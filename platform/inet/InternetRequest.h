#pragma once
// One open URL, read pull-style: the caller asks how much is available and
// reads it in pieces of its own size, the way a file is read.
//
// Under it, libcurl runs the transfer on the caller's thread (one multi
// handle per request). Arriving bytes go to a bounded buffer; when it is
// full the transfer is paused until the caller has read, so memory does not
// grow with the size of the resource.
//
// Every wait (for the response, for more data) returns early with
// ErrorCode::Interrupted when the optional interrupt descriptor polls
// readable or Wake() is called, and no wait outlasts the session's time
// limits, so a stop never waits for a silent server.
//
// The open completes when the response headers are in (HTTP), when the
// first byte of the resource arrives (other protocols) or when the transfer
// ends. An HTTP status of 400 or more is an open failure.
//
// Protocols: http, https, ftp and gopher; redirects are followed among the
// first three.
//
// Thread: one thread at a time uses a request; Wake() may be called from any
// thread while the request exists.
#include "platform/inet/InetResult.h"
#include "platform/inet/InternetSession.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace inet {

class InternetRequest {
public:
    // Most bytes held between the transfer and the reader.
    static constexpr std::size_t kBufferCapacity = 64 * 1024;

    // Opens `url` and waits until it is open or has failed. `interruptFd`
    // (or -1): a descriptor that polls readable when waiting must stop.
    [[nodiscard]] static Result<std::unique_ptr<InternetRequest>>
    Open(const InternetSession& session, std::string_view url, int interruptFd = -1);

    ~InternetRequest();
    InternetRequest(const InternetRequest&) = delete;
    InternetRequest& operator=(const InternetRequest&) = delete;

    // Bytes that Read() can return at once; waits for more when none is
    // buffered. 0 once the whole resource has been read. An error when the
    // transfer broke off (after every byte that did arrive has been read),
    // or when the wait was interrupted (the request stays usable).
    [[nodiscard]] Result<std::size_t> QueryDataAvailable();

    // Copies up to buffer.size() bytes, waiting as QueryDataAvailable does
    // when none is buffered. 0 at the end of the resource.
    [[nodiscard]] Result<std::size_t> Read(std::span<std::byte> buffer);

    // Ends the current (or the next) wait with ErrorCode::Interrupted.
    // Thread: any.
    void Wake();

    // The HTTP status of the last response; 0 before one, and for other
    // protocols.
    [[nodiscard]] long ResponseCode() const;

    // Only Open makes requests.
    class Passkey {
        friend class InternetRequest;
        Passkey() = default;
    };
    explicit InternetRequest(Passkey);

private:
    struct Curl;

    [[nodiscard]] Status Start(const InternetSession& session, std::string_view url);
    // Runs the transfer until `ready()` holds or the transfer has ended.
    template <class Ready>
    [[nodiscard]] Status Drive(Ready ready);
    void CollectFinished();
    void ResumeIfPaused();
    [[nodiscard]] Error FinishedError() const;
    [[nodiscard]] std::size_t Unread() const { return m_buffer.size() - m_readPos; }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    std::size_t AcceptBody(const char* data, std::size_t size);
    void AcceptHeaderLine(std::string_view line);

    std::unique_ptr<Curl> m_curl;
    int m_interruptFd = -1;
    std::atomic<bool> m_wakeRequested { false };

    std::vector<std::byte> m_buffer; // bytes [m_readPos, size()) are unread
    std::size_t m_readPos = 0;
    bool m_paused = false;           // the body callback refused a chunk
    bool m_bodyStarted = false;
    bool m_headersComplete = false;  // final HTTP response's header block read
    bool m_finished = false;
    int m_result = 0;                // CURLcode once m_finished

    // Current HTTP response, from its status line.
    long m_status = 0;
    std::string m_reason;
    bool m_sawLocation = false;
};

} // namespace inet
