#pragma once
// Type information of the grabber object as code: the ITovanix interface
// (member names, parameter names, dispatch identifiers) and the CTovanix
// coclass whose default interface it is. Both objects exist once per
// process, are made on first use and never go away, which is what a type
// library loaded once and cached gives.
//
// Thread: any (immutable after construction).
#include "platform/com/Unknown.h"

class CTovanixTypeInfo final : public ITypeInfo {
public:
    enum class Kind {
        Interface, // ITovanix
        CoClass,   // CTovanix
    };

    // The process's instances; the pointers stay valid for its lifetime.
    // No reference is added: callers that hand one out call AddRef.
    static CTovanixTypeInfo& ForInterface();
    static CTovanixTypeInfo& ForClass();

    Kind kind() const { return m_kind; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    // Interface: names[0] is a member name (its plain name, case ignored),
    // the other names its parameters. The coclass has no members.
    HRESULT GetIDsOfNames(const OLECHAR* const* names, UINT count, MEMBERID* ids) override;
    // Interface: the member's name followed by its parameter names. CoClass:
    // MEMBERID_NIL (-1) gives "CTovanix".
    HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) override;
    HRESULT GetGuid(GUID* guid) override;

private:
    explicit CTovanixTypeInfo(Kind kind) : m_kind(kind) { }
    ~CTovanixTypeInfo() = default;

    Kind m_kind;
};

inline constexpr MEMBERID MEMBERID_NIL = -1;
