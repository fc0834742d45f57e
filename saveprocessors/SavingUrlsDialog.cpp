#include "saveprocessors/SavingUrlsDialog.h"

#include "saveprocessors/InternetFileProcessor.h"
#include "saveprocessors/MMSFileProcessor.h"
#include "saveprocessors/UrlParts.h"

#include <utility>

namespace QVSaveProcessors {

namespace {

constexpr std::string_view kAnalysing = "URL analyse...";
constexpr std::string_view kDownloading = "Downloading";
constexpr std::string_view kCompleted = "Completed";
constexpr std::string_view kErrorPrefix = "Error: ";

const std::string kNoText;

std::int32_t ResultOf(CSaveProcessor2::JobState state)
{
    switch (state) {
    case CSaveProcessor2::StateCompleted: return SaveResultComplete;
    case CSaveProcessor2::StateReceiving: return SaveResultPartial;
    case CSaveProcessor2::StatePending: return SaveResultNone;
    }
    return SaveResultNone;
}

SaveEventRecord Record(SaveEventKind kind, CSaveProcessor2* processor, std::uint32_t count = 0,
                       std::string_view text = {})
{
    SaveEventRecord record;
    record.count = count;
    record.text = text;
    record.kind = kind;
    record.processor = processor;
    return record;
}

} // namespace

CSavingUrlsDialog::CSavingUrlsDialog() = default;

// Jobs live only between opening and closing (OnDestroy awaits them), so
// there is nothing left to stop here.
CSavingUrlsDialog::~CSavingUrlsDialog() = default;

const std::string& CSavingUrlsDialog::CellText(std::size_t row, int column) const
{
    if (row >= m_rows.size() || column < 0 || column >= ColumnCount)
        return kNoText;
    return m_rows[row].cells[static_cast<std::size_t>(column)];
}

std::uint64_t CSavingUrlsDialog::RowBytes(std::size_t row) const
{
    if (row >= m_rows.size() || !m_rows[row].processor)
        return 0;
    return m_rows[row].processor->GetBytesReceived();
}

std::unique_ptr<CSaveProcessor2> CSavingUrlsDialog::CreateProcessor(std::string_view schemeName,
                                                                    std::int32_t schemeNumber)
{
    if (schemeNumber >= 0)
        return std::make_unique<CInternetFileProcessor>();
    // Letter case counts here: "MMS://" gets no processor.
    if (schemeName == "mms")
        return std::make_unique<CMMSFileProcessor>();
    return nullptr;
}

void CSavingUrlsDialog::OnInitDialog()
{
    m_loop = ui::MessageLoop::CurrentRef();
    m_events = std::make_shared<EventQueue>();
    m_rows.clear();
    m_rowOf.clear();
    m_finishedRows = 0;
    if (!m_view)
        m_view = CreateSavingUrlsView();
    if (m_view)
        m_view->Opened(*this);

    // One row per URL in byte order; every job starts now, each naming its
    // file before the next name is chosen, so names in one batch never
    // collide.
    for (const std::string& url : m_urls) {
        const UrlParts parts = SplitUrlOrEmpty(url, true);
        const std::size_t n = m_rows.size();
        Row row;
        row.cells = { std::string(kAnalysing), url, parts.schemeName, std::string(), std::string(kDownloading) };
        row.processor = CreateProcessor(parts.schemeName, parts.schemeNumber);
        CSaveProcessor2* processor = row.processor.get();
        m_rows.push_back(std::move(row));
        if (m_view)
            m_view->RowInserted(n);

        if (!processor) {
            m_results.emplace(url, SaveResultNone);
            // Nothing will ever happen to this row: say so instead of
            // showing a download that never runs.
            SetCell(n, ColumnStatus,
                    std::string(kErrorPrefix) + "(" + url + ") URL scheme don't detected, file can't be saved");
            MarkFinished(n);
            continue;
        }
        m_rowOf[processor] = n;
        processor->SetEvents(this);
        m_starting = processor;
        m_startingStarted = false;
        processor->SaveToFolder(url, m_rootFolder, false);
        m_starting = nullptr;
        if (!m_startingStarted) {
            // No file, no worker: its error is queued and this is its end.
            Post(Record(SaveEventKind::Finished, processor));
        }
    }
    if (m_view)
        m_view->EventsHandled();
}

void CSavingUrlsDialog::OnCommand(int id)
{
    if (id == ui::IDOK)
        EndDialog(ui::IDOK);
    else if (id == ui::IDCANCEL)
        EndDialog(ui::IDCANCEL);
}

void CSavingUrlsDialog::OnDestroy()
{
    // 1. Stop every job and record what it achieved at this moment. A job
    // that completes in the instant between is recorded as partial: never
    // the other way round.
    for (Row& row : m_rows) {
        if (!row.processor)
            continue;
        row.processor->Stop();
        m_results.emplace(row.cells[ColumnUrl], ResultOf(row.processor->GetState()));
    }
    // 2. Await every worker; a stopped one ends at its next checkpoint or
    // as soon as its network wait sees the stop.
    for (Row& row : m_rows) {
        if (!row.processor)
            continue;
        row.processor->WaitForWorker();
        m_rowOf.erase(row.processor.get());
        row.processor.reset();
    }
    // 3. Records that did not get handled are dropped here, and a drain
    // still armed will not run for this showing.
    std::vector<SaveEventRecord> unhandled;
    ui::MessageLoop::TimerId timer = 0;
    if (m_events) {
        std::lock_guard lock(m_events->mutex);
        m_events->closed = true;
        unhandled.swap(m_events->records);
        m_events->queuedProgress.clear();
        timer = std::exchange(m_events->drainTimer, 0);
    }
    if (timer && m_loop)
        m_loop->CancelDelayed(timer);
    unhandled.clear();
    m_spareRecords = {};
    if (m_view)
        m_view->Closed();
}

void CSavingUrlsDialog::Post(SaveEventRecord record)
{
    const std::shared_ptr<EventQueue> queue = m_events;
    if (!queue)
        return;
    const std::weak_ptr<EventQueue> weak = queue;
    bool postNow = false;
    {
        std::lock_guard lock(queue->mutex);
        if (queue->closed)
            return;
        if (record.kind != SaveEventKind::Progress) {
            // A change of state: shown at once, after the job's progress.
            queue->queuedProgress.erase(record.processor);
            queue->records.push_back(std::move(record));
            postNow = !std::exchange(queue->drainPosted, true);
        } else if (const auto found = queue->queuedProgress.find(record.processor);
                   found != queue->queuedProgress.end()) {
            // A block of a download whose progress is still waiting.
            queue->records[found->second].count += record.count;
        } else {
            queue->queuedProgress.emplace(record.processor, queue->records.size());
            queue->records.push_back(std::move(record));
            if (!queue->drainPosted && queue->drainTimer == 0) {
                // One wake-up of the dialog's thread per interval, however
                // many blocks arrive. Armed under the lock: the drain, which
                // takes it too, cannot clear the id before it is stored.
                queue->drainTimer = m_loop->PostDelayed(
                    [this, weak] {
                        if (auto alive = weak.lock())
                            DrainEventsLater();
                    },
                    kProgressDelay);
            }
        }
    }
    if (postNow) {
        m_loop->Post([this, weak] {
            if (auto alive = weak.lock())
                DrainEvents();
        });
    }
}

void CSavingUrlsDialog::DrainEventsLater()
{
    {
        std::lock_guard lock(m_events->mutex);
        m_events->drainTimer = 0;
    }
    DrainEvents();
}

void CSavingUrlsDialog::DrainEvents()
{
    // A local batch: a view may run a nested loop that drains again.
    std::vector<SaveEventRecord> batch = std::move(m_spareRecords);
    batch.clear();
    {
        std::lock_guard lock(m_events->mutex);
        batch.swap(m_events->records);
        m_events->queuedProgress.clear();
        m_events->drainPosted = false;
    }
    if (!batch.empty()) {
        for (const SaveEventRecord& record : batch)
            HandleEvent(record);
        if (m_view)
            m_view->EventsHandled();
    }
    batch.clear();
    m_spareRecords = std::move(batch);
}

void CSavingUrlsDialog::HandleEvent(const SaveEventRecord& record)
{
    const auto found = m_rowOf.find(record.processor);
    if (found == m_rowOf.end())
        return;
    const std::size_t row = found->second;
    switch (record.kind) {
    case SaveEventKind::Progress:
        // The count shown is the job's total, not the record's block.
        SetCell(row, ColumnRatio, std::to_string(RowBytes(row)) + " B");
        break;
    case SaveEventKind::Completed:
        SetCell(row, ColumnStatus, std::string(kCompleted));
        break;
    case SaveEventKind::Started:
        SetCell(row, ColumnFile, record.text);
        break;
    case SaveEventKind::Error:
        SetCell(row, ColumnStatus, std::string(kErrorPrefix) + record.text);
        break;
    case SaveEventKind::Finished:
        MarkFinished(row);
        break;
    }
}

void CSavingUrlsDialog::SetCell(std::size_t row, int column, std::string text)
{
    std::string& cell = m_rows[row].cells[static_cast<std::size_t>(column)];
    if (cell == text)
        return;
    cell = std::move(text);
    if (m_view)
        m_view->CellChanged(row, column);
}

void CSavingUrlsDialog::MarkFinished(std::size_t row)
{
    if (m_rows[row].finished)
        return;
    m_rows[row].finished = true;
    ++m_finishedRows;
    if (m_view)
        m_view->RowFinished(row);
}

void CSavingUrlsDialog::OnProgress(CSaveProcessor2* processor, std::uint32_t bytes)
{
    Post(Record(SaveEventKind::Progress, processor, bytes));
}

void CSavingUrlsDialog::OnCompleted(CSaveProcessor2* processor)
{
    Post(Record(SaveEventKind::Completed, processor));
}

void CSavingUrlsDialog::OnError(CSaveProcessor2* processor, std::string_view message)
{
    Post(Record(SaveEventKind::Error, processor, 0, message));
}

void CSavingUrlsDialog::OnStarted(CSaveProcessor2* processor, std::string_view targetPath)
{
    if (processor == m_starting && m_loop && m_loop->IsLoopThread())
        m_startingStarted = true;
    Post(Record(SaveEventKind::Started, processor, 0, targetPath));
}

void CSavingUrlsDialog::OnFinished(CSaveProcessor2* processor)
{
    Post(Record(SaveEventKind::Finished, processor));
}

} // namespace QVSaveProcessors
