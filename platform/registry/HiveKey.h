#pragma once
// One key of a hive held in memory: its name, its values in the order they
// were first set, and its subkeys sorted by folded name so that lookups
// are binary searches and enumeration by index is direct.
#include "platform/com/HResult.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::registry {

// Length of the valid UTF-8 sequence at s[i] (and its code point), or 0
// when the bytes there are not one (overlong, surrogate, truncated...).
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp);

// Names compare as Windows compares them: each character mapped to upper
// case (simple Unicode mapping). Bytes that are not valid UTF-8 stay as
// they are, so distinct invalid names never collide.
std::string FoldName(std::string_view name);

// Windows' limits: a key name has at most 255 characters and a path at
// most 512 levels. They also bound the recursion over a tree read from a
// file.
inline constexpr std::size_t kMaxKeyNameChars = 255;
inline constexpr std::size_t kMaxKeyDepth = 512;

// A key name is 1 to 255 characters of valid UTF-8 without backslash or
// control characters (they could not be written into a section header).
bool IsValidKeyName(std::string_view name);

struct HiveValue {
    std::string name;
    DWORD type = 0;
    std::vector<std::uint8_t> data;

    friend bool operator==(const HiveValue& a, const HiveValue& b)
    {
        return a.name == b.name && a.type == b.type && a.data == b.data;
    }
};

// Thread: whoever owns the tree; no internal locking.
class HiveKey {
public:
    explicit HiveKey(std::string name);
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;
    ~HiveKey();

    const std::string& Name() const { return m_name; }

    HiveKey* FindSubKey(std::string_view name);
    const HiveKey* FindSubKey(std::string_view name) const;
    // Returns the existing subkey (keeping its case) or a new empty one.
    HiveKey& CreateSubKey(std::string_view name, bool* created = nullptr);
    bool RemoveSubKey(std::string_view name);
    std::size_t SubKeyCount() const { return m_subKeys.size(); }
    const HiveKey& SubKeyAt(std::size_t index) const { return *m_subKeys[index]; }

    const HiveValue* FindValue(std::string_view name) const;
    // An existing value keeps its name's case and its place in the order.
    void SetValue(std::string_view name, DWORD type, std::span<const std::uint8_t> data);
    bool RemoveValue(std::string_view name);
    std::span<const HiveValue> Values() const { return m_values; }

    // Drops every value and subkey.
    void Clear();

    // Deep comparison with exact names, for round-trip checks.
    friend bool operator==(const HiveKey& a, const HiveKey& b);

private:
    std::size_t LowerBound(std::string_view folded) const;

    std::string m_name;
    std::string m_folded;
    std::vector<HiveValue> m_values;
    std::vector<std::unique_ptr<HiveKey>> m_subKeys; // sorted by m_folded
};

} // namespace platform::registry
