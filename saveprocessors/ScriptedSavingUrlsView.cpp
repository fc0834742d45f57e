#include "saveprocessors/ScriptedSavingUrlsView.h"

#include "saveprocessors/SavingUrlsDialog.h"

namespace QVSaveProcessors {

namespace {
const std::string kNone;
}

void ScriptedSavingUrlsView::CloseWhen(Moment moment, CloseWith how)
{
    m_closeMoment = std::move(moment);
    m_closeWith = how;
}

void ScriptedSavingUrlsView::CloseWhenAllFinished(CloseWith how)
{
    CloseWhen([](CSavingUrlsDialog& d) { return d.AllRowsFinished(); }, how);
}

void ScriptedSavingUrlsView::CloseAtOnce(CloseWith how)
{
    CloseWhen([](CSavingUrlsDialog&) { return true; }, how);
}

void ScriptedSavingUrlsView::DoWhen(Moment moment, std::function<void(CSavingUrlsDialog&)> action)
{
    m_actionMoment = std::move(moment);
    m_action = std::move(action);
}

const std::string& ScriptedSavingUrlsView::Cell(std::size_t row, int column) const
{
    if (row >= m_cells.size() || column < 0 || column >= 5)
        return kNone;
    return m_cells[row][static_cast<std::size_t>(column)];
}

std::vector<std::string> ScriptedSavingUrlsView::CellHistory(std::size_t row, int column) const
{
    auto found = m_history.find({ row, column });
    return found == m_history.end() ? std::vector<std::string> {} : found->second;
}

void ScriptedSavingUrlsView::Opened(CSavingUrlsDialog& dialog)
{
    m_dialog = &dialog;
    ++m_openings;
    m_closeRequested = false;
    m_closed = false;
    m_cells.clear();
    m_history.clear();
    m_finished.clear();
    m_deadlineTimer = ui::MessageLoop::Current().PostDelayed(
        [this] {
            m_deadlineTimer = 0;
            m_deadlinePassed = true;
            Close(CloseWith::WindowClose);
        },
        m_deadline);
}

void ScriptedSavingUrlsView::RowInserted(std::size_t row)
{
    if (m_cells.size() <= row) {
        m_cells.resize(row + 1);
        m_finished.resize(row + 1);
    }
    for (int c = 0; c < 5; ++c) {
        m_cells[row][static_cast<std::size_t>(c)] = m_dialog->CellText(row, c);
        m_history[{ row, c }].push_back(m_dialog->CellText(row, c));
    }
}

void ScriptedSavingUrlsView::CellChanged(std::size_t row, int column)
{
    m_cells.at(row)[static_cast<std::size_t>(column)] = m_dialog->CellText(row, column);
    m_history[{ row, column }].push_back(m_dialog->CellText(row, column));
}

void ScriptedSavingUrlsView::RowFinished(std::size_t row)
{
    m_finished.at(row) = true;
}

void ScriptedSavingUrlsView::EventsHandled()
{
    Check();
}

void ScriptedSavingUrlsView::Check()
{
    if (!m_dialog)
        return;
    if (m_action && m_actionMoment && m_actionMoment(*m_dialog)) {
        auto action = std::move(m_action);
        m_action = nullptr;
        action(*m_dialog);
    }
    if (!m_closeRequested && m_closeMoment && m_closeMoment(*m_dialog))
        Close(m_closeWith);
}

void ScriptedSavingUrlsView::Close(CloseWith how)
{
    if (m_closeRequested || !m_dialog)
        return;
    m_closeRequested = true;
    if (how == CloseWith::CloseButton)
        m_dialog->PostCommand(ui::IDOK);
    else
        m_dialog->PostClose();
}

void ScriptedSavingUrlsView::Closed()
{
    if (m_deadlineTimer)
        ui::MessageLoop::Current().CancelDelayed(m_deadlineTimer);
    m_deadlineTimer = 0;
    if (m_dialog)
        m_results = m_dialog->m_results;
    m_closed = true;
    m_dialog = nullptr;
}

} // namespace QVSaveProcessors
