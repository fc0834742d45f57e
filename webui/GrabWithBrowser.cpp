#include "webui/GrabWithBrowser.h"

#include "grabber/ResourceAddress.h"
#include "saveprocessors/SavingUrlsView.h"

#include <cstdio>

namespace webui {

bool RunGrabWithBrowser(const ComPtr<ITovanix>& tovanix, const ComPtr<IHTMLDocument2>& document,
                        WebView::Options options)
{
    return RunWithBrowserViews(std::move(options), [&] { (void)tovanix->Grab(document.get()); });
}

bool RunWithBrowserViews(WebView::Options options, const std::function<void()>& grab)
{
    auto server = std::make_shared<UiServer>();
    if (!server->Start()) {
        std::fprintf(stderr, "quillory: cannot start the dialog server on 127.0.0.1\n");
        return false;
    }
    auto view = std::make_shared<WebView>(server, std::move(options));
    const auto previous = ui::ActiveView();
    ui::SetActiveView(view);
    std::weak_ptr<WebView> weak = view;
    QVSaveProcessors::SetSavingUrlsViewFactory([weak]() -> std::unique_ptr<QVSaveProcessors::ISavingUrlsView> {
        if (auto v = weak.lock())
            return v->CreateSavingUrlsView();
        return nullptr;
    });
    // The dialog body addresses the module's pictures through the server.
    const std::string resBase = server->ResBase();
    SetResourceAddressMapper([resBase](std::string_view type, int id) {
        return resBase + std::string(type) + "/" + std::to_string(id);
    });

    grab();

    SetResourceAddressMapper({});
    QVSaveProcessors::SetSavingUrlsViewFactory({});
    ui::SetActiveView(previous);
    server->Stop();
    return true;
}

} // namespace webui
