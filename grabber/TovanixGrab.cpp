// The grab run and the browser's entry points into it.
#include "grabber/DebugInfo.h"
#include "grabber/Tovanix.h"
#include "platform/ui/View.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace {

// QueryInterface that trusts nothing the other object leaves behind on
// failure.
template <class T>
ComPtr<T> QueryAs(IUnknown* object, REFIID iid)
{
    void* p = nullptr;
    if (object && SUCCEEDED(object->QueryInterface(iid, &p)) && p)
        return ComPtr<T>::Attach(static_cast<T*>(p));
    return {};
}

constexpr const char* kErrorCaption = "Quillory error";

// The archive format the dialog cannot take pages from. Only the last four
// characters count: ".MHT" is refused, ".mhtml" and "x.mht?y" are not.
bool IsMhtAddress(std::string_view url)
{
    const std::string_view tail = url.size() > 4 ? url.substr(url.size() - 4) : url;
    std::string lower(tail);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == ".mht";
}

} // namespace

void CTovanix::GrabRun(const ComPtr<IHTMLDocument2>& doc)
{
    // The dialog object is single and embedded. A run that arrived while it
    // is shown (another entry point reached from inside its modal loop)
    // would replace the document the open page is working on and reuse the
    // window, so it is refused before it touches anything - not even a new
    // debug session, which would take the open run's later records.
    if (m_dialogOpen || m_dialog.HasWindow())
        return;
    if (m_settings.DebugMode)
        debuginfo::OpenDebugSession();
    // 1.
    if (!doc)
        return;
    // The page may drop its references while the dialog is open; the object
    // must outlive its own modal loop.
    ComPtr<ITovanix> self(static_cast<ITovanix*>(this));
    try {
        // 2.
        m_grabDocument = doc;
        // 3.
        Bstr url;
        doc->get_URL(url.Out());
        const std::string address = url.Utf8();
        Record("DocURL", address);
        // 4.
        if (IsMhtAddress(address)) {
            ui::MessageBox("Sorry, grabbing files from page in .mht format not supported", "Error", ui::MB_ICONERROR);
            return;
        }
        // 5.
        m_dialog.SetOwner(this);
        Record("Started", "ok");
        // 6.
        m_dialogOpen = true;
        m_dialog.DoModal();
        m_dialogOpen = false;
        if (m_settings.DebugMode)
            debuginfo::SaveDebugInfo();
    } catch (...) {
        if (m_dialog.HasWindow())
            m_dialog.PostClose();
        ui::MessageBox("Sorry, unexpected failure", kErrorCaption, ui::MB_ICONERROR);
        m_dialogOpen = false;
    }
}

HRESULT CTovanix::Grab(IDispatch* lpDisp)
{
    ComPtr<IHTMLDocument2> doc;
    try {
        if (!lpDisp)
            throw std::invalid_argument("no dispatch");
        doc = QueryAs<IHTMLDocument2>(lpDisp, IID_IHTMLDocument2);
    } catch (...) {
        ui::MessageBox("Sorry, unexpected failure (GR2", kErrorCaption, ui::MB_ICONERROR);
        return S_OK;
    }
    GrabRun(doc);
    return S_OK;
}

HRESULT CTovanix::Exec(const GUID*, DWORD, DWORD, VARIANT*, VARIANT*)
{
    ComPtr<IHTMLDocument2> doc;
    try {
        if (!m_siteBrowser)
            throw std::logic_error("not sited");
        IDispatch* raw = nullptr;
        if (FAILED(m_siteBrowser->get_Document(&raw)) || !raw)
            throw std::runtime_error("no document");
        auto disp = ComPtr<IDispatch>::Attach(raw);
        doc = QueryAs<IHTMLDocument2>(disp.get(), IID_IHTMLDocument2);
    } catch (...) {
        ui::MessageBox("Sorry, unexpected failure (GR1", kErrorCaption, ui::MB_ICONERROR);
        return S_OK;
    }
    GrabRun(doc);
    return S_OK;
}

HRESULT CTovanix::QueryStatus(const GUID*, ULONG cCmds, OLECMD* prgCmds, OLECMDTEXT*)
{
    if (!prgCmds)
        return E_POINTER;
    if (cCmds == 0)
        return E_UNEXPECTED;
    prgCmds[0].cmdf = OLECMDF_ENABLED;
    return S_OK;
}

HRESULT CTovanix::SetSite(IUnknown* pUnkSite)
{
    if (!pUnkSite) {
        m_siteBrowser.Reset();
        m_settings.Save();
        return S_OK;
    }
    ComPtr<IWebBrowser2> browser;
    if (auto provider = QueryAs<IServiceProvider>(pUnkSite, IID_IServiceProvider)) {
        void* p = nullptr;
        if (SUCCEEDED(provider->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, &p)) && p)
            browser = ComPtr<IWebBrowser2>::Attach(static_cast<IWebBrowser2*>(p));
    }
    // A new site replaces the browser of the previous one, also by nothing.
    m_siteBrowser = std::move(browser);
    return S_OK;
}

HRESULT CTovanix::GetSite(REFIID, void** ppvSite)
{
    if (ppvSite)
        *ppvSite = nullptr;
    return E_NOTIMPL;
}

HRESULT CTovanix::Exit()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    m_dialog.PostClose();
    Record("Exit", "ok");
    return S_OK;
}
