#include "webui/DialogSession.h"

#include "webui/WebPages.h"

namespace webui {

using nlohmann::json;

DialogSession::DialogSession(std::string id, Setup setup)
    : PageSession(std::move(id))
    , m_loop(std::move(setup.loop))
    , m_pageBase(std::move(setup.pageBase))
    , m_caption(std::move(setup.caption))
    , m_bridge(std::make_unique<DispatchBridge>(std::move(setup.external), std::move(setup.resPrefix),
                                                std::move(setup.resBase)))
{
}

DialogSession::~DialogSession()
{
    // The objects belong to the grab run's thread; normally Close has
    // released them there already.
    if (m_bridge && m_loop && !m_loop->IsLoopThread()) {
        auto bridge = std::shared_ptr<DispatchBridge>(std::move(m_bridge));
        if (!m_loop->Post([bridge] { bridge->Clear(); }))
            bridge->Clear();
    }
}

std::optional<PageSession::Served> DialogSession::Get(std::string_view name)
{
    if (name == "bridge.js")
        return Served { BridgeScript(m_pageBase, m_caption), "text/javascript; charset=utf-8" };
    if (name == "dialog.html")
        return Served { BlankDialogPage(m_pageBase), "text/html; charset=utf-8" };
    return std::nullopt;
}

void DialogSession::Close()
{
    PageSession::Close();
    if (m_bridge)
        m_bridge->Clear();
}

json DialogSession::Handle(std::string_view verb, const json& body, int& status)
{
    if (verb == "dispatch") {
        // A closed dialog's thread may no longer run a loop to take the call.
        if (IsClosed())
            return ErrorAnswer(E_PENDING, "window.external: the dialog has closed; the call");
        InFlight busy(*this);
        json answer;
        const bool ran = m_loop->Send([&] {
            // Nothing thrown here may unwind the grab run's modal loop.
            try {
                if (IsClosed() || !m_bridge)
                    answer = ErrorAnswer(E_PENDING, "window.external: the dialog has closed; the call");
                else
                    answer = m_bridge->Handle(body);
            } catch (const std::exception&) {
                answer = ErrorAnswer(E_INVALIDARG, "window.external");
            }
        });
        if (!ran)
            return ErrorAnswer(E_PENDING, "window.external: the grab has ended; the call");
        return answer;
    }
    if (verb == "release") {
        // Objects are released on their own thread, without making the
        // page wait.
        std::weak_ptr<PageSession> weak = weak_from_this();
        json handles = body.value("handles", json::array());
        m_loop->Post([weak, handles = std::move(handles)] {
            if (auto self = std::static_pointer_cast<DialogSession>(weak.lock()); self && self->m_bridge)
                self->m_bridge->Release(handles);
        });
        return json::object();
    }
    status = 404;
    return json::object();
}

} // namespace webui
