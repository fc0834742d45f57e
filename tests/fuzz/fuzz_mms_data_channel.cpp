// Fuzzes what an MMS server sends: arbitrary bytes, cut into arbitrary
// segments, as the answers, the header packets and the media packets of an
// exchange, plus the ASF header walk on its own. Checks that the client
// never writes a record that is not exactly one packet long, never keeps a
// header beyond its buffer, and (through the sanitizers and libFuzzer's
// timeout) never crashes, overflows or loops.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "saveprocessors/AsfHeader.h"
#include "saveprocessors/MmsSession.h"
#include "tests/support/ScriptedMmsTransport.h"

namespace mms = QVSaveProcessors::mms;
namespace asf = QVSaveProcessors::asf;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    // Control bytes: what to run, how the bytes are cut, when to stop.
    const std::uint8_t mode = data[0] % 3;
    const std::size_t segment = 1 + data[1] % 64;
    const long stopAt = data[2] < 0xF0 ? -1 : static_cast<long>(data[3]);
    const mms::ByteSpan server(data + 4, size - 4);

    // The walk and the end-of-header rule on the raw bytes.
    const asf::HeaderInfo walked = asf::WalkAsfHeader(server, [] { return true; }, [](std::string_view) {});
    Require(walked.streamIds.size() <= asf::kMaxStreams);
    (void)asf::IsHeaderComplete(server);

    testsupport::ScriptedMmsTransport transport;
    testsupport::RecordingMmsHost host;
    host.stopAtCheckpoint = stopAt;
    transport.AddSplit(mms::Bytes(server.begin(), server.end()), segment);
    std::uint32_t sequence = 0, streamCount = 0;
    std::array<std::uint32_t, asf::kMaxStreams> streamIds{};
    mms::MmsSession session(transport, host, {sequence, streamCount, streamIds});

    std::uint32_t packetLength = 0;
    std::size_t headerLength = 0;
    switch (mode) {
    case 0: // the whole exchange
        session.Run("fuzz", "/f.asf", "127.0.0.1");
        break;
    case 1: { // header phase, then media with the header's packet length
        std::vector<std::uint8_t> buffer(mms::kAsfHeaderBufferSize);
        const std::span<std::uint8_t, mms::kAsfHeaderBufferSize> header(buffer.data(), buffer.size());
        headerLength = session.ReadHeader(header);
        Require(headerLength <= mms::kAsfHeaderBufferSize);
        if (headerLength == 0)
            break;
        packetLength = session.ParseAsfHeader(header.first(headerLength));
        Require(streamCount <= asf::kMaxStreams);
        if (packetLength == 0 || packetLength > mms::kCommandBufferSize)
            break;
        for (int i = 0; i < 100000 && session.ReadMediaPacket(packetLength); ++i) {
        }
        break;
    }
    case 2: { // media phase with a packet length of the input's choosing
        packetLength = 1 + (static_cast<std::uint32_t>(data[3]) << 4);
        for (int i = 0; i < 100000 && session.ReadMediaPacket(packetLength); ++i) {
        }
        break;
    }
    }

    // What was written: a header of at most 8,192 bytes first (when there
    // is a header phase), then records of exactly one packet length.
    std::size_t first = 0;
    if (mode != 2 && !host.writes.empty()) {
        Require(host.writes[0].size() <= mms::kAsfHeaderBufferSize && !host.writes[0].empty());
        first = 1;
        if (packetLength == 0) { // mode 0 keeps the length inside the session
            for (std::size_t i = first; i < host.writes.size(); ++i)
                Require(host.writes[i].size() == host.writes[first].size());
        }
    }
    if (packetLength != 0) {
        for (std::size_t i = first; i < host.writes.size(); ++i)
            Require(host.writes[i].size() == packetLength);
    }
    Require(!host.completed || host.errors.empty());
    for (const mms::Bytes& sent : transport.sent)
        Require(sent.size() <= mms::kCommandBufferSize);
    return 0;
}
