#include "saveprocessors/AsfHeader.h"

#include <algorithm>

namespace QVSaveProcessors::asf {

namespace {

using mms::ByteSpan;
using mms::Format;
using mms::ReadLe16;
using mms::ReadLe32;
using mms::ReadLe64;

bool GuidAt(ByteSpan bytes, std::size_t offset, const Guid& guid)
{
    return std::equal(guid.begin(), guid.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

// True when `end` bytes from `offset` lie inside `bytes`.
bool Holds(ByteSpan bytes, std::size_t offset, std::size_t end)
{
    return offset <= bytes.size() && end <= bytes.size() - offset;
}

} // namespace

HeaderInfo WalkAsfHeader(ByteSpan header, const std::function<bool()>& checkpoint,
                         const mms::TraceSink& trace)
{
    HeaderInfo info;
    if (header.size() <= kHeaderObjectFixedSize)
        return info;

    std::size_t offset = kHeaderObjectFixedSize;
    while (offset < header.size()) {
        if (checkpoint && !checkpoint())
            break;
        if (!Holds(header, offset, kObjectHeaderSize)) {
            trace("object cut off at the end of the header");
            break;
        }
        const std::uint64_t size = ReadLe64(header, offset + 16);
        trace(Format("guid found: %016llx%016llx\n",
                     static_cast<unsigned long long>(ReadLe64(header, offset + 8)),
                     static_cast<unsigned long long>(ReadLe64(header, offset))));

        if (GuidAt(header, offset, kHeaderObject)) {
            trace("header object");
        } else if (GuidAt(header, offset, kDataObject)) {
            trace("data object");
        } else if (GuidAt(header, offset, kFilePropertiesObject)) {
            if (Holds(header, offset, kMaxPacketSizeOffset + 4)) {
                info.packetLength = ReadLe32(header, offset + kMinPacketSizeOffset);
                trace(Format("file object, packet length = %d (%d)\n",
                             static_cast<int>(info.packetLength),
                             static_cast<int>(ReadLe32(header, offset + kMaxPacketSizeOffset))));
            } else {
                trace("file object cut off, packet length not read");
            }
        } else if (GuidAt(header, offset, kStreamPropertiesObject)) {
            if (!Holds(header, offset, kStreamFlagsOffset + 2)) {
                trace("stream object cut off, stream id not read");
            } else {
                const std::uint32_t id = ReadLe16(header, offset + kStreamFlagsOffset);
                if (info.streamIds.size() < kMaxStreams) {
                    info.streamIds.push_back(id);
                    trace(Format("stream object, stream id: %d\n", static_cast<int>(id)));
                } else {
                    trace(Format("stream object ignored, more than %d streams: %d\n",
                                 static_cast<int>(kMaxStreams), static_cast<int>(id)));
                }
            }
        } else {
            trace("unknown object");
        }
        trace(Format("length    : %lld", static_cast<long long>(size)));

        // An object cannot be smaller than its own GUID and size; such a
        // size (0 above all) would never move the walk on.
        if (size < kObjectHeaderSize) {
            trace("object size below 24, header walk ends");
            break;
        }
        if (size >= header.size() - offset)
            break;
        offset += static_cast<std::size_t>(size);
    }
    return info;
}

bool IsHeaderComplete(ByteSpan collected)
{
    const std::size_t n = collected.size();
    if (n < 2 || collected[n - 2] != 0x01 || collected[n - 1] != 0x01)
        return false;
    // Still inside what could be the Header Object's GUID and size.
    if (n < kObjectHeaderSize) {
        const std::size_t compared = std::min(n, kHeaderObject.size());
        if (std::equal(kHeaderObject.begin(), kHeaderObject.begin() + static_cast<std::ptrdiff_t>(compared),
                       collected.begin()))
            return false;
        return true;
    }
    if (!GuidAt(collected, 0, kHeaderObject))
        return true;
    const std::uint64_t headerSize = ReadLe64(collected, 16);
    return headerSize <= n && n - headerSize >= kDataObjectFixedSize;
}

} // namespace QVSaveProcessors::asf
