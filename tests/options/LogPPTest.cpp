#include "options/ContextHelp.h"
#include "options/LogPP.h"
#include "tests/options/OptionsFixture.h"

#include <chrono>
#include <functional>

namespace {

using namespace std::chrono_literals;

class LogPPTest : public OptionsUser {
protected:
    // Shows `dlg` modally while `script` plays the user; returns DoModal's
    // result.
    int Show(CLogPP& dlg, std::function<void(CLogPP&)> script)
    {
        view->OnDialog("options", [script = std::move(script)](ui::Dialog& d) { script(static_cast<CLogPP&>(d)); });
        return dlg.DoModal();
    }

    // Lets the dialog's loop run (its timer included) until `done` or a
    // little more than one timer period.
    static bool WaitFor(const std::function<bool()>& done)
    {
        return ui::MessageLoop::Current().RunUntil(done, CLogPP::kTimerPeriod + 300ms);
    }

    static std::vector<std::uint8_t> Bytes(std::initializer_list<int> b)
    {
        return std::vector<std::uint8_t>(b.begin(), b.end());
    }
    static std::vector<std::uint8_t> TextBytes(const std::string& s)
    {
        std::vector<std::uint8_t> v(s.begin(), s.end());
        v.push_back(0);
        return v;
    }

    // The stored bytes of one value; empty when it is missing.
    static std::vector<std::uint8_t> Stored(const std::string& name)
    {
        for (const auto& v : Values())
            if (v.name == name)
                return v.data;
        return {};
    }

    static constexpr int kEditable[] = { CLogPP::IDC_LOG_PATH, CLogPP::IDC_SIZE_LIMIT, CLogPP::IDC_BROWSE,
        CLogPP::IDC_VIEW };
};

TEST_F(LogPPTest, FreshUserSeesDefaultsWithPathSizeBrowseViewDisabled)
{
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) {
        EXPECT_FALSE(d.IsChecked(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_TRUE(d.IsChecked(CLogPP::IDC_POSTGRAB));
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), "");
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "500");
        for (int id : kEditable)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        for (int id : { CLogPP::IDC_ENABLE_OVERALL, CLogPP::IDC_POSTGRAB, ui::IDOK, ui::IDCANCEL })
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.PostCommand(ui::IDCANCEL);
    });
    // Opening wrote nothing but the key itself.
    EXPECT_TRUE(Values().empty());
}

TEST_F(LogPPTest, StoredValuesAreShownAndMinusOneStaysSigned)
{
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    StoreText("OverallLogPath", "/var/log/grab log.txt");
    Store("MaxOverallLog", REG_BINARY, Bytes({ 0xFF, 0xFF, 0xFF, 0xFF }));
    Store("PostGrabbingLog", REG_BINARY, Bytes({ 0 }));
    CLogPP dlg(kSettingsKey, "");
    EXPECT_EQ(dlg.SizeLimit(), -1);
    Show(dlg, [](CLogPP& d) {
        EXPECT_TRUE(d.IsChecked(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_FALSE(d.IsChecked(CLogPP::IDC_POSTGRAB));
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), "/var/log/grab log.txt");
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "-1");
        for (int id : kEditable)
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        d.PostCommand(ui::IDCANCEL);
    });
}

TEST_F(LogPPTest, ValuesOfOtherSizesKeepTheirDefaults)
{
    // A REG_DWORD flag is four bytes: not a one-byte flag. A two-byte size
    // limit is not a four-byte one. A path without its zero is unreadable.
    Store("OverallLog", REG_DWORD, Bytes({ 1, 0, 0, 0 }));
    Store("MaxOverallLog", REG_BINARY, Bytes({ 7, 0 }));
    Store("OverallLogPath", REG_SZ, Bytes({ 'a', 'b' }));
    CLogPP dlg(kSettingsKey, "");
    EXPECT_FALSE(dlg.OverallLog());
    EXPECT_EQ(dlg.SizeLimit(), 500);
    EXPECT_EQ(dlg.LogPath(), "");
}

