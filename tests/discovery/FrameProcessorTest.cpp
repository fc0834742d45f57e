#include "discovery/CSSExtractor.h"
#include "discovery/DomExtractor.h"
#include "discovery/ExtractorGroup.h"
#include "discovery/FlashesExtractor.h"
#include "discovery/FrameProcessor.h"
#include "discovery/MediaPlayerExtractor.h"
#include "discovery/QuickTimeExtractor.h"
#include "discovery/RealPlayerExtractor.h"
#include "discovery/ImagesExtractor.h"
#include "discovery/ObjectsExtractor.h"
#include "discovery/ScriptsExtractor.h"
#include "tests/discovery/PageModel.h"

#include <gtest/gtest.h>

using namespace QVXMLInfoExtractors;
using namespace discoverytest;

namespace {

constexpr const char* kDecl = "<?xml version='1.0'?>";

// The five standard members, added in an order unlike the run order.
struct Members {
    CImagesExtractor images;
    CCSSExtractor css;
    CScriptsExtractor scripts;
    CDomExtractor dom;
    CObjectsExtractor objects;
    CFlashesExtractor flash;
    CQuickTimeExtractor quickTime;
    CRealPlayerExtractor real;
    CMediaPlayerExtractor media;

    void AddTo(CExtractorGroup& group)
    {
        ControlProcessorSet controls;
        controls.Insert(&flash);
        controls.Insert(&quickTime);
        controls.Insert(&real);
        controls.Insert(&media);
        objects.SetObjectProcessors(controls);
        group.AddExtractor(&objects);
        group.AddExtractor(&css);
        group.AddExtractor(&images);
        group.AddExtractor(&scripts);
        group.AddExtractor(&dom);
    }
};

// What the five sections of an empty page look like.
const std::string kEmptySections =
    "<HTMLDOM><HTML/></HTMLDOM><images/><scripts/><css/><objects><qts/><flashes/><rps/><mps/></objects>";

} // namespace

TEST(ExtractorGroup, MembersRunInKindOrderWhateverTheAddingOrderAndASecondRunReplacesTheFirst)
{
    Members m;
    CExtractorGroup group("frame");
    m.AddTo(group);
    auto first = EmptyPage("one");
    first->images = std::vector<html::Image>{LoadedImage("1.gif")};
    group.Process(*first);
    auto page = EmptyPage("http://h/");
    group.Process(*page);
    EXPECT_EQ(group.GetXml(), std::string(kDecl) + "<frame><HTMLDOM><HTML/></HTMLDOM><images/><scripts/><css/>"
                                                   "<objects><qts/><flashes/><rps/><mps/></objects></frame>");
}

TEST(ExtractorGroup, AddingTwiceOrSelfOrNullChangesNothingAndMutualGroupsEndInsteadOfRecursing)
{
    CImagesExtractor images;
    CExtractorGroup group("g");
    group.AddExtractor(&images);
    group.AddExtractor(&images);
    group.AddExtractor(&group);
    group.AddExtractor(nullptr);
    auto page = EmptyPage("u");
    group.Process(*page);
    EXPECT_EQ(group.GetXml(), std::string(kDecl) + "<g><images/></g>");
    EXPECT_EQ(group.RemoveExtractor(&group), 0u);
    EXPECT_EQ(group.RemoveExtractor(nullptr), 0u);
    EXPECT_EQ(group.RemoveExtractor(&images), 1u);
    EXPECT_EQ(group.RemoveExtractor(&images), 0u);
    group.Process(*page);
    EXPECT_EQ(group.GetXml(), std::string(kDecl) + "<g/>");

    CExtractorGroup other("b");
    group.AddExtractor(&other);
    other.AddExtractor(&group);
    other.AddExtractor(&images);
    group.Process(*page);
    EXPECT_EQ(group.GetXml(), std::string(kDecl) + "<g><b><images/><g/></b></g>");
}

class FrameProcessorTest : public ::testing::Test {
protected:
    std::string Run(const html::Document& page, std::uint32_t mask = 3)
    {
        CFrameProcessor frames(mask);
        members.AddTo(frames);
        frames.Process(page);
        return frames.GetXml();
    }

    Members members;
};

TEST_F(FrameProcessorTest, MaskDecidesImportOnlyAndRefusedOrHostlessFramesAreLeftOut)
{
    auto page = EmptyPage("http://h/");
    auto iframeDoc = EmptyPage("http://h/i.html");
    auto nested = EmptyPage("http://h/n.html");
    iframeDoc->frames = std::vector<html::Frame>{};
    iframeDoc->frames->push_back(FrameOf(std::move(nested), "n.html"));
    page->frames = std::vector<html::Frame>{};
    page->frames->push_back(FrameOf(EmptyPage("http://h/f.html"), "f.html"));
    page->frames->push_back(FrameOf(std::move(iframeDoc), "i.html", true));
    html::Frame hostless; // processed, but there is no element to import it at
    hostless.document = EmptyPage("http://h/x.html");
    page->frames->push_back(std::move(hostless));

    const std::string all = Run(*page);
    EXPECT_NE(all.find("n.html"), std::string::npos);
    EXPECT_EQ(all.find("x.html"), std::string::npos);

    const std::string framesOnly = Run(*page, CFrameProcessor::kFrames);
    EXPECT_NE(framesOnly.find("<frame src=\"f.html\">"), std::string::npos);
    EXPECT_EQ(framesOnly.find("i.html"), std::string::npos);
    EXPECT_EQ(framesOnly.find("n.html"), std::string::npos);

    const std::string iframesOnly = Run(*page, CFrameProcessor::kIFrames);
    EXPECT_EQ(iframesOnly.find("f.html"), std::string::npos);
    // The iframe's own frame element is dropped by mask 2 only at its level.
    EXPECT_NE(iframesOnly.find("<frame src=\"i.html\" iframe=\"\">"), std::string::npos);
    EXPECT_EQ(iframesOnly.find("n.html"), std::string::npos);

    // Mask 0 or a refused frame collection: the outermost frame alone.
    const std::string alone = std::string(kDecl) + "<frame src=\"http://h/\">" + kEmptySections + "</frame>";
    EXPECT_EQ(Run(*page, 0), alone);
    page->frames = html::Read<std::vector<html::Frame>>::Fail(E_ACCESSDENIED);
    EXPECT_EQ(Run(*page), alone);
}

TEST_F(FrameProcessorTest, SelfContainingPageIsWalkedToTheModelsDepthWithinBound)
{
    // A page framing itself, as deep as the loader nested it.
    std::unique_ptr<html::Document> page = EmptyPage("http://h/");
    const int levels = CFrameProcessor::kMaxFrameDepth + 5;
    for (int i = 0; i < levels; ++i) {
        auto outer = EmptyPage("http://h/");
        outer->frames = std::vector<html::Frame>{};
        outer->frames->push_back(FrameOf(std::move(page), "self.html"));
        page = std::move(outer);
    }
    const std::string out = Run(*page);
    std::size_t count = 0;
    for (std::size_t at = out.find("<frame src=\"self.html\""); at != std::string::npos;
         at = out.find("<frame src=\"self.html\"", at + 1))
        ++count;
    EXPECT_EQ(count, static_cast<std::size_t>(CFrameProcessor::kMaxFrameDepth));
}

