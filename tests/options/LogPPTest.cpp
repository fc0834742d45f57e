#include "options/LogPP.h"
#include "tests/options/OptionsFixture.h"

#include <chrono>
#include <functional>

namespace {

using namespace std::chrono_literals;

class LogPPTest : public OptionsUser {
protected:
    // Shows `dlg` modally while `script` plays the user; DoModal's result.
    int Show(CLogPP& dlg, std::function<void(CLogPP&)> script)
    {
        view->OnDialog("options", [script = std::move(script)](ui::Dialog& d) { script(static_cast<CLogPP&>(d)); });
        return dlg.DoModal();
    }
    int Show(std::function<void(CLogPP&)> script)
    {
        CLogPP dlg(kSettingsKey, "");
        return Show(dlg, std::move(script));
    }
    // Lets the dialog's loop run (its timer included) until `done` or a
    // little more than one timer period.
    static bool WaitFor(const std::function<bool()>& done)
    {
        return ui::MessageLoop::Current().RunUntil(done, CLogPP::kTimerPeriod + 300ms);
    }
    static void ExpectEditable(CLogPP& d, bool enabled)
    {
        for (int id : { CLogPP::IDC_LOG_PATH, CLogPP::IDC_SIZE_LIMIT, CLogPP::IDC_BROWSE, CLogPP::IDC_VIEW })
            EXPECT_EQ(d.IsEnabled(id), enabled) << id;
        for (int id : { CLogPP::IDC_ENABLE_OVERALL, CLogPP::IDC_POSTGRAB, ui::IDOK, ui::IDCANCEL })
            EXPECT_TRUE(d.IsEnabled(id)) << id;
    }
};

TEST_F(LogPPTest, ShowsDefaultsOrStoredValuesWithMinusOneSignedAndOpeningWritesNothing)
{
    Show([](CLogPP& d) {
        EXPECT_FALSE(d.IsChecked(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_TRUE(d.IsChecked(CLogPP::IDC_POSTGRAB));
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), "");
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "500");
        ExpectEditable(d, false);
        d.PostCommand(ui::IDCANCEL);
    });
    EXPECT_TRUE(Values().empty());

    Store("OverallLog", REG_BINARY, { 1 });
    StoreText("OverallLogPath", "/var/log/grab log.txt");
    Store("MaxOverallLog", REG_BINARY, { 0xFF, 0xFF, 0xFF, 0xFF });
    Store("PostGrabbingLog", REG_BINARY, { 0 });
    CLogPP dlg(kSettingsKey, "");
    EXPECT_EQ(dlg.SizeLimit(), -1);
    Show(dlg, [](CLogPP& d) {
        EXPECT_TRUE(d.IsChecked(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_FALSE(d.IsChecked(CLogPP::IDC_POSTGRAB));
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), "/var/log/grab log.txt");
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "-1");
        ExpectEditable(d, true);
        d.PostCommand(ui::IDCANCEL);
    });
}

TEST_F(LogPPTest, EnableRuleFollowsTheCheckBoxOnEveryTickAndDisabledOrNonDigitInputIsRefused)
{
    Show([](CLogPP& d) {
        EXPECT_FALSE(d.UserTypes(CLogPP::IDC_LOG_PATH, "/x.txt"));
        EXPECT_FALSE(d.UserClicks(CLogPP::IDC_VIEW));
        ASSERT_TRUE(d.UserClicks(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_TRUE(WaitFor([&] { return d.IsEnabled(CLogPP::IDC_LOG_PATH); }));
        ExpectEditable(d, true);
        EXPECT_FALSE(d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "-5"));
        EXPECT_FALSE(d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "12k"));
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "500");
        EXPECT_TRUE(d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "2048"));
        EXPECT_EQ(d.Text(CLogPP::IDC_SIZE_LIMIT), "2048");
        // A second change needs a later tick: the timer keeps running.
        ASSERT_TRUE(d.UserClicks(CLogPP::IDC_ENABLE_OVERALL));
        EXPECT_TRUE(WaitFor([&] { return !d.IsEnabled(CLogPP::IDC_LOG_PATH); }));
        ExpectEditable(d, false);
        d.PostCommand(ui::IDCANCEL);
    });
}

