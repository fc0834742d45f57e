// CSavingUrlsDialog run modally on the test thread with the scripted list
// view: rows, texts, save results and the close sequence, against the
// loopback servers.
#include "saveprocessors/SavingUrlsDialog.h"

#include "platform/inet/InternetSession.h"
#include "platform/ui/ScriptedView.h"
#include "saveprocessors/ScriptedSavingUrlsView.h"
#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace std::chrono_literals;
using namespace QVSaveProcessors;

namespace {

namespace fs = std::filesystem;
using Dialog = CSavingUrlsDialog;

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class SavingUrlsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = inet::DefaultTransferLimits();
        inet::TransferLimits limits;
        limits.connectTimeout = 5s;
        limits.idleTimeout = 2s;
        inet::SetDefaultTransferLimits(limits);
        server = testsupport::StartHttpTestServer();
        // The list view decides when to close; the window itself stays.
        uiView = std::make_shared<ui::ScriptedView>();
        uiView->OnDialog("saving", [](ui::Dialog&) { });
        ui::SetActiveView(uiView);
        dialog.m_rootFolder = root.path().string();
    }
    void TearDown() override
    {
        ui::SetActiveView(nullptr);
        inet::SetDefaultTransferLimits(saved);
    }

    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }

    ScriptedSavingUrlsView& View()
    {
        auto view = std::make_unique<ScriptedSavingUrlsView>();
        ScriptedSavingUrlsView& ref = *view;
        dialog.SetView(std::move(view));
        return ref;
    }

    // Row index of `url` (rows are in byte order of the URLs).
    std::size_t RowOf(const std::string& url) const
    {
        return static_cast<std::size_t>(std::distance(dialog.m_urls.begin(), dialog.m_urls.find(url)));
    }

    inet::TransferLimits saved;
    testsupport::TempDir root;
    std::unique_ptr<testsupport::PythonServer> server;
    std::shared_ptr<ui::ScriptedView> uiView;
    Dialog dialog;
};

TEST_F(SavingUrlsDialogTest, CompletedRowShowsEveryColumnAndCompleteResult)
{
    const std::string url = Url("/gen/5000/3/logo.gif");
    dialog.m_urls = { url };
    auto& view = View();
    view.CloseWhenAllFinished();
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    ASSERT_FALSE(view.DeadlinePassed());

    ASSERT_EQ(view.RowCount(), 1u);
    const std::string target = (root / "logo.gif").string();
    EXPECT_EQ(view.CellHistory(0, Dialog::ColumnFile), (std::vector<std::string> { "URL analyse...", target }));
    EXPECT_EQ(view.Cell(0, Dialog::ColumnUrl), url);
    EXPECT_EQ(view.Cell(0, Dialog::ColumnProtocol), "http");
    EXPECT_EQ(view.Cell(0, Dialog::ColumnRatio), "5000 B");
    EXPECT_EQ(view.CellHistory(0, Dialog::ColumnStatus), (std::vector<std::string> { "Downloading", "Completed" }));
    EXPECT_EQ(dialog.m_results, (std::map<std::string, std::int32_t> { { url, SaveResultComplete } }));
    EXPECT_EQ(testsupport::CompareWithGenerated(target, 5000, 3), "");
}

TEST_F(SavingUrlsDialogTest, SameFileNameFromTwoHostsIsNumberedInSortOrder)
{
    // "127.0.0.1" sorts before "localhost": it gets the plain name.
    const std::string first = Url("/gen/100/1/x.gif");
    const std::string second = "http://localhost:" + std::to_string(server->port()) + "/gen/200/2/x.gif";
    dialog.m_urls = { second, first };
    View().CloseWhenAllFinished();
    dialog.DoModal();
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "x.gif", 100, 1), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "x1.gif", 200, 2), "");
    EXPECT_EQ(dialog.m_results[first], SaveResultComplete);
    EXPECT_EQ(dialog.m_results[second], SaveResultComplete);
}

TEST_F(SavingUrlsDialogTest, UrlsDifferingOnlyInCaseAreTwoRows)
{
    const std::string lower = "http://localhost:" + std::to_string(server->port()) + "/gen/300/4/c.gif";
    const std::string upper = "http://LOCALHOST:" + std::to_string(server->port()) + "/gen/300/4/c.gif";
    dialog.m_urls = { lower, upper };
    auto& view = View();
    view.CloseWhenAllFinished();
    dialog.DoModal();
    ASSERT_EQ(view.RowCount(), 2u);
    EXPECT_EQ(view.Cell(0, Dialog::ColumnUrl), upper);
    EXPECT_EQ(view.Cell(1, Dialog::ColumnUrl), lower);
    EXPECT_EQ(dialog.m_results.size(), 2u);
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "c.gif", 300, 4), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "c1.gif", 300, 4), "");
}

