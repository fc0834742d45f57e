#include "platform/registry/HiveLocations.h"
#include "tests/platform/registry/RegistryFixture.h"

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using namespace registrytest;
using platform::registry::Hive;
using platform::registry::HiveFilePath;
using testsupport::ScopedEnv;

// No overrides; the XDG config folder and the system-wide file live in a
// fresh folder that the unprivileged child may use.
class HiveLocation : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    fs::path m_config = m_dir / "config";
    fs::path m_system = m_dir / "etc" / "machine.reg";
    fs::path m_perUser = m_config / "quillory" / "registry" / "machine.reg";
    ScopedEnv m_xdg { "XDG_CONFIG_HOME", m_config.string() };
    ScopedEnv m_user { "QUILLORY_REGISTRY_USER", "" };
    ScopedEnv m_machine { "QUILLORY_REGISTRY_MACHINE", "" };
    ScopedEnv m_systemMachine { "QUILLORY_REGISTRY_SYSTEM_MACHINE", m_system.string() };
    const bool m_root = ::geteuid() == 0;

    void SetUp() override
    {
        fs::create_directories(m_config);
        fs::create_directories(m_system.parent_path());
        WriteFile(m_system, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\SystemWide]\n\n");
        ::chmod(m_dir.path().c_str(), 0755);
        // The child owns its config folder, as a user does; without root
        // the child is this user, so take the write access instead.
        if (m_root) {
            ASSERT_EQ(::chown(m_config.c_str(), kNobody, kNobody), 0);
        }
        ::chmod(m_system.c_str(), m_root ? 0644 : 0444);
        ::chmod(m_system.parent_path().c_str(), m_root ? 0755 : 0555);
    }

    void TearDown() override { ::chmod(m_system.parent_path().c_str(), 0755); }

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
    // Read-only: the unprivileged process registers in its own file.
    EXPECT_EQ(Probe(m_perUser, false), "");
    EXPECT_TRUE(fs::exists(m_perUser));
    fs::remove(m_perUser);

    if (m_root) {
        ASSERT_EQ(::chown(m_system.parent_path().c_str(), kNobody, kNobody), 0);
        ::chown(m_system.c_str(), kNobody, kNobody);
    } else {
        ::chmod(m_system.parent_path().c_str(), 0755);
        ::chmod(m_system.c_str(), 0644);
    }
    EXPECT_EQ(Probe(m_system, true), "");
    EXPECT_NE(ReadFile(m_system).find("[HKEY_LOCAL_MACHINE\\Software\\Classes\\QVTovanix.Tovanix]"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_perUser));

    fs::remove(m_system);
    EXPECT_EQ(Probe(m_perUser, false), "");
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
