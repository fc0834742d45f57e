// The stored settings of a user (grab flags, root folder, help path, log
// settings), the folders the grabber derives from the environment, and the
// root folder's creating walk.
#include "grabber/Folders.h"
#include "grabber/LogSettings.h"

#include "tests/grabber/GrabberFixture.h"

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Flag = std::uint8_t CTovanixSettings::*;

// Registry order of the flags; GrabPath sits between GrabScripts and GrabQuickTime.
const std::vector<std::pair<std::string, Flag>> kFlags = {
    { "GrabPictures", &CTovanixSettings::GrabPictures }, { "GrabFlash", &CTovanixSettings::GrabFlash },
    { "GrabCSS", &CTovanixSettings::GrabCSS }, { "GrabScripts", &CTovanixSettings::GrabScripts },
    { "GrabQuickTime", &CTovanixSettings::GrabQuickTime }, { "GrabRealPlayer", &CTovanixSettings::GrabRealPlayer },
    { "GrabMediaPlayer", &CTovanixSettings::GrabMediaPlayer }, { "AutoClose", &CTovanixSettings::AutoClose },
    { "SelectAll", &CTovanixSettings::SelectAll }, { "DebugMode", &CTovanixSettings::DebugMode },
};

Bytes Sz(const std::string& s)
{
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

class TovanixSettingsStore : public FreshUser {
protected:
    static CTovanixSettings Loaded()
    {
        CTovanixSettings s;
        s.Load();
        return s;
    }
    std::string DefaultRoot() const { return (dir / "docs").string() + "/Grabbed Files"; }
};

TEST_F(TovanixSettingsStore, FreshUserGetsAllFlagsOnButAutoCloseAndDebugModeAndWritesNothing)
{
    CTovanixSettings s;
    s.GrabCSS = 0;
    s.RootFolder = "stale";
    s.Load();
    for (const auto& [name, flag] : kFlags)
        EXPECT_EQ(s.*flag, name == "AutoClose" || name == "DebugMode" ? 0 : 1) << name;
    EXPECT_EQ(s.RootFolder, DefaultRoot());
    // The documents folder is made as the shell makes it; the root folder
    // waits until something is saved into it.
    EXPECT_TRUE(fs::is_directory(dir / "docs"));
    EXPECT_FALSE(fs::exists(DefaultRoot()));
    EXPECT_TRUE(Values().empty());
    // Existing installations keep their settings under this key.
    EXPECT_EQ(KeyPath(), "Software\\Vornel\\Plugins\\Internet Explorer\\Quillory");
}

TEST_F(TovanixSettingsStore, SaveWritesElevenValuesInOrderAndFormThatComeBack)
{
    CTovanixSettings first = Loaded();
    first.GrabScripts = 0;
    first.AutoClose = 1;
    first.DebugMode = 1;
    first.RootFolder = (dir / "elsewhere").string();
    first.Save();

    std::vector<StoredValue> expected;
    for (const auto& [name, flag] : kFlags) {
        if (expected.size() == 4)
            expected.emplace_back("GrabPath", REG_SZ, Sz(first.RootFolder));
        expected.emplace_back(name, REG_BINARY, Bytes { first.*flag });
    }
    EXPECT_EQ(Values(), expected);

    const CTovanixSettings second = Loaded();
    for (const auto& [name, flag] : kFlags)
        EXPECT_EQ(second.*flag, first.*flag) << name;
    EXPECT_EQ(second.RootFolder, first.RootFolder);
}

TEST_F(TovanixSettingsStore, FlagIsTakenByItsExactSizeWhateverItsTypeAndKeptAsStored)
{
    Store(HKEY_CURRENT_USER, "GrabFlash", REG_DWORD, { 0, 0, 0, 0 });
    Store(HKEY_CURRENT_USER, "GrabScripts", REG_BINARY, { 0, 0 });
    Store(HKEY_CURRENT_USER, "GrabCSS", REG_BINARY, { 0 });
    Store(HKEY_CURRENT_USER, "SelectAll", REG_DWORD, { 0 });
    Store(HKEY_CURRENT_USER, "AutoClose", REG_BINARY, {});
    Store(HKEY_CURRENT_USER, "GrabQuickTime", REG_BINARY, { 7 });
    const CTovanixSettings s = Loaded();
    EXPECT_EQ((std::vector<int> { s.GrabFlash, s.GrabScripts, s.GrabCSS, s.SelectAll, s.AutoClose, s.GrabQuickTime }),
        (std::vector<int> { 1, 1, 0, 0, 0, 7 }));
    // Any stored non-zero byte reads as on; only VARIANT_TRUE stores on.
    EXPECT_EQ(VariantBoolFromFlag(s.GrabQuickTime), -1);
    EXPECT_EQ(FlagFromVariantBool(-2), 0);
}

TEST_F(TovanixSettingsStore, GrabPathIsTakenAsStoredOrFallsBackToDocumentsWhenUntrusted)
{
    const std::string longest = "/" + std::string(258, 'a');
    struct Case {
        const char* what;
        DWORD type;
        Bytes bytes;
        std::optional<std::string> expected; // none: the fallback
    };
    const std::vector<Case> cases {
        { "without terminating zero", REG_SZ, { '/', 'x' }, std::nullopt },
        { "260 characters", REG_SZ, Sz(std::string(260, 'b')), std::nullopt },
        { "binary", REG_BINARY, { '/', 'x', 0 }, std::nullopt },
        { "dword", REG_DWORD, { '/', 'x', 'y', 0 }, std::nullopt },
        { "259 characters", REG_SZ, Sz(longest), longest },
        { "no variable expansion", REG_EXPAND_SZ, Sz("$HOME/x"), "$HOME/x" },
        { "empty", REG_SZ, { 0 }, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Store(HKEY_CURRENT_USER, "GrabPath", c.type, c.bytes);
        EXPECT_EQ(Loaded().RootFolder, c.expected.value_or(DefaultRoot()));
    }
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
    CLogSettings log;
    EXPECT_FALSE(log.Load());
    EXPECT_FALSE(log.Save());
}

TEST_F(TovanixSettingsStore, HelpPathPrefersTheUsersReadableValueAndIsEmptiedWhenGone)
{
    StoreText(HKEY_LOCAL_MACHINE, "HelpPath", "/opt/help/quillory.chm");
    Store(HKEY_CURRENT_USER, "GrabCSS", REG_BINARY, { 1 }); // the user's key exists without a help path
    const std::vector<std::pair<std::string, std::string>> steps = {
        { "", "/opt/help/quillory.chm" }, { "/home/help.chm", "/home/help.chm" },
        { std::string(260, 'h'), "/opt/help/quillory.chm" }, // an unreadable user value gives way
    };
    for (const auto& [user, expected] : steps) {
        if (!user.empty())
            StoreText(HKEY_CURRENT_USER, "HelpPath", user);
        Loaded();
        EXPECT_EQ(HelpPath(), expected) << user.size();
    }
    for (HKEY root : { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE }) {
        RegKey key;
        ASSERT_EQ(key.Open(root, KeyPath().c_str()), ERROR_SUCCESS);
        ASSERT_EQ(key.DeleteValue("HelpPath"), ERROR_SUCCESS);
    }
    ReadHelpPath();
    EXPECT_EQ(HelpPath(), "");
}

TEST_F(TovanixSettingsStore, LogValuesAreReadByExactSizeWhateverTheirTypeElseKeepTheirDefaults)
{
    struct Case {
        const char* what;
        std::vector<std::tuple<const char*, DWORD, Bytes>> stored;
        bool log;
        std::int32_t max;
        bool post;
    };
    const std::vector<Case> cases = {
        { "nothing stored", {}, false, 500, true },
        { "all ones is minus one", { { "MaxOverallLog", REG_BINARY, { 0xFF, 0xFF, 0xFF, 0xFF } } }, false, -1, true },
        { "exact sizes, any type (0x210 = 528)",
            { { "MaxOverallLog", REG_DWORD, { 0x10, 0x02, 0x00, 0x00 } }, { "OverallLog", REG_SZ, { 1 } },
                { "PostGrabbingLog", REG_BINARY, { 0 } } },
            true, 528, false },
        { "wrong sizes",
            { { "MaxOverallLog", REG_BINARY, { 0x01, 0x00 } }, { "OverallLog", REG_BINARY, { 1, 1, 1, 1 } },
                { "PostGrabbingLog", REG_BINARY, {} }, { "OverallLogPath", REG_SZ, { '/', 'l' } } },
            false, 500, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [name, type, bytes] : c.stored)
            Store(HKEY_CURRENT_USER, name, type, bytes);
        CLogSettings s;
        ASSERT_TRUE(s.Load());
        EXPECT_EQ(std::tuple(s.OverallLog, s.OverallLogPath, s.MaxOverallLog, s.PostGrabbingLog),
            std::tuple(c.log, std::string(), c.max, c.post));
    }
}

TEST_F(TovanixSettingsStore, LogSaveWritesFourValuesInOrderAndFormThatComeBack)
{
    CLogSettings s;
    s.OverallLog = true;
    s.PostGrabbingLog = false;
    s.MaxOverallLog = -2;
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(Values(), (std::vector<StoredValue> {
        { "OverallLog", REG_BINARY, { 1 } }, { "PostGrabbingLog", REG_BINARY, { 0 } },
        { "MaxOverallLog", REG_BINARY, { 0xFE, 0xFF, 0xFF, 0xFF } },
        { "OverallLogPath", REG_SZ, { 0 } }, // an empty path is a single terminating zero
    }));

    s.OverallLogPath = "/var/tmp/grab log.txt";
    s.MaxOverallLog = 2048;
    ASSERT_TRUE(s.Save());
    CLogSettings t;
    ASSERT_TRUE(t.Load());
    EXPECT_EQ(std::tuple(t.OverallLog, t.OverallLogPath, t.MaxOverallLog, t.PostGrabbingLog),
        std::tuple(true, std::string("/var/tmp/grab log.txt"), 2048, false));
}

// ---- folders and the root folder walk ---------------------------------------

TEST(Folders, DataAndModuleFoldersFollowAbsoluteOverridesOnly)
{
    testsupport::TempDir dir;
    testsupport::ScopedEnv home("HOME", dir.path().string());
    {
        testsupport::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
        EXPECT_EQ(UserDataFolder(), (dir / "data").string() + "/Danwell/Tovanix");
        testsupport::ScopedEnv relative("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(UserDataFolder(), dir.path().string() + "/.local/share/Danwell/Tovanix");
    }
    // Linked statically into this test program, the "module" is the program itself.
    std::error_code ec;
    const auto exe = fs::canonical("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    testsupport::ScopedEnv none("QUILLORY_MODULE_DIR", "");
    EXPECT_EQ(ModuleFolder(), exe.parent_path().string());
    testsupport::ScopedEnv over("QUILLORY_MODULE_DIR", "/tmp/somewhere/");
    EXPECT_EQ(ModuleFolder(), "/tmp/somewhere");
    testsupport::ScopedEnv relative("QUILLORY_MODULE_DIR", "here");
    EXPECT_NE(ModuleFolder(), "here");
}

TEST(RootFolderWalk, CreatesTheCanonicalFolderAndRefusesWhatItMayNotMake)
{
    testsupport::TempDir dir;
    std::ofstream(dir / "file") << "x";
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const bool lockHolds = ::access((dir / "locked").c_str(), W_OK) != 0; // not with rights that ignore it
    struct Case {
        std::string text;
        RootFolderResult result;
        const char* what;
    };
    const std::vector<Case> cases = {
        { (dir / "a" / "b" / "c").string(), RootFolderResult::Exists, "every missing nested folder" },
        { (dir / "x").string() + "/../y/./z/", RootFolderResult::Exists, "the canonical folder" },
        { (dir / "file").string(), RootFolderResult::Exists, "an existing file counts as existing" },
        { (dir / "file" / "sub").string(), RootFolderResult::Failed, "below a file" },
        { "relative/folder", RootFolderResult::Failed, "relative" },
        { "", RootFolderResult::Failed, "empty" },
        { (dir / std::string(300, 'd')).string(), RootFolderResult::Failed, "overlong" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(CreateRootFolder(c.text), c.result) << c.what;
    // The walk stops at the first folder it cannot make.
    if (lockHolds) {
        EXPECT_EQ(CreateRootFolder((dir / "locked" / "a" / "b").string()), RootFolderResult::Failed);
    }
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(dir / "locked" / "a"));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_TRUE(fs::is_directory(dir / "y" / "z"));
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_TRUE(fs::is_regular_file(dir / "file"));
    EXPECT_FALSE(fs::exists("relative"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4) << "a, y, file, locked";
}

} // namespace
