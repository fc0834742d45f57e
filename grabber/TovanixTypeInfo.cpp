#include "grabber/TovanixTypeInfo.h"

#include "grabber/ITovanix.h"
#include "grabber/TovanixMembers.h"

#include <string>

namespace {
// The coclass this type information describes, {7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957};
// the module registers the same value.
constexpr CLSID kTovanixClass = MakeGuid(0x7D3A21B4, 0x5C9E, 0x4F08, 0xA6, 0xD2, 0x3B, 0x81, 0xE0, 0xC4, 0xF9, 0x57);
} // namespace

CTovanixTypeInfo& CTovanixTypeInfo::ForInterface()
{
    // Deliberately never destroyed: references handed out may outlive
    // static destruction order.
    static auto* info = new CTovanixTypeInfo(Kind::Interface);
    return *info;
}

CTovanixTypeInfo& CTovanixTypeInfo::ForClass()
{
    static auto* info = new CTovanixTypeInfo(Kind::CoClass);
    return *info;
}

HRESULT CTovanixTypeInfo::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
        *ppv = static_cast<ITypeInfo*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT CTovanixTypeInfo::GetIDsOfNames(const OLECHAR* const* names, UINT count, MEMBERID* ids)
{
    if (!names || !ids)
        return E_INVALIDARG;
    if (count == 0)
        return S_OK;
    if (m_kind == Kind::CoClass || !names[0])
        return DISP_E_UNKNOWNNAME;
    const tovanix::Member* member = nullptr;
    for (const auto& m : tovanix::Members()) {
        if (tovanix::EqualsIgnoringAsciiCase(m.name, names[0])) {
            member = &m;
            break;
        }
    }
    if (!member)
        return DISP_E_UNKNOWNNAME;
    ids[0] = member->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        const auto params = member->Params();
        for (std::size_t p = 0; p < params.size() && names[i]; ++p) {
            if (tovanix::EqualsIgnoringAsciiCase(params[p].name, names[i]))
                ids[i] = static_cast<MEMBERID>(p);
        }
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT CTovanixTypeInfo::GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count)
{
    if (!names || !count)
        return E_INVALIDARG;
    *count = 0;
    if (m_kind == Kind::CoClass) {
        if (id != MEMBERID_NIL)
            return TYPE_E_ELEMENTNOTFOUND;
        if (maxNames > 0) {
            names[0] = SysAllocString(u"CTovanix");
            *count = 1;
        }
        return S_OK;
    }
    const auto* member = tovanix::FindMember(id);
    if (!member)
        return TYPE_E_ELEMENTNOTFOUND;
    std::u16string text(member->name);
    if (maxNames > 0) {
        names[(*count)++] = SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
    }
    // A property's value is not a named parameter of its getter.
    if (member->kind != tovanix::MemberKind::Method)
        return S_OK;
    for (const auto& p : member->Params()) {
        if (*count >= maxNames)
            break;
        names[(*count)++] = SysAllocStringLen(p.name.data(), static_cast<std::uint32_t>(p.name.size()));
    }
    return S_OK;
}

HRESULT CTovanixTypeInfo::GetGuid(GUID* guid)
{
    if (!guid)
        return E_INVALIDARG;
    *guid = m_kind == Kind::Interface ? IID_ITovanix : kTovanixClass;
    return S_OK;
}
