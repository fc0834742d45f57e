// `quillory fetch [-o DIR] URL...`: the download engine alone. Every URL is
// saved into the root folder (default: the stored "GrabPath") with a
// progress row per URL, exactly as after a grab.
//
// Exit status: 0 when every URL completed; 1 when any did not (each such
// row says why); 130 when Ctrl-C stopped the run.
// The last line is a summary, "N completed, M failed".
#include "host/Command.h"

#include "grabber/TovanixSettings.h"
#include "platform/registry/Registry.h"
#include "platform/ui/View.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "saveprocessors/TerminalProgressView.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace QVSaveProcessors;

// The command has no window system: message boxes go to stderr, and the
// progress dialog is closed by its terminal table, not by the window.
class ConsoleView final : public ui::IView {
public:
    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override
    {
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return (type & ui::MB_TYPEMASK) == ui::MB_YESNO ? ui::IDNO : ui::IDOK;
    }
    void DialogShown(ui::Dialog&) override { }
    void DialogClosed(ui::Dialog&) override { }
};

// The stored root folder, read without creating or changing anything.
std::string StoredRootFolder()
{
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ) == ERROR_SUCCESS) {
        if (auto path = ReadSettingsPath(key.get(), "GrabPath"); path && !path->empty())
            return *path;
    }
    return DefaultRootFolder(CreateDocuments::No);
}

int Run(const std::vector<std::string>& urls, std::string root)
{
    if (root.empty())
        root = StoredRootFolder();
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(root, ec);
    if (!ec)
        root = absolute.lexically_normal().string();
    if (CreateRootFolder(root) == RootFolderResult::Failed || !std::filesystem::is_directory(root, ec)) {
        std::fprintf(stderr, "quillory fetch: cannot create the folder '%s'\n", root.c_str());
        return 1;
    }

    ui::SetActiveView(std::make_shared<ConsoleView>());
    CSavingUrlsDialog dialog;
    dialog.m_urls.insert(urls.begin(), urls.end());
    dialog.m_rootFolder = root;
    TerminalProgressView::Options options;
    options.fd = STDOUT_FILENO;
    options.closeWhenDone = TerminalProgressView::CloseWhenDone::Yes;
    options.closeOnInterrupt = TerminalProgressView::CloseOnInterrupt::Yes;
    auto view = std::make_unique<TerminalProgressView>(options);
    const TerminalProgressView& table = *view;
    dialog.SetView(std::move(view));
    dialog.DoModal();

    std::size_t completed = 0;
    for (const auto& [url, result] : dialog.m_results) {
        if (result == SaveResultComplete)
            ++completed;
    }
    const std::size_t failed = dialog.m_urls.size() - completed;
    std::printf("%zu completed, %zu failed\n", completed, failed);
    std::fflush(stdout);
    if (table.Interrupted())
        return 130;
    return failed == 0 ? 0 : 1;
}

const host::CommandRegistration fetchCommand(30, [](CLI::App& app) {
    static std::vector<std::string> urls;
    static std::string root;
    auto* sub = app.add_subcommand("fetch", "Download URLs into a folder with a progress table");
    sub->add_option("-o,--output", root, "Root folder (default: the stored GrabPath)");
    sub->add_option("urls", urls, "URLs to download")->required();
    sub->callback([] { host::ExitCode() = Run(urls, root); });
});

} // namespace