TEST_F(LogPPTest, EnableRuleFollowsTheCheckBoxOnEveryTick)
{
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) {
        ASSERT_TRUE(d.UserClicks(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_TRUE(WaitFor([&] { return d.IsEnabled(CLogPP::IDC_LOG_PATH); }));
        for (int id : kEditable)
            EXPECT_TRUE(d.IsEnabled(id)) << id;
        // A second change needs a later tick: the timer keeps running.
        ASSERT_TRUE(d.UserClicks(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_TRUE(WaitFor([&] { return !d.IsEnabled(CLogPP::IDC_LOG_PATH); }));
        for (int id : kEditable)
            EXPECT_FALSE(d.IsEnabled(id)) << id;
        EXPECT_TRUE(d.IsEnabled(CLogPP::IDC_POSTGRAB));
        d.PostCommand(ui::IDCANCEL);
    });
}

TEST_F(LogPPTest, DisabledBoxesAndDigitsOnlySizeRefuseTypedInput)
{
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) {
        EXPECT_FALSE(d.UserTypes(CLogPP::IDC_LOG_PATH, "/x.txt"));
        EXPECT_FALSE(d.UserClicks(CLogPP::IDC_VIEW));
        d.UserClicks(CLogPP::IDC_ENABLE_OVERALL);
        ASSERT_TRUE(WaitFor([&] { return d.IsEnabled(CLogPP::IDC_SIZE_LIMIT); }));
        EXPECT_FALSE(d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "-5"));
        EXPECT_FALSE(d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "12k"));
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "500");
        EXPECT_TRUE(d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "2048"));
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "2048");
        d.PostCommand(ui::IDCANCEL);
    });
}

TEST_F(LogPPTest, OkWritesTheFourValuesInOrderAndForm)
{
    CLogPP dlg(kSettingsKey, "");
    const int result = Show(dlg, [](CLogPP& d) {
        d.UserClicks(CLogPP::IDC_ENABLE_OVERALL);
        d.UserClicks(CLogPP::IDC_POSTGRAB);
        ASSERT_TRUE(WaitFor([&] { return d.IsEnabled(CLogPP::IDC_LOG_PATH); }));
        d.UserTypes(CLogPP::IDC_LOG_PATH, "/home/u/logs/quillory log.txt");
        d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "70000");
        d.UserClicks(ui::IDOK);
    });
    EXPECT_EQ(result, ui::IDOK);
    const std::vector<StoredValue> expected {
        { "OverallLog", REG_BINARY, Bytes({ 1 }) },
        { "PostGrabbingLog", REG_BINARY, Bytes({ 0 }) },
        { "MaxOverallLog", REG_BINARY, Bytes({ 0x70, 0x11, 0x01, 0x00 }) },
        { "OverallLogPath", REG_SZ, TextBytes("/home/u/logs/quillory log.txt") },
    };
    EXPECT_EQ(Values(), expected);
}

TEST_F(LogPPTest, OkStoresEmptyPathAsOneZeroAndNonNumericSizeAsZero)
{
    StoreText("OverallLogPath", "/old.txt");
    Store("MaxOverallLog", REG_BINARY, Bytes({ 0xFF, 0xFF, 0xFF, 0xFF }));
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) {
        d.UserTypes(CLogPP::IDC_LOG_PATH, "");
        // Pasted text is not held to digits only.
        d.SetText(CLogPP::IDC_SIZE_LIMIT, "12kb");
        d.UserClicks(ui::IDOK);
    });
    EXPECT_EQ(Stored("OverallLogPath"), Bytes({ 0 }));
    EXPECT_EQ(Stored("MaxOverallLog"), Bytes({ 0, 0, 0, 0 }));
}

TEST_F(LogPPTest, UnchangedMinusOneIsWrittenBackAsMinusOne)
{
    Store("MaxOverallLog", REG_BINARY, Bytes({ 0xFF, 0xFF, 0xFF, 0xFF }));
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) { d.UserClicks(ui::IDOK); });
    EXPECT_EQ(Stored("MaxOverallLog"), Bytes({ 0xFF, 0xFF, 0xFF, 0xFF }));
}

TEST_F(LogPPTest, CancelAndTheCloseBoxWriteNothing)
{
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    StoreText("OverallLogPath", "/kept.txt");
    Store("MaxOverallLog", REG_BINARY, Bytes({ 10, 0, 0, 0 }));
    Store("PostGrabbingLog", REG_BINARY, Bytes({ 1 }));
    const std::string before = UserHiveBytes();
    auto editEverything = [](CLogPP& d) {
        d.UserTypes(CLogPP::IDC_LOG_PATH, "/changed.txt");
        d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "99");
        d.UserClicks(CLogPP::IDC_POSTGRAB);
        d.UserClicks(CLogPP::IDC_ENABLE_OVERALL);
    };
    {
        CLogPP dlg(kSettingsKey, "");
        EXPECT_EQ(Show(dlg, [&](CLogPP& d) { editEverything(d), d.UserClicks(ui::IDCANCEL); }), ui::IDCANCEL);
    }
    EXPECT_EQ(UserHiveBytes(), before);
    {
        CLogPP dlg(kSettingsKey, "");
        EXPECT_EQ(Show(dlg, [&](CLogPP& d) { editEverything(d), d.PostClose(); }), ui::IDCANCEL);
    }
    EXPECT_EQ(UserHiveBytes(), before);
}

