#pragma once
// Fetches the page, its frame documents and subresources for the static
// loader: many at once over one libcurl multi handle, each transfer with a
// connect and a total time limit and a byte cap, the whole load with a
// deadline and a byte budget. Results are kept per address for the whole
// load, so a picture shown twice, or a page framing itself, is fetched once.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace html {

struct FetchLimits {
    std::chrono::milliseconds connectTimeout { 10'000 };
    std::chrono::milliseconds transferTimeout { 30'000 };
    std::chrono::milliseconds totalTimeout { 120'000 };
    std::size_t maxTotalBytes = 256u << 20;
    std::size_t maxResources = 2048;
    int maxParallel = 8;
    int maxRedirects = 10;
};

struct FetchRequest {
    std::string url;         // absolute, without fragment
    std::size_t maxBytes = 0; // the body cap for this transfer
    std::string referer;     // the document that asks for it ("" for none)
    bool allowFile = false;  // file: addresses only for pages that are files themselves
};

struct Fetched {
    enum class Outcome {
        Ok,        // a body arrived (HTTP 2xx, or a file or FTP transfer)
        HttpError, // the server answered with status >= 400; body is its error page
        Failed,    // no answer: host, connection, protocol, address or file trouble
        TooLarge,  // the body passed the transfer's cap or the load's byte budget
        TimedOut,  // the transfer's or the load's time ran out
        Skipped,   // not attempted: the load's limits were reached before it
    };
    Outcome outcome = Outcome::Skipped;
    std::string finalUrl;    // after redirects
    long status = 0;         // HTTP status, 0 for other schemes
    std::string contentType; // as sent, "" when none
    std::string body;
    std::string error;       // one line when outcome is not Ok

    bool ok() const { return outcome == Outcome::Ok; }
};

// Thread: the thread that created it.
class ResourceFetcher {
public:
    explicit ResourceFetcher(const FetchLimits& limits);
    ~ResourceFetcher();
    ResourceFetcher(const ResourceFetcher&) = delete;
    ResourceFetcher& operator=(const ResourceFetcher&) = delete;

    // Fetches every request not fetched before, in parallel, and returns
    // when all have ended.
    void FetchAll(const std::vector<FetchRequest>& requests);

    // The result for an address passed to FetchAll (a Skipped result for
    // any other).
    const Fetched& Result(const std::string& url) const;

    // Bytes received so far in this load.
    std::size_t totalBytes() const { return m_totalBytes; }
    bool deadlinePassed() const;
    // Time left until the load's deadline (zero once it has passed).
    std::chrono::milliseconds remaining() const;

private:
    struct Transfer;
    void Finish(Transfer& t, int curlCode);

    FetchLimits m_limits;
    std::chrono::steady_clock::time_point m_deadline;
    std::size_t m_totalBytes = 0;
    std::unordered_map<std::string, Fetched> m_results;
    void* m_share = nullptr; // CURLSH: cookies and DNS shared by the load's transfers
};

} // namespace html
