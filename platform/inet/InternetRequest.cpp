#include "platform/inet/InternetRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace inet {

namespace {

// Upper bound of one poll; curl shortens it to its own next timer.
constexpr int kPollSliceMs = 1000;
// Longest reason phrase kept from a status line.
constexpr std::size_t kMaxReasonLength = 200;

ErrorCode CodeOf(CURLcode result)
{
    switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return ErrorCode::BadUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return ErrorCode::Connect;
    case CURLE_OPERATION_TIMEDOUT:
        return ErrorCode::Timeout;
    default:
        return ErrorCode::Transfer;
    }
}

std::string Printable(std::string_view text)
{
    std::string out;
    for (char c : text.substr(0, kMaxReasonLength))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); });
}

bool IsSpokenScheme(std::string_view scheme)
{
    for (std::string_view known : { "http", "https", "ftp", "gopher" }) {
        if (scheme.size() == known.size() && StartsWithNoCase(scheme, known))
            return true;
    }
    return false;
}

} // namespace

struct InternetRequest::Curl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    bool added = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Curl()
    {
        if (added)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
    }
};

InternetRequest::InternetRequest(Passkey) : m_curl(std::make_unique<Curl>()) { }

InternetRequest::~InternetRequest() = default;

Result<std::unique_ptr<InternetRequest>> InternetRequest::Open(const InternetSession& session, std::string_view url,
                                                               int interruptFd)
{
    auto request = std::make_unique<InternetRequest>(Passkey {});
    request->m_interruptFd = interruptFd;
    if (Status started = request->Start(session, url); !started)
        return started.error();

    // Open means: the final response's headers are in, or some of the body,
    // or the transfer is over (an empty resource, or a failure).
    InternetRequest& r = *request;
    if (Status driven = r.Drive([&r] { return r.m_headersComplete || r.m_bodyStarted; }); !driven)
        return driven.error();
    if (r.m_headersComplete && r.m_status >= 400) {
        std::string message = "HTTP " + std::to_string(r.m_status);
        if (!r.m_reason.empty())
            message += " " + r.m_reason;
        return Error { ErrorCode::HttpStatus, message };
    }
    if (r.m_finished && r.m_result != CURLE_OK && !r.m_bodyStarted)
        return r.FinishedError();
    return request;
}

Status InternetRequest::Start(const InternetSession& session, std::string_view url)
{
    if (url.find('\0') != std::string_view::npos)
        return Error { ErrorCode::BadUrl, "URL holds a NUL byte" };
    // curl guesses a scheme for text without "scheme://" ("mailto:a@b.c"
    // would become a request to host b.c); only the protocols we speak, in
    // their full form, go to it.
    const std::size_t colon = url.find("://");
    const std::string_view scheme = url.substr(0, colon == std::string_view::npos ? 0 : colon);
    if (!IsSpokenScheme(scheme)) {
        const std::string_view named = url.substr(0, std::min(url.find(':'), std::size_t { 32 }));
        return Error { ErrorCode::BadUrl, "Protocol \"" + Printable(named) + "\" not supported" };
    }
    m_curl->multi = curl_multi_init();
    m_curl->easy = curl_easy_init();
    if (!m_curl->multi || !m_curl->easy)
        return Error { ErrorCode::InitFailed, "out of memory" };

    const TransferLimits& limits = session.Limits();
    const std::string urlText(url);
    CURL* e = m_curl->easy;
    bool ok = curl_easy_setopt(e, CURLOPT_URL, urlText.c_str()) == CURLE_OK;
    if (!ok)
        return Error { ErrorCode::BadUrl, "URL too long" };
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_curl->errorBuffer);
    curl_easy_setopt(e, CURLOPT_USERAGENT, session.Agent().c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https,ftp,gopher");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, limits.maxRedirects);
    // Worker threads: no SIGALRM-based resolver timeouts.
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    // Fewer than one byte per second for idleTimeout seconds is silence.
    const long idleSeconds = std::max<long>(1, static_cast<long>(limits.idleTimeout.count()));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    // FTP waits on its control connection are timed separately.
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, idleSeconds);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &InternetRequest::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &InternetRequest::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);

    if (curl_multi_add_handle(m_curl->multi, e) != CURLM_OK)
        return Error { ErrorCode::InitFailed, "cannot start the transfer" };
    m_curl->added = true;
    return Done {};
}

