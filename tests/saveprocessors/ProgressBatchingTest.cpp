// Downloads write their kilobyte blocks in batches and the progress dialog
// merges progress records still queued for a row. Neither may change what
// anyone sees: progress never counts a byte that is not in the file, every
// byte received ends up in the file (also when the job is stopped or the
// transfer breaks off), failures come after the progress before them, a
// running download still shows its count while it runs, and a row shows
// its final count before its final status.
#include "platform/inet/InternetSession.h"
#include "platform/ui/MessageLoop.h"
#include "platform/ui/ScriptedView.h"
#include "saveprocessors/InternetFileProcessor.h"
#include "saveprocessors/SavingUrlsDialog.h"
#include "saveprocessors/ScriptedSavingUrlsView.h"
#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace QVSaveProcessors;

namespace {

namespace fs = std::filesystem;

// Checks, on the worker thread at the moment of each report, that the
// target file already holds every byte counted so far.
class FileCheckingEvents final : public CSaveProcessor2Events {
public:
    explicit FileCheckingEvents(fs::path target) : m_target(std::move(target)) { }

    void OnProgress(CSaveProcessor2*, std::uint32_t bytes) override
    {
        std::lock_guard lock(m_mutex);
        m_counted += bytes;
        ++m_blocks;
        if (bytes == 0 || bytes > CInternetFileProcessor::kBlockSize)
            m_faults.push_back("block of " + std::to_string(bytes) + " bytes");
        if (m_afterEnd)
            m_faults.push_back("progress after " + m_endEvent);
        if (const std::uint64_t size = FileSize(); size < m_counted)
            m_faults.push_back("counted " + std::to_string(m_counted) + " with " + std::to_string(size) + " in the file");
        m_changed.notify_all();
    }
    void OnCompleted(CSaveProcessor2*) override { End("completed"); }
    void OnError(CSaveProcessor2*, std::string_view message) override { End("error " + std::string(message)); }
    void OnFinished(CSaveProcessor2*) override
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

    bool WaitFinished(std::chrono::seconds timeout = 60s)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_finished; });
    }
    // True once `bytes` were counted while the job had not ended yet.
    bool WaitCountedWhileRunning(std::uint64_t bytes, std::chrono::seconds timeout = 30s)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return m_counted >= bytes || m_afterEnd || m_finished; });
        return m_counted >= bytes && !m_afterEnd && !m_finished;
    }

    std::vector<std::string> Faults() const { std::lock_guard lock(m_mutex); return m_faults; }
    std::vector<std::string> Ends() const { std::lock_guard lock(m_mutex); return m_ends; }
    std::uint64_t Counted() const { std::lock_guard lock(m_mutex); return m_counted; }
    std::uint64_t Blocks() const { std::lock_guard lock(m_mutex); return m_blocks; }
    // File size when the first completion or error was reported.
    std::uint64_t SizeAtEnd() const { std::lock_guard lock(m_mutex); return m_sizeAtEnd; }

private:
    std::uint64_t FileSize() const
    {
        std::error_code error;
        const auto size = fs::file_size(m_target, error);
        return error ? 0 : size;
    }
    void End(const std::string& what)
    {
        std::lock_guard lock(m_mutex);
        m_ends.push_back(what);
        if (!m_afterEnd) {
            m_afterEnd = true;
            m_endEvent = what;
            m_sizeAtEnd = FileSize();
        }
        m_changed.notify_all();
    }

    const fs::path m_target;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_counted = 0;
    std::uint64_t m_blocks = 0;
    std::vector<std::string> m_faults;
    std::vector<std::string> m_ends;
    bool m_afterEnd = false;
    std::string m_endEvent;
    std::uint64_t m_sizeAtEnd = 0;
    bool m_finished = false;
};

class ProgressBatchingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedLimits = inet::DefaultTransferLimits();
        inet::TransferLimits limits;
        limits.connectTimeout = 5s;
        limits.idleTimeout = 20s; // a stalled transfer outlasts each test
        inet::SetDefaultTransferLimits(limits);
        server = testsupport::StartHttpTestServer();
    }
    void TearDown() override { inet::SetDefaultTransferLimits(m_savedLimits); }

    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }

    std::unique_ptr<testsupport::PythonServer> server;
    testsupport::TempDir dir;

private:
    inet::TransferLimits m_savedLimits;
};

