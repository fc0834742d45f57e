// The grab run: how a page reaches the dialog, what is refused, what the
// dialog-open flag guards, and what survives a run.
#include "tests/grabber/GrabberFixture.h"

#include <stdexcept>

using namespace grabbertest;

namespace {

class GrabRun : public GrabberTest { };

// The browser window a site offers: its current document.
class FakeBrowser : public DispatchStub<IWebBrowser2> {
public:
    ComPtr<IDispatch> document;
    HRESULT documentResult = S_OK;
    HRESULT get_Document(IDispatch** pp) override
    {
        *pp = SUCCEEDED(documentResult) ? document.get() : nullptr;
        if (*pp)
            (*pp)->AddRef();
        return documentResult;
    }
};

// A browser site offering its browser as SID_SWebBrowserApp.
class FakeSite : public ComObject<IServiceProvider> {
public:
    ComPtr<FakeBrowser> browser = Make<FakeBrowser>();
    HRESULT QueryService(REFGUID service, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        return service == SID_SWebBrowserApp ? browser->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
};

ComPtr<FakeSite> SiteShowing(const ComPtr<IHTMLDocument2>& document)
{
    auto site = Make<FakeSite>();
    site->browser->document = AsDispatch(document);
    return site;
}

TEST_F(GrabRun, FlagIsSetExactlyWhileTheDialogIsShownAndEveryWayOutEndsWithCancel)
{
    const std::vector<std::pair<const char*, std::function<void(ITovanix*, ui::Dialog&)>>> ways = {
        // Exit returns at once; the dialog closes after the handler.
        { "Exit", [](ITovanix* o, ui::Dialog&) { EXPECT_EQ(o->Exit(), S_OK); } },
        { "Escape", [](ITovanix*, ui::Dialog& d) { d.PostCommand(ui::IDCANCEL); } },
        { "close box", [](ITovanix*, ui::Dialog& d) { d.PostClose(); } },
    };
    auto object = NewObject();
    auto& impl = Impl(object);
    EXPECT_FALSE(impl.DialogOpen());
    for (const auto& [what, close] : ways) {
        SCOPED_TRACE(what);
        bool openInside = false, openAfterClose = false;
        GrabWith(object, "http://example.test/", [&](ui::Dialog& d) {
            openInside = impl.DialogOpen() && d.state() == ui::Dialog::State::Shown;
            close(object.get(), d);
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
    int showingsInside = 0;
    bool sameDocument = false;
    InDialog(object, [&] {
        EXPECT_EQ(object->Grab(AsDispatch(Page("http://second.test/")).get()), S_OK);
        showingsInside = static_cast<int>(view->DialogsShown().size());
        sameDocument = impl.GrabDocument() == first;
        EXPECT_TRUE(impl.DialogOpen());
    }, first);
    EXPECT_EQ(showingsInside, 1);
    EXPECT_TRUE(sameDocument);
    EXPECT_TRUE(view->MessageBoxes().empty());
    EXPECT_FALSE(impl.DialogOpen()) << "the refused call left the flag wrong";
}

TEST_F(GrabRun, MhtPagesAreRefusedInAnyLetterCaseButOnlyByTheirLastFourCharacters)
{
    const std::pair<const char*, bool> cases[] = {
        { "file:///home/u/page.mht", true }, { "file:///home/u/PAGE.MHT", true }, { "http://x.test/a.MhT", true },
        { ".mht", true }, { "file:///home/u/page.mhtml", false }, { "http://x.test/a.mht?x=1", false },
        { "http://x.test/a.mht/", false }, { "mht", false }, { "", false },
    };
    for (const auto& [url, refused] : cases) {
        SCOPED_TRACE(url);
        auto object = NewObject();
        auto doc = Page(url);
        view = std::make_shared<ui::ScriptedView>();
        ui::SetActiveView(view);
        view->OnDialog("grab", [](ui::Dialog& d) { d.PostClose(); });
        EXPECT_EQ(object->Grab(AsDispatch(doc).get()), S_OK);
        EXPECT_EQ(view->DialogsShown().size(), refused ? 0u : 1u);
        ASSERT_EQ(view->MessageBoxes().size(), refused ? 1u : 0u);
        if (refused) {
            const auto box = view->MessageBoxes()[0];
            EXPECT_EQ(box.text, "Sorry, grabbing files from page in .mht format not supported");
            EXPECT_EQ(box.caption, "Error");
            EXPECT_EQ(box.type, ui::MB_ICONERROR);
        }
        // Refused or not, the page is the object's grab document now.
        EXPECT_EQ(Impl(object).GrabDocument(), doc);
    }
}

TEST_F(GrabRun, ScriptAndToolbarGrabsReachTheDocumentOrReportTheFailureOfTheirPath)
{
    auto object = NewObject();
    auto exec = [&] { EXPECT_EQ(object.As<IOleCommandTarget>()->Exec(nullptr, 0, 0, nullptr, nullptr), S_OK); };
    // A dispatch that is no document stops the run quietly.
    EXPECT_EQ(object->Grab(Make<PlainDispatch>().get()), S_OK);
    EXPECT_TRUE(view->MessageBoxes().empty());
    EXPECT_FALSE(Impl(object).GrabDocument());
    // No page at all, from script (GR2) and from the toolbar without a site (GR1).
    EXPECT_EQ(object->Grab(nullptr), S_OK);
    exec();

    auto doc = Page("http://sited.test/");
    auto site = SiteShowing(doc);
    ASSERT_EQ(object.As<IObjectWithSite>()->SetSite(site.get()), S_OK);
    bool sawDocument = false;
    view->OnDialog("grab", [&](ui::Dialog& d) {
        sawDocument = Impl(object).GrabDocument() == doc;
        d.PostClose();
    });
    exec();
    EXPECT_TRUE(sawDocument);
    // A browser without document, or one that fails to give it, is a failure.
    site->browser->document = nullptr;
    exec();
    site->browser->documentResult = E_FAIL;
    exec();
    // A document that is no HTML document stops the run quietly.
    site->browser->documentResult = S_OK;
    site->browser->document = ComPtr<IDispatch>(Make<PlainDispatch>().get());
    exec();
    // No closing parenthesis: the message is kept as users know it.
    EXPECT_EQ(view->MessageBoxTexts(), (std::vector<std::string> { "Sorry, unexpected failure (GR2",
        "Sorry, unexpected failure (GR1", "Sorry, unexpected failure (GR1", "Sorry, unexpected failure (GR1" }));
    for (const auto& box : view->MessageBoxes()) {
        EXPECT_EQ(box.caption, "Quillory error");
        EXPECT_EQ(box.type, ui::MB_ICONERROR);
    }
    EXPECT_EQ(view->DialogsShown().size(), 1u);
}

TEST_F(GrabRun, SiteWithoutServicesLeavesNoBrowserAndNullSiteSavesSettings)
{
    auto object = NewObject();
    auto withSite = object.As<IObjectWithSite>();
    auto doc = Page("http://sited.test/");
    ASSERT_EQ(withSite->SetSite(SiteShowing(doc).get()), S_OK);
    EXPECT_TRUE(Impl(object).SiteBrowser());
    // Re-siting with a site that offers no browser drops the old one.
    ASSERT_EQ(withSite->SetSite(Make<PlainDispatch>().get()), S_OK);
    EXPECT_FALSE(Impl(object).SiteBrowser());
    ASSERT_EQ(withSite->SetSite(SiteShowing(doc).get()), S_OK);
    EXPECT_TRUE(Values().empty());
    EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
    EXPECT_FALSE(Impl(object).SiteBrowser());
    EXPECT_EQ(Values().size(), 11u) << "taking the object off its site saves all values";
    void* site = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, &site), E_NOTIMPL);
}

TEST_F(GrabRun, QueryStatusTouchesOnlyTheFirstCommand)
{
    auto target = NewObject().As<IOleCommandTarget>();
    OLECMD cmds[3] = { { 1, 0xF0 }, { 2, 0x55 }, { 3, 0x66 } };
    OLECMDTEXT text;
    text.cmdtextf = 0x77;
    text.cwActual = 9;
    EXPECT_EQ(target->QueryStatus(nullptr, 3, cmds, &text), S_OK);
    EXPECT_EQ(cmds[0].cmdf, OLECMDF_ENABLED) << "enabled, without the supported bit";
    EXPECT_EQ((std::vector<ULONG> { cmds[0].cmdID, cmds[1].cmdf, cmds[2].cmdf, text.cmdtextf, text.cwActual }),
        (std::vector<ULONG> { 1, 0x55, 0x66, 0x77, 9 }));
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
    InDialog(object, [] { }); // the object is usable for the next grab
}

TEST_F(GrabRun, DialogHostsTheOwnerAsExternalAndDropsItAfterwards)
{
    auto object = NewObject();
    auto& dialog = Impl(object).GrabDialog();
    std::remove_cvref_t<decltype(dialog.Browser())> browser;
    InDialog(object, [&] {
        ASSERT_TRUE(dialog.Browser());
        EXPECT_EQ(object->SetDlgSize(800, 600), S_OK);
        browser = dialog.Browser();
    });
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->external.get(), static_cast<IDispatch*>(object.get()));
    EXPECT_EQ(dialog.Owner(), &Impl(object));
    EXPECT_TRUE(browser->address.starts_with("res://") && browser->address.ends_with("/215")) << browser->address;
    EXPECT_FALSE(browser->contextMenu);
    EXPECT_EQ(std::pair(browser->width, browser->height), std::pair(780, 580));
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
    EXPECT_EQ(ModuleLockCount(), locksBefore - 1) << "the run let go of the object when it ended";
}

} // namespace
