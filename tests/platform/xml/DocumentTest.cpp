#include "platform/xml/Document.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using xml::Document;

namespace {

// The document the extractors start from: declaration, then one root.
Document MakeSection(const char* rootName)
{
    Document doc;
    EXPECT_TRUE(doc.AppendChild(doc.CreateProcessingInstruction("xml", "version='1.0'")));
    auto root = doc.CreateElement(rootName);
    EXPECT_TRUE(root && doc.AppendChild(*root));
    return doc;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Utf16Le(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

} // namespace

TEST(XmlDocument, XmlTextIsDeclarationThenOneRootWithoutLineBreaksAndNoEncoding)
{
    Document doc = MakeSection("images");
    auto item = doc.CreateElement("item");
    ASSERT_TRUE(item);
    ASSERT_TRUE(item->SetAttribute("src", "a.gif"));
    ASSERT_TRUE(item->SetAttribute("width", std::int32_t{-12}));
    ASSERT_TRUE(doc.DocumentElement()->AppendChild(*item));
    auto second = doc.CreateElement("b");
    EXPECT_FALSE(doc.AppendChild(*second)) << "a second root";
    EXPECT_EQ(doc.Xml(), "<?xml version='1.0'?><images><item src=\"a.gif\" width=\"-12\"/></images>");

    Document loaded;
    ASSERT_TRUE(loaded.LoadXml("<?xml version=\"1.0\" encoding=\"UTF-16\"?><lang><t>\xc3\xa9</t></lang>"));
    EXPECT_EQ(loaded.Xml(), "<?xml version=\"1.0\"?><lang><t>\xc3\xa9</t></lang>");
    ASSERT_TRUE(loaded.LoadXml("<lang/>"));
    EXPECT_EQ(loaded.Xml(), "<lang/>");
}

TEST(XmlDocument, IllegalNamesAndValuesAreRefusedAndLeaveTheDocumentUnchanged)
{
    Document doc = MakeSection("HTML");
    for (const char* name : {"#text", "#comment", "", "1abc", "a b", "a<b", "-x", "a\xff"})
        EXPECT_FALSE(doc.CreateElement(name)) << name;
    EXPECT_FALSE(doc.CreateElement(std::string_view("a\0b", 3)));
    EXPECT_FALSE(doc.CreateProcessingInstruction("bad name", "x"));
    for (const char* name : {"HTML", "a:b", "_x", "x-1.y", "\xc3\xa9l\xc3\xa9ment"})
        EXPECT_TRUE(doc.CreateElement(name)) << name;

    auto e = doc.DocumentElement();
    ASSERT_TRUE(e->SetAttribute("keep", "1"));
    const std::string before = doc.Xml();
    EXPECT_FALSE(e->SetAttribute("bad name", "v"));
    EXPECT_FALSE(e->SetAttribute("\"quoted\"", "v"));
    EXPECT_FALSE(e->SetAttribute("9lives", std::int32_t{9}));
    EXPECT_FALSE(e->SetAttribute("ctl", std::string_view("a\x01z")));  // XML 1.0 cannot carry U+0001
    EXPECT_FALSE(e->SetAttribute("utf", std::string_view("\xc3(")));   // broken UTF-8
    EXPECT_FALSE(e->SetAttribute("keep", std::string_view("\x0b")));   // replacing fails too
    // A plain xmlns attribute would move the copied page into the XHTML
    // namespace when read back, and stylesheets would no longer match it.
    EXPECT_FALSE(e->SetAttribute("xmlns", "http://www.w3.org/1999/xhtml"));
    EXPECT_FALSE(e->SetAttribute("xmlns:v", "urn:schemas-microsoft-com:vml"));
    EXPECT_EQ(doc.Xml(), before);
    EXPECT_EQ(e->GetAttribute("keep"), "1");
    Document back;
    ASSERT_TRUE(back.LoadXml(doc.Xml()));
    EXPECT_EQ(back.DocumentElement()->Name(), "HTML");
}

TEST(XmlElement, EscapedCharactersRoundTripAndSetTextReplacesChildrenAndControlCharacters)
{
    const std::string nasty = "a<b>&c\"d'e\tf\ng\r\nh]]>i &amp; \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    Document doc = MakeSection("css");
    auto item = doc.CreateElement("item");
    ASSERT_TRUE(item && item->SetAttribute("src", nasty));
    item->SetText(nasty);
    ASSERT_TRUE(doc.DocumentElement()->AppendChild(*item));
    EXPECT_EQ(doc.Xml().find("<b>"), std::string::npos);
    Document back;
    ASSERT_TRUE(back.LoadXml(doc.Xml())) << back.LastError() << "\n" << doc.Xml();
    auto items = back.DocumentElement()->ChildElements();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].GetAttribute("src"), nasty);
    EXPECT_EQ(items[0].Text(), nasty);

    auto root = doc.DocumentElement();
    root->SetText(std::string_view("x\x01y", 3));
    EXPECT_EQ(root->Text(), "x\xEF\xBF\xBDy");
    EXPECT_TRUE(root->ChildElements().empty());
    // A stray control character in a script must not make the section unreadable.
    EXPECT_TRUE(back.LoadXml(doc.Xml()));
    EXPECT_EQ(item->Name(), "item") << "the handle to the removed child stays usable";
}

