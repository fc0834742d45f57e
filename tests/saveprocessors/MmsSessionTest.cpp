// The MMS exchange against scripted server bytes: segment boundaries
// anywhere, pings anywhere, servers that close, stall or lie about sizes.
#include <gtest/gtest.h>

#include <algorithm>

#include "saveprocessors/MmsSession.h"
#include "tests/saveprocessors/MmsTestBytes.h"
#include "tests/support/ScriptedMmsTransport.h"

using namespace mmstest;
using testsupport::RecordingMmsHost;
using testsupport::ScriptedMmsTransport;

namespace {

constexpr std::uint32_t kPacketLength = 300;

Bytes Packet(int index, std::size_t length = kPacketLength)
{
    Bytes p(length);
    for (std::size_t i = 0; i < length; ++i)
        p[i] = static_cast<std::uint8_t>(index * 31 + i);
    return p;
}

Bytes Join(const std::vector<Bytes>& parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// What a well-behaved server sends for the whole exchange, item by item.
struct ServerScript {
    Bytes header = AsfHeader({FileProperties(kPacketLength), StreamProperties(1), StreamProperties(2)});
    std::vector<Bytes> headerPieces; // empty: the header in one packet
    int packets = 4;
    bool end = true;

    std::vector<Bytes> Items() const
    {
        std::vector<Bytes> items = {ServerMessage(0x01), ServerMessage(0x02), ServerMessage(0x06),
                                    ServerMessage(0x11)};
        if (headerPieces.empty()) {
            items.push_back(DataItem(0x02, header));
        } else {
            for (const Bytes& piece : headerPieces)
                items.push_back(DataItem(0x02, piece));
        }
        items.push_back(ServerMessage(0x21));
        items.push_back(ServerMessage(0x05));
        for (int i = 0; i < packets; ++i)
            items.push_back(DataItem(0x04, Packet(i)));
        if (end)
            items.push_back(ServerMessage(mms::kEndOfStream));
        return items;
    }
};

class MmsSessionTest : public ::testing::Test {
protected:
    void Run(const std::string& host = "a")
    {
        mms::MmsSession session(transport, recorder, {sequence, streamCount, streamIds});
        session.Run(host, "/test.asf", "127.0.0.1");
        state = session.state();
    }
    std::vector<std::uint16_t> SentCommands() const
    {
        std::vector<std::uint16_t> commands;
        for (const Bytes& m : transport.sent)
            commands.push_back(mms::CommandNumberOf(m));
        return commands;
    }
    bool HasError(const std::string& text) const
    {
        return std::find(recorder.errors.begin(), recorder.errors.end(), text) != recorder.errors.end();
    }
    // Header first, then whole records of kPacketLength.
    void ExpectWholeRecords(const Bytes& header, std::size_t records) const
    {
        ASSERT_EQ(recorder.writes.size(), 1 + records);
        EXPECT_EQ(recorder.writes[0], header);
        for (std::size_t i = 1; i < recorder.writes.size(); ++i)
            EXPECT_EQ(recorder.writes[i].size(), kPacketLength) << "record " << i;
    }

    ScriptedMmsTransport transport;
    RecordingMmsHost recorder;
    std::uint32_t sequence = 0;
    std::uint32_t streamCount = 0;
    std::array<std::uint32_t, asf::kMaxStreams> streamIds{};
    mms::MmsSession::State state = mms::MmsSession::State::Connected;
};

} // namespace

TEST_F(MmsSessionTest, EveryItemSplitIntoOneByteReadsStillCompletes)
{
    ServerScript script;
    transport.AddSplit(Join(script.Items()), 1);
    Run();
    EXPECT_TRUE(recorder.errors.empty()) << recorder.errors.front();
    EXPECT_TRUE(recorder.completed);
    EXPECT_EQ(state, mms::MmsSession::State::Ended);
    EXPECT_EQ(SentCommands(), (std::vector<std::uint16_t>{0x01, 0x02, 0x05, 0x15, 0x33, 0x07}));
    ExpectWholeRecords(script.header, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(recorder.writes[1 + i], Packet(i));
    EXPECT_EQ(recorder.progress, script.header.size() + 4 * kPacketLength);
    EXPECT_TRUE(recorder.HasTrace("command sent, 196 bytes"));
    EXPECT_TRUE(recorder.HasTrace("everything done. Thank you for downloading a media file containing "
                                  "proprietary and patentend technology."));
}

TEST_F(MmsSessionTest, StreamSelectionAndStartCarryTheHeaderStreams)
{
    ServerScript script;
    transport.AddSegment(Join(script.Items()));
    Run();
    ASSERT_EQ(transport.sent.size(), 6u);
    const Bytes& select = transport.sent[4];
    EXPECT_EQ(mms::ReadLe32(select, 40), 2u);
    EXPECT_EQ(mms::ReadLe32(select, 44), 0x0001FFFFu);
    EXPECT_EQ(Bytes(select.begin() + 48, select.end()), (Bytes{0, 0, 0xFF, 0xFF, 2, 0, 0, 0}));
    const Bytes& play = transport.sent[5];
    EXPECT_EQ(mms::ReadLe32(play, 40), 1u);
    EXPECT_EQ(mms::ReadLe32(play, 44), 0x0001FFFFu);
    EXPECT_EQ(streamCount, 2u);
}

TEST_F(MmsSessionTest, SequenceNumbersContinueFromThePreviousJob)
{
    sequence = 42;
    ServerScript script;
    transport.AddSegment(Join(script.Items()));
    Run();
    ASSERT_EQ(transport.sent.size(), 6u);
    for (std::size_t i = 0; i < transport.sent.size(); ++i)
        EXPECT_EQ(mms::ReadLe32(transport.sent[i], 20), 42 + i);
    EXPECT_EQ(sequence, 48u);
}

TEST_F(MmsSessionTest, PingInTheSameSegmentAsAnAnswerDoesNotSwallowIt)
{
    ServerScript script;
    auto items = script.Items();
    // Every answer arrives behind a ping, in one segment.
    for (std::size_t i : {0u, 1u, 2u, 5u}) {
        Bytes both = ServerMessage(mms::kPing);
        both.insert(both.end(), items[i].begin(), items[i].end());
        items[i] = both;
    }
    for (const Bytes& item : items)
        transport.AddSegment(item);
    Run();
    EXPECT_TRUE(recorder.completed);
    EXPECT_EQ(SentCommands(),
              (std::vector<std::uint16_t>{0x01, 0x1B, 0x02, 0x1B, 0x05, 0x1B, 0x15, 0x33, 0x1B, 0x07}));
    const Bytes& pong = transport.sent[1];
    EXPECT_EQ(pong.size(), 48u);
    EXPECT_EQ(mms::ReadLe32(pong, 40), 0u);
    EXPECT_EQ(mms::ReadLe32(pong, 44), 0u);
}

TEST_F(MmsSessionTest, AnswerAndHeaderInOneSegmentAreBothUsed)
{
    // A server may answer 0x15 and start the header at once; bytes past an
    // answer must stay for the next read.
    ServerScript script;
    transport.AddSegment(Join(script.Items()));
    Run();
    EXPECT_TRUE(recorder.completed);
    EXPECT_EQ(transport.receives, 1u);
}

TEST_F(MmsSessionTest, PingsDuringHeaderAndMediaAreAnswered)
{
    ServerScript script;
    script.headerPieces = {Bytes(script.header.begin(), script.header.begin() + 70),
                           Bytes(script.header.begin() + 70, script.header.end())};
    auto items = script.Items();
    items.insert(items.begin() + 5, ServerMessage(mms::kPing)); // between the header packets
    items.insert(items.begin() + 10, ServerMessage(mms::kPing)); // between media packets
    transport.AddSegment(Join(items));
    Run();
    EXPECT_TRUE(recorder.completed);
    const auto commands = SentCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), 0x1B), 2);
    ExpectWholeRecords(script.header, 4);
}

