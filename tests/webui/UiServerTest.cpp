// The UI server over real HTTP: who may talk to it, what it serves, and the
// window.external requests of a dialog page marshalled onto a UI thread.
#include "tests/webui/FakeDispatch.h"
#include "tests/webui/GifDecoder.h"
#include "webui/DialogSession.h"
#include "webui/UiServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <thread>

namespace {

using nlohmann::json;
using webuitest::FakeDispatch;

// A UI thread running its message loop, as the grab run's thread does
// while its dialog is shown.
class UiThread {
public:
    UiThread()
    {
        std::promise<std::shared_ptr<ui::MessageLoop>> ready;
        auto got = ready.get_future();
        m_thread = std::thread([this, &ready] {
            ready.set_value(ui::MessageLoop::CurrentRef());
            ui::MessageLoop::Current().RunUntil([this] { return m_stop.load(); });
        });
        m_loop = got.get();
    }
    ~UiThread()
    {
        m_loop->Post([this] { m_stop = true; });
        m_thread.join();
    }
    const std::shared_ptr<ui::MessageLoop>& loop() const { return m_loop; }

private:
    std::atomic<bool> m_stop { false };
    std::shared_ptr<ui::MessageLoop> m_loop;
    std::thread m_thread;
};

class UiServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()); }

    httplib::Client Client() const
    {
        httplib::Client c("127.0.0.1", server.Port());
        c.set_read_timeout(20, 0);
        return c;
    }
    httplib::Headers Own() const { return { { "Origin", server.Origin() } }; }

    // Registers a dialog page whose window.external is `external`, served
    // on `ui`'s thread.
    std::string AddDialog(const UiThread& ui, ComPtr<IDispatch> external)
    {
        const std::string id = webui::UiServer::RandomHex(16);
        webui::DialogSession::Setup setup;
        setup.loop = ui.loop();
        setup.external = std::move(external);
        setup.resPrefix = "res:///opt/q/lib.so/";
        setup.resBase = server.ResBase();
        setup.pageBase = server.PageBase(id);
        setup.caption = "Vornel Quillory";
        server.AddPage(std::make_shared<webui::DialogSession>(id, std::move(setup)));
        return id;
    }

    json Dispatch(const std::string& page, const json& request)
    {
        auto res = Client().Post((server.PageBase(page) + "dispatch").c_str(), Own(), request.dump(), "application/json");
        if (!res)
            return json { { "transport", "failed" } };
        EXPECT_EQ(res->status, 200);
        return json::parse(res->body);
    }

    webui::UiServer server;
};

TEST_F(UiServerTest, RequestsWithoutTheTokenFindNothing)
{
    auto c = Client();
    for (const std::string& path : { std::string("/res/GIF/223"), "/" + std::string(64, '0') + "/res/GIF/223",
                                    "/" + server.Token().substr(0, 63) + "/res/GIF/223", std::string("/") }) {
        auto res = c.Get(path.c_str());
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_EQ(res->body.find("GIF89a"), std::string::npos);
    }
    auto ok = c.Get((server.ResBase() + "GIF/223").c_str());
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
}

TEST_F(UiServerTest, ForeignHostIsRefusedEvenWithTheToken)
{
    auto c = Client();
    const std::string path = server.ResBase() + "GIF/223";
    for (const std::string& host : { std::string("evil.example"), "evil.example:" + std::to_string(server.Port()),
                                    std::string("127.0.0.1:1"), std::string("127.0.0.1") }) {
        auto res = c.Get(path.c_str(), httplib::Headers { { "Host", host } });
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 403) << host;
    }
    auto local = c.Get(path.c_str(), httplib::Headers { { "Host", "localhost:" + std::to_string(server.Port()) } });
    ASSERT_TRUE(local);
    EXPECT_EQ(local->status, 200);
}