TEST_F(SavingUrlsDialogTest, UnknownSchemeRowSaysWhyAndResultsNone)
{
    const std::string rtsp = "rtsp://127.0.0.1/clip.rm";
    const std::string capitalMms = "MMS://127.0.0.1/clip.asf";
    dialog.m_urls = { rtsp, capitalMms };
    auto& view = View();
    view.CloseWhenAllFinished();
    dialog.DoModal();
    ASSERT_FALSE(view.DeadlinePassed()) << "rows without a job must count as finished";
    for (const std::string& url : { capitalMms, rtsp }) {
        const std::size_t row = RowOf(url);
        EXPECT_EQ(view.Cell(row, Dialog::ColumnFile), "URL analyse...");
        EXPECT_EQ(view.Cell(row, Dialog::ColumnStatus),
                  "Error: (" + url + ") URL scheme don't detected, file can't be saved");
        EXPECT_EQ(dialog.m_results[url], SaveResultNone);
    }
    EXPECT_EQ(view.Cell(RowOf(rtsp), Dialog::ColumnProtocol), "rtsp");
    EXPECT_EQ(view.Cell(RowOf(capitalMms), Dialog::ColumnProtocol), "MMS");
    EXPECT_TRUE(fs::is_empty(root.path())) << "no file for a URL without processor";
}

TEST_F(SavingUrlsDialogTest, LowerCaseMmsGetsAStreamProcessor)
{
    testsupport::ScopedEnv port("QUILLORY_MMS_TEST_PORT", "1"); // nothing listens there
    const std::string mms = "mms://127.0.0.1/clip.asf";
    dialog.m_urls = { mms };
    auto& view = View();
    view.CloseWhenAllFinished();
    dialog.DoModal();
    EXPECT_NE(view.Cell(0, Dialog::ColumnFile), "URL analyse...") << "the job never created its file";
    EXPECT_EQ(view.Cell(0, Dialog::ColumnStatus).rfind("Error: ", 0), 0u) << view.Cell(0, Dialog::ColumnStatus);
    EXPECT_EQ(dialog.m_results[mms], SaveResultNone);
}

TEST_F(SavingUrlsDialogTest, MissingTargetFolderShowsTheCreateErrorAndResultsNone)
{
    const std::string url = Url("/gen/10/1/x.gif");
    dialog.m_urls = { url };
    dialog.m_rootFolder = (root / "gone").string();
    auto& view = View();
    view.CloseWhenAllFinished();
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
    auto& view = View();
    view.CloseWhenAllFinished();
    dialog.DoModal();
    for (const std::string& url : dialog.m_urls) {
        const std::size_t row = RowOf(url);
        EXPECT_FALSE(Contains(view.CellHistory(row, Dialog::ColumnStatus), "Completed")) << url;
        EXPECT_EQ(view.Cell(row, Dialog::ColumnStatus).rfind("Error: ", 0), 0u) << url;
        EXPECT_NE(dialog.m_results[url], SaveResultComplete) << url;
    }
    EXPECT_EQ(view.Cell(RowOf(notFound), Dialog::ColumnStatus), "Error: Cannot open URL: HTTP 404 Not Found");
    EXPECT_EQ(view.Cell(RowOf(cut), Dialog::ColumnStatus).rfind("Error: Download incomplete: ", 0), 0u);
    EXPECT_EQ(dialog.m_results[notFound], SaveResultNone);
    EXPECT_EQ(dialog.m_results[refused], SaveResultNone);
    EXPECT_EQ(dialog.m_results[cut], SaveResultPartial);
    EXPECT_EQ(dialog.m_results[chunkedCut], SaveResultPartial);
}

TEST_F(SavingUrlsDialogTest, EmptyResourceAndFileCopyComplete)
{
    testsupport::TempDir source;
    testsupport::WriteFileBytes(source / "notes.txt", testsupport::GeneratedBytes(777, 8));
    const std::string fileUrl = "file://" + (source / "notes.txt").string();
    const std::string empty = Url("/empty/empty.txt");
    dialog.m_urls = { fileUrl, empty };
    auto& view = View();
    view.CloseWhenAllFinished();
    dialog.DoModal();
    EXPECT_EQ(dialog.m_results[fileUrl], SaveResultComplete);
    EXPECT_EQ(dialog.m_results[empty], SaveResultComplete);
    EXPECT_EQ(view.Cell(RowOf(fileUrl), Dialog::ColumnRatio), "") << "a copy reports no progress";
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "notes.txt", 777, 8), "");
    EXPECT_EQ(fs::file_size(root / "empty.txt"), 0u);
}

