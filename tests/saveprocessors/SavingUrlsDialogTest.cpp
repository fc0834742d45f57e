// CSavingUrlsDialog run modally on the test thread with a scripted list
// view: rows, texts, save results and the close sequence, against the
// loopback servers. Progress records still queued for a row are merged;
// that must never show: a row shows its final count before its final
// status, and a running download still shows its count while it runs.
#include "platform/ui/MessageLoop.h"
#include "saveprocessors/InternetFileProcessor.h"
#include "saveprocessors/ScriptedSavingUrlsView.h"
#include "tests/saveprocessors/SavingDialogFixture.h"

#include <filesystem>
#include <functional>
#include <tuple>

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

TEST_F(SavingUrlsDialogTest, EveryRowSaysWhatHappenedToItsUrlInUrlOrderAndRecordsItsResult)
{
    testsupport::ScopedEnv mmsPort("QUILLORY_MMS_TEST_PORT", "1"); // nothing listens there
    testsupport::TempDir source;
    testsupport::WriteFileBytes(source / "notes.txt", testsupport::GeneratedBytes(777, 8));
    const std::string port = std::to_string(server->port());
    const std::string logo = Url("/gen/5000/3/logo.gif"), empty = Url("/empty/empty.txt");
    const std::string fileUrl = "file://" + (source / "notes.txt").string();
    // Same names are numbered in URL order: "127.0.0.1" sorts before
    // "localhost", the upper-case host first of c.gif; case variants stay two rows.
    const std::string first = Url("/gen/100/1/x.gif"), second = "http://localhost:" + port + "/gen/200/2/x.gif";
    const std::string lower = "http://localhost:" + port + "/gen/300/4/c.gif";
    const std::string upper = "http://LOCALHOST:" + port + "/gen/300/4/c.gif";
    const std::string notFound = Url("/status/404/a.gif"), refused = "http://127.0.0.1:1/b.gif";
    const std::string cut = Url("/cut/10000/2/4000/cut.gif"), chunkedCut = Url("/chunked-cut/10000/2/3000/d.gif");
    // Only lower-case mms gets a stream job; other schemes say why.
    const std::string rtsp = "rtsp://127.0.0.1/clip.rm", capitalMms = "MMS://127.0.0.1/clip.asf", mms = "mms://127.0.0.1/clip.asf";
    dialog.m_urls = { logo, empty, fileUrl, second, first, lower, upper, notFound, refused, cut, chunkedCut, rtsp, capitalMms, mms };
    auto& view = ViewClosingWhenDone();
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    ASSERT_FALSE(view.DeadlinePassed()) << "rows without a job must count as finished";

    ASSERT_EQ(view.RowCount(), 14u);
    EXPECT_EQ(dialog.m_results, (std::map<std::string, std::int32_t> {
                                    { logo, SaveResultComplete }, { empty, SaveResultComplete }, { fileUrl, SaveResultComplete },
                                    { first, SaveResultComplete }, { second, SaveResultComplete }, { lower, SaveResultComplete },
                                    { upper, SaveResultComplete }, { notFound, SaveResultNone }, { refused, SaveResultNone },
                                    { cut, SaveResultPartial }, { chunkedCut, SaveResultPartial }, { rtsp, SaveResultNone },
                                    { capitalMms, SaveResultNone }, { mms, SaveResultNone } }));
    for (const std::string& url : dialog.m_urls) {
        const std::size_t row = RowOf(url);
        EXPECT_EQ(view.Cell(row, Dialog::ColumnUrl), url) << "rows are not in URL order";
        if (dialog.m_results[url] != SaveResultComplete) {
            EXPECT_FALSE(Contains(view.CellHistory(row, Dialog::ColumnStatus), "Completed")) << url;
            EXPECT_EQ(view.Cell(row, Dialog::ColumnStatus).rfind("Error: ", 0), 0u) << url;
        }
    }
    const std::size_t row = RowOf(logo);
    const std::string target = (root / "logo.gif").string();
    EXPECT_EQ(view.CellHistory(row, Dialog::ColumnFile), (std::vector<std::string> { "URL analyse...", target }));
    EXPECT_EQ(view.Cell(row, Dialog::ColumnProtocol), "http");
    EXPECT_EQ(view.Cell(row, Dialog::ColumnRatio), "5000 B");
    EXPECT_EQ(view.CellHistory(row, Dialog::ColumnStatus), (std::vector<std::string> { "Downloading", "Completed" }));
    EXPECT_EQ(view.Cell(RowOf(fileUrl), Dialog::ColumnRatio), "") << "a copy reports no progress";
    EXPECT_EQ(view.Cell(RowOf(notFound), Dialog::ColumnStatus), "Error: Cannot open URL: HTTP 404 Not Found");
    EXPECT_EQ(view.Cell(RowOf(cut), Dialog::ColumnStatus).rfind("Error: Download incomplete: ", 0), 0u);
    for (const std::string& url : { capitalMms, rtsp }) {
        EXPECT_EQ(view.Cell(RowOf(url), Dialog::ColumnFile), "URL analyse...");
        EXPECT_EQ(view.Cell(RowOf(url), Dialog::ColumnStatus), "Error: (" + url + ") URL scheme don't detected, file can't be saved");
    }
    EXPECT_EQ(view.Cell(RowOf(rtsp), Dialog::ColumnProtocol), "rtsp");
    EXPECT_EQ(view.Cell(RowOf(capitalMms), Dialog::ColumnProtocol), "MMS");
    EXPECT_NE(view.Cell(RowOf(mms), Dialog::ColumnFile), "URL analyse...") << "the stream job never created its file";
    const std::vector<std::tuple<const char*, std::size_t, std::uint32_t>> files = {
        { "logo.gif", 5000, 3 }, { "notes.txt", 777, 8 }, { "empty.txt", 0, 0 }, { "x.gif", 100, 1 },
        { "x1.gif", 200, 2 }, { "c.gif", 300, 4 }, { "c1.gif", 300, 4 } };
    for (const auto& [name, size, seed] : files) {
        EXPECT_TRUE(fs::is_regular_file(root / name)) << name;
        EXPECT_EQ(testsupport::CompareWithGenerated(root / name, size, seed), "") << name;
    }
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

TEST_F(SavingUrlsDialogTest, InstalledFactoryViewShowsAMissingTargetFolderAsTheCreateError)
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
    const std::string url = Url("/gen/10/1/x.gif");
    dialog.m_urls = { url };
    dialog.m_rootFolder = (root / "gone").string();
    dialog.DoModal();
    SetSavingUrlsViewFactory(nullptr);
    EXPECT_EQ(calls, 1);
    ASSERT_NE(made, nullptr);
    ASSERT_FALSE(made->DeadlinePassed()) << "a job that never started must count as finished";
    EXPECT_EQ(made->Cell(0, Dialog::ColumnFile), "URL analyse...");
    EXPECT_EQ(made->Cell(0, Dialog::ColumnStatus),
              "Error: Cannot create output file '" + (root / "gone" / "x.gif").string() + "'.");
    EXPECT_EQ(dialog.m_results[url], SaveResultNone);
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

// Notes the count a row showed with each status it showed, every count, and
// any call after closing; closes once `closeWhen` holds.
class StatusOrderView final : public ISavingUrlsView {
public:
    struct Row {
        std::vector<std::pair<std::string, std::string>> statuses; // status, count shown then
        std::vector<std::string> ratios;
    };
    std::vector<Row> rows;
    int callsAfterClose = 0;
    std::function<bool(Dialog&)> closeWhen = [](Dialog& d) { return d.AllRowsFinished(); };

    void Opened(Dialog& dialog) override
    {
        m_dialog = &dialog;
        m_deadline = ui::MessageLoop::Current().PostDelayed([this] { m_deadline = 0; m_dialog->PostClose(); }, 60s);
    }
    void RowInserted(std::size_t row) override { rows.resize(std::max(rows.size(), row + 1)); }
    void CellChanged(std::size_t row, int column) override
    {
        callsAfterClose += m_closed;
        const auto text = [&](int c) { return m_dialog->CellText(row, c); };
        if (column == Dialog::ColumnStatus)
            rows[row].statuses.emplace_back(text(Dialog::ColumnStatus), text(Dialog::ColumnRatio));
        if (column == Dialog::ColumnRatio)
            rows[row].ratios.push_back(text(Dialog::ColumnRatio));
    }
    void RowFinished(std::size_t) override { callsAfterClose += m_closed; }
    void EventsHandled() override
    {
        callsAfterClose += m_closed;
        if (!m_closed && !m_closing && closeWhen(*m_dialog)) {
            m_closing = true;
            m_dialog->PostCommand(ui::IDOK);
        }
    }
    void Closed() override
    {
        if (m_deadline)
            ui::MessageLoop::Current().CancelDelayed(m_deadline);
        m_closed = true;
    }

private:
    Dialog* m_dialog = nullptr;
    ui::MessageLoop::TimerId m_deadline = 0;
    bool m_closing = false;
    bool m_closed = false;
};

TEST_F(SavingUrlsDialogTest, EachRowShowsItsFinalCountBeforeItsFinalStatusAndMergesProgress)
{
    const std::size_t big = 8u * 1024 * 1024;
    const std::string whole = Url("/gen/" + std::to_string(big) + "/12/whole.bin");
    const std::string chunked = Url("/chunked/300000/13/chunked.bin");
    const std::string cut = Url("/cut/200000/14/120000/cut.bin");
    // Progress alone (no other event in between) must still reach the list
    // while the job runs: 1 KiB every 100 ms for 2 s.
    const std::string slow = Url("/slow/20480/15/1024/100/slow.bin");
    dialog.m_urls = { whole, chunked, cut, slow };
    auto& view = Attach(std::make_unique<StatusOrderView>());
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);

    const std::vector<std::tuple<std::string, std::string, std::string>> ends = {
        { whole, "Completed", std::to_string(big) + " B" },
        { chunked, "Completed", "300000 B" },
        { cut, "Error: Download incomplete: ", "120000 B" },
        { slow, "Completed", "20480 B" },
    };
    for (const auto& [url, status, ratio] : ends) {
        SCOPED_TRACE(url);
        const auto& statuses = view.rows.at(RowOf(url)).statuses;
        ASSERT_EQ(statuses.size(), 1u);
        EXPECT_EQ(statuses[0].first.rfind(status, 0), 0u) << statuses[0].first;
        EXPECT_EQ(statuses[0].second, ratio) << "the final status was shown before the final count";
    }
    // One record per kilobyte would update the cell once per block; the
    // records merged while queued update it a bounded number of times.
    EXPECT_LT(view.rows.at(RowOf(whole)).ratios.size(), big / CInternetFileProcessor::kBlockSize / 4);
    EXPECT_GE(view.rows.at(RowOf(slow)).ratios.size(), 3u) << "the count was shown only when the job ended";
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "whole.bin", big, 12), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "chunked.bin", 300000, 13), "");
    EXPECT_EQ(dialog.m_results.at(whole), SaveResultComplete);
    EXPECT_EQ(dialog.m_results.at(cut), SaveResultPartial);
}