TEST_F(UiServerTest, ForeignOriginAndOriginlessPostsAreRefused)
{
    UiThread ui;
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(FakeDispatch::Create().get()));
    auto c = Client();
    const std::string path = server.PageBase(page) + "heartbeat";
    auto foreign = c.Post(path.c_str(), httplib::Headers { { "Origin", "http://evil.example" } }, "{}", "application/json");
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403);
    auto otherPort = c.Post(path.c_str(), httplib::Headers { { "Origin", "http://127.0.0.1:1" } }, "{}", "application/json");
    ASSERT_TRUE(otherPort);
    EXPECT_EQ(otherPort->status, 403);
    auto none = c.Post(path.c_str(), "{}", "application/json");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 403);
    auto crossSite = c.Post(path.c_str(), httplib::Headers { { "Origin", server.Origin() }, { "Sec-Fetch-Site", "cross-site" } },
                            "{}", "application/json");
    ASSERT_TRUE(crossSite);
    EXPECT_EQ(crossSite->status, 403);
    // A cross-site page load (Firefox's extension windows) gets in; a
    // cross-site fetch of the same address does not.
    const std::string shell = server.ResBase() + "215?page=0123abcd";
    auto navigation = c.Get(shell.c_str(), httplib::Headers { { "Sec-Fetch-Site", "cross-site" }, { "Sec-Fetch-Mode", "navigate" },
                                                              { "Sec-Fetch-Dest", "document" } });
    ASSERT_TRUE(navigation);
    EXPECT_EQ(navigation->status, 200);
    auto crossFetch = c.Get(shell.c_str(), httplib::Headers { { "Sec-Fetch-Site", "cross-site" }, { "Sec-Fetch-Mode", "cors" },
                                                              { "Sec-Fetch-Dest", "empty" } });
    ASSERT_TRUE(crossFetch);
    EXPECT_EQ(crossFetch->status, 403);
    auto own = c.Post(path.c_str(), Own(), "{}", "application/json");
    ASSERT_TRUE(own);
    EXPECT_EQ(own->status, 200);
}

TEST_F(UiServerTest, ShellPageHasItsStatementsInOrderAndOneBridgeTag)
{
    auto res = Client().Get((server.ResBase() + "215?page=0123abcd").c_str());
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    const std::string& page = res->body;
    EXPECT_EQ(page.rfind("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">", 0), 0u);
    const auto one = page.find("document.write(window.external.GetData(1));");
    const auto zero = page.find("document.write(window.external.GetData(0));");
    const auto load = page.find("BodyOnLoad();");
    ASSERT_NE(one, std::string::npos);
    EXPECT_LT(one, zero);
    EXPECT_LT(zero, load);
    EXPECT_NE(page.find("onunload=\"BodyOnUnLoad()\""), std::string::npos);
    EXPECT_NE(page.find("overflow:visible;padding:10px;border:0px;margin:0px"), std::string::npos);
    const std::string tag = "<script src=\"" + server.PageBase("0123abcd") + "bridge.js\"></script>";
    ASSERT_NE(page.find(tag), std::string::npos);
    EXPECT_EQ(page.find(tag, page.find(tag) + 1), std::string::npos);
    EXPECT_LT(page.find(tag), page.find("<body"));
    // The same page by type name and by number.
    auto byName = Client().Get((server.ResBase() + "HTML/215").c_str());
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->status, 200);
    EXPECT_NE(res->get_header_value("Content-Security-Policy").find("script-src 'self' 'unsafe-inline'"), std::string::npos);
    EXPECT_NE(res->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(res->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(res->get_header_value("X-Frame-Options"), "DENY");
    EXPECT_EQ(res->get_header_value("Referrer-Policy"), "no-referrer");
}

TEST_F(UiServerTest, PageIdThatIsNotHexGetsNoScriptTag)
{
    auto res = Client().Get((server.ResBase() + "215?page=%22%3E%3Cscript%3Ealert(1)%3C/script%3E").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body.find("bridge.js"), std::string::npos);
    EXPECT_EQ(res->body.find("alert(1)"), std::string::npos);
}

TEST_F(UiServerTest, DialogPicturesAreGifsOfTheirSizes)
{
    struct Expected {
        int id, width, height;
    };
    for (const Expected e : { Expected { 223, 21, 19 }, Expected { 224, 27, 22 }, Expected { 226, 14, 14 },
                              Expected { 227, 13, 12 } }) {
        auto res = Client().Get((server.ResBase() + "GIF/" + std::to_string(e.id)).c_str());
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "image/gif");
        std::string why;
        const auto image = webuitest::DecodeGif(res->body, why);
        ASSERT_TRUE(image) << e.id << ": " << why;
        EXPECT_EQ(image->width, e.width) << e.id;
        EXPECT_EQ(image->height, e.height) << e.id;
    }
}

TEST_F(UiServerTest, UnknownResourcesAndPagesAreNotFound)
{
    auto c = Client();
    for (const char* path : { "GIF/225", "HTML/216", "BITMAP/223", "GIF/99999999999" }) {
        auto res = c.Get((server.ResBase() + path).c_str());
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404) << path;
    }
    auto page = c.Post((server.PageBase("abcdef") + "dispatch").c_str(), Own(), "{}", "application/json");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 410);
    EXPECT_NE(page->body.find("\"close\":true"), std::string::npos);
}

