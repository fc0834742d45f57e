#include "grabber/Folders.h"
#include "grabber/ModuleLock.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

TEST(Folders, DataFolderFollowsXdgDataHome)
{
    testsupport::TempDir dir;
    testsupport::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    EXPECT_EQ(UserDataFolder(), (dir / "data").string() + "/Danwell/Tovanix");
}

TEST(Folders, DataFolderFallsBackToHomeWhenXdgDataHomeIsRelative)
{
    testsupport::TempDir dir;
    testsupport::ScopedEnv home("HOME", dir.path().string());
    testsupport::ScopedEnv data("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(UserDataFolder(), dir.path().string() + "/.local/share/Danwell/Tovanix");
}

TEST(Folders, ModuleFolderIsTheFolderOfTheFileHoldingTheCode)
{
    // Linked statically into this test program, the "module" is the
    // program itself.
    std::error_code ec;
    const auto exe = std::filesystem::canonical("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    testsupport::ScopedEnv none("QUILLORY_MODULE_DIR", "");
    EXPECT_EQ(ModuleFolder(), exe.parent_path().string());
}

TEST(Folders, ModuleFolderOverrideIsTakenOnlyWhenAbsolute)
{
    testsupport::ScopedEnv over("QUILLORY_MODULE_DIR", "/tmp/somewhere/");
    EXPECT_EQ(ModuleFolder(), "/tmp/somewhere");
    testsupport::ScopedEnv relative("QUILLORY_MODULE_DIR", "here");
    EXPECT_NE(ModuleFolder(), "here");
}

TEST(ModuleLock, HolderTakesAndGivesBackOneLock)
{
    const long before = ModuleLockCount();
    {
        CModuleLockHolder a;
        EXPECT_EQ(ModuleLockCount(), before + 1);
        CModuleLockHolder b(a);
        EXPECT_EQ(ModuleLockCount(), before + 2);
    }
    EXPECT_EQ(ModuleLockCount(), before);
}

} // namespace
