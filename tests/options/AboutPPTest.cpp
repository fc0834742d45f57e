#include "options/AboutPP.h"
#include "tests/options/OptionsFixture.h"

namespace {

class AboutPPTest : public OptionsUser {
protected:
    // Opens the about dialog for `module`, runs `script` in it (or closes
    // it) and returns the version label as shown.
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
        EXPECT_EQ(CAboutPP(module).DoModal(), ui::IDCANCEL);
        return version;
    }
};

TEST_F(AboutPPTest, VersionIsReadFromTheModuleItselfAndIsEmptyForAnythingElse)
{
    // The test program lives in <build>/tests; the module in <build>/module.
    const char* binary = std::getenv("QUILLORY_BINARY_DIR");
    const auto module = (binary && *binary ? std::filesystem::path(binary)
                                           : std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path())
        / "module" / "libqvtovanix.so";
    ASSERT_TRUE(std::filesystem::exists(module)) << "build the qvtovanix target first: " << module << " is missing";
    EXPECT_EQ(Show(module.string()), "3.6.0.0");
    std::ofstream(dir / "not-a-module.so") << "plain text";
    for (const std::string& other : { (dir / "not-a-module.so").string(), (dir / "missing.so").string(), std::string() })
        EXPECT_EQ(Show(other), "") << other;
    EXPECT_EQ(view->DialogsClosed().size(), 4u) << "the dialog opened and closed each time";
    // A loadable library without the version record (the C library).
    EXPECT_EQ(ModuleVersionText("libc.so.6"), "");
}

TEST_F(AboutPPTest, ShowsItsTextsAndTheLinkOpensTheMakersSiteWithoutClosing)
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
        EXPECT_FALSE(about.LinkVisited());
        EXPECT_TRUE(about.UserClicks(CAboutPP::IDC_LINK));
        EXPECT_TRUE(about.LinkVisited());
        EXPECT_EQ(about.state(), ui::Dialog::State::Shown);
        about.UserClicks(ui::IDCANCEL); // the OK button (id 2)
    });
    EXPECT_EQ(view->ShellOpened(), std::vector<std::string> { "http://www.vornel.com/" });
    // Escape and the close box close it too (Show checks the result).
    Show("", [](CAboutPP& a) { a.PostCommand(ui::IDCANCEL); });
    Show("");
    EXPECT_EQ(view->DialogsClosed().size(), 3u);
}

} // namespace
