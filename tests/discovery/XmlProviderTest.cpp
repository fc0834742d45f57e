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

TEST(XmlProvider, FreshOrReinitialisedSectionIsDeclarationAndEmptyRoot)
{
    Section section("images");
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><images/>");
    ASSERT_TRUE(section.GetRoot());
    EXPECT_EQ(section.GetRoot()->Name(), "images");
    ASSERT_TRUE(section.CreateElement("item", true));
    section.InitDocument();
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><images/>");
}

TEST(XmlProvider, CreateElementAppendsOnlyWhenAsked)
{
    Section section("s");
    auto loose = section.CreateElement("loose", false);
    auto kept = section.CreateElement("kept", true);
    ASSERT_TRUE(loose && kept);
    EXPECT_FALSE(section.CreateElement("#text", true));
    EXPECT_FALSE(section.CreateElement("", true));
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><s><kept/></s>");
    EXPECT_TRUE(section.AppendToRoot(*loose));
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><s><kept/><loose/></s>");
}

TEST(XmlProvider, ImportXmlCopiesRootOrAddsNothing)
{
    Section section("frame");
    auto imported = section.ImportXml("<?xml version='1.0'?><images><item src=\"a&amp;b\"/></images>");
    ASSERT_TRUE(imported);
    EXPECT_EQ(imported->Name(), "images");
    for (const char* broken : {"", "<images>", "not xml", "<a/><b/>"})
        EXPECT_FALSE(section.ImportXml(broken)) << broken;
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?><frame><images><item src=\"a&amp;b\"/></images></frame>");
}

TEST(XmlProvider, IllegalRootNameGivesSectionWithoutRoot)
{
    Section section("not a name");
    EXPECT_FALSE(section.GetRoot());
    EXPECT_EQ(section.GetXml(), "<?xml version='1.0'?>");
    auto element = section.CreateElement("x", true);
    ASSERT_TRUE(element);
    EXPECT_FALSE(section.AppendToRoot(*element));
    EXPECT_FALSE(section.ImportXml("<a/>"));
}
