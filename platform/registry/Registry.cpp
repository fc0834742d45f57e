#include "platform/registry/Registry.h"

#include "platform/registry/HiveFile.h"
#include "platform/registry/HiveKey.h"
#include "platform/registry/HiveLocations.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace fs = std::filesystem;
using platform::registry::Change;
using platform::registry::Hive;
using platform::registry::HiveFile;
using platform::registry::HiveFilePath;
using platform::registry::HiveKey;
using platform::registry::HiveValue;

namespace {

// What an open handle names. The hive file is fixed when the root is
// opened, so a handle keeps working on its file whatever the environment
// says later.
struct KeyRef {
    Hive hive = Hive::CurrentUser;
    fs::path file;
    std::vector<std::string> path; // from the hive's root
    // Leading elements of `path` that exist even when the file lacks them
    // (HKEY_CLASSES_ROOT's Software\Classes); written with the first change.
    std::size_t implicitDepth = 0;
    REGSAM access = 0;
};

// Process-wide state. One mutex covers it all: the handle table and the
// cached trees are shared by every thread, and flock does not exclude
// threads of one process from each other, so each read-modify-write of a
// hive file must also be alone within the process.
class RegistryState {
public:
    std::mutex mutex;

    std::optional<KeyRef> Resolve(HKEY key) const
    {
        if (key == HKEY_CURRENT_USER)
            return KeyRef { Hive::CurrentUser, HiveFilePath(Hive::CurrentUser), {}, 0, KEY_ALL_ACCESS };
        if (key == HKEY_LOCAL_MACHINE)
            return KeyRef { Hive::Machine, HiveFilePath(Hive::Machine), {}, 0, KEY_ALL_ACCESS };
        if (key == HKEY_CLASSES_ROOT)
            return KeyRef { Hive::Machine, HiveFilePath(Hive::Machine), { "Software", "Classes" }, 2, KEY_ALL_ACCESS };
        const auto it = m_handles.find(reinterpret_cast<std::uintptr_t>(key));
        if (it == m_handles.end())
            return std::nullopt;
        return it->second;
    }

    HKEY AddHandle(KeyRef ref)
    {
        // Numbers are never reused, so a closed handle stays invalid, and
        // never take the predefined roots' values.
        m_nextHandle += 4;
        if (m_nextHandle >= 0x80000000u && m_nextHandle <= 0x800000FFu)
            m_nextHandle = 0x80000100u;
        m_handles.emplace(m_nextHandle, std::move(ref));
        return reinterpret_cast<HKEY>(m_nextHandle);
    }

    bool RemoveHandle(HKEY key) { return m_handles.erase(reinterpret_cast<std::uintptr_t>(key)) != 0; }

    HiveFile& File(const KeyRef& ref)
    {
        auto& slot = m_files[{ ref.hive, ref.file.string() }];
        if (!slot)
            slot = std::make_unique<HiveFile>(ref.file, ref.hive);
        return *slot;
    }

private:
    std::unordered_map<std::uintptr_t, KeyRef> m_handles;
    std::uintptr_t m_nextHandle = 0x1000;
    std::map<std::pair<Hive, std::string>, std::unique_ptr<HiveFile>> m_files;
};

RegistryState& State()
{
    // Deliberately never destroyed: a RegKey held in a static object may
    // close its key after this state's destructor would have run.
    static RegistryState* state = new RegistryState;
    return *state;
}

const HiveKey& EmptyKey()
{
    static const HiveKey empty { std::string() };
    return empty;
}

// The key a reference names in a tree read from its file, or null.
const HiveKey* Find(const HiveKey& root, const KeyRef& ref)
{
    const HiveKey* key = &root;
    for (std::size_t i = 0; i < ref.path.size(); ++i) {
        key = key->FindSubKey(ref.path[i]);
        if (!key)
            return ref.path.size() <= ref.implicitDepth ? &EmptyKey() : nullptr;
    }
    return key;
}

// The same for a change: implicit keys are created on the way.
HiveKey* FindForChange(HiveKey& root, const std::vector<std::string>& path, std::size_t implicitDepth)
{
    HiveKey* key = &root;
    for (std::size_t i = 0; i < path.size(); ++i) {
        HiveKey* next = key->FindSubKey(path[i]);
        if (!next) {
            if (i >= implicitDepth)
                return nullptr;
            next = &key->CreateSubKey(path[i]);
        }
        key = next;
    }
    return key;
}

HiveKey* FindForChange(HiveKey& root, const KeyRef& ref)
{
    return FindForChange(root, ref.path, ref.implicitDepth);
}

// Appends the names of "a\b\c" to path. Null or "" adds nothing; one
// trailing backslash is accepted, as Windows does.
LONG AppendSubKey(const char* subKey, std::vector<std::string>& path)
{
    if (!subKey || !*subKey)
        return ERROR_SUCCESS;
    std::string_view rest(subKey);
    if (rest.back() == '\\')
        rest.remove_suffix(1);
    while (true) {
        const std::size_t sep = rest.find('\\');
        const std::string_view name = rest.substr(0, sep);
        if (!platform::registry::IsValidKeyName(name))
            return ERROR_INVALID_PARAMETER;
        path.emplace_back(name);
        if (path.size() > platform::registry::kMaxKeyDepth)
            return ERROR_INVALID_PARAMETER;
        if (sep == std::string_view::npos)
            return ERROR_SUCCESS;
        rest.remove_prefix(sep + 1);
    }
}

bool Allows(const KeyRef& ref, REGSAM needed)
{
    return (ref.access & needed) == needed;
}

std::string_view ValueName(const char* name)
{
    return name ? std::string_view(name) : std::string_view();
}

LONG OpenOrCreate(HKEY key, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition, bool create)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    RegistryState& state = State();
    std::lock_guard lock(state.mutex);
    const std::optional<KeyRef> parent = state.Resolve(key);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    KeyRef target = *parent;
    target.access = access;
    if (const LONG r = AppendSubKey(subKey, target.path); r != ERROR_SUCCESS)
        return r;

