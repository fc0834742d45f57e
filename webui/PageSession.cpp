#include "webui/PageSession.h"

namespace webui {

using nlohmann::json;

PageSession::PageSession(std::string id)
    : m_id(std::move(id))
    , m_created(Clock::now())
    , m_lastContact(m_created)
{
}

PageSession::~PageSession() = default;

PageSession::InFlight::InFlight(PageSession& s) : session(s)
{
    ++session.m_inFlight;
}

PageSession::InFlight::~InFlight()
{
    session.Touch();
    --session.m_inFlight;
}

void PageSession::Touch()
{
    std::lock_guard lock(m_mutex);
    m_lastContact = Clock::now();
    m_contacted = true;
}

std::vector<json> PageSession::TakeCommands()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_commands, {});
}

void PageSession::QueueCommand(json command)
{
    std::lock_guard lock(m_mutex);
    // A page that has stopped listening must not make the queue grow: only
    // the latest command of each kind matters.
    const std::string kind = command.is_object() && !command.empty() ? command.begin().key() : std::string();
    std::erase_if(m_commands, [&](const json& c) { return c.is_object() && !c.empty() && c.begin().key() == kind; });
    m_commands.push_back(std::move(command));
}

std::optional<PageSession::Served> PageSession::Get(std::string_view)
{
    return std::nullopt;
}

json PageSession::Handle(std::string_view, const json&, int& status)
{
    status = 404;
    return json::object();
}

json PageSession::Post(std::string_view verb, const json& body, int& status)
{
    status = 200;
    Touch();
    json answer = json::object();
    if (verb == "closed") {
        std::lock_guard lock(m_mutex);
        m_goodbye = Clock::now();
        return answer;
    }
    if (m_closed) {
        // The window is no longer wanted; a page still calling closes itself.
        answer["gone"] = true;
        answer["commands"] = json::array({ json { { "close", true } } });
        if (verb != "heartbeat")
            answer["error"] = { { "hresult", 0x8000000Au }, { "message", "The dialog has closed." } };
        return answer;
    }
    if (verb != "heartbeat")
        answer = Handle(verb, body, status);
    {
        std::lock_guard lock(m_mutex);
        // A request after a goodbye is the reloaded page.
        m_goodbye.reset();
    }
    if (auto commands = TakeCommands(); !commands.empty() && answer.is_object())
        answer["commands"] = std::move(commands);
    return answer;
}

void PageSession::Watch(std::shared_ptr<ui::MessageLoop> loop, Timing timing, std::function<void()> gone)
{
    m_loop = std::move(loop);
    m_timing = timing;
    m_gone = std::move(gone);
    {
        std::lock_guard lock(m_mutex);
        m_created = Clock::now();
    }
    std::weak_ptr<PageSession> weak = weak_from_this();
    m_timer = m_loop->PostDelayed([weak] {
        if (auto self = weak.lock())
            self->Check();
    }, m_timing.checkEvery);
}

void PageSession::Check()
{
    m_timer = 0;
    if (m_closed)
        return;
    const auto now = Clock::now();
    bool gone = false;
    if (m_inFlight.load() == 0) {
        std::lock_guard lock(m_mutex);
        if (m_goodbye && m_lastContact <= *m_goodbye && now - *m_goodbye >= m_timing.reloadGrace)
            gone = true;
        else if (m_contacted && now - m_lastContact >= m_timing.silence)
            gone = true;
        else if (!m_contacted && m_timing.firstContact.count() > 0 && now - m_created >= m_timing.firstContact)
            gone = true;
    }
    if (gone) {
        if (auto callback = std::exchange(m_gone, {}))
            callback();
        return;
    }
    std::weak_ptr<PageSession> weak = weak_from_this();
    m_timer = m_loop->PostDelayed([weak] {
        if (auto self = weak.lock())
            self->Check();
    }, m_timing.checkEvery);
}

void PageSession::Close()
{
    m_closed = true;
    if (m_loop && m_timer)
        m_loop->CancelDelayed(m_timer);
    m_timer = 0;
    m_gone = {};
    QueueCommand(json { { "close", true } });
}

} // namespace webui
