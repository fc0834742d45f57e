#include "platform/registry/Registry.h"

#include <array>

namespace {

// Checks shared by both string reads, after a successful query of
// `bytes` bytes: the type and, when the data was read, its terminator.
LONG CheckString(DWORD type, const char* buffer, DWORD bytes)
{
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (buffer && bytes != 0 && buffer[bytes - 1] != '\0')
        return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

} // namespace

LONG RegKey::Create(HKEY parent, const char* subKey, REGSAM access, DWORD* disposition)
{
    Close();
    HKEY key = nullptr;
    const LONG r = RegCreateKeyEx(parent, subKey, access, &key, disposition);
    if (r == ERROR_SUCCESS)
        m_key = key;
    return r;
}

LONG RegKey::Open(HKEY parent, const char* subKey, REGSAM access)
{
    Close();
    HKEY key = nullptr;
    const LONG r = RegOpenKeyEx(parent, subKey, access, &key);
    if (r == ERROR_SUCCESS)
        m_key = key;
    return r;
}

LONG RegKey::Close()
{
    if (!m_key)
        return ERROR_SUCCESS;
    return RegCloseKey(std::exchange(m_key, nullptr));
}

LONG RegKey::QueryStringValue(const char* name, char* buffer, DWORD* chars) const
{
    if (!chars)
        return ERROR_INVALID_PARAMETER;
    const DWORD capacity = buffer ? *chars : 0;
    DWORD type = REG_NONE;
    DWORD bytes = capacity;
    const LONG r = RegQueryValueEx(m_key, name, &type, reinterpret_cast<std::uint8_t*>(buffer), &bytes);
    *chars = bytes;
    if (r != ERROR_SUCCESS)
        return r;
    if (const LONG bad = CheckString(type, buffer, bytes); bad != ERROR_SUCCESS)
        return bad;
    if (buffer && bytes == 0) {
        // An empty stored value still has to read as a string.
        if (capacity == 0)
            return ERROR_MORE_DATA;
        buffer[0] = '\0';
    }
    return ERROR_SUCCESS;
}

LONG RegKey::QueryStringValue(const char* name, std::string& value) const
{
    // Another process may change the value between the size query and the
    // read; the second query then reports the new size and we try again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = REG_NONE;
        DWORD bytes = 0;
        LONG r = RegQueryValueEx(m_key, name, &type, nullptr, &bytes);
        if (r != ERROR_SUCCESS)
            return r;
        std::string buffer(bytes, '\0');
        r = RegQueryValueEx(m_key, name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &bytes);
        if (r == ERROR_MORE_DATA)
            continue;
        if (r != ERROR_SUCCESS)
            return r;
        if (const LONG bad = CheckString(type, buffer.data(), bytes); bad != ERROR_SUCCESS)
            return bad;
        buffer.resize(bytes == 0 ? 0 : bytes - 1);
        // Text after an embedded zero is not part of the string.
        buffer.resize(buffer.find('\0') == std::string::npos ? buffer.size() : buffer.find('\0'));
        value = std::move(buffer);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG RegKey::QueryBinaryValue(const char* name, void* data, DWORD* bytes) const
{
    if (!bytes)
        return ERROR_INVALID_PARAMETER;
    DWORD type = REG_NONE;
    const LONG r = RegQueryValueEx(m_key, name, &type, static_cast<std::uint8_t*>(data), bytes);
    if (r != ERROR_SUCCESS)
        return r;
    return type == REG_BINARY ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG RegKey::QueryDWORDValue(const char* name, DWORD& value) const
{
    std::array<std::uint8_t, 4> bytes {};
    DWORD size = bytes.size();
    DWORD type = REG_NONE;
    const LONG r = RegQueryValueEx(m_key, name, &type, bytes.data(), &size);
    if (r != ERROR_SUCCESS)
        return r;
    if (type != REG_DWORD || size != bytes.size())
        return ERROR_INVALID_DATA;
    value = DWORD { bytes[0] } | DWORD { bytes[1] } << 8 | DWORD { bytes[2] } << 16 | DWORD { bytes[3] } << 24;
    return ERROR_SUCCESS;
}

LONG RegKey::SetStringValue(const char* name, std::string_view value, DWORD type)
{
    std::string data(value);
    data.push_back('\0');
    return RegSetValueEx(m_key, name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
        static_cast<DWORD>(data.size()));
}

LONG RegKey::SetBinaryValue(const char* name, std::span<const std::uint8_t> data)
{
    return RegSetValueEx(m_key, name, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

LONG RegKey::SetDWORDValue(const char* name, DWORD value)
{
    const std::array<std::uint8_t, 4> bytes = { static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24) };
    return RegSetValueEx(m_key, name, REG_DWORD, bytes.data(), bytes.size());
}

LONG RegKey::DeleteValue(const char* name)
{
    return RegDeleteValue(m_key, name);
}

LONG RegKey::DeleteSubKey(const char* subKey)
{
    return RegDeleteKey(m_key, subKey);
}

LONG RegKey::RecurseDeleteKey(const char* subKey)
{
    return RegDeleteTree(m_key, subKey);
}
