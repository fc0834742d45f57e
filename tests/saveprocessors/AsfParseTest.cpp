// The ASF header walk and the end-of-header rule on built headers (the MMS
// processor tests walk a header made by ffmpeg).
#include <gtest/gtest.h>

#include "saveprocessors/AsfHeader.h"
#include "tests/saveprocessors/MmsTestBytes.h"

namespace asf = QVSaveProcessors::asf;
namespace mms = QVSaveProcessors::mms;
using mms::Bytes;
using namespace mmstest;

namespace {

struct Walk {
    asf::HeaderInfo info;
    std::vector<std::string> traces;
    int checkpoints = 0;
};

Walk RunWalk(const Bytes& header, int stopAfter = -1)
{
    Walk walk;
    walk.info = asf::WalkAsfHeader(
        header, [&] { return stopAfter < 0 || walk.checkpoints++ < stopAfter; },
        [&](std::string_view line) { walk.traces.emplace_back(line); });
    return walk;
}

bool Has(const Walk& walk, const std::string& line)
{
    return std::find(walk.traces.begin(), walk.traces.end(), line) != walk.traces.end();
}

} // namespace

TEST(AsfHeaderWalk, TakesPacketLengthAt92AndWholeStreamFlagsAt72AndTheLastFilePropertiesWins)
{
    Walk walk = RunWalk(AsfHeader({FileProperties(3200), StreamProperties(1), StreamProperties(2)}));
    EXPECT_EQ(walk.info.packetLength, 3200u);
    EXPECT_EQ(walk.info.streamIds, (std::vector<std::uint32_t>{1, 2}));
    for (const char* line : {"file object, packet length = 3200 (3200)\n", "stream object, stream id: 2\n",
                             "guid found: 6553200cc000e48e11cfa9478cabdca1\n", "length    : 104",
                             "data object"}) // the walk runs on into the Data Object's fixed part
        EXPECT_TRUE(Has(walk, line)) << line;

    walk = RunWalk(AsfHeader({FileProperties(100), StreamProperties(0x8003), FileProperties(200)}));
    EXPECT_EQ(walk.info.packetLength, 200u);
    EXPECT_EQ(walk.info.streamIds, (std::vector<std::uint32_t>{0x8003}));
}

TEST(AsfHeaderWalk, DamagedCutOrStoppedHeadersEndTheWalkWithoutReadingPastIt)
{
    struct Case {
        const char* name;
        Bytes header;
        int stopAfter;
        std::size_t streams; // found before the walk ended
    };
    Bytes cutInFileProperties = AsfHeader({StreamProperties(1), FileProperties(3200)});
    cutInFileProperties.resize(30 + 80 + 60); // before its packet length
    Bytes cutInGuid = cutInFileProperties;
    cutInGuid.resize(30 + 80 + 10);
    std::vector<Case> cases = {
        // 2^32 + 24: its low 32 bits alone would step 24 bytes on and re-read
        // the body as objects.
        {"huge object size", AsfHeader({Object(asf::kStreamPropertiesObject, 0x100000018ull, 56), FileProperties(3200)}), -1, 1},
        {"cut inside an object", cutInFileProperties, -1, 1},
        {"cut inside a GUID", cutInGuid, -1, 1},
        {"stopped before the file properties", AsfHeader({StreamProperties(1), FileProperties(3200)}), 1, 1},
        {"nothing after the fixed part", Bytes(30, 0), -1, 0},
    };
    for (const std::uint64_t size : {0ull, 1ull, 23ull})
        cases.push_back({"object size below 24", AsfHeader({Object(asf::kStreamPropertiesObject, size, 56), FileProperties(3200)}), -1, 1});
    for (const Case& c : cases) {
        const Walk walk = RunWalk(c.header, c.stopAfter);
        EXPECT_EQ(walk.info.packetLength, 0u) << c.name << ": the file properties after the damage were read";
        EXPECT_EQ(walk.info.streamIds.size(), c.streams) << c.name;
    }
    EXPECT_TRUE(Has(RunWalk(cases.back().header), "object size below 24, header walk ends"));
}

TEST(AsfHeaderWalk, KeepsAtMostTwentyStreams)
{
    std::vector<Bytes> objects = {FileProperties(512)};
    for (int i = 1; i <= 25; ++i)
        objects.push_back(StreamProperties(static_cast<std::uint16_t>(i)));
    const Walk walk = RunWalk(AsfHeader(objects));
    ASSERT_EQ(walk.info.streamIds.size(), asf::kMaxStreams);
    EXPECT_EQ(walk.info.streamIds.back(), 20u);
    EXPECT_TRUE(Has(walk, "stream object ignored, more than 20 streams: 21\n"));
}

TEST(AsfHeaderComplete, EndsOnlyAfterTheDataObjectFixedPart)
{
    const Bytes header = AsfHeader({FileProperties(3200), StreamProperties(1)});
    EXPECT_TRUE(asf::IsHeaderComplete(header));
    // The classic rule alone would end at any 01 01 inside the header: the
    // Header Object's reserved bytes here are 01 02, so plant 01 01 in a body.
    Bytes early(header.begin(), header.begin() + 100);
    early[98] = 0x01, early[99] = 0x01;
    EXPECT_FALSE(asf::IsHeaderComplete(early));
    // The Header Object's GUID and a size cut off after 01 01 is not complete.
    Bytes guidAndHalfSize(asf::kHeaderObject.begin(), asf::kHeaderObject.end());
    guidAndHalfSize.push_back(0x01);
    guidAndHalfSize.push_back(0x01);
    EXPECT_FALSE(asf::IsHeaderComplete(guidAndHalfSize));
    // Without 01 01 at the end nothing is complete.
    Bytes noEnd = header;
    noEnd.back() = 0x02;
    EXPECT_FALSE(asf::IsHeaderComplete(noEnd));
    // Bytes that are not an ASF header keep the classic rule.
    EXPECT_TRUE(asf::IsHeaderComplete(Bytes{0xAA, 0xBB, 0x01, 0x01}));
    EXPECT_FALSE(asf::IsHeaderComplete(Bytes{0x01}));
}
