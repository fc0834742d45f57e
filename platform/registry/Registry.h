#pragma once
// The registry: hierarchical keys holding typed values, with the calls and
// result numbers of the Windows registry API so that code written against
// it reads the same here. Three roots are offered:
//
//   HKEY_CURRENT_USER   the user's hive file
//   HKEY_LOCAL_MACHINE  the machine hive file
//   HKEY_CLASSES_ROOT   HKEY_LOCAL_MACHINE\Software\Classes (same file)
//
// Each hive is one text file in the registry editor's export format; see
// platform/registry/HiveLocations.h for where the files live. Every change
// is a read-modify-write of the whole file under an advisory lock, so two
// processes changing different values both keep their change and no
// reader ever sees half a file.
//
// Strings are UTF-8. Key and value names compare case-insensitively and
// keep the case they were created with. Subkeys enumerate in sorted order
// (case-insensitive), values in the order they were first set.
//
// Thread: any. All calls of a process are serialised internally.
#include "platform/com/HResult.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Opaque key handle. A handle stays valid until RegCloseKey; a closed or
// made-up handle is answered with ERROR_INVALID_HANDLE, never a crash.
struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

// The predefined roots carry their Windows values. They need no opening
// and closing them is a no-op.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t { 0x80000000u });
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t { 0x80000001u });
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t { 0x80000002u });

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_EXECUTE = KEY_READ;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types. Any other number may be stored too and is kept as given.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// RegCreateKeyEx dispositions.
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Results (Win32 error numbers).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_DATA = 13;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_BADDB = 1009;
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_NOT_ENOUGH_QUOTA = 1816;

// Opens subKey below key, creating every missing key on the way.
// subKey null or "" opens a new handle to key itself. *disposition (may be
// null) says whether the last key was created or existed.
LONG RegCreateKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result,
    DWORD* disposition = nullptr);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it is missing.
LONG RegOpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result);
LONG RegCloseKey(HKEY key);

// Win32 query semantics: name null or "" is the key's default value.
// data null: *size receives the stored size. *size smaller than the stored
// size: ERROR_MORE_DATA, *size receives the stored size and data is left
// untouched. *type (may be null) is set whenever the value exists. The
// stored bytes are returned as they are: a REG_SZ set without its
// terminating zero comes back without it. Needs KEY_QUERY_VALUE.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, std::uint8_t* data, DWORD* size);
// Stores exactly `size` bytes of `data` with the given type. Needs
// KEY_SET_VALUE.
LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const std::uint8_t* data, DWORD size);
LONG RegDeleteValue(HKEY key, const char* name);

// Deletes subKey of key, which must have no subkeys (ERROR_ACCESS_DENIED
// otherwise, as on Windows). subKey "" deletes the key the handle names.
LONG RegDeleteKey(HKEY key, const char* subKey);
// Deletes subKey and everything below it. subKey null or "" deletes the
// subkeys and values of key but keeps key itself; then the handle needs
// DELETE, KEY_ENUMERATE_SUB_KEYS and KEY_QUERY_VALUE (and KEY_SET_VALUE
// when the key has values), as Windows documents.
LONG RegDeleteTree(HKEY key, const char* subKey);

// index-th subkey name in sorted order, ERROR_NO_MORE_ITEMS past the end.
// Needs KEY_ENUMERATE_SUB_KEYS.
LONG RegEnumKeyEx(HKEY key, DWORD index, std::string& name);
// index-th value in the order values were first set; type and data may be
// null. The default value, when set, is listed with the name "". Needs
// KEY_QUERY_VALUE.
LONG RegEnumValue(HKEY key, DWORD index, std::string& name, DWORD* type = nullptr,
    std::vector<std::uint8_t>* data = nullptr);
// Counts of subkeys and values; either pointer may be null.
LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* values);

// Owner of one open key. Its typed helpers follow the checks that Windows
// programs usually get from their registry key class, which is what
// callers ported from there expect:
//  - QueryStringValue fails with ERROR_INVALID_DATA for a value that is not
//    REG_SZ or REG_EXPAND_SZ or that was stored without its terminating
//    zero, and with ERROR_MORE_DATA when it does not fit the buffer;
//  - QueryBinaryValue fails with ERROR_INVALID_DATA for a non-REG_BINARY;
//  - QueryDWORDValue needs a REG_DWORD of exactly four bytes.
// Thread: any, one thread at a time per object.
class RegKey {
public:
    RegKey() = default;
    // Takes ownership of an open handle.
    explicit RegKey(HKEY key) noexcept : m_key(key) { }
    RegKey(RegKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) { }
    RegKey& operator=(RegKey&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_key = std::exchange(other.m_key, nullptr);
        }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    // Close any key held, then create or open subKey below parent.
    [[nodiscard]] LONG Create(HKEY parent, const char* subKey, REGSAM access = KEY_READ | KEY_WRITE,
        DWORD* disposition = nullptr);
    [[nodiscard]] LONG Open(HKEY parent, const char* subKey, REGSAM access = KEY_READ | KEY_WRITE);
    LONG Close();

    HKEY get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    // Gives the handle to a caller that will close it.
    HKEY Detach() { return std::exchange(m_key, nullptr); }

    // *chars: buffer size in bytes (UTF-8 code units) including the
    // terminating zero; receives the stored size. On success the buffer
    // holds the zero-terminated string. An empty stored value (0 bytes)
    // reads as "".
    [[nodiscard]] LONG QueryStringValue(const char* name, char* buffer, DWORD* chars) const;
    // The whole string, without its terminating zero; same checks.
    [[nodiscard]] LONG QueryStringValue(const char* name, std::string& value) const;
    // *bytes: buffer size; receives the stored size.
    [[nodiscard]] LONG QueryBinaryValue(const char* name, void* data, DWORD* bytes) const;
    [[nodiscard]] LONG QueryDWORDValue(const char* name, DWORD& value) const;

    // Stores the text with its terminating zero.
    LONG SetStringValue(const char* name, std::string_view value, DWORD type = REG_SZ);
    LONG SetBinaryValue(const char* name, std::span<const std::uint8_t> data);
    // Four bytes, little-endian, as REG_DWORD.
    LONG SetDWORDValue(const char* name, DWORD value);
    LONG DeleteValue(const char* name);
    LONG DeleteSubKey(const char* subKey);
    LONG RecurseDeleteKey(const char* subKey);

private:
    HKEY m_key = nullptr;
};
