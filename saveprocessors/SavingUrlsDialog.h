#pragma once
// The progress dialog of one download batch ("Saving files..."): one row per
// URL, one save processor per row whose scheme can be handled, all started
// at once when the dialog opens. Closing it stops every job still running,
// records a save result per URL and waits for every worker.
//
//   CSavingUrlsDialog dialog;
//   dialog.m_urls = urls;
//   dialog.m_rootFolder = folder;
//   int how = dialog.DoModal();       // 1: "Close" button, 2: window closed
//   results = dialog.m_results;       // URL -> SaveResult
//
// Workers report through CSaveProcessor2Events: each event becomes a record
// queued for the dialog's thread, where it changes the row's texts. A
// download reports every block; its progress records are merged while one
// is still queued for the same job (the row shows the job's total anyway)
// and handed over at most every kProgressDelay, while every other event
// (start, error, completion, end) is handed over at once, after the
// progress queued before it. Records still queued when the dialog closes
// are dropped unhandled.
//
// Thread: UI only (the thread of DoModal), except the CSaveProcessor2Events
// overrides, which any thread may call.
#include "platform/ui/Dialog.h"
#include "saveprocessors/SaveEventRecord.h"
#include "saveprocessors/SaveProcessor2.h"
#include "saveprocessors/SaveProcessor2Events.h"
#include "saveprocessors/SavingUrlsView.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace QVSaveProcessors {

// What a download batch achieved for one URL.
enum SaveResult : std::int32_t {
    SaveResultNone = 0,     // nothing saved: no processor, or the job never wrote
    SaveResultPartial = 1,  // the job wrote data but did not complete
    SaveResultComplete = 2, // the whole resource was saved
};

class CSavingUrlsDialog final : public ui::Dialog, public CSaveProcessor2Events {
public:
    enum Column : int {
        ColumnFile = 0,     // "URL analyse..." until the target file exists, then its path
        ColumnUrl = 1,
        ColumnProtocol = 2, // the scheme as written in the URL
        ColumnRatio = 3,    // "%d B" received so far
        ColumnStatus = 4,   // "Downloading", "Completed" or "Error: " + message
        ColumnCount = 5,
    };
    static constexpr std::array<std::string_view, ColumnCount> kColumnTitles {
        "File", "Url", "Protocol", "Ratio", "Status"
    };
    static constexpr std::string_view kCaption = "Saving files...";
    // Longest time a progress record waits for the dialog's thread.
    static constexpr std::chrono::milliseconds kProgressDelay { 20 };

    CSavingUrlsDialog();
    ~CSavingUrlsDialog() override;

    std::string_view Name() const override { return "saving"; }

    // Given before DoModal: the URLs (each once, in byte order) and the
    // folder every file goes into.
    std::set<std::string> m_urls;
    std::string m_rootFolder;
    // Filled while the dialog runs and when it closes.
    std::map<std::string, std::int32_t> m_results;

    // The view for the next showing, instead of the installed factory's.
    void SetView(std::unique_ptr<ISavingUrlsView> view) { m_view = std::move(view); }

    // The list, for views.
    [[nodiscard]] std::size_t RowCount() const { return m_rows.size(); }
    [[nodiscard]] const std::string& CellText(std::size_t row, int column) const;
    [[nodiscard]] bool IsRowFinished(std::size_t row) const { return m_rows.at(row).finished; }
    [[nodiscard]] bool AllRowsFinished() const { return m_finishedRows == m_rows.size(); }
    // Bytes received by the row's job so far (0 without one).
    [[nodiscard]] std::uint64_t RowBytes(std::size_t row) const;

    // CSaveProcessor2Events. Thread: any; each only queues a record.
    void OnProgress(CSaveProcessor2* processor, std::uint32_t bytes) override;
    void OnCompleted(CSaveProcessor2* processor) override;
    void OnError(CSaveProcessor2* processor, std::string_view message) override;
    void OnStarted(CSaveProcessor2* processor, std::string_view targetPath) override;
    void OnFinished(CSaveProcessor2* processor) override;

protected:
    void OnInitDialog() override;
    void OnCommand(int id) override;
    void OnDestroy() override;

private:
    struct Row {
        std::array<std::string, ColumnCount> cells;
        std::unique_ptr<CSaveProcessor2> processor; // null: no processor for the scheme
        bool finished = false;
    };

    // Records on their way to the dialog's thread. Shared with the posted
    // drain messages so that a message outliving the dialog finds it gone.
    // Invariant: records is not empty only while a drain is posted or armed.
    struct EventQueue {
        std::mutex mutex;
        std::vector<SaveEventRecord> records;
        // Per job, the index in `records` of its progress record while no
        // other record of the job follows it.
        std::unordered_map<const CSaveProcessor2*, std::size_t> queuedProgress;
        bool drainPosted = false;     // an immediate drain is queued
        ui::MessageLoop::TimerId drainTimer = 0; // a delayed drain is armed
        bool closed = false;
    };

    void Post(SaveEventRecord record);
    void DrainEvents();
    void DrainEventsLater();
    void HandleEvent(const SaveEventRecord& record);
    void SetCell(std::size_t row, int column, std::string text);
    void MarkFinished(std::size_t row);
    [[nodiscard]] std::unique_ptr<CSaveProcessor2> CreateProcessor(std::string_view schemeName, std::int32_t schemeNumber);

    std::vector<Row> m_rows;
    std::unordered_map<const CSaveProcessor2*, std::size_t> m_rowOf;
    std::size_t m_finishedRows = 0;
    std::unique_ptr<ISavingUrlsView> m_view;
    std::shared_ptr<EventQueue> m_events;
    // Storage of the last handled batch, swapped into the queue by the next
    // drain so that neither side allocates once both have grown.
    std::vector<SaveEventRecord> m_spareRecords;
    std::shared_ptr<ui::MessageLoop> m_loop;
    // The processor being started by OnInitDialog, and whether it got as far
    // as creating its file (OnStarted on this thread).
    const CSaveProcessor2* m_starting = nullptr;
    bool m_startingStarted = false;
};

} // namespace QVSaveProcessors
