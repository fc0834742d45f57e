#include "platform/html/ResourceFetcher.h"

#include "platform/html/Url.h"

#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <mutex>

namespace html {

namespace {

constexpr const char* kUserAgent = "Mozilla/5.0 (compatible; Quillory)";

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Describe(std::chrono::milliseconds ms)
{
    if (ms.count() % 1000 == 0)
        return std::to_string(ms.count() / 1000) + " s";
    return std::to_string(ms.count()) + " ms";
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+' || c == '-')
        return 62;
    if (c == '/' || c == '_')
        return 63;
    return -1;
}

// RFC 2397 data: addresses carry their bytes in the address itself.
Fetched FetchDataUrl(const FetchRequest& r)
{
    Fetched f;
    f.finalUrl = r.url;
    std::size_t comma = r.url.find(',');
    if (comma == std::string::npos) {
        f.outcome = Fetched::Outcome::Failed;
        f.error = "malformed data: address";
        return f;
    }
    std::string meta = r.url.substr(5, comma - 5);
    bool base64 = meta.size() >= 7 && meta.compare(meta.size() - 7, 7, ";base64") == 0;
    if (base64)
        meta.resize(meta.size() - 7);
    f.contentType = meta.empty() ? "text/plain;charset=US-ASCII" : PercentDecode(meta);
    std::string data = PercentDecode(std::string_view(r.url).substr(comma + 1));
    if (!base64) {
        f.body = std::move(data);
    } else {
        unsigned acc = 0;
        int bits = 0;
        for (char c : data) {
            int v = Base64Value(c);
            if (v < 0)
                continue; // white space and padding
            acc = (acc << 6) | static_cast<unsigned>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                f.body.push_back(static_cast<char>((acc >> bits) & 0xFF));
            }
        }
    }
    if (f.body.size() > r.maxBytes) {
        f.body.clear();
        f.outcome = Fetched::Outcome::TooLarge;
        f.error = "larger than " + std::to_string(r.maxBytes) + " bytes";
        return f;
    }
    f.outcome = Fetched::Outcome::Ok;
    return f;
}

} // namespace

struct ResourceFetcher::Transfer {
    ResourceFetcher* owner = nullptr;
    CURL* easy = nullptr;
    Fetched* result = nullptr;
    std::size_t maxBytes = 0;
    std::chrono::milliseconds timeout { 0 };
    bool capHit = false;
    bool budgetHit = false;
    std::string reason; // reason phrase of the last status line
    char errorBuffer[CURL_ERROR_SIZE] = {};

    static size_t Write(char* data, size_t size, size_t count, void* self)
    {
        auto* t = static_cast<Transfer*>(self);
        std::size_t n = size * count;
        if (t->result->body.size() + n > t->maxBytes) {
            t->capHit = true;
            return 0;
        }
        if (t->owner->m_totalBytes + n > t->owner->m_limits.maxTotalBytes) {
            t->budgetHit = true;
            return 0;
        }
        try {
            t->result->body.append(data, n);
        } catch (...) {
            t->budgetHit = true; // no exception crosses into libcurl
            return 0;
        }
        t->owner->m_totalBytes += n;
        return n;
    }

    static size_t Header(char* data, size_t size, size_t count, void* self)
    {
        auto* t = static_cast<Transfer*>(self);
        std::size_t n = size * count;
        std::string_view line(data, n);
        if (line.rfind("HTTP/", 0) == 0) {
            // "HTTP/1.1 404 Not Found\r\n": keep the phrase of the last response.
            std::size_t sp = line.find(' ');
            std::size_t sp2 = sp == std::string_view::npos ? sp : line.find(' ', sp + 1);
            std::string_view phrase = sp2 == std::string_view::npos ? std::string_view() : line.substr(sp2 + 1);
            while (!phrase.empty() && (phrase.back() == '\r' || phrase.back() == '\n'))
                phrase.remove_suffix(1);
            t->reason.assign(phrase.substr(0, 100));
        }
        return n;
    }
};