template <class Ready>
Status InternetRequest::Drive(Ready ready)
{
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(m_curl->multi, &running);
        if (mc != CURLM_OK)
            return Error { ErrorCode::Transfer, curl_multi_strerror(mc) };
        CollectFinished();
        if (ready() || m_finished)
            return Done {};
        if (m_wakeRequested.exchange(false))
            return Error { ErrorCode::Interrupted, "interrupted" };

        curl_waitfd extra {};
        unsigned extraCount = 0;
        if (m_interruptFd >= 0) {
            extra.fd = m_interruptFd;
            extra.events = CURL_WAIT_POLLIN;
            extraCount = 1;
        }
        mc = curl_multi_poll(m_curl->multi, extraCount ? &extra : nullptr, extraCount, kPollSliceMs, nullptr);
        if (mc != CURLM_OK)
            return Error { ErrorCode::Transfer, curl_multi_strerror(mc) };
        if (extraCount && (extra.revents & CURL_WAIT_POLLIN))
            return Error { ErrorCode::Interrupted, "interrupted" };
    }
}

void InternetRequest::CollectFinished()
{
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_curl->multi, &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_curl->easy) {
            m_finished = true;
            m_result = msg->data.result;
        }
    }
}

Error InternetRequest::FinishedError() const
{
    const auto result = static_cast<CURLcode>(m_result);
    std::string message = m_curl->errorBuffer[0] ? m_curl->errorBuffer : curl_easy_strerror(result);
    return Error { CodeOf(result), Printable(message) };
}

void InternetRequest::ResumeIfPaused()
{
    if (!m_paused)
        return;
    m_paused = false;
    // May deliver the held chunk through OnBody before it returns.
    curl_easy_pause(m_curl->easy, CURLPAUSE_CONT);
}

Result<std::size_t> InternetRequest::QueryDataAvailable()
{
    if (Unread() > 0)
        return Unread();
    ResumeIfPaused();
    if (Unread() == 0 && !m_finished) {
        if (Status driven = Drive([this] { return Unread() > 0; }); !driven)
            return driven.error();
    }
    if (Unread() > 0)
        return Unread();
    if (m_result != CURLE_OK)
        return FinishedError();
    return std::size_t { 0 };
}

Result<std::size_t> InternetRequest::Read(std::span<std::byte> buffer)
{
    Result<std::size_t> available = QueryDataAvailable();
    if (!available || available.value() == 0)
        return available;
    const std::size_t n = std::min(buffer.size(), Unread());
    std::memcpy(buffer.data(), m_buffer.data() + m_readPos, n);
    m_readPos += n;
    if (m_readPos == m_buffer.size()) {
        m_buffer.clear();
        m_readPos = 0;
    }
    return n;
}

void InternetRequest::Wake()
{
    m_wakeRequested = true;
    curl_multi_wakeup(m_curl->multi);
}

long InternetRequest::ResponseCode() const
{
    return m_status;
}

std::size_t InternetRequest::OnBody(char* data, std::size_t size, std::size_t count, void* self)
{
    return static_cast<InternetRequest*>(self)->AcceptBody(data, size * count);
}

std::size_t InternetRequest::AcceptBody(const char* data, std::size_t size)
{
    // A body chunk of an error status is not the resource; the open reports
    // the status and nothing of it is kept.
    if (m_headersComplete && m_status >= 400)
        return 0;
    if (size == 0)
        return 0;
    // Bounded memory: a chunk that does not fit waits in curl (paused)
    // until the reader has made room. An empty buffer takes any chunk
    // (curl delivers at most CURL_MAX_WRITE_SIZE at once).
    if (Unread() > 0 && Unread() + size > kBufferCapacity) {
        m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (m_readPos > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_readPos));
        m_readPos = 0;
    }
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + size);
    m_bodyStarted = true;
    return size;
}

std::size_t InternetRequest::OnHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    const std::size_t n = size * count;
    static_cast<InternetRequest*>(self)->AcceptHeaderLine(std::string_view(data, n));
    return n;
}

void InternetRequest::AcceptHeaderLine(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);

    // "HTTP/1.1 404 Not Found" starts a response (there may be several:
    // 1xx interim answers, redirects).
    if (StartsWithNoCase(line, "HTTP/")) {
        m_status = 0;
        m_reason.clear();
        m_sawLocation = false;
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos) {
            std::string_view rest = line.substr(space + 1);
            long status = 0;
            std::size_t digits = 0;
            while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9')
                status = status * 10 + (rest[digits++] - '0');
            m_status = status;
            if (digits < rest.size() && rest[digits] == ' ')
                m_reason = Printable(rest.substr(digits + 1));
        }
        return;
    }
    if (m_status == 0)
        return; // not HTTP (FTP replies arrive here too)
    if (StartsWithNoCase(line, "location:")) {
        m_sawLocation = true;
        return;
    }
    if (!line.empty())
        return;
    // End of a header block: the final one unless it is interim or a
    // redirect that will be followed.
    if (m_status < 200)
        return;
    if (m_status >= 300 && m_status < 400 && m_sawLocation)
        return;
    m_headersComplete = true;
}

} // namespace inet