TEST_F(LogPPTest, OkClosesEvenWhenTheKeyCannotBeOpened)
{
    // The user hive's folder is a file: nothing can be created or saved.
    std::ofstream(dir / "blocked") << "x";
    testsupport::ScopedEnv blocked("QUILLORY_REGISTRY_USER", (dir / "blocked" / "user.reg").string());
    CLogPP dlg(kSettingsKey, "");
    EXPECT_EQ(dlg.SizeLimit(), 500);
    EXPECT_TRUE(dlg.PostGrabLog());
    EXPECT_EQ(Show(dlg, [](CLogPP& d) { d.UserClicks(ui::IDOK); }), ui::IDOK);
    EXPECT_FALSE(std::filesystem::exists(dir / "user.reg"));
}

TEST_F(LogPPTest, ViewOpensTheLoadedPathNotTheTypedOne)
{
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    StoreText("OverallLogPath", "/logs/loaded log.txt");
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) {
        d.UserTypes(CLogPP::IDC_LOG_PATH, "/logs/typed.txt");
        d.UserClicks(CLogPP::IDC_VIEW);
        d.UserClicks(ui::IDOK);
    });
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { "/logs/loaded log.txt" });
    EXPECT_EQ(Stored("OverallLogPath"), TextBytes("/logs/typed.txt"));
}

TEST_F(LogPPTest, BrowseOffersTextFilesAndTakesANewFileName)
{
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    StoreText("OverallLogPath", "/logs/old.txt");
    const std::string chosen = (dir / "not yet there" / "grab-log").string();
    view->SetOpenFileAnswer(chosen);
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [&](CLogPP& d) {
        d.UserClicks(CLogPP::IDC_BROWSE);
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), chosen + ".txt");
        // View now opens the browsed file, and browsing again starts there.
        d.UserClicks(CLogPP::IDC_VIEW);
        d.UserClicks(CLogPP::IDC_BROWSE);
        d.PostCommand(ui::IDCANCEL);
    });
    EXPECT_EQ(view->filters, (std::vector<std::string> { "Text File (*.txt)|*.txt", "Text File (*.txt)|*.txt" }));
    EXPECT_EQ(view->OpenFileInitialFiles(), (std::vector<std::string> { "/logs/old.txt", chosen + ".txt" }));
    ASSERT_EQ(view->owners.size(), 2u);
    EXPECT_EQ(view->owners[0], &dlg);
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { chosen + ".txt" });
}

TEST_F(LogPPTest, BrowseCancelledChangesNothing)
{
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    StoreText("OverallLogPath", "/logs/old.txt");
    view->SetOpenFileAnswer(std::nullopt);
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [](CLogPP& d) {
        d.UserClicks(CLogPP::IDC_BROWSE);
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), "/logs/old.txt");
        d.UserClicks(CLogPP::IDC_VIEW);
        d.PostCommand(ui::IDCANCEL);
    });
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { "/logs/old.txt" });
}

TEST_F(LogPPTest, PathLongerThanTheStoredLimitIsCutSoItCanBeReadBack)
{
    Store("OverallLog", REG_BINARY, Bytes({ 1 }));
    // 258 ASCII bytes, then a two-byte character that would end at 260.
    const std::string typed = "/" + std::string(257, 'a') + "\xC3\xA9" + "tail";
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [&](CLogPP& d) {
        d.UserTypes(CLogPP::IDC_LOG_PATH, typed);
        d.UserClicks(ui::IDOK);
    });
    CLogPP reread(kSettingsKey, "");
    EXPECT_EQ(reread.LogPath(), typed.substr(0, 258));
}

TEST(ParseSizeLimit, ReadsSignedDecimalAndZeroForAnythingElse)
{
    EXPECT_EQ(ParseSizeLimit("500"), 500);
    EXPECT_EQ(ParseSizeLimit("-1"), -1);
    EXPECT_EQ(ParseSizeLimit(" 42 "), 42);
    EXPECT_EQ(ParseSizeLimit("2147483647"), 2147483647);
    EXPECT_EQ(ParseSizeLimit("2147483648"), 0);
    EXPECT_EQ(ParseSizeLimit(""), 0);
    EXPECT_EQ(ParseSizeLimit("12kb"), 0);
    EXPECT_EQ(ParseSizeLimit("0x10"), 0);
}

} // namespace
