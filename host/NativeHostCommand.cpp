// `quillory native-host`: the native messaging host the browser extension
// talks to (extension/background.js). The browser starts it (Chromium
// passes the caller's origin, Firefox the manifest path and extension id;
// both are accepted and ignored) and exchanges messages on stdin/stdout,
// each a 4-byte length in native byte order followed by that many bytes of
// UTF-8 JSON.
//
// One run: the extension sends the page's snapshot (in pieces, since one
// message has a size limit), then {"type":"grab","via":"button"|"menu"}.
// The host builds the document model from the snapshot, creates the
// grabber object by name through the registry and runs the grab: for the
// button as the browser's toolbar does (SetSite with a site whose browser has the
// page's document, then Exec), for the menu entry as the menu extension's
// script does (Grab with the document). The dialog's windows are opened by
// the extension as windows of the same browser; message boxes come there
// too.
//
// Exit status: 0 after a grab run; 1 when the browser sent no usable grab
// request or the module is not installed.
#include "host/Command.h"
#include "host/NativeMessaging.h"
#include "host/ObjectFactory.h"

#include "grabber/BrowserInterfaces.h"
#include "grabber/HtmlDocumentObject.h"
#include "grabber/ITovanix.h"
#include "platform/html/SnapshotLoader.h"
#include "platform/ui/MessageLoop.h"
#include "webui/BrowserLauncher.h"
#include "webui/GrabWithBrowser.h"
#include "webui/WebView.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

using Json = nlohmann::json;

constexpr const char* kNotInstalled = "Module QVTovanix.Tovanix not installed";

// The browser window the toolbar's object is sited in: it offers itself
// as the web browser service and gives the page's document.
// Thread: the grab's thread.
class BrowserSite final : public IServiceProvider, public IWebBrowser2 {
public:
    explicit BrowserSite(ComPtr<IHTMLDocument2> document) : m_document(std::move(document)) { }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IServiceProvider)
            *ppv = static_cast<IServiceProvider*>(this);
        else if (riid == IID_IWebBrowser2 || riid == IID_IDispatch)
            *ppv = static_cast<IWebBrowser2*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (service != SID_SWebBrowserApp)
            return E_NOINTERFACE;
        return static_cast<IWebBrowser2*>(this)->QueryInterface(riid, ppv);
    }

    HRESULT GetTypeInfoCount(UINT* n) override
    {
        if (n)
            *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, OLECHAR**, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return DISP_E_MEMBERNOTFOUND; }

    HRESULT get_Document(IDispatch** ppDisp) override
    {
        if (!ppDisp)
            return E_POINTER;
        *ppDisp = nullptr;
        if (!m_document)
            return E_FAIL;
        return m_document->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(ppDisp));
    }

private:
    ~BrowserSite() = default;
    std::atomic<ULONG> m_refs { 1 };
    ComPtr<IHTMLDocument2> m_document;
};

// A window of the extension's browser, opened and closed on request.
class ExtensionWindow final : public webui::BrowserWindow {
public:
    ExtensionWindow(host::NativeChannel& channel, int number) : m_channel(channel), m_number(number) { }
    How Kind() const override { return How::AppWindow; }
    void Close() override
    {
        if (!std::exchange(m_closed, true))
            (void)m_channel.Write(Json { { "type", "close" }, { "window", m_number } }.dump());
    }

private:
    host::NativeChannel& m_channel;
    int m_number;
    bool m_closed = false;
};

webui::Launcher ExtensionLauncher(host::NativeChannel& channel)
{
    auto next = std::make_shared<std::atomic<int>>(0);
    return [&channel, next](const webui::WindowRequest& request) -> std::unique_ptr<webui::BrowserWindow> {
        const int number = ++*next;
        const Json open { { "type", "open" }, { "window", number }, { "url", request.url }, { "role", request.role },
                          { "width", request.width }, { "height", request.height } };
        if (!channel.Write(open.dump()))
            return nullptr;
        return std::make_unique<ExtensionWindow>(channel, number);
    };
}

void SendError(host::NativeChannel& channel, std::int64_t id, const std::string& text)
{
    std::fprintf(stderr, "quillory native-host: %s\n", text.c_str());
    (void)channel.Write(Json { { "type", "error" }, { "id", id }, { "text", text } }.dump());
}

