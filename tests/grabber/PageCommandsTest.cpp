// The page's commands: the save set, the result map, the downloads handed to
// the progress dialog, LoadText, saving edited text, the folder browser,
// the root folder setter and the XML DOM.
#include "tests/grabber/GrabberFixture.h"

#include "grabber/XmlDomObject.h"
#include "saveprocessors/SavingUrlsDialog.h"

using namespace grabbertest;
namespace fs = std::filesystem;
using QVSaveProcessors::CSavingUrlsDialog;

namespace {

// Records the URLs of each progress dialog and closes it once every row has finished.
class ClosingView final : public QVSaveProcessors::ISavingUrlsView {
public:
    explicit ClosingView(std::shared_ptr<std::vector<std::vector<std::string>>> batches) : m_batches(std::move(batches)) { }
    void Opened(CSavingUrlsDialog& dialog) override
    {
        m_dialog = &dialog;
        m_batches->emplace_back();
    }
    void RowInserted(std::size_t row) override
    {
        m_batches->back().push_back(m_dialog->CellText(row, CSavingUrlsDialog::ColumnUrl));
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
    std::shared_ptr<std::vector<std::vector<std::string>>> m_batches;
    CSavingUrlsDialog* m_dialog = nullptr;
    bool m_closing = false;
};

class PageCommands : public GrabberTest {
protected:
    void SetUp() override
    {
        GrabberTest::SetUp();
        fs::create_directories(root);
        fs::create_directories(source);
        StoreRootFolder(root.string());
        QVSaveProcessors::SetSavingUrlsViewFactory([b = batches] { return std::make_unique<ClosingView>(b); });
        // The list view closes the progress dialog, not the scripted user.
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
    static LONG SaveUrl(ITovanix* object, const std::string& url, HRESULT expect = S_OK)
    {
        LONG res = 77;
        EXPECT_EQ(object->Save(Bstr(url).get(), Bstr("img").get(), &res), expect) << url;
        return res;
    }

    fs::path root = dir / "root";
    fs::path source = dir / "source";
    std::shared_ptr<std::vector<std::vector<std::string>>> batches = std::make_shared<std::vector<std::vector<std::string>>>();
};

constexpr auto kComplete = static_cast<ULONG>(QVSaveProcessors::SaveResultComplete);

TEST_F(PageCommands, SaveSetKeepsEachUrlOnceInByteOrderCutAtANulAndOutlivesTheNextGrab)
{
    auto object = NewObject();
    InDialog(object, [&] {
        // Bytes above ASCII sort after 'z'; case-sensitive: 'Z' < 'z'.
        for (const char* url : { "http://b.test/z", "http://a.test/\xC3\xA9", "http://a.test/z", "http://a.test/Z",
                 "http://b.test/z", "http://a.test/z" })
            EXPECT_EQ(SaveUrl(object.get(), url), 0);
        const char16_t raw[] = u"http://a.test/x\0../../evil";
        BSTR url = SysAllocStringLen(raw, sizeof raw / sizeof raw[0] - 1);
        LONG res = 1;
        EXPECT_EQ(object->Save(url, nullptr, &res), S_OK);
        SysFreeString(url);
    });
    auto secondPage = Page("http://second.test/");
    InDialog(object, [] { }, secondPage);
    EXPECT_EQ(Impl(object).GrabDocument(), secondPage) << "the next grab replaces the document";
    const auto& set = Impl(object).SaveSet();
    EXPECT_EQ(std::vector<std::string>(set.begin(), set.end()), (std::vector<std::string> { "http://a.test/Z",
        "http://a.test/x", "http://a.test/z", "http://a.test/\xC3\xA9", "http://b.test/z" })) << "but not the save set";
}

TEST_F(PageCommands, ClosedDialogCommandsAnswerPendingAndLeaveOutputsAndFilesAlone)
{
    auto object = NewObject();
    const fs::path userFolder = dir / "data" / "Danwell" / "Tovanix";
    fs::create_directories(userFolder);
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        EXPECT_EQ(SaveUrl(object.get(), "http://a.test/", E_PENDING), 77);
        EXPECT_TRUE(Impl(object).SaveSet().empty());
        BSTR data = reinterpret_cast<BSTR>(0x1);
        for (LONG index : { 0, 1, 2, 3, 4 })
            EXPECT_EQ(object->GetData(index, &data), E_PENDING) << index;
        EXPECT_EQ(object->LoadText(nullptr, &data), E_PENDING);
        EXPECT_EQ(data, reinterpret_cast<BSTR>(0x1));
        EXPECT_EQ(object->SetData(0, Bstr("<lang/>").get()), E_PENDING);
        EXPECT_FALSE(fs::exists(userFolder / "lang.xml"));
        VARIANT_BOOL saved = 5;
        EXPECT_EQ(object->get_IsSaved(&saved), E_PENDING);
        EXPECT_EQ(saved, 5);
        EXPECT_EQ(object->ShowOptions(), E_PENDING);
        EXPECT_EQ(object->ShowAbout(), E_PENDING);
        EXPECT_EQ(object->ShowHelp(), E_PENDING);
        // The result map needs no dialog.
        EXPECT_EQ(Check(object.get(), "http://a.test/"), 0u);
        EXPECT_EQ(object->CheckSavedUrl(Bstr("http://a.test/").get(), nullptr), E_POINTER);
    };
    check("before any grab");
    VARIANT_BOOL saved = 5;
    InDialog(object, [&] { EXPECT_EQ(object->get_IsSaved(&saved), S_OK); });
    EXPECT_EQ(saved, VARIANT_FALSE) << "IsSaved is always false with the dialog open";
    check("after a grab ended");
}

TEST_F(PageCommands, UrlSavedTwiceIsDownloadedOnceAndResultsOutliveTheNextGrab)
{
    auto object = NewObject();
    const std::string a = SourceFile("a.txt", "alpha");
    const std::string missing = "file://" + (source / "missing.txt").string();
    InDialog(object, [&] {
        for (const auto& url : { a, a, missing })
            SaveUrl(object.get(), url);
        EXPECT_EQ(object->StartDownloading(), S_OK);
        EXPECT_TRUE(Impl(object).SaveSet().empty()) << "the batch takes the save set";
    });
    EXPECT_EQ(*batches, (std::vector<std::vector<std::string>> { { a, missing } }));
    EXPECT_EQ(Check(object.get(), missing), static_cast<ULONG>(QVSaveProcessors::SaveResultNone));
    EXPECT_EQ(Check(object.get(), "file://never/saved"), 0u);
    EXPECT_TRUE(fs::exists(root / "a.txt"));
    // Another page, closed by the user: the first run's results stay.
    InDialog(object, [] { }, Page("http://second.test/"));
    EXPECT_EQ(Check(object.get(), a), kComplete);
}

TEST_F(PageCommands, EachBatchEvenAnEmptyOneShowsProgressAndReplacesTheResultsOfTheLast)
{
    auto object = NewObject();
    const std::string a = SourceFile("a.txt", "alpha");
    const std::string b = SourceFile("b.txt", "beta");
    ULONG aAfterSecond = 99, bAfterSecond = 99;
    InDialog(object, [&] {
        SaveUrl(object.get(), a);
        object->StartDownloading();
        SaveUrl(object.get(), b);
        object->StartDownloading();
        aAfterSecond = Check(object.get(), a);
        bAfterSecond = Check(object.get(), b);
        object->StartDownloading();
    });
    EXPECT_EQ(aAfterSecond, 0u) << "not part of the last run";
    EXPECT_EQ(bAfterSecond, kComplete);
    EXPECT_EQ(*batches, (std::vector<std::vector<std::string>> { { a }, { b }, {} }));
    EXPECT_EQ(Check(object.get(), b), 0u) << "the empty run emptied the results";
}

TEST_F(PageCommands, LoadTextStopsAtTheFirstZeroByteAndGivesNullOnFailure)
{
    auto object = NewObject();
    const std::string text = SourceFile("t.css", std::string("body { content: \"h\xC3\xA9\" }\0after", 28));
    std::string loaded;
    BSTR failed = reinterpret_cast<BSTR>(0x1);
    HRESULT failedHr = E_FAIL;
    InDialog(object, [&] {
        Bstr value;
        EXPECT_EQ(object->LoadText(Bstr(text).get(), value.Out()), S_OK);
        loaded = value.Utf8();
        failedHr = object->LoadText(Bstr("file://" + (source / "none").string()).get(), &failed);
    });
    EXPECT_EQ(loaded, "body { content: \"h\xC3\xA9\" }");
    EXPECT_EQ(failedHr, S_OK);
    EXPECT_EQ(failed, nullptr);
}

TEST_F(PageCommands, SaveInplaceWritesUtf16NumbersTakenNamesCreatesNoFoldersAndNeverLeavesTheRoot)
{
    fs::create_directories(root / "sub");
    std::ofstream(root / "page.htm") << "taken";
    auto object = NewObject();
    const std::vector<std::pair<std::string, LONG>> cases = { { "page.htm", 1 }, { "page.htm", 1 },
        { "missing/a.txt", 0 }, { "sub/b.txt", 1 }, { "../escape.txt", 0 }, { "sub/../../escape2.txt", 0 },
        { "/etc/absolute.txt", 0 }, { "", 0 } };
    InDialog(object, [&] {
        for (const auto& [name, expected] : cases) {
            LONG res = 9;
            EXPECT_EQ(object->SaveInplace(Bstr(name).get(), Bstr("html").get(), Bstr(u"h\u00e9!").get(), &res), S_OK);
            EXPECT_EQ(res, expected) << name;
        }
    });
    EXPECT_EQ(ReadAll(root / "page.htm"), "taken");
    EXPECT_EQ(ReadAll(root / "page1.htm"), std::string("h\0\xE9\0!\0", 6)) << "UTF-16 without a byte order mark";
    EXPECT_TRUE(fs::exists(root / "page2.htm"));
    EXPECT_FALSE(fs::exists(root / "missing"));
    EXPECT_TRUE(fs::exists(root / "sub" / "b.txt"));
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir / "escape2.txt"));
}

