#pragma once
// The real libqvtovanix.so, loaded with dlopen into a process whose
// registry hives live in a fresh temporary folder.
#include "module/Exports.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <vector>

class LoadedModule : public ::testing::Test, protected testsupport::FreshUserFolders {
protected:
    testsupport::ScopedEnv moduleDir { "QUILLORY_MODULE_DIR", (dir / "module").string() };

    void* lib = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllRegisterServerFn registerServer = nullptr;
    DllUnregisterServerFn unregisterServer = nullptr;

    void SetUp() override
    {
        // Kept loaded once loaded, as COM hosts keep in-process servers:
        // libraries linked into the module hold process-lifetime caches
        // that an unload after every test would throw away.
        lib = dlopen(QUILLORY_MODULE_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(lib, nullptr) << dlerror();
        canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(dlsym(lib, "DllCanUnloadNow"));
        getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
        registerServer = reinterpret_cast<DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<DllUnregisterServerFn>(dlsym(lib, "DllUnregisterServer"));
        ASSERT_TRUE(canUnloadNow && getClassObject && registerServer && unregisterServer);
    }
    void TearDown() override
    {
        if (lib)
            dlclose(lib);
    }

    static std::string ModuleFile() { return std::filesystem::canonical(QUILLORY_MODULE_PATH).string(); }

    // Every key and value below a root as sorted lines: "KEY path" and
    // "VAL path | name | type | data" (strings as text, else hex bytes).
    static std::vector<std::string> Dump(HKEY root)
    {
        std::vector<std::string> lines;
        DumpKey(root, "", lines);
        std::sort(lines.begin(), lines.end());
        return lines;
    }

private:
    static void DumpKey(HKEY key, const std::string& path, std::vector<std::string>& lines)
    {
        if (!path.empty())
            lines.push_back("KEY " + path);
        std::string name;
        DWORD type = 0;
        std::vector<std::uint8_t> data;
        for (DWORD i = 0; RegEnumValue(key, i, name, &type, &data) == ERROR_SUCCESS; ++i) {
            std::string text;
            if (type == REG_SZ || type == REG_EXPAND_SZ)
                text = !data.empty() && data.back() == 0 ? std::string(data.begin(), data.end() - 1)
                                                         : std::string(data.begin(), data.end()) + "<no terminating zero>";
            else
                for (auto b : data)
                    text += std::string { "0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15] };
            lines.push_back("VAL " + path + " | " + name + " | " + std::to_string(type) + " | " + text);
        }
        for (DWORD i = 0; RegEnumKeyEx(key, i, name) == ERROR_SUCCESS; ++i) {
            HKEY sub = nullptr;
            if (RegOpenKeyEx(key, name.c_str(), KEY_READ, &sub) != ERROR_SUCCESS)
                continue;
            DumpKey(sub, path.empty() ? name : path + "\\" + name, lines);
            RegCloseKey(sub);
        }
    }
};
