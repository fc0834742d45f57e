// The settings as the page sees them: nine flags and the root folder.
#include "grabber/NarrowText.h"
#include "grabber/Tovanix.h"

HRESULT CTovanix::GetFlag(std::uint8_t CTovanixSettings::*flag, VARIANT_BOOL* pVal) const
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!pVal)
        return E_POINTER;
    *pVal = VariantBoolFromFlag(m_settings.*flag);
    return S_OK;
}

HRESULT CTovanix::PutFlag(std::uint8_t CTovanixSettings::*flag, VARIANT_BOOL newVal)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    m_settings.*flag = FlagFromVariantBool(newVal);
    return S_OK;
}

HRESULT CTovanix::get_GrabFlash(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabFlash, pVal); }
HRESULT CTovanix::put_GrabFlash(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabFlash, newVal); }
HRESULT CTovanix::get_GrabImage(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabPictures, pVal); }
HRESULT CTovanix::put_GrabImage(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabPictures, newVal); }
HRESULT CTovanix::get_AutoClose(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::AutoClose, pVal); }
HRESULT CTovanix::put_AutoClose(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::AutoClose, newVal); }
HRESULT CTovanix::get_GrabQT(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabQuickTime, pVal); }
HRESULT CTovanix::put_GrabQT(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabQuickTime, newVal); }
HRESULT CTovanix::get_GrabRP(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabRealPlayer, pVal); }
HRESULT CTovanix::put_GrabRP(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabRealPlayer, newVal); }
HRESULT CTovanix::get_GrabMP(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabMediaPlayer, pVal); }
HRESULT CTovanix::put_GrabMP(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabMediaPlayer, newVal); }
HRESULT CTovanix::get_GrabCSS(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabCSS, pVal); }
HRESULT CTovanix::put_GrabCSS(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabCSS, newVal); }
HRESULT CTovanix::get_GrabScript(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::GrabScripts, pVal); }
HRESULT CTovanix::put_GrabScript(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::GrabScripts, newVal); }
HRESULT CTovanix::get_SelectAll(VARIANT_BOOL* pVal) { return GetFlag(&CTovanixSettings::SelectAll, pVal); }
HRESULT CTovanix::put_SelectAll(VARIANT_BOOL newVal) { return PutFlag(&CTovanixSettings::SelectAll, newVal); }

HRESULT CTovanix::get_RootFolder(BSTR* pVal)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!pVal)
        return E_POINTER;
    Record("RootFolder", m_settings.RootFolder);
    *pVal = WideText(m_settings.RootFolder);
    return S_OK;
}

HRESULT CTovanix::put_RootFolder(BSTR newVal)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    // The text is stored as given; only the walk uses its canonical form.
    std::string text = NarrowText(newVal);
    if (CreateRootFolder(text) != RootFolderResult::Exists)
        return E_FAIL;
    m_settings.RootFolder = std::move(text);
    Record("RootFolderChanged", m_settings.RootFolder);
    return S_OK;
}