TEST_F(MmsSessionTest, HeaderPacketEndingInInnerZeroOneOneDoesNotEndTheHeader)
{
    ServerScript script;
    // A stream object's body holding 01 01, and a packet boundary right
    // after it: the classic rule would stop there and walk half a header.
    Bytes stream = StreamProperties(1);
    stream[60] = 0x01, stream[61] = 0x01;
    script.header = AsfHeader({stream, FileProperties(kPacketLength)});
    const std::size_t cut = 30 + 62;
    script.headerPieces = {Bytes(script.header.begin(), script.header.begin() + cut),
                           Bytes(script.header.begin() + cut, script.header.end())};
    transport.AddSegment(Join(script.Items()));
    Run();
    EXPECT_TRUE(recorder.errors.empty()) << recorder.errors.front();
    EXPECT_TRUE(recorder.completed);
    ExpectWholeRecords(script.header, 4);
}

TEST_F(MmsSessionTest, ShortMediaPacketIsPaddedWithZerosAndLongOneCut)
{
    ServerScript script;
    script.packets = 0;
    auto items = script.Items();
    items.pop_back();
    items.push_back(DataItem(0x04, Bytes(100, 0xAA)));
    items.push_back(DataItem(0x04, Bytes(kPacketLength + 50, 0xBB)));
    items.push_back(ServerMessage(mms::kEndOfStream));
    transport.AddSegment(Join(items));
    Run();
    EXPECT_TRUE(recorder.completed);
    ASSERT_EQ(recorder.writes.size(), 3u);
    Bytes padded(kPacketLength, 0);
    std::fill_n(padded.begin(), 100, 0xAA);
    EXPECT_EQ(recorder.writes[1], padded);
    EXPECT_EQ(recorder.writes[2], Bytes(kPacketLength, 0xBB));
}

