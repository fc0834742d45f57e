// CSavingUrlsDialog run modally on the test thread with the scripted list
// view: rows, texts, save results and the close sequence, against the
// loopback servers.
#include "saveprocessors/ScriptedSavingUrlsView.h"
#include "tests/saveprocessors/SavingDialogFixture.h"

#include <filesystem>

using namespace std::chrono_literals;
using namespace QVSaveProcessors;

namespace {

namespace fs = std::filesystem;
using Dialog = CSavingUrlsDialog;
using View = ScriptedSavingUrlsView;

class SavingUrlsDialogTest : public testsupport::SavingDialogTest {
protected:
    // A scripted list view that closes once every row finished.
    View& ViewClosingWhenDone()
    {
        auto& view = Attach(std::make_unique<View>());
        view.CloseWhenAllFinished();
        return view;
    }
};

TEST_F(SavingUrlsDialogTest, CompletedRowsShowEveryColumnAndFileCopyOrEmptyResourceComplete)
{
    testsupport::TempDir source;
    testsupport::WriteFileBytes(source / "notes.txt", testsupport::GeneratedBytes(777, 8));
    const std::string url = Url("/gen/5000/3/logo.gif");
    const std::string fileUrl = "file://" + (source / "notes.txt").string();
    const std::string empty = Url("/empty/empty.txt");
    dialog.m_urls = { url, fileUrl, empty };
    auto& view = ViewClosingWhenDone();
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    ASSERT_FALSE(view.DeadlinePassed());

    ASSERT_EQ(view.RowCount(), 3u);
    const std::size_t row = RowOf(url);
    const std::string target = (root / "logo.gif").string();
    EXPECT_EQ(view.CellHistory(row, Dialog::ColumnFile), (std::vector<std::string> { "URL analyse...", target }));
    EXPECT_EQ(view.Cell(row, Dialog::ColumnUrl), url);
    EXPECT_EQ(view.Cell(row, Dialog::ColumnProtocol), "http");
    EXPECT_EQ(view.Cell(row, Dialog::ColumnRatio), "5000 B");
    EXPECT_EQ(view.CellHistory(row, Dialog::ColumnStatus), (std::vector<std::string> { "Downloading", "Completed" }));
    EXPECT_EQ(view.Cell(RowOf(fileUrl), Dialog::ColumnRatio), "") << "a copy reports no progress";
    EXPECT_EQ(dialog.m_results, (std::map<std::string, std::int32_t> {
                                    { url, SaveResultComplete }, { fileUrl, SaveResultComplete }, { empty, SaveResultComplete } }));
    EXPECT_EQ(testsupport::CompareWithGenerated(target, 5000, 3), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "notes.txt", 777, 8), "");
    EXPECT_EQ(fs::file_size(root / "empty.txt"), 0u);
}

TEST_F(SavingUrlsDialogTest, SameFileNameIsNumberedInUrlOrderAndCaseVariantsStayTwoRows)
{
    // "127.0.0.1" sorts before "localhost"; the upper-case host sorts first of c.gif.
    const std::string local = "http://localhost:" + std::to_string(server->port());
    const std::string first = Url("/gen/100/1/x.gif");
    const std::string second = local + "/gen/200/2/x.gif";
    const std::string lower = local + "/gen/300/4/c.gif";
    const std::string upper = "http://LOCALHOST:" + std::to_string(server->port()) + "/gen/300/4/c.gif";
    dialog.m_urls = { second, first, lower, upper };
    auto& view = ViewClosingWhenDone();
    dialog.DoModal();
    ASSERT_EQ(view.RowCount(), 4u);
    EXPECT_EQ(dialog.m_results.size(), 4u);
    for (const std::string& url : dialog.m_urls) {
        EXPECT_EQ(view.Cell(RowOf(url), Dialog::ColumnUrl), url) << "rows are not in URL order";
        EXPECT_EQ(dialog.m_results[url], SaveResultComplete) << url;
    }
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "x.gif", 100, 1), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "x1.gif", 200, 2), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "c.gif", 300, 4), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "c1.gif", 300, 4), "");
}

