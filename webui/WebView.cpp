#include "webui/WebView.h"

#include "grabber/TovanixDialog.h"
#include "options/DialogModel.h"
#include "platform/sys/XdgPaths.h"
#include "webui/DialogSession.h"
#include "webui/ModelDialogPage.h"
#include "webui/ModalPageSession.h"
#include "webui/WebSavingUrlsView.h"

#include <cstdio>
#include <filesystem>

namespace webui {

namespace {

// A window that holds one nesting level while open.
class LevelledWindow final : public BrowserWindow {
public:
    LevelledWindow(std::unique_ptr<BrowserWindow> inner, std::shared_ptr<std::atomic<int>> levels)
        : m_inner(std::move(inner))
        , m_levels(std::move(levels))
    {
    }
    ~LevelledWindow() override { Close(); }
    How Kind() const override { return m_inner ? m_inner->Kind() : How::Printed; }
    void Close() override
    {
        if (!m_inner)
            return;
        m_inner->Close();
        m_inner.reset();
        --*m_levels;
    }

private:
    std::unique_ptr<BrowserWindow> m_inner;
    std::shared_ptr<std::atomic<int>> m_levels;
};

constexpr const char* kResScheme = "res://";

} // namespace

WebView::WebView(std::shared_ptr<UiServer> server, Options options)
    : m_server(std::move(server))
    , m_options(std::move(options))
{
    if (!m_options.launcher)
        m_options.launcher = SystemLauncher();
}

WebView::~WebView() = default;

std::unique_ptr<BrowserWindow> WebView::OpenWindow(WindowRequest request)
{
    request.level = m_openWindows->fetch_add(1);
    auto window = m_options.launcher(request);
    if (!window) {
        --*m_openWindows;
        return nullptr;
    }
    return std::make_unique<LevelledWindow>(std::move(window), m_openWindows);
}

void WebView::DialogShown(ui::Dialog& dialog)
{
    if (auto* model = dynamic_cast<CDialogModel*>(&dialog)) {
        m_models[&dialog] = std::make_shared<ModelDialogShowing>(ShowModelDialog(*this, *model));
        return;
    }
    auto* grab = dynamic_cast<CTovanixDialog*>(&dialog);
    if (!grab) {
        // The progress dialog presents itself through its list view; other
        // dialogs have no page here.
        if (dialog.Name() != "saving") {
            std::fprintf(stderr, "quillory: the %.*s dialog has no web page; closing it\n",
                         static_cast<int>(dialog.Name().size()), dialog.Name().data());
            dialog.PostClose();
        }
        return;
    }
    DialogSession::Setup setup;
    setup.loop = ui::MessageLoop::CurrentRef();
    std::string address;
    if (const auto& browser = grab->Browser()) {
        setup.external = browser->external;
        address = browser->address;
    }
    if (m_options.wrapExternal)
        setup.external = m_options.wrapExternal(setup.external);
    const std::string id = UiServer::RandomHex(16);
    std::string path;
    // "res://<module file>/215": the module's file is everything up to the
    // last slash, and the module's resources are the server's.
    if (address.starts_with(kResScheme) && address.rfind('/') > std::string_view(kResScheme).size()) {
        const std::size_t slash = address.rfind('/');
        setup.resPrefix = address.substr(0, slash + 1);
        path = m_server->ResBase() + address.substr(slash + 1) + "?page=" + id;
    } else {
        // Nothing was navigated: an empty page that still closes the dialog
        // with its window.
        path = m_server->PageBase(id) + "dialog.html";
    }
    setup.resBase = m_server->ResBase();
    setup.pageBase = m_server->PageBase(id);
    setup.caption = CTovanixDialog::kCaption;
    auto session = std::make_shared<DialogSession>(id, std::move(setup));
    m_server->AddPage(session);

    WindowRequest request { m_server->Origin() + path, "grab", dialog.Width(), dialog.Height(), 0 };
    auto window = OpenWindow(request);
    PageSession::Timing timing = m_options.timing;
    if (!window || window->Kind() == BrowserWindow::How::Printed)
        timing.firstContact = {};
    session->Watch(ui::MessageLoop::CurrentRef(), timing, [&dialog] { dialog.PostClose(); });
    m_shown[&dialog] = Shown { session, std::move(window) };
}

void WebView::DialogClosed(ui::Dialog& dialog)
{
    if (auto model = m_models.find(&dialog); model != m_models.end()) {
        auto showing = std::move(model->second);
        m_models.erase(model);
        showing->Close();
        return;
    }
    auto it = m_shown.find(&dialog);
    if (it == m_shown.end())
        return;
    Shown shown = std::move(it->second);
    m_shown.erase(it);
    shown.session->Close();
    // The page's next request finds no page and closes its window; a
    // window of our own is ended at once.
    m_server->RemovePage(shown.session->Id());
    if (shown.window)
        shown.window->Close();
}

void WebView::DialogResized(ui::Dialog& dialog)
{
    auto it = m_shown.find(&dialog);
    if (it == m_shown.end())
        return;
    it->second.session->QueueCommand(nlohmann::json { { "resize", { dialog.Width(), dialog.Height() } } });
}

void WebView::RunModalPage(const std::shared_ptr<ModalPageSession>& session, WindowRequest request, int dismissId)
{
    m_server->AddPage(session);
    auto window = OpenWindow(std::move(request));
    if (!window || window->Kind() == BrowserWindow::How::Printed) {
        // Nobody would see the page: answer as a closed window would.
        session->SetAnswer(dismissId);
    } else {
        std::weak_ptr<ModalPageSession> weak = session;
        session->Watch(ui::MessageLoop::CurrentRef(), m_options.timing, [weak, dismissId] {
            if (auto s = weak.lock())
                s->SetAnswer(dismissId);
        });
        ui::MessageLoop::Current().RunUntil([&] { return session->Answered(); });
    }
    session->Close();
    m_server->RemovePage(session->Id());
    if (window)
        window->Close();
}

int WebView::MessageBox(std::string_view text, std::string_view caption, std::uint32_t type)
{
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    const std::string id = UiServer::RandomHex(16);
    auto session = std::make_shared<MessageBoxSession>(id, ui::MessageLoop::CurrentRef(), std::string(text),
                                                       std::string(caption), type);
    const int dismiss = session->DismissAnswer();
    RunModalPage(session, WindowRequest { m_server->Origin() + m_server->PageBase(id) + "page.html", "message", 460, 200, 0 },
                 dismiss);
    return session->AnswerId();
}

std::optional<std::string> WebView::RunPicker(PickerSession::Request request)
{
    const std::string id = UiServer::RandomHex(16);
    auto session = std::make_shared<PickerSession>(id, ui::MessageLoop::CurrentRef(), std::move(request));
    RunModalPage(session, WindowRequest { m_server->Origin() + m_server->PageBase(id) + "page.html", "picker", 520, 460, 0 },
                 ui::IDCANCEL);
    if (session->AnswerId() != ui::IDOK)
        return std::nullopt;
    return session->AnswerText();
}

std::string WebView::PickerStart() const
{
    return m_options.pickerStart.empty() ? platform::HomeDir().string() : m_options.pickerStart;
}

std::optional<std::string> WebView::BrowseForFolder(ui::Dialog*, std::string_view title)
{
    return RunPicker({ PickerSession::Kind::Folder, std::string(title), PickerStart(), {}, {} });
}

std::optional<std::string> WebView::OpenFile(ui::Dialog*, std::string_view title, std::string_view filter,
                                             std::string_view initialFile)
{
    // The folder of the file the box holds, when there is one; its name is
    // proposed either way.
    const std::filesystem::path initial(initialFile);
    std::error_code ec;
    std::string start = PickerStart();
    if (initial.is_absolute() && std::filesystem::is_directory(initial.parent_path(), ec))
        start = initial.parent_path().string();
    return RunPicker({ PickerSession::Kind::SaveFile, std::string(title), std::move(start), std::string(filter),
                       initial.filename().string() });
}

bool WebView::ShellOpen(std::string_view target)
{
    const pid_t pid = Spawn({ "xdg-open", std::string(target) });
    if (pid <= 0)
        return false;
    ReapWhenDone(pid);
    return true;
}

std::unique_ptr<QVSaveProcessors::ISavingUrlsView> WebView::CreateSavingUrlsView()
{
    return std::make_unique<WebSavingUrlsView>(shared_from_this());
}

} // namespace webui