TEST_F(MmsSessionTest, ServerClosingWhileAnAnswerIsAwaitedReportsAlertEof)
{
    ServerScript script;
    const auto items = script.Items();
    transport.AddSegment(items[0]);
    transport.AddSegment(items[1]);
    Run(); // the server closes while the client waits for the answer to 0x05
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"alert! eof"}));
    EXPECT_EQ(SentCommands(), (std::vector<std::uint16_t>{0x01, 0x02, 0x05}));
    EXPECT_TRUE(recorder.writes.empty());
    EXPECT_FALSE(recorder.completed);
}

TEST_F(MmsSessionTest, ServerClosingDuringTheHandshakeIsNoticedThere)
{
    transport.AddSegment(ServerMessage(0x01));
    Run(); // closes instead of answering 0x02
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"alert! eof"}));
    EXPECT_EQ(SentCommands(), (std::vector<std::uint16_t>{0x01, 0x02}));
}

TEST_F(MmsSessionTest, SocketErrorInTheHandshakeReportsItsCode)
{
    transport.endStatus = mms::IoStatus::Error;
    transport.endError = 104;
    Run();
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"error = 104\n"}));
}

TEST_F(MmsSessionTest, SocketErrorAfterTheHandshakeIsASocketError)
{
    transport.AddSegment(ServerMessage(0x01));
    transport.AddSegment(ServerMessage(0x02));
    transport.endStatus = mms::IoStatus::Error;
    Run();
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"Socket error"}));
}

TEST_F(MmsSessionTest, ServerClosingInsideAMediaPacketWritesNoPartialRecord)
{
    ServerScript script;
    Bytes all = Join(script.Items());
    // Cut in the middle of the third media packet.
    const std::size_t thirdPacketEnd = all.size() - 48 /* 0x1E */ - (kPacketLength + 8);
    all.resize(thirdPacketEnd - kPacketLength / 2);
    transport.AddSegment(all);
    Run();
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"read error in GetData()", "media data read failed"}));
    ExpectWholeRecords(script.header, 2);
    EXPECT_FALSE(recorder.completed);
}

TEST_F(MmsSessionTest, StopInsideAMediaPacketWritesOnlyWholePackets)
{
    ServerScript script;
    const Bytes all = Join(script.Items());
    // One byte per read, so a checkpoint falls inside every packet; stop
    // at one about two and a half packets from the end.
    transport.AddSplit(all, 1);
    recorder.stopAtCheckpoint = static_cast<long>(all.size() - 48 - (kPacketLength + 8) * 5 / 2);
    Run();
    EXPECT_TRUE(recorder.errors.empty());
    EXPECT_FALSE(recorder.completed);
    ExpectWholeRecords(script.header, 1);
}

TEST_F(MmsSessionTest, StopBeforeTheHeaderReportsAsfHeaderLenBelowOne)
{
    recorder.stopAtCheckpoint = 0;
    Run();
    // Answers count as read, the commands still go out, the header is empty.
    EXPECT_EQ(SentCommands(), (std::vector<std::uint16_t>{0x01, 0x02, 0x05, 0x15}));
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"asf_header_len < 1"}));
}

