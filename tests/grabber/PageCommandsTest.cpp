// The page's commands that need no download: the save set, the result map,
// saving edited text, the folder browser, the dialog size and the XML DOM.
#include "tests/grabber/GrabberFixture.h"

#include "grabber/XmlDomObject.h"

#include <fstream>
#include <iterator>

using namespace grabbertest;
namespace fs = std::filesystem;

namespace {

class PageCommands : public GrabberTest {
protected:
    // Runs `body` inside the grab dialog of `object`.
    void InDialog(const ComPtr<ITovanix>& object, const std::function<void()>& body)
    {
        bool ran = false;
        GrabWith(object, "http://example.test/", [&](ui::Dialog& d) {
            body();
            ran = true;
            d.PostClose();
        });
        ASSERT_TRUE(ran);
    }

    static std::string ReadFile(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
    }
};

LONG SaveUrl(ITovanix* object, const std::string& url, HRESULT expect = S_OK)
{
    LONG res = 77;
    Bstr u(url), t("img");
    EXPECT_EQ(object->Save(u.get(), t.get(), &res), expect) << url;
    return res;
}

TEST_F(PageCommands, SaveSetKeepsEachUrlOnceInByteOrderCutAtANulAndOutlivesTheNextGrab)
{
    auto object = NewObject();
    InDialog(object, [&] {
        EXPECT_EQ(SaveUrl(object.get(), "http://b.test/z"), 0);
        SaveUrl(object.get(), "http://a.test/\xC3\xA9"); // é: bytes above ASCII sort after 'z'
        SaveUrl(object.get(), "http://a.test/z");
        SaveUrl(object.get(), "http://a.test/Z"); // case-sensitive: 'Z' < 'z'
        SaveUrl(object.get(), "http://b.test/z");
        SaveUrl(object.get(), "http://a.test/z");
        const char16_t raw[] = u"http://a.test/x\0../../evil";
        BSTR url = SysAllocStringLen(raw, sizeof raw / sizeof raw[0] - 1);
        LONG res = 1;
        EXPECT_EQ(object->Save(url, nullptr, &res), S_OK);
        SysFreeString(url);
    });
    auto secondPage = Page("http://second.test/");
    view->OnDialog("grab", [](ui::Dialog& d) { d.PostClose(); });
    object->Grab(AsDispatch(secondPage).get());
    EXPECT_EQ(Impl(object).GrabDocument(), secondPage) << "the next grab replaces the document";
    const std::vector<std::string> expected {
        "http://a.test/Z", "http://a.test/x", "http://a.test/z", "http://a.test/\xC3\xA9", "http://b.test/z",
    };
    const auto& set = Impl(object).SaveSet();
    EXPECT_EQ(std::vector<std::string>(set.begin(), set.end()), expected) << "but not the save set";
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
        Bstr text("<lang/>");
        EXPECT_EQ(object->SetData(0, text.get()), E_PENDING);
        EXPECT_FALSE(fs::exists(userFolder / "lang.xml"));
        VARIANT_BOOL saved = 5;
        EXPECT_EQ(object->get_IsSaved(&saved), E_PENDING);
        EXPECT_EQ(saved, 5);
        EXPECT_EQ(object->ShowOptions(), E_PENDING);
        EXPECT_EQ(object->ShowAbout(), E_PENDING);
        EXPECT_EQ(object->ShowHelp(), E_PENDING);
        // The result map needs no dialog.
        ULONG state = 99;
        Bstr url("http://a.test/");
        EXPECT_EQ(object->CheckSavedUrl(url.get(), &state), S_OK);
        EXPECT_EQ(state, 0u);
        EXPECT_EQ(object->CheckSavedUrl(url.get(), nullptr), E_POINTER);
    };
    check("before any grab");
    VARIANT_BOOL saved = 5;
    InDialog(object, [&] { EXPECT_EQ(object->get_IsSaved(&saved), S_OK); });
    EXPECT_EQ(saved, VARIANT_FALSE) << "IsSaved is always false with the dialog open";
    check("after a grab ended");
}

