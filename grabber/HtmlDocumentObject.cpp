#include "grabber/HtmlDocumentObject.h"

#include "grabber/TovanixMembers.h"
#include "platform/com/Variant.h"

ComPtr<IHTMLDocument2> CHtmlDocumentObject::Create(std::shared_ptr<const html::Document> model)
{
    if (!model)
        return {};
    return ComPtr<IHTMLDocument2>::Attach(new CHtmlDocumentObject(std::move(model)));
}

std::shared_ptr<const html::Document> CHtmlDocumentObject::ModelOf(IUnknown* object)
{
    if (!object)
        return nullptr;
    ComPtr<IHtmlDocumentModel> model;
    if (FAILED(object->QueryInterface(IID_IHtmlDocumentModel, model.OutVoid())) || !model)
        return nullptr;
    return model->Model();
}

HRESULT CHtmlDocumentObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IHTMLDocument2)
        *ppv = static_cast<IHTMLDocument2*>(this);
    else if (riid == IID_IHtmlDocumentModel)
        *ppv = static_cast<IHtmlDocumentModel*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CHtmlDocumentObject::AddRef()
{
    return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CHtmlDocumentObject::Release()
{
    ULONG n = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CHtmlDocumentObject::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

HRESULT CHtmlDocumentObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT CHtmlDocumentObject::GetIDsOfNames(REFIID, OLECHAR** rgszNames, UINT cNames, LCID, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId)
        return E_POINTER;
    for (UINT i = 0; i < cNames; ++i) {
        if (!rgszNames[i] || !tovanix::EqualsIgnoringAsciiCase(rgszNames[i], u"URL")) {
            rgDispId[i] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        rgDispId[i] = DISPID_IHTMLDOCUMENT2_URL;
    }
    return S_OK;
}

HRESULT CHtmlDocumentObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
    VARIANT* pVarResult, EXCEPINFO*, UINT*)
{
    if (!pDispParams)
        return DISP_E_BADVARTYPE;
    if (pVarResult)
        VariantInit(pVarResult);
    if (dispIdMember != DISPID_IHTMLDOCUMENT2_URL || !(wFlags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    if (pDispParams->cArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    BSTR url = nullptr;
    HRESULT hr = get_URL(&url);
    if (FAILED(hr))
        return hr;
    if (pVarResult) {
        pVarResult->vt = VT_BSTR;
        pVarResult->bstrVal = url;
    } else {
        SysFreeString(url);
    }
    return S_OK;
}

HRESULT CHtmlDocumentObject::get_URL(BSTR* p)
{
    if (!p)
        return E_POINTER;
    *p = Bstr(m_model->URL).Detach();
    return S_OK;
}
