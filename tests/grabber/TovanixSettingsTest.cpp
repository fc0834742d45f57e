#include "grabber/TovanixSettings.h"

#include "tests/grabber/SettingsFixture.h"

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

class TovanixSettingsStore : public FreshUser { };

TEST_F(TovanixSettingsStore, FreshUserGetsAllFlagsOnButAutoCloseAndDebugMode)
{
    CTovanixSettings s;
    s.GrabCSS = 0;
    s.RootFolder = "stale";
    s.Load();
    EXPECT_EQ(s.GrabPictures, 1);
    EXPECT_EQ(s.GrabFlash, 1);
    EXPECT_EQ(s.GrabCSS, 1);
    EXPECT_EQ(s.GrabScripts, 1);
    EXPECT_EQ(s.GrabQuickTime, 1);
    EXPECT_EQ(s.GrabRealPlayer, 1);
    EXPECT_EQ(s.GrabMediaPlayer, 1);
    EXPECT_EQ(s.AutoClose, 0);
    EXPECT_EQ(s.SelectAll, 1);
    EXPECT_EQ(s.DebugMode, 0);
    EXPECT_EQ(s.RootFolder, (dir / "docs").string() + "/Grabbed Files");
    // The documents folder is made as the shell makes it; the root folder
    // itself waits until something is saved into it.
    EXPECT_TRUE(fs::is_directory(dir / "docs"));
    EXPECT_FALSE(fs::exists(dir / "docs" / "Grabbed Files"));
    // Loading alone writes no value.
    EXPECT_TRUE(Values().empty());
}

TEST_F(TovanixSettingsStore, FirstSaveWritesAllElevenValuesInOrderAndForm)
{
    CTovanixSettings s;
    s.Load();
    s.GrabScripts = 0;
    s.AutoClose = 1;
    s.Save();
    const auto values = Values();
    const std::vector<std::string> names { "GrabPictures", "GrabFlash", "GrabCSS", "GrabScripts", "GrabPath",
        "GrabQuickTime", "GrabRealPlayer", "GrabMediaPlayer", "AutoClose", "SelectAll", "DebugMode" };
    const std::vector<std::uint8_t> flags { 1, 1, 1, 0, 0 /* path */, 1, 1, 1, 1, 1, 0 };
    ASSERT_EQ(values.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(values[i].name, names[i]);
        if (names[i] == "GrabPath") {
            EXPECT_EQ(values[i].type, REG_SZ);
            Bytes expected(s.RootFolder.begin(), s.RootFolder.end());
            expected.push_back(0);
            EXPECT_EQ(values[i].data, expected);
        } else {
            EXPECT_EQ(values[i].type, REG_BINARY);
            EXPECT_EQ(values[i].data, Bytes { flags[i] });
        }
    }
}

TEST_F(TovanixSettingsStore, SavedValuesComeBackInANewObject)
{
    CTovanixSettings first;
    first.Load();
    first.GrabPictures = 0;
    first.GrabMediaPlayer = 0;
    first.SelectAll = 0;
    first.DebugMode = 1;
    first.RootFolder = (dir / "elsewhere").string();
    first.Save();

    CTovanixSettings second;
    second.Load();
    EXPECT_EQ(second.GrabPictures, 0);
    EXPECT_EQ(second.GrabFlash, 1);
    EXPECT_EQ(second.GrabMediaPlayer, 0);
    EXPECT_EQ(second.SelectAll, 0);
    EXPECT_EQ(second.DebugMode, 1);
    EXPECT_EQ(second.RootFolder, (dir / "elsewhere").string());
}

