#include "grabber/TovanixMembers.h"

#include <vector>

namespace tovanix {

namespace {

using K = MemberKind;
using N = NeedsDialog;

constexpr Param P(std::u16string_view name, VARTYPE type) { return Param { name, type }; }

// The flag properties share one shape.
constexpr Member Flag(DISPID id, std::u16string_view name)
{
    return Member { id, name, K::Property, { P(u"pVal", VT_BOOL) }, 1, VT_BOOL, N::Yes };
}

constexpr std::array<Member, 26> kMembers = { {
    { 1, u"Grab", K::Method, { P(u"lpDisp", VT_DISPATCH) }, 1, VT_EMPTY, N::No },
    { 3, u"RootFolder", K::Property, { P(u"pVal", VT_BSTR) }, 1, VT_BSTR, N::Yes },
    Flag(4, u"GrabFlash"),
    Flag(5, u"GrabImage"),
    { 6, u"Exit", K::Method, {}, 0, VT_EMPTY, N::Yes },
    { 7, u"ShowHelp", K::Method, {}, 0, VT_EMPTY, N::Yes },
    Flag(8, u"AutoClose"),
    { 9, u"ShowOptions", K::Method, {}, 0, VT_EMPTY, N::Yes },
    { 10, u"ShowAbout", K::Method, {}, 0, VT_EMPTY, N::Yes },
    Flag(11, u"GrabQT"),
    Flag(12, u"GrabRP"),
    Flag(13, u"GrabMP"),
    Flag(14, u"GrabCSS"),
    Flag(15, u"GrabScript"),
    { 16, u"Save", K::Method, { P(u"url", VT_BSTR), P(u"type", VT_BSTR) }, 2, VT_I4, N::Yes },
    { 17, u"GetData", K::Method, { P(u"index", VT_I4) }, 1, VT_BSTR, N::Yes },
    { 18, u"LoadText", K::Method, { P(u"url", VT_BSTR) }, 1, VT_BSTR, N::Yes },
    { 19, u"SaveInplace", K::Method, { P(u"url", VT_BSTR), P(u"type", VT_BSTR), P(u"value", VT_BSTR) }, 3, VT_I4, N::Yes },
    Flag(20, u"SelectAll"),
    { 21, u"IsSaved", K::ReadOnlyProperty, {}, 0, VT_BOOL, N::Yes },
    { 22, u"BrowseForFolder", K::Method, {}, 0, VT_BSTR, N::Yes },
    { 23, u"SetDlgSize", K::Method, { P(u"dX", VT_I4), P(u"dY", VT_I4) }, 2, VT_EMPTY, N::No },
    { 24, u"SetData", K::Method, { P(u"index", VT_I4), P(u"data", VT_BSTR) }, 2, VT_EMPTY, N::Yes },
    { 25, u"CreateXmlDom", K::Method, {}, 0, VT_DISPATCH, N::No },
    { 26, u"StartDownloading", K::Method, {}, 0, VT_EMPTY, N::No },
    { 27, u"CheckSavedUrl", K::Method, { P(u"url", VT_BSTR) }, 1, VT_UI4, N::No },
} };

struct NameEntry {
    std::u16string name;
    DISPID id;
};

const std::vector<NameEntry>& NameTable()
{
    static const std::vector<NameEntry> table = [] {
        std::vector<NameEntry> t;
        for (const auto& m : kMembers) {
            t.push_back({ std::u16string(m.name), m.id });
            if (m.kind == K::Property) {
                t.push_back({ u"get_" + std::u16string(m.name), m.id });
                t.push_back({ u"put_" + std::u16string(m.name), m.id });
            } else if (m.kind == K::ReadOnlyProperty) {
                t.push_back({ u"get_" + std::u16string(m.name), m.id });
            }
        }
        return t;
    }();
    return table;
}

constexpr char16_t FoldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

} // namespace

std::span<const Member> Members()
{
    return kMembers;
}

const Member* FindMember(DISPID id)
{
    for (const auto& m : kMembers) {
        if (m.id == id)
            return &m;
    }
    return nullptr;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

std::optional<DISPID> LookupName(std::u16string_view name)
{
    for (const auto& e : NameTable()) {
        if (EqualsIgnoringAsciiCase(e.name, name))
            return e.id;
    }
    return std::nullopt;
}

std::size_t NameCount()
{
    return NameTable().size();
}

} // namespace tovanix