TEST_F(UiServerTest, OversizedAndDeeplyNestedBodiesAreRefused)
{
    webui::UiServer::Options small;
    small.maxBody = 1024;
    webui::UiServer limited(small);
    ASSERT_TRUE(limited.Start());
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string id = webui::UiServer::RandomHex(16);
    webui::DialogSession::Setup setup;
    setup.loop = ui.loop();
    setup.external = ComPtr<IDispatch>(fake.get());
    setup.pageBase = limited.PageBase(id);
    limited.AddPage(std::make_shared<webui::DialogSession>(id, std::move(setup)));
    httplib::Client c("127.0.0.1", limited.Port());
    const httplib::Headers origin { { "Origin", limited.Origin() } };
    auto big = c.Post((limited.PageBase(id) + "dispatch").c_str(), origin, std::string(4096, ' '), "application/json");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);
    const std::string deep = std::string(200, '[') + std::string(200, ']');
    auto nested = c.Post((limited.PageBase(id) + "dispatch").c_str(), origin, deep, "application/json");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->status, 400);
    auto wrongType = c.Post((limited.PageBase(id) + "dispatch").c_str(), origin, R"({"op":7,"obj":0,"name":"Text"})",
                            "application/json");
    ASSERT_TRUE(wrongType);
    EXPECT_NE(wrongType->body.find("error"), std::string::npos);
}

TEST_F(UiServerTest, CallsRunOnTheUiThreadWithNamesAsWritten)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    for (const char* name : { "flag", "FLAG", "Flag" })
        EXPECT_EQ(Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", name } })["value"], false) << name;
    EXPECT_EQ(fake->Names(), (std::vector<std::string> { "flag", "FLAG", "Flag" }));
    std::thread::id uiId;
    ui.loop()->Send([&] { uiId = std::this_thread::get_id(); });
    EXPECT_EQ(fake->CallThread(), uiId);
}

TEST_F(UiServerTest, PropertyPutGoesAsNamedPropertyPutArgument)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    EXPECT_FALSE(Dispatch(page, { { "op", "put" }, { "obj", 0 }, { "name", "Flag" }, { "value", 1 } }).contains("error"));
    EXPECT_TRUE(fake->FlagValue());
    EXPECT_EQ(fake->PutType(), VT_I4);
    EXPECT_EQ(Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Flag" } })["value"], true);
}

