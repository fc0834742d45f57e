#include "webui/UiServer.h"

#include "grabber/ModuleResources.h"

#include <httplib.h>
#include <sys/random.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>

namespace webui {

using nlohmann::json;

namespace {

// The dialog pages are HTML that the system writes from the grabbed page's
// content, and the shell page runs inline script (its own block, the
// onunload attribute, the dialog script's handlers), so inline script has
// to be allowed; what keeps a hostile page's text from becoming script is
// the escaping of the stylesheets that build the body. The policy limits
// the damage should that ever fail: scripts only from this server,
// requests only to it, no plug-ins, no <base>, no form posts elsewhere,
// no framing. Pictures may come from anywhere: the dialog shows the
// grabbed page's own pictures, and no-referrer keeps the token from going
// with them.
constexpr const char* kContentSecurityPolicy =
    "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self' 'unsafe-inline'; "
    "img-src * data: blob:; media-src *; connect-src 'self'; frame-src 'self'; object-src 'none'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

constexpr std::size_t kMaxJsonDepth = 16;

bool ConstantTimeEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool IsPageId(std::string_view id)
{
    if (id.empty() || id.size() > 64)
        return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// The body as JSON; bounded nesting so that no page can make the parser
// or the destructor recurse deeply.
std::optional<json> ParseBody(const std::string& body)
{
    bool tooDeep = false;
    json value = json::parse(
        body,
        [&](int depth, json::parse_event_t, json&) {
            if (static_cast<std::size_t>(depth) > kMaxJsonDepth)
                tooDeep = true;
            return !tooDeep;
        },
        false);
    if (tooDeep || value.is_discarded())
        return std::nullopt;
    return value;
}

void Refuse(httplib::Response& res, int status)
{
    res.status = status;
    res.set_content(status == 404 ? "Not found\n" : "Forbidden\n", "text/plain; charset=utf-8");
}

} // namespace

std::string UiServer::RandomHex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t n = ::getrandom(raw.data() + got, bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // No randomness means no secret: better no server than a
            // guessable one.
            std::abort();
        }
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes * 2);
    for (unsigned char c : raw) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

UiServer::UiServer() : UiServer(Options {}) { }

UiServer::UiServer(Options options)
    : m_options(options)
    , m_server(std::make_unique<httplib::Server>())
    , m_token(RandomHex(32))
{
    if (m_options.threads < 8)
        m_options.threads = 8;
}

UiServer::~UiServer()
{
    Stop();
}

std::string UiServer::Origin() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

bool UiServer::Start()
{
    if (m_thread.joinable())
        return true;
    const int threads = m_options.threads;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    // Without it every synchronous call waits for the delayed ACK: about
    // 30 ms a call instead of 3.
    m_server->set_tcp_nodelay(true);
    m_server->set_payload_max_length(m_options.maxBody);
    m_server->set_keep_alive_max_count(1000);
    m_server->set_keep_alive_timeout(3);
    m_server->set_read_timeout(30, 0);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    Routes();
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // The socket already listens, so early connections queue; this only
    // makes Stop right after Start well-defined.
    for (int i = 0; i < 500 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

void UiServer::Stop()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable()) {
        // Requests still being served may wait for calls sent to this very
        // thread (a page's last call racing the dialog's end); the thread
        // keeps taking them while the workers finish.
        auto loop = ui::MessageLoop::CurrentRef();
        std::atomic<bool> joined { false };
        std::thread joiner([&] {
            m_thread.join();
            joined = true;
            loop->Wake();
        });
        loop->RunUntil([&] { return joined.load(); });
        joiner.join();
    }
    std::map<std::string, std::shared_ptr<PageSession>, std::less<>> pages;
    {
        std::lock_guard lock(m_pagesMutex);
        pages.swap(m_pages);
    }
}

void UiServer::AddPage(std::shared_ptr<PageSession> page)
{
    std::lock_guard lock(m_pagesMutex);
    const std::string id = page->Id();
    m_pages[id] = std::move(page);
}

void UiServer::RemovePage(const std::string& id)
{
    std::shared_ptr<PageSession> gone;
    std::lock_guard lock(m_pagesMutex);
    if (auto it = m_pages.find(id); it != m_pages.end()) {
        gone = std::move(it->second);
        m_pages.erase(it);
    }
}

std::shared_ptr<PageSession> UiServer::FindPage(const std::string& id) const
{
    std::lock_guard lock(m_pagesMutex);
    auto it = m_pages.find(id);
    return it == m_pages.end() ? nullptr : it->second;
}

void UiServer::Routes()
{
    const std::string port = std::to_string(m_port);
    const std::array<std::string, 2> hosts { "127.0.0.1:" + port, "localhost:" + port };
    const std::array<std::string, 2> origins { "http://" + hosts[0], "http://" + hosts[1] };

    m_server->set_pre_routing_handler([this, hosts, origins](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        // Another name for this address is a DNS rebinding attempt.
        const std::string host = req.get_header_value("Host");
        if (host != hosts[0] && host != hosts[1]) {
            Refuse(res, 403);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_header("Origin")) {
            const std::string origin = req.get_header_value("Origin");
            if (origin != origins[0] && origin != origins[1]) {
                Refuse(res, 403);
                return httplib::Server::HandlerResponse::Handled;
            }
        } else if (req.method != "GET" && req.method != "HEAD") {
            // Browsers send an Origin with every POST; one without comes
            // from no page of ours.
            Refuse(res, 403);
            return httplib::Server::HandlerResponse::Handled;
        }
        // Firefox marks the windows an extension opens as cross-site
        // navigations; a top-level page load is allowed in (the token still
        // guards the path), nothing else from another site is.
        const bool pageLoad = req.method == "GET" && req.get_header_value("Sec-Fetch-Mode") == "navigate"
            && req.get_header_value("Sec-Fetch-Dest") == "document";
        if (req.get_header_value("Sec-Fetch-Site") == "cross-site" && !pageLoad) {
            Refuse(res, 403);
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string_view path = req.path;
        if (path.size() < m_token.size() + 2 || path[0] != '/' || path[m_token.size() + 1] != '/'
            || !ConstantTimeEqual(path.substr(1, m_token.size()), m_token)) {
            Refuse(res, 404);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(res.status == 404 ? "Not found\n" : "Error\n", "text/plain; charset=utf-8");
    });

    const std::string base = "/" + m_token;
    m_server->Get(base + R"(/res/(?:([A-Za-z_]{1,16}|[0-9]{1,5})/)?([0-9]{1,9}))",
                  [this](const httplib::Request& req, httplib::Response& res) {
        const std::string type = req.matches[1].matched ? req.matches[1].str() : std::string("HTML");
        int id = 0;
        const std::string idText = req.matches[2].str();
        std::from_chars(idText.data(), idText.data() + idText.size(), id);
        const auto resource = resources::FindResource(type, id);
        if (!resource) {
            Refuse(res, 404);
            return;
        }
        std::string body(resource->bytes);
        if (resource->type == "HTML") {
            res.set_header("Content-Security-Policy", kContentSecurityPolicy);
            // The shell page gets its window.external from the one script
            // tag the server adds, for the page that asked.
            const std::string page = req.get_param_value("page");
            if (IsPageId(page)) {
                const std::string tag = "<script src=\"" + PageBase(page) + "bridge.js\"></script>\r\n";
                if (const auto head = body.find("<head>\r\n"); head != std::string::npos)
                    body.insert(head + 8, tag);
            }
        }
        res.set_content(std::move(body), std::string(resource->mimeType));
    });

    m_server->Get(base + R"(/p/([0-9a-f]{1,64})/([A-Za-z0-9_.-]{1,64}))",
                  [this](const httplib::Request& req, httplib::Response& res) {
        auto page = FindPage(req.matches[1].str());
        std::optional<PageSession::Served> served;
        if (page)
            served = page->Get(req.matches[2].str());
        if (!served) {
            Refuse(res, 404);
            return;
        }
        if (served->contentType.starts_with("text/html"))
            res.set_header("Content-Security-Policy", kContentSecurityPolicy);
        res.set_content(std::move(served->body), served->contentType);
    });

    m_server->Post(base + R"(/p/([0-9a-f]{1,64})/([a-z]{1,32}))",
                   [this](const httplib::Request& req, httplib::Response& res) {
        auto page = FindPage(req.matches[1].str());
        if (!page) {
            // A page of a dialog that has gone: it is told to close.
            res.status = 410;
            res.set_content(R"({"gone":true,"error":{"hresult":2147483658,"message":"The dialog has closed."},)"
                            R"("commands":[{"close":true}]})",
                            "application/json");
            return;
        }
        auto body = req.body.empty() ? std::optional<json>(json::object()) : ParseBody(req.body);
        if (!body) {
            res.status = 400;
            res.set_content(R"({"error":{"hresult":2147942487,"message":"bad request"}})", "application/json");
            return;
        }
        int status = 200;
        json answer;
        try {
            answer = page->Post(req.matches[2].str(), *body, status);
        } catch (const std::exception&) {
            // A field of the wrong type in the page's request.
            status = 400;
            answer = json { { "error", { { "hresult", 0x80070057u }, { "message", "bad request" } } } };
        }
        res.status = status;
        res.set_content(answer.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
    });
}

} // namespace webui
