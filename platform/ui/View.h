#pragma once
// The view: what a user sees of message boxes, modal dialogs and pickers.
//
// The system's dialogs are objects (ui::Dialog) with their own state and
// logic; a view only presents them. The host installs the view it runs
// with (web pages in a browser, a terminal table), tests install a
// ScriptedView. Exactly one view is active in the process at a time.
//
// Thread: SetActiveView/ActiveView from any thread. The view's operations
// are called on the user-interface thread that shows the box or dialog.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ui {

class Dialog;

// Message box types and answers, with the Windows values so that the
// numbers in the design and in scripts keep their meaning.
inline constexpr std::uint32_t MB_OK = 0x00000000;
inline constexpr std::uint32_t MB_OKCANCEL = 0x00000001;
inline constexpr std::uint32_t MB_YESNO = 0x00000004;
inline constexpr std::uint32_t MB_ICONERROR = 0x00000010;
inline constexpr std::uint32_t MB_ICONQUESTION = 0x00000020;
inline constexpr std::uint32_t MB_ICONWARNING = 0x00000030;
inline constexpr std::uint32_t MB_ICONINFORMATION = 0x00000040;
inline constexpr std::uint32_t MB_TYPEMASK = 0x0000000F;
inline constexpr std::uint32_t MB_ICONMASK = 0x000000F0;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

class IView {
public:
    virtual ~IView() = default;

    // A modal message box without owner window; returns the button chosen
    // (IDOK, IDCANCEL, IDYES, IDNO).
    virtual int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) = 0;

    // The dialog has been initialised and its modal loop is about to run on
    // the calling thread. The view presents it and, on user actions, calls
    // Dialog::PostClose (close box, Escape) or the dialog's own operations.
    // Every dialog comes here, also those with a presentation of their own
    // (the progress dialog's list view): a view leaves a dialog it does not
    // present open rather than closing it (the headless default and an
    // unscripted ScriptedView close everything, having no one to wait for).
    virtual void DialogShown(Dialog& dialog) = 0;
    // The dialog's modal loop has ended; the view takes it down. The dialog
    // object stays alive but must not be used by the view after this.
    virtual void DialogClosed(Dialog& dialog) = 0;
    // The dialog's outer size changed while shown.
    virtual void DialogResized(Dialog&) { }

    // The folder browser: a chosen file-system folder, or nothing when the
    // user cancelled.
    virtual std::optional<std::string> BrowseForFolder(Dialog* owner, std::string_view title)
    {
        (void)owner;
        (void)title;
        return std::nullopt;
    }
    // The file picker, filter in the Windows "Name\0*.ext\0" form
    // flattened to "Name|*.ext". It opens at the folder of `initialFile`
    // and proposes its name; names of files that do not exist yet are
    // accepted. A chosen file, or nothing.
    virtual std::optional<std::string> OpenFile(Dialog* owner, std::string_view title, std::string_view filter,
                                                std::string_view initialFile)
    {
        (void)owner;
        (void)title;
        (void)filter;
        (void)initialFile;
        return std::nullopt;
    }
    // The shell's "open" verb for a file or address; true when handed over.
    virtual bool ShellOpen(std::string_view target)
    {
        (void)target;
        return false;
    }
};

// Installs the process's view; null restores the headless default, which
// writes message boxes to standard error and closes every dialog at once.
void SetActiveView(std::shared_ptr<IView> view);
// The view to use now; never null. Holding the reference keeps that view
// alive across a call even if another is installed meanwhile.
std::shared_ptr<IView> ActiveView();

// Shorthand for ActiveView()->MessageBox.
int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type);

} // namespace ui