TEST_F(PageCommands, SaveInplaceWritesUtf16WithoutMarkAndNumbersTakenNames)
{
    const fs::path root = dir / "root";
    fs::create_directories(root);
    StoreRootFolder(root.string());
    std::ofstream(root / "page.htm") << "taken";
    auto object = NewObject();
    LONG res = 0, res2 = 0;
    InDialog(object, [&] {
        Bstr name("page.htm"), type("html"), value(u"h\u00e9!");
        EXPECT_EQ(object->SaveInplace(name.get(), type.get(), value.get(), &res), S_OK);
        EXPECT_EQ(object->SaveInplace(name.get(), type.get(), value.get(), &res2), S_OK);
    });
    EXPECT_EQ(res, 1);
    EXPECT_EQ(res2, 1);
    EXPECT_EQ(ReadFile(root / "page.htm"), "taken");
    EXPECT_EQ(ReadFile(root / "page1.htm"), std::string("h\0\xE9\0!\0", 6));
    EXPECT_TRUE(fs::exists(root / "page2.htm"));
}

TEST_F(PageCommands, SaveInplaceCreatesNoFoldersAndNeverLeavesTheRoot)
{
    const fs::path root = dir / "root";
    fs::create_directories(root / "sub");
    StoreRootFolder(root.string());
    auto object = NewObject();
    const std::vector<std::pair<std::string, LONG>> cases = { { "missing/a.txt", 0 }, { "sub/b.txt", 1 },
        { "../escape.txt", 0 }, { "sub/../../escape2.txt", 0 }, { "/etc/absolute.txt", 0 }, { "", 0 } };
    InDialog(object, [&] {
        for (const auto& [name, expected] : cases) {
            LONG res = 9;
            EXPECT_EQ(object->SaveInplace(Bstr(name).get(), nullptr, Bstr("text").get(), &res), S_OK) << name;
            EXPECT_EQ(res, expected) << name;
        }
    });
    EXPECT_FALSE(fs::exists(root / "missing"));
    EXPECT_TRUE(fs::exists(root / "sub" / "b.txt"));
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir / "escape2.txt"));
}

TEST_F(PageCommands, BrowseForFolderAsksTheViewAndLeavesTheRootFolderAlone)
{
    auto object = NewObject();
    const std::string rootBefore = Impl(object).RootFolderText();
    std::string chosen, cancelled;
    InDialog(object, [&] {
        view->SetFolderAnswer("/home/u/picked");
        Bstr res;
        EXPECT_EQ(object->BrowseForFolder(res.Out()), S_OK);
        chosen = res.Utf8();
        view->SetFolderAnswer(std::nullopt);
        EXPECT_EQ(object->BrowseForFolder(res.Out()), S_OK);
        cancelled = res.Utf8();
    });
    EXPECT_EQ(chosen, "/home/u/picked");
    EXPECT_EQ(cancelled, "");
    EXPECT_EQ(view->FolderBrowserTitles(),
        (std::vector<std::string> { "Select folder for grabbed files", "Select folder for grabbed files" }));
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
    auto broken = Invoke(b, { CXmlDomObject::kDispLoadXml, DISPATCH_METHOD, { Str("<r>") } });
    EXPECT_EQ(broken.result.boolVal, VARIANT_FALSE);
    EXPECT_EQ(a->Release(), 0u) << "the grabber keeps no reference";
    EXPECT_EQ(b->Release(), 0u);
}

TEST_F(PageCommands, RootFolderSetterCreatesTheFolderAndKeepsTheTextAsGivenEvenAfterAFailure)
{
    auto object = NewObject();
    const std::string dotted = (dir / "x").string() + "/../y";
    HRESULT created = E_FAIL, blocked = S_OK;
    std::string afterFailure;
    InDialog(object, [&] {
        created = object->put_RootFolder(Bstr(dotted).get());
        std::ofstream(dir / "file") << "x";
        blocked = object->put_RootFolder(Bstr((dir / "file" / "under").string()).get());
        afterFailure = Impl(object).RootFolderText();
    });
    EXPECT_EQ(created, S_OK);
    EXPECT_TRUE(fs::is_directory(dir / "y"));
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_EQ(blocked, E_FAIL);
    EXPECT_EQ(afterFailure, dotted);
}

} // namespace
