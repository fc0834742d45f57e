// The grab run: how a page reaches the dialog, what is refused, what the
// dialog-open flag guards, and what survives a run.
#include "tests/grabber/GrabberFixture.h"

#include <stdexcept>

using namespace grabbertest;

namespace {

class GrabRun : public GrabberTest { };

ComPtr<FakeSite> SiteShowing(const ComPtr<IDispatch>& document)
{
    auto site = Make<FakeSite>();
    site->browser = Make<FakeBrowser>();
    site->browser->document = document;
    return site;
}

ComPtr<IOleCommandTarget> CommandTarget(const ComPtr<ITovanix>& object)
{
    return object.As<IOleCommandTarget>();
}

TEST_F(GrabRun, FlagIsSetExactlyWhileTheDialogIsShownAndEveryWayOutEndsWithCancel)
{
    struct Way {
        const char* what;
        std::function<void(ITovanix*, ui::Dialog&)> close;
    };
    const std::vector<Way> ways = {
        // Exit returns at once; the dialog closes after the handler.
        { "Exit", [](ITovanix* o, ui::Dialog&) { EXPECT_EQ(o->Exit(), S_OK); } },
        { "Escape", [](ITovanix*, ui::Dialog& d) { d.PostCommand(ui::IDCANCEL); } },
        { "close box", [](ITovanix*, ui::Dialog& d) { d.PostClose(); } },
    };
    auto object = NewObject();
    auto& impl = Impl(object);
    EXPECT_FALSE(impl.DialogOpen());
    for (const auto& way : ways) {
        SCOPED_TRACE(way.what);
        bool openInside = false, openAfterClose = false;
        GrabWith(object, "http://example.test/", [&](ui::Dialog& d) {
            openInside = impl.DialogOpen() && d.state() == ui::Dialog::State::Shown;
            way.close(object.get(), d);
            openAfterClose = impl.DialogOpen() && d.state() == ui::Dialog::State::Shown;
        });
        EXPECT_TRUE(openInside);
        EXPECT_TRUE(openAfterClose) << "closing waits for the handler to return";
        EXPECT_EQ(impl.GrabDialog().result(), 2);
        EXPECT_FALSE(impl.DialogOpen());
        EXPECT_EQ(object->Exit(), E_PENDING);
    }
    EXPECT_EQ(view->DialogsShown(), std::vector<std::string>(3, "grab"));
    EXPECT_EQ(view->DialogsClosed(), std::vector<std::string>(3, "grab"));
}

TEST_F(GrabRun, SecondRunWhileTheDialogIsOpenIsRefusedAndKeepsTheOpenPage)
{
    auto object = NewObject();
    auto& impl = Impl(object);
    auto first = Page("http://first.test/");
    auto second = Page("http://second.test/");
    int showingsInside = 0;
    bool sameDocument = false;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        EXPECT_EQ(object->Grab(AsDispatch(second).get()), S_OK);
        showingsInside = static_cast<int>(view->DialogsShown().size());
        sameDocument = impl.GrabDocument() == first;
        EXPECT_TRUE(impl.DialogOpen());
        d.PostClose();
    });
    EXPECT_EQ(object->Grab(AsDispatch(first).get()), S_OK);
    EXPECT_EQ(showingsInside, 1);
    EXPECT_TRUE(sameDocument);
    EXPECT_TRUE(view->MessageBoxes().empty());
    // The refused call did not leave the flag in a wrong state.
    EXPECT_FALSE(impl.DialogOpen());
}

TEST_F(GrabRun, MhtPagesAreRefusedInAnyLetterCaseButOnlyByTheirLastFourCharacters)
{
    struct Case {
        const char* url;
        bool refused;
    };
    const Case cases[] = {
        { "file:///home/u/page.mht", true },
        { "file:///home/u/PAGE.MHT", true },
        { "http://x.test/a.MhT", true },
        { ".mht", true },
        { "file:///home/u/page.mhtml", false },
        { "http://x.test/a.mht?x=1", false },
        { "http://x.test/a.mht/", false },
        { "mht", false },
        { "", false },
    };
    for (const auto& c : cases) {
        auto object = NewObject();
        auto doc = Page(c.url);
        view = std::make_shared<ui::ScriptedView>();
        ui::SetActiveView(view);
        view->OnDialog("grab", [](ui::Dialog& d) { d.PostClose(); });
        EXPECT_EQ(object->Grab(AsDispatch(doc).get()), S_OK);
        if (c.refused) {
            ASSERT_EQ(view->MessageBoxes().size(), 1u) << c.url;
            const auto box = view->MessageBoxes()[0];
            EXPECT_EQ(box.text, "Sorry, grabbing files from page in .mht format not supported");
            EXPECT_EQ(box.caption, "Error");
            EXPECT_EQ(box.type, ui::MB_ICONERROR);
            EXPECT_TRUE(view->DialogsShown().empty()) << c.url;
        } else {
            EXPECT_TRUE(view->MessageBoxes().empty()) << c.url;
            EXPECT_EQ(view->DialogsShown().size(), 1u) << c.url;
        }
        // Refused or not, the page is the object's grab document now.
        EXPECT_EQ(Impl(object).GrabDocument(), doc) << c.url;
    }
}