ResourceFetcher::ResourceFetcher(const FetchLimits& limits)
    : m_limits(limits)
    , m_deadline(std::chrono::steady_clock::now() + limits.totalTimeout)
{
    GlobalInit();
    CURLSH* share = curl_share_init();
    if (share) {
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
    m_share = share;
}

ResourceFetcher::~ResourceFetcher()
{
    if (m_share)
        curl_share_cleanup(static_cast<CURLSH*>(m_share));
}

bool ResourceFetcher::deadlinePassed() const
{
    return std::chrono::steady_clock::now() >= m_deadline;
}

std::chrono::milliseconds ResourceFetcher::remaining() const
{
    // Rounded up: a transfer given the time left must not end just before
    // the deadline, when the load would not yet count as cut short.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

const Fetched& ResourceFetcher::Result(const std::string& url) const
{
    static const Fetched kNotFetched = [] {
        Fetched f;
        f.error = "not fetched";
        return f;
    }();
    auto it = m_results.find(url);
    return it == m_results.end() ? kNotFetched : it->second;
}

void ResourceFetcher::FetchAll(const std::vector<FetchRequest>& requests)
{
    std::deque<const FetchRequest*> queue;
    for (const FetchRequest& r : requests) {
        if (m_results.count(r.url))
            continue;
        Fetched& f = m_results[r.url];
        f.finalUrl = r.url;
        std::string scheme = SchemeOf(r.url);
        if (m_results.size() > m_limits.maxResources) {
            f.error = "more than " + std::to_string(m_limits.maxResources) + " resources in the page";
        } else if (scheme == "data") {
            f = FetchDataUrl(r);
        } else if (scheme == "file" && !r.allowFile) {
            f.outcome = Fetched::Outcome::Failed;
            f.error = "a page from the network may not read local files";
        } else if (scheme != "http" && scheme != "https" && scheme != "ftp" && scheme != "file") {
            f.outcome = Fetched::Outcome::Failed;
            f.error = "unsupported address scheme \"" + scheme + "\"";
        } else {
            queue.push_back(&r);
        }
    }
    if (queue.empty())
        return;

    CURLM* multi = curl_multi_init();
    if (!multi) {
        for (const FetchRequest* r : queue) {
            m_results[r->url].outcome = Fetched::Outcome::Failed;
            m_results[r->url].error = "cannot start a transfer";
        }
        return;
    }
    std::vector<std::unique_ptr<Transfer>> running;

    auto start = [&](const FetchRequest& r) {
        Fetched& f = m_results[r.url];
        auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now()); // see remaining()
        if (left.count() <= 0) {
            f.outcome = Fetched::Outcome::Skipped;
            f.error = "the load's time limit of " + Describe(m_limits.totalTimeout) + " was reached";
            return;
        }
        auto t = std::make_unique<Transfer>();
        t->owner = this;
        t->result = &f;
        t->maxBytes = r.maxBytes;
        t->timeout = std::min(m_limits.transferTimeout, left);
        t->easy = curl_easy_init();
        if (!t->easy) {
            f.outcome = Fetched::Outcome::Failed;
            f.error = "cannot start a transfer";
            return;
        }
        CURL* e = t->easy;
        curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
        curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, r.allowFile ? "http,https,ftp,file" : "http,https,ftp");
        // A server must never send the loader into local files.
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(m_limits.maxRedirects));
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::min(m_limits.connectTimeout, t->timeout).count()));
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(t->timeout.count()));
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(r.maxBytes));
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
        if (m_share)
            curl_easy_setopt(e, CURLOPT_SHARE, static_cast<CURLSH*>(m_share));
        if (!r.referer.empty() && SchemeOf(r.referer) != "file")
            curl_easy_setopt(e, CURLOPT_REFERER, StripFragment(r.referer).c_str());
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::Write);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::Header);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
        if (curl_multi_add_handle(multi, e) != CURLM_OK) {
            curl_easy_cleanup(e);
            f.outcome = Fetched::Outcome::Failed;
            f.error = "cannot start a transfer";
            return;
        }
        running.push_back(std::move(t));
    };

    auto topUp = [&] {
        while (!queue.empty() && static_cast<int>(running.size()) < std::max(1, m_limits.maxParallel)) {
            const FetchRequest* r = queue.front();
            queue.pop_front();
            start(*r);
        }
    };

    topUp();
    while (!running.empty()) {
        int stillRunning = 0;
        curl_multi_perform(multi, &stillRunning);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            Transfer* t = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
            int code = msg->data.result;
            curl_multi_remove_handle(multi, msg->easy_handle);
            Finish(*t, code);
            curl_easy_cleanup(t->easy);
            running.erase(std::find_if(running.begin(), running.end(), [t](const auto& p) { return p.get() == t; }));
        }
        topUp();
        if (!running.empty())
            curl_multi_poll(multi, nullptr, 0, 200, nullptr);
    }
    curl_multi_cleanup(multi);
}

