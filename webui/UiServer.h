#pragma once
// The loopback UI server: the browser side of every window the system
// shows. It listens on 127.0.0.1 at a random port, and every path starts
// with a per-run secret token, so only the pages it hands out can reach it:
//
//   /<token>/res/<type>/<id>, /<token>/res/<id>  the module's resources
//                                                ("res://<module>/..." addresses)
//   /<token>/bridge.js?page=<id>                 window.external for the shell page
//   GET  /<token>/p/<page>/<name>                a page's own documents
//   POST /<token>/p/<page>/<verb>                a page's requests (JSON)
//
// Requests without the token get 404; a Host other than the server's own
// address, or an Origin other than its own (POST requires one), get 403.
// Every answer forbids caching and framing; HTML pages carry a content
// security policy (see UiServer.cpp for what it allows and why).
//
// Thread: any. Requests are served on a pool of threads, so a request that
// waits for a long call (the progress dialog inside StartDownloading)
// never holds up another window's requests.
#include "webui/PageSession.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace webui {

class UiServer {
public:
    struct Options {
        int threads = 32;                              // >= 8: a blocked call must not starve the others
        std::size_t maxBody = 32 * 1024 * 1024;        // SaveInplace carries whole edited texts
    };

    UiServer();
    explicit UiServer(Options options);
    ~UiServer();
    UiServer(const UiServer&) = delete;
    UiServer& operator=(const UiServer&) = delete;

    // Binds and starts serving; false when no port could be bound.
    [[nodiscard]] bool Start();
    // Stops serving and waits for the serving thread. Idempotent.
    void Stop();

    [[nodiscard]] int Port() const { return m_port; }
    [[nodiscard]] const std::string& Token() const { return m_token; }
    // "http://127.0.0.1:<port>"
    [[nodiscard]] std::string Origin() const;
    // "/<token>/"
    [[nodiscard]] std::string Base() const { return "/" + m_token + "/"; }
    // The server path a "res://<module>/" prefix maps to: "/<token>/res/".
    [[nodiscard]] std::string ResBase() const { return Base() + "res/"; }
    // Base of a page's own paths: "/<token>/p/<id>/".
    [[nodiscard]] std::string PageBase(const std::string& id) const { return Base() + "p/" + id + "/"; }

    // Registers a session under its id; replaced when one exists.
    void AddPage(std::shared_ptr<PageSession> page);
    void RemovePage(const std::string& id);
    [[nodiscard]] std::shared_ptr<PageSession> FindPage(const std::string& id) const;

    // A fresh random identifier: `bytes` random bytes as lower-case hex.
    [[nodiscard]] static std::string RandomHex(std::size_t bytes);

private:
    void Routes();

    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::string m_token;
    int m_port = 0;

    mutable std::mutex m_pagesMutex;
    std::map<std::string, std::shared_ptr<PageSession>, std::less<>> m_pages;
};

} // namespace webui
