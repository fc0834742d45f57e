// ShowOptions, ShowAbout and ShowHelp through the grabber object's dispatch
// interface, as the grab dialog's page calls them.
#include "grabber/HtmlDocumentObject.h"
#include "grabber/Tovanix.h"
#include "options/LogPP.h"
#include "platform/com/Variant.h"
#include "tests/options/OptionsFixture.h"

namespace {

class SecondaryWindowsTest : public OptionsUser {
protected:
    void SetUp() override
    {
        OptionsUser::SetUp();
        void* p = nullptr;
        ASSERT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, &p), S_OK);
        tovanix = ComPtr<ITovanix>::Attach(static_cast<ITovanix*>(p));
    }

    HRESULT Call(DISPID id)
    {
        DISPPARAMS none {};
        Variant result;
        return tovanix->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    }

    // Runs a grab whose dialog plays `script` and then closes.
    void Grab(std::function<void()> script)
    {
        view->OnDialog("grab", [script = std::move(script)](ui::Dialog& d) {
            script();
            d.PostClose();
        });
        auto model = std::make_shared<html::Document>();
        model->URL = "http://example.test/page.html";
        auto doc = CHtmlDocumentObject::Create(model);
        ASSERT_EQ(tovanix->Grab(doc.get()), S_OK);
    }

    static constexpr DISPID kShowHelp = 7, kShowOptions = 9, kShowAbout = 10;
    ComPtr<ITovanix> tovanix;
};

TEST_F(SecondaryWindowsTest, AllThreeArePendingAndShowNothingWithoutTheGrabDialog)
{
    StoreText("HelpPath", (dir / "help.chm").string());
    for (DISPID id : { kShowHelp, kShowOptions, kShowAbout })
        EXPECT_EQ(Call(id), E_PENDING) << id;
    EXPECT_EQ(tovanix->ShowOptions(), E_PENDING);
    EXPECT_EQ(tovanix->ShowAbout(), E_PENDING);
    EXPECT_EQ(tovanix->ShowHelp(), E_PENDING);
    EXPECT_TRUE(view->DialogsShown().empty());
    EXPECT_TRUE(view->ShellOpened().empty());
}

TEST_F(SecondaryWindowsTest, OptionsAndAboutOpenModallyOverTheGrabDialog)
{
    view->OnDialog("options", [](ui::Dialog& d) {
        auto& options = static_cast<CLogPP&>(d);
        // The grab dialog is the owner: the options dialog is the active one.
        EXPECT_EQ(ui::Dialog::ActiveOnThisThread(), &d);
        options.UserClicks(CLogPP::IDC_ENABLE_OVERALL);
        options.SetText(CLogPP::IDC_LOG_PATH, "/logs/grab.txt");
        options.SetText(CLogPP::IDC_SIZE_LIMIT, "64");
        options.UserClicks(CLogPP::IDC_POSTGRAB);
        options.UserClicks(ui::IDOK);
    });
    std::vector<HRESULT> results;
    std::vector<std::string> shownWhenReturned;
    Grab([&] {
        results.push_back(Call(kShowOptions));
        shownWhenReturned = view->DialogsClosed();
        results.push_back(Call(kShowAbout));
    });
    EXPECT_EQ(results, (std::vector<HRESULT> { S_OK, S_OK }));
    // ShowOptions returned only after the options dialog had closed.
    EXPECT_EQ(shownWhenReturned, std::vector<std::string> { "options" });
    EXPECT_EQ(view->DialogsShown(), (std::vector<std::string> { "grab", "options", "about" }));
    std::map<std::string, std::vector<std::uint8_t>> stored;
    for (const auto& v : Values())
        stored[v.name] = v.data;
    EXPECT_EQ(stored["OverallLog"], std::vector<std::uint8_t> { 1 });
    EXPECT_EQ(stored["PostGrabbingLog"], std::vector<std::uint8_t> { 0 });
    EXPECT_EQ(stored["MaxOverallLog"], (std::vector<std::uint8_t> { 64, 0, 0, 0 }));
    EXPECT_EQ(stored["OverallLogPath"], (std::vector<std::uint8_t> { '/', 'l', 'o', 'g', 's', '/', 'g', 'r', 'a', 'b', '.',
                                            't', 'x', 't', 0 }));
}

TEST_F(SecondaryWindowsTest, ShowHelpOpensTheStoredHelpFilesTopicAndReturnsAtOnce)
{
    const auto chm = BuildHelpFile(dir.path(), "help files/quillory.chm", StandardHelpFiles());
    ASSERT_FALSE(chm.empty()) << "chmcmd (Debian package fp-utils) is needed to build the test help file";
    StoreText("HelpPath", chm.string());
    // No desktop viewer for help archives: the topic goes to the browser.
    testsupport::ScopedEnv path("PATH", (dir / "no-bin").string());
    void* p = nullptr;
    ASSERT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, &p), S_OK); // re-reads the help path
    auto fresh = ComPtr<ITovanix>::Attach(static_cast<ITovanix*>(p));
    HRESULT hr = E_FAIL;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        DISPPARAMS none {};
        hr = fresh->Invoke(kShowHelp, GUID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        d.PostClose();
    });
    auto model = std::make_shared<html::Document>();
    model->URL = "http://example.test/page.html";
    ASSERT_EQ(fresh->Grab(CHtmlDocumentObject::Create(model).get()), S_OK);
    EXPECT_EQ(hr, S_OK);
    const auto opened = view->ShellOpened();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].ends_with("/smdialog.htm")) << opened[0];
    EXPECT_EQ(opened[0].rfind((dir / "cache").string(), 0), 0u);
}

} // namespace
