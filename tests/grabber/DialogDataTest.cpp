// GetData and SetData as the dialog's page calls them: the dialog body of
// the grabbed page, the dialog script, the two folders and the language
// file, each only while the grab dialog is open (the closed-dialog guard is
// checked with the other commands in PageCommandsTest).
#include "tests/grabber/GrabberFixture.h"

#include "grabber/ResourceAddress.h"

#include "tests/support/HtmlScan.h"

#include <climits>
#include <regex>

using namespace grabbertest;
namespace fs = std::filesystem;

namespace {

ComPtr<IHTMLDocument2> PicturePage()
{
    auto model = std::make_shared<html::Document>();
    model->URL = "http://pics.test/album/index.html";
    model->documentElement = std::make_unique<html::Node>();
    model->documentElement->nodeName = "HTML";
    for (auto [src, size] : { std::pair<std::string, int>("one.jpg", 300), { "two.png", 64 } }) {
        html::Image image;
        image.complete = true;
        image.src = src;
        image.href = src;
        image.width = image.height = size;
        image.fileSize = std::string("1000");
        model->images->push_back(std::move(image));
    }
    return CHtmlDocumentObject::Create(std::move(model));
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

    // GetData(index) as text; nullopt when nothing was returned.
    static std::optional<std::string> Data(ITovanix* object, LONG index)
    {
        Bstr out;
        EXPECT_EQ(object->GetData(index, out.Out()), S_OK) << index;
        return out.get() ? std::optional(out.Utf8()) : std::nullopt;
    }
};

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

TEST_F(DialogData, BodyListsPicturesFromTheMapperEachOptionUnderItsOwnNameAndTheEscapedFolder)
{
    SetResourceAddressMapper([](std::string_view type, int id) {
        return "http://127.0.0.1:9/tok/res/" + std::string(type) + "/" + std::to_string(id);
    });
    StoreRootFolder("");
    // Each property alone: exactly its own check box comes out checked, so
    // no property is read into another option's element.
    const std::pair<HRESULT (ITovanix::*)(VARIANT_BOOL), const char*> options[] = {
        { &ITovanix::put_GrabFlash, "GrabFlash" }, { &ITovanix::put_GrabQT, "GrabQT" },
        { &ITovanix::put_GrabRP, "GrabRP" }, { &ITovanix::put_GrabMP, "GrabMP" },
        { &ITovanix::put_GrabImage, "GrabImage" }, { &ITovanix::put_AutoClose, "AutoClose" },
        { &ITovanix::put_SelectAll, "SelectAll" }, { &ITovanix::put_GrabCSS, "GrabCSS" },
        { &ITovanix::put_GrabScript, "GrabScript" },
    };
    const fs::path folder = dir / "chosen \"folder\" <x>";
    auto object = NewObject();
    InDialog(object, [&] {
        const std::string body = Data(object.get(), 0).value_or("");
        EXPECT_EQ(Data(object.get(), 0), body) << "the same each time";
        EXPECT_EQ(AttributeValues(body, "data-url"),
            std::vector<std::string>({ "http://pics.test/album/one.jpg", "http://pics.test/album/two.png" }));
        const auto sources = AttributeValues(body, "src");
        for (const char* corner : { "http://127.0.0.1:9/tok/res/GIF/223", "http://127.0.0.1:9/tok/res/GIF/224" })
            EXPECT_NE(std::find(sources.begin(), sources.end(), corner), sources.end()) << corner;
        EXPECT_EQ(AttributeValues(body, "data-ok-image"), std::vector<std::string>({ "http://127.0.0.1:9/tok/res/GIF/226" }));
        EXPECT_EQ(AttributeValues(body, "data-fail-image"), std::vector<std::string>({ "http://127.0.0.1:9/tok/res/GIF/227" }));
        EXPECT_EQ(AttributeValues(body, "value"), std::vector<std::string>({ "" }));

        for (const auto& [put, option] : options) {
            for (const auto& other : options)
                ASSERT_EQ((object.get()->*(other.first))(VARIANT_FALSE), S_OK);
            ASSERT_EQ((object.get()->*put)(VARIANT_TRUE), S_OK);
            EXPECT_EQ(CheckedOptions(Data(object.get(), 0).value_or("")), std::vector<std::string>({ option }));
        }
        ASSERT_EQ(object->put_RootFolder(Bstr(folder.string()).get()), S_OK);
        EXPECT_EQ(AttributeValues(Data(object.get(), 0).value_or(""), "value"), std::vector<std::string>({ folder.string() }));
    }, PicturePage());
    SetResourceAddressMapper({});
}

TEST(ResourceAddress, PicturesDefaultToResourceAddressesOfTheModule)
{
    EXPECT_EQ(ModuleResourceAddress("/opt/q/libqvtovanix.so", "GIF", 226), "res:///opt/q/libqvtovanix.so/GIF/226");
    EXPECT_EQ(ModuleResourceAddress("", "GIF", 226), "");
    const std::string address = ResourceAddressFor("GIF", 223);
    EXPECT_TRUE(std::regex_match(address, std::regex("res:///.+/GIF/223"))) << address;
}

// (Which folder's language file wins is LanguageFile's own, checked in tests/dialog.)
TEST_F(DialogData, LanguageFileWrittenPerUserAndReadBackAsXmlText)
{
    fs::create_directories(UserFolder());
    const std::string lang = "<lang>\n<text id=\"save\">Speichern</text></lang>";
    auto object = NewObject();
    InDialog(object, [&] {
        EXPECT_FALSE(Data(object.get(), 4));
        EXPECT_EQ(object->SetData(0, Bstr(u"<lang>\r\n<text id='save'>Speichern</text></lang>").get()), S_OK);
        EXPECT_EQ(Data(object.get(), 4), lang);
    });
    EXPECT_EQ(ReadAll(UserFolder() / "lang.xml").substr(0, 4), std::string("\xFF\xFE<\0", 4));

    // Other indexes touch no file; a null text leaves only the mark.
    InDialog(object, [&] {
        EXPECT_EQ(object->SetData(1, Bstr(u"<other/>").get()), S_OK);
        EXPECT_EQ(object->SetData(-1, Bstr(u"<other/>").get()), S_OK);
        EXPECT_EQ(Data(object.get(), 4), lang);
        EXPECT_EQ(object->SetData(0, nullptr), S_OK);
    });
    EXPECT_EQ(ReadAll(UserFolder() / "lang.xml"), std::string("\xFF\xFE"));
    EXPECT_FALSE(fs::exists(ModuleDir() / "lang.xml"));
}

} // namespace
