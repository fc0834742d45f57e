#include "saveprocessors/MmsMessage.h"

#include <algorithm>
#include <string>

#include "platform/com/Utf.h"

namespace QVSaveProcessors::mms {

namespace {

constexpr std::string_view kPlayerIdentification =
    "NSPlayer/7.0.0.1956; {33715801-BAB3-9D85-24E9-03B90328270A}; Host: ";
// The funnel's transport and port: the client announces TCP on 1037.
constexpr std::string_view kFunnelSuffix = "\\TCP\\1037";

void AppendZeros(Bytes& out, std::size_t count)
{
    out.insert(out.end(), count, 0);
}

void AppendWide(Bytes& out, std::u16string_view text)
{
    for (const char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
}

} // namespace

std::uint16_t ReadLe16(ByteSpan bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t ReadLe32(ByteSpan bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint64_t ReadLe64(ByteSpan bytes, std::size_t offset)
{
    return static_cast<std::uint64_t>(ReadLe32(bytes, offset)) |
           static_cast<std::uint64_t>(ReadLe32(bytes, offset + 4)) << 32;
}

void AppendLe16(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendLe32(Bytes& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t L8(std::size_t payloadLength)
{
    return static_cast<std::uint32_t>((payloadLength + payloadLength % 8) / 8);
}

Bytes BuildCommandMessage(std::uint16_t command, std::uint32_t switches, std::uint32_t extra,
                          std::uint32_t sequence, ByteSpan payload)
{
    const std::uint32_t l8 = L8(payload.size());
    Bytes message;
    message.reserve(kMessageHeaderSize + payload.size());
    AppendLe32(message, 0x00000001);
    AppendLe32(message, kSignature);
    AppendLe32(message, static_cast<std::uint32_t>(payload.size() + 32));
    AppendLe32(message, kProtocolTag);
    AppendLe32(message, l8 + 4);
    AppendLe32(message, sequence);
    AppendZeros(message, 8); // timestamp
    AppendLe32(message, l8 + 2);
    AppendLe32(message, 0x00030000u | command); // direction: client to server
    AppendLe32(message, switches);
    AppendLe32(message, extra);
    message.insert(message.end(), payload.begin(), payload.end());
    return message;
}

Bytes Widen(std::string_view utf8)
{
    Bytes out;
    const std::u16string wide = Utf8ToUtf16(utf8);
    out.reserve(wide.size() * 2);
    AppendWide(out, wide);
    return out;
}

std::optional<Bytes> ConnectPayload(std::string_view hostName)
{
    std::string text = "\x1C\x03";
    text += kPlayerIdentification;
    text += hostName;
    if (text.size() + 1 > kTextBufferSize) // the buffer also holds a NUL
        return std::nullopt;
    Bytes payload = Widen(text);
    AppendZeros(payload, 8);
    return payload;
}

Bytes ConnectFunnelPayload(std::string_view clientIpv4)
{
    std::string text;
    text += '\x02';
    text += '\0';
    text += "\\\\";
    text += clientIpv4;
    text += kFunnelSuffix;
    text += '\0';
    text += '0';
    Bytes payload;
    AppendZeros(payload, 8);
    const Bytes wide = Widen(text);
    payload.insert(payload.end(), wide.begin(), wide.end());
    return payload;
}

Bytes OpenFilePayload(std::string_view urlPath)
{
    Bytes payload;
    AppendZeros(payload, 8);
    const Bytes wide = Widen(urlPath);
    payload.insert(payload.end(), wide.begin(), wide.end());
    AppendZeros(payload, 4);
    return payload;
}

Bytes ReadHeaderPayload()
{
    Bytes payload(40, 0);
    payload[32] = 0x02;
    return payload;
}

Bytes StreamSelectionPayload(std::span<const std::uint32_t> streamIds)
{
    Bytes payload(2, 0);
    for (std::size_t i = 1; i < streamIds.size(); ++i) {
        payload.push_back(0xFF);
        payload.push_back(0xFF);
        payload.push_back(static_cast<std::uint8_t>(streamIds[i] & 0xFF));
        AppendZeros(payload, 3);
    }
    return payload;
}

std::uint32_t StreamExtra(std::uint32_t firstStreamId)
{
    return 0xFFFFu + firstStreamId * 0x10000u;
}

Bytes StartPlayingPayload()
{
    Bytes payload;
    AppendZeros(payload, 8);
    payload.insert(payload.end(), 8, 0xFF);
    AppendZeros(payload, 4);
    AppendLe32(payload, 4);
    return payload;
}

MessageFrame FrameMessage(ByteSpan buffered, std::size_t limit)
{
    constexpr std::size_t kLengthEnd = 12;
    if (buffered.size() < kLengthEnd)
        return {MessageFrame::Status::NeedMore, kLengthEnd};
    if (ReadLe32(buffered, 4) != kSignature)
        return {MessageFrame::Status::BadSignature, 0};
    const std::uint64_t length = std::uint64_t{ReadLe32(buffered, 8)} + 16;
    if (length < kCommandOffset + 2)
        return {MessageFrame::Status::TooShort, length};
    if (length > limit)
        return {MessageFrame::Status::TooLong, length};
    if (buffered.size() < length)
        return {MessageFrame::Status::NeedMore, length};
    return {MessageFrame::Status::Complete, length};
}

std::uint16_t CommandNumberOf(ByteSpan message)
{
    return ReadLe16(message, kCommandOffset);
}

PreHeader ParsePreHeader(std::span<const std::uint8_t, kPreHeaderSize> bytes)
{
    PreHeader pre;
    std::copy(bytes.begin(), bytes.end(), pre.bytes.begin());
    switch (bytes[4]) {
    case 0x02:
        pre.kind = PreHeader::Kind::HeaderPacket;
        break;
    case 0x04:
        pre.kind = PreHeader::Kind::MediaPacket;
        break;
    default:
        pre.kind = PreHeader::Kind::Command;
        break;
    }
    pre.packetLength = ReadLe16(bytes, 6);
    pre.hasSignature = ReadLe32(bytes, 4) == kSignature;
    return pre;
}

CommandTail FrameCommandTail(std::uint32_t lengthField, std::size_t limit)
{
    // The rest must reach the command number (offset 24..25 of the rest) and,
    // with the pre-header and the length field, fit the command buffer.
    const std::uint64_t rest = std::uint64_t{lengthField} + 4;
    if (rest < kCommandOffset - 12 + 2)
        return {CommandTail::Status::TooShort, rest};
    if (rest + kPreHeaderSize + 4 > limit)
        return {CommandTail::Status::TooLong, rest};
    return {CommandTail::Status::Ok, rest};
}

std::uint16_t CommandNumberOfRest(ByteSpan rest)
{
    return ReadLe16(rest, kCommandOffset - 12);
}

Bytes MediaRecord(ByteSpan payload, std::uint32_t packetLength)
{
    Bytes record(packetLength, 0);
    const std::size_t copied = std::min<std::size_t>(payload.size(), packetLength);
    std::copy_n(payload.begin(), copied, record.begin());
    return record;
}

} // namespace QVSaveProcessors::mms
