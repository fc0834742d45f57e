#pragma once
// Presentation of the progress dialog's list: one row per URL, five text
// columns. The dialog (CSavingUrlsDialog) owns the texts; a view is told
// what changed and reads the texts back from the dialog, so every view
// shows the same thing.
//
// Views: the terminal table (TerminalProgressView), the scripted test view
// (ScriptedSavingUrlsView), and the web view. Which one a dialog gets is
// chosen by the host through SetSavingUrlsViewFactory, or per dialog with
// CSavingUrlsDialog::SetView.
//
// A view may end the dialog at any time with dialog.PostCommand(ui::IDOK)
// (the "Close" button) or dialog.PostClose() (the window's close box); the
// dialog never closes by itself.
//
// Thread: every call arrives on the dialog's thread.
#include <cstddef>
#include <functional>
#include <memory>

namespace QVSaveProcessors {

class CSavingUrlsDialog;

class ISavingUrlsView {
public:
    virtual ~ISavingUrlsView() = default;

    // The dialog is opening; its rows follow. `dialog` stays valid until
    // Closed() returns.
    virtual void Opened(CSavingUrlsDialog& dialog) = 0;
    // Row `row` was added with its first texts.
    virtual void RowInserted(std::size_t row) = 0;
    // The text of one cell changed.
    virtual void CellChanged(std::size_t row, int column) = 0;
    // The row reached its final state: its job ended (completed, failed or
    // stopped), or it never had one.
    virtual void RowFinished(std::size_t row) = 0;
    // A batch of changes has been handled: a good moment to draw. Arrives
    // at least once after opening and after every batch of events.
    virtual void EventsHandled() = 0;
    // Every job has been stopped and awaited and the results are recorded
    // (dialog.m_results). The view takes itself down.
    virtual void Closed() = 0;
};

using SavingUrlsViewFactory = std::function<std::unique_ptr<ISavingUrlsView>()>;

// Installs the factory that progress dialogs without a view of their own
// use; an empty function removes it (dialogs then run without a list view).
// Thread: any.
void SetSavingUrlsViewFactory(SavingUrlsViewFactory factory);
// A view from the installed factory, or null. Thread: any.
[[nodiscard]] std::unique_ptr<ISavingUrlsView> CreateSavingUrlsView();

} // namespace QVSaveProcessors
