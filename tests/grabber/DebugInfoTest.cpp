// The debug record: what a grab in debug mode leaves in the module folder.
#include "tests/grabber/GrabberFixture.h"

#include "grabber/DebugInfo.h"
#include "platform/xml/Document.h"

#include <thread>

using namespace grabbertest;
namespace fs = std::filesystem;

namespace {

class DebugInfo : public GrabberTest {
protected:
    // The debug document belongs to the thread; each case gets a thread of
    // its own so that nothing carries over between cases.
    static void OnFreshThread(const std::function<void()>& body) { std::thread(body).join(); }
    fs::path File() const { return ModuleDir() / "debuginfo.xml"; }
    std::string FileText() const { return ReadAll(File()); }
    void Close(const ComPtr<ITovanix>& object, const std::string& url)
    {
        GrabWith(object, url, [&](ui::Dialog& d) {
            EXPECT_FALSE(fs::exists(File())) << "written only after the dialog closed";
            d.PostClose();
        });
    }
};

TEST_F(DebugInfo, CompleteGrabWritesTheSessionsAfterTheDialogClosedRefusedAndDocumentlessRunsWait)
{
    struct Case {
        const char* what;
        bool debug;
        std::vector<std::string> pages; // "" grabs a dispatch that is no document
        std::optional<std::string> file;
    };
    const std::string head = "<?xml version='1.0'?><dinfo>";
    const std::string complete = "<session><DocURL>http://example.test/</DocURL><Started>ok</Started></session></dinfo>";
    const std::vector<Case> cases = {
        { "complete grab", true, { "http://example.test/a&b" },
            head + "<session><DocURL>http://example.test/a&amp;b</DocURL><Started>ok</Started></session></dinfo>" },
        { "refused page alone", true, { "file:///x/page.MHT" }, std::nullopt },
        { "refused page, then a grab", true, { "file:///x/page.mht", "http://example.test/" },
            head + "<session><DocURL>file:///x/page.mht</DocURL></session>" + complete },
        { "no document, then a grab", true, { "", "http://example.test/" }, head + "<session/>" + complete },
        { "debug mode off", false, { "file:///x/page.mht", "http://example.test/" }, std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(File());
        StoreDebugMode(c.debug);
        OnFreshThread([&] {
            auto object = NewObject();
            for (const auto& page : c.pages) {
                if (page.empty())
                    object->Grab(Make<PlainDispatch>().get());
                else
                    Close(object, page);
            }
            // The save drops the document; a refused run keeps it for the next.
            EXPECT_EQ(bool(debuginfo::CurrentDebugXml()), c.debug && !c.file);
        });
        if (c.file)
            EXPECT_EQ(FileText(), *c.file);
        else
            EXPECT_FALSE(fs::exists(File()));
    }
}

TEST_F(DebugInfo, RootFolderReadsWritesAndExitAreRecordedInCallOrder)
{
    StoreDebugMode(true);
    StoreRootFolder((dir / "old").string());
    const std::string next = (dir / "new").string();
    OnFreshThread([&] {
        auto object = NewObject();
        GrabWith(object, "http://example.test/", [&](ui::Dialog&) {
            Bstr value;
            object->get_RootFolder(value.Out());
            EXPECT_EQ(object->put_RootFolder(Bstr(next).get()), S_OK);
            object->get_RootFolder(value.Out());
            // A failed write records nothing.
            std::ofstream(dir / "blocker") << "x";
            EXPECT_EQ(object->put_RootFolder(Bstr((dir / "blocker" / "x").string()).get()), E_FAIL);
            EXPECT_EQ(object->Exit(), S_OK);
        });
    });
    EXPECT_EQ(FileText(),
        "<?xml version='1.0'?><dinfo><session><DocURL>http://example.test/</DocURL><Started>ok</Started>"
        "<RootFolder>" + (dir / "old").string() + "</RootFolder>"
        "<RootFolderChanged>" + next + "</RootFolderChanged>"
        "<RootFolder>" + next + "</RootFolder>"
        "<Exit>ok</Exit></session></dinfo>");
}

TEST_F(DebugInfo, DebugModeIsTakenWhenTheObjectIsCreated)
{
    OnFreshThread([&] {
        auto before = NewObject();
        StoreDebugMode(true);
        Close(before, "http://before.test/");
        EXPECT_FALSE(fs::exists(File()));
        auto after = NewObject();
        Close(after, "http://after.test/");
    });
    EXPECT_NE(FileText().find("http://after.test/"), std::string::npos);
    EXPECT_EQ(FileText().find("http://before.test/"), std::string::npos);
}

TEST_F(DebugInfo, AddressesWithCharactersXmlCannotCarryStillGiveAReadableFile)
{
    StoreDebugMode(true);
    OnFreshThread([&] {
        auto object = NewObject();
        Close(object, std::string("http://x.test/\x01\xFF<tag>"));
    });
    xml::Document doc;
    ASSERT_TRUE(doc.Load(File())) << FileText();
    EXPECT_NE(FileText().find("&lt;tag&gt;"), std::string::npos);
}

TEST_F(DebugInfo, ObjectsOnManyThreadsNeverMixSessionsOrTearTheFile)
{
    StoreDebugMode(true);
    constexpr int kThreads = 4;
    constexpr int kGrabs = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto object = NewObject();
            for (int g = 0; g < kGrabs; ++g) {
                const std::string url = "http://t" + std::to_string(t) + ".test/" + std::to_string(g);
                // Every other grab is refused, so saves carry two sessions.
                object->Grab(AsDispatch(Page(g % 2 ? url + ".mht" : url)).get());
                if (g % 2 == 0) {
                    xml::Document doc;
                    ASSERT_TRUE(doc.Load(File())) << "torn file";
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    xml::Document doc;
    ASSERT_TRUE(doc.Load(File()));
    auto root = doc.DocumentElement();
    ASSERT_TRUE(root);
    auto sessions = root->ChildElements();
    ASSERT_FALSE(sessions.empty());
    // Every session of a file comes from one thread's consecutive grabs.
    std::string thread;
    for (auto& s : sessions) {
        auto records = s.ChildElements();
        ASSERT_FALSE(records.empty());
        const std::string url = records[0].Text();
        const std::string owner = url.substr(0, url.find(".test/"));
        if (thread.empty())
            thread = owner;
        EXPECT_EQ(owner, thread) << doc.Xml();
    }
}

} // namespace
