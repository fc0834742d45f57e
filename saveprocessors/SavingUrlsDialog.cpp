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
            auto record = std::make_unique<SaveEventRecord>();
            record->kind = SaveEventKind::Finished;
            record->processor = processor;
            Post(std::move(record));
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
    // 3. Records that did not get handled are freed here.
    std::deque<std::unique_ptr<SaveEventRecord>> unhandled;
    if (m_events) {
        std::lock_guard lock(m_events->mutex);
        m_events->closed = true;
        unhandled.swap(m_events->records);
    }
    unhandled.clear();
    if (m_view)
        m_view->Closed();
}

void CSavingUrlsDialog::Post(std::unique_ptr<SaveEventRecord> record)
{
    const std::shared_ptr<EventQueue> queue = m_events;
    if (!queue)
        return;
    bool postDrain = false;
    {
        std::lock_guard lock(queue->mutex);
        if (queue->closed)
            return;
        queue->records.push_back(std::move(record));
        postDrain = !std::exchange(queue->drainPosted, true);
    }
    // One drain message handles every record queued until it runs, so a
    // flood of progress records costs one message per batch.
    if (postDrain) {
        std::weak_ptr<EventQueue> weak = queue;
        m_loop->Post([this, weak] {
            if (auto alive = weak.lock())
                DrainEvents();
        });
    }
}

void CSavingUrlsDialog::DrainEvents()
{
    std::deque<std::unique_ptr<SaveEventRecord>> batch;
    {
        std::lock_guard lock(m_events->mutex);
        batch.swap(m_events->records);
        m_events->drainPosted = false;
    }
    for (std::unique_ptr<SaveEventRecord>& record : batch) {
        HandleEvent(*record);
        record.reset();
    }
    if (m_view)
        m_view->EventsHandled();
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
    auto record = std::make_unique<SaveEventRecord>();
    record->kind = SaveEventKind::Progress;
    record->count = bytes;
    record->processor = processor;
    Post(std::move(record));
}

void CSavingUrlsDialog::OnCompleted(CSaveProcessor2* processor)
{
    auto record = std::make_unique<SaveEventRecord>();
    record->kind = SaveEventKind::Completed;
    record->processor = processor;
    Post(std::move(record));
}

void CSavingUrlsDialog::OnError(CSaveProcessor2* processor, std::string_view message)
{
    auto record = std::make_unique<SaveEventRecord>();
    record->kind = SaveEventKind::Error;
    record->text = message;
    record->processor = processor;
    Post(std::move(record));
}

void CSavingUrlsDialog::OnStarted(CSaveProcessor2* processor, std::string_view targetPath)
{
    if (processor == m_starting && m_loop && m_loop->IsLoopThread())
        m_startingStarted = true;
    auto record = std::make_unique<SaveEventRecord>();
    record->kind = SaveEventKind::Started;
    record->text = targetPath;
    record->processor = processor;
    Post(std::move(record));
}

void CSavingUrlsDialog::OnFinished(CSaveProcessor2* processor)
{
    auto record = std::make_unique<SaveEventRecord>();
    record->kind = SaveEventKind::Finished;
    record->processor = processor;
    Post(std::move(record));
}

} // namespace QVSaveProcessors