int Run()
{
    // Standard output carries the framed messages alone: whatever else the
    // process prints there goes to standard error instead.
    host::NativeChannel channel(STDIN_FILENO, dup(STDOUT_FILENO));
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (!channel.Write(Json { { "type", "ready" }, { "version", "3.6.0.0" } }.dump()))
        return 1;

    // 1. The snapshot, then the grab request.
    host::SnapshotAssembler assembler;
    std::string via;
    std::int64_t id = 0;
    for (;;) {
        host::ReadResult r = channel.Read();
        if (!r.ok()) {
            if (r.status != host::ReadStatus::End)
                std::fprintf(stderr, "quillory native-host: %s\n", r.error.c_str());
            return 1;
        }
        Json m = Json::parse(r.message, nullptr, false);
        if (!m.is_object() || !m.contains("type") || !m["type"].is_string())
            continue;
        const std::string type = m["type"];
        if (type == "snapshot") {
            std::string error;
            if (!assembler.Add(m, error)) {
                SendError(channel, m.value("id", std::int64_t { 0 }), error);
                return 1;
            }
        } else if (type == "grab") {
            via = m.value("via", std::string());
            id = m.value("id", std::int64_t { 0 });
            break;
        }
    }
    std::string error;
    std::optional<std::string> json = assembler.Take(id, error);
    if (!json) {
        SendError(channel, id, error);
        return 1;
    }

    // 2. The page's document.
    html::LoadResult loaded = html::SnapshotLoader::Load(*json, html::FetchMissing::Yes);
    json.reset();
    if (!loaded) {
        SendError(channel, id, "Quillory cannot read the page: " + loaded.error());
        return 1;
    }
    for (const std::string& note : loaded.document().notes)
        std::fprintf(stderr, "quillory native-host: note: %s\n", note.c_str());
    ComPtr<IHTMLDocument2> document = CHtmlDocumentObject::Create(std::shared_ptr<const html::Document>(loaded.take()));

    // 3. The grabber object, made by name through the registry as the
    //    browser's own extension host would make it.
    ComPtr<ITovanix> tovanix;
    if (host::CreateObjectResult created = host::CreateObjectFromProgId("QVTovanix.Tovanix", tovanix); !created) {
        std::fprintf(stderr, "quillory native-host: %s\n", created.error.c_str());
        SendError(channel, id, kNotInstalled);
        return 1;
    }

    // 4. The rest of the conversation: a browser that goes away ends the
    //    dialog as its page would.
    auto loop = ui::MessageLoop::CurrentRef();
    std::atomic<bool> running { true };
    std::thread reader([&channel, &running, loop, tovanix] {
        for (;;) {
            host::ReadResult r = channel.Read();
            if (!r.ok())
                break;
        }
        if (running)
            loop->Post([tovanix] { (void)tovanix->Exit(); });
    });

    webui::WebView::Options options;
    options.launcher = ExtensionLauncher(channel);
    const bool shown = webui::RunWithBrowserViews(std::move(options), [&] {
        if (via == "button") {
            ComPtr<IObjectWithSite> sited;
            ComPtr<IOleCommandTarget> command;
            if (FAILED(tovanix->QueryInterface(IID_IObjectWithSite, sited.OutVoid()))
                || FAILED(tovanix->QueryInterface(IID_IOleCommandTarget, command.OutVoid()))) {
                SendError(channel, id, kNotInstalled);
                return;
            }
            BrowserSite* site = new BrowserSite(document);
            (void)sited->SetSite(static_cast<IServiceProvider*>(site));
            site->Release();
            (void)command->Exec(nullptr, 0, 0, nullptr, nullptr);
            // The browser takes the object off its site when its window goes.
            (void)sited->SetSite(nullptr);
        } else {
            ComPtr<IDispatch> disp;
            (void)document->QueryInterface(IID_IDispatch, disp.OutVoid());
            (void)tovanix->Grab(disp.get());
        }
    });
    if (!shown)
        SendError(channel, id, "cannot start the dialog server on 127.0.0.1");
    else
        (void)channel.Write(Json { { "type", "done" }, { "id", id } }.dump());
    running = false;
    channel.ShutdownRead();
    reader.join();
    loop->RunPending(); // an Exit posted as the run ended
    return shown ? 0 : 1;
}

const host::CommandRegistration nativeHostCommand(90, [](CLI::App& app) {
    auto* sub = app.add_subcommand("native-host", "Native messaging host for the Quillory browser extension (started by the browser)");
    sub->allow_extras();
    sub->callback([] { host::ExitCode() = Run(); });
});

} // namespace
