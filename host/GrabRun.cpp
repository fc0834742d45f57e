#include "host/GrabRun.h"

#include "discovery/ResourceDocument.h"
#include "grabber/HtmlDocumentObject.h"
#include "grabber/Tovanix.h"
#include "grabber/TovanixSettings.h"
#include "host/BatchSelection.h"
#include "host/ObjectFactory.h"
#include "platform/com/Bstr.h"
#include "platform/html/ChromiumPageLoader.h"
#include "platform/html/StaticPageLoader.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageLoop.h"
#include "platform/ui/View.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "saveprocessors/SavingUrlsView.h"
#include "saveprocessors/TerminalProgressView.h"
#include "webui/GrabWithBrowser.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace host {
namespace {

using namespace QVSaveProcessors;

constexpr const char* kProgId = "QVTovanix.Tovanix";

std::string g_lastRoot;

// The stored "GrabPath" exactly as it was (type and bytes), so that a run
// with its own folder can put it back: -o is for this run only, while the
// object stores its settings, the root folder included, when it goes.
struct StoredValue {
    bool present = false;
    DWORD type = 0;
    std::vector<std::uint8_t> data;
};

StoredValue ReadGrabPath()
{
    StoredValue v;
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueEx(key.get(), "GrabPath", &v.type, nullptr, &size) != ERROR_SUCCESS || size > (1u << 20))
        return v;
    v.data.resize(size);
    if (RegQueryValueEx(key.get(), "GrabPath", &v.type, v.data.data(), &size) == ERROR_SUCCESS) {
        v.data.resize(size);
        v.present = true;
    }
    return v;
}

