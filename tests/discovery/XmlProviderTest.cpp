#include "discovery/XmlProvider.h"

#include <gtest/gtest.h>

using QVXMLInfoExtractors::CXmlProvider;

namespace {

// InitDocument is the provider's own business; a section writer reaches it
// through a subclass, as the extractors do.
class Section : public CXmlProvider {
public:
    using CXmlProvider::CXmlProvider;
    using CXmlProvider::InitDocument;
};

} // namespace

TEST(XmlProvider, ElementsAppendOnlyWhenAskedAndReinitialisingEmptiesTheSection)
{
    Section section("s");
    auto loose = section.CreateElement("loose", false);
    ASSERT_TRUE(loose && section.CreateElement("kept", true));
    EXPECT_FALSE(section.CreateElement("#text", true));
    EXPECT_FALSE(section.CreateElement("", true));
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><s><kept/></s>");
    EXPECT_TRUE(section.AppendToRoot(*loose));
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><s><kept/><loose/></s>");
    section.InitDocument();
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><s/>");
}

TEST(XmlProvider, ImportOfBrokenTextOrIntoARootlessSectionAddsNothing)
{
    Section section("frame");
    auto imported = section.ImportXml("<?xml version='1.0'?><images><item src=\"a&amp;b\"/></images>");
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->Name(), "images");
    for (const char* broken : {"", "<images>", "not xml", "<a/><b/>"})
        EXPECT_FALSE(section.ImportXml(broken)) << broken;
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><frame><images><item src=\"a&amp;b\"/></images></frame>");

    Section rootless("not a name");
    EXPECT_FALSE(rootless.GetRoot());
    EXPECT_EQ(rootless.GetXml(), "<?xml version='1.0'?>");
    auto element = rootless.CreateElement("x", true);
    ASSERT_TRUE(element);
    EXPECT_FALSE(rootless.AppendToRoot(*element));
    EXPECT_FALSE(rootless.ImportXml("<a/>"));
}
