// The options and about dialogs as pages of the UI server in a real
// browser (see BrowserFixture), against the real registry file and the
// real module.
#include "options/AboutPP.h"
#include "options/LogPP.h"
#include "tests/options/OptionsFixture.h"
#include "tests/webui/BrowserFixture.h"
#include "webui/WebView.h"

#include <fstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The web view, with the shell's "open" recorded instead of done.
class PagesView final : public ui::IView {
public:
    explicit PagesView(std::shared_ptr<webui::WebView> web) : m_web(std::move(web)) { }

    int MessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override
    {
        return m_web->MessageBox(text, caption, type);
    }
    void DialogShown(ui::Dialog& dialog) override { m_web->DialogShown(dialog); }
    void DialogClosed(ui::Dialog& dialog) override { m_web->DialogClosed(dialog); }
    std::optional<std::string> OpenFile(ui::Dialog* owner, std::string_view title, std::string_view filter,
                                        std::string_view initialFile) override
    {
        return m_web->OpenFile(owner, title, filter, initialFile);
    }
    bool ShellOpen(std::string_view target) override
    {
        opened.emplace_back(target);
        return true;
    }
    std::vector<std::string> opened;

private:
    std::shared_ptr<webui::WebView> m_web;
};

class OptionsPagesBrowserTest : public BrowserFixture {
protected:
    void SetUp() override
    {
        BrowserFixture::SetUp();
        if (IsSkipped())
            return;
        m_server = std::make_shared<webui::UiServer>();
        ASSERT_TRUE(m_server->Start());
    }
    void TearDown() override
    {
        ui::SetActiveView(nullptr);
        if (m_server)
            m_server->Stop();
    }
    std::shared_ptr<PagesView> MakeView(const std::string& scenario)
    {
        webui::WebView::Options options;
        options.launcher = DriverLauncher(scenario);
        auto view = std::make_shared<PagesView>(std::make_shared<webui::WebView>(m_server, options));
        ui::SetActiveView(view);
        return view;
    }

    std::shared_ptr<webui::UiServer> m_server;
};

TEST_F(OptionsPagesBrowserTest, OptionsPageEditsEveryFieldBrowsesThroughThePickerPageAndOkStoresEveryKeystroke)
{
    // The stored log sits in a folder with a text file, another kind of
    // file, a sub-folder and a name that is markup.
    const fs::path logs = m_home / "logs";
    fs::create_directories(logs / "sub");
    for (const char* name : { "a.txt", "b.log", "<img src=x onerror=window.pwned=1>.txt" })
        std::ofstream(logs / name) << "x";
    const std::string old = (logs / "old.txt").string();
    StoreSetting("OverallLogPath", REG_SZ, std::vector<std::uint8_t>(old.c_str(), old.c_str() + old.size() + 1));
    auto view = MakeView("options");
    const auto help = BuildHelpFile(m_home.path(), "help/quillory.chm", StandardHelpFiles());
    ASSERT_FALSE(help.empty()) << "chmcmd (Debian package fp-utils) is needed to build the test help file";
    CLogPP dialog(kSettingsKey, help.string());
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);

    const json r = Result("options"), picker = Result("picker");
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    ASSERT_TRUE(picker.value("ok", false)) << picker.dump(1);
    EXPECT_EQ(r["pageErrors"], json::array());
    EXPECT_EQ(picker["pageErrors"], json::array());
    json c = r["checks"];
    for (const char* text : { "Overall Log", "Enabled", "File name:", "Browse...", "Size limit:", "Kb", "View...",
             "Show Postgrab Log", "OK", "Cancel" })
        EXPECT_NE(std::find(c["labels"].begin(), c["labels"].end(), text), c["labels"].end()) << text;
    EXPECT_LT(c["enabledAfterMs"].get<int>(), 1500);
    c.erase("labels");
    c.erase("enabledAfterMs");
    // Browse: the name typed without an extension in the sub-folder, ".txt"
    // added; View opened it though it does not exist yet.
    const std::string chosen = (fs::canonical(logs / "sub") / "new.txt").string();
    EXPECT_EQ(c, (json {
                     { "title", "Options" },
                     { "initial", { { "path", false }, { "size", false }, { "browse", false }, { "view", false }, { "postgrab", true } } },
                     { "afterCheck", { { "size", true }, { "browse", true }, { "view", true } } },
                     // F1 on the path box, then the help button and a click on Browse.
                     { "popup", "The text file the overall log is written to." },
                     { "popup2", "Chooses the overall log's file." },
                     { "browsed", chosen },
                     { "size", "123" },
                     // No text of the dialog is cut by its box with the fallback font.
                     { "clipped", json::array() },
                 }));
    EXPECT_EQ(view->opened, std::vector<std::string> { chosen });
    EXPECT_FALSE(fs::exists(chosen));
    // The picker starts at the stored log; it lists folders and the files
    // the filter takes, names shown as text.
    EXPECT_EQ(picker["checks"], (json { { "start", fs::canonical(logs).string() }, { "name", "old.txt" },
                                        { "filter", "Text File (*.txt)" },
                                        { "entries", { "sub", "<img src=x onerror=window.pwned=1>.txt", "a.txt" } },
                                        { "markup", false } }));
    auto stored = StoredSettings();
    EXPECT_EQ(stored["OverallLog"], std::vector<std::uint8_t> { 1 });
    EXPECT_EQ(stored["PostGrabbingLog"], std::vector<std::uint8_t> { 0 });
    EXPECT_EQ(stored["MaxOverallLog"], (std::vector<std::uint8_t> { 123, 0, 0, 0 }));
    const std::string typed = "/tmp/typed log.txt";
    EXPECT_EQ(stored["OverallLogPath"], std::vector<std::uint8_t>(typed.c_str(), typed.c_str() + typed.size() + 1));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].role, "options");
    EXPECT_EQ(requests[1].role, "picker");
}

TEST_F(OptionsPagesBrowserTest, AboutPageShowsTheModulesVersionAndOpensTheLink)
{
    const fs::path module = BuildDir() / "module" / "libqvtovanix.so";
    ASSERT_TRUE(fs::exists(module)) << "build the qvtovanix target first: " << module << " is missing";
    auto view = MakeView("about");
    EXPECT_EQ(CAboutPP(module.string()).DoModal(), ui::IDCANCEL);
    const json r = Result("about");
    ASSERT_TRUE(r.value("ok", false)) << r.dump(1);
    EXPECT_EQ(r["pageErrors"], json::array());
    json c = r["checks"];
    for (const char* text : { "Quillory", "Version", "OK" })
        EXPECT_NE(std::find(c["texts"].begin(), c["texts"].end(), text), c["texts"].end()) << text;
    c.erase("texts");
    EXPECT_EQ(c, (json { { "title", "About" }, { "version", "3.6.0.0" }, { "link", "www.vornel.com" }, { "visited", true } }));
    EXPECT_EQ(view->opened, std::vector<std::string> { "http://www.vornel.com/" });
}

} // namespace
