#include "grabber/XmlDomObject.h"

#include "grabber/TovanixMembers.h"
#include "platform/com/Utf.h"
#include "platform/com/Variant.h"

#include <array>

namespace {

struct DomName {
    std::u16string_view name;
    DISPID id;
};

constexpr std::array<DomName, 3> kNames = { {
    { u"loadXML", CXmlDomObject::kDispLoadXml },
    { u"xml", CXmlDomObject::kDispXml },
    { u"async", CXmlDomObject::kDispAsync },
} };

} // namespace

ComPtr<IDispatch> CXmlDomObject::Create()
{
    return ComPtr<IDispatch>::Attach(new CXmlDomObject());
}

HRESULT CXmlDomObject::GetIDsOfNames(REFIID, OLECHAR** rgszNames, UINT cNames, LCID, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId)
        return E_POINTER;
    for (UINT i = 0; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        for (const auto& n : kNames) {
            if (rgszNames[i] && tovanix::EqualsIgnoringAsciiCase(n.name, rgszNames[i]))
                rgDispId[i] = n.id;
        }
        if (rgDispId[i] == DISPID_UNKNOWN)
            return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

HRESULT CXmlDomObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
    VARIANT* pVarResult, EXCEPINFO*, UINT* puArgErr)
{
    if (!pDispParams)
        return DISP_E_BADVARTYPE;
    if (pVarResult)
        VariantInit(pVarResult);
    const UINT argc = pDispParams->cArgs;
    if (argc > 0 && !pDispParams->rgvarg)
        return DISP_E_BADVARTYPE;
    switch (dispIdMember) {
    case kDispLoadXml: {
        if (argc != 1)
            return DISP_E_BADPARAMCOUNT;
        Variant text;
        if (FAILED(VariantChangeType(&text, &pDispParams->rgvarg[0], 0, VT_BSTR))) {
            if (puArgErr)
                *puArgErr = 0;
            return DISP_E_TYPEMISMATCH;
        }
        const bool ok = m_doc.LoadXml(Utf16ToUtf8(BstrView(text.bstrVal)));
        if (pVarResult) {
            pVarResult->vt = VT_BOOL;
            pVarResult->boolVal = ok ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    case kDispXml:
        if (!(wFlags & DISPATCH_PROPERTYGET))
            return DISP_E_MEMBERNOTFOUND;
        if (argc != 0)
            return DISP_E_BADPARAMCOUNT;
        if (pVarResult) {
            pVarResult->vt = VT_BSTR;
            pVarResult->bstrVal = Bstr(m_doc.Xml()).Detach();
        }
        return S_OK;
    case kDispAsync:
        if (wFlags & DISPATCH_PROPERTYGET) {
            if (argc != 0)
                return DISP_E_BADPARAMCOUNT;
            if (pVarResult) {
                pVarResult->vt = VT_BOOL;
                pVarResult->boolVal = m_async ? VARIANT_TRUE : VARIANT_FALSE;
            }
            return S_OK;
        }
        if (wFlags & DISPATCH_PROPERTYPUT) {
            if (argc != 1)
                return DISP_E_BADPARAMCOUNT;
            Variant flag;
            if (FAILED(VariantChangeType(&flag, &pDispParams->rgvarg[0], 0, VT_BOOL))) {
                if (puArgErr)
                    *puArgErr = 0;
                return DISP_E_TYPEMISMATCH;
            }
            m_async = flag.boolVal != VARIANT_FALSE;
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}