// The first `length` bytes of a generated resource (byte i does not depend
// on the resource's size).
std::vector<std::uint8_t> Prefix(std::uint32_t seed, std::size_t length)
{
    return testsupport::GeneratedBytes(length, seed);
}

TEST_F(ProgressBatchingTest, ProgressNeverCountsABlockBeforeItIsInTheFileAndCompletionFindsTheFileWhole)
{
    struct Case {
        std::string path;
        std::size_t size;
        std::uint32_t seed;
    };
    const std::vector<Case> cases = {
        { "/gen/3000000/5/a.bin", 3000000, 5 },      // larger than many batches
        { "/chunked/200003/6/b.bin", 200003, 6 },    // chunk edges inside batches
        { "/nolength/70001/7/c.bin", 70001, 7 },     // the end is the close
        { "/gen/1500/8/d.bin", 1500, 8 },            // smaller than one batch
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const fs::path target = dir / ("out" + std::to_string(c.seed));
        FileCheckingEvents events(target);
        CInternetFileProcessor processor;
        processor.SetEvents(&events);
        processor.Start(Url(c.path), target.string(), false);
        ASSERT_TRUE(events.WaitFinished());
        processor.WaitForWorker();
        EXPECT_EQ(events.Faults(), std::vector<std::string> {});
        EXPECT_EQ(events.Ends(), std::vector<std::string> { "completed" });
        EXPECT_EQ(events.Counted(), c.size);
        EXPECT_GE(events.Blocks(), (c.size + CInternetFileProcessor::kBlockSize - 1) / CInternetFileProcessor::kBlockSize)
            << "fewer progress events than kilobyte blocks";
        EXPECT_EQ(events.SizeAtEnd(), c.size) << "completion reported before the last batch was written";
        EXPECT_EQ(testsupport::CompareWithGenerated(target, c.size, c.seed), "");
        EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateCompleted);
    }
}

TEST_F(ProgressBatchingTest, BrokenTransferWritesAndCountsEveryBlockBeforeItsError)
{
    // 150,000 of the 200,000 announced bytes arrive, then the connection
    // closes: the blocks still gathered for a batch go to the file and are
    // counted before the error is reported.
    const fs::path target = dir / "cut.bin";
    FileCheckingEvents events(target);
    CInternetFileProcessor processor;
    processor.SetEvents(&events);
    processor.Start(Url("/cut/200000/9/150000/cut.bin"), target.string(), false);
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(events.Faults(), std::vector<std::string> {});
    ASSERT_EQ(events.Ends().size(), 1u);
    EXPECT_EQ(events.Ends()[0].rfind("error Download incomplete: ", 0), 0u) << events.Ends()[0];
    EXPECT_EQ(events.Counted(), 150000u);
    EXPECT_EQ(events.SizeAtEnd(), 150000u) << "the error came before the received bytes were written";
    EXPECT_EQ(testsupport::ReadFileBytes(target), Prefix(9, 150000));
    EXPECT_EQ(processor.GetState(), CSaveProcessor2::StateReceiving);
}

TEST_F(ProgressBatchingTest, StalledTransferShowsEveryByteThatArrivedWhileItWaits)
{
    // The server sends 100,000 bytes and then nothing: blocks must not wait
    // in memory for a batch to fill while the network is silent.
    const fs::path target = dir / "stall.bin";
    FileCheckingEvents events(target);
    CInternetFileProcessor processor;
    processor.SetEvents(&events);
    processor.Start(Url("/stall/300000/10/100000/stall.bin"), target.string(), false);
    EXPECT_TRUE(events.WaitCountedWhileRunning(100000)) << "counted " << events.Counted();
    EXPECT_EQ(fs::file_size(target), 100000u);
    EXPECT_EQ(processor.GetBytesReceived(), 100000u);
    processor.Stop();
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(events.Faults(), std::vector<std::string> {});
    EXPECT_EQ(events.Ends(), std::vector<std::string> {}) << "a stop is neither an error nor a completion";
    EXPECT_EQ(testsupport::ReadFileBytes(target), Prefix(10, 100000));
}

