#pragma once
// A modal dialog as an object: its state and its modal loop live here, its
// presentation in the active view (ui::IView).
//
// DoModal runs a nested MessageLoop::RunUntil on the calling thread, so
// everything the view or the page asks of the dialog's owner arrives inside
// that loop, and a dialog shown from inside another dialog's loop nests.
//
// Thread: UI only (the thread that calls DoModal), except PostClose and
// PostCommand, which any thread may call.
#include "platform/ui/MessageLoop.h"
#include "platform/ui/View.h"

#include <memory>
#include <mutex>
#include <string_view>

namespace ui {

class Dialog {
public:
    enum class State {
        NotShown,     // constructed, or the last showing has ended
        Initialising, // DoModal has created the window and runs OnInitDialog
        Shown,        // the view presents it; its modal loop runs
        Closing,      // EndDialog was called; the loop unwinds and OnDestroy runs
    };

    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog();

    // A short stable name that views use to choose a presentation
    // ("grab", "saving", "options", "about").
    virtual std::string_view Name() const = 0;

    // Shows the dialog through the active view and runs its modal loop
    // until EndDialog; returns the result given to EndDialog. A dialog that
    // is already shown is not shown again: -1, as a failed DialogBox.
    int DoModal();

    // Ends the modal loop with `result` (EndDialog). Ignored unless shown.
    void EndDialog(int result);

    // Queues the close request (WM_CLOSE) for this showing. It is handled
    // by the modal loop after the caller has returned; a request that
    // arrives after this showing has ended is dropped, as a message to a
    // destroyed window is. False when there is no window to post to.
    bool PostClose();
    // Queues a command (WM_COMMAND with a control id) for this showing.
    bool PostCommand(int id);
    // Queues any handler as a message to this showing's window; dropped
    // like the close request when the showing has ended first.
    bool PostToWindow(std::function<void(Dialog&)> handler);

    // True from the start of DoModal until the loop has ended: the dialog
    // has a window that messages can reach.
    bool HasWindow() const { return m_state != State::NotShown; }
    State state() const { return m_state; }
    int result() const { return m_result; }

    // Outer size in pixels; 0 until a showing sets it.
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Resizes the shown dialog (SetWindowPos without moving); nothing
    // happens without a window.
    void SetSize(int width, int height);

    // The innermost dialog shown on this thread: the owner that a dialog or
    // picker opened now gets. Null when none is shown.
    static Dialog* ActiveOnThisThread();

protected:
    // WM_INITDIALOG: the window exists, the view has not shown it yet.
    virtual void OnInitDialog() { }
    // WM_CLOSE: the default dialog handling turns it into IDCANCEL.
    virtual void OnClose() { OnCommand(IDCANCEL); }
    // WM_COMMAND: IDCANCEL ends the dialog with result 2 by default.
    virtual void OnCommand(int id);
    // WM_SIZE: the outer size changed.
    virtual void OnSize(int width, int height)
    {
        (void)width;
        (void)height;
    }
    // WM_DESTROY: the modal loop has ended, the window goes.
    virtual void OnDestroy() { }

private:
    void transition_to(State next) { m_state = next; }

    // Identity of one showing ("the window"); posted messages hold it weakly
    // so that they die with the window.
    struct Window {
        Dialog* dialog;
    };

    State m_state = State::NotShown;
    int m_result = 0;
    bool m_ended = false;
    int m_width = 0;
    int m_height = 0;
    // Other threads (a view's server thread) post close requests while the
    // dialog's thread creates and drops the window, so these two are read
    // and written under this lock.
    mutable std::mutex m_windowMutex;
    std::shared_ptr<Window> m_window;
    std::shared_ptr<MessageLoop> m_loop;
    Dialog* m_outer = nullptr; // the dialog that was active when this one was shown
};

} // namespace ui
