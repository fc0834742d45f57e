#pragma once
// One page that the UI server shows in a browser window: the grab dialog's
// shell page, the progress list, a message box, a folder picker. The server
// routes the page's requests here by the page's id; subclasses add what
// the page asks for.
//
// Every session watches whether its page is still there: the page calls
// in (requests, a heartbeat every two seconds), says goodbye with a beacon
// on `pagehide`, and a page whose calls stop is taken as closed. A page
// blocked in a long synchronous call sends no heartbeat, so time spent
// inside calls never counts.
//
// Thread: the request handlers on the server's threads; Watch, Close and
// the gone callback on the UI thread of the session's dialog.
#include "platform/ui/MessageLoop.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webui {

class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    using Clock = std::chrono::steady_clock;

    struct Timing {
        // How long the page may take to call in for the first time (the
        // browser starting); zero waits for ever (the address was printed).
        Clock::duration firstContact = std::chrono::seconds(60);
        // Silence after which a page is taken as gone.
        Clock::duration silence = std::chrono::seconds(10);
        // After the page said goodbye: the time a reload has to come back.
        Clock::duration reloadGrace = std::chrono::seconds(3);
        Clock::duration checkEvery = std::chrono::milliseconds(250);
    };

    // A GET answer: body and content type.
    struct Served {
        std::string body;
        std::string contentType;
    };

    explicit PageSession(std::string id);
    virtual ~PageSession();

    const std::string& Id() const { return m_id; }

    // A request of the page, POST <base>/<verb> with a JSON body. The
    // common verbs ("heartbeat", "closed") are handled here; the answer
    // carries the page's pending commands. Thread: server.
    [[nodiscard]] nlohmann::json Post(std::string_view verb, const nlohmann::json& body, int& status);
    // GET <base>/<name>. Thread: server.
    [[nodiscard]] virtual std::optional<Served> Get(std::string_view name);

    // Queues a command for the page ({"resize":[w,h]}, {"close":true}); it
    // goes with the next answer. Thread: any.
    void QueueCommand(nlohmann::json command);

    // Starts watching on `loop` (the UI thread's): `gone` runs there once,
    // when the page is taken as gone. Thread: the loop's.
    void Watch(std::shared_ptr<ui::MessageLoop> loop, Timing timing, std::function<void()> gone);
    // The page's window is no longer wanted: the watch stops, the page is
    // told to close, requests get "gone" answers. Thread: the watch's loop.
    virtual void Close();
    [[nodiscard]] bool IsClosed() const { return m_closed.load(); }
    [[nodiscard]] bool EverContacted() const { return m_contacted.load(); }

protected:
    // Verbs of the subclass; status 404 when unknown. Thread: server.
    [[nodiscard]] virtual nlohmann::json Handle(std::string_view verb, const nlohmann::json& body, int& status);
    // Makes a long request (a dispatch call) not count as silence.
    struct InFlight {
        explicit InFlight(PageSession& s);
        ~InFlight();
        PageSession& session;
    };

private:
    void Touch();
    void Check();
    [[nodiscard]] std::vector<nlohmann::json> TakeCommands();

    const std::string m_id;
    std::atomic<bool> m_closed { false };
    std::atomic<bool> m_contacted { false };
    std::atomic<int> m_inFlight { 0 };

    // Contact times are written by server threads and read by the watch.
    mutable std::mutex m_mutex;
    Clock::time_point m_created;
    Clock::time_point m_lastContact;
    std::optional<Clock::time_point> m_goodbye;
    std::vector<nlohmann::json> m_commands;

    // Watch state: the loop's thread only.
    std::shared_ptr<ui::MessageLoop> m_loop;
    Timing m_timing;
    std::function<void()> m_gone;
    ui::MessageLoop::TimerId m_timer = 0;
};

} // namespace webui