TEST_F(SavingUrlsDialogTest, ClosingDuringAFloodOfProgressLeavesNoLateCallsAndNoQueuedRecords)
{
    // Closed while a fast download floods progress: the records and the
    // drain still armed for them die with this showing (the sanitizer
    // build's leak checker sees records that are not freed).
    const std::size_t size = 64u * 1024 * 1024;
    const std::string url = Url("/gen/" + std::to_string(size) + "/16/flood.bin");
    dialog.m_urls = { url };
    auto& view = Attach(std::make_unique<StatusOrderView>());
    view.closeWhen = [](Dialog& d) { return d.RowBytes(0) >= 200000; };
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    // Whatever was posted for the closed showing would run now.
    ui::MessageLoop::Current().RunUntil([] { return false; }, 3 * Dialog::kProgressDelay + 50ms);
    EXPECT_EQ(view.callsAfterClose, 0);
    EXPECT_EQ(dialog.m_results.at(url), SaveResultPartial);
    for (const auto& shown : view.rows.at(0).statuses)
        EXPECT_NE(shown.first, "Completed");
    const auto sizeOnDisk = fs::file_size(root / "flood.bin");
    EXPECT_GE(sizeOnDisk, 200000u);
    EXPECT_LT(sizeOnDisk, size);
    EXPECT_EQ(testsupport::ReadFileBytes(root / "flood.bin"), testsupport::GeneratedBytes(sizeOnDisk, 16));
}

} // namespace
