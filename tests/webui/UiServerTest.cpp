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
    void SetUp() override
    {
        ASSERT_TRUE(server.Start());
        // A dialog page whose window.external is `fake`, served on `ui`'s thread.
        page = webui::UiServer::RandomHex(16);
        webui::DialogSession::Setup setup;
        setup.loop = ui.loop();
        setup.external = ComPtr<IDispatch>(fake.get());
        setup.resPrefix = "res:///opt/q/lib.so/";
        setup.resBase = server.ResBase();
        setup.pageBase = server.PageBase(page);
        setup.caption = "Vornel Quillory";
        server.AddPage(std::make_shared<webui::DialogSession>(page, std::move(setup)));
    }
    httplib::Result Request(bool post, const std::string& path, const httplib::Headers& headers, const std::string& body = "{}")
    {
        httplib::Client c("127.0.0.1", server.Port());
        c.set_read_timeout(20, 0);
        return post ? c.Post(path.c_str(), headers, body, "application/json") : c.Get(path.c_str(), headers);
    }
    json Dispatch(const json& request)
    {
        auto res = Request(true, server.PageBase(page) + "dispatch", { { "Origin", server.Origin() } }, request.dump());
        if (!res)
            return json { { "transport", "failed" } };
        EXPECT_EQ(res->status, 200);
        return json::parse(res->body);
    }
    json Get(const std::string& name, json obj = 0) { return Dispatch({ { "op", "get" }, { "obj", obj }, { "name", name } }); }
    json Call(const std::string& name, json args, json obj = 0)
    {
        return Dispatch({ { "op", "call" }, { "obj", obj }, { "dispid", Get(name, obj)["dispid"] }, { "args", std::move(args) } });
    }

    webui::UiServer server { webui::UiServer::Options { .maxBody = 1024 } };
    UiThread ui;
    ComPtr<FakeDispatch> fake = FakeDispatch::Create();
    std::string page;
};

TEST_F(UiServerTest, RequestsWithoutTheTokenOrFromForeignHostsOriginsAndSitesAreRefused)
{
    const std::string port = std::to_string(server.Port()), gif = server.ResBase() + "GIF/223",
                      beat = server.PageBase(page) + "heartbeat", shell = server.ResBase() + "215?page=0123abcd";
    struct Case {
        const char* what;
        bool post;
        std::string path;
        httplib::Headers headers;
        int status;
    };
    const Case cases[] = {
        { "no token", false, "/res/GIF/223", {}, 404 },
        { "zero token", false, "/" + std::string(64, '0') + "/res/GIF/223", {}, 404 },
        { "token cut short", false, "/" + server.Token().substr(0, 63) + "/res/GIF/223", {}, 404 },
        { "root", false, "/", {}, 404 },
        { "token", false, gif, {}, 200 },
        { "foreign host", false, gif, { { "Host", "evil.example" } }, 403 },
        { "foreign host, our port", false, gif, { { "Host", "evil.example:" + port } }, 403 },
        { "our host, another port", false, gif, { { "Host", "127.0.0.1:1" } }, 403 },
        { "our host, no port", false, gif, { { "Host", "127.0.0.1" } }, 403 },
        { "localhost", false, gif, { { "Host", "localhost:" + port } }, 200 },
        { "foreign origin", true, beat, { { "Origin", "http://evil.example" } }, 403 },
        { "origin on another port", true, beat, { { "Origin", "http://127.0.0.1:1" } }, 403 },
        { "no origin", true, beat, {}, 403 },
        { "cross-site post", true, beat, { { "Origin", server.Origin() }, { "Sec-Fetch-Site", "cross-site" } }, 403 },
        // A cross-site page load (Firefox's extension windows) gets in; a
        // cross-site fetch of the same address does not.
        { "cross-site page load", false, shell,
          { { "Sec-Fetch-Site", "cross-site" }, { "Sec-Fetch-Mode", "navigate" }, { "Sec-Fetch-Dest", "document" } }, 200 },
        { "cross-site fetch", false, shell,
          { { "Sec-Fetch-Site", "cross-site" }, { "Sec-Fetch-Mode", "cors" }, { "Sec-Fetch-Dest", "empty" } }, 403 },
        { "own origin", true, beat, { { "Origin", server.Origin() } }, 200 },
        { "unknown picture", false, server.ResBase() + "GIF/225", {}, 404 },
        { "unknown page", false, server.ResBase() + "HTML/216", {}, 404 },
        { "unknown type", false, server.ResBase() + "BITMAP/223", {}, 404 },
        { "id overflowing", false, server.ResBase() + "GIF/99999999999", {}, 404 },
        { "page that is gone", true, server.PageBase("abcdef") + "dispatch", { { "Origin", server.Origin() } }, 410 },
    };
    for (const Case& c : cases) {
        auto res = Request(c.post, c.path, c.headers);
        ASSERT_TRUE(res) << c.what;
        EXPECT_EQ(res->status, c.status) << c.what;
        EXPECT_EQ(res->body.find("GIF89a") != std::string::npos, c.status == 200 && c.path == gif) << c.what;
        EXPECT_EQ(res->body.find("\"close\":true") != std::string::npos, c.status == 410) << c.what;
    }
}

