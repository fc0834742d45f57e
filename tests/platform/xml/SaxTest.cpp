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
    std::vector<SaxAttributes::Attribute> lastAttributes;
    int stopAfter = -1; // stop when this many events were seen

    bool Add(std::string e)
    {
        events.push_back(std::move(e));
        return stopAfter < 0 || static_cast<int>(events.size()) < stopAfter;
    }
    bool StartDocument() override { return Add("startDocument"); }
    bool EndDocument() override { return Add("endDocument"); }
    bool StartElement(std::string_view uri, std::string_view local, std::string_view q,
                      const SaxAttributes& attrs) override
    {
        std::string e = "start {" + std::string(uri) + "}" + std::string(local) + " " + std::string(q);
        for (std::size_t i = 0; i < attrs.GetLength(); ++i)
            e += " [" + std::string(*attrs.GetURI(i)) + "|" + std::string(*attrs.GetLocalName(i)) + "|"
                + std::string(*attrs.GetQName(i)) + "|" + std::string(*attrs.GetType(i)) + "|"
                + std::string(*attrs.GetValue(i)) + "]";
        lastAttributes = attrs.Items();
        return Add(e);
    }
    bool EndElement(std::string_view, std::string_view local, std::string_view q) override
    {
        return Add("end " + std::string(local) + " " + std::string(q));
    }
    bool Characters(std::string_view t) override
    {
        // Text may arrive in pieces; join neighbours so cases stay readable.
        if (events.empty() || events.back().rfind("chars ", 0) != 0)
            return Add("chars " + std::string(t));
        events.back() += t;
        return stopAfter < 0 || static_cast<int>(events.size()) < stopAfter;
    }
    bool ProcessingInstruction(std::string_view t, std::string_view d) override
    {
        return Add("pi " + std::string(t) + " " + std::string(d));
    }
    bool SkippedEntity(std::string_view n) override { return Add("skipped " + std::string(n)); }
    bool Comment(std::string_view t) override { return Add("comment " + std::string(t)); }
};

// Parses `text` into `r`; the reader's error goes to `error`.
bool Record(std::string_view text, Recorder& r, std::string* error = nullptr)
{
    SaxReader reader;
    reader.SetContentHandler(&r);
    reader.SetLexicalHandler(&r);
    const bool ok = reader.Parse(text);
    if (error)
        *error = reader.LastError();
    return ok;
}

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

TEST(SaxReader, EventsArriveInDocumentOrderAndNoneFollowAFatalError)
{
    struct Case {
        const char* what;
        const char* text;
        bool ok;
        std::vector<std::string> events;
    } cases[] = {
        { "every kind of event",
          "<?xml version='1.0'?><?pi data here?><a x='1' y=\"a&amp;b&#9;&lt;\">t1<!--c--><b/><![CDATA[<raw>]]></a>", true,
          { "startDocument", "pi pi data here", "start {}a a [|x|x|CDATA|1] [|y|y|CDATA|a&b\t<]", "chars t1", "comment c",
            "start {}b b", "end b b", "chars <raw>", "end a a", "endDocument" } },
        { "entity of an external DTD that is not read is skipped",
          "<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.0 Strict//EN' 'http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd'>"
          "<p>a&nbsp;b</p>", true,
          { "startDocument", "start {}p p", "chars a", "skipped nbsp", "chars b", "end p p", "endDocument" } },
        { "entity of the internal DTD is an error that ends the events",
          "<!DOCTYPE a [<!ENTITY e 'v'>]><a>x&e;y<b/></a>", false, { "startDocument", "start {}a a", "chars x" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Recorder r;
        std::string error;
        EXPECT_EQ(Record(c.text, r, &error), c.ok) << error;
        EXPECT_EQ(r.events, c.events);
    }
}

TEST(SaxReader, NamespacedNamesAndAttributeLookup)
{
    Recorder r;
    ASSERT_TRUE(Record("<p:e xmlns:p='urn:p' p:a='1' src='s' b=''/>", r));
    ASSERT_EQ(r.events.size(), 4u);
    // The declaration carries the xmlns namespace, so a lookup of a local name never finds xmlns:name.
    EXPECT_EQ(r.events[1], "start {urn:p}e p:e [http://www.w3.org/2000/xmlns/|p|xmlns:p|CDATA|urn:p] [urn:p|a|p:a|CDATA|1] [|src|src|CDATA|s] [|b|b|CDATA|]");
    SaxAttributeList list;
    for (const auto& a : r.lastAttributes)
        list.AddAttribute(a.uri, a.localName, a.qName, a.type, a.value);
    EXPECT_EQ(list.GetValueFromName("", "src"), "s");
    EXPECT_EQ(list.GetValueFromName("urn:p", "a"), "1");
    EXPECT_FALSE(list.GetValueFromName("", "a")); // namespace must match
    EXPECT_FALSE(list.GetValueFromName("", "p"));
    EXPECT_EQ(list.GetValueFromName("", "b"), "");
    EXPECT_EQ(list.GetValueFromQName("p:a"), "1");
    EXPECT_FALSE(list.GetValue(4));
    EXPECT_FALSE(list.GetQName(99));
    EXPECT_EQ(list.GetName(2), "src");
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
        std::string error;
        EXPECT_FALSE(Record(text, r, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(r.events.empty() || r.events.back() != "endDocument") << text;
    }
}

TEST(SaxReader, HandlerFailureStopsTheParseAndNoHandlersAreNeeded)
{
    Recorder r;
    r.stopAfter = 2;
    EXPECT_FALSE(Record("<a><b/><c/></a>", r));
    EXPECT_EQ(r.events.size(), 2u);
    SaxReader bare;
    EXPECT_TRUE(bare.Parse("<a><b/>t</a>"));
    EXPECT_FALSE(bare.Parse("<a>"));
}

TEST(SaxWriter, StandaloneAndOmittedDeclarationsAndQuotesInAttributes)
{
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
    Recorder first, second;
    ASSERT_TRUE(Record(input, first));
    bool ok = false;
    const std::string written = Rewrite(input, &ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(Record(written, second)) << written;
    EXPECT_EQ(first.events, second.events) << written;
    // And a DOM reads the same attribute value.
    xml::Document doc;
    ASSERT_TRUE(doc.LoadXml(written));
    EXPECT_EQ(doc.DocumentElement()->GetAttribute("a"), "<&>\"'\t\n\r");
}

TEST(SaxWriter, WritesEmptyElementsCompactlyAndAParseErrorLeavesWhatWasWritten)
{
    bool ok = true;
    EXPECT_EQ(Rewrite("<frame src='a'><images><item src='b'/></images><css>x</wrong></frame>", &ok),
              "<?xml version=\"1.0\" standalone=\"no\"?><frame src=\"a\"><images><item src=\"b\"/></images><css>x");
    EXPECT_FALSE(ok);
    ok = true;
    EXPECT_EQ(Rewrite("<a><b x='1'>&bad</b></a>", &ok), "<?xml version=\"1.0\" standalone=\"no\"?><a><b x=\"1\">");
    EXPECT_FALSE(ok);
}