TEST_F(PageCommands, BrowseForFolderAsksTheViewAndLeavesTheRootFolderAlone)
{
    auto object = NewObject();
    const std::string rootBefore = Impl(object).RootFolderText();
    std::vector<std::string> answers;
    InDialog(object, [&] {
        for (std::optional<std::string> answer : { std::optional<std::string>("/home/u/picked"), std::optional<std::string>() }) {
            view->SetFolderAnswer(answer);
            Bstr res;
            EXPECT_EQ(object->BrowseForFolder(res.Out()), S_OK);
            answers.push_back(res.Utf8());
        }
    });
    EXPECT_EQ(answers, (std::vector<std::string> { "/home/u/picked", "" }));
    EXPECT_EQ(view->FolderBrowserTitles(), std::vector<std::string>(2, "Select folder for grabbed files"));
    EXPECT_EQ(Impl(object).RootFolderText(), rootBefore);
}

TEST_F(PageCommands, CreateXmlDomGivesAFreshDocumentEachTimeWithoutTheDialog)
{
    auto object = NewObject();
    IDispatch* a = nullptr;
    IDispatch* b = nullptr;
    ASSERT_EQ(object->CreateXmlDom(&a), S_OK);
    ASSERT_EQ(object->CreateXmlDom(&b), S_OK);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
    auto loaded = Invoke(a, { CXmlDomObject::kDispLoadXml, DISPATCH_METHOD, { Str("<r><x>1</x></r>") } });
    EXPECT_EQ(loaded.hr, S_OK);
    EXPECT_EQ(loaded.result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(Text(Get(a, CXmlDomObject::kDispXml).result), "<r><x>1</x></r>");
    EXPECT_EQ(Text(Get(b, CXmlDomObject::kDispXml).result), "") << "documents are independent";
    EXPECT_EQ(Invoke(b, { CXmlDomObject::kDispLoadXml, DISPATCH_METHOD, { Str("<r>") } }).result.boolVal, VARIANT_FALSE);
    EXPECT_EQ(a->Release(), 0u) << "the grabber keeps no reference";
    EXPECT_EQ(b->Release(), 0u);
}

TEST_F(PageCommands, RootFolderSetterCreatesTheFolderAndKeepsTheTextAsGivenEvenAfterAFailure)
{
    auto object = NewObject();
    const std::string dotted = (dir / "x").string() + "/../y";
    std::ofstream(dir / "file") << "x";
    InDialog(object, [&] {
        EXPECT_EQ(object->put_RootFolder(Bstr(dotted).get()), S_OK);
        EXPECT_EQ(object->put_RootFolder(Bstr((dir / "file" / "under").string()).get()), E_FAIL);
        EXPECT_EQ(Impl(object).RootFolderText(), dotted);
    });
    EXPECT_TRUE(fs::is_directory(dir / "y"));
    EXPECT_FALSE(fs::exists(dir / "x"));
}

} // namespace
