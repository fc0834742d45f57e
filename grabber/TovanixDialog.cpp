#include "grabber/TovanixDialog.h"

#include "grabber/ITovanix.h"
#include "grabber/Tovanix.h"
#include "platform/sys/XdgPaths.h"

namespace {
// DOCHOSTUIFLAG_DIALOG: the document is shown as a dialog (no text
// selection, no scroll bars of its own).
constexpr unsigned DOCHOSTUIFLAG_DIALOG = 0x1;

void Anchor() { }
} // namespace

std::string CTovanixDialog::ShellPageAddress(const std::string& moduleFile)
{
    if (moduleFile.empty())
        return {};
    return "res://" + moduleFile + "/" + std::to_string(kShellPageResource);
}

void CTovanixDialog::OnInitDialog()
{
    // 1.-2. The placeholder spans the whole dialog; its rectangle becomes
    // the browser's.
    SetSize(kInitialWidth, kInitialHeight);
    // 3.-5. The browser host, with the owner as the page's external object,
    // shown as a dialog document without context menu.
    BrowserHost host;
    host.width = kInitialWidth;
    host.height = kInitialHeight;
    if (m_owner)
        host.external = ComPtr<IDispatch>(static_cast<ITovanix*>(m_owner));
    host.hostFlags = DOCHOSTUIFLAG_DIALOG;
    host.contextMenu = false;
    // 6.-7. Navigate to the shell page; without the module's file name
    // nothing is navigated and the browser area stays empty.
    host.address = ShellPageAddress(platform::ModuleFileOf(reinterpret_cast<const void*>(&Anchor)).string());
    m_browser = std::move(host);
}

void CTovanixDialog::OnSize(int width, int height)
{
    if (m_browser) {
        m_browser->width = width - kBrowserMargin;
        m_browser->height = height - kBrowserMargin;
    }
}

void CTovanixDialog::OnDestroy()
{
    // The browser goes with the window; the next showing makes a new one,
    // and the page's reference to the grabber object is dropped here.
    m_browser.reset();
}
