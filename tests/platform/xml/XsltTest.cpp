#include "platform/xml/Document.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

using xml::Document;

namespace {

Document Load(const std::string& text)
{
    Document doc;
    EXPECT_TRUE(doc.LoadXml(text)) << doc.LastError() << "\n" << text;
    return doc;
}

const char* kListSheet = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="xml" omit-xml-declaration="yes"/>
<xsl:template match="/frame"><list src="{@src}"><xsl:apply-templates select="images/item"/></list></xsl:template>
<xsl:template match="item"><pic src="{@src}"/></xsl:template>
</xsl:stylesheet>)";

} // namespace

TEST(XmlTransform, XmlOutputOfStylesheetAndAnElementTransformsAsItsOwnDocument)
{
    Document source = Load("<?xml version='1.0'?><frame src='http://h/'><images><item src='a&amp;b.gif'/>"
                           "<item src='c.gif'/></images></frame>");
    Document sheet = Load(kListSheet);
    EXPECT_EQ(source.TransformNode(sheet).value_or("<failed>"),
              "<list src=\"http://h/\"><pic src=\"a&amp;b.gif\"/><pic src=\"c.gif\"/></list>");
    Document frame = Load("<r><frame src='x'><images><item src='1'/></images></frame></r>");
    EXPECT_EQ(frame.DocumentElement()->ChildElements().at(0).TransformNode(sheet).value_or("<failed>"),
              "<list src=\"x\"><pic src=\"1\"/></list>");
}

TEST(XmlTransform, HtmlOutputGivesHtmlText)
{
    Document source = Load("<r><t>Tom &amp; Jerry</t></r>");
    Document sheet = Load(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="html" encoding="UTF-16"/>
<xsl:template match="/"><div><br/><input type="checkbox" checked="checked"/><xsl:value-of select="r/t"/> &#233;</div></xsl:template>
</xsl:stylesheet>)");
    auto out = source.TransformNode(sheet);
    ASSERT_TRUE(out);
    // HTML serialisation: void elements without "/>", UTF-8 whatever was asked.
    EXPECT_NE(out->find("<div><br><input type=\"checkbox\" checked>Tom &amp; Jerry \xc3\xa9</div>"), std::string::npos)
        << *out;
}

TEST(XmlTransform, BrokenStylesheetOrEmptySourceFails)
{
    Document source = Load("<r/>");
    Document notXslt = Load("<not-a-stylesheet/>");
    EXPECT_FALSE(source.TransformNode(notXslt));
    Document badXPath = Load(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:template match="/"><xsl:value-of select="(("/></xsl:template></xsl:stylesheet>)");
    EXPECT_FALSE(source.TransformNode(badXPath));
    Document empty;
    EXPECT_FALSE(empty.TransformNode(Load(kListSheet)));
    // Failing and succeeding transformations leave both documents as they were.
    EXPECT_EQ(source.Xml(), "<r/>");
}

TEST(XmlTransform, StylesheetCannotReadOrWriteFiles)
{
    testsupport::TempDir dir;
    const auto secret = dir / "secret.xml";
    std::ofstream(secret) << "<s>TOPSECRET</s>";
    Document source = Load("<r/>");
    for (const std::string& uri : {std::string("file:///etc/passwd"), "file://" + secret.string(), secret.string()}) {
        Document sheet = Load(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:output method="text"/>
<xsl:template match="/">[<xsl:copy-of select="document(')" + uri + R"X(')"/>]</xsl:template></xsl:stylesheet>)X");
        auto out = source.TransformNode(sheet).value_or("");
        EXPECT_EQ(out.find("TOPSECRET"), std::string::npos);
        EXPECT_EQ(out.find("root:"), std::string::npos);
    }
    Document include = Load(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<xsl:include href="file://)" + secret.string() + R"("/><xsl:template match="/">x</xsl:template></xsl:stylesheet>)");
    EXPECT_FALSE(source.TransformNode(include));

    const auto target = dir / "written.txt";
    Document writer = Load(R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
  xmlns:exsl="http://exslt.org/common" extension-element-prefixes="exsl">
<xsl:template match="/"><exsl:document href=")" + target.string() + R"(">owned</exsl:document>ok</xsl:template></xsl:stylesheet>)");
    (void)source.TransformNode(writer);
    EXPECT_FALSE(std::filesystem::exists(target));
}
