#include "platform/com/Variant.h"

#include "platform/com/Utf.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

void VariantInit(VARIANT* v)
{
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->lVal = 0;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_POINTER;
    if (!(v->vt & VT_BYREF)) {
        switch (v->vt) {
        case VT_BSTR:
            SysFreeString(v->bstrVal);
            break;
        case VT_DISPATCH:
            if (v->pdispVal)
                v->pdispVal->Release();
            break;
        case VT_UNKNOWN:
            if (v->punkVal)
                v->punkVal->Release();
            break;
        default:
            break;
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_POINTER;
    if (dest == src)
        return S_OK;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        switch (src->vt) {
        case VT_BSTR:
            if (src->bstrVal) {
                copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal), SysStringByteLen(src->bstrVal));
                if (!copy.bstrVal)
                    return E_OUTOFMEMORY;
            }
            break;
        case VT_DISPATCH:
            if (copy.pdispVal)
                copy.pdispVal->AddRef();
            break;
        case VT_UNKNOWN:
            if (copy.punkVal)
                copy.punkVal->AddRef();
            break;
        default:
            break;
        }
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

namespace {

// The value a by-reference variant refers to, as a by-value variant that
// borrows (does not own) what it holds.
std::optional<VARIANT> Deref(const VARIANT& v)
{
    if (!(v.vt & VT_BYREF))
        return v;
    if (!v.byref)
        return std::nullopt;
    VARIANT r;
    r.vt = v.vt & ~VT_BYREF;
    switch (r.vt) {
    case VT_I4: r.lVal = *v.plVal; break;
    case VT_UI4: r.ulVal = *v.pulVal; break;
    case VT_BOOL: r.boolVal = *v.pboolVal; break;
    case VT_ERROR: r.scode = *v.pscode; break;
    case VT_BSTR: r.bstrVal = *v.pbstrVal; break;
    case VT_DISPATCH: r.pdispVal = *v.ppdispVal; break;
    case VT_UNKNOWN: r.punkVal = *v.ppunkVal; break;
    case VT_VARIANT: return Deref(*v.pvarVal);
    default: return std::nullopt;
    }
    return r;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// A decimal number as text ("12", "-3", "1.5", "2e3"); nothing else.
std::optional<double> ParseNumber(std::string_view text)
{
    std::string s(Trim(text));
    if (s.empty())
        return std::nullopt;
    for (char c : s)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'))
            return std::nullopt;
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(d))
        return std::nullopt;
    return d;
}

// Automation rounds half to even when it narrows a real number.
HRESULT ToInteger(double d, double lo, double hi, std::int64_t& out)
{
    double r = std::nearbyint(d);
    if (std::fabs(d - std::trunc(d)) == 0.5)
        r = 2.0 * std::round(d / 2.0);
    if (!(r >= lo && r <= hi))
        return DISP_E_OVERFLOW;
    out = static_cast<std::int64_t>(r);
    return S_OK;
}

HRESULT NumberOf(const VARIANT& v, double& out)
{
    switch (v.vt) {
    case VT_EMPTY: out = 0; return S_OK;
    case VT_I2: out = v.iVal; return S_OK;
    case VT_I4: case VT_INT: out = v.lVal; return S_OK;
    case VT_UI4: case VT_UINT: out = v.ulVal; return S_OK;
    case VT_R8: out = v.dblVal; return S_OK;
    case VT_BOOL: out = v.boolVal ? -1 : 0; return S_OK;
    case VT_BSTR: {
        auto text = Utf16ToUtf8(BstrView(v.bstrVal));
        if (auto d = ParseNumber(text)) {
            out = *d;
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

} // namespace

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_POINTER;
    auto v = Deref(*src);
    if (!v)
        return DISP_E_BADVARTYPE;
    VARIANT tmp;
    HRESULT hr = VariantCopy(&tmp, &*v);
    if (FAILED(hr))
        return hr;
    VariantClear(dest);
    *dest = tmp;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, std::uint16_t, VARTYPE vt)
{
    if (!dest || !src)
        return E_POINTER;
    auto in = Deref(*src);
    if (!in)
        return DISP_E_BADVARTYPE;
    const VARIANT& s = *in;
    VARIANT out;
    if (s.vt == vt) {
        HRESULT hr = VariantCopy(&out, &s);
        if (FAILED(hr))
            return hr;
    } else {
        out.vt = vt;
        switch (vt) {
        case VT_EMPTY:
            break;
        case VT_I4:
        case VT_UI4: {
            double d;
            if (HRESULT hr = NumberOf(s, d); FAILED(hr))
                return hr;
            std::int64_t n;
            HRESULT hr = vt == VT_I4 ? ToInteger(d, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), n)
                                     : ToInteger(d, 0, std::numeric_limits<std::uint32_t>::max(), n);
            if (FAILED(hr))
                return hr;
            if (vt == VT_I4)
                out.lVal = static_cast<std::int32_t>(n);
            else
                out.ulVal = static_cast<std::uint32_t>(n);
            break;
        }
        case VT_BOOL: {
            if (s.vt == VT_BSTR) {
                auto text = std::string(Trim(Utf16ToUtf8(BstrView(s.bstrVal))));
                if (EqualsNoCase(text, "true") || EqualsNoCase(text, "#TRUE#")) {
                    out.boolVal = VARIANT_TRUE;
                    break;
                }
                if (EqualsNoCase(text, "false") || EqualsNoCase(text, "#FALSE#")) {
                    out.boolVal = VARIANT_FALSE;
                    break;
                }
            }
            double d;
            if (HRESULT hr = NumberOf(s, d); FAILED(hr))
                return hr;
            out.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case VT_BSTR: {
            std::string text;
            switch (s.vt) {
            case VT_EMPTY: break;
            case VT_I2: text = std::to_string(s.iVal); break;
            case VT_I4: case VT_INT: text = std::to_string(s.lVal); break;
            case VT_UI4: case VT_UINT: text = std::to_string(s.ulVal); break;
            case VT_BOOL: text = s.boolVal ? "-1" : "0"; break;
            case VT_R8: {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.15g", s.dblVal);
                text = buf;
                break;
            }
            default: return DISP_E_TYPEMISMATCH;
            }
            auto w = Utf8ToUtf16(text);
            out.bstrVal = SysAllocStringLen(w.data(), static_cast<std::uint32_t>(w.size()));
            if (!out.bstrVal)
                return E_OUTOFMEMORY;
            break;
        }
        case VT_DISPATCH:
            if (s.vt == VT_EMPTY) {
                out.pdispVal = nullptr;
            } else if (s.vt == VT_UNKNOWN) {
                out.pdispVal = nullptr;
                if (!s.punkVal)
                    break;
                if (FAILED(s.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out.pdispVal))) || !out.pdispVal)
                    return DISP_E_TYPEMISMATCH;
            } else {
                return DISP_E_TYPEMISMATCH;
            }
            break;
        case VT_UNKNOWN:
            if (s.vt == VT_DISPATCH) {
                out.punkVal = s.pdispVal;
                if (out.punkVal)
                    out.punkVal->AddRef();
            } else if (s.vt == VT_EMPTY) {
                out.punkVal = nullptr;
            } else {
                return DISP_E_TYPEMISMATCH;
            }
            break;
        default:
            return DISP_E_BADVARTYPE;
        }
    }
    VariantClear(dest);
    *dest = out;
    return S_OK;
}

Variant Variant::FromI4(std::int32_t v)
{
    Variant r;
    r.vt = VT_I4;
    r.lVal = v;
    return r;
}

Variant Variant::FromUI4(std::uint32_t v)
{
    Variant r;
    r.vt = VT_UI4;
    r.ulVal = v;
    return r;
}

Variant Variant::FromBool(bool v)
{
    Variant r;
    r.vt = VT_BOOL;
    r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

Variant Variant::FromBstr(Bstr v)
{
    Variant r;
    r.vt = VT_BSTR;
    r.bstrVal = v.Detach();
    return r;
}

Variant Variant::FromDispatch(IDispatch* d)
{
    Variant r;
    r.vt = VT_DISPATCH;
    r.pdispVal = d;
    if (d)
        d->AddRef();
    return r;
}

Variant Variant::FromUnknown(IUnknown* u)
{
    Variant r;
    r.vt = VT_UNKNOWN;
    r.punkVal = u;
    if (u)
        u->AddRef();
    return r;
}

Variant Variant::FromError(SCODE sc)
{
    Variant r;
    r.vt = VT_ERROR;
    r.scode = sc;
    return r;
}
