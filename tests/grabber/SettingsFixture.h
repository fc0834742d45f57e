#pragma once
// A user with fresh registry hives and a documents folder of their own, all
// inside one temporary folder.
#include "grabber/TovanixSettings.h"
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class FreshUser : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    testsupport::ScopedEnv home { "HOME", dir.path().string() };
    testsupport::ScopedEnv userHive { "QUILLORY_REGISTRY_USER", (dir / "user.reg").string() };
    testsupport::ScopedEnv machineHive { "QUILLORY_REGISTRY_MACHINE", (dir / "machine.reg").string() };
    testsupport::ScopedEnv documents { "XDG_DOCUMENTS_DIR", (dir / "docs").string() };
    testsupport::ScopedEnv config { "XDG_CONFIG_HOME", (dir / "config").string() };
    testsupport::ScopedEnv data { "XDG_DATA_HOME", (dir / "data").string() };

    static std::string KeyPath() { return LoadModuleString(kIdsSettingsKey); }

    // Stores raw bytes under the settings key of `root`.
    static void Store(HKEY root, const char* name, DWORD type, const std::vector<std::uint8_t>& bytes)
    {
        RegKey key;
        ASSERT_EQ(key.Create(root, KeyPath().c_str()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key.get(), name, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    static void StoreText(HKEY root, const char* name, const std::string& text, DWORD type = REG_SZ)
    {
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        bytes.push_back(0);
        Store(root, name, type, bytes);
    }

    struct StoredValue {
        std::string name;
        DWORD type;
        std::vector<std::uint8_t> data;
    };
    // Every value of the current user's settings key, in stored order.
    static std::vector<StoredValue> Values()
    {
        std::vector<StoredValue> out;
        RegKey key;
        if (key.Open(HKEY_CURRENT_USER, KeyPath().c_str(), KEY_READ) != ERROR_SUCCESS)
            return out;
        for (DWORD i = 0;; ++i) {
            StoredValue v;
            if (RegEnumValue(key.get(), i, v.name, &v.type, &v.data) != ERROR_SUCCESS)
                break;
            out.push_back(std::move(v));
        }
        return out;
    }
};