TEST_F(TovanixSettingsStore, FlagOfAnotherSizeIsNotTaken)
{
    Store(HKEY_CURRENT_USER, "GrabFlash", REG_DWORD, { 0, 0, 0, 0 });
    Store(HKEY_CURRENT_USER, "GrabScripts", REG_BINARY, { 0, 0 });
    Store(HKEY_CURRENT_USER, "GrabCSS", REG_BINARY, { 0 });
    // The type is not looked at, only the size.
    Store(HKEY_CURRENT_USER, "SelectAll", REG_DWORD, { 0 });
    Store(HKEY_CURRENT_USER, "AutoClose", REG_BINARY, {});
    CTovanixSettings s;
    s.Load();
    EXPECT_EQ(s.GrabFlash, 1);
    EXPECT_EQ(s.GrabScripts, 1);
    EXPECT_EQ(s.GrabCSS, 0);
    EXPECT_EQ(s.SelectAll, 0);
    EXPECT_EQ(s.AutoClose, 0);
}

TEST_F(TovanixSettingsStore, UnusualFlagByteIsKeptAsStored)
{
    Store(HKEY_CURRENT_USER, "GrabQuickTime", REG_BINARY, { 7 });
    CTovanixSettings s;
    s.Load();
    EXPECT_EQ(s.GrabQuickTime, 7);
    EXPECT_EQ(VariantBoolFromFlag(s.GrabQuickTime), -1);
}