TEST_F(GrabRun, ScriptAndToolbarGrabsReachTheDocumentOrReportTheFailureOfTheirPath)
{
    auto object = NewObject();
    auto exec = [&] { EXPECT_EQ(CommandTarget(object)->Exec(nullptr, 0, 0, nullptr, nullptr), S_OK); };
    // A dispatch that is no document stops the run quietly.
    EXPECT_EQ(object->Grab(Make<PlainDispatch>().get()), S_OK);
    EXPECT_TRUE(view->MessageBoxes().empty());
    EXPECT_FALSE(Impl(object).GrabDocument());
    // No page at all, from script (GR2) and from the toolbar without a site (GR1).
    EXPECT_EQ(object->Grab(nullptr), S_OK);
    exec();
    ASSERT_EQ(view->MessageBoxes().size(), 2u);
    EXPECT_EQ(view->MessageBoxes()[0].text, "Sorry, unexpected failure (GR2") << "no closing parenthesis";
    EXPECT_EQ(view->MessageBoxes()[1].text, "Sorry, unexpected failure (GR1");
    for (const auto& box : view->MessageBoxes()) {
        EXPECT_EQ(box.caption, "Quillory error");
        EXPECT_EQ(box.type, ui::MB_ICONERROR);
    }

    auto doc = Page("http://sited.test/");
    auto site = SiteShowing(AsDispatch(doc));
    ASSERT_EQ(object.As<IObjectWithSite>()->SetSite(site.get()), S_OK);
    bool sawDocument = false;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        sawDocument = Impl(object).GrabDocument() == doc;
        d.PostClose();
    });
    exec();
    EXPECT_TRUE(sawDocument);
    EXPECT_EQ(view->MessageBoxes().size(), 2u);
    // A browser without document, or one that fails to give it, is a failure.
    site->browser->document = nullptr;
    exec();
    site->browser->documentResult = E_FAIL;
    exec();
    // A document that is no HTML document stops the run quietly.
    site->browser->documentResult = S_OK;
    site->browser->document = ComPtr<IDispatch>(Make<PlainDispatch>().get());
    exec();
    EXPECT_EQ(view->MessageBoxTexts(), (std::vector<std::string> { "Sorry, unexpected failure (GR2",
        "Sorry, unexpected failure (GR1", "Sorry, unexpected failure (GR1", "Sorry, unexpected failure (GR1" }));
    EXPECT_EQ(view->DialogsShown().size(), 1u);
}

TEST_F(GrabRun, SiteWithoutServicesLeavesNoBrowserAndNullSiteSavesSettings)
{
    auto object = NewObject();
    auto withSite = object.As<IObjectWithSite>();
    auto doc = Page("http://sited.test/");
    ASSERT_EQ(withSite->SetSite(SiteShowing(AsDispatch(doc)).get()), S_OK);
    EXPECT_TRUE(Impl(object).SiteBrowser());
    // Re-siting with a site that offers no browser drops the old one.
    ASSERT_EQ(withSite->SetSite(Make<PlainDispatch>().get()), S_OK);
    EXPECT_FALSE(Impl(object).SiteBrowser());
    ASSERT_EQ(withSite->SetSite(SiteShowing(AsDispatch(doc)).get()), S_OK);
    EXPECT_TRUE(Values().empty());
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    EXPECT_FALSE(Impl(object).SiteBrowser());
    EXPECT_EQ(Values().size(), 11u) << "taking the object off its site saves all values";
    void* site = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &site), E_NOTIMPL);
}

