// Command messages byte for byte, the framing of what a server sends, and
// the layout of the trace dumps.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "saveprocessors/MmsMessage.h"
#include "saveprocessors/MmsTrace.h"
#include "saveprocessors/UrlParts.h"
#include "tests/saveprocessors/MmsTestBytes.h"

namespace mms = QVSaveProcessors::mms;
using mms::Bytes;

namespace {

Bytes Hex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::string> Collect(void (*trace)(mms::ByteSpan, const mms::TraceSink&), const Bytes& message)
{
    std::vector<std::string> lines;
    trace(message, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

} // namespace

TEST(MmsMessage, L8IsTheFieldFormulaNotTheRoundedUpUnitCount)
{
    // (n + n mod 8) / 8: values a rounded-up count would get wrong.
    const std::pair<std::size_t, std::uint32_t> cases[] = {
        {0, 0}, {2, 0}, {4, 1}, {6, 1}, {10, 1}, {12, 2}, {24, 3}, {40, 5}, {64, 8}, {148, 19}};
    for (const auto& [n, expected] : cases)
        EXPECT_EQ(mms::L8(n), expected) << "n = " << n;
}

TEST(MmsMessage, ConnectForHostAHas148BytePayloadAnd180InTheLengthFieldAndRefusesAnOverlongHost)
{
    const auto payload = mms::ConnectPayload("a");
    ASSERT_TRUE(payload);
    ASSERT_EQ(payload->size(), 148u);
    const Bytes message = mms::BuildCommandMessage(mms::kConnect, 0, 0x0004000B, 7, *payload);
    ASSERT_EQ(message.size(), 48u + 148u);
    // Signature, length 180, "MMS ", L8 23, sequence 7, time 0, L8 21,
    // direction and command, switches, extra; then 1C 03 and the text, one
    // 16-bit unit per character, and 8 zero bytes.
    EXPECT_EQ(Bytes(message.begin(), message.begin() + 56),
              Hex("01000000cefa0bb0b40000004d4d53201700000007000000" "0000000000000000150000000100030000000000"
                  "0b000400" "1c0003004e005300"));
    std::string text;
    for (std::size_t i = 48; i + 8 < message.size(); i += 2) {
        EXPECT_EQ(message[i + 1], 0) << "at " << i;
        text += static_cast<char>(message[i]);
    }
    EXPECT_EQ(text, std::string("\x1C\x03", 2) + "NSPlayer/7.0.0.1956; {33715801-BAB3-9D85-24E9-03B90328270A}; Host: a");
    EXPECT_EQ(Bytes(message.end() - 8, message.end()), Bytes(8, 0));
    // A host that overflows the identification buffer is refused.
    EXPECT_TRUE(mms::ConnectPayload(std::string(900, 'h')));
    EXPECT_FALSE(mms::ConnectPayload(std::string(1000, 'h')));
}

TEST(MmsMessage, FunnelNamesTheClientAddressIn28WideCharacters)
{
    const Bytes payload = mms::ConnectFunnelPayload("192.168.100.1"); // 13 characters
    ASSERT_EQ(payload.size(), 64u);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 8), Bytes(8, 0));
    std::string text;
    for (std::size_t i = 8; i < payload.size(); i += 2)
        text += static_cast<char>(payload[i]);
    EXPECT_EQ(text, std::string("\x02\x00\\\\192.168.100.1\\TCP\\1037\x00" "0", 28));
    // Another address length changes the count: 8 + 2 x characters.
    EXPECT_EQ(mms::ConnectFunnelPayload("127.0.0.1").size(), 8u + 2 * 24u);
}