TEST_F(TovanixSettingsStore, GrabPathThatCannotBeTrustedFallsBackToDocuments)
{
    const std::string fallback = (dir / "docs").string() + "/Grabbed Files";
    struct Case {
        const char* what;
        DWORD type;
        Bytes bytes;
    };
    const std::string longest(259, 'a');
    Bytes tooLong(260, 'b');
    tooLong.push_back(0);
    const std::vector<Case> cases {
        { "without terminating zero", REG_SZ, { '/', 'x' } },
        { "260 characters", REG_SZ, tooLong },
        { "binary", REG_BINARY, { '/', 'x', 0 } },
        { "dword", REG_DWORD, { '/', 'x', 'y', 0 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Store(HKEY_CURRENT_USER, "GrabPath", c.type, c.bytes);
        CTovanixSettings s;
        s.Load();
        EXPECT_EQ(s.RootFolder, fallback);
    }

    StoreText(HKEY_CURRENT_USER, "GrabPath", "/" + longest.substr(1));
    CTovanixSettings full;
    full.Load();
    EXPECT_EQ(full.RootFolder, "/" + longest.substr(1));

    // Stored as given: no variable expansion.
    StoreText(HKEY_CURRENT_USER, "GrabPath", "$HOME/x", REG_EXPAND_SZ);
    CTovanixSettings expand;
    expand.Load();
    EXPECT_EQ(expand.RootFolder, "$HOME/x");

    StoreText(HKEY_CURRENT_USER, "GrabPath", "");
    CTovanixSettings empty;
    empty.Load();
    EXPECT_EQ(empty.RootFolder, "");
}

TEST_F(TovanixSettingsStore, UnopenableKeyLeavesDefaultsAndEmptyRootFolder)
{
    // A hive whose folder is a regular file can be neither read nor made.
    std::ofstream(dir / "blocker") << "x";
    testsupport::ScopedEnv broken("QUILLORY_REGISTRY_USER", (dir / "blocker" / "user.reg").string());
    CTovanixSettings s;
    s.RootFolder = "stale";
    s.GrabCSS = 0;
    s.Load();
    EXPECT_EQ(s.GrabCSS, 1);
    EXPECT_EQ(s.RootFolder, "");
    s.Save(); // must neither crash nor report
    EXPECT_TRUE(fs::is_regular_file(dir / "blocker"));
}

TEST_F(TovanixSettingsStore, HelpPathFromMachineWhenUserLacksIt)
{
    StoreText(HKEY_LOCAL_MACHINE, "HelpPath", "/opt/help/quillory.chm");
    // The user's key exists but has no help path.
    Store(HKEY_CURRENT_USER, "GrabCSS", REG_BINARY, { 1 });
    CTovanixSettings s;
    s.Load();
    EXPECT_EQ(HelpPath(), "/opt/help/quillory.chm");

    StoreText(HKEY_CURRENT_USER, "HelpPath", "/home/help.chm");
    s.Load();
    EXPECT_EQ(HelpPath(), "/home/help.chm");

    // An unreadable user value (too long) gives way to the machine's.
    StoreText(HKEY_CURRENT_USER, "HelpPath", std::string(260, 'h'));
    s.Load();
    EXPECT_EQ(HelpPath(), "/opt/help/quillory.chm");
}

TEST_F(TovanixSettingsStore, HelpPathIsEmptiedWhenNoLongerStored)
{
    StoreText(HKEY_CURRENT_USER, "HelpPath", "/old.chm");
    ReadHelpPath();
    ASSERT_EQ(HelpPath(), "/old.chm");
    {
        RegKey key;
        ASSERT_EQ(key.Open(HKEY_CURRENT_USER, KeyPath().c_str()), ERROR_SUCCESS);
        ASSERT_EQ(key.DeleteValue("HelpPath"), ERROR_SUCCESS);
    }
    ReadHelpPath();
    EXPECT_EQ(HelpPath(), "");
}

TEST(TovanixFlagRule, OnlyVariantTrueStoresOn)
{
    EXPECT_EQ(FlagFromVariantBool(-1), 1);
    EXPECT_EQ(FlagFromVariantBool(1), 0);
    EXPECT_EQ(FlagFromVariantBool(0), 0);
    EXPECT_EQ(FlagFromVariantBool(-2), 0);
    EXPECT_EQ(VariantBoolFromFlag(1), -1);
    EXPECT_EQ(VariantBoolFromFlag(0), 0);
}

TEST(ModuleStrings, SettingsKeyComesFromTheStringTable)
{
    EXPECT_EQ(LoadModuleString(101), "Software\\Vornel\\Plugins\\Internet Explorer\\Quillory");
    EXPECT_EQ(LoadModuleString(102), "");
}

class RootFolderWalk : public ::testing::Test {
protected:
    testsupport::TempDir dir;
};

TEST_F(RootFolderWalk, CreatesEveryMissingNestedFolder)
{
    const fs::path target = dir / "a" / "b" / "c";
    EXPECT_EQ(CreateRootFolder(target.string()), RootFolderResult::Exists);
    EXPECT_TRUE(fs::is_directory(target));
}

TEST_F(RootFolderWalk, CreatesTheCanonicalFolderNotTheWrittenOne)
{
    const std::string text = (dir / "x").string() + "/../y/./z/";
    EXPECT_EQ(CreateRootFolder(text), RootFolderResult::Exists);
    EXPECT_TRUE(fs::is_directory(dir / "y" / "z"));
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST_F(RootFolderWalk, FailsBelowAFileAndCreatesNothingThere)
{
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(CreateRootFolder((dir / "file" / "sub").string()), RootFolderResult::Failed);
    EXPECT_TRUE(fs::is_regular_file(dir / "file"));
}

TEST_F(RootFolderWalk, AnExistingFileCountsAsExisting)
{
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(CreateRootFolder((dir / "file").string()), RootFolderResult::Exists);
}

TEST_F(RootFolderWalk, RelativeOrOverlongPathIsRefusedWithoutCreatingAnything)
{
    EXPECT_EQ(CreateRootFolder("relative/folder"), RootFolderResult::Failed);
    EXPECT_FALSE(fs::exists("relative"));
    EXPECT_EQ(CreateRootFolder(""), RootFolderResult::Failed);
    const std::string deep = (dir / std::string(300, 'd')).string();
    EXPECT_EQ(CreateRootFolder(deep), RootFolderResult::Failed);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(RootFolderWalk, WalkStopsAtTheFirstFolderThatCannotBeMade)
{
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    if (::access((dir / "locked").c_str(), W_OK) == 0)
        GTEST_SKIP() << "running with rights that ignore folder permissions";
    EXPECT_EQ(CreateRootFolder((dir / "locked" / "a" / "b").string()), RootFolderResult::Failed);
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(dir / "locked" / "a"));
}

} // namespace
