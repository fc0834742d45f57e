#pragma once
// The parts of an ASF header (Advanced Systems Format, top-level objects of
// the Header Object) that an MMS client needs: the data packet length and
// the stream numbers; and when a header collected from the data channel is
// whole.
//
// Thread: any (pure; checkpoint and trace are the caller's callbacks).
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "saveprocessors/MmsMessage.h"
#include "saveprocessors/MmsTrace.h"

namespace QVSaveProcessors::asf {

using Guid = std::array<std::uint8_t, 16>;

// Object GUIDs as stored in the file (the first three fields little-endian).
inline constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
inline constexpr Guid kFilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
inline constexpr Guid kStreamPropertiesObject = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

// GUID and 64-bit size open every object.
inline constexpr std::size_t kObjectHeaderSize = 24;
// GUID, size, object count and two reserved bytes of the Header Object.
inline constexpr std::size_t kHeaderObjectFixedSize = 30;
// GUID, size, file id, total packet count and the reserved 01 01 of the
// Data Object: what a server sends of it in the header.
inline constexpr std::size_t kDataObjectFixedSize = 50;
// File Properties Object: Minimum and Maximum Data Packet Size.
inline constexpr std::size_t kMinPacketSizeOffset = 92;
inline constexpr std::size_t kMaxPacketSizeOffset = 96;
// Stream Properties Object: the Flags field (stream number in bits 0..6).
inline constexpr std::size_t kStreamFlagsOffset = 72;
// Stream numbers kept from one header.
inline constexpr std::size_t kMaxStreams = 20;

struct HeaderInfo {
    // Minimum Data Packet Size of the last File Properties Object; 0 when
    // none was found (or the walk was stopped before one).
    std::uint32_t packetLength = 0;
    // The Flags field of each Stream Properties Object, taken whole, in
    // header order; at most kMaxStreams.
    std::vector<std::uint32_t> streamIds;
};

// Walks the top-level objects from offset 30 to the end of `header`
// (running on into the Data Object's fixed part). `checkpoint` runs before
// each object; false ends the walk. The walk always ends: an object smaller
// than its own 24-byte opening, or one not wholly inside `header` where a
// field is read, ends it or skips the field.
[[nodiscard]] HeaderInfo WalkAsfHeader(mms::ByteSpan header, const std::function<bool()>& checkpoint,
                                       const mms::TraceSink& trace);

// True when the bytes collected from header packets form the whole header.
// The classic rule is "the last two bytes are 01 01" (the reserved end of
// the Data Object's fixed part), but a packet boundary may fall right after
// such bytes inside the header. So when the bytes start with an ASF Header
// Object, at least its declared size plus the Data Object's 50-byte fixed
// part must also be there. Bytes that do not start like an ASF header keep
// the classic rule (the walk then finds nothing to play).
[[nodiscard]] bool IsHeaderComplete(mms::ByteSpan collected);

} // namespace QVSaveProcessors::asf