TEST_F(GrabRun, QueryStatusTouchesOnlyTheFirstCommand)
{
    auto object = NewObject();
    auto target = CommandTarget(object);
    OLECMD cmds[3] = { { 1, 0xF0 }, { 2, 0x55 }, { 3, 0x66 } };
    OLECMDTEXT text;
    text.cmdtextf = 0x77;
    text.cwActual = 9;
    EXPECT_EQ(target->QueryStatus(nullptr, 3, cmds, &text), S_OK);
    EXPECT_EQ(cmds[0].cmdf, OLECMDF_ENABLED) << "enabled, without the supported bit";
    EXPECT_EQ(cmds[0].cmdID, 1u);
    EXPECT_EQ(cmds[1].cmdf, 0x55u);
    EXPECT_EQ(cmds[2].cmdf, 0x66u);
    EXPECT_EQ(text.cmdtextf, 0x77u);
    EXPECT_EQ(text.cwActual, 9u);
    EXPECT_EQ(target->QueryStatus(nullptr, 3, nullptr, nullptr), E_POINTER);
    cmds[0].cmdf = 0x99;
    EXPECT_EQ(target->QueryStatus(nullptr, 0, cmds, nullptr), E_UNEXPECTED);
    EXPECT_EQ(cmds[0].cmdf, 0x99u);
}

TEST_F(GrabRun, FailureInsideTheDialogIsReportedAndClearsTheFlag)
{
    auto object = NewObject();
    GrabWith(object, "http://example.test/", [](ui::Dialog&) { throw std::runtime_error("page blew up"); });
    EXPECT_EQ(view->MessageBoxTexts(), std::vector<std::string> { "Sorry, unexpected failure" });
    EXPECT_EQ(view->MessageBoxes()[0].caption, "Quillory error");
    EXPECT_FALSE(Impl(object).DialogOpen());
    EXPECT_FALSE(Impl(object).GrabDialog().HasWindow());
    // The object is usable for the next grab.
    GrabWith(object, "http://example.test/", [](ui::Dialog& d) { d.PostClose(); });
    EXPECT_EQ(view->DialogsShown().size(), 2u);
}

TEST_F(GrabRun, DialogHostsTheOwnerAsExternalAndDropsItAfterwards)
{
    auto object = NewObject();
    auto& dialog = Impl(object).GrabDialog();
    ComPtr<IDispatch> external;
    std::string address;
    int browserWidth = 0, browserHeight = 0;
    bool contextMenu = true;
    GrabWith(object, "http://example.test/", [&](ui::Dialog& d) {
        ASSERT_TRUE(dialog.Browser());
        external = dialog.Browser()->external;
        address = dialog.Browser()->address;
        contextMenu = dialog.Browser()->contextMenu;
        EXPECT_EQ(object->SetDlgSize(800, 600), S_OK);
        browserWidth = dialog.Browser()->width;
        browserHeight = dialog.Browser()->height;
        d.PostClose();
    });
    EXPECT_EQ(external.get(), static_cast<IDispatch*>(object.get()));
    EXPECT_EQ(dialog.Owner(), &Impl(object));
    EXPECT_TRUE(address.starts_with("res://")) << address;
    EXPECT_TRUE(address.ends_with("/215")) << address;
    EXPECT_FALSE(contextMenu);
    EXPECT_EQ(browserWidth, 780);
    EXPECT_EQ(browserHeight, 580);
    EXPECT_EQ(view->Resizes(), std::vector<std::string> { "grab 800x600" });
    EXPECT_FALSE(dialog.Browser()) << "the browser goes with the window";
    // SetDlgSize without a dialog changes nothing and still succeeds.
    EXPECT_EQ(object->SetDlgSize(10, 10), S_OK);
    EXPECT_EQ(view->Resizes().size(), 1u);
}

TEST_F(GrabRun, ObjectSurvivesItsPageDroppingEveryReferenceDuringTheRun)
{
    ITovanix* raw = nullptr;
    ASSERT_EQ(CreateTovanixInstance(nullptr, IID_ITovanix, reinterpret_cast<void**>(&raw)), S_OK);
    const long locksBefore = ModuleLockCount();
    bool ranAfterRelease = false;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        raw->Release(); // the last reference anyone outside holds
        ranAfterRelease = SUCCEEDED(raw->Exit());
        d.PostClose();
    });
    EXPECT_EQ(raw->Grab(AsDispatch(Page("http://example.test/")).get()), S_OK);
    EXPECT_TRUE(ranAfterRelease);
    // The run let go of the object when it ended.
    EXPECT_EQ(ModuleLockCount(), locksBefore - 1);
}

} // namespace
