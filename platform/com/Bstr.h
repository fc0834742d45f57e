#pragma once
// BSTR: a length-prefixed UTF-16 string with the OLE Automation allocation
// rules. A null BSTR is the empty string everywhere.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, std::uint32_t chars);
BSTR SysAllocStringByteLen(const char* bytes, std::uint32_t byteLen);
void SysFreeString(BSTR s);
std::uint32_t SysStringLen(BSTR s);
std::uint32_t SysStringByteLen(BSTR s);

// The BSTR's characters as a view (empty for null).
std::u16string_view BstrView(BSTR s);

// Owner of one BSTR, so code above the COM boundary never frees by hand.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::u16string_view text);
    explicit Bstr(std::string_view utf8);
    explicit Bstr(const char* utf8) : Bstr(std::string_view(utf8)) { }
    // Takes ownership of an allocated BSTR.
    static Bstr Attach(BSTR s)
    {
        Bstr b;
        b.m_str = s;
        return b;
    }
    Bstr(const Bstr& other);
    Bstr(Bstr&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) { }
    Bstr& operator=(Bstr other) noexcept
    {
        std::swap(m_str, other.m_str);
        return *this;
    }
    ~Bstr() { SysFreeString(m_str); }

    BSTR get() const { return m_str; }
    // Releases ownership to a caller that will free it (an out-parameter).
    BSTR Detach() { return std::exchange(m_str, nullptr); }
    // Frees the current string and gives its slot for an out-parameter.
    BSTR* Out()
    {
        SysFreeString(std::exchange(m_str, nullptr));
        return &m_str;
    }
    std::uint32_t Length() const { return SysStringLen(m_str); }
    bool Empty() const { return Length() == 0; }
    std::u16string_view View() const { return BstrView(m_str); }
    std::string Utf8() const;

    friend bool operator==(const Bstr& a, const Bstr& b) { return a.View() == b.View(); }

private:
    BSTR m_str = nullptr;
};
