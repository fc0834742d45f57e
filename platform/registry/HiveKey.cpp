#include "platform/registry/HiveKey.h"

#include <algorithm>
#include <locale.h>
#include <wctype.h>

namespace platform::registry {

namespace {

// C.UTF-8 carries the Unicode case tables whatever locale the program
// runs in; without it only ASCII folds.
locale_t CaseLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t {});
    return locale;
}

void EncodeUtf8(char32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

std::string FoldName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    const locale_t locale = CaseLocale();
    for (std::size_t i = 0; i < name.size();) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b < 0x80) {
            out += static_cast<char>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(name, i, cp);
        if (len == 0) {
            out += name[i++];
            continue;
        }
        char32_t upper = cp;
        if (locale) {
            const wint_t mapped = towupper_l(static_cast<wint_t>(cp), locale);
            // Only mappings to another non-ASCII scalar: U+0131 (dotless
            // i) and U+017F (long s) must not merge with ASCII names.
            if (mapped >= 0x80 && mapped <= 0x10FFFF && !(mapped >= 0xD800 && mapped <= 0xDFFF))
                upper = static_cast<char32_t>(mapped);
        }
        EncodeUtf8(upper, out);
        i += len;
    }
    return out;
}

bool IsValidKeyName(std::string_view name)
{
    if (name.empty())
        return false;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); ++chars) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(name, i, cp);
        if (len == 0 || cp < 0x20 || cp == 0x7F || cp == '\\')
            return false;
        i += len;
    }
    return chars <= kMaxKeyNameChars;
}

HiveKey::HiveKey(std::string name)
    : m_name(std::move(name))
    , m_folded(FoldName(m_name))
{
}

HiveKey::~HiveKey() = default;

std::size_t HiveKey::LowerBound(std::string_view folded) const
{
    const auto it = std::lower_bound(m_subKeys.begin(), m_subKeys.end(), folded,
        [](const std::unique_ptr<HiveKey>& k, std::string_view f) { return k->m_folded < f; });
    return static_cast<std::size_t>(it - m_subKeys.begin());
}

HiveKey* HiveKey::FindSubKey(std::string_view name)
{
    const std::string folded = FoldName(name);
    const std::size_t i = LowerBound(folded);
    if (i < m_subKeys.size() && m_subKeys[i]->m_folded == folded)
        return m_subKeys[i].get();
    return nullptr;
}

const HiveKey* HiveKey::FindSubKey(std::string_view name) const
{
    return const_cast<HiveKey*>(this)->FindSubKey(name);
}

HiveKey& HiveKey::CreateSubKey(std::string_view name, bool* created)
{
    auto key = std::make_unique<HiveKey>(std::string(name));
    const std::size_t i = LowerBound(key->m_folded);
    if (i < m_subKeys.size() && m_subKeys[i]->m_folded == key->m_folded) {
        if (created)
            *created = false;
        return *m_subKeys[i];
    }
    if (created)
        *created = true;
    return **m_subKeys.insert(m_subKeys.begin() + static_cast<std::ptrdiff_t>(i), std::move(key));
}

bool HiveKey::RemoveSubKey(std::string_view name)
{
    const std::string folded = FoldName(name);
    const std::size_t i = LowerBound(folded);
    if (i >= m_subKeys.size() || m_subKeys[i]->m_folded != folded)
        return false;
    m_subKeys.erase(m_subKeys.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
}

const HiveValue* HiveKey::FindValue(std::string_view name) const
{
    const std::string folded = FoldName(name);
    for (const HiveValue& v : m_values)
        if (FoldName(v.name) == folded)
            return &v;
    return nullptr;
}

void HiveKey::SetValue(std::string_view name, DWORD type, std::span<const std::uint8_t> data)
{
    if (const HiveValue* existing = FindValue(name)) {
        auto& v = const_cast<HiveValue&>(*existing);
        v.type = type;
        v.data.assign(data.begin(), data.end());
        return;
    }
    m_values.push_back(HiveValue { std::string(name), type, { data.begin(), data.end() } });
}

bool HiveKey::RemoveValue(std::string_view name)
{
    const HiveValue* existing = FindValue(name);
    if (!existing)
        return false;
    m_values.erase(m_values.begin() + (existing - m_values.data()));
    return true;
}

void HiveKey::Clear()
{
    m_values.clear();
    m_subKeys.clear();
}

bool operator==(const HiveKey& a, const HiveKey& b)
{
    if (a.m_name != b.m_name || a.m_values != b.m_values || a.m_subKeys.size() != b.m_subKeys.size())
        return false;
    for (std::size_t i = 0; i < a.m_subKeys.size(); ++i)
        if (!(*a.m_subKeys[i] == *b.m_subKeys[i]))
            return false;
    return true;
}

} // namespace platform::registry