TEST_F(UiServerTest, OversizedAndDeeplyNestedBodiesAreRefused)
{
    const std::string path = server.PageBase(page) + "dispatch";
    for (auto [body, status] : std::initializer_list<std::pair<std::string, int>> {
             { std::string(4096, ' '), 413 }, { std::string(200, '[') + std::string(200, ']'), 400 } }) {
        auto res = Request(true, path, { { "Origin", server.Origin() } }, body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status);
    }
    EXPECT_TRUE(Dispatch({ { "op", 7 }, { "obj", 0 }, { "name", "Text" } }).contains("error"));
}

TEST_F(UiServerTest, ShellPageHasItsStatementsInOrderOneBridgeTagAndLockedDownHeaders)
{
    auto res = Request(false, server.ResBase() + "215?page=0123abcd", {});
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    const std::string& shell = res->body;
    EXPECT_EQ(shell.rfind("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">", 0), 0u);
    const auto one = shell.find("document.write(window.external.GetData(1));");
    ASSERT_NE(one, std::string::npos);
    EXPECT_LT(one, shell.find("document.write(window.external.GetData(0));"));
    EXPECT_LT(shell.find("document.write(window.external.GetData(0));"), shell.find("BodyOnLoad();"));
    EXPECT_NE(shell.find("onunload=\"BodyOnUnLoad()\""), std::string::npos);
    EXPECT_NE(shell.find("overflow:visible;padding:10px;border:0px;margin:0px"), std::string::npos);
    const std::string tag = "<script src=\"" + server.PageBase("0123abcd") + "bridge.js\"></script>";
    ASSERT_NE(shell.find(tag), std::string::npos);
    EXPECT_EQ(shell.find(tag, shell.find(tag) + 1), std::string::npos);
    EXPECT_LT(shell.find(tag), shell.find("<body"));
    EXPECT_NE(res->get_header_value("Content-Security-Policy").find("script-src 'self' 'unsafe-inline'"), std::string::npos);
    EXPECT_NE(res->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(res->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(res->get_header_value("X-Frame-Options"), "DENY");
    EXPECT_EQ(res->get_header_value("Referrer-Policy"), "no-referrer");
    // The same page by type name; a page id that is not hex gets no tag.
    auto byName = Request(false, server.ResBase() + "HTML/215", {});
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->status, 200);
    auto injected = Request(false, server.ResBase() + "215?page=%22%3E%3Cscript%3Ealert(1)%3C/script%3E", {});
    ASSERT_TRUE(injected);
    EXPECT_EQ(injected->body.find("bridge.js"), std::string::npos);
    EXPECT_EQ(injected->body.find("alert(1)"), std::string::npos);
}

TEST_F(UiServerTest, DialogPicturesAreGifsOfTheirSizes)
{
    for (auto [id, width, height] : { std::tuple { 223, 21, 19 }, std::tuple { 224, 27, 22 }, std::tuple { 226, 14, 14 },
                                      std::tuple { 227, 13, 12 } }) {
        auto res = Request(false, server.ResBase() + "GIF/" + std::to_string(id), {});
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), "image/gif");
        int w = 0, h = 0;
        EXPECT_EQ(webuitest::GifProblem(res->body, w, h), "") << id;
        EXPECT_EQ(std::pair(w, h), std::pair(width, height)) << id;
    }
}

TEST_F(UiServerTest, CallsRunOnTheUiThreadWithNamesAsWrittenArgumentsAsTheirScriptTypesAndFailuresAsCodes)
{
    for (const char* name : { "flag", "FLAG", "Flag" })
        EXPECT_EQ(Get(name)["value"], false) << name;
    EXPECT_EQ(fake->Names(), (std::vector<std::string> { "flag", "FLAG", "Flag" }));
    std::thread::id uiId;
    ui.loop()->Send([&] { uiId = std::this_thread::get_id(); });
    EXPECT_EQ(fake->CallThread(), uiId);
    // A put goes as the named DISPID_PROPERTYPUT argument.
    EXPECT_FALSE(Dispatch({ { "op", "put" }, { "obj", 0 }, { "name", "Flag" }, { "value", 1 } }).contains("error"));
    EXPECT_TRUE(fake->FlagValue());
    EXPECT_EQ(fake->PutType(), VT_I4);
    EXPECT_EQ(Get("Flag")["value"], true);
    ASSERT_EQ(Get("Echo")["method"], true);
    EXPECT_EQ(Call("Echo", json::array({ "text", 5, 2.5, true, nullptr, 4294967296.0 }))["value"], "text");
    EXPECT_EQ(fake->EchoTypes(), (std::vector<VARTYPE> { VT_BSTR, VT_I4, VT_R8, VT_BOOL, VT_EMPTY, VT_R8 }));
    const json failed = Call("Fail", { 1 });
    EXPECT_EQ(failed["error"]["hresult"], 0x8000000Au);
    EXPECT_NE(failed["error"].value("message", "").find("0x8000000A"), std::string::npos);
    EXPECT_EQ(Get("Nothing")["error"]["hresult"], 0x80020006u);
    // Module resource addresses reach the page as server paths.
    EXPECT_EQ(Get("Text")["value"], "see " + server.ResBase() + "GIF/223 and " + server.ResBase() + "215");
}

TEST_F(UiServerTest, ReturnedObjectsGetHandlesThatDispatchUntilTheDialogClosesAndReleasesThem)
{
    const json child = Call("Child", { 0 });
    ASSERT_TRUE(child["value"].contains("dispatch"));
    const auto handle = child["value"]["dispatch"];
    EXPECT_NE(handle, 0);
    EXPECT_EQ(Get("Flag", handle)["value"], false);
    // An object handed back as an argument arrives as that object.
    EXPECT_TRUE(Call("Echo", json::array({ json { { "dispatch", handle } } }))["value"].contains("dispatch"));
    EXPECT_EQ(fake->EchoTypes(), (std::vector<VARTYPE> { VT_DISPATCH }));
    // A handle the page never got is no object.
    EXPECT_TRUE(Get("Flag", 999).contains("error"));
    const ULONG held = fake->Refs();
    auto session = server.FindPage(page);
    ui.loop()->Send([&] { session->Close(); });
    EXPECT_LT(fake->Refs(), held);
    const json after = Get("Flag");
    EXPECT_TRUE(after.contains("error"));
    EXPECT_EQ(after["commands"][0]["close"], true);
}

TEST_F(UiServerTest, CallWaitingInANestedLoopDoesNotHoldUpOtherRequests)
{
    const json wait = Get("Wait");
    auto waiting = std::async(std::launch::async, [&] {
        return Dispatch({ { "op", "call" }, { "obj", 0 }, { "dispid", wait["dispid"] }, { "args", { 0 } } });
    });
    // Other windows keep talking while the call waits...
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(Get("Flag")["value"], false);
    // ...and the call that ends the wait runs inside it.
    Call("Release", { 0 });
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(15)), std::future_status::ready);
    EXPECT_EQ(waiting.get()["value"], true);
}

} // namespace
