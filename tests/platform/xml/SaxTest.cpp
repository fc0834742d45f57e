#include "platform/xml/Document.h"
#include "platform/xml/Sax.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using xml::SaxAttributeList;
using xml::SaxAttributes;
using xml::SaxReader;
using xml::SaxWriter;

namespace {

// Records every event as one line.
class Recorder : public xml::SaxContentHandler, public xml::SaxLexicalHandler {
public:
    std::vector<std::string> events;
    int stopAfter = -1; // stop when this many events were seen

    bool Go()
    {
        return stopAfter < 0 || static_cast<int>(events.size()) < stopAfter;
    }
    bool StartDocument() override { events.push_back("startDocument"); return Go(); }
    bool EndDocument() override { events.push_back("endDocument"); return Go(); }
    bool StartElement(std::string_view uri, std::string_view local, std::string_view q,
                      const SaxAttributes& attrs) override
    {
        std::string e = "start {" + std::string(uri) + "}" + std::string(local) + " " + std::string(q);
        for (std::size_t i = 0; i < attrs.GetLength(); ++i)
            e += " [" + std::string(*attrs.GetURI(i)) + "|" + std::string(*attrs.GetLocalName(i)) + "|"
                + std::string(*attrs.GetQName(i)) + "|" + std::string(*attrs.GetType(i)) + "|"
                + std::string(*attrs.GetValue(i)) + "]";
        events.push_back(e);
        lastAttributes = attrs.Items();
        return Go();
    }
    bool EndElement(std::string_view, std::string_view local, std::string_view q) override
    {
        events.push_back("end " + std::string(local) + " " + std::string(q));
        return Go();
    }
    bool Characters(std::string_view t) override
    {
        // Text may arrive in pieces; join neighbours so cases stay readable.
        if (!events.empty() && events.back().rfind("chars ", 0) == 0)
            events.back() += t;
        else
            events.push_back("chars " + std::string(t));
        return Go();
    }
    bool ProcessingInstruction(std::string_view t, std::string_view d) override
    {
        events.push_back("pi " + std::string(t) + " " + std::string(d));
        return Go();
    }
    bool SkippedEntity(std::string_view n) override { events.push_back("skipped " + std::string(n)); return Go(); }
    bool Comment(std::string_view t) override { events.push_back("comment " + std::string(t)); return Go(); }

    std::vector<SaxAttributes::Attribute> lastAttributes;
};

std::string Rewrite(std::string_view text, bool* ok = nullptr)
{
    SaxWriter writer;
    SaxReader reader;
    reader.SetContentHandler(&writer);
    reader.SetLexicalHandler(&writer);
    const bool parsed = reader.Parse(text);
    if (ok)
        *ok = parsed;
    return writer.Output();
}

} // namespace

TEST(SaxReader, EventsArriveInDocumentOrder)
{
    Recorder r;
    SaxReader reader;
    reader.SetContentHandler(&r);
    reader.SetLexicalHandler(&r);
    ASSERT_TRUE(reader.Parse("<?xml version='1.0'?><?pi data here?><a x='1' y=\"a&amp;b&#9;&lt;\">t1<!--c--><b/>"
                             "<![CDATA[<raw>]]></a>"));
    const std::vector<std::string> expected = {
        "startDocument",
        "pi pi data here",
        "start {}a a [|x|x|CDATA|1] [|y|y|CDATA|a&b\t<]",
        "chars t1",
        "comment c",
        "start {}b b",
        "end b b",
        "chars <raw>",
        "end a a",
        "endDocument",
    };
    EXPECT_EQ(r.events, expected);
}

TEST(SaxReader, NamespacedNamesAndAttributeLookup)
{
    Recorder r;
    SaxReader reader;
    reader.SetContentHandler(&r);
    ASSERT_TRUE(reader.Parse("<p:e xmlns:p='urn:p' p:a='1' src='s' b=''/>"));
    ASSERT_EQ(r.events.size(), 4u);
    EXPECT_EQ(r.events[1], "start {urn:p}e p:e [http://www.w3.org/2000/xmlns/|p|xmlns:p|CDATA|urn:p] [urn:p|a|p:a|CDATA|1] [|src|src|CDATA|s] [|b|b|CDATA|]");
    SaxAttributeList list;
    for (const auto& a : r.lastAttributes)
        list.AddAttribute(a.uri, a.localName, a.qName, a.type, a.value);
    EXPECT_EQ(list.GetValueFromName("", "src"), "s");
    EXPECT_EQ(list.GetValueFromName("urn:p", "a"), "1");
    EXPECT_FALSE(list.GetValueFromName("", "a")); // namespace must match
    EXPECT_EQ(list.GetValueFromName("", "b"), "");
    EXPECT_EQ(list.GetValueFromQName("p:a"), "1");
    EXPECT_FALSE(list.GetValue(4));
    EXPECT_FALSE(list.GetQName(99));
    EXPECT_EQ(list.GetName(2), "src");
}

TEST(SaxReader, EntityFromUnreadDtdIsSkipped)
{
    Recorder r;
    SaxReader reader;
    reader.SetContentHandler(&r);
    ASSERT_TRUE(reader.Parse("<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.0 Strict//EN' "
                             "'http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd'><p>a&nbsp;b</p>"))
        << reader.LastError();
    const std::vector<std::string> expected = {"startDocument", "start {}p p", "chars a", "skipped nbsp",
                                               "chars b", "end p p", "endDocument"};
    EXPECT_EQ(r.events, expected);
}

