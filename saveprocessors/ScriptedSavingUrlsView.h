#pragma once
// A list view for tests: records what the dialog showed and closes it at
// the moment the test chooses, in place of a user.
//
//   auto view = std::make_unique<ScriptedSavingUrlsView>();
//   view->CloseWhenAllFinished();
//   ScriptedSavingUrlsView& seen = *view;
//   dialog.SetView(std::move(view));
//   dialog.DoModal();
//   EXPECT_EQ(seen.Cell(0, CSavingUrlsDialog::ColumnStatus), "Completed");
//
// A safety deadline closes the dialog (window close) if the chosen moment
// never comes, so a failing test fails instead of hanging.
//
// Thread: the dialog's thread only.
#include "platform/ui/MessageLoop.h"
#include "saveprocessors/SavingUrlsView.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace QVSaveProcessors {

class ScriptedSavingUrlsView final : public ISavingUrlsView {
public:
    enum class CloseWith { CloseButton, WindowClose };
    using Moment = std::function<bool(CSavingUrlsDialog&)>;

    // Closes the dialog the first time `moment` holds: at opening or after
    // a batch of events.
    void CloseWhen(Moment moment, CloseWith how = CloseWith::CloseButton);
    void CloseWhenAllFinished(CloseWith how = CloseWith::CloseButton);
    void CloseAtOnce(CloseWith how = CloseWith::CloseButton);
    // Runs `action` once, the first time `moment` holds (before the close
    // check), e.g. to pause a job or note a time.
    void DoWhen(Moment moment, std::function<void(CSavingUrlsDialog&)> action);
    void SetDeadline(std::chrono::milliseconds deadline) { m_deadline = deadline; }

    // What was shown, as the dialog last set it (kept after closing).
    [[nodiscard]] std::size_t RowCount() const { return m_cells.size(); }
    [[nodiscard]] const std::string& Cell(std::size_t row, int column) const;
    // Every text a cell ever showed, in order.
    [[nodiscard]] std::vector<std::string> CellHistory(std::size_t row, int column) const;
    [[nodiscard]] bool Finished(std::size_t row) const { return m_finished.at(row); }
    // The dialog's results as Closed() found them.
    [[nodiscard]] const std::map<std::string, std::int32_t>& ResultsAtClose() const { return m_results; }
    [[nodiscard]] bool DeadlinePassed() const { return m_deadlinePassed; }
    [[nodiscard]] bool WasClosed() const { return m_closed; }
    [[nodiscard]] int Openings() const { return m_openings; }

    void Opened(CSavingUrlsDialog& dialog) override;
    void RowInserted(std::size_t row) override;
    void CellChanged(std::size_t row, int column) override;
    void RowFinished(std::size_t row) override;
    void EventsHandled() override;
    void Closed() override;

private:
    void Check();
    void Close(CloseWith how);

    CSavingUrlsDialog* m_dialog = nullptr;
    Moment m_closeMoment;
    CloseWith m_closeWith = CloseWith::CloseButton;
    bool m_closeRequested = false;
    Moment m_actionMoment;
    std::function<void(CSavingUrlsDialog&)> m_action;
    std::chrono::milliseconds m_deadline { std::chrono::seconds(120) };
    ui::MessageLoop::TimerId m_deadlineTimer = 0;
    bool m_deadlinePassed = false;
    bool m_closed = false;
    int m_openings = 0;

    std::vector<std::array<std::string, 5>> m_cells;
    std::map<std::pair<std::size_t, int>, std::vector<std::string>> m_history;
    std::vector<bool> m_finished;
    std::map<std::string, std::int32_t> m_results;
};

} // namespace QVSaveProcessors
