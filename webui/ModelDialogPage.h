#pragma once
// The options and about dialogs (any CDialogModel) as pages of the UI
// server: the page draws the dialog template's controls at their places,
// polls the dialog's state (so the enable timer's changes show), and
// reports the user's typing, clicks, help requests and closing.
//
// Every request reaches the dialog on its own UI thread, through its
// message loop; requests that arrive after the dialog has closed change
// nothing.
//
// Thread: the session's requests on the server's threads; ShowModelDialog
// and ModelDialogShowing::Close on the dialog's UI thread.
#include "webui/PageSession.h"
#include "webui/WebView.h"

#include <memory>
#include <string>

class CDialogModel;

namespace webui {

class ModelDialogSession final : public PageSession {
public:
    // Pixels per dialog unit of the templates' 8-point dialog font.
    static constexpr double kUnitX = 1.5;
    static constexpr double kUnitY = 1.625;

    ModelDialogSession(std::string id, std::shared_ptr<ui::MessageLoop> loop, CDialogModel& dialog);

    std::optional<Served> Get(std::string_view name) override;
    // Also forgets the dialog. Thread: the dialog's.
    void Close() override;

    // The dialog's state as the page draws it. Thread: the dialog's.
    [[nodiscard]] static nlohmann::json State(const CDialogModel& dialog);

protected:
    nlohmann::json Handle(std::string_view verb, const nlohmann::json& body, int& status) override;

private:
    std::shared_ptr<ui::MessageLoop> m_loop;
    CDialogModel* m_dialog; // the dialog's thread only; null once closed
};

// A model dialog shown through the web view: its page and its window.
struct ModelDialogShowing {
    std::shared_ptr<ModelDialogSession> session;
    std::unique_ptr<BrowserWindow> window;
    std::shared_ptr<UiServer> server;
    // Takes the page down (DialogClosed). Idempotent.
    void Close();
};

// Opens the dialog's page in a window one level above the windows open
// now (the owner's page stays behind it); the dialog closes when the
// page's window goes. Call from IView::DialogShown.
[[nodiscard]] ModelDialogShowing ShowModelDialog(WebView& view, CDialogModel& dialog);

// The page and its script.
[[nodiscard]] std::string ModelDialogHtml();
[[nodiscard]] std::string ModelDialogScript();

} // namespace webui