    HiveFile& file = state.File(target);
    const HiveKey& root = file.Current();
    if (Find(root, target)) {
        if (disposition)
            *disposition = REG_OPENED_EXISTING_KEY;
        *result = state.AddHandle(std::move(target));
        return ERROR_SUCCESS;
    }
    if (!Find(root, *parent))
        return ERROR_KEY_DELETED;
    if (!create)
        return ERROR_FILE_NOT_FOUND;

    bool createdLast = false;
    const LONG r = file.Update([&](HiveKey& fresh, Change& change) {
        HiveKey* key = FindForChange(fresh, *parent);
        if (!key)
            return ERROR_KEY_DELETED;
        for (std::size_t i = parent->path.size(); i < target.path.size(); ++i) {
            key = &key->CreateSubKey(target.path[i], &createdLast);
            if (createdLast)
                change = Change::Save;
        }
        return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS)
        return r;
    if (disposition)
        *disposition = createdLast ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = state.AddHandle(std::move(target));
    return ERROR_SUCCESS;
}

// Runs a change on the key that `key` names, under the hive file's lock.
template <typename Fn>
LONG ChangeKey(HKEY key, REGSAM needed, Fn&& fn)
{
    RegistryState& state = State();
    std::lock_guard lock(state.mutex);
    const std::optional<KeyRef> ref = state.Resolve(key);
    if (!ref)
        return ERROR_INVALID_HANDLE;
    if (!Allows(*ref, needed))
        return ERROR_ACCESS_DENIED;
    return state.File(*ref).Update([&](HiveKey& root, Change& change) -> LONG {
        HiveKey* target = FindForChange(root, *ref);
        if (!target)
            return ERROR_KEY_DELETED;
        return fn(root, *ref, *target, change);
    });
}

// Runs a read on the key that `key` names, in the hive as it is now.
template <typename Fn>
LONG ReadKey(HKEY key, REGSAM needed, Fn&& fn)
{
    RegistryState& state = State();
    std::lock_guard lock(state.mutex);
    const std::optional<KeyRef> ref = state.Resolve(key);
    if (!ref)
        return ERROR_INVALID_HANDLE;
    if (!Allows(*ref, needed))
        return ERROR_ACCESS_DENIED;
    const HiveKey* target = Find(state.File(*ref).Current(), *ref);
    if (!target)
        return ERROR_KEY_DELETED;
    return fn(*target);
}

// Removes the last element of `path` from its parent (for RegDeleteKey and
// RegDeleteTree with a subkey).
LONG DeleteSubKey(HKEY key, const char* subKey, bool wholeTree)
{
    std::vector<std::string> relative;
    if (const LONG r = AppendSubKey(subKey, relative); r != ERROR_SUCCESS)
        return r;
    return ChangeKey(key, 0, [&](HiveKey& root, const KeyRef& ref, HiveKey& self, Change& change) -> LONG {
        std::vector<std::string> path = ref.path;
        path.insert(path.end(), relative.begin(), relative.end());
        if (path.empty() || path.size() <= ref.implicitDepth)
            return ERROR_ACCESS_DENIED; // a hive's root, HKEY_CLASSES_ROOT itself
        HiveKey* parent = relative.empty()
            ? FindForChange(root, std::vector<std::string>(path.begin(), path.end() - 1), ref.implicitDepth)
            : FindForChange(self, std::vector<std::string>(relative.begin(), relative.end() - 1), 0);
        HiveKey* victim = parent ? parent->FindSubKey(path.back()) : nullptr;
        if (!victim)
            return ERROR_FILE_NOT_FOUND;
        if (!wholeTree && victim->SubKeyCount() > 0)
            return ERROR_ACCESS_DENIED;
        parent->RemoveSubKey(path.back());
        change = Change::Save;
        return ERROR_SUCCESS;
    });
}

} // namespace

