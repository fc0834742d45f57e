#include "platform/ui/ScriptedView.h"

namespace ui {

void ScriptedView::OnDialog(std::string name, Script script)
{
    std::lock_guard lock(m_mutex);
    m_scripts[std::move(name)] = std::move(script);
}

void ScriptedView::SetMessageBoxAnswer(int answer)
{
    std::lock_guard lock(m_mutex);
    m_answer = answer;
}

void ScriptedView::SetFolderAnswer(std::optional<std::string> folder)
{
    std::lock_guard lock(m_mutex);
    m_folder = std::move(folder);
}

void ScriptedView::SetOpenFileAnswer(std::optional<std::string> file)
{
    std::lock_guard lock(m_mutex);
    m_file = std::move(file);
}

std::vector<ScriptedView::MessageBoxRecord> ScriptedView::MessageBoxes() const
{
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

std::vector<std::string> ScriptedView::MessageBoxTexts() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const auto& b : m_boxes)
        texts.push_back(b.text);
    return texts;
}

std::vector<std::string> ScriptedView::DialogsShown() const
{
    std::lock_guard lock(m_mutex);
    return m_shown;
}

std::vector<std::string> ScriptedView::DialogsClosed() const
{
    std::lock_guard lock(m_mutex);
    return m_closed;
}

std::vector<std::string> ScriptedView::ShellOpened() const
{
    std::lock_guard lock(m_mutex);
    return m_opened;
}

std::vector<std::string> ScriptedView::FolderBrowserTitles() const
{
    std::lock_guard lock(m_mutex);
    return m_folderTitles;
}

std::vector<std::string> ScriptedView::OpenFileInitialFiles() const
{
    std::lock_guard lock(m_mutex);
    return m_openFileInitial;
}

std::vector<std::string> ScriptedView::Resizes() const
{
    std::lock_guard lock(m_mutex);
    return m_resizes;
}

int ScriptedView::MessageBox(std::string_view text, std::string_view caption, std::uint32_t type)
{
    std::lock_guard lock(m_mutex);
    m_boxes.push_back({ std::string(text), std::string(caption), type, Dialog::ActiveOnThisThread() != nullptr });
    return m_answer;
}

void ScriptedView::DialogShown(Dialog& dialog)
{
    Script script;
    {
        std::lock_guard lock(m_mutex);
        m_shown.emplace_back(dialog.Name());
        if (auto it = m_scripts.find(dialog.Name()); it != m_scripts.end())
            script = it->second;
    }
    if (!script) {
        dialog.PostClose();
        return;
    }
    // The user acts once the dialog's modal loop runs, not inside DoModal's
    // set-up; posting puts the script there.
    dialog.PostToWindow([script = std::move(script)](Dialog& d) { script(d); });
}

void ScriptedView::DialogClosed(Dialog& dialog)
{
    std::lock_guard lock(m_mutex);
    m_closed.emplace_back(dialog.Name());
}

void ScriptedView::DialogResized(Dialog& dialog)
{
    std::lock_guard lock(m_mutex);
    m_resizes.push_back(std::string(dialog.Name()) + " " + std::to_string(dialog.Width()) + "x"
        + std::to_string(dialog.Height()));
}

std::optional<std::string> ScriptedView::BrowseForFolder(Dialog*, std::string_view title)
{
    std::lock_guard lock(m_mutex);
    m_folderTitles.emplace_back(title);
    return m_folder;
}

std::optional<std::string> ScriptedView::OpenFile(Dialog*, std::string_view, std::string_view,
                                                  std::string_view initialFile)
{
    std::lock_guard lock(m_mutex);
    m_openFileInitial.emplace_back(initialFile);
    return m_file;
}

bool ScriptedView::ShellOpen(std::string_view target)
{
    std::lock_guard lock(m_mutex);
    m_opened.emplace_back(target);
    return true;
}

} // namespace ui
