#pragma once
// The grab dialog's page: its window.external requests, marshalled onto
// the grab run's thread, where they run inside the dialog's modal loop
// (and inside any modal loop nested in it) as the old in-process calls did.
//
// Thread: requests on the server's threads; Close on the grab run's thread.
#include "platform/com/ComPtr.h"
#include "platform/ui/MessageLoop.h"
#include "webui/DispatchBridge.h"
#include "webui/PageSession.h"

#include <memory>
#include <string>

namespace webui {

class DialogSession final : public PageSession {
public:
    struct Setup {
        std::shared_ptr<ui::MessageLoop> loop; // the grab run's thread
        ComPtr<IDispatch> external;            // the page's window.external
        std::string resPrefix;                 // "res://<module>/", or empty
        std::string resBase;                   // the server's resource path
        std::string pageBase;                  // "/<token>/p/<id>/"
        std::string caption;                   // the window's title
    };

    DialogSession(std::string id, Setup setup);
    ~DialogSession() override;

    std::optional<Served> Get(std::string_view name) override;
    // Releases every object the page held. Thread: the grab run's.
    void Close() override;

protected:
    nlohmann::json Handle(std::string_view verb, const nlohmann::json& body, int& status) override;

private:
    std::shared_ptr<ui::MessageLoop> m_loop;
    std::string m_pageBase;
    std::string m_caption;
    // The grab run's thread only (every use is sent there).
    std::unique_ptr<DispatchBridge> m_bridge;
};

} // namespace webui
