#pragma once
// The web view: the system's windows as pages of the UI server in the
// user's browser.
//
// - The grab dialog opens its shell page (the "res:" address of the dialog's
//   browser host) in a browser window; the page's window.external reaches
//   the grabber object through the server. The dialog stays modal until
//   the page calls Exit or its window goes away. SetDlgSize resizes the
//   window (the browser lets a script resize an app window it opened).
// - The progress dialog gets a top-level window of its own, started by the
//   host (see WebSavingUrlsView).
// - Message boxes are printed to standard error and shown in a small
//   window of their own; the call waits for an answer there. With no
//   browser to show them, the printed text is all, and the box answers as
//   if closed.
// - The folder picker and the file picker are one page of the server
//   listing folders (and files).
// - Dialogs this view has no page for are closed at once, as without a
//   view.
//
// Thread: the UI thread that shows the dialogs.
#include "platform/com/ComPtr.h"
#include "platform/ui/View.h"
#include "webui/BrowserLauncher.h"
#include "webui/ModalPageSession.h"
#include "webui/PageSession.h"
#include "webui/UiServer.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace QVSaveProcessors {
class ISavingUrlsView;
}

namespace webui {

struct ModelDialogShowing;

class WebView final : public ui::IView, public std::enable_shared_from_this<WebView> {
public:
    struct Options {
        Launcher launcher;          // empty: SystemLauncher()
        PageSession::Timing timing; // page watch; first contact unlimited for printed addresses
        // Tests: what the page gets as window.external instead of the
        // grabber object itself (a wrapper around it).
        std::function<ComPtr<IDispatch>(ComPtr<IDispatch>)> wrapExternal;
        // Where pickers start (a file picker with no usable initial
        // file too); empty: the home folder.
        std::string pickerStart;
    };

    WebView(std::shared_ptr<UiServer> server, Options options);
    ~WebView() override;

    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override;
    void DialogShown(ui::Dialog& dialog) override;
    void DialogClosed(ui::Dialog& dialog) override;
    void DialogResized(ui::Dialog& dialog) override;
    std::optional<std::string> BrowseForFolder(ui::Dialog* owner, std::string_view title) override;
    std::optional<std::string> OpenFile(ui::Dialog* owner, std::string_view title, std::string_view filter,
                                        std::string_view initialFile) override;
    bool ShellOpen(std::string_view target) override;

    // A progress list view for CSavingUrlsDialog, to install with
    // SetSavingUrlsViewFactory.
    [[nodiscard]] std::unique_ptr<QVSaveProcessors::ISavingUrlsView> CreateSavingUrlsView();

    // Opens a window for one of the server's pages, at the next nesting
    // level; closing (or destroying) the result takes the level back.
    [[nodiscard]] std::unique_ptr<BrowserWindow> OpenWindow(WindowRequest request);

    [[nodiscard]] const std::shared_ptr<UiServer>& Server() const { return m_server; }
    [[nodiscard]] const Options& GetOptions() const { return m_options; }

private:
    struct Shown {
        std::shared_ptr<PageSession> session;
        std::unique_ptr<BrowserWindow> window;
    };

    // Shows a one-question page and runs a modal loop until it answers.
    void RunModalPage(const std::shared_ptr<ModalPageSession>& session, WindowRequest request, int dismissId);
    [[nodiscard]] std::optional<std::string> RunPicker(PickerSession::Request request);
    [[nodiscard]] std::string PickerStart() const;

    std::shared_ptr<UiServer> m_server;
    Options m_options;
    std::map<ui::Dialog*, Shown> m_shown;
    // The options and about pages: dialogs described as controls.
    std::map<ui::Dialog*, std::shared_ptr<ModelDialogShowing>> m_models;
    std::shared_ptr<std::atomic<int>> m_openWindows = std::make_shared<std::atomic<int>>(0);
};

} // namespace webui