TEST_F(SavingUrlsDialogTest, OnlyLowerCaseMmsGetsAStreamJobOtherSchemesSayWhyAndResultNone)
{
    testsupport::ScopedEnv port("QUILLORY_MMS_TEST_PORT", "1"); // nothing listens there
    const std::string rtsp = "rtsp://127.0.0.1/clip.rm";
    const std::string capitalMms = "MMS://127.0.0.1/clip.asf";
    const std::string mms = "mms://127.0.0.1/clip.asf";
    dialog.m_urls = { rtsp, capitalMms, mms };
    auto& view = ViewClosingWhenDone();
    dialog.DoModal();
    ASSERT_FALSE(view.DeadlinePassed()) << "rows without a job must count as finished";
    for (const std::string& url : { capitalMms, rtsp }) {
        const std::size_t row = RowOf(url);
        EXPECT_EQ(view.Cell(row, Dialog::ColumnFile), "URL analyse...");
        EXPECT_EQ(view.Cell(row, Dialog::ColumnStatus),
                  "Error: (" + url + ") URL scheme don't detected, file can't be saved");
    }
    EXPECT_EQ(view.Cell(RowOf(rtsp), Dialog::ColumnProtocol), "rtsp");
    EXPECT_EQ(view.Cell(RowOf(capitalMms), Dialog::ColumnProtocol), "MMS");
    EXPECT_NE(view.Cell(RowOf(mms), Dialog::ColumnFile), "URL analyse...") << "the stream job never created its file";
    EXPECT_EQ(view.Cell(RowOf(mms), Dialog::ColumnStatus).rfind("Error: ", 0), 0u) << view.Cell(RowOf(mms), Dialog::ColumnStatus);
    for (const std::string& url : dialog.m_urls)
        EXPECT_EQ(dialog.m_results[url], SaveResultNone) << url;
}

TEST_F(SavingUrlsDialogTest, MissingTargetFolderShowsTheCreateErrorAndResultsNone)
{
    const std::string url = Url("/gen/10/1/x.gif");
    dialog.m_urls = { url };
    dialog.m_rootFolder = (root / "gone").string();
    auto& view = ViewClosingWhenDone();
    dialog.DoModal();
    ASSERT_FALSE(view.DeadlinePassed()) << "a job that never started must count as finished";
    EXPECT_EQ(view.Cell(0, Dialog::ColumnFile), "URL analyse...");
    EXPECT_EQ(view.Cell(0, Dialog::ColumnStatus),
              "Error: Cannot create output file '" + (root / "gone" / "x.gif").string() + "'.");
    EXPECT_EQ(dialog.m_results[url], SaveResultNone);
}

TEST_F(SavingUrlsDialogTest, FailedDownloadsSayWhyAndNeverShowCompleted)
{
    const std::string notFound = Url("/status/404/a.gif");
    const std::string refused = "http://127.0.0.1:1/b.gif";
    const std::string cut = Url("/cut/10000/2/4000/c.gif");
    const std::string chunkedCut = Url("/chunked-cut/10000/2/3000/d.gif");
    dialog.m_urls = { notFound, refused, cut, chunkedCut };
    auto& view = ViewClosingWhenDone();
    dialog.DoModal();
    for (const std::string& url : dialog.m_urls) {
        const std::size_t row = RowOf(url);
        EXPECT_FALSE(Contains(view.CellHistory(row, Dialog::ColumnStatus), "Completed")) << url;
        EXPECT_EQ(view.Cell(row, Dialog::ColumnStatus).rfind("Error: ", 0), 0u) << url;
    }
    EXPECT_EQ(view.Cell(RowOf(notFound), Dialog::ColumnStatus), "Error: Cannot open URL: HTTP 404 Not Found");
    EXPECT_EQ(view.Cell(RowOf(cut), Dialog::ColumnStatus).rfind("Error: Download incomplete: ", 0), 0u);
    EXPECT_EQ(dialog.m_results, (std::map<std::string, std::int32_t> { { notFound, SaveResultNone }, { refused, SaveResultNone },
                                                                       { cut, SaveResultPartial }, { chunkedCut, SaveResultPartial } }));
}

