#include "options/HelpLauncher.h"
#include "tests/options/OptionsFixture.h"

#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

using HelpLauncherTest = OptionsUser;

TEST_F(HelpLauncherTest, ViewerGetsThePathExactlyAsStored)
{
    // Spaces and shell characters stay as they are: one argument, no quotes.
    const std::string stored = (dir / "my help $HOME 'x'.chm").string();
    EXPECT_EQ(ShowHelpTopic(stored, ChmViewer::Installed), stored);
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { stored });
}

TEST_F(HelpLauncherTest, WithoutViewerTheTopicIsUnpackedIntoTheCacheAndOpenedInTheBrowser)
{
    const auto chm = BuildHelpFile(dir.path(), "with space/help.chm", StandardHelpFiles());
    ASSERT_FALSE(chm.empty()) << "chmcmd (Debian package fp-utils) is needed to build the test help file";
    auto opened = ShowHelpTopic(chm.string(), ChmViewer::Missing);
    ASSERT_TRUE(opened);
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { *opened });
    const fs::path page(*opened);
    EXPECT_EQ(page.filename(), "smdialog.htm");
    EXPECT_EQ(page.string().rfind((dir / "cache").string(), 0), 0u) << page;
    EXPECT_EQ(ReadAll(page), StandardHelpFiles().at("smdialog.htm"));
    // The topic's links work: the other pages come along.
    EXPECT_EQ(ReadAll(page.parent_path() / "pages" / "options.htm"), StandardHelpFiles().at("pages/options.htm"));
}

TEST_F(HelpLauncherTest, NothingOpensForAnEmptyPathOrAnUnreadableFileOrAMissingTopic)
{
    EXPECT_FALSE(ShowHelpTopic("", ChmViewer::Installed));
    EXPECT_FALSE(ShowHelpTopic("", ChmViewer::Missing));
    EXPECT_FALSE(ShowHelpTopic((dir / "missing.chm").string(), ChmViewer::Missing));
    auto files = StandardHelpFiles();
    files.erase("smdialog.htm");
    const auto chm = BuildHelpFile(dir.path(), "notopic.chm", files);
    ASSERT_FALSE(chm.empty());
    EXPECT_FALSE(ShowHelpTopic(chm.string(), ChmViewer::Missing));
    EXPECT_TRUE(view->ShellOpened().empty());
}

TEST_F(HelpLauncherTest, ViewerIsTheDesktopsDefaultForHelpFilesWhenItNamesOne)
{
    struct Case {
        const char* answer;
        int status;
        ChmViewer expected;
    };
    const fs::path bin = dir / "bin";
    fs::create_directories(bin);
    for (const Case c : { Case { "xchm.desktop", 0, ChmViewer::Installed }, Case { "", 0, ChmViewer::Missing },
                          Case { "xchm.desktop", 4, ChmViewer::Missing } }) {
        std::ofstream(bin / "xdg-mime") << "#!/bin/sh\n[ \"$1 $2 $3\" = \"query default application/vnd.ms-htmlhelp\" ] || exit 3\n"
                                        << "printf '%s\\n' '" << c.answer << "'\nexit " << c.status << "\n";
        fs::permissions(bin / "xdg-mime", fs::perms::owner_all);
        testsupport::ScopedEnv path("PATH", bin.string() + ":/usr/bin:/bin");
        EXPECT_EQ(DetectChmViewer(), c.expected) << c.answer << " " << c.status;
    }
    testsupport::ScopedEnv path("PATH", (dir / "empty-bin").string());
    EXPECT_EQ(DetectChmViewer(), ChmViewer::Missing);
}

} // namespace
