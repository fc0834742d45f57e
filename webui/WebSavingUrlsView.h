#pragma once
// The progress dialog's list as a page in a top-level browser window of
// its own, started by the host: a window that the waiting dialog page
// opened itself would share that page's renderer, which is blocked in the
// StartDownloading call. Rows change live: the page asks for the rows that
// changed since its last look, at most about ten times a second, and the
// server holds the question until something changes.
//
// The page's "Close" button is the dialog's Close (result 1); its window
// going away is the window's close command (result 2).
//
// Thread: the dialog's thread (the ISavingUrlsView calls); the page's
// requests are answered on the server's threads from a copy of the rows.
#include "saveprocessors/SavingUrlsView.h"
#include "webui/BrowserLauncher.h"

#include <memory>

namespace webui {

class WebView;
class ProgressSession;

class WebSavingUrlsView final : public QVSaveProcessors::ISavingUrlsView {
public:
    // Size of dialog 107 (391 x 209 dialog units) in pixels.
    static constexpr int kWidth = 391 * 6 / 4;
    static constexpr int kHeight = 209 * 13 / 8;

    explicit WebSavingUrlsView(std::shared_ptr<WebView> view);
    ~WebSavingUrlsView() override;

    void Opened(QVSaveProcessors::CSavingUrlsDialog& dialog) override;
    void RowInserted(std::size_t row) override;
    void CellChanged(std::size_t row, int column) override;
    void RowFinished(std::size_t row) override;
    void EventsHandled() override;
    void Closed() override;

private:
    void CopyRow(std::size_t row);

    std::shared_ptr<WebView> m_view;
    QVSaveProcessors::CSavingUrlsDialog* m_dialog = nullptr;
    std::shared_ptr<ProgressSession> m_session;
    std::unique_ptr<BrowserWindow> m_window;
};

} // namespace webui
