#include "tests/platform/registry/RegistryFixture.h"

#include <array>
#include <tuple>

namespace {

using registrytest::ReadFile;

using RegistryApi = RegistryTest;

TEST_F(RegistryApi, SmallOrMissingBufferGetsTheSizeAndTypeButNoByte)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Test"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("GrabFlash", 1), ERROR_SUCCESS);
    ASSERT_EQ(key.SetStringValue("GrabPath", std::string(300, 'x')), ERROR_SUCCESS);
    const std::array<std::uint8_t, 5> blob = { 1, 2, 3, 4, 5 };
    ASSERT_EQ(key.SetBinaryValue("Blob", blob), ERROR_SUCCESS);
    struct Case {
        const char* name;
        DWORD buffer; // bytes offered; 0: no data pointer at all
        LONG result;
        DWORD size;
        DWORD type;
    };
    const Case cases[] = {
        { "GrabFlash", 1, ERROR_MORE_DATA, 4, REG_DWORD },
        { "GrabPath", 260, ERROR_MORE_DATA, 301, REG_SZ },
        { "Blob", 0, ERROR_SUCCESS, 5, REG_BINARY },
        { "Nothing", 0, ERROR_FILE_NOT_FOUND, 0, REG_NONE },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::array<std::uint8_t, 260> buffer {};
        buffer.fill('#');
        DWORD size = c.buffer;
        DWORD type = REG_NONE;
        EXPECT_EQ(RegQueryValueEx(key.get(), c.name, &type, c.buffer ? buffer.data() : nullptr, &size), c.result);
        if (c.result != ERROR_FILE_NOT_FOUND) {
            EXPECT_EQ(size, c.size);
            EXPECT_EQ(type, c.type);
        }
        EXPECT_EQ(buffer[0], '#') << "a short buffer was written";
    }
    char chars[260];
    DWORD count = sizeof chars;
    EXPECT_EQ(key.QueryStringValue("GrabPath", chars, &count), ERROR_MORE_DATA);
    EXPECT_EQ(count, 301u);
    // Data without a size to bound it is refused, not written blindly.
    std::uint8_t out[8];
    EXPECT_EQ(RegQueryValueEx(key.get(), "Blob", nullptr, out, nullptr), ERROR_INVALID_PARAMETER);
    DWORD exact = 5;
    EXPECT_EQ(RegQueryValueEx(key.get(), "Blob", nullptr, out, &exact), ERROR_SUCCESS);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 5), std::vector<std::uint8_t>(blob.begin(), blob.end()));
}

