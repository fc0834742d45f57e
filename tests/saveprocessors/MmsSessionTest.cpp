// The MMS exchange against scripted server bytes: segment boundaries
// anywhere, pings anywhere, servers that close, stall or lie about sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

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

// One exchange of a session with a scripted server.
struct Exchange {
    void Run()
    {
        mms::MmsSession session(transport, recorder, {sequence, streamCount, streamIds});
        session.Run("a", "/test.asf", "127.0.0.1");
        state = session.state();
    }
    std::vector<std::uint16_t> SentCommands() const
    {
        std::vector<std::uint16_t> commands;
        for (const Bytes& m : transport.sent)
            commands.push_back(mms::CommandNumberOf(m));
        return commands;
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

using Commands = std::vector<std::uint16_t>;

} // namespace

TEST(MmsSession, SegmentBoundariesAnywhereGiveTheSameExchange)
{
    // 0: everything in one segment, so bytes past an answer (the header
    // behind the answer to 0x15) must stay for the next read.
    for (const std::size_t split : {0, 1, 7}) {
        SCOPED_TRACE("split " + std::to_string(split));
        Exchange x;
        x.sequence = 42; // the previous job's count goes on
        ServerScript script;
        if (split == 0)
            x.transport.AddSegment(Join(script.Items()));
        else
            x.transport.AddSplit(Join(script.Items()), split);
        x.Run();
        EXPECT_EQ(x.recorder.errors, std::vector<std::string>{});
        EXPECT_TRUE(x.recorder.completed);
        EXPECT_EQ(x.state, mms::MmsSession::State::Ended);
        ASSERT_EQ(x.SentCommands(), (Commands{0x01, 0x02, 0x05, 0x15, 0x33, 0x07}));
        x.ExpectWholeRecords(script.header, 4);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(x.recorder.writes[1 + i], Packet(i));
        EXPECT_EQ(x.recorder.progress, script.header.size() + 4 * kPacketLength);
        EXPECT_TRUE(x.recorder.HasTrace("command sent, 196 bytes"));
        EXPECT_TRUE(x.recorder.HasTrace("everything done. Thank you for downloading a media file containing "
                                        "proprietary and patentend technology."));
        if (split == 0) {
            EXPECT_EQ(x.transport.receives, 1u);
        }
        for (std::size_t i = 0; i < x.transport.sent.size(); ++i)
            EXPECT_EQ(mms::ReadLe32(x.transport.sent[i], 20), 42 + i);
        EXPECT_EQ(x.sequence, 48u);
        // Stream selection and start carry the header's streams.
        EXPECT_EQ(x.streamCount, 2u);
        const Bytes& select = x.transport.sent[4];
        EXPECT_EQ(mms::ReadLe32(select, 40), 2u);
        EXPECT_EQ(mms::ReadLe32(select, 44), 0x0001FFFFu);
        EXPECT_EQ(Bytes(select.begin() + 48, select.end()), (Bytes{0, 0, 0xFF, 0xFF, 2, 0, 0, 0}));
        const Bytes& play = x.transport.sent[5];
        EXPECT_EQ(mms::ReadLe32(play, 40), 1u);
        EXPECT_EQ(mms::ReadLe32(play, 44), 0x0001FFFFu);
        EXPECT_EQ(Bytes(play.begin() + 48, play.end()), mms::StartPlayingPayload());
    }
}

TEST(MmsSession, PingsAnywhereAreAnsweredWithoutSwallowingAnswersAndAHeaderPacketEndingInInnerZeroOneOneGoesOn)
{
    Exchange x;
    ServerScript script;
    // A stream object's body holding 01 01, and the header packet boundary
    // right after it: the classic end-of-header rule would stop there.
    Bytes stream = StreamProperties(1);
    stream[60] = 0x01, stream[61] = 0x01;
    script.header = AsfHeader({stream, FileProperties(kPacketLength), StreamProperties(2)});
    const auto cut = script.header.begin() + 30 + 62;
    script.headerPieces = {Bytes(script.header.begin(), cut), Bytes(cut, script.header.end())};
    auto items = script.Items();
    // Answers arrive behind a ping in the same segment.
    for (std::size_t i : {0u, 1u, 2u, 6u}) {
        Bytes both = ServerMessage(mms::kPing);
        both.insert(both.end(), items[i].begin(), items[i].end());
        items[i] = both;
    }
    items.insert(items.begin() + 10, ServerMessage(mms::kPing)); // between media packets
    items.insert(items.begin() + 9, ServerMessage(0x05));        // a stray open-file answer while playing
    items.insert(items.begin() + 5, ServerMessage(mms::kPing)); // between the header packets
    for (const Bytes& item : items)
        x.transport.AddSegment(item);
    x.Run();
    EXPECT_EQ(x.recorder.errors, std::vector<std::string>{});
    EXPECT_TRUE(x.recorder.completed);
    EXPECT_EQ(x.SentCommands(), (Commands{0x01, 0x1B, 0x02, 0x1B, 0x05, 0x1B, 0x15, 0x1B, 0x33, 0x1B, 0x07, 0x1B}));
    const Bytes& pong = x.transport.sent[1];
    EXPECT_EQ(pong.size(), 48u);
    EXPECT_EQ(mms::ReadLe32(pong, 40), 0u);
    EXPECT_EQ(mms::ReadLe32(pong, 44), 0u);
    x.ExpectWholeRecords(script.header, 4);
}

TEST(MmsSession, ShortMediaPacketIsPaddedWithZerosAndLongOneCut)
{
    Exchange x;
    ServerScript script;
    script.packets = 0;
    auto items = script.Items();
    items.pop_back();
    items.push_back(DataItem(0x04, Bytes(100, 0xAA)));
    items.push_back(DataItem(0x04, Bytes(kPacketLength + 50, 0xBB)));
    items.push_back(ServerMessage(mms::kEndOfStream));
    x.transport.AddSegment(Join(items));
    x.Run();
    EXPECT_TRUE(x.recorder.completed);
    ASSERT_EQ(x.recorder.writes.size(), 3u);
    Bytes padded(kPacketLength, 0);
    std::fill_n(padded.begin(), 100, 0xAA);
    EXPECT_EQ(x.recorder.writes[1], padded);
    EXPECT_EQ(x.recorder.writes[2], Bytes(kPacketLength, 0xBB));
}

TEST(MmsSession, BrokenExchangesEndWithTheirErrorAndNoPartialRecord)
{
    constexpr int kNoWrites = -1;
    struct Case {
        const char* name;
        std::function<void(Exchange&, const Bytes& all, const std::vector<Bytes>& items)> setUp;
        std::vector<std::string> errors;
        std::optional<Commands> commands;
        std::optional<int> records; // whole records after the header
    };
    const std::size_t mediaItem = kPacketLength + 8;
    const std::vector<Case> cases = {
        {"server closes while the answer to 0x05 is awaited",
         [](Exchange& x, const Bytes&, const std::vector<Bytes>& items) {
             x.transport.AddSegment(items[0]);
             x.transport.AddSegment(items[1]);
         },
         {"alert! eof"}, Commands{0x01, 0x02, 0x05}, kNoWrites},
        {"server closes instead of answering 0x02",
         [](Exchange& x, const Bytes&, const std::vector<Bytes>&) { x.transport.AddSegment(ServerMessage(0x01)); },
         {"alert! eof"}, Commands{0x01, 0x02}, kNoWrites},
        {"socket error in the handshake",
         [](Exchange& x, const Bytes&, const std::vector<Bytes>&) {
             x.transport.endStatus = mms::IoStatus::Error;
             x.transport.endError = 104;
         },
         {"error = 104\n"}, std::nullopt, kNoWrites},
        {"socket error after the handshake",
         [](Exchange& x, const Bytes&, const std::vector<Bytes>&) {
             x.transport.AddSegment(ServerMessage(0x01));
             x.transport.AddSegment(ServerMessage(0x02));
             x.transport.endStatus = mms::IoStatus::Error;
         },
         {"Socket error"}, std::nullopt, kNoWrites},
        {"server closes inside the third media packet",
         [&](Exchange& x, const Bytes& all, const std::vector<Bytes>&) {
             x.transport.AddSegment(Bytes(all.begin(), all.end() - 48 /* end of stream */ - mediaItem - kPacketLength / 2));
         },
         {"read error in GetData()", "media data read failed"}, std::nullopt, 2},
        {"stop inside a media packet",
         [&](Exchange& x, const Bytes& all, const std::vector<Bytes>&) {
             // One byte per read, so a checkpoint falls inside every packet;
             // stop about two and a half packets from the end.
             x.transport.AddSplit(all, 1);
             x.recorder.stopAtCheckpoint = static_cast<long>(all.size() - 48 - mediaItem * 5 / 2);
         },
         {}, std::nullopt, 1},
        {"stop before the header",
         [](Exchange& x, const Bytes&, const std::vector<Bytes>&) { x.recorder.stopAtCheckpoint = 0; },
         // Answers count as read, the commands still go out, the header is empty.
         {"asf_header_len < 1"}, Commands{0x01, 0x02, 0x05, 0x15}, kNoWrites},
        {"failed write",
         [](Exchange& x, const Bytes& all, const std::vector<Bytes>&) {
             x.transport.AddSegment(all);
             x.recorder.failWrites = true;
         },
         {"write failed", "asf_header_len < 1"}, std::nullopt, std::nullopt},
        {"failed ping reply during the header",
         [](Exchange& x, const Bytes&, const std::vector<Bytes>& items) {
             std::vector<Bytes> withPing = items;
             withPing.insert(withPing.begin() + 4, ServerMessage(mms::kPing));
             x.transport.AddSegment(Join(withPing));
             x.transport.failSendFrom = 4; // 0x01, 0x02, 0x05, 0x15 go out; the pong does not
         },
         {"Write error", "Send command failed", "asf_header_len < 1"}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exchange x;
        ServerScript script;
        const auto items = script.Items();
        c.setUp(x, Join(items), items);
        x.Run();
        EXPECT_FALSE(x.recorder.completed);
        EXPECT_EQ(x.recorder.errors, c.errors);
        if (c.commands) {
            EXPECT_EQ(x.SentCommands(), *c.commands);
        }
        if (c.records == kNoWrites) {
            EXPECT_TRUE(x.recorder.writes.empty());
        } else if (c.records) {
            x.ExpectWholeRecords(script.header, static_cast<std::size_t>(*c.records));
        }
    }
}

TEST(MmsSession, HostileSizesEndTheJobWithAClearError)
{
    using Mutation = std::function<void(ServerScript&, std::vector<Bytes>&)>;
    struct Case {
        const char* name;
        Mutation mutate;
        std::string error;
    };
    const auto header = [](std::vector<Bytes> objects) -> Mutation {
        return [objects](ServerScript& s, std::vector<Bytes>& items) {
            s.header = AsfHeader(objects);
            items[4] = DataItem(0x02, s.header);
        };
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
         [](ServerScript&, std::vector<Bytes>& items) { items[4] = Join({DataItem(0x02, Bytes(5000, 0x22)), DataItem(0x02, Bytes(5000, 0x22))}); },
         "asf header longer than 8192 bytes"},
        {"header packet length below 8",
         [](ServerScript&, std::vector<Bytes>& items) { items[4][6] = 3; items[4][7] = 0; },
         "invalid packet length 3"},
        {"data-channel command longer than the buffer",
         [](ServerScript&, std::vector<Bytes>& items) { mms::Bytes& a = items[3]; a[8] = a[9] = a[10] = a[11] = 0xFF; },
         "message of 4294967311 bytes exceeds the 102400-byte buffer"},
        {"packet length beyond the buffer", header({FileProperties(200000), StreamProperties(1)}), "packet_length > 102400"},
        {"no file properties", header({StreamProperties(1)}), "packet_length < 1"},
        {"no stream object", header({FileProperties(kPacketLength)}), "no stream object in asf header"},
        {"object size zero", header({Object(asf::kStreamPropertiesObject, 0, 60), FileProperties(kPacketLength)}),
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
        Exchange x;
        ServerScript script;
        auto items = script.Items();
        c.mutate(script, items);
        x.transport.AddSegment(Join(items));
        x.Run();
        const auto& errors = x.recorder.errors;
        EXPECT_FALSE(x.recorder.completed);
        EXPECT_NE(std::find(errors.begin(), errors.end(), c.error), errors.end()) << ::testing::PrintToString(errors);
        for (std::size_t i = 1; i < x.recorder.writes.size(); ++i)
            EXPECT_EQ(x.recorder.writes[i].size(), kPacketLength);
    }
}
