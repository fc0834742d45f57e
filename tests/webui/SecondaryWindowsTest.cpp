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
    // A grabber object made now, so it reads the help path stored before.
    static ComPtr<ITovanix> NewTovanix()
    {
        void* p = nullptr;
        EXPECT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, &p), S_OK);
        return ComPtr<ITovanix>::Attach(static_cast<ITovanix*>(p));
    }
    static HRESULT Call(ITovanix* tovanix, DISPID id)
    {
        DISPPARAMS none {};
        Variant result;
        return tovanix->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    }
    static constexpr DISPID kShowHelp = 7, kShowOptions = 9, kShowAbout = 10;
};

TEST_F(SecondaryWindowsTest, AllThreeArePendingAndShowNothingWithoutTheGrabDialog)
{
    StoreText("HelpPath", (dir / "help.chm").string());
    auto tovanix = NewTovanix();
    for (DISPID id : { kShowHelp, kShowOptions, kShowAbout })
        EXPECT_EQ(Call(tovanix.get(), id), E_PENDING) << id;
    EXPECT_EQ(tovanix->ShowOptions(), E_PENDING);
    EXPECT_EQ(tovanix->ShowAbout(), E_PENDING);
    EXPECT_EQ(tovanix->ShowHelp(), E_PENDING);
    EXPECT_TRUE(view->DialogsShown().empty());
    EXPECT_TRUE(view->ShellOpened().empty());
}

TEST_F(SecondaryWindowsTest, OptionsAndAboutOpenModallyOverTheGrabDialogAndHelpOpensItsTopicAtOnce)
{
    const auto chm = BuildHelpFile(dir.path(), "help files/quillory.chm", StandardHelpFiles());
    ASSERT_FALSE(chm.empty()) << "chmcmd (Debian package fp-utils) is needed to build the test help file";
    StoreText("HelpPath", chm.string());
    // No desktop viewer for help archives: the topic goes to the browser.
    testsupport::ScopedEnv path("PATH", (dir / "no-bin").string());
    view->OnDialog("options", [](ui::Dialog& d) {
        // The grab dialog is the owner: the options dialog is the active one.
        EXPECT_EQ(ui::Dialog::ActiveOnThisThread(), &d);
        auto& options = static_cast<CLogPP&>(d);
        options.SetText(CLogPP::IDC_SIZE_LIMIT, "64");
        options.UserClicks(ui::IDOK);
    });
    auto tovanix = NewTovanix();
    std::vector<HRESULT> results;
    std::vector<std::string> closedWhenReturned;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        results.push_back(Call(tovanix.get(), kShowOptions));
        closedWhenReturned = view->DialogsClosed();
        results.push_back(Call(tovanix.get(), kShowAbout));
        results.push_back(Call(tovanix.get(), kShowHelp));
        d.PostClose();
    });
    auto model = std::make_shared<html::Document>();
    model->URL = "http://example.test/page.html";
    ASSERT_EQ(tovanix->Grab(CHtmlDocumentObject::Create(model).get()), S_OK);
    EXPECT_EQ(results, (std::vector<HRESULT> { S_OK, S_OK, S_OK }));
    // ShowOptions returned only after the options dialog had closed, and
    // its OK stored what the user typed.
    EXPECT_EQ(closedWhenReturned, std::vector<std::string> { "options" });
    EXPECT_EQ(view->DialogsShown(), (std::vector<std::string> { "grab", "options", "about" }));
    EXPECT_EQ(Stored("MaxOverallLog"), (Bytes { 64, 0, 0, 0 }));
    const auto opened = view->ShellOpened();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].ends_with("/smdialog.htm")) << opened[0];
    EXPECT_EQ(opened[0].rfind((dir / "cache").string(), 0), 0u);
}

} // namespace
