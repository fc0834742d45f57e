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