void ResourceFetcher::Finish(Transfer& t, int curlCode)
{
    Fetched& f = *t.result;
    CURL* e = t.easy;
    char* url = nullptr;
    if (curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url)
        f.finalUrl = url;
    char* type = nullptr;
    if (curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        f.contentType = type;
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    std::string scheme = SchemeOf(f.finalUrl);
    f.status = (scheme == "http" || scheme == "https") ? status : 0;

    auto code = static_cast<CURLcode>(curlCode);
    if (code == CURLE_OK) {
        if (f.status >= 400) {
            f.outcome = Fetched::Outcome::HttpError;
            f.error = "HTTP status " + std::to_string(f.status) + (t.reason.empty() ? "" : " (" + t.reason + ")");
        } else {
            f.outcome = Fetched::Outcome::Ok;
        }
        return;
    }
    f.body.clear();
    f.body.shrink_to_fit();
    if (t.capHit || code == CURLE_FILESIZE_EXCEEDED) {
        f.outcome = Fetched::Outcome::TooLarge;
        f.error = "larger than " + std::to_string(t.maxBytes) + " bytes";
        return;
    }
    if (t.budgetHit) {
        f.outcome = Fetched::Outcome::TooLarge;
        f.error = "the load's byte budget of " + std::to_string(m_limits.maxTotalBytes) + " bytes was used up";
        return;
    }
    std::string detail = t.errorBuffer[0] ? t.errorBuffer : curl_easy_strerror(code);
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        f.outcome = Fetched::Outcome::TimedOut;
        f.error = "no complete answer within " + Describe(t.timeout);
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        f.outcome = Fetched::Outcome::Failed;
        f.error = "unknown host: " + detail;
        break;
    case CURLE_COULDNT_CONNECT:
        f.outcome = Fetched::Outcome::Failed;
        f.error = "cannot reach host: " + detail;
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        f.outcome = Fetched::Outcome::Failed;
        f.error = "more than " + std::to_string(m_limits.maxRedirects) + " redirects";
        break;
    case CURLE_URL_MALFORMAT:
        f.outcome = Fetched::Outcome::Failed;
        f.error = "malformed address";
        break;
    case CURLE_UNSUPPORTED_PROTOCOL: {
        long redirects = 0;
        curl_easy_getinfo(e, CURLINFO_REDIRECT_COUNT, &redirects);
        f.outcome = Fetched::Outcome::Failed;
        if (redirects > 0)
            f.error = "redirected to an address that may not be followed: " + f.finalUrl;
        else
            f.error = "unsupported address scheme: " + detail;
        break;
    }
    case CURLE_FILE_COULDNT_READ_FILE:
        f.outcome = Fetched::Outcome::Failed;
        f.error = "cannot read the file: " + detail;
        break;
    default:
        f.outcome = Fetched::Outcome::Failed;
        f.error = detail;
        break;
    }
}

} // namespace html
