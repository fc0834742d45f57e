// IDispatch of the grabber object: the interface the dialog's page and the
// menu extension's script call.
#include "grabber/Tovanix.h"
#include "grabber/TovanixMembers.h"
#include "grabber/TovanixTypeInfo.h"
#include "platform/com/Variant.h"

#include <array>

namespace {

// One argument taken as its declared type. Holds what the conversion made,
// and frees it afterwards; by-reference values are only borrowed.
class Argument {
public:
    // The value of `arg` as type `vt`; false when it cannot be taken.
    bool Take(const VARIANT& arg, VARTYPE vt)
    {
        const VARIANT* v = &arg;
        // A reference to a variant is followed once, to the variant itself.
        if (v->vt == (VT_BYREF | VT_VARIANT)) {
            v = v->pvarVal;
            if (!v)
                return false;
        }
        if (v->vt & VT_BYREF) {
            // A reference is taken only to a value of the declared type.
            if ((v->vt & ~VT_BYREF) != vt || !v->byref)
                return false;
            switch (vt) {
            case VT_BSTR: m_value.bstrVal = *v->pbstrVal; break;
            case VT_BOOL: m_value.boolVal = *v->pboolVal; break;
            case VT_I4: m_value.lVal = *v->plVal; break;
            case VT_DISPATCH: m_value.pdispVal = *v->ppdispVal; break;
            default: return false;
            }
            m_value.vt = vt;
            return true;
        }
        if (v->vt == vt) {
            m_value.vt = vt;
            m_value.lVal = 0;
            switch (vt) {
            case VT_BSTR: m_value.bstrVal = v->bstrVal; break;
            case VT_BOOL: m_value.boolVal = v->boolVal; break;
            case VT_I4: m_value.lVal = v->lVal; break;
            case VT_DISPATCH: m_value.pdispVal = v->pdispVal; break;
            default: return false;
            }
            return true;
        }
        if (FAILED(VariantChangeType(&m_owned, v, 0, vt)) || m_owned.vt != vt)
            return false;
        m_value = static_cast<const VARIANT&>(m_owned);
        return true;
    }

    BSTR Bstr() const { return m_value.bstrVal; }
    VARIANT_BOOL Bool() const { return m_value.boolVal; }
    LONG I4() const { return m_value.lVal; }
    IDispatch* Dispatch() const { return m_value.pdispVal; }

private:
    VARIANT m_value;  // borrowed view
    Variant m_owned;  // storage of a converted value
};

// Out-argument of the member, stored into pVarResult on success.
struct Result {
    BSTR bstr = nullptr;
    VARIANT_BOOL boolean = VARIANT_FALSE;
    LONG i4 = 0;
    ULONG ui4 = 0;
    IDispatch* dispatch = nullptr;

    ~Result()
    {
        SysFreeString(bstr);
        if (dispatch)
            dispatch->Release();
    }

    void StoreInto(VARIANT* out, VARTYPE vt)
    {
        if (!out || vt == VT_EMPTY)
            return;
        out->vt = vt;
        switch (vt) {
        case VT_BSTR: out->bstrVal = std::exchange(bstr, nullptr); break;
        case VT_BOOL: out->boolVal = boolean; break;
        case VT_I4: out->lVal = i4; break;
        case VT_UI4: out->ulVal = ui4; break;
        case VT_DISPATCH: out->pdispVal = std::exchange(dispatch, nullptr); break;
        default: out->vt = VT_EMPTY; break;
        }
    }
};

} // namespace

HRESULT CTovanix::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT CTovanix::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    auto& info = CTovanixTypeInfo::ForInterface();
    info.AddRef();
    *ppTInfo = &info;
    return S_OK;
}

