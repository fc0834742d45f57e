// GetData and SetData as the dialog's page calls them: the dialog body of
// the grabbed page, the dialog script, the two folders and the language
// file, each only while the grab dialog is open.
#include "tests/grabber/GrabberFixture.h"

#include "grabber/ResourceAddress.h"

#include "tests/support/HtmlScan.h"

#include <climits>
#include <fstream>
#include <iterator>
#include <regex>

using namespace grabbertest;
namespace fs = std::filesystem;

namespace {

html::Image Picture(const std::string& src, int w, int h)
{
    html::Image image;
    image.complete = true;
    image.src = src;
    image.href = src;
    image.width = w;
    image.height = h;
    image.fileSize = std::string("1000");
    return image;
}

std::shared_ptr<html::Document> PictureModel()
{
    auto model = std::make_shared<html::Document>();
    model->URL = "http://pics.test/album/index.html";
    model->documentElement = std::make_unique<html::Node>();
    model->documentElement->nodeName = "HTML";
    model->images->push_back(Picture("one.jpg", 300, 200));
    model->images->push_back(Picture("two.png", 64, 64));
    return model;
}

// Values of attribute `attr` of every element carrying it, in document order.
std::vector<std::string> AttributeValues(const std::string& html, const char* attr)
{
    std::vector<std::string> out;
    for (const auto& e : testsupport::ScanHtml(html))
        if (const std::string* v = e.Attr(attr))
            out.push_back(*v);
    return out;
}

// The data-option names of the option check boxes that are checked.
std::vector<std::string> CheckedOptions(const std::string& html)
{
    std::vector<std::string> out;
    std::regex box(R"re(<input type="checkbox" class="qx-option" data-option="([A-Za-z]+)"( checked)?>)re");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), box); it != std::sregex_iterator(); ++it)
        if ((*it)[2].matched)
            out.push_back((*it)[1]);
    return out;
}

class DialogData : public GrabberTest {
protected:
    fs::path UserFolder() const { return dir / "data" / "Danwell" / "Tovanix"; }

    // Grabs a page made of `model` and runs `body` inside its dialog.
    void InDialog(const ComPtr<ITovanix>& object, std::shared_ptr<html::Document> model, const std::function<void()>& body)
    {
        bool ran = false;
        view->OnDialog("grab", [&](ui::Dialog& d) {
            body();
            ran = true;
            d.PostClose();
        });
        auto doc = CHtmlDocumentObject::Create(std::move(model));
        EXPECT_EQ(object->Grab(AsDispatch(doc).get()), S_OK);
        ASSERT_TRUE(ran);
    }
    void InDialog(const ComPtr<ITovanix>& object, const std::function<void()>& body)
    {
        InDialog(object, PictureModel(), body);
    }

    // GetData(index) as text; nullopt when nothing was returned.
    static std::optional<std::string> Data(ITovanix* object, LONG index)
    {
        BSTR out = nullptr;
        EXPECT_EQ(object->GetData(index, &out), S_OK) << index;
        if (!out)
            return std::nullopt;
        Bstr owner;
        *owner.Out() = out;
        return owner.Utf8();
    }

    static std::string Bytes(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
    }
};

} // namespace

// ---- indexes ---------------------------------------------------------------------
// (The closed-dialog guard of GetData and SetData is checked with the other
// commands in PageCommandsTest.)

TEST_F(DialogData, IndexesGiveScriptAndFoldersWithoutCreatingThemAndOthersLeaveTheResultAlone)
{
    auto object = NewObject();
    fs::remove_all(dir / "data");
    InDialog(object, [&] {
        auto script = Data(object.get(), 1);
        ASSERT_TRUE(script);
        for (const char* part : { "function BodyOnLoad()", "function BodyOnUnLoad()", "<script>" })
            EXPECT_NE(script->find(part), std::string::npos) << part;
        EXPECT_EQ(Data(object.get(), 2), ModuleDir().string());
        EXPECT_EQ(Data(object.get(), 3), UserFolder().string());

        BSTR sentinel = SysAllocString(u"keep");
        for (LONG index : { 5, -1, 6, 100, INT_MAX, INT_MIN }) {
            BSTR passed = sentinel;
            EXPECT_EQ(object->GetData(index, &passed), S_OK) << index;
            EXPECT_EQ(passed, sentinel) << index;
        }
        SysFreeString(sentinel);
        // Through dispatch a script gets an empty result and no error.
        auto r = Invoke(object.get(), { 17, DISPATCH_METHOD, { Variant::FromI4(5) } });
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_TRUE(r.result.vt == VT_EMPTY || (r.result.vt == VT_BSTR && SysStringLen(r.result.bstrVal) == 0));
    });
    // The application-data folder is made, the two below it are not.
    EXPECT_TRUE(fs::is_directory(dir / "data"));
    EXPECT_FALSE(fs::exists(dir / "data" / "Danwell"));
}

// ---- the dialog body -----------------------------------------------------------