TEST_F(MmsSessionTest, HostileSizesEndTheJobWithAClearError)
{
    struct Case {
        const char* name;
        std::function<void(ServerScript&, std::vector<Bytes>&)> mutate;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"answer longer than the buffer",
         [](ServerScript&, std::vector<Bytes>& items) { mms::Bytes& a = items[0]; a[8] = a[9] = a[10] = 0xFF; a[11] = 0x7F; },
         "message of 2147483663 bytes exceeds the 102400-byte buffer"},
        {"answer too short for a command",
         [](ServerScript&, std::vector<Bytes>& items) { items[0][8] = 4; },
         "message of 20 bytes is too short to hold a command"},
        {"answer without signature",
         [](ServerScript&, std::vector<Bytes>& items) { items[1][5] = 0; },
         "missing signature"},
        {"header longer than its buffer",
         [](ServerScript& s, std::vector<Bytes>& items) {
             Bytes big(5000, 0x22);
             items[4] = Join({DataItem(0x02, big), DataItem(0x02, big)});
             (void)s;
         },
         "asf header longer than 8192 bytes"},
        {"header packet length below 8",
         [](ServerScript&, std::vector<Bytes>& items) { items[4][6] = 3; items[4][7] = 0; },
         "invalid packet length 3"},
        {"data-channel command longer than the buffer",
         [](ServerScript&, std::vector<Bytes>& items) { mms::Bytes& a = items[3]; a[8] = a[9] = a[10] = a[11] = 0xFF; },
         "message of 4294967311 bytes exceeds the 102400-byte buffer"},
        {"packet length beyond the buffer",
         [](ServerScript& s, std::vector<Bytes>& items) {
             s.header = AsfHeader({FileProperties(200000), StreamProperties(1)});
             items[4] = DataItem(0x02, s.header);
         },
         "packet_length > 102400"},
        {"no file properties",
         [](ServerScript& s, std::vector<Bytes>& items) {
             s.header = AsfHeader({StreamProperties(1)});
             items[4] = DataItem(0x02, s.header);
         },
         "packet_length < 1"},
        {"no stream object",
         [](ServerScript& s, std::vector<Bytes>& items) {
             s.header = AsfHeader({FileProperties(kPacketLength)});
             items[4] = DataItem(0x02, s.header);
         },
         "no stream object in asf header"},
        {"object size zero",
         [](ServerScript& s, std::vector<Bytes>& items) {
             s.header = AsfHeader({Object(asf::kStreamPropertiesObject, 0, 60), FileProperties(kPacketLength)});
             items[4] = DataItem(0x02, s.header);
         },
         "packet_length < 1"},
        {"media item without signature",
         [](ServerScript&, std::vector<Bytes>& items) { items[8][4] = 0x03; },
         "missing signature"},
        {"unknown command while playing",
         [](ServerScript&, std::vector<Bytes>& items) { items[8] = ServerMessage(0x20); },
         "unknown command 20\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedMmsTransport t;
        RecordingMmsHost r;
        ServerScript script;
        auto items = script.Items();
        c.mutate(script, items);
        t.AddSegment(Join(items));
        std::uint32_t seq = 0, count = 0;
        std::array<std::uint32_t, asf::kMaxStreams> ids{};
        mms::MmsSession session(t, r, {seq, count, ids});
        session.Run("a", "/t.asf", "127.0.0.1");
        EXPECT_FALSE(r.completed);
        EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), c.error), r.errors.end())
            << (r.errors.empty() ? std::string("no error") : r.errors.front());
        for (std::size_t i = 1; i < r.writes.size(); ++i)
            EXPECT_EQ(r.writes[i].size(), kPacketLength);
    }
}

TEST_F(MmsSessionTest, OpenFileCommandWhilePlayingIsIgnored)
{
    ServerScript script;
    auto items = script.Items();
    items.insert(items.begin() + 9, ServerMessage(0x05));
    transport.AddSegment(Join(items));
    Run();
    EXPECT_TRUE(recorder.completed);
    ExpectWholeRecords(script.header, 4);
}

TEST_F(MmsSessionTest, FailedWriteNeverCompletes)
{
    ServerScript script;
    transport.AddSegment(Join(script.Items()));
    recorder.failWrites = true;
    Run();
    EXPECT_FALSE(recorder.completed);
    EXPECT_NE(std::find(recorder.errors.begin(), recorder.errors.end(), "asf_header_len < 1"), recorder.errors.end());
}

TEST_F(MmsSessionTest, FailedPingReplyDuringTheHeaderIsReported)
{
    ServerScript script;
    auto items = script.Items();
    items.insert(items.begin() + 4, ServerMessage(mms::kPing));
    transport.AddSegment(Join(items));
    transport.failSendFrom = 4; // 0x01, 0x02, 0x05, 0x15 go out; the pong does not
    Run();
    EXPECT_EQ(recorder.errors, (std::vector<std::string>{"Write error", "Send command failed", "asf_header_len < 1"}));
}
