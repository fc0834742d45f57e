#include "webui/WebSavingUrlsView.h"

#include "saveprocessors/SavingUrlsDialog.h"
#include "webui/PageSession.h"
#include "webui/WebPages.h"
#include "webui/WebView.h"

#include <condition_variable>
#include <vector>

namespace webui {

using nlohmann::json;
using QVSaveProcessors::CSavingUrlsDialog;

// The rows as the page sees them, with a version per row so that a poll
// carries only what changed.
class ProgressSession final : public PageSession {
public:
    static constexpr auto kPollWait = std::chrono::seconds(5);

    ProgressSession(std::string id, ui::Dialog* dialog) : PageSession(std::move(id)), m_dialog(dialog) { }

    void SetRow(std::size_t row, std::array<std::string, CSavingUrlsDialog::ColumnCount> cells, bool finished)
    {
        std::lock_guard lock(m_mutex);
        if (row >= m_rows.size())
            m_rows.resize(row + 1);
        m_rows[row] = Row { std::move(cells), finished, ++m_version };
    }
    void Publish() { m_changed.notify_all(); }

    void Close() override
    {
        PageSession::Close();
        {
            std::lock_guard lock(m_mutex);
            m_dialog = nullptr;
            m_closed = true;
        }
        m_changed.notify_all();
    }

    std::optional<Served> Get(std::string_view name) override
    {
        if (name == "progress.html")
            return Served { ProgressPage({}), "text/html; charset=utf-8" };
        if (name == "page.js")
            return Served { PageRuntimeScript(), "text/javascript; charset=utf-8" };
        if (name == "progress.js")
            return Served { ProgressScript(), "text/javascript; charset=utf-8" };
        return std::nullopt;
    }

protected:
    json Handle(std::string_view verb, const json& body, int& status) override
    {
        if (verb == "poll") {
            InFlight busy(*this);
            const auto since = body.value("since", std::uint64_t { 0 });
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, kPollWait, [&] { return m_closed || m_version > since; });
            json answer { { "version", m_version }, { "closed", m_closed } };
            json rows = json::array();
            for (std::size_t i = 0; i < m_rows.size(); ++i) {
                const Row& r = m_rows[i];
                if (r.version > since)
                    rows.push_back({ { "row", i }, { "cells", r.cells }, { "finished", r.finished } });
            }
            answer["rows"] = std::move(rows);
            return answer;
        }
        if (verb == "command") {
            std::lock_guard lock(m_mutex);
            // The page's Close button; the dialog's OK.
            if (m_dialog && body.value("id", 0) == ui::IDOK)
                m_dialog->PostCommand(ui::IDOK);
            return json::object();
        }
        status = 404;
        return json::object();
    }

private:
    struct Row {
        std::array<std::string, CSavingUrlsDialog::ColumnCount> cells;
        bool finished = false;
        std::uint64_t version = 0;
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Row> m_rows;
    std::uint64_t m_version = 0;
    bool m_closed = false;
    ui::Dialog* m_dialog; // until Close; PostCommand is safe from any thread
};

WebSavingUrlsView::WebSavingUrlsView(std::shared_ptr<WebView> view) : m_view(std::move(view)) { }

WebSavingUrlsView::~WebSavingUrlsView()
{
    if (m_session)
        Closed();
}

void WebSavingUrlsView::Opened(CSavingUrlsDialog& dialog)
{
    m_dialog = &dialog;
    const auto& server = m_view->Server();
    const std::string id = UiServer::RandomHex(16);
    m_session = std::make_shared<ProgressSession>(id, &dialog);
    server->AddPage(m_session);
    m_window = m_view->OpenWindow(
        WindowRequest { server->Origin() + server->PageBase(id) + "progress.html", "saving", kWidth, kHeight, 0 });
    PageSession::Timing timing = m_view->GetOptions().timing;
    if (!m_window || m_window->Kind() == BrowserWindow::How::Printed)
        timing.firstContact = {};
    // The window went away: the window's close command.
    m_session->Watch(ui::MessageLoop::CurrentRef(), timing, [&dialog] { dialog.PostClose(); });
}

void WebSavingUrlsView::CopyRow(std::size_t row)
{
    if (!m_session || !m_dialog)
        return;
    std::array<std::string, CSavingUrlsDialog::ColumnCount> cells;
    for (int c = 0; c < CSavingUrlsDialog::ColumnCount; ++c)
        cells[static_cast<std::size_t>(c)] = m_dialog->CellText(row, c);
    m_session->SetRow(row, std::move(cells), m_dialog->IsRowFinished(row));
}

void WebSavingUrlsView::RowInserted(std::size_t row)
{
    CopyRow(row);
}

void WebSavingUrlsView::CellChanged(std::size_t row, int)
{
    CopyRow(row);
}

void WebSavingUrlsView::RowFinished(std::size_t row)
{
    CopyRow(row);
}

void WebSavingUrlsView::EventsHandled()
{
    if (m_session)
        m_session->Publish();
}

void WebSavingUrlsView::Closed()
{
    if (!m_session)
        return;
    m_session->Close();
    m_view->Server()->RemovePage(m_session->Id());
    m_session.reset();
    if (m_window)
        m_window->Close();
    m_window.reset();
    m_dialog = nullptr;
}

} // namespace webui