TEST_F(SavingUrlsDialogTest, ClosingWithJobsRunningStopsThemAndRecordsWhatTheyHad)
{
    WaitPatiently(); // the silent job ends only through the stop
    const std::string slow = Url("/slow/102400/5/1024/100/slow.bin");
    const std::string silent = Url("/silent/silent.bin");
    const std::string quick = Url("/gen/2000/6/quick.bin");
    dialog.m_urls = { slow, silent, quick };
    auto& view = Attach(std::make_unique<View>());
    view.CloseWhen([&](Dialog& d) { return d.RowBytes(RowOf(slow)) >= 2048 && d.IsRowFinished(RowOf(quick)); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "closing waited for a silent server";
    ASSERT_FALSE(view.DeadlinePassed());
    EXPECT_EQ(dialog.m_results, (std::map<std::string, std::int32_t> { { quick, SaveResultComplete }, { slow, SaveResultPartial },
                                                                       { silent, SaveResultNone } }));
    EXPECT_FALSE(Contains(view.CellHistory(RowOf(slow), Dialog::ColumnStatus), "Completed"));
    EXPECT_EQ(view.ResultsAtClose(), dialog.m_results);
    EXPECT_LT(fs::file_size(root / "slow.bin"), 102400u);
}

TEST_F(SavingUrlsDialogTest, ClosingDuringAFloodOfEventsFreesTheQueuedRecords)
{
    // Thousands of progress records are in flight when the dialog closes;
    // the leak checker of the sanitizer build sees any that are not freed.
    const std::string big = Url("/gen/30000000/7/big.bin");
    dialog.m_urls = { big };
    auto& view = Attach(std::make_unique<View>());
    view.CloseWhen([](Dialog& d) { return d.RowBytes(0) >= 1000000; }, View::CloseWith::WindowClose);
    EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
    ASSERT_FALSE(view.DeadlinePassed());
    EXPECT_NE(dialog.m_results[big], SaveResultNone);
    if (dialog.m_results[big] == SaveResultPartial) {
        EXPECT_FALSE(Contains(view.CellHistory(0, Dialog::ColumnStatus), "Completed"));
    }
}

TEST_F(SavingUrlsDialogTest, CloseButtonEndsWithOneAndWindowCloseWithTwoEvenWithoutRows)
{
    auto& view = Attach(std::make_unique<View>());
    view.CloseAtOnce(View::CloseWith::CloseButton);
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_EQ(view.RowCount(), 0u);
    EXPECT_TRUE(dialog.m_results.empty());

    Dialog again;
    again.m_urls = { "rtsp://127.0.0.1/a" };
    auto closing = std::make_unique<View>();
    closing->CloseAtOnce(View::CloseWith::WindowClose);
    again.SetView(std::move(closing));
    EXPECT_EQ(again.DoModal(), ui::IDCANCEL);
}

TEST_F(SavingUrlsDialogTest, InstalledFactoryProvidesTheViewOfDialogsWithoutOne)
{
    View* made = nullptr;
    int calls = 0;
    SetSavingUrlsViewFactory([&]() -> std::unique_ptr<ISavingUrlsView> {
        ++calls;
        auto view = std::make_unique<View>();
        view->CloseWhenAllFinished();
        made = view.get();
        return view;
    });
    dialog.m_urls = { Url("/gen/10/1/f.gif") };
    dialog.DoModal();
    SetSavingUrlsViewFactory(nullptr);
    EXPECT_EQ(calls, 1);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Cell(0, Dialog::ColumnStatus), "Completed");
}

TEST_F(SavingUrlsDialogTest, FtpAndHttpRowsCompleteSideBySide)
{
    testsupport::TempDir served;
    std::string whyNot;
    const auto ftp = testsupport::StartFtpTestServer(served.path(), whyNot);
    if (!ftp)
        GTEST_SKIP() << whyNot;
    testsupport::WriteFileBytes(served / "clip.mov", testsupport::GeneratedBytes(50000, 30));
    const std::string ftpUrl = ftp->BaseUrl("ftp") + "/clip.mov";
    const std::string httpUrl = Url("/gen/40000/31/clip.mov");
    dialog.m_urls = { ftpUrl, httpUrl };
    auto& view = ViewClosingWhenDone();
    dialog.DoModal();
    EXPECT_EQ(dialog.m_results[ftpUrl], SaveResultComplete);
    EXPECT_EQ(dialog.m_results[httpUrl], SaveResultComplete);
    EXPECT_EQ(view.Cell(RowOf(ftpUrl), Dialog::ColumnProtocol), "ftp");
    // ftp:// sorts first and gets the plain name.
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "clip.mov", 50000, 30), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "clip1.mov", 40000, 31), "");
}

} // namespace