LONG RegCreateKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result, DWORD* disposition)
{
    return OpenOrCreate(key, subKey, access, result, disposition, true);
}

LONG RegOpenKeyEx(HKEY key, const char* subKey, REGSAM access, HKEY* result)
{
    return OpenOrCreate(key, subKey, access, result, nullptr, false);
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT)
        return ERROR_SUCCESS;
    RegistryState& state = State();
    std::lock_guard lock(state.mutex);
    return state.RemoveHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD* type, std::uint8_t* data, DWORD* size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    return ReadKey(key, KEY_QUERY_VALUE, [&](const HiveKey& k) -> LONG {
        const HiveValue* value = k.FindValue(ValueName(name));
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        if (type)
            *type = value->type;
        const auto stored = static_cast<DWORD>(value->data.size());
        if (data) {
            if (*size < stored) {
                *size = stored;
                return ERROR_MORE_DATA;
            }
            std::copy(value->data.begin(), value->data.end(), data);
        }
        if (size)
            *size = stored;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD type, const std::uint8_t* data, DWORD size)
{
    if (!data && size != 0)
        return ERROR_INVALID_PARAMETER;
    const std::span<const std::uint8_t> bytes(data, data ? size : 0);
    return ChangeKey(key, KEY_SET_VALUE, [&](HiveKey&, const KeyRef&, HiveKey& k, Change& change) -> LONG {
        const HiveValue* old = k.FindValue(ValueName(name));
        // Rewriting the same value (settings saved twice) costs no save.
        if (old && old->type == type && std::ranges::equal(old->data, bytes))
            return ERROR_SUCCESS;
        k.SetValue(ValueName(name), type, bytes);
        change = Change::Save;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValue(HKEY key, const char* name)
{
    return ChangeKey(key, KEY_SET_VALUE, [&](HiveKey&, const KeyRef&, HiveKey& k, Change& change) -> LONG {
        if (!k.RemoveValue(ValueName(name)))
            return ERROR_FILE_NOT_FOUND;
        change = Change::Save;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKey(HKEY key, const char* subKey)
{
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    return DeleteSubKey(key, subKey, false);
}

LONG RegDeleteTree(HKEY key, const char* subKey)
{
    if (subKey && *subKey)
        return DeleteSubKey(key, subKey, true);
    return ChangeKey(key, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
        [&](HiveKey&, const KeyRef& ref, HiveKey& k, Change& change) -> LONG {
            if (!k.Values().empty() && !Allows(ref, KEY_SET_VALUE))
                return ERROR_ACCESS_DENIED;
            if (k.Values().empty() && k.SubKeyCount() == 0)
                return ERROR_SUCCESS;
            k.Clear();
            change = Change::Save;
            return ERROR_SUCCESS;
        });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, std::string& name)
{
    return ReadKey(key, KEY_ENUMERATE_SUB_KEYS, [&](const HiveKey& k) -> LONG {
        if (index >= k.SubKeyCount())
            return ERROR_NO_MORE_ITEMS;
        name = k.SubKeyAt(index).Name();
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValue(HKEY key, DWORD index, std::string& name, DWORD* type, std::vector<std::uint8_t>* data)
{
    return ReadKey(key, KEY_QUERY_VALUE, [&](const HiveKey& k) -> LONG {
        if (index >= k.Values().size())
            return ERROR_NO_MORE_ITEMS;
        const HiveValue& value = k.Values()[index];
        name = value.name;
        if (type)
            *type = value.type;
        if (data)
            *data = value.data;
        return ERROR_SUCCESS;
    });
}

LONG RegQueryInfoKey(HKEY key, DWORD* subKeys, DWORD* values)
{
    return ReadKey(key, KEY_QUERY_VALUE, [&](const HiveKey& k) -> LONG {
        if (subKeys)
            *subKeys = static_cast<DWORD>(k.SubKeyCount());
        if (values)
            *values = static_cast<DWORD>(k.Values().size());
        return ERROR_SUCCESS;
    });
}
