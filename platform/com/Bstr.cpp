#include "platform/com/Bstr.h"

#include "platform/com/Utf.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Layout: 4-byte byte length, the characters, then two zero bytes. The
// BSTR points just past the length prefix.
BSTR Allocate(const void* bytes, std::uint32_t byteLen)
{
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max() - 16;
    if (byteLen > kMax)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + byteLen + 2));
    if (!block)
        return nullptr;
    std::memcpy(block, &byteLen, sizeof byteLen);
    if (bytes)
        std::memcpy(block + sizeof byteLen, bytes, byteLen);
    else
        std::memset(block + sizeof byteLen, 0, byteLen);
    block[sizeof byteLen + byteLen] = 0;
    block[sizeof byteLen + byteLen + 1] = 0;
    return reinterpret_cast<BSTR>(block + sizeof byteLen);
}

} // namespace

BSTR SysAllocString(LPCOLESTR text)
{
    if (!text)
        return nullptr;
    std::uint32_t n = 0;
    while (text[n])
        ++n;
    return SysAllocStringLen(text, n);
}

BSTR SysAllocStringLen(LPCOLESTR text, std::uint32_t chars)
{
    if (chars > std::numeric_limits<std::uint32_t>::max() / 2)
        return nullptr;
    return Allocate(text, chars * 2);
}

BSTR SysAllocStringByteLen(const char* bytes, std::uint32_t byteLen)
{
    return Allocate(bytes, byteLen);
}

void SysFreeString(BSTR s)
{
    if (s)
        std::free(reinterpret_cast<unsigned char*>(s) - sizeof(std::uint32_t));
}

std::uint32_t SysStringByteLen(BSTR s)
{
    if (!s)
        return 0;
    std::uint32_t len;
    std::memcpy(&len, reinterpret_cast<unsigned char*>(s) - sizeof len, sizeof len);
    return len;
}

std::uint32_t SysStringLen(BSTR s)
{
    return SysStringByteLen(s) / 2;
}

std::u16string_view BstrView(BSTR s)
{
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

Bstr::Bstr(std::u16string_view text)
    : m_str(SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size())))
{
}

Bstr::Bstr(std::string_view utf8)
    : Bstr(std::u16string_view(Utf8ToUtf16(utf8)))
{
}

Bstr::Bstr(const Bstr& other)
    : m_str(other.m_str ? SysAllocStringByteLen(reinterpret_cast<const char*>(other.m_str), SysStringByteLen(other.m_str)) : nullptr)
{
}

std::string Bstr::Utf8() const
{
    return Utf16ToUtf8(View());
}