TEST_F(UiServerTest, ArgumentsKeepTheirScriptTypes)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    const json method = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Echo" } });
    ASSERT_EQ(method["method"], true);
    const json answer = Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", method["dispid"] },
                                         { "args", json::array({ "text", 5, 2.5, true, nullptr, 4294967296.0 }) } });
    EXPECT_EQ(answer["value"], "text");
    EXPECT_EQ(fake->EchoTypes(), (std::vector<VARTYPE> { VT_BSTR, VT_I4, VT_R8, VT_BOOL, VT_EMPTY, VT_R8 }));
}

TEST_F(UiServerTest, FailedHresultBecomesAnErrorWithItsCode)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    const json method = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Fail" } });
    ASSERT_EQ(method["method"], true);
    const json failed = Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", method["dispid"] }, { "args", { 1 } } });
    ASSERT_TRUE(failed.contains("error"));
    EXPECT_EQ(failed["error"]["hresult"], 0x8000000Au);
    EXPECT_NE(failed["error"]["message"].get<std::string>().find("0x8000000A"), std::string::npos);
    const json unknown = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Nothing" } });
    EXPECT_EQ(unknown["error"]["hresult"], 0x80020006u);
}

TEST_F(UiServerTest, ReturnedObjectsGetHandlesWhoseMembersDispatch)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    const json method = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Child" } });
    const json child = Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", method["dispid"] }, { "args", { 0 } } });
    ASSERT_TRUE(child["value"].contains("dispatch"));
    const auto handle = child["value"]["dispatch"];
    EXPECT_NE(handle, 0);
    EXPECT_EQ(Dispatch(page, { { "op", "get" }, { "obj", handle }, { "name", "Flag" } })["value"], false);
    // An object handed back as an argument arrives as that object.
    const json echo = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Echo" } });
    const json back = Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", echo["dispid"] },
                                       { "args", json::array({ json { { "dispatch", handle } } }) } });
    EXPECT_EQ(fake->EchoTypes(), (std::vector<VARTYPE> { VT_DISPATCH }));
    EXPECT_TRUE(back["value"].contains("dispatch"));
    // A handle the page never got is no object.
    const json forged = Dispatch(page, { { "op", "get" }, { "obj", 999 }, { "name", "Flag" } });
    EXPECT_TRUE(forged.contains("error"));
}

TEST_F(UiServerTest, ModuleResourceAddressesReachThePageAsServerPaths)
{
    UiThread ui;
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(FakeDispatch::Create().get()));
    const json text = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Text" } });
    EXPECT_EQ(text["value"], "see " + server.ResBase() + "GIF/223 and " + server.ResBase() + "215");
}

TEST_F(UiServerTest, CallWaitingInANestedLoopDoesNotHoldUpOtherRequests)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    const json wait = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Wait" } });
    const json release = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Release" } });
    auto waiting = std::async(std::launch::async, [&] {
        return Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", wait["dispid"] }, { "args", { 0 } } });
    });
    // Other windows keep talking while the call waits...
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Flag" } })["value"], false);
    // ...and the call that ends the wait runs inside it.
    Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", release["dispid"] }, { "args", { 0 } } });
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(15)), std::future_status::ready);
    EXPECT_EQ(waiting.get()["value"], true);
}

TEST_F(UiServerTest, ClosedDialogReleasesThePagesObjectsAndRefusesCalls)
{
    UiThread ui;
    auto fake = FakeDispatch::Create();
    const std::string page = AddDialog(ui, ComPtr<IDispatch>(fake.get()));
    const json child = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Child" } });
    Dispatch(page, { { "op", "call" }, { "obj", 0 }, { "dispid", child["dispid"] }, { "args", { 0 } } });
    const ULONG held = fake->Refs();
    auto session = server.FindPage(page);
    ui.loop()->Send([&] { session->Close(); });
    EXPECT_LT(fake->Refs(), held);
    const json after = Dispatch(page, { { "op", "get" }, { "obj", 0 }, { "name", "Flag" } });
    EXPECT_TRUE(after.contains("error"));
    EXPECT_EQ(after["commands"][0]["close"], true);
}

} // namespace