TEST_F(ProgressBatchingTest, StopInAFastTransferKeepsTheFileAndTheCountEqual)
{
    // Stopped while blocks are gathered for a batch: they are written and
    // counted as the job ends, so the file holds exactly the bytes counted.
    const std::size_t size = 64u * 1024 * 1024;
    const fs::path target = dir / "big.bin";
    FileCheckingEvents events(target);
    CInternetFileProcessor processor;
    processor.SetEvents(&events);
    processor.Start(Url("/gen/" + std::to_string(size) + "/11/big.bin"), target.string(), false);
    ASSERT_TRUE(events.WaitCountedWhileRunning(300000));
    processor.Stop();
    ASSERT_TRUE(events.WaitFinished());
    processor.WaitForWorker();
    EXPECT_EQ(events.Faults(), std::vector<std::string> {});
    const std::uint64_t counted = events.Counted();
    EXPECT_EQ(processor.GetBytesReceived(), counted);
    ASSERT_LT(counted, size) << "the stop came too late to test anything";
    EXPECT_EQ(fs::file_size(target), counted);
    EXPECT_EQ(testsupport::ReadFileBytes(target), Prefix(11, static_cast<std::size_t>(counted)));
}

// Records, for each status a row shows, the count the row showed then, and
// how often the count changed; closes the dialog once every row finished.
class StatusOrderView final : public ISavingUrlsView {
public:
    struct Shown {
        std::string status;
        std::string ratio;
    };

