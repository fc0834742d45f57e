#pragma once
// The members of ITovanix as data: dispatch identifiers, kinds, argument
// and result types, and whether a member needs the grab dialog. Dispatch
// (TovanixDispatch.cpp) and the type information (TovanixTypeInfo) read the
// same table, so the two can never disagree.
//
// Thread: any (constant data).
#include "platform/com/Variant.h"

#include <array>
#include <optional>
#include <span>
#include <string_view>

namespace tovanix {

enum class MemberKind {
    Method,           // called whatever the dispatch flags say
    Property,         // read with DISPATCH_PROPERTYGET, written with DISPATCH_PROPERTYPUT
    ReadOnlyProperty, // read whatever the flags say, like a method
};

enum class NeedsDialog { No, Yes };

struct Param {
    std::u16string_view name;
    VARTYPE type = VT_EMPTY;
};

struct Member {
    DISPID id = 0;
    std::u16string_view name;
    MemberKind kind = MemberKind::Method;
    // In-arguments in declaration order; for a property, the one value its
    // setter takes (and its getter gives).
    std::array<Param, 3> params {};
    unsigned paramCount = 0;
    // Type of the out-argument marked as the return value; VT_EMPTY when none.
    VARTYPE result = VT_EMPTY;
    NeedsDialog needsDialog = NeedsDialog::Yes;

    std::span<const Param> Params() const { return { params.data(), paramCount }; }
};

// Members in dispatch-identifier order (2 is unused).
std::span<const Member> Members();
// The member with that identifier; null for 2, below 1 or above 27.
const Member* FindMember(DISPID id);
// Looks a name up in the scripting name table: every member name, "get_"
// and "put_" with each read-and-write property, "get_IsSaved". Letter case
// is ignored for ASCII letters only, whatever the locale.
std::optional<DISPID> LookupName(std::u16string_view name);
// How many names that table holds (47).
std::size_t NameCount();
// Case-insensitive ASCII comparison used by the lookups.
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

} // namespace tovanix