TEST_F(DialogData, BodyListsTheGrabbedPageWithPicturesFromTheResourceMapperTheSameEachTime)
{
    SetResourceAddressMapper([](std::string_view type, int id) {
        return "http://127.0.0.1:9/tok/res/" + std::string(type) + "/" + std::to_string(id);
    });
    auto object = NewObject();
    InDialog(object, [&] {
        auto body = Data(object.get(), 0);
        ASSERT_TRUE(body);
        EXPECT_EQ(Data(object.get(), 0), body);
        EXPECT_EQ(AttributeValues(*body, "data-url"),
                  std::vector<std::string>({ "http://pics.test/album/one.jpg", "http://pics.test/album/two.png" }));
        const auto sources = AttributeValues(*body, "src");
        EXPECT_NE(std::find(sources.begin(), sources.end(), "http://127.0.0.1:9/tok/res/GIF/223"), sources.end());
        EXPECT_NE(std::find(sources.begin(), sources.end(), "http://127.0.0.1:9/tok/res/GIF/224"), sources.end());
        EXPECT_EQ(AttributeValues(*body, "data-ok-image"), std::vector<std::string>({ "http://127.0.0.1:9/tok/res/GIF/226" }));
        EXPECT_EQ(AttributeValues(*body, "data-fail-image"), std::vector<std::string>({ "http://127.0.0.1:9/tok/res/GIF/227" }));
    });
    SetResourceAddressMapper({});
}

TEST_F(DialogData, PicturesDefaultToResourceAddressesOfTheModule)
{
    EXPECT_EQ(ModuleResourceAddress("/opt/q/libqvtovanix.so", "GIF", 226), "res:///opt/q/libqvtovanix.so/GIF/226");
    EXPECT_EQ(ModuleResourceAddress("", "GIF", 226), "");
    const std::string address = ResourceAddressFor("GIF", 223);
    EXPECT_TRUE(std::regex_match(address, std::regex("res:///.+/GIF/223"))) << address;
}

TEST_F(DialogData, BodyCarriesEachOptionUnderItsOwnName)
{
    // Each property alone: exactly its own check box comes out checked, so
    // no property is read into another option's element.
    struct Case {
        HRESULT (ITovanix::*put)(VARIANT_BOOL);
        const char* option;
    } cases[] = {
        { &ITovanix::put_GrabFlash, "GrabFlash" }, { &ITovanix::put_GrabQT, "GrabQT" },
        { &ITovanix::put_GrabRP, "GrabRP" },       { &ITovanix::put_GrabMP, "GrabMP" },
        { &ITovanix::put_GrabImage, "GrabImage" }, { &ITovanix::put_AutoClose, "AutoClose" },
        { &ITovanix::put_SelectAll, "SelectAll" }, { &ITovanix::put_GrabCSS, "GrabCSS" },
        { &ITovanix::put_GrabScript, "GrabScript" },
    };
    auto object = NewObject();
    InDialog(object, [&] {
        for (const auto& c : cases) {
            for (const auto& other : cases)
                ASSERT_EQ((object.get()->*(other.put))(VARIANT_FALSE), S_OK);
            ASSERT_EQ((object.get()->*(c.put))(VARIANT_TRUE), S_OK);
            auto body = Data(object.get(), 0);
            ASSERT_TRUE(body);
            EXPECT_EQ(CheckedOptions(*body), std::vector<std::string>({ c.option }));
        }
    });
}

TEST_F(DialogData, FolderFieldCarriesTheRootFolderEscapedEmptyOrChangedInTheDialog)
{
    StoreRootFolder("");
    auto object = NewObject();
    const fs::path folder = dir / "chosen \"folder\" <x>";
    InDialog(object, [&] {
        EXPECT_EQ(AttributeValues(Data(object.get(), 0).value_or(""), "value"), std::vector<std::string>({ "" }));
        ASSERT_EQ(object->put_RootFolder(Bstr(folder.string()).get()), S_OK);
        EXPECT_EQ(AttributeValues(Data(object.get(), 0).value_or(""), "value"), std::vector<std::string>({ folder.string() }));
    });
}

// ---- the language file ------------------------------------------------------------
// (Which folder's file wins, and the fallback to the module folder, are
// LanguageFile's own and checked in tests/dialog.)

TEST_F(DialogData, LanguageFileWrittenPerUserAndReadBackAsXmlText)
{
    fs::create_directories(UserFolder());
    auto object = NewObject();
    InDialog(object, [&] {
        EXPECT_FALSE(Data(object.get(), 4));
        Bstr text(u"<lang>\r\n<text id='save'>Speichern</text></lang>");
        EXPECT_EQ(object->SetData(0, text.get()), S_OK);
        auto back = Data(object.get(), 4);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, "<lang>\n<text id=\"save\">Speichern</text></lang>");
    });
    const std::string bytes = Bytes(UserFolder() / "lang.xml");
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    EXPECT_FALSE(fs::exists(ModuleDir() / "lang.xml"));

    // Other indexes touch no file; a null text leaves only the mark.
    InDialog(object, [&] {
        Bstr text(u"<other/>");
        EXPECT_EQ(object->SetData(1, text.get()), S_OK);
        EXPECT_EQ(object->SetData(-1, text.get()), S_OK);
        EXPECT_EQ(Data(object.get(), 4), "<lang>\n<text id=\"save\">Speichern</text></lang>");
        EXPECT_EQ(object->SetData(0, nullptr), S_OK);
    });
    EXPECT_EQ(Bytes(UserFolder() / "lang.xml"), std::string("\xFF\xFE"));
    EXPECT_FALSE(fs::exists(ModuleDir() / "lang.xml"));
}

