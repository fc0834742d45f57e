#include "host/SampleSiteServer.h"

#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace host {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

std::string ContentType(const fs::path& p)
{
    const std::string ext = p.extension().string();
    if (ext == ".html" || ext == ".htm")
        return "text/html; charset=utf-8";
    if (ext == ".css")
        return "text/css; charset=utf-8";
    if (ext == ".js")
        return "text/javascript; charset=utf-8";
    if (ext == ".gif")
        return "image/gif";
    if (ext == ".png")
        return "image/png";
    if (ext == ".jpg" || ext == ".jpeg")
        return "image/jpeg";
    if (ext == ".ico")
        return "image/x-icon";
    if (ext == ".svg")
        return "image/svg+xml";
    if (ext == ".webp")
        return "image/webp";
    if (ext == ".txt")
        return "text/plain; charset=utf-8";
    if (ext == ".swf")
        return "application/x-shockwave-flash";
    return "application/octet-stream";
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

struct SampleSiteServer::Impl {
    fs::path root;
    httplib::Server main;
    httplib::Server other;
    int mainPort = -1;
    int otherPort = -1;
    std::thread mainThread;
    std::thread otherThread;

    void Serve(httplib::Server& server, bool replace)
    {
        server.Get(R"(/.*)", [this, replace](const httplib::Request& req, httplib::Response& res) {
            std::string path = req.path;
            if (path.empty() || path.back() == '/')
                path += "index.html";
            const fs::path relative = fs::path(path).relative_path().lexically_normal();
            // A request may name only a file below the site's folder.
            if (relative.empty() || *relative.begin() == "..") {
                res.status = 404;
                return;
            }
            std::error_code ec;
            const fs::path file = fs::weakly_canonical(root / relative, ec);
            const auto [end, _] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
            if (ec || end != root.end() || !fs::is_regular_file(file, ec) || fs::file_size(file, ec) > kMaxFileBytes) {
                res.status = 404;
                return;
            }
            std::ifstream in(file, std::ios::binary);
            std::ostringstream body;
            body << in.rdbuf();
            std::string text = body.str();
            const std::string ext = file.extension().string();
            if (replace && (ext == ".html" || ext == ".htm" || ext == ".css"))
                ReplaceAll(text, "@OTHER_ORIGIN@", "http://127.0.0.1:" + std::to_string(otherPort));
            res.set_content(std::move(text), ContentType(file));
        });
    }
};

SampleSiteServer::SampleSiteServer(fs::path root) : m_impl(std::make_unique<Impl>())
{
    std::error_code ec;
    m_impl->root = fs::weakly_canonical(root, ec);
}

SampleSiteServer::~SampleSiteServer()
{
    m_impl->main.stop();
    m_impl->other.stop();
    if (m_impl->mainThread.joinable())
        m_impl->mainThread.join();
    if (m_impl->otherThread.joinable())
        m_impl->otherThread.join();
}

bool SampleSiteServer::Start()
{
    m_impl->Serve(m_impl->main, true);
    m_impl->Serve(m_impl->other, false);
    m_impl->otherPort = m_impl->other.bind_to_any_port("127.0.0.1");
    m_impl->mainPort = m_impl->main.bind_to_any_port("127.0.0.1");
    if (m_impl->otherPort <= 0 || m_impl->mainPort <= 0)
        return false;
    // The sockets already listen: a request made before the threads
    // start waits in the backlog.
    m_impl->otherThread = std::thread([this] { m_impl->other.listen_after_bind(); });
    m_impl->mainThread = std::thread([this] { m_impl->main.listen_after_bind(); });
    return true;
}

std::string SampleSiteServer::MainOrigin() const { return "http://127.0.0.1:" + std::to_string(m_impl->mainPort); }
std::string SampleSiteServer::OtherOrigin() const { return "http://127.0.0.1:" + std::to_string(m_impl->otherPort); }

std::optional<fs::path> SampleSiteServer::Find()
{
    std::error_code ec;
    if (const char* env = std::getenv("QUILLORY_SAMPLE_SITE"); env && *env) {
        if (fs::is_regular_file(fs::path(env) / "index.html", ec))
            return fs::path(env);
        return std::nullopt;
    }
    fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    if (ec)
        return std::nullopt;
    for (int up = 0; up <= 4 && !dir.empty(); ++up, dir = dir.parent_path()) {
        for (const fs::path& candidate : { dir / "sample" / "site", dir / "share" / "quillory" / "sample" / "site" }) {
            if (fs::is_regular_file(candidate / "index.html", ec))
                return candidate;
        }
        if (dir == dir.root_path())
            break;
    }
    return std::nullopt;
}

} // namespace host