TEST(XmlElement, CloneCopiesWithinTheDocumentAndAppendChildRefusesCyclesAndForeignNodes)
{
    Document doc;
    ASSERT_TRUE(doc.LoadXml("<r><a x='1'><b>t</b></a></r>"));
    auto a = doc.DocumentElement()->ChildElements().at(0);
    auto b = a.ChildElements().at(0);
    auto deep = a.CloneNode(true);
    auto shallow = a.CloneNode(false);
    ASSERT_TRUE(deep && shallow);
    EXPECT_EQ(deep->Xml(), "<a x=\"1\"><b>t</b></a>");
    EXPECT_EQ(shallow->Xml(), "<a x=\"1\"/>");
    EXPECT_FALSE(b.AppendChild(a));
    EXPECT_FALSE(a.AppendChild(a));
    Document other;
    ASSERT_TRUE(other.LoadXml("<o/>"));
    EXPECT_FALSE(a.AppendChild(*other.DocumentElement()));
    auto imported = doc.ImportNode(*other.DocumentElement(), true);
    ASSERT_TRUE(imported && a.AppendChild(*imported));
    ASSERT_TRUE(doc.DocumentElement()->AppendChild(*deep));
    EXPECT_EQ(doc.Xml(), "<r><a x=\"1\"><b>t</b><o/></a><a x=\"1\"><b>t</b></a></r>");
}

TEST(XmlDocument, MalformedOrTooDeepTextFailsAndLeavesAnEmptyDocument)
{
    std::vector<std::string> cases = {
        "", "<", "<a>", "<a></b>", "<a b='1' b='2'/>", "text", "<a/><b/>", "<a>&undefined;</a>",
        "<a \x01/>", "\xff\xfe<\0a\0/\0>\0", "<?xml version='1.0'?>", "<a><![CDATA[x</a>",
    };
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    cases.push_back(deep);
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.substr(0, 40));
        Document doc;
        ASSERT_TRUE(doc.LoadXml("<old/>"));
        EXPECT_FALSE(doc.LoadXml(text));
        EXPECT_FALSE(doc.DocumentElement());
        EXPECT_EQ(doc.Xml(), "");
    }
}

TEST(XmlDocument, ExternalEntitiesAreNeverRead)
{
    testsupport::TempDir dir;
    WriteBytes(dir / "secret.txt", "TOPSECRET");
    Document doc; // may load with the reference unexpanded
    (void)doc.LoadXml("<!DOCTYPE a [<!ENTITY e SYSTEM 'file://" + (dir / "secret.txt").string() + "'>]><a>&e;</a>");
    EXPECT_EQ(doc.Xml().find("TOPSECRET"), std::string::npos);
}

TEST(XmlDocumentFile, LoadsUtf16AndUtf8WithOrWithoutMarkAndDeclaredLatin1AndRefusesBrokenFiles)
{
    testsupport::TempDir dir;
    struct Case {
        const char* what;
        std::string bytes;
        const char* xml; // nullptr: the load fails
    } cases[] = {
        { "UTF-16LE with mark", Utf16Le(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><l a=\"\u00e9\u20ac\"><t>\U0001F600</t></l>"),
          "<?xml version=\"1.0\"?><l a=\"\xc3\xa9\xe2\x82\xac\"><t>\xf0\x9f\x98\x80</t></l>" },
        { "UTF-8 with mark", "\xEF\xBB\xBF<a>\xc3\xa9</a>", "<a>\xc3\xa9</a>" },
        { "UTF-8", "<b>\xc3\xa9</b>", "<b>\xc3\xa9</b>" },
        { "Latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?><c>\xe9</c>", "<?xml version=\"1.0\"?><c>\xc3\xa9</c>" },
        { "odd byte count, unfinished", "\xFF\xFE<", nullptr },
        { "not xml", "not xml", nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(dir / "f.xml", c.bytes);
        Document doc;
        ASSERT_EQ(doc.Load(dir / "f.xml"), c.xml != nullptr) << doc.LastError();
        EXPECT_EQ(doc.Xml(), c.xml ? c.xml : "");
    }
    Document doc;
    EXPECT_FALSE(doc.Load(dir / "missing.xml"));
}

TEST(XmlDocumentFile, SaveReplacesTheFileWithXmlTextThatLoadsBack)
{
    testsupport::TempDir dir;
    Document doc = MakeSection("dinfo");
    auto session = doc.CreateElement("session");
    ASSERT_TRUE(doc.DocumentElement()->AppendChild(*session));
    auto url = doc.CreateElement("DocURL");
    url->SetText("http://h/a?b=1&c=<2>");
    ASSERT_TRUE(session->AppendChild(*url));
    const auto path = dir / "debuginfo.xml";
    WriteBytes(path, "old content that is much longer than the new one ...................");
    ASSERT_TRUE(doc.Save(path));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), doc.Xml());
    Document back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Xml(), "<?xml version=\"1.0\"?>" + doc.DocumentElement()->Xml());
    EXPECT_FALSE(doc.Save(dir / "no" / "such" / "folder.xml"));
}
