// When a page counts as gone, and how a $BROWSER entry becomes a command.
#include "webui/BrowserLauncher.h"
#include "webui/PageSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class PageSessionTest : public ::testing::Test {
protected:
    // Watches `session` on this thread; true when it was taken as gone
    // within `limit`.
    bool GoneWithin(webui::PageSession& session, std::chrono::milliseconds limit, const std::function<void()>& meanwhile = {})
    {
        bool gone = false;
        session.Watch(ui::MessageLoop::CurrentRef(), timing, [&] { gone = true; });
        for (const auto end = std::chrono::steady_clock::now() + limit; !gone && std::chrono::steady_clock::now() < end;) {
            ui::MessageLoop::Current().RunUntil([&] { return gone; }, 10ms);
            if (meanwhile)
                meanwhile();
        }
        return gone;
    }
    // A session (owned by a shared_ptr, as the server holds it) that has
    // heard from its page.
    template <class Session = webui::PageSession>
    static std::shared_ptr<Session> Heard(const char* id)
    {
        auto session = std::make_shared<Session>(id);
        Send(*session, "heartbeat");
        return session;
    }
    static void Send(webui::PageSession& session, const char* verb)
    {
        int status = 0;
        (void)session.Post(verb, json::object(), status);
    }

    webui::PageSession::Timing timing { .firstContact = 2s, .silence = 400ms, .reloadGrace = 300ms, .checkEvery = 20ms };
};

TEST_F(PageSessionTest, HeartbeatsKeepThePageAndSilenceEndsIt)
{
    auto session = Heard("aa");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(GoneWithin(*session, 800ms, [&] { Send(*session, "heartbeat"); }));
    EXPECT_TRUE(GoneWithin(*session, 2s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 800ms + timing.silence);
}

TEST_F(PageSessionTest, GoodbyeEndsThePageAfterTheReloadGraceUnlessItComesBack)
{
    auto reloaded = Heard("bb");
    Send(*reloaded, "closed");
    // The reloaded page calls again at once: it is the same dialog.
    bool cameBack = false;
    EXPECT_FALSE(GoneWithin(*reloaded, 250ms, [&] {
        if (!std::exchange(cameBack, true))
            Send(*reloaded, "heartbeat");
    }));
    timing.silence = 5s; // silence alone would take longer than the limit below
    auto closed = Heard("cc");
    Send(*closed, "closed");
    EXPECT_TRUE(GoneWithin(*closed, 3s));
}

TEST_F(PageSessionTest, PageThatNeverCallsIsGoneAfterTheFirstContactLimitOnlyWhenOneIsSet)
{
    timing.firstContact = 200ms;
    EXPECT_TRUE(GoneWithin(*std::make_shared<webui::PageSession>("dd"), 2s));
    timing.firstContact = {};
    EXPECT_FALSE(GoneWithin(*std::make_shared<webui::PageSession>("ee"), 600ms));
}

// A long call (the progress dialog inside StartDownloading) blocks the
// page's script, so its heartbeat stops; that must not close the dialog.
class BlockingSession final : public webui::PageSession {
public:
    using PageSession::PageSession;
    std::atomic<bool> release { false };

protected:
    json Handle(std::string_view, const json&, int&) override
    {
        InFlight busy(*this);
        while (!release)
            std::this_thread::sleep_for(5ms);
        return json::object();
    }
};

TEST_F(PageSessionTest, TimeInsideALongCallIsNotSilence)
{
    auto session = Heard<BlockingSession>("ff");
    std::thread call([&] { Send(*session, "dispatch"); });
    EXPECT_FALSE(GoneWithin(*session, 1200ms));
    session->release = true;
    call.join();
    EXPECT_TRUE(GoneWithin(*session, 2s));
}

TEST_F(PageSessionTest, ClosedSessionTellsThePageToCloseAndKeepsOnlyTheLatestCommandOfAKind)
{
    auto session = std::make_shared<webui::PageSession>("ab");
    for (int i = 0; i < 1000; ++i)
        session->QueueCommand(json { { "resize", { i, i } } });
    int status = 0;
    const json answer = session->Post("heartbeat", json::object(), status);
    ASSERT_EQ(answer["commands"].size(), 1u);
    EXPECT_EQ(answer["commands"][0]["resize"], json::array({ 999, 999 }));
    session->Close();
    const json after = session->Post("dispatch", json::object(), status);
    EXPECT_EQ(after["gone"], true);
    EXPECT_EQ(after["commands"][0]["close"], true);
    EXPECT_TRUE(after.contains("error"));
}

TEST(BrowserCommand, PlaceholderQuotesAndAppendedAddress)
{
    const std::string url = "http://127.0.0.1:5/t/res/215?page=ab";
    using Words = std::vector<std::string>;
    EXPECT_EQ(webui::BrowserCommand("firefox", url), (Words { "firefox", url }));
    EXPECT_EQ(webui::BrowserCommand("chromium --app=%s --x", url), (Words { "chromium", "--app=" + url, "--x" }));
    EXPECT_EQ(webui::BrowserCommand("'/opt/my browser/run' \"a b\" 100%%", url), (Words { "/opt/my browser/run", "a b", "100%", url }));
    // The address is one word whatever it holds: no shell ever sees it.
    EXPECT_EQ(webui::BrowserCommand("open %s", "http://x/;rm -rf ~"), (Words { "open", "http://x/;rm -rf ~" }));
    EXPECT_TRUE(webui::BrowserCommand("   ", url).empty());
}

} // namespace