void RestoreGrabPath(const StoredValue& v)
{
    RegKey key;
    if (key.Open(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return;
    if (v.present)
        RegSetValueEx(key.get(), "GrabPath", v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    else
        key.DeleteValue("GrabPath");
}

// No window system in batch mode: boxes are printed and answered as if
// closed; the grab dialog, once shown, runs the batch job on the UI thread.
class BatchView final : public ui::IView {
public:
    explicit BatchView(std::function<void()> job) : m_job(std::move(job)) { }
    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override
    {
        std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return (type & ui::MB_TYPEMASK) == ui::MB_YESNO ? ui::IDNO : ui::IDOK;
    }
    void DialogShown(ui::Dialog& dialog) override
    {
        // The job calls into the object, which refuses most calls until
        // the dialog is fully open: it runs from the dialog's own loop.
        if (dialog.Name() == "grab" && m_job)
            ui::MessageLoop::Current().Post(std::exchange(m_job, {}));
    }
    void DialogClosed(ui::Dialog&) override { }
    std::optional<std::string> BrowseForFolder(ui::Dialog*, std::string_view) override { return std::nullopt; }

private:
    std::function<void()> m_job;
};

bool Flag(HRESULT (ITovanix::*get)(VARIANT_BOOL*), ITovanix& t)
{
    VARIANT_BOOL v = VARIANT_FALSE;
    return SUCCEEDED((t.*get)(&v)) && v != VARIANT_FALSE;
}

struct BatchOutcome {
    bool ran = false;
    std::size_t chosen = 0;
    std::size_t completed = 0;
    bool interrupted = false;
    std::string error;
};

// Inside the open grab dialog: choose, save, download, exit.
void RunBatchJob(ITovanix& tovanix, const html::Document& page, bool localPage, const std::string& output,
                 BatchOutcome& outcome)
{
    outcome.ran = true;
    if (!output.empty()) {
        Bstr folder(output);
        if (FAILED(tovanix.put_RootFolder(folder.get()))) {
            outcome.error = "cannot create the folder '" + output + "'";
            (void)tovanix.Exit();
            return;
        }
    }
    BSTR root = nullptr;
    if (SUCCEEDED(tovanix.get_RootFolder(&root)))
        g_lastRoot = Bstr::Attach(root).Utf8();

    KindSwitches kinds;
    kinds.images = Flag(&ITovanix::get_GrabImage, tovanix);
    kinds.css = Flag(&ITovanix::get_GrabCSS, tovanix);
    kinds.scripts = Flag(&ITovanix::get_GrabScript, tovanix);
    kinds.flash = Flag(&ITovanix::get_GrabFlash, tovanix);
    kinds.quickTime = Flag(&ITovanix::get_GrabQT, tovanix);
    kinds.realPlayer = Flag(&ITovanix::get_GrabRP, tovanix);
    kinds.mediaPlayer = Flag(&ITovanix::get_GrabMP, tovanix);

    // The same resource document the dialog's body is built from.
    auto built = QVXMLInfoExtractors::BuildResourceDocument(page);
    if (!built.ok()) {
        outcome.error = built.error;
        (void)tovanix.Exit();
        return;
    }
    const std::vector<std::string> chosen = SelectForBatch(QVXMLInfoExtractors::FilterFrameSources(built.text), kinds, localPage);
    for (const std::string& url : chosen) {
        Bstr u(url);
        Bstr type("");
        LONG res = 0;
        (void)tovanix.Save(u.get(), type.get(), &res);
    }
    outcome.chosen = chosen.size();

    // The dialog destroys its view when it closes, so the view reports an
    // interruption through a flag that outlives it.
    auto interrupted = std::make_shared<bool>(false);
    class BatchTable final : public ISavingUrlsView {
    public:
        BatchTable(std::unique_ptr<TerminalProgressView> table, std::shared_ptr<bool> flag)
            : m_table(std::move(table)), m_flag(std::move(flag)) { }
        ~BatchTable() override { *m_flag = m_table->Interrupted(); }
        void Opened(CSavingUrlsDialog& dialog) override { m_table->Opened(dialog); }
        void RowInserted(std::size_t row) override { m_table->RowInserted(row); }
        void CellChanged(std::size_t row, int column) override { m_table->CellChanged(row, column); }
        void RowFinished(std::size_t row) override { m_table->RowFinished(row); }
        void EventsHandled() override { m_table->EventsHandled(); }
        void Closed() override { m_table->Closed(); }

    private:
        std::unique_ptr<TerminalProgressView> m_table;
        std::shared_ptr<bool> m_flag;
    };
    SetSavingUrlsViewFactory([interrupted]() -> std::unique_ptr<ISavingUrlsView> {
        TerminalProgressView::Options options;
        options.fd = STDOUT_FILENO;
        options.closeWhenDone = TerminalProgressView::CloseWhenDone::Yes;
        options.closeOnInterrupt = TerminalProgressView::CloseOnInterrupt::Yes;
        return std::make_unique<BatchTable>(std::make_unique<TerminalProgressView>(options), interrupted);
    });
    if (!chosen.empty())
        (void)tovanix.StartDownloading();
    outcome.interrupted = *interrupted;
    SetSavingUrlsViewFactory({});

    for (const std::string& url : chosen) {
        Bstr u(url);
        ULONG state = 0;
        if (SUCCEEDED(tovanix.CheckSavedUrl(u.get(), &state)) && state == SaveResultComplete)
            ++outcome.completed;
    }
    (void)tovanix.Exit();
}

} // namespace

const std::string& LastGrabRootFolder() { return g_lastRoot; }

int RunGrab(const GrabRequest& request)
{
    const char* cmd = request.command.c_str();
    g_lastRoot.clear();
    // Made by name through the registry, as a browser makes it: the
    // registration decides whether (and which) product is installed.
    ComPtr<ITovanix> tovanix;
    if (CreateObjectResult created = CreateObjectFromProgId(kProgId, tovanix); !created) {
        std::fprintf(stderr, "quillory %s: %s\n", cmd, created.error.c_str());
        return 1;
    }
    std::string output = request.output;
    if (!output.empty()) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(output, ec);
        if (!ec)
            output = absolute.lexically_normal().string();
    }

    html::LoadResult loaded = request.loader == "chromium" ? html::ChromiumPageLoader::Load(request.url)
                                                           : html::StaticPageLoader::Load(request.url);
    if (!loaded) {
        std::fprintf(stderr, "quillory %s: %s\n", cmd, loaded.error().c_str());
        return 1;
    }
    for (const std::string& note : loaded.document().notes)
        std::fprintf(stderr, "quillory %s: note: %s\n", cmd, note.c_str());
    std::shared_ptr<const html::Document> page(loaded.take());
    // A path or a file: address: the page came from this machine.
    const bool localPage = request.url.find("://") == std::string::npos || request.url.rfind("file:", 0) == 0;
    ComPtr<IHTMLDocument2> document = CHtmlDocumentObject::Create(page);

    const StoredValue storedPath = ReadGrabPath();
    int status = 0;
    {
        if (request.batch) {
            BatchOutcome outcome;
            auto view = std::make_shared<BatchView>([&] { RunBatchJob(*tovanix.get(), *page, localPage, output, outcome); });
            const auto previous = ui::ActiveView();
            ui::SetActiveView(view);
            const HRESULT hr = tovanix->Grab(document.get());
            ui::SetActiveView(previous);
            if (FAILED(hr) || !outcome.ran) {
                std::fprintf(stderr, "quillory %s: the grab did not run (0x%08X)\n", cmd, static_cast<unsigned>(hr));
                status = 1;
            } else if (!outcome.error.empty()) {
                std::fprintf(stderr, "quillory %s: %s\n", cmd, outcome.error.c_str());
                status = 1;
            } else {
                std::printf("%zu completed, %zu failed\n", outcome.completed, outcome.chosen - outcome.completed);
                std::fflush(stdout);
                status = outcome.interrupted ? 130 : outcome.chosen == 0 ? 3 : outcome.completed == outcome.chosen ? 0 : 2;
                if (outcome.chosen == 0)
                    std::fprintf(stderr, "quillory %s: the options select nothing on this page\n", cmd);
            }
        } else {
            webui::WebView::Options options;
            bool applied = false;
            // Called as the dialog opens, on the run's thread: the moment
            // the root folder of this run can be set.
            options.wrapExternal = [&](ComPtr<IDispatch> external) {
                if (!applied) {
                    applied = true;
                    if (!output.empty()) {
                        Bstr folder(output);
                        if (FAILED(tovanix->put_RootFolder(folder.get())))
                            std::fprintf(stderr, "quillory %s: cannot create the folder '%s'\n", cmd, output.c_str());
                    }
                    BSTR root = nullptr;
                    if (SUCCEEDED(tovanix->get_RootFolder(&root)))
                        g_lastRoot = Bstr::Attach(root).Utf8();
                }
                return external;
            };
            if (!webui::RunGrabWithBrowser(tovanix, document, std::move(options)))
                status = 1;
        }
    }
    tovanix.Reset(); // stores its settings, before the one-run folder is put back
    if (!output.empty())
        RestoreGrabPath(storedPath);
    return status;
}

} // namespace host
