#pragma once
// CTovanix: the grabber object. The browser (or the host standing in for
// it) creates one per window and sites it, or a script creates one and
// calls Grab; either way a grab run shows the grab dialog modally, and the
// dialog's page drives the object through ITovanix until the dialog closes.
//
// Thread: UI only. The object is apartment-threaded: every call, including
// those the page makes from inside the grab dialog's modal loop, comes on
// the thread that created it. The dialog-open flag is its only guard.
#include "grabber/BrowserInterfaces.h"
#include "grabber/ITovanix.h"
#include "grabber/ModuleLock.h"
#include "grabber/TovanixDialog.h"
#include "grabber/TovanixSettings.h"
#include "platform/com/ComPtr.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>

// Creates a grabber object. Without `outer` it answers riid; with one
// (aggregation) only IID_IUnknown may be asked for, and the object's own
// inner IUnknown is returned while its other interfaces delegate to outer.
HRESULT CreateTovanixInstance(IUnknown* outer, REFIID riid, void** ppv);

class CTovanix final : public ITovanix, public IObjectWithSite, public IOleCommandTarget, public IProvideClassInfo {
public:
    // IUnknown of every interface: delegates to the controlling unknown
    // (the inner one, or the outer object when aggregated).
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IDispatch (TovanixDispatch.cpp).
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, OLECHAR** rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // Grab run and browser entry points (TovanixGrab.cpp).
    HRESULT Grab(IDispatch* lpDisp) override;
    HRESULT Exit() override;
    HRESULT SetSite(IUnknown* pUnkSite) override;
    HRESULT GetSite(REFIID riid, void** ppvSite) override;
    HRESULT QueryStatus(const GUID* pguidCmdGroup, ULONG cCmds, OLECMD* prgCmds, OLECMDTEXT* pCmdText) override;
    HRESULT Exec(const GUID* pguidCmdGroup, DWORD nCmdID, DWORD nCmdexecopt, VARIANT* pvaIn, VARIANT* pvaOut) override;
    HRESULT GetClassInfo(ITypeInfo** ppTI) override;

    // Settings properties (TovanixProperties.cpp).
    HRESULT get_RootFolder(BSTR* pVal) override;
    HRESULT put_RootFolder(BSTR newVal) override;
    HRESULT get_GrabFlash(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabFlash(VARIANT_BOOL newVal) override;
    HRESULT get_GrabImage(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabImage(VARIANT_BOOL newVal) override;
    HRESULT get_AutoClose(VARIANT_BOOL* pVal) override;
    HRESULT put_AutoClose(VARIANT_BOOL newVal) override;
    HRESULT get_GrabQT(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabQT(VARIANT_BOOL newVal) override;
    HRESULT get_GrabRP(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabRP(VARIANT_BOOL newVal) override;
    HRESULT get_GrabMP(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabMP(VARIANT_BOOL newVal) override;
    HRESULT get_GrabCSS(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabCSS(VARIANT_BOOL newVal) override;
    HRESULT get_GrabScript(VARIANT_BOOL* pVal) override;
    HRESULT put_GrabScript(VARIANT_BOOL newVal) override;
    HRESULT get_SelectAll(VARIANT_BOOL* pVal) override;
    HRESULT put_SelectAll(VARIANT_BOOL newVal) override;

    // Page commands for saving (TovanixPageCommands.cpp).
    HRESULT Save(BSTR url, BSTR type, LONG* res) override;
    HRESULT StartDownloading() override;
    HRESULT CheckSavedUrl(BSTR url, ULONG* state) override;
    HRESULT LoadText(BSTR url, BSTR* value) override;
    HRESULT SaveInplace(BSTR url, BSTR type, BSTR value, LONG* res) override;
    HRESULT get_IsSaved(VARIANT_BOOL* pVal) override;
    HRESULT BrowseForFolder(BSTR* res) override;
    HRESULT SetDlgSize(LONG dX, LONG dY) override;
    HRESULT CreateXmlDom(IDispatch** pVal) override;

    // Dialog content (TovanixDialogData.cpp).
    HRESULT GetData(LONG index, BSTR* pData) override;
    HRESULT SetData(LONG index, BSTR data) override;

    // Secondary windows (TovanixWindows.cpp).
    HRESULT ShowHelp() override;
    HRESULT ShowOptions() override;
    HRESULT ShowAbout() override;

    // State that the page builder, the language data and tests read.
    bool DialogOpen() const { return m_dialogOpen; }
    const CTovanixDialog& GrabDialog() const { return m_dialog; }
    CTovanixDialog& GrabDialog() { return m_dialog; }
    const std::set<std::string>& SaveSet() const { return m_saveSet; }
    const std::map<std::string, std::uint32_t>& Results() const { return m_results; }
    const ComPtr<IHTMLDocument2>& GrabDocument() const { return m_grabDocument; }
    const ComPtr<IWebBrowser2>& SiteBrowser() const { return m_siteBrowser; }
    const CTovanixSettings& Settings() const { return m_settings; }
    const std::string& RootFolderText() const { return m_settings.RootFolder; }

    // The common part of Grab and Exec.
    void GrabRun(const ComPtr<IHTMLDocument2>& doc);

private:
    friend HRESULT CreateTovanixInstance(IUnknown* outer, REFIID riid, void** ppv);

    // The non-delegating IUnknown: owns the reference count and answers
    // QueryInterface for the object's own interfaces.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CTovanix& owner) : m_owner(owner) { }
        HRESULT QueryInterface(REFIID riid, void** ppv) override;
        ULONG AddRef() override;
        ULONG Release() override;

    private:
        CTovanix& m_owner;
    };

    explicit CTovanix(IUnknown* outer);
    ~CTovanix();

    // E_PENDING unless the grab dialog is shown.
    HRESULT NeedsDialog() const { return m_dialogOpen ? S_OK : E_PENDING; }
    HRESULT GetFlag(std::uint8_t CTovanixSettings::*flag, VARIANT_BOOL* pVal) const;
    HRESULT PutFlag(std::uint8_t CTovanixSettings::*flag, VARIANT_BOOL newVal);
    void Record(std::string_view name, std::string_view text) const;

    CModuleLockHolder m_moduleLock;
    InnerUnknown m_inner { *this };
    IUnknown* m_controlling; // &m_inner, or the aggregating object

    // Members in the grabber's declaration order.
    std::atomic<ULONG> m_refs { 0 };
    std::set<std::string> m_saveSet; // std::string orders byte-wise (unsigned bytes), case-sensitive
    bool m_dialogOpen = false;
    CTovanixDialog m_dialog;
    CTovanixSettings m_settings; // the ten flags and the root folder
    std::map<std::string, std::uint32_t> m_results;
    ComPtr<IWebBrowser2> m_siteBrowser;
    ComPtr<IHTMLDocument2> m_grabDocument;
};
