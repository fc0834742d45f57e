// Which control a browser would embed for given <object>/<embed> markup,
// and what its one source property answers.
#include "platform/html/ControlRecognizer.h"

#include <gtest/gtest.h>

using namespace html;

namespace {

ControlMarkup Object(std::vector<std::pair<std::string, std::string>> attrs,
                     std::vector<std::pair<std::string, std::string>> params = {})
{
    return ControlMarkup { "OBJECT", std::move(attrs), std::move(params) };
}

ControlMarkup Embed(std::vector<std::pair<std::string, std::string>> attrs)
{
    return ControlMarkup { "EMBED", std::move(attrs), {} };
}

TEST(ControlRecognizer, ClassIdsInEveryFormWinOverTypesAndExtensions)
{
    const std::pair<ControlMarkup, ControlKind> cases[] = {
        { Object({ { "classid", "clsid:D27CDB6E-AE6D-11cf-96B8-444553540000" } }), ControlKind::Flash },
        { Object({ { "classid", " CLSID:{02BF25D5-8C17-4B23-BC80-D3488ABDDC6B} " } }), ControlKind::QuickTime },
        { Object({ { "classid", "clsid:cfcdaa03-8be4-11cf-b84b-0020afbbccfa" } }), ControlKind::RealPlayer },
        { Object({ { "classid", "clsid:22D6F312-B0F6-11D0-94AB-0080C74C7E95" } }), ControlKind::MediaPlayer },
        { Object({ { "classid", "clsid:6BF52A52-394A-11d3-B153-00C04F79FAA6" } }), ControlKind::MediaPlayer },
        // The browser instantiates the named class, whatever the markup says it plays.
        { Object({ { "classid", "clsid:8AD9C840-044E-11D1-B3E9-00805F499D93" }, { "type", "application/x-shockwave-flash" },
                   { "data", "m.swf" } }), ControlKind::Unknown },
        { Embed({ { "type", "Video/QuickTime; codecs=x" } }), ControlKind::QuickTime },
        { Embed({ { "type", "audio/x-pn-realaudio-plugin" } }), ControlKind::RealPlayer },
        { Embed({ { "type", "video/x-ms-wmv" } }), ControlKind::MediaPlayer },
        { Embed({ { "src", "clips/a.MOV?x=1#t" } }), ControlKind::QuickTime },
        { Embed({ { "src", "live.ram" } }), ControlKind::RealPlayer },
        { Embed({ { "src", "list.asx" } }), ControlKind::MediaPlayer },
        { Object({ { "data", "intro.swf" } }), ControlKind::Flash },
        { Object({}, { { "movie", "intro.swf" } }), ControlKind::Flash },
        { Embed({ { "src", "swf.html" } }), ControlKind::Unknown },
        { Embed({ { "src", "dir.swf/page" } }), ControlKind::Unknown },
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(RecognizeControl(cases[i].first), cases[i].second) << "case " << i;
}

TEST(ControlRecognizer, EachKindReadsItsOwnSourceInItsOwnOrderAndOnlyRealPlayerMayHaveNone)
{
    auto source = [](const ControlMarkup& m) {
        EmbeddedControl c = MakeControl(m);
        return c.source.ok() ? *c.source : "<no answer>";
    };
    const std::pair<ControlMarkup, const char*> cases[] = {
        { Object({ { "classid", "clsid:D27CDB6E-AE6D-11cf-96B8-444553540000" }, { "data", "d.swf" } },
                 { { "SRC", "s.swf" }, { "Movie", " m.swf " } }), "m.swf" },
        { Embed({ { "type", "video/quicktime" }, { "src", "poster.mov" }, { "qtsrc", "rtsp://h/real.mov" } }), "rtsp://h/real.mov" },
        { Object({ { "classid", "clsid:6BF52A52-394A-11d3-B153-00C04F79FAA6" } }, { { "URL", "talk.wmv" } }), "talk.wmv" },
        { Object({ { "classid", "clsid:22D6F312-B0F6-11D0-94AB-0080C74C7E95" } }, { { "url", "u.wmv" }, { "FILENAME", "f.wmv" } }), "f.wmv" },
        // A RealPlayer console plays nothing itself; a Flash movie without a source answers "".
        { Object({ { "classid", "clsid:CFCDAA03-8BE4-11cf-B84B-0020AFBBCCFA" } }, { { "controls", "ControlPanel" } }), "<no answer>" },
        { Object({ { "classid", "clsid:D27CDB6E-AE6D-11cf-96B8-444553540000" } }), "" },
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(source(cases[i].first), cases[i].second) << "case " << i;
    EXPECT_EQ(MakeControl(cases[4].first).kind, ControlKind::RealPlayer);
    EmbeddedControl flash = MakeControl(cases[5].first);
    EXPECT_TRUE(flash.Answers(ControlKind::Flash));
    EXPECT_FALSE(flash.Answers(ControlKind::MediaPlayer));
    EXPECT_EQ(flash.classId, "clsid:D27CDB6E-AE6D-11cf-96B8-444553540000");
}

} // namespace
