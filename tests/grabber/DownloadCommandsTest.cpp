// StartDownloading, CheckSavedUrl and LoadText over file URLs: the grabber
// hands its save set to the progress dialog and keeps what it reports.
#include "tests/grabber/GrabberFixture.h"

#include "saveprocessors/SavingUrlsDialog.h"

#include <fstream>

using namespace grabbertest;
namespace fs = std::filesystem;
using QVSaveProcessors::CSavingUrlsDialog;

namespace {

// Closes each progress dialog once every row has finished, and remembers
// the rows it was given.
struct BatchLog {
    std::vector<std::vector<std::string>> batches; // URLs per progress dialog
};

class ClosingView final : public QVSaveProcessors::ISavingUrlsView {
public:
    explicit ClosingView(std::shared_ptr<BatchLog> log) : m_log(std::move(log)) { }
    void Opened(CSavingUrlsDialog& dialog) override
    {
        m_dialog = &dialog;
        m_log->batches.emplace_back();
    }
    void RowInserted(std::size_t row) override
    {
        m_log->batches.back().push_back(m_dialog->CellText(row, CSavingUrlsDialog::ColumnUrl));
    }
    void CellChanged(std::size_t, int) override { }
    void RowFinished(std::size_t) override { }
    void EventsHandled() override
    {
        if (!m_closing && m_dialog->AllRowsFinished()) {
            m_closing = true;
            m_dialog->PostCommand(ui::IDOK);
        }
    }
    void Closed() override { }

private:
    std::shared_ptr<BatchLog> m_log;
    CSavingUrlsDialog* m_dialog = nullptr;
    bool m_closing = false;
};

class DownloadCommands : public GrabberTest {
protected:
    void SetUp() override
    {
        GrabberTest::SetUp();
        fs::create_directories(root);
        fs::create_directories(source);
        StoreRootFolder(root.string());
        QVSaveProcessors::SetSavingUrlsViewFactory([log = log] { return std::make_unique<ClosingView>(log); });
        // The list view closes the progress dialog; the scripted user must
        // not close it at once.
        view->OnDialog("saving", [](ui::Dialog&) { });
    }
    void TearDown() override
    {
        QVSaveProcessors::SetSavingUrlsViewFactory({});
        GrabberTest::TearDown();
    }

    std::string SourceFile(const std::string& name, const std::string& content)
    {
        std::ofstream(source / name, std::ios::binary) << content;
        return "file://" + (source / name).string();
    }

    static ULONG Check(ITovanix* object, const std::string& url)
    {
        ULONG state = 12345;
        EXPECT_EQ(object->CheckSavedUrl(Bstr(url).get(), &state), S_OK);
        return state;
    }

    static void SaveAll(ITovanix* object, std::initializer_list<std::string> urls)
    {
        for (const auto& url : urls) {
            LONG res = 1;
            EXPECT_EQ(object->Save(Bstr(url).get(), Bstr("img").get(), &res), S_OK);
        }
    }

    fs::path root = dir / "root";
    fs::path source = dir / "source";
    std::shared_ptr<BatchLog> log = std::make_shared<BatchLog>();
};

TEST_F(DownloadCommands, UrlSavedTwiceIsDownloadedOnceAndResultsOutliveTheNextGrab)
{
    auto object = NewObject();
    const std::string a = SourceFile("a.txt", "alpha");
    const std::string missing = "file://" + (source / "missing.txt").string();
    GrabWith(object, "http://first.test/", [&](ui::Dialog& d) {
        SaveAll(object.get(), { a, a, missing });
        EXPECT_EQ(object->StartDownloading(), S_OK);
        EXPECT_TRUE(Impl(object).SaveSet().empty()) << "the batch takes the save set";
        d.PostClose();
    });
    ASSERT_EQ(log->batches.size(), 1u);
    EXPECT_EQ(log->batches[0], (std::vector<std::string> { a, missing }));
    EXPECT_EQ(Check(object.get(), a), static_cast<ULONG>(QVSaveProcessors::SaveResultComplete));
    EXPECT_EQ(Check(object.get(), missing), static_cast<ULONG>(QVSaveProcessors::SaveResultNone));
    EXPECT_EQ(Check(object.get(), "file://never/saved"), 0u);
    EXPECT_TRUE(fs::exists(root / "a.txt"));

    // Another page, closed by the user: the first run's results stay.
    GrabWith(object, "http://second.test/", [](ui::Dialog& d) { d.PostClose(); });
    EXPECT_EQ(Check(object.get(), a), static_cast<ULONG>(QVSaveProcessors::SaveResultComplete));
}

TEST_F(DownloadCommands, EachBatchEvenAnEmptyOneShowsProgressAndReplacesTheResultsOfTheLast)
{
    auto object = NewObject();
    const std::string a = SourceFile("a.txt", "alpha");
    const std::string b = SourceFile("b.txt", "beta");
    ULONG aAfterSecond = 99, bAfterSecond = 99;
    GrabWith(object, "http://first.test/", [&](ui::Dialog& d) {
        SaveAll(object.get(), { a });
        object->StartDownloading();
        SaveAll(object.get(), { b });
        object->StartDownloading();
        aAfterSecond = Check(object.get(), a);
        bAfterSecond = Check(object.get(), b);
        object->StartDownloading();
        d.PostClose();
    });
    EXPECT_EQ(aAfterSecond, 0u) << "not part of the last run";
    EXPECT_EQ(bAfterSecond, static_cast<ULONG>(QVSaveProcessors::SaveResultComplete));
    ASSERT_EQ(log->batches.size(), 3u);
    EXPECT_TRUE(log->batches[2].empty());
    EXPECT_EQ(Check(object.get(), b), 0u) << "the empty run emptied the results";
}

TEST_F(DownloadCommands, LoadTextStopsAtTheFirstZeroByteAndGivesNullOnFailure)
{
    auto object = NewObject();
    const std::string text = SourceFile("t.css", std::string("body { content: \"h\xC3\xA9\" }\0after", 28));
    std::string loaded;
    BSTR failed = reinterpret_cast<BSTR>(0x1);
    HRESULT failedHr = E_FAIL;
    GrabWith(object, "http://first.test/", [&](ui::Dialog& d) {
        Bstr value;
        EXPECT_EQ(object->LoadText(Bstr(text).get(), value.Out()), S_OK);
        loaded = value.Utf8();
        failedHr = object->LoadText(Bstr("file://" + (source / "none").string()).get(), &failed);
        d.PostClose();
    });
    EXPECT_EQ(loaded, "body { content: \"h\xC3\xA9\" }");
    EXPECT_EQ(failedHr, S_OK);
    EXPECT_EQ(failed, nullptr);
}

} // namespace
