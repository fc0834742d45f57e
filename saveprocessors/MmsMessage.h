#pragma once
// Bytes of the MMS TCP protocol ([MS-MMSP]): building the command messages
// the client sends, and the pure framing rules for what the server sends
// (answers, and the data-channel items that carry ASF header and media
// packets). Nothing here touches a socket.
//
// Thread: any (pure functions, no shared state).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace QVSaveProcessors::mms {

using Bytes = std::vector<std::uint8_t>;
using ByteSpan = std::span<const std::uint8_t>;

inline constexpr std::uint16_t kPort = 1755;
inline constexpr std::uint32_t kSignature = 0xB00BFACE;
inline constexpr std::uint32_t kProtocolTag = 0x20534D4D; // "MMS "
// Fixed part of every command message, in front of the payload.
inline constexpr std::size_t kMessageHeaderSize = 48;
// Offset of the 16-bit command number inside a message.
inline constexpr std::size_t kCommandOffset = 36;
// Working buffers of one job. They bound everything a server controls.
inline constexpr std::size_t kCommandBufferSize = 102'400;
inline constexpr std::size_t kAsfHeaderBufferSize = 8'192;
inline constexpr std::size_t kTextBufferSize = 1'024;
// A data-channel item starts with this many bytes (the "pre-header").
inline constexpr std::size_t kPreHeaderSize = 8;

// Command numbers the client sends or reacts to.
enum Command : std::uint16_t {
    kConnect = 0x01,
    kConnectFunnel = 0x02,
    kOpenFile = 0x05,
    kStartPlaying = 0x07,
    kReadHeader = 0x15,
    kPing = 0x1B,
    kEndOfStream = 0x1E,
    kStreamSelection = 0x33,
};

[[nodiscard]] std::uint16_t ReadLe16(ByteSpan bytes, std::size_t offset);
[[nodiscard]] std::uint32_t ReadLe32(ByteSpan bytes, std::size_t offset);
[[nodiscard]] std::uint64_t ReadLe64(ByteSpan bytes, std::size_t offset);
void AppendLe16(Bytes& out, std::uint16_t value);
void AppendLe32(Bytes& out, std::uint32_t value);

// The 8-byte unit count at offsets 16 and 32: (n + n mod 8) / 8. It is not
// the rounded-up count (n = 4 gives 1, n = 12 gives 2), but servers accept
// it and peers in the field send it, so it stays as it is.
[[nodiscard]] std::uint32_t L8(std::size_t payloadLength);

// One whole command message: 48 fixed bytes followed by `payload`.
[[nodiscard]] Bytes BuildCommandMessage(std::uint16_t command, std::uint32_t switches,
                                        std::uint32_t extra, std::uint32_t sequence,
                                        ByteSpan payload);

// UTF-8 text as UTF-16LE code units (a non-ASCII path stays one character
// per character instead of one per byte). Invalid UTF-8 becomes U+FFFD.
[[nodiscard]] Bytes Widen(std::string_view utf8);

// Payload of command 0x01: 1C 03 and the player identification naming
// `hostName`, widened, then 8 zero bytes. Nullopt when the text would not
// fit the 1,024-byte identification buffer.
[[nodiscard]] std::optional<Bytes> ConnectPayload(std::string_view hostName);
// Payload of command 0x02: 8 zero bytes, then 02 00 \\<ipv4>\TCP\1037 00 '0'
// widened.
[[nodiscard]] Bytes ConnectFunnelPayload(std::string_view clientIpv4);
// Payload of command 0x05: 8 zero bytes, the URL path widened, 4 zero bytes.
[[nodiscard]] Bytes OpenFilePayload(std::string_view urlPath);
// Payload of command 0x15: 40 bytes, byte 32 = 2.
[[nodiscard]] Bytes ReadHeaderPayload();
// Payload of command 0x33 for at least one stream number: 00 00, then
// FF FF <low byte> 00 00 00 for every number after the first.
[[nodiscard]] Bytes StreamSelectionPayload(std::span<const std::uint32_t> streamIds);
// `extra` argument of commands 0x33 and 0x07.
[[nodiscard]] std::uint32_t StreamExtra(std::uint32_t firstStreamId);
// Payload of command 0x07: 8 zero bytes, 8 bytes FF, 4 zero bytes, 04 00 00 00.
[[nodiscard]] Bytes StartPlayingPayload();

// --- What the server sends -------------------------------------------------

// Framing of an answer held (partly) in a buffer: the length field at
// offset 8 counts the message without its first 16 bytes.
struct MessageFrame {
    enum class Status {
        NeedMore,     // `length` bytes are needed before anything is known
        Complete,     // the first `length` bytes are one whole message
        BadSignature, // bytes 4..7 are not CE FA 0B B0: no framing possible
        TooShort,     // the message could not hold a command number
        TooLong,      // the message would not fit the command buffer
    };
    Status status = Status::NeedMore;
    std::uint64_t length = 0;
};
[[nodiscard]] MessageFrame FrameMessage(ByteSpan buffered, std::size_t limit = kCommandBufferSize);

// Command number of a whole message (offset 36).
[[nodiscard]] std::uint16_t CommandNumberOf(ByteSpan message);

// The 8 bytes in front of every data-channel item.
struct PreHeader {
    enum class Kind { HeaderPacket, MediaPacket, Command };
    std::array<std::uint8_t, kPreHeaderSize> bytes{};
    Kind kind = Kind::Command;
    // Header and media packets: the packet length, pre-header included.
    std::uint16_t packetLength = 0;
    // Command messages: bytes 4..7 hold the signature.
    bool hasSignature = false;
};
[[nodiscard]] PreHeader ParsePreHeader(std::span<const std::uint8_t, kPreHeaderSize> bytes);

// A command message on the data channel, after the pre-header: its length
// field (4 bytes) says how many bytes follow it (length + 4). The limit
// keeps the whole message inside the command buffer.
struct CommandTail {
    enum class Status { Ok, TooShort, TooLong };
    Status status = Status::Ok;
    std::uint64_t restLength = 0;
};
[[nodiscard]] CommandTail FrameCommandTail(std::uint32_t lengthField,
                                           std::size_t limit = kCommandBufferSize);
// Command number inside the rest of a data-channel command message
// (offset 24 of the rest, 36 of the whole message).
[[nodiscard]] std::uint16_t CommandNumberOfRest(ByteSpan rest);

// The record written for one media packet: exactly `packetLength` bytes,
// the payload cut or padded with zeros.
[[nodiscard]] Bytes MediaRecord(ByteSpan payload, std::uint32_t packetLength);

} // namespace QVSaveProcessors::mms