TEST_F(LogPPTest, OkWritesTheFourValuesInOrderAndFormAnEmptyPathAsOneZeroAndAPastedNonNumberAsZero)
{
    EXPECT_EQ(Show([](CLogPP& d) {
        d.UserClicks(CLogPP::IDC_ENABLE_OVERALL);
        d.UserClicks(CLogPP::IDC_POSTGRAB);
        ASSERT_TRUE(WaitFor([&] { return d.IsEnabled(CLogPP::IDC_LOG_PATH); }));
        d.UserTypes(CLogPP::IDC_LOG_PATH, "/home/u/logs/quillory log.txt");
        d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "70000");
        d.UserClicks(ui::IDOK);
    }), ui::IDOK);
    const std::vector<StoredValue> expected {
        { "OverallLog", REG_BINARY, { 1 } },
        { "PostGrabbingLog", REG_BINARY, { 0 } },
        { "MaxOverallLog", REG_BINARY, { 0x70, 0x11, 0x01, 0x00 } },
        { "OverallLogPath", REG_SZ, TextBytes("/home/u/logs/quillory log.txt") },
    };
    EXPECT_EQ(Values(), expected);
    // An unchanged -1 is written back as -1.
    Store("MaxOverallLog", REG_BINARY, { 0xFF, 0xFF, 0xFF, 0xFF });
    Show([](CLogPP& d) { d.UserClicks(ui::IDOK); });
    EXPECT_EQ(Stored("MaxOverallLog"), (Bytes { 0xFF, 0xFF, 0xFF, 0xFF }));
    Show([](CLogPP& d) {
        d.UserTypes(CLogPP::IDC_LOG_PATH, "");
        d.SetText(CLogPP::IDC_SIZE_LIMIT, "12kb"); // pasted text is not held to digits only
        d.UserClicks(ui::IDOK);
    });
    EXPECT_EQ(Stored("OverallLogPath"), Bytes { 0 });
    EXPECT_EQ(Stored("MaxOverallLog"), (Bytes { 0, 0, 0, 0 }));
}

TEST_F(LogPPTest, CancelAndTheCloseBoxWriteNothing)
{
    Store("OverallLog", REG_BINARY, { 1 });
    StoreText("OverallLogPath", "/kept.txt");
    Store("MaxOverallLog", REG_BINARY, { 10, 0, 0, 0 });
    Store("PostGrabbingLog", REG_BINARY, { 1 });
    const auto before = Values();
    for (bool closeBox : { false, true }) {
        EXPECT_EQ(Show([&](CLogPP& d) {
            d.UserTypes(CLogPP::IDC_LOG_PATH, "/changed.txt");
            d.UserTypes(CLogPP::IDC_SIZE_LIMIT, "99");
            d.UserClicks(CLogPP::IDC_POSTGRAB);
            d.UserClicks(CLogPP::IDC_ENABLE_OVERALL);
            if (closeBox)
                d.PostClose();
            else
                d.UserClicks(ui::IDCANCEL);
        }), ui::IDCANCEL) << closeBox;
        EXPECT_EQ(Values(), before) << closeBox;
    }
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

TEST_F(LogPPTest, BrowseOffersTextFilesAndViewOpensTheLoadedOrBrowsedPathNeverTheTypedOne)
{
    Store("OverallLog", REG_BINARY, { 1 });
    StoreText("OverallLogPath", "/logs/loaded log.txt");
    const std::string chosen = (dir / "not yet there" / "grab-log").string();
    CLogPP dlg(kSettingsKey, "");
    Show(dlg, [&](CLogPP& d) {
        view->SetOpenFileAnswer(std::nullopt);
        d.UserClicks(CLogPP::IDC_BROWSE); // cancelled: nothing changes
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), "/logs/loaded log.txt");
        d.UserTypes(CLogPP::IDC_LOG_PATH, "/logs/typed.txt");
        d.UserClicks(CLogPP::IDC_VIEW);
        view->SetOpenFileAnswer(chosen);
        d.UserClicks(CLogPP::IDC_BROWSE);
        EXPECT_EQ(d.Text(CLogPP::IDC_LOG_PATH), chosen + ".txt");
        // View now opens the browsed file, and browsing again starts there.
        d.UserClicks(CLogPP::IDC_VIEW);
        d.UserClicks(CLogPP::IDC_BROWSE);
        d.PostCommand(ui::IDCANCEL);
    });
    EXPECT_EQ(view->filters, std::vector<std::string>(3, "Text File (*.txt)|*.txt"));
    EXPECT_EQ(view->OpenFileInitialFiles(),
              (std::vector<std::string> { "/logs/loaded log.txt", "/logs/loaded log.txt", chosen + ".txt" }));
    ASSERT_EQ(view->owners.size(), 3u);
    EXPECT_EQ(view->owners[0], &dlg);
    EXPECT_EQ(view->ShellOpened(), (std::vector<std::string> { "/logs/loaded log.txt", chosen + ".txt" }));
}

TEST_F(LogPPTest, PathLongerThanTheStoredLimitIsCutSoItCanBeReadBack)
{
    Store("OverallLog", REG_BINARY, { 1 });
    // 258 ASCII bytes, then a two-byte character that would end at 260.
    const std::string typed = "/" + std::string(257, 'a') + "\xC3\xA9" + "tail";
    Show([&](CLogPP& d) {
        d.UserTypes(CLogPP::IDC_LOG_PATH, typed);
        d.UserClicks(ui::IDOK);
    });
    EXPECT_EQ(CLogPP(kSettingsKey, "").LogPath(), typed.substr(0, 258));
}

TEST(ParseSizeLimit, ReadsSignedDecimalAndZeroForAnythingElse)
{
    for (auto [text, value] : std::initializer_list<std::pair<const char*, int>> { { "500", 500 }, { "-1", -1 },
             { " 42 ", 42 }, { "2147483647", 2147483647 }, { "2147483648", 0 }, { "", 0 }, { "12kb", 0 }, { "0x10", 0 } })
        EXPECT_EQ(ParseSizeLimit(text), value) << text;
}

} // namespace