TEST_F(SavingUrlsDialogTest, ClosingWithJobsRunningStopsThemAndRecordsWhatTheyHad)
{
    inet::TransferLimits patient;
    patient.idleTimeout = 600s; // the silent job ends only through the stop
    inet::SetDefaultTransferLimits(patient);
    const std::string slow = Url("/slow/102400/5/1024/100/slow.bin");
    const std::string silent = Url("/silent/silent.bin");
    const std::string quick = Url("/gen/2000/6/quick.bin");
    dialog.m_urls = { slow, silent, quick };
    auto& view = View();
    view.CloseWhen([&](Dialog& d) { return d.RowBytes(RowOf(slow)) >= 2048 && d.IsRowFinished(RowOf(quick)); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "closing waited for a silent server";
    ASSERT_FALSE(view.DeadlinePassed());
    EXPECT_EQ(dialog.m_results[quick], SaveResultComplete);
    EXPECT_EQ(dialog.m_results[slow], SaveResultPartial);
    EXPECT_EQ(dialog.m_results[silent], SaveResultNone);
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
    auto& view = View();
    view.CloseWhen([](Dialog& d) { return d.RowBytes(0) >= 1000000; }, ScriptedSavingUrlsView::CloseWith::WindowClose);
    EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
    ASSERT_FALSE(view.DeadlinePassed());
    EXPECT_NE(dialog.m_results[big], SaveResultNone);
    if (dialog.m_results[big] == SaveResultPartial) {
        EXPECT_FALSE(Contains(view.CellHistory(0, Dialog::ColumnStatus), "Completed"));
    }
}

TEST_F(SavingUrlsDialogTest, EmptyUrlSetGivesEmptyListAndResults)
{
    auto& view = View();
    view.CloseAtOnce();
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    EXPECT_EQ(view.RowCount(), 0u);
    EXPECT_TRUE(dialog.m_results.empty());
}

TEST_F(SavingUrlsDialogTest, WindowCloseEndsWithTwoAndCloseButtonWithOne)
{
    dialog.m_urls = { "rtsp://127.0.0.1/a" };
    View().CloseAtOnce(ScriptedSavingUrlsView::CloseWith::WindowClose);
    EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
    Dialog again;
    auto view = std::make_unique<ScriptedSavingUrlsView>();
    view->CloseAtOnce(ScriptedSavingUrlsView::CloseWith::CloseButton);
    again.SetView(std::move(view));
    EXPECT_EQ(again.DoModal(), ui::IDOK);
}

TEST_F(SavingUrlsDialogTest, InstalledFactoryProvidesTheViewOfDialogsWithoutOne)
{
    ScriptedSavingUrlsView* made = nullptr;
    int calls = 0;
    SetSavingUrlsViewFactory([&]() -> std::unique_ptr<ISavingUrlsView> {
        ++calls;
        auto view = std::make_unique<ScriptedSavingUrlsView>();
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

class SavingUrlsDialogFtp : public SavingUrlsDialogTest {
protected:
    void SetUp() override
    {
        SavingUrlsDialogTest::SetUp();
        std::string whyNot;
        ftp = testsupport::StartFtpTestServer(served.path(), whyNot);
        if (!ftp)
            GTEST_SKIP() << whyNot;
    }
    testsupport::TempDir served;
    std::unique_ptr<testsupport::PythonServer> ftp;
};

TEST_F(SavingUrlsDialogFtp, FtpAndHttpRowsCompleteSideBySide)
{
    testsupport::WriteFileBytes(served / "clip.mov", testsupport::GeneratedBytes(50000, 30));
    const std::string ftpUrl = ftp->BaseUrl("ftp") + "/clip.mov";
    const std::string httpUrl = Url("/gen/40000/31/clip.mov");
    dialog.m_urls = { ftpUrl, httpUrl };
    auto& view = View();
    view.CloseWhenAllFinished();
    dialog.DoModal();
    EXPECT_EQ(dialog.m_results[ftpUrl], SaveResultComplete);
    EXPECT_EQ(dialog.m_results[httpUrl], SaveResultComplete);
    EXPECT_EQ(view.Cell(RowOf(ftpUrl), Dialog::ColumnProtocol), "ftp");
    // ftp:// sorts first and gets the plain name.
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "clip.mov", 50000, 30), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "clip1.mov", 40000, 31), "");
}

} // namespace