    void Opened(CSavingUrlsDialog& dialog) override
    {
        m_dialog = &dialog;
        m_deadline = ui::MessageLoop::Current().PostDelayed([this] {
            m_deadline = 0;
            if (m_dialog)
                m_dialog->PostClose();
        }, 60s);
    }
    void RowInserted(std::size_t row) override
    {
        if (m_rows.size() <= row)
            m_rows.resize(row + 1);
    }
    void CellChanged(std::size_t row, int column) override
    {
        if (m_closed)
            ++m_callsAfterClose;
        const auto& text = [&](int c) { return m_dialog->CellText(row, c); };
        if (column == CSavingUrlsDialog::ColumnStatus)
            m_rows[row].statuses.push_back({ text(CSavingUrlsDialog::ColumnStatus), text(CSavingUrlsDialog::ColumnRatio) });
        if (column == CSavingUrlsDialog::ColumnRatio)
            m_rows[row].ratios.push_back(text(CSavingUrlsDialog::ColumnRatio));
    }
    void RowFinished(std::size_t) override
    {
        if (m_closed)
            ++m_callsAfterClose;
    }
    void EventsHandled() override
    {
        if (m_closed) {
            ++m_callsAfterClose;
            return;
        }
        if (closeEarly && closeEarly(*m_dialog) && !m_closing) {
            m_closing = true;
            m_dialog->PostCommand(ui::IDOK);
        }
        if (m_dialog->AllRowsFinished() && !m_closing) {
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

    struct Row {
        std::vector<Shown> statuses;
        std::vector<std::string> ratios;
    };
    std::vector<Row> m_rows;
    int m_callsAfterClose = 0;
    std::function<bool(CSavingUrlsDialog&)> closeEarly;

private:
    CSavingUrlsDialog* m_dialog = nullptr;
    ui::MessageLoop::TimerId m_deadline = 0;
    bool m_closing = false;
    bool m_closed = false;
};

class ProgressBatchingDialogTest : public ProgressBatchingTest {
protected:
    void SetUp() override
    {
        ProgressBatchingTest::SetUp();
        // The window stays up; the list view decides when to close.
        m_window = std::make_shared<ui::ScriptedView>();
        m_window->OnDialog("saving", [](ui::Dialog&) { });
        ui::SetActiveView(m_window);
    }
    void TearDown() override
    {
        ui::SetActiveView(nullptr);
        ProgressBatchingTest::TearDown();
    }

    std::size_t RowOf(const std::string& url) const
    {
        return static_cast<std::size_t>(std::distance(dialog.m_urls.begin(), dialog.m_urls.find(url)));
    }

    testsupport::TempDir root;
    CSavingUrlsDialog dialog;

private:
    std::shared_ptr<ui::ScriptedView> m_window;
};

TEST_F(ProgressBatchingDialogTest, EachRowShowsItsFinalCountBeforeItsFinalStatusAndMergesProgress)
{
    const std::size_t big = 8u * 1024 * 1024;
    const std::string whole = Url("/gen/" + std::to_string(big) + "/12/whole.bin");
    const std::string chunked = Url("/chunked/300000/13/chunked.bin");
    const std::string cut = Url("/cut/200000/14/120000/cut.bin");
    dialog.m_urls = { whole, chunked, cut };
    dialog.m_rootFolder = root.path().string();
    auto owned = std::make_unique<StatusOrderView>();
    StatusOrderView& view = *owned;
    dialog.SetView(std::move(owned));
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);

    const auto& wholeRow = view.m_rows.at(RowOf(whole));
    ASSERT_EQ(wholeRow.statuses.size(), 1u);
    EXPECT_EQ(wholeRow.statuses[0].status, "Completed");
    EXPECT_EQ(wholeRow.statuses[0].ratio, std::to_string(big) + " B") << "completion shown before the final count";
    // One record per kilobyte would update the cell once per block; the
    // records merged while queued update it a bounded number of times.
    EXPECT_LT(wholeRow.ratios.size(), big / CInternetFileProcessor::kBlockSize / 4);

    const auto& chunkedRow = view.m_rows.at(RowOf(chunked));
    ASSERT_EQ(chunkedRow.statuses.size(), 1u);
    EXPECT_EQ(chunkedRow.statuses[0].status, "Completed");
    EXPECT_EQ(chunkedRow.statuses[0].ratio, "300000 B");

    const auto& cutRow = view.m_rows.at(RowOf(cut));
    ASSERT_EQ(cutRow.statuses.size(), 1u);
    EXPECT_EQ(cutRow.statuses[0].status.rfind("Error: Download incomplete: ", 0), 0u) << cutRow.statuses[0].status;
    EXPECT_EQ(cutRow.statuses[0].ratio, "120000 B") << "the error was shown before the bytes received";

    EXPECT_EQ(testsupport::CompareWithGenerated(root / "whole.bin", big, 12), "");
    EXPECT_EQ(testsupport::CompareWithGenerated(root / "chunked.bin", 300000, 13), "");
    EXPECT_EQ(dialog.m_results.at(whole), SaveResultComplete);
    EXPECT_EQ(dialog.m_results.at(cut), SaveResultPartial);
}

TEST_F(ProgressBatchingDialogTest, RunningDownloadShowsItsCountBeforeItEnds)
{
    // Progress alone (no start, error or completion in between) must still
    // reach the list while the job runs: 1 KiB every 100 ms for 2 s.
    const std::string url = Url("/slow/20480/15/1024/100/slow.bin");
    dialog.m_urls = { url };
    dialog.m_rootFolder = root.path().string();
    auto owned = std::make_unique<ScriptedSavingUrlsView>();
    ScriptedSavingUrlsView& view = *owned;
    view.CloseWhenAllFinished();
    dialog.SetView(std::move(owned));
    dialog.DoModal();
    ASSERT_FALSE(view.DeadlinePassed());
    const auto ratios = view.CellHistory(0, CSavingUrlsDialog::ColumnRatio);
    ASSERT_FALSE(ratios.empty());
    EXPECT_EQ(ratios.back(), "20480 B");
    EXPECT_GE(ratios.size(), 3u) << "the count was shown only when the job ended";
    EXPECT_EQ(view.Cell(0, CSavingUrlsDialog::ColumnStatus), "Completed");
}

TEST_F(ProgressBatchingDialogTest, ClosingWithProgressStillQueuedLeavesNoLateCallsToTheView)
{
    // Closed while a fast download floods progress: the records and the
    // drain still armed for them die with this showing.
    const std::size_t size = 64u * 1024 * 1024;
    const std::string url = Url("/gen/" + std::to_string(size) + "/16/flood.bin");
    dialog.m_urls = { url };
    dialog.m_rootFolder = root.path().string();
    auto owned = std::make_unique<StatusOrderView>();
    StatusOrderView& view = *owned;
    view.closeEarly = [](CSavingUrlsDialog& d) { return d.RowBytes(0) >= 200000; };
    dialog.SetView(std::move(owned));
    EXPECT_EQ(dialog.DoModal(), ui::IDOK);
    // Whatever was posted for the closed showing would run now.
    ui::MessageLoop::Current().RunUntil([] { return false; }, 3 * CSavingUrlsDialog::kProgressDelay + 50ms);
    EXPECT_EQ(view.m_callsAfterClose, 0);
    EXPECT_EQ(dialog.m_results.at(url), SaveResultPartial);
    const auto sizeOnDisk = fs::file_size(root / "flood.bin");
    EXPECT_GE(sizeOnDisk, 200000u);
    EXPECT_LT(sizeOnDisk, size);
    EXPECT_EQ(testsupport::ReadFileBytes(root / "flood.bin"), Prefix(16, static_cast<std::size_t>(sizeOnDisk)));
}

} // namespace
