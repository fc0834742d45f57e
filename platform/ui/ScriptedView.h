#pragma once
// A view for tests: records message boxes and dialog showings and plays a
// script inside each dialog's modal loop, in place of a user.
//
// Thread: any; records are kept under a lock so tests on several threads
// can share one view.
#include "platform/ui/Dialog.h"
#include "platform/ui/View.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ui {

class ScriptedView : public IView {
public:
    struct MessageBoxRecord {
        std::string text;
        std::string caption;
        std::uint32_t type = 0;
        bool dialogActive = false; // a dialog was shown on that thread at the time
    };
    // What the user does in a shown dialog. Runs as a message of the
    // dialog's modal loop; it may call anything, then must end the dialog
    // (PostClose, EndDialog) or leave that to a later message.
    using Script = std::function<void(Dialog&)>;

    // Plays `script` for every showing of dialogs named `name`. Without a
    // script a dialog is closed at once, as a user pressing Escape.
    void OnDialog(std::string name, Script script);
    // Answer given by every message box (IDOK by default).
    void SetMessageBoxAnswer(int answer);
    // Answer of the folder browser and the file picker.
    void SetFolderAnswer(std::optional<std::string> folder);
    void SetOpenFileAnswer(std::optional<std::string> file);

    std::vector<MessageBoxRecord> MessageBoxes() const;
    std::vector<std::string> MessageBoxTexts() const;
    // Names of the dialogs shown, in order, and of those closed.
    std::vector<std::string> DialogsShown() const;
    std::vector<std::string> DialogsClosed() const;
    std::vector<std::string> ShellOpened() const;
    std::vector<std::string> FolderBrowserTitles() const;
    // The initial file each file picker was opened with.
    std::vector<std::string> OpenFileInitialFiles() const;
    // Sizes reported through DialogResized, as "name WxH".
    std::vector<std::string> Resizes() const;

    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override;
    void DialogShown(Dialog& dialog) override;
    void DialogClosed(Dialog& dialog) override;
    void DialogResized(Dialog& dialog) override;
    std::optional<std::string> BrowseForFolder(Dialog* owner, std::string_view title) override;
    std::optional<std::string> OpenFile(Dialog* owner, std::string_view title, std::string_view filter,
                                        std::string_view initialFile) override;
    bool ShellOpen(std::string_view target) override;

private:
    mutable std::mutex m_mutex; // records are shared by test threads
    std::map<std::string, Script, std::less<>> m_scripts;
    int m_answer = IDOK;
    std::optional<std::string> m_folder;
    std::optional<std::string> m_file;
    std::vector<MessageBoxRecord> m_boxes;
    std::vector<std::string> m_shown;
    std::vector<std::string> m_closed;
    std::vector<std::string> m_opened;
    std::vector<std::string> m_folderTitles;
    std::vector<std::string> m_openFileInitial;
    std::vector<std::string> m_resizes;
};

} // namespace ui
