#include "options/ContextHelp.h"
#include "options/LogPP.h"
#include "tests/options/OptionsFixture.h"

namespace {

TEST(ParseContextHelpText, TopicsRunToTheNextTopicLineAndOnlyTheFirstNumericIdCounts)
{
    // ".topicx 5" is text of the symbolic topic, which is dropped; the first
    // of two equal ids wins; text before the first topic is no topic.
    const auto topics = ParseContextHelpText("preamble\n.topic 1009\r\nFirst line.\r\nSecond line.\r\n\r\n"
                                             ".topic  1010 \nOther.\n\n\n.topic 1011\n.topic IDH_ENABLED\nsymbolic\n"
                                             ".topicx 5\n.topic 7\nseven\n.topic 7\nagain\n");
    EXPECT_EQ(topics, (std::map<int, std::string> { { 7, "seven" }, { 1009, "First line.\nSecond line." },
                                                     { 1010, "Other." }, { 1011, "" } }));
    std::string many;
    for (std::size_t i = 0; i < kMaxContextHelpTopics + 10; ++i)
        many += ".topic " + std::to_string(i) + "\nx\n";
    EXPECT_EQ(ParseContextHelpText(many).size(), kMaxContextHelpTopics);
}

class ContextHelpTest : public OptionsUser {
protected:
    // Shows an options dialog and asks help for `controlId` in it.
    std::optional<HelpPopup> AskHelp(const std::string& helpPath, int controlId)
    {
        std::optional<HelpPopup> popup;
        view->OnDialog("options", [&](ui::Dialog& d) {
            auto& dlg = static_cast<CLogPP&>(d);
            dlg.UserAsksHelp(controlId);
            popup = dlg.Popup();
            dlg.PostCommand(ui::IDCANCEL);
        });
        CLogPP(kSettingsKey, helpPath).DoModal();
        return popup;
    }
};

TEST_F(ContextHelpTest, ControlsShowTheirPopupTextsFromTheHelpFile)
{
    const auto chm = BuildHelpFile(dir.path(), "help one.chm", StandardHelpFiles());
    ASSERT_FALSE(chm.empty()) << "chmcmd (Debian package fp-utils) is needed to build the test help file";
    const std::map<int, std::string> expected {
        { CLogPP::IDC_ENABLE_OVERALL, "Keeps the overall log when checked." },
        { CLogPP::IDC_LOG_PATH, "The text file the overall log is written to." },
        { CLogPP::IDC_SIZE_LIMIT, "The largest size of the overall log, in kilobytes." },
        { CLogPP::IDC_POSTGRAB, "Shows the post-grab log after each grab." },
        { CLogPP::IDC_VIEW, "Opens the overall log." },
        { CLogPP::IDC_BROWSE, "Chooses the overall log's file." },
    };
    for (const auto& [control, text] : expected) {
        auto popup = AskHelp(chm.string(), control);
        ASSERT_TRUE(popup) << control;
        EXPECT_EQ(popup->controlId, control);
        EXPECT_EQ(popup->text, text);
    }
    // OK and Cancel have no help id: no pop-up.
    EXPECT_FALSE(AskHelp(chm.string(), ui::IDOK));
}

TEST_F(ContextHelpTest, NoPathReadsNoFileAndAnUnreadableOneIsTriedOnlyOnce)
{
    const std::size_t before = ContextHelpFileOpens();
    EXPECT_FALSE(AskHelp("", CLogPP::IDC_ENABLE_OVERALL));
    EXPECT_EQ(ContextHelpFileOpens(), before);
    const std::string path = (dir / "late.chm").string();
    EXPECT_FALSE(AskHelp(path, CLogPP::IDC_ENABLE_OVERALL));
    EXPECT_EQ(ContextHelpFileOpens(), before + 1);
    // The file appears afterwards: still nothing, and no second attempt.
    ASSERT_FALSE(BuildHelpFile(dir.path(), "late.chm", StandardHelpFiles()).empty());
    EXPECT_FALSE(AskHelp(path, CLogPP::IDC_LOG_PATH));
    EXPECT_EQ(ContextHelpFileOpens(), before + 1);
}

TEST_F(ContextHelpTest, HelpFileWithoutPopupTextsOrNoArchiveAtAllGivesNothing)
{
    auto files = StandardHelpFiles();
    files.erase("ctxhlp.txt");
    const auto chm = BuildHelpFile(dir.path(), "nopopups.chm", files);
    ASSERT_FALSE(chm.empty());
    EXPECT_FALSE(ContextHelpText(chm.string(), 1009));
    std::ofstream(dir / "plain.chm") << "not an archive";
    EXPECT_FALSE(ContextHelpText((dir / "plain.chm").string(), 1009));
}

} // namespace
