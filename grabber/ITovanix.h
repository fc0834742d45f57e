#pragma once
// ITovanix: the grabber object's dual scripting interface. Script reaches
// it through IDispatch (window.external in the grab dialog's page, the
// menu extension's script); compiled callers use the virtual operations,
// which follow IDispatch's in the order of their dispatch identifiers,
// each property's getter before its setter.
#include "platform/com/Unknown.h"

// {2B6E9F40-81A3-4C5D-9E17-6A0D4B3C8F21}
inline constexpr IID IID_ITovanix = MakeGuid(0x2B6E9F40, 0x81A3, 0x4C5D, 0x9E, 0x17, 0x6A, 0x0D, 0x4B, 0x3C, 0x8F, 0x21);
// The class and type library identifiers are the module's (module/ModuleIds.h).

class ITovanix : public IDispatch {
public:
    static constexpr const IID& iid = IID_ITovanix;

    virtual HRESULT Grab(IDispatch* lpDisp) = 0;                            // 1
    virtual HRESULT get_RootFolder(BSTR* pVal) = 0;                         // 3
    virtual HRESULT put_RootFolder(BSTR newVal) = 0;
    virtual HRESULT get_GrabFlash(VARIANT_BOOL* pVal) = 0;                  // 4
    virtual HRESULT put_GrabFlash(VARIANT_BOOL newVal) = 0;
    virtual HRESULT get_GrabImage(VARIANT_BOOL* pVal) = 0;                  // 5
    virtual HRESULT put_GrabImage(VARIANT_BOOL newVal) = 0;
    virtual HRESULT Exit() = 0;                                             // 6
    virtual HRESULT ShowHelp() = 0;                                         // 7
    virtual HRESULT get_AutoClose(VARIANT_BOOL* pVal) = 0;                  // 8
    virtual HRESULT put_AutoClose(VARIANT_BOOL newVal) = 0;
    virtual HRESULT ShowOptions() = 0;                                      // 9
    virtual HRESULT ShowAbout() = 0;                                        // 10
    virtual HRESULT get_GrabQT(VARIANT_BOOL* pVal) = 0;                     // 11
    virtual HRESULT put_GrabQT(VARIANT_BOOL newVal) = 0;
    virtual HRESULT get_GrabRP(VARIANT_BOOL* pVal) = 0;                     // 12
    virtual HRESULT put_GrabRP(VARIANT_BOOL newVal) = 0;
    virtual HRESULT get_GrabMP(VARIANT_BOOL* pVal) = 0;                     // 13
    virtual HRESULT put_GrabMP(VARIANT_BOOL newVal) = 0;
    virtual HRESULT get_GrabCSS(VARIANT_BOOL* pVal) = 0;                    // 14
    virtual HRESULT put_GrabCSS(VARIANT_BOOL newVal) = 0;
    virtual HRESULT get_GrabScript(VARIANT_BOOL* pVal) = 0;                 // 15
    virtual HRESULT put_GrabScript(VARIANT_BOOL newVal) = 0;
    virtual HRESULT Save(BSTR url, BSTR type, LONG* res) = 0;               // 16
    virtual HRESULT GetData(LONG index, BSTR* pData) = 0;                   // 17
    virtual HRESULT LoadText(BSTR url, BSTR* value) = 0;                    // 18
    virtual HRESULT SaveInplace(BSTR url, BSTR type, BSTR value, LONG* res) = 0; // 19
    virtual HRESULT get_SelectAll(VARIANT_BOOL* pVal) = 0;                  // 20
    virtual HRESULT put_SelectAll(VARIANT_BOOL newVal) = 0;
    virtual HRESULT get_IsSaved(VARIANT_BOOL* pVal) = 0;                    // 21
    virtual HRESULT BrowseForFolder(BSTR* res) = 0;                         // 22
    virtual HRESULT SetDlgSize(LONG dX, LONG dY) = 0;                       // 23
    virtual HRESULT SetData(LONG index, BSTR data) = 0;                     // 24
    virtual HRESULT CreateXmlDom(IDispatch** pVal) = 0;                     // 25
    virtual HRESULT StartDownloading() = 0;                                 // 26
    virtual HRESULT CheckSavedUrl(BSTR url, ULONG* state) = 0;              // 27

protected:
    ~ITovanix() = default;
};
