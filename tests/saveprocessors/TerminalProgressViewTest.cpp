// The terminal table of `quillory fetch`: what it prints in both styles,
// how often it redraws, and when it closes the dialog.
#include "saveprocessors/TerminalProgressView.h"
#include "tests/saveprocessors/SavingDialogFixture.h"

#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace QVSaveProcessors;

namespace {

class TerminalProgressViewTest : public testsupport::SavingDialogTest {
protected:
    void SetUp() override
    {
        SavingDialogTest::SetUp();
        fd = ::open(outPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override
    {
        ::close(fd);
        SavingDialogTest::TearDown();
    }

    TerminalProgressView& Table(TerminalProgressView::Style style,
                                TerminalProgressView::CloseOnInterrupt interrupt = TerminalProgressView::CloseOnInterrupt::No)
    {
        TerminalProgressView::Options options;
        options.fd = fd;
        options.style = style;
        options.closeWhenDone = TerminalProgressView::CloseWhenDone::Yes;
        options.closeOnInterrupt = interrupt;
        options.width = 100;
        options.height = 12;
        return Attach(std::make_unique<TerminalProgressView>(options));
    }

    std::string Output() const
    {
        const auto bytes = testsupport::ReadFileBytes(outPath);
        return std::string(bytes.begin(), bytes.end());
    }

    testsupport::TempDir output;
    std::string outPath = (output / "table.txt").string();
    int fd = -1;
};

TEST_F(TerminalProgressViewTest, LinesStyleSaysWhatHappenedToEachUrlAndHostileTextCannotDriveTheTerminal)
{
    const std::string good = Url("/gen/3000/1/good.gif");
    const std::string bad = Url("/status/404/bad.gif");
    // A page can hand us any URL; its bytes reach the terminal.
    const std::string hostile = "rtsp://x/\x1b]0;owned\x07\x1b[2J.rm";
    dialog.m_urls = { good, bad, hostile };
    Table(TerminalProgressView::Style::Lines);
    EXPECT_EQ(dialog.DoModal(), ui::IDOK) << "the table closes the dialog once every row finished";
    const std::string out = Output();
    EXPECT_NE(out.find(good + ": saving to " + (root / "good.gif").string() + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find(good + ": Completed (3000 B)\n"), std::string::npos) << out;
    EXPECT_NE(out.find(bad + ": Error: Cannot open URL: HTTP 404 Not Found\n"), std::string::npos) << out;
    EXPECT_NE(out.find("rtsp://x/?]0;owned??[2J.rm"), std::string::npos) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << "escape sequences in plain output";
    EXPECT_EQ(out.find('\x07'), std::string::npos) << out;
}

TEST_F(TerminalProgressViewTest, LiveStyleRedrawsAtABoundedRateAndNeverWiderThanTheTerminal)
{
    // About 300 progress events over ~1.5 s: the table may redraw about 15
    // times, not 300.
    const std::string name = std::string(300, 'n') + ".bin";
    const std::string slow = Url("/slow/300000/2/1024/5/" + name);
    dialog.m_urls = { slow, "rtsp://x/y.rm" };
    auto& view = Table(TerminalProgressView::Style::Live);
    const auto start = std::chrono::steady_clock::now();
    dialog.DoModal();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(dialog.m_results[slow], SaveResultComplete);
    EXPECT_LE(view.Redraws(), static_cast<std::size_t>(elapsed.count() / 100 + 3));
    EXPECT_GE(view.Redraws(), 2u);
    const std::string out = Output();
    EXPECT_NE(out.find("\x1b["), std::string::npos) << "no in-place redraw";
    const std::string saved = (root / (std::string(251, 'n') + ".bin")).string();
    EXPECT_NE(out.find("Completed  300000 B  " + saved + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Error: (rtsp://x/y.rm) URL scheme don't detected, file can't be saved"), std::string::npos);
    // Every line of the live region is drawn again, so it must not wrap;
    // the permanent line may.
    std::size_t from = 0;
    while (from < out.size()) {
        const std::size_t end = std::min(out.find('\n', from), out.size());
        const std::string line = out.substr(from, end - from);
        // Only what follows the cursor sequences of a redraw is visible.
        const std::size_t text = line.rfind("\x1b[J");
        const std::string visible = text == std::string::npos ? line : line.substr(text + 3);
        if (line.find("Completed") == std::string::npos) {
            EXPECT_LT(visible.size(), 100u) << visible;
        }
        from = end + 1;
    }
}

TEST_F(TerminalProgressViewTest, CtrlCStopsEveryDownloadAndCloses)
{
    WaitPatiently();
    const std::string silent = Url("/silent/s.bin");
    dialog.m_urls = { silent };
    auto& view = Table(TerminalProgressView::Style::Lines, TerminalProgressView::CloseOnInterrupt::Yes);
    std::thread user([] {
        std::this_thread::sleep_for(500ms);
        ::kill(::getpid(), SIGINT);
    });
    const auto start = std::chrono::steady_clock::now();
    const int how = dialog.DoModal();
    user.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    EXPECT_EQ(how, ui::IDCANCEL);
    EXPECT_TRUE(view.Interrupted());
    EXPECT_EQ(dialog.m_results[silent], SaveResultNone);
    EXPECT_NE(Output().find(silent + ": Stopped"), std::string::npos) << Output();
}

} // namespace