TEST(SaxReader, EntityOfInternalDtdIsAnErrorThatEndsTheEvents)
{
    Recorder r;
    SaxReader reader;
    reader.SetContentHandler(&r);
    EXPECT_FALSE(reader.Parse("<!DOCTYPE a [<!ENTITY e 'v'>]><a>x&e;y<b/></a>"));
    const std::vector<std::string> expected = {"startDocument", "start {}a a", "chars x"};
    EXPECT_EQ(r.events, expected);
}

TEST(SaxReader, EntityExpansionBombIsRefused)
{
    std::string text = "<!DOCTYPE a [<!ENTITY a0 'xxxxxxxxxx'>";
    for (int i = 1; i < 10; ++i)
        text += "<!ENTITY a" + std::to_string(i) + " '&a" + std::to_string(i - 1) + ";&a" + std::to_string(i - 1)
            + ";&a" + std::to_string(i - 1) + ";&a" + std::to_string(i - 1) + ";'>";
    text += "]><a>&a9;</a>";
    Recorder r;
    SaxReader reader;
    reader.SetContentHandler(&r);
    (void)reader.Parse(text);
    for (const auto& e : r.events)
        EXPECT_LT(e.size(), 1000u);
}

TEST(SaxReader, MalformedInputStopsAndReportsFailure)
{
    const char* cases[] = {"", "<", "<a", "<a></b>", "<a><b></a>", "<a x=1/>", "<a/>junk", "\xff\xff\xff",
                           "<a>\x01</a>", "<a x='1' x='2'/>", "<a>&#0;</a>"};
    for (const char* text : cases) {
        Recorder r;
        SaxReader reader;
        reader.SetContentHandler(&r);
        EXPECT_FALSE(reader.Parse(text)) << text;
        EXPECT_FALSE(reader.LastError().empty()) << text;
        EXPECT_TRUE(r.events.empty() || r.events.back() != "endDocument") << text;
    }
}

TEST(SaxReader, HandlerFailureStopsParse)
{
    Recorder r;
    r.stopAfter = 2;
    SaxReader reader;
    reader.SetContentHandler(&r);
    EXPECT_FALSE(reader.Parse("<a><b/><c/></a>"));
    EXPECT_EQ(r.events.size(), 2u);
}

TEST(SaxReader, WorksWithoutHandlers)
{
    SaxReader reader;
    EXPECT_TRUE(reader.Parse("<a><b/>t</a>"));
    EXPECT_FALSE(reader.Parse("<a>"));
}

TEST(SaxWriter, WritesDeclarationAndEmptyElementsCompactly)
{
    EXPECT_EQ(Rewrite("<?xml version='1.0'?><frame src='x'><images/><css>a</css></frame>"),
              "<?xml version=\"1.0\" standalone=\"no\"?><frame src=\"x\"><images/><css>a</css></frame>");
    SaxWriter writer;
    writer.SetStandalone(true);
    writer.StartDocument();
    EXPECT_EQ(writer.Output(), "<?xml version=\"1.0\" standalone=\"yes\"?>");
    SaxWriter bare;
    bare.SetOmitXmlDeclaration(true);
    bare.StartDocument();
    SaxAttributeList attrs;
    attrs.AddAttribute("", "", "relsrc", "", "a\"b");
    bare.StartElement("", "item", "item", attrs);
    bare.Characters("");
    bare.EndElement("", "item", "item");
    EXPECT_EQ(bare.Output(), "<item relsrc=\"a&quot;b\"/>");
}

TEST(SaxWriter, OutputReparsesToTheSameEvents)
{
    const std::string input =
        "<?xml version='1.0'?><!--head--><r xmlns:q='urn:q' a='&lt;&amp;&gt;&quot;&apos;&#9;&#10;&#13;'>"
        "x &lt;y&gt; &amp;&#13;z\xc3\xa9<?target data?><q:s q:t='1'><![CDATA[]]>]]&gt;</q:s><e></e>\n</r>";
    Recorder first;
    SaxReader reader;
    reader.SetContentHandler(&first);
    reader.SetLexicalHandler(&first);
    ASSERT_TRUE(reader.Parse(input));

    bool ok = false;
    const std::string written = Rewrite(input, &ok);
    ASSERT_TRUE(ok);
    Recorder second;
    reader.SetContentHandler(&second);
    reader.SetLexicalHandler(&second);
    ASSERT_TRUE(reader.Parse(written)) << written;
    EXPECT_EQ(first.events, second.events) << written;
    // And a DOM reads the same attribute value.
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(written));
    EXPECT_EQ(doc.DocumentElement()->GetAttribute("a"), "<&>\"'\t\n\r");
}

TEST(SaxWriter, ParseErrorLeavesWhatWasWritten)
{
    bool ok = true;
    const std::string out = Rewrite("<frame src='a'><images><item src='b'/></images><css>x</wrong></frame>", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, "<?xml version=\"1.0\" standalone=\"no\"?><frame src=\"a\"><images><item src=\"b\"/></images><css>x");
    const std::string open = Rewrite("<a><b x='1'>&bad</b></a>", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(open, "<?xml version=\"1.0\" standalone=\"no\"?><a><b x=\"1\">");
}
