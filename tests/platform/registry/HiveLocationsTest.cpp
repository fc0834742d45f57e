#include "platform/registry/HiveLocations.h"
#include "platform/registry/Registry.h"
#include "tests/platform/registry/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::registry::Hive;
using platform::registry::HiveFilePath;
using registrytest::kNobody;
using registrytest::Privileges;
using registrytest::RunInChild;
using testsupport::ScopedEnv;

// No overrides; the XDG config folder and the system-wide file live in a
// fresh folder that the unprivileged child may use.
class HiveLocation : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    fs::path m_config = m_dir / "config";
    fs::path m_system = m_dir / "etc" / "machine.reg";
    ScopedEnv m_xdg { "XDG_CONFIG_HOME", m_config.string() };
    ScopedEnv m_user { "QUILLORY_REGISTRY_USER", "" };
    ScopedEnv m_machine { "QUILLORY_REGISTRY_MACHINE", "" };
    ScopedEnv m_systemMachine { "QUILLORY_REGISTRY_SYSTEM_MACHINE", m_system.string() };

    void SetUp() override
    {
        fs::create_directories(m_config);
        fs::create_directories(m_system.parent_path());
        std::ofstream(m_system) << "Windows Registry Editor Version 5.00\n\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\SystemWide]\n\n";
        ::chmod(m_dir.path().c_str(), 0755);
        ::chmod(m_system.c_str(), 0644);
        if (::geteuid() == 0) {
            // The child without root owns its config folder, as a user does.
            ASSERT_EQ(::chown(m_config.c_str(), kNobody, kNobody), 0);
        } else {
            // Without root the child is this user: take the write access.
            ::chmod(m_system.c_str(), 0444);
            ::chmod(m_system.parent_path().c_str(), 0555);
        }
    }

    void TearDown() override { ::chmod(m_system.parent_path().c_str(), 0755); }

    void GiveSystemHiveToChild()
    {
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(m_system.parent_path().c_str(), kNobody, kNobody), 0);
            ::chown(m_system.c_str(), kNobody, kNobody);
        } else {
            ::chmod(m_system.parent_path().c_str(), 0755);
            ::chmod(m_system.c_str(), 0644);
        }
    }

    // What an unprivileged process sees: which file, and whether the
    // system-wide key is visible; it also registers a key.
    std::string Probe(const fs::path& expectedFile, bool expectSystemKey)
    {
        return RunInChild([&]() -> std::string {
            if (HiveFilePath(Hive::Machine) != expectedFile)
                return "machine hive is " + HiveFilePath(Hive::Machine).string();
            RegKey key;
            const bool sawSystem = key.Open(HKEY_LOCAL_MACHINE, "Software\\SystemWide", KEY_READ) == ERROR_SUCCESS;
            if (sawSystem != expectSystemKey)
                return sawSystem ? "system-wide key visible" : "system-wide key missing";
            if (key.Create(HKEY_CLASSES_ROOT, "QVTovanix.Tovanix") != ERROR_SUCCESS)
                return "registration failed";
            return {};
        }, Privileges::DropRoot);
    }
};

TEST_F(HiveLocation, UserHiveDefaultsToXdgConfigFolderAndRelativeOverridesAreIgnored)
{
    // A relative override would write into whatever the working folder is.
    ScopedEnv user("QUILLORY_REGISTRY_USER", "relative.reg");
    ScopedEnv machine("QUILLORY_REGISTRY_MACHINE", "relative-machine.reg");
    const fs::path expected = m_config / "quillory" / "registry" / "user.reg";
    EXPECT_EQ(HiveFilePath(Hive::CurrentUser), expected);
    EXPECT_NE(HiveFilePath(Hive::Machine), fs::path("relative-machine.reg"));
    ASSERT_EQ(RegSetValueEx(HKEY_CURRENT_USER, "v", REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_TRUE(fs::exists(expected));
    EXPECT_FALSE(fs::exists("relative.reg"));
}

TEST_F(HiveLocation, RegistrationGoesToTheSystemHiveOnlyWhenItIsThereAndWritable)
{
    const fs::path perUser = m_config / "quillory" / "registry" / "machine.reg";
    // Read-only: the unprivileged process registers in its own file.
    EXPECT_EQ(Probe(perUser, false), "");
    EXPECT_TRUE(fs::exists(perUser));
    fs::remove(perUser);

    GiveSystemHiveToChild();
    EXPECT_EQ(Probe(m_system, true), "");
    std::ifstream in(m_system);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Classes\\QVTovanix.Tovanix]"), std::string::npos);
    EXPECT_FALSE(fs::exists(perUser));

    fs::remove(m_system);
    EXPECT_EQ(Probe(perUser, false), "");
    EXPECT_FALSE(fs::exists(m_system)) << "the system-wide file is never created";
}

TEST_F(HiveLocation, OpenHandleKeepsItsFileWhenTheEnvironmentChanges)
{
    ScopedEnv first("QUILLORY_REGISTRY_USER", (m_dir / "first.reg").string());
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
    ScopedEnv second("QUILLORY_REGISTRY_USER", (m_dir / "second.reg").string());
    ASSERT_EQ(key.SetDWORDValue("v", 1), ERROR_SUCCESS);
    RegKey other;
    EXPECT_EQ(other.Open(HKEY_CURRENT_USER, "K", KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(fs::exists(m_dir / "second.reg"));
}

} // namespace