HRESULT CTovanix::GetIDsOfNames(REFIID, OLECHAR** rgszNames, UINT cNames, LCID, DISPID* rgDispId)
{
    if (cNames > 0 && (!rgszNames || !rgDispId))
        return E_POINTER;
    for (UINT i = 0; i < cNames; ++i) {
        const auto id = rgszNames[i] ? tovanix::LookupName(rgszNames[i]) : std::nullopt;
        if (!id) {
            // The unknown name's slot says so; later slots are left alone.
            rgDispId[i] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        rgDispId[i] = *id;
    }
    return S_OK;
}

HRESULT CTovanix::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
    VARIANT* pVarResult, EXCEPINFO*, UINT* puArgErr)
{
    using tovanix::MemberKind;
    // 1.
    if (!pDispParams)
        return DISP_E_BADVARTYPE;
    const UINT argc = pDispParams->cArgs;
    if (argc > 4)
        return DISP_E_BADPARAMCOUNT;
    if (argc > 0 && !pDispParams->rgvarg)
        return DISP_E_BADVARTYPE;
    // 2.
    if (pVarResult)
        VariantInit(pVarResult);
    // 3.
    if (pDispParams->cNamedArgs != 0
        && (pDispParams->cNamedArgs != 1 || !pDispParams->rgdispidNamedArgs
            || pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return DISP_E_NONAMEDARGS;
    // 4.
    const tovanix::Member* member = tovanix::FindMember(dispIdMember);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    // 5.-6. Which operation, and how many arguments it takes.
    bool put = false;
    unsigned expected = member->paramCount;
    VARTYPE resultType = member->result;
    if (member->kind == MemberKind::Property) {
        if (wFlags & DISPATCH_PROPERTYGET) {
            expected = 0;
        } else if (wFlags & DISPATCH_PROPERTYPUT) {
            put = true;
            expected = 1;
            resultType = VT_EMPTY;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
    }
    if (argc != expected)
        return DISP_E_BADPARAMCOUNT;
    // 7. Arguments arrive last first.
    std::array<Argument, 3> args;
    for (unsigned i = 0; i < expected; ++i) {
        const UINT index = argc - 1 - i;
        if (!args[i].Take(pDispParams->rgvarg[index], member->params[i].type)) {
            if (puArgErr)
                *puArgErr = index;
            return DISP_E_TYPEMISMATCH;
        }
    }
    // 8.
    Result r;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    auto flag = [&](auto get, auto set) {
        return put ? (this->*set)(args[0].Bool()) : (this->*get)(&r.boolean);
    };
    switch (member->id) {
    case 1: hr = Grab(args[0].Dispatch()); break;
    case 3: hr = put ? put_RootFolder(args[0].Bstr()) : get_RootFolder(&r.bstr); break;
    case 4: hr = flag(&CTovanix::get_GrabFlash, &CTovanix::put_GrabFlash); break;
    case 5: hr = flag(&CTovanix::get_GrabImage, &CTovanix::put_GrabImage); break;
    case 6: hr = Exit(); break;
    case 7: hr = ShowHelp(); break;
    case 8: hr = flag(&CTovanix::get_AutoClose, &CTovanix::put_AutoClose); break;
    case 9: hr = ShowOptions(); break;
    case 10: hr = ShowAbout(); break;
    case 11: hr = flag(&CTovanix::get_GrabQT, &CTovanix::put_GrabQT); break;
    case 12: hr = flag(&CTovanix::get_GrabRP, &CTovanix::put_GrabRP); break;
    case 13: hr = flag(&CTovanix::get_GrabMP, &CTovanix::put_GrabMP); break;
    case 14: hr = flag(&CTovanix::get_GrabCSS, &CTovanix::put_GrabCSS); break;
    case 15: hr = flag(&CTovanix::get_GrabScript, &CTovanix::put_GrabScript); break;
    case 16: hr = Save(args[0].Bstr(), args[1].Bstr(), &r.i4); break;
    case 17: hr = GetData(args[0].I4(), &r.bstr); break;
    case 18: hr = LoadText(args[0].Bstr(), &r.bstr); break;
    case 19: hr = SaveInplace(args[0].Bstr(), args[1].Bstr(), args[2].Bstr(), &r.i4); break;
    case 20: hr = flag(&CTovanix::get_SelectAll, &CTovanix::put_SelectAll); break;
    case 21: hr = get_IsSaved(&r.boolean); break;
    case 22: hr = BrowseForFolder(&r.bstr); break;
    case 23: hr = SetDlgSize(args[0].I4(), args[1].I4()); break;
    case 24: hr = SetData(args[0].I4(), args[1].Bstr()); break;
    case 25: hr = CreateXmlDom(&r.dispatch); break;
    case 26: hr = StartDownloading(); break;
    case 27: hr = CheckSavedUrl(args[0].Bstr(), &r.ui4); break;
    }
    if (SUCCEEDED(hr))
        r.StoreInto(pVarResult, resultType);
    return hr;
}
