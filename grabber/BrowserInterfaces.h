#pragma once
// The browser's interfaces that the grabber object implements or calls,
// reduced to the operations it uses. Identifiers and numeric constants are
// the browser's, so a host that bridges a real browser can pass them
// through unchanged.
#include "platform/com/Unknown.h"

struct VARIANT;

// {FC4801A3-2BA9-11CF-A229-00AA003D7352}
inline constexpr IID IID_IObjectWithSite = MakeGuid(0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52);
// {B722BCCB-4E68-101B-A2BC-00AA00404770}
inline constexpr IID IID_IOleCommandTarget = MakeGuid(0xB722BCCB, 0x4E68, 0x101B, 0xA2, 0xBC, 0x00, 0xAA, 0x00, 0x40, 0x47, 0x70);
// {6D5140C1-7436-11CE-8034-00AA006009FA}
inline constexpr IID IID_IServiceProvider = MakeGuid(0x6D5140C1, 0x7436, 0x11CE, 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA);
// {0002DF05-0000-0000-C000-000000000046}: IWebBrowserApp, the service
// under which a browser site offers its browser.
inline constexpr GUID SID_SWebBrowserApp = MakeGuid(0x0002DF05, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
// {D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}
inline constexpr IID IID_IWebBrowser2 = MakeGuid(0xD30C1661, 0xCDAF, 0x11D0, 0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E);
// {332C4425-26CB-11D0-B483-00C04FD90119}
inline constexpr IID IID_IHTMLDocument2 = MakeGuid(0x332C4425, 0x26CB, 0x11D0, 0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19);
// {B196B283-BAB4-101A-B69C-00AA00341D07}
inline constexpr IID IID_IProvideClassInfo = MakeGuid(0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

class IObjectWithSite : public IUnknown {
public:
    static constexpr const IID& iid = IID_IObjectWithSite;
    virtual HRESULT SetSite(IUnknown* pUnkSite) = 0;
    virtual HRESULT GetSite(REFIID riid, void** ppvSite) = 0;

protected:
    ~IObjectWithSite() = default;
};

// OLECMDF: command state flags.
inline constexpr DWORD OLECMDF_SUPPORTED = 0x1;
inline constexpr DWORD OLECMDF_ENABLED = 0x2;
inline constexpr DWORD OLECMDF_LATCHED = 0x4;
inline constexpr DWORD OLECMDF_NINCHED = 0x8;

struct OLECMD {
    ULONG cmdID = 0;
    DWORD cmdf = 0;
};

struct OLECMDTEXT {
    DWORD cmdtextf = 0;
    ULONG cwActual = 0;
    ULONG cwBuf = 0;
    OLECHAR rgwz[1] = {};
};

class IOleCommandTarget : public IUnknown {
public:
    static constexpr const IID& iid = IID_IOleCommandTarget;
    virtual HRESULT QueryStatus(const GUID* pguidCmdGroup, ULONG cCmds, OLECMD* prgCmds, OLECMDTEXT* pCmdText) = 0;
    virtual HRESULT Exec(const GUID* pguidCmdGroup, DWORD nCmdID, DWORD nCmdexecopt, VARIANT* pvaIn, VARIANT* pvaOut) = 0;

protected:
    ~IOleCommandTarget() = default;
};

class IServiceProvider : public IUnknown {
public:
    static constexpr const IID& iid = IID_IServiceProvider;
    virtual HRESULT QueryService(REFGUID guidService, REFIID riid, void** ppvObject) = 0;

protected:
    ~IServiceProvider() = default;
};

// The browser window: only the current document is read.
class IWebBrowser2 : public IDispatch {
public:
    static constexpr const IID& iid = IID_IWebBrowser2;
    virtual HRESULT get_Document(IDispatch** ppDisp) = 0;

protected:
    ~IWebBrowser2() = default;
};

// A page's document: the grab run reads its address; discovery reaches the
// document model behind it through IHtmlDocumentModel (HtmlDocumentObject.h).
class IHTMLDocument2 : public IDispatch {
public:
    static constexpr const IID& iid = IID_IHTMLDocument2;
    virtual HRESULT get_URL(BSTR* p) = 0;

protected:
    ~IHTMLDocument2() = default;
};

class IProvideClassInfo : public IUnknown {
public:
    static constexpr const IID& iid = IID_IProvideClassInfo;
    virtual HRESULT GetClassInfo(ITypeInfo** ppTI) = 0;

protected:
    ~IProvideClassInfo() = default;
};
