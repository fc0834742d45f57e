#pragma once
// VARIANT with the types the dispatch interface exchanges, and the
// conversions Invoke relies on.
#include "platform/com/Unknown.h"

using VARTYPE = std::uint16_t;
enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI4 = 19,
    VT_INT = 22,
    VT_UINT = 23,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt = VT_EMPTY;
    WORD wReserved1 = 0, wReserved2 = 0, wReserved3 = 0;
    union {
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::int16_t iVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        std::int32_t* plVal;
        std::uint32_t* pulVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
    VARIANT() : lVal(0) { }
};

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, interface reference) and empties it.
HRESULT VariantClear(VARIANT* v);
// Deep copy: a new BSTR, an added reference.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Follows a VT_BYREF to the value it refers to and copies that.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);
// Converts src into dest of type vt (dest may be src). Supported targets:
// VT_EMPTY, VT_I4, VT_UI4, VT_BOOL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN.
// A conversion that cannot be made returns DISP_E_TYPEMISMATCH (or
// DISP_E_OVERFLOW for a number out of range) and leaves dest unchanged.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, std::uint16_t flags, VARTYPE vt);

// Owning VARIANT.
class Variant : public VARIANT {
public:
    Variant() = default;
    Variant(const Variant& o) : VARIANT() { VariantCopy(this, &o); }
    Variant(Variant&& o) noexcept : VARIANT(static_cast<const VARIANT&>(o)) { VariantInit(&o); }
    Variant& operator=(Variant o) noexcept
    {
        std::swap(static_cast<VARIANT&>(*this), static_cast<VARIANT&>(o));
        return *this;
    }
    ~Variant() { VariantClear(this); }

    static Variant FromI4(std::int32_t v);
    static Variant FromUI4(std::uint32_t v);
    static Variant FromBool(bool v);
    static Variant FromBstr(Bstr v);
    static Variant FromString(std::string_view utf8) { return FromBstr(Bstr(utf8)); }
    static Variant FromDispatch(IDispatch* d); // adds a reference
    static Variant FromUnknown(IUnknown* u);   // adds a reference
    static Variant FromError(SCODE sc);
};
