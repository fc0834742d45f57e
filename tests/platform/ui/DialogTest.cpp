#include "platform/ui/Dialog.h"
#include "platform/ui/ScriptedView.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

using ui::Dialog;
using ui::MessageLoop;
using ui::ScriptedView;

namespace {

class TestDialog : public Dialog {
public:
    explicit TestDialog(std::string name = "test") : m_name(std::move(name)) { }
    std::string_view Name() const override { return m_name; }

    std::vector<std::string> events;
    bool endInInit = false;

protected:
    void OnInitDialog() override
    {
        events.push_back("init");
        if (endInInit)
            EndDialog(7);
    }
    void OnClose() override
    {
        events.push_back("close");
        Dialog::OnClose();
    }
    void OnCommand(int id) override
    {
        events.push_back("command " + std::to_string(id));
        Dialog::OnCommand(id);
    }
    void OnDestroy() override { events.push_back("destroy"); }

private:
    std::string m_name;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { ui::SetActiveView(view); }
    void TearDown() override
    {
        ui::SetActiveView(nullptr);
        MessageLoop::Current().RunPending();
    }
    std::shared_ptr<ScriptedView> view = std::make_shared<ScriptedView>();
};

} // namespace

TEST_F(DialogTest, PostedCloseRunsAfterThePosterReturnedAndBecomesCancel)
{
    TestDialog d;
    d.SetSize(100, 100);
    EXPECT_EQ(d.Width(), 0) << "no window, no size";
    Dialog::State stateAfterPost = Dialog::State::NotShown;
    view->OnDialog("test", [&](Dialog& dlg) {
        dlg.SetSize(800, 600);
        dlg.PostClose();
        stateAfterPost = dlg.state();
    });
    EXPECT_EQ(d.DoModal(), 2);
    EXPECT_EQ(stateAfterPost, Dialog::State::Shown);
    EXPECT_EQ(d.events, (std::vector<std::string> { "init", "close", "command 2", "destroy" }));
    EXPECT_EQ(d.state(), Dialog::State::NotShown);
    EXPECT_FALSE(d.HasWindow());
    EXPECT_EQ(view->Resizes(), std::vector<std::string> { "test 800x600" });
}

TEST_F(DialogTest, WithoutScriptOrViewTheDialogClosesAsEscapeWould)
{
    TestDialog d;
    EXPECT_EQ(d.DoModal(), 2);
    EXPECT_EQ(view->DialogsShown(), std::vector<std::string> { "test" });
    EXPECT_EQ(view->DialogsClosed(), std::vector<std::string> { "test" });
    // Headless: no view at all must not hang either.
    ui::SetActiveView(nullptr);
    EXPECT_EQ(d.DoModal(), 2);
}

TEST_F(DialogTest, CloseRequestOutlivingItsShowingIsDropped)
{
    TestDialog d;
    // Two close requests in one showing: the second arrives after the
    // first ended the loop and must not end the next showing.
    view->OnDialog("test", [](Dialog& dlg) {
        dlg.PostClose();
        dlg.PostClose();
    });
    EXPECT_EQ(d.DoModal(), 2);
    int stillShownChecks = 0;
    view->OnDialog("test", [&](Dialog& dlg) {
        MessageLoop::Current().RunPending(); // would deliver a stale close
        if (dlg.state() == Dialog::State::Shown)
            ++stillShownChecks;
        dlg.EndDialog(5);
    });
    EXPECT_EQ(d.DoModal(), 5);
    EXPECT_EQ(stillShownChecks, 1);
    EXPECT_FALSE(d.PostClose()) << "no window, nothing to post to";
}

TEST_F(DialogTest, ShownDialogIsNotShownAgainAndEndInInitialisationNeverShows)
{
    TestDialog d;
    int inner = 0;
    view->OnDialog("test", [&](Dialog& dlg) {
        inner = dlg.DoModal();
        dlg.EndDialog(1);
    });
    EXPECT_EQ(d.DoModal(), 1);
    EXPECT_EQ(inner, -1);
    EXPECT_EQ(view->DialogsShown().size(), 1u);

    TestDialog early("early");
    early.endInInit = true;
    EXPECT_EQ(early.DoModal(), 7);
    EXPECT_EQ(view->DialogsShown().size(), 1u);
}

TEST_F(DialogTest, NestedDialogsOwnEachOtherAndUnwindInOrder)
{
    TestDialog outer("outer");
    TestDialog inner("inner");
    Dialog* activeInInner = nullptr;
    Dialog* activeAfterInner = nullptr;
    int innerResult = 0;
    view->OnDialog("outer", [&](Dialog& dlg) {
        innerResult = inner.DoModal();
        activeAfterInner = Dialog::ActiveOnThisThread();
        dlg.PostClose();
    });
    view->OnDialog("inner", [&](Dialog& dlg) {
        activeInInner = Dialog::ActiveOnThisThread();
        dlg.EndDialog(9);
    });
    EXPECT_EQ(outer.DoModal(), 2);
    EXPECT_EQ(innerResult, 9);
    EXPECT_EQ(activeInInner, &inner);
    EXPECT_EQ(activeAfterInner, &outer);
    EXPECT_EQ(Dialog::ActiveOnThisThread(), nullptr);
}

TEST_F(DialogTest, FailureInsideTheLoopStillTakesTheWindowDown)
{
    TestDialog d;
    view->OnDialog("test", [](Dialog&) { throw std::runtime_error("script failed"); });
    EXPECT_THROW(d.DoModal(), std::runtime_error);
    EXPECT_FALSE(d.HasWindow());
    EXPECT_EQ(Dialog::ActiveOnThisThread(), nullptr);
    EXPECT_EQ(d.events.back(), "destroy");
    EXPECT_EQ(view->DialogsClosed().size(), 1u);
}

TEST_F(DialogTest, CloseFromAnotherThreadEndsTheDialog)
{
    TestDialog d;
    std::thread closer;
    view->OnDialog("test", [&](Dialog& dlg) { closer = std::thread([&dlg] { dlg.PostClose(); }); });
    EXPECT_EQ(d.DoModal(), 2);
    closer.join();
}
