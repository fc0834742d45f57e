#include "options/AboutPP.h"
#include "tests/options/OptionsFixture.h"

#include <cstdlib>

namespace {

std::filesystem::path BuiltModule()
{
    if (const char* binary = std::getenv("QUILLORY_BINARY_DIR"); binary && *binary)
        return std::filesystem::path(binary) / "module" / "libqvtovanix.so";
    // The test program lives in <build>/tests; the module in <build>/module.
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path().parent_path() / "module" / "libqvtovanix.so";
}

class AboutPPTest : public OptionsUser {
protected:
    // Opens the about dialog for `module`, runs `script` in it and returns
    // the version label as shown.
    std::string Show(const std::string& module, std::function<void(CAboutPP&)> script = {})
    {
        std::string version;
        view->OnDialog("about", [&](ui::Dialog& d) {
            auto& about = static_cast<CAboutPP&>(d);
            version = about.Text(CAboutPP::IDC_VERSION);
            if (script)
                script(about);
            else
                about.PostClose();
        });
        CAboutPP about(module);
        about.DoModal();
        return version;
    }
};

TEST_F(AboutPPTest, VersionIsReadFromTheModuleItself)
{
    const auto module = BuiltModule();
    ASSERT_TRUE(std::filesystem::exists(module))
        << "build the qvtovanix target first: " << module << " is missing";
    EXPECT_EQ(ModuleVersionText(module.string()), "3.6.0.0");
    EXPECT_EQ(Show(module.string()), "3.6.0.0");
}

TEST_F(AboutPPTest, UnreadableModuleShowsAnEmptyVersion)
{
    std::ofstream(dir / "not-a-module.so") << "plain text";
    EXPECT_EQ(Show((dir / "not-a-module.so").string()), "");
    EXPECT_EQ(Show((dir / "missing.so").string()), "");
    EXPECT_EQ(Show(""), "");
    // A loadable library without the version record (the C library).
    EXPECT_EQ(ModuleVersionText("libc.so.6"), "");
    // The dialog still opened and closed each time.
    EXPECT_EQ(view->DialogsShown().size(), 3u);
    EXPECT_EQ(view->DialogsClosed().size(), 3u);
}

TEST_F(AboutPPTest, ShowsNameVersionLabelLinkAndCopyright)
{
    Show("", [](CAboutPP& about) {
        std::vector<std::string> texts;
        for (const auto& c : about.Controls())
            texts.push_back(c.text);
        for (const char* expected : { "Quillory", "Version", "www.vornel.com", "OK" })
            EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
        EXPECT_EQ(about.Frame().caption, "About");
        ASSERT_NE(about.Control(CAboutPP::IDC_LINK), nullptr);
        EXPECT_EQ(about.Control(CAboutPP::IDC_LINK)->kind, ControlKind::Link);
        about.PostClose();
    });
}

TEST_F(AboutPPTest, LinkOpensTheMakersSiteAndShowsVisited)
{
    Show("", [](CAboutPP& about) {
        EXPECT_FALSE(about.LinkVisited());
        EXPECT_TRUE(about.UserClicks(CAboutPP::IDC_LINK));
        EXPECT_TRUE(about.LinkVisited());
        // The link does not close the dialog.
        EXPECT_EQ(about.state(), ui::Dialog::State::Shown);
        about.UserClicks(ui::IDCANCEL);
    });
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { "http://www.vornel.com/" });
}

TEST_F(AboutPPTest, OkEscapeAndCloseBoxEachCloseIt)
{
    for (auto close : std::vector<std::function<void(CAboutPP&)>> {
             [](CAboutPP& a) { a.UserClicks(ui::IDCANCEL); }, // the OK button (id 2)
             [](CAboutPP& a) { a.PostCommand(ui::IDCANCEL); }, // Escape
             [](CAboutPP& a) { a.PostClose(); } }) {
        view->OnDialog("about", [close](ui::Dialog& d) { close(static_cast<CAboutPP&>(d)); });
        CAboutPP about("");
        EXPECT_EQ(about.DoModal(), ui::IDCANCEL);
    }
}

} // namespace