TEST_F(RegistryApi, EachTypedReadRefusesOtherTypesAndSizes)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Test"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("Number", 0x01020304), ERROR_SUCCESS);
    ASSERT_EQ(key.SetStringValue("Expand", "%HOME%/x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(key.SetStringValue("Empty", ""), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.get(), "ZeroBytes", REG_SZ, nullptr, 0), ERROR_SUCCESS);
    const std::array<std::uint8_t, 4> four = { 0xFF, 0xFF, 0xFF, 0xFF };
    ASSERT_EQ(key.SetBinaryValue("Binary4", four), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key.get(), "ShortDword", REG_DWORD, four.data(), 2), ERROR_SUCCESS);
    // A string without its terminator is not handed out as a C string.
    const std::uint8_t bare[] = { 'a', 'b' };
    ASSERT_EQ(RegSetValueEx(key.get(), "Bare", REG_SZ, bare, 2), ERROR_SUCCESS);
    std::string text;
    EXPECT_EQ(key.QueryStringValue("Bare", text), ERROR_INVALID_DATA);

    for (const auto& [name, result, text] : { std::tuple { "Number", ERROR_INVALID_DATA, "" },
             std::tuple { "Expand", ERROR_SUCCESS, "%HOME%/x" }, std::tuple { "Empty", ERROR_SUCCESS, "" },
             std::tuple { "ZeroBytes", ERROR_SUCCESS, "" }, std::tuple { "Bare", ERROR_INVALID_DATA, "" } }) {
        SCOPED_TRACE(name);
        char buffer[64] = "stale";
        DWORD chars = sizeof buffer;
        EXPECT_EQ(key.QueryStringValue(name, buffer, &chars), result);
        if (result == ERROR_SUCCESS) {
            EXPECT_STREQ(buffer, text);
        }
        if (std::string_view(name) == "Expand") {
            EXPECT_EQ(chars, 9u);
        }
    }
    DWORD value = 0;
    ASSERT_EQ(key.QueryDWORDValue("Number", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 0x01020304u);
    EXPECT_EQ(key.QueryDWORDValue("Binary4", value), ERROR_INVALID_DATA);
    EXPECT_EQ(key.QueryDWORDValue("ShortDword", value), ERROR_INVALID_DATA);
    std::int32_t limit = 0;
    DWORD bytes = sizeof limit;
    ASSERT_EQ(key.QueryBinaryValue("Binary4", &limit, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(limit, -1);
    bytes = sizeof limit;
    EXPECT_EQ(key.QueryBinaryValue("Number", &limit, &bytes), ERROR_INVALID_DATA);
}

TEST_F(RegistryApi, NamesFoldCaseKeepTheirFirstSpellingAndCreateMakesEveryParent)
{
    RegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Vornel", KEY_READ | KEY_WRITE, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(key.SetStringValue("GrabPath", "/a"), ERROR_SUCCESS);
    RegKey other;
    ASSERT_EQ(other.Create(HKEY_CURRENT_USER, "SOFTWARE\\vornel", KEY_READ | KEY_WRITE, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(other.SetStringValue("GRABPATH", "/b"), ERROR_SUCCESS);
    std::string text;
    ASSERT_EQ(key.QueryStringValue("grabpath", text), ERROR_SUCCESS);
    EXPECT_EQ(text, "/b");
    RegKey software;
    ASSERT_EQ(software.Open(HKEY_CURRENT_USER, "software", KEY_READ), ERROR_SUCCESS);
    std::string name;
    ASSERT_EQ(RegEnumKeyEx(software.get(), 0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "Vornel");
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(key.get(), nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, 1u);
    ASSERT_EQ(RegEnumValue(key.get(), 0, name), ERROR_SUCCESS);
    EXPECT_EQ(name, "GrabPath");

    // Non-ASCII letters fold too, but only by simple one-to-one mappings.
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Grüße\\Ärger"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("Wert\xC3\xA9", 1), ERROR_SUCCESS); // "Werté"
    EXPECT_EQ(other.Open(HKEY_CURRENT_USER, "GRÜSSE\\ärger", KEY_READ), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(other.Open(HKEY_CURRENT_USER, "GRÜßE\\äRGER", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(other.QueryDWORDValue("WERT\xC3\x89", disposition), ERROR_SUCCESS); // "WERTÉ"
    EXPECT_EQ(other.Open(HKEY_CURRENT_USER, "Grüße", KEY_READ), ERROR_SUCCESS);

    HKEY missing = reinterpret_cast<HKEY>(std::uintptr_t { 1 });
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\X", KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
}

TEST_F(RegistryApi, MalformedPathsAndForgedHandlesAreRefusedNotFatal)
{
    HKEY key = nullptr;
    const std::string paths[] = { "a\\\\b", "\\a", "line\nbreak", std::string(256, 'k') };
    for (const std::string& path : paths)
        EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS, &key, nullptr), ERROR_INVALID_PARAMETER)
            << path;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "a", KEY_ALL_ACCESS, nullptr, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(m_userFile)) << "a refused path wrote the hive";
    // One trailing backslash is tolerated, as on Windows.
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "ok\\", KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);

    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "x", nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    const std::uint8_t one = 1;
    EXPECT_EQ(RegSetValueEx(key, "x", REG_BINARY, &one, 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueEx(reinterpret_cast<HKEY>(std::uintptr_t { 0xDEAD0 }), "x", REG_BINARY, &one, 1),
        ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

TEST_F(RegistryApi, AccessMaskIsEnforced)
{
    RegKey writer;
    ASSERT_EQ(writer.Create(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
    ASSERT_EQ(writer.SetDWORDValue("v", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyEx(writer.get(), "Sub", KEY_ALL_ACCESS, nullptr, nullptr), ERROR_INVALID_PARAMETER);

    RegKey reader;
    ASSERT_EQ(reader.Open(HKEY_CURRENT_USER, "K", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(reader.SetDWORDValue("v", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(reader.DeleteValue("v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTree(reader.get(), nullptr), ERROR_ACCESS_DENIED);
    DWORD v = 0;
    EXPECT_EQ(reader.QueryDWORDValue("v", v), ERROR_SUCCESS);
    EXPECT_EQ(v, 1u);
    // KEY_READ | KEY_WRITE lacks DELETE, which emptying a key needs.
    EXPECT_EQ(RegDeleteTree(writer.get(), nullptr), ERROR_ACCESS_DENIED);

    RegKey setOnly;
    ASSERT_EQ(setOnly.Open(HKEY_CURRENT_USER, "K", KEY_SET_VALUE), ERROR_SUCCESS);
    EXPECT_EQ(setOnly.QueryDWORDValue("v", v), ERROR_ACCESS_DENIED);
    std::string name;
    EXPECT_EQ(RegEnumKeyEx(setOnly.get(), 0, name), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setOnly.SetDWORDValue("v", 3), ERROR_SUCCESS);
}

TEST_F(RegistryApi, DeleteTreeRemovesEverythingBelowOnlyAndStrandsOpenHandles)
{
    RegKey key;
    RegKey victim;
    ASSERT_EQ(victim.Create(HKEY_CURRENT_USER, "Root\\Doomed\\Deep\\Deeper"), ERROR_SUCCESS);
    ASSERT_EQ(victim.SetDWORDValue("v", 1), ERROR_SUCCESS);
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Root\\Doomed2"), ERROR_SUCCESS);
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Root", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("keep", 1), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKey(key.get(), "Doomed"), ERROR_ACCESS_DENIED) << "RegDeleteKey needs a key without subkeys";
    ASSERT_EQ(RegDeleteTree(key.get(), "doomed"), ERROR_SUCCESS);
    RegKey gone;
    EXPECT_EQ(gone.Open(HKEY_CURRENT_USER, "Root\\Doomed\\Deep", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone.Open(HKEY_CURRENT_USER, "Root\\Doomed", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone.Open(HKEY_CURRENT_USER, "Root\\Doomed2", KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(key.get(), "Doomed"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadFile(m_userFile).find("Deep"), std::string::npos);
    DWORD v = 0;
    EXPECT_EQ(key.QueryDWORDValue("keep", v), ERROR_SUCCESS);

    // A handle into the removed tree reports it instead of resurrecting it.
    EXPECT_EQ(victim.SetDWORDValue("v", 1), ERROR_KEY_DELETED);
    EXPECT_EQ(victim.QueryDWORDValue("v", v), ERROR_KEY_DELETED);
    RegKey child;
    EXPECT_EQ(child.Create(victim.get(), "Child"), ERROR_KEY_DELETED);
    EXPECT_EQ(ReadFile(m_userFile).find("Deeper"), std::string::npos);

    // Without a subkey name the key itself is emptied but kept.
    ASSERT_EQ(RegDeleteTree(key.get(), nullptr), ERROR_SUCCESS);
    DWORD subKeys = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKey(key.get(), &subKeys, &values), ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);
}

TEST_F(RegistryApi, RootsCannotBeDeletedButEmptyNameIsTheHandlesOwnKey)
{
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
    RegKey leaf;
    ASSERT_EQ(leaf.Create(HKEY_CURRENT_USER, "Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(leaf.get(), ""), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Leaf"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, EnumerationListsSubKeysSortedAndValuesInSetOrder)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "E"), ERROR_SUCCESS);
    for (const char* name : { "zeta", "Alpha", "beta", "Gamma" }) {
        RegKey sub;
        ASSERT_EQ(sub.Create(key.get(), name), ERROR_SUCCESS);
    }
    for (const char* name : { "z", "a", "M" })
        ASSERT_EQ(key.SetDWORDValue(name, 0), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("a", 1), ERROR_SUCCESS); // keeps its place

    std::vector<std::string> keys, values;
    std::string name;
    for (DWORD i = 0; RegEnumKeyEx(key.get(), i, name) == ERROR_SUCCESS; ++i)
        keys.push_back(name);
    DWORD type = 0;
    for (DWORD i = 0; RegEnumValue(key.get(), i, name, &type) == ERROR_SUCCESS; ++i)
        values.push_back(name);
    EXPECT_EQ(keys, (std::vector<std::string> { "Alpha", "beta", "Gamma", "zeta" }));
    EXPECT_EQ(values, (std::vector<std::string> { "z", "a", "M" }));
    EXPECT_EQ(RegEnumKeyEx(key.get(), 4, name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValue(key.get(), 3, name), ERROR_NO_MORE_ITEMS);
    std::vector<std::uint8_t> data;
    ASSERT_EQ(RegEnumValue(key.get(), 1, name, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, (std::vector<std::uint8_t> { 1, 0, 0, 0 }));
}

TEST_F(RegistryApi, ClassesRootOpensEmptyWithoutWritingAndLivesInMachineHiveUnderSoftwareClasses)
{
    RegKey root;
    ASSERT_EQ(root.Open(HKEY_CLASSES_ROOT, "", KEY_READ), ERROR_SUCCESS);
    std::string name;
    EXPECT_EQ(RegEnumKeyEx(root.get(), 0, name), ERROR_NO_MORE_ITEMS);
    RegKey missing;
    EXPECT_EQ(missing.Open(HKEY_CLASSES_ROOT, "CLSID", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(m_machineFile)) << "reads must not write";

    RegKey progId;
    ASSERT_EQ(progId.Create(HKEY_CLASSES_ROOT, "QVTovanix.Tovanix\\CLSID"), ERROR_SUCCESS);
    ASSERT_EQ(progId.SetStringValue(nullptr, "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}"), ERROR_SUCCESS);
    RegKey viaMachine;
    ASSERT_EQ(viaMachine.Open(HKEY_LOCAL_MACHINE, "Software\\Classes\\QVTovanix.Tovanix\\CLSID", KEY_READ),
        ERROR_SUCCESS);
    std::string clsid;
    ASSERT_EQ(viaMachine.QueryStringValue(nullptr, clsid), ERROR_SUCCESS);
    EXPECT_EQ(clsid, "{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}");
    EXPECT_NE(ReadFile(m_machineFile).find("[HKEY_LOCAL_MACHINE\\Software\\Classes\\QVTovanix.Tovanix\\CLSID]"),
        std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_userFile));
    // The default value: a null or an empty name, "@" in the file.
    EXPECT_NE(ReadFile(m_machineFile).find("@=\"{7D3A21B4"), std::string::npos);
    EXPECT_EQ(progId.DeleteValue(""), ERROR_SUCCESS);
    EXPECT_EQ(viaMachine.QueryStringValue(nullptr, clsid), ERROR_FILE_NOT_FOUND);
}

} // namespace
