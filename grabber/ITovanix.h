#pragma once
// ITovanix: the grabber object's dual scripting interface. Script reaches
// it through IDispatch (window.external in the grab dialog's page, the
// menu extension's script); compiled callers use the virtual operations,
// which follow IDispatch's in the order of their dispatch identifiers,
// each property's getter before its setter.
#include "platform/com/Unknown.h"

// {2B6E9F40-81A3-4C5D-9E17-6A0D4B3C8F21}
inline constexpr IID IID_ITovanix = MakeGuid(0x2B6E9F40, 0x81A3, 0x4C5D, 0x9E, 0x17, 0x6A, 0x0D, 0x4B, 0x3C, 0x8F, 0x21);
// {7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}
inline constexpr CLSID CLSID_Tovanix = MakeGuid(0x7D3A21B4, 0x5C9E, 0x4F08, 0xA6, 0xD2, 0x3B, 0x81, 0xE0, 0xC4, 0xF9, 0x57);
// Type library "QVTovanix" 1.0, {9C4F1E27-3B6A-4D90-8E5B-F2A7C6D13E48}.
inline constexpr GUID LIBID_QVTovanix = MakeGuid(0x9C4F1E27, 0x3B6A, 0x4D90, 0x8E, 0x5B, 0xF2, 0xA7, 0xC6, 0xD1, 0x3E, 0x48);

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