TEST(MmsMessage, PayloadsHaveTheirWireLayoutByteForByte)
{
    const auto parts = QVSaveProcessors::SplitUrl("mms://host/a.asf?x=1", true);
    ASSERT_TRUE(parts);
    const std::uint32_t one[] = {5}, two[] = {1, 2}, three[] = {1, 2, 3};
    Bytes readHeader(40, 0);
    readHeader[32] = 2;
    const Bytes eAcute = mms::OpenFilePayload("/\xC3\xA9.asf");
    const std::vector<std::tuple<const char*, Bytes, Bytes>> cases = {
        {"open file carries the path without the query", mms::OpenFilePayload(parts->urlPath),
         Hex("0000000000000000" "2f0061002e00610073006600" "00000000")},
        // "é" is two bytes of UTF-8 and one UTF-16 unit (E9 00); byte-wise
        // widening would send C3 00 A9 00, two wrong characters.
        {"non-ASCII path widened per character", Bytes(eAcute.begin() + 8, eAcute.end() - 4), Hex("2f00e9002e00610073006600")},
        {"character outside the BMP as a surrogate pair", mms::Widen("\xF0\x9F\x8E\xB5"), Hex("3cd8b5df")},
        {"selection of streams 1 and 2", mms::StreamSelectionPayload(two), Hex("0000ffff02000000")},
        {"selection of a single stream", mms::StreamSelectionPayload(one), Hex("0000")},
        {"read header", mms::ReadHeaderPayload(), readHeader},
        {"start playing", mms::StartPlayingPayload(), Hex("0000000000000000" "ffffffffffffffff" "00000000" "04000000")},
    };
    for (const auto& [what, actual, expected] : cases)
        EXPECT_EQ(actual, expected) << what;
    EXPECT_EQ(mms::StreamSelectionPayload(three).size(), 6u * 3 - 4);
    EXPECT_EQ(mms::StreamExtra(1), 0x0001FFFFu);
    EXPECT_EQ(mms::BuildCommandMessage(mms::kPing, 0, 0, 0, {}).size(), 48u);
}

TEST(MmsFraming, HostileLengthFieldsAreRefusedBeforeReading)
{
    Bytes message = mmstest::ServerMessage(0x01);
    message[8] = 0xFF, message[9] = 0xFF, message[10] = 0xFF, message[11] = 0xFF;
    EXPECT_EQ(mms::FrameMessage(message).status, mms::MessageFrame::Status::TooLong);
    message[8] = 0, message[9] = 0, message[10] = 0, message[11] = 0;
    EXPECT_EQ(mms::FrameMessage(message).status, mms::MessageFrame::Status::TooShort);
    message[4] = 0;
    EXPECT_EQ(mms::FrameMessage(message).status, mms::MessageFrame::Status::BadSignature);
    // Exactly the buffer is fine, one more is not.
    EXPECT_EQ(mms::FrameCommandTail(mms::kCommandBufferSize - 16).status, mms::CommandTail::Status::Ok);
    EXPECT_EQ(mms::FrameCommandTail(mms::kCommandBufferSize - 15).status, mms::CommandTail::Status::TooLong);
    EXPECT_EQ(mms::FrameCommandTail(0xFFFFFFFF).status, mms::CommandTail::Status::TooLong);
    EXPECT_EQ(mms::FrameCommandTail(21).status, mms::CommandTail::Status::TooShort);
}

TEST(MmsTrace, DumpsHaveFieldsCharactersAndHexLines)
{
    const Bytes message = mms::BuildCommandMessage(mms::kOpenFile, 0, 0, 3, mms::OpenFilePayload("/a"));
    auto lines = Collect(mms::TraceSentMessage, message);
    // 64 bytes: 64 hex items, 32 blanks, 4 line ends, the final empty line.
    ASSERT_EQ(lines.size(), 20u + 64 + 32 + 4 + 1);
    EXPECT_EQ(lines.back(), "");
    lines.resize(23);
    // Payload 00x8 "/a" 00x4: every second byte from 48: . . . . / a . .
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "command sent, 64 bytes", "start sequence 00000001\n", "command id     b00bface\n",
                         "length               30 \n", "len8                  6 \n", "sequence #     00000003\n",
                         "len8  (II)            4 \n", "dir | comm     00030005\n", "switches       00000000\n",
                         "ascii contents>", ".", ".", ".", ".", "/", "a", ".", ".", "",
                         "complete hexdump of package follows:", "01", "00", " "}));

    // An answer shows printable characters and hex for the others; offset
    // 48 is the first payload byte (40 and 44 hold hr and extra).
    const Bytes answer = mmstest::ServerMessage(0x06, {'O', 0, 'K', 0, 0x07, 0});
    lines = Collect(mms::TraceAnswer, answer);
    ASSERT_GT(lines.size(), 12u);
    EXPECT_EQ(lines[0], "answer received, " + std::to_string(answer.size()) + " bytes");
    EXPECT_EQ(lines[1], "start sequence 00000001");
    EXPECT_EQ(lines[7], "dir | comm     00040006");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 9, lines.begin() + 12), (std::vector<std::string>{"O", "K", " 07 "}));
    EXPECT_EQ(lines.back(), "");
}
