#pragma once
// An XML DOM document as a dispatch object, for the dialog page's own use
// (ITovanix::CreateXmlDom). Script sees the members a page needs to parse
// and re-serialise data: loadXML(text) -> bool, the read-only xml text and
// the async flag (loading is always synchronous; the flag is only kept).
//
// Thread: the thread that uses it; no object is shared between threads.
#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/xml/Document.h"

class CXmlDomObject final : public DispatchObject<IDispatch> {
public:
    // Dispatch identifiers of the DOM members offered.
    static constexpr DISPID kDispLoadXml = 1;
    static constexpr DISPID kDispXml = 2;
    static constexpr DISPID kDispAsync = 3;

    // A new, empty document.
    static ComPtr<IDispatch> Create();

    HRESULT GetIDsOfNames(REFIID riid, OLECHAR** rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    xml::Document& Document() { return m_doc; }

private:
    CXmlDomObject() = default;
    ~CXmlDomObject() override = default;

    xml::Document m_doc;
    bool m_async = true;
};
