#pragma once
// One MMS exchange over a connected byte stream: the commands the client
// sends, how it reads the answers, the ASF header and the media packets of
// the data channel, and how it ends. What the server sends is read whole by
// its own length fields (TCP keeps no message boundaries), every ping is
// answered wherever it arrives, and every size the server names is checked
// against the working buffers before a byte is read.
//
// Thread: the worker of the job that owns it.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "saveprocessors/AsfHeader.h"
#include "saveprocessors/MmsMessage.h"
#include "saveprocessors/MmsTransport.h"

namespace QVSaveProcessors::mms {

// What a session needs from the job that runs it.
class MmsSessionHost {
public:
    virtual ~MmsSessionHost() = default;
    // False when a stop is requested; blocks while the job is paused.
    [[nodiscard]] virtual bool Checkpoint() = 0;
    [[nodiscard]] virtual bool IsStopRequested() const = 0;
    virtual void WaitWhilePaused() = 0;
    // Appends to the target file; false (already reported) when the system
    // refused.
    [[nodiscard]] virtual bool Write(ByteSpan bytes) = 0;
    virtual void ReportProgress(std::uint32_t bytes) = 0;
    virtual void ReportCompleted() = 0;
    virtual void ReportError(std::string_view message) = 0;
    virtual void ReportTrace(std::string_view message) = 0;
};

// The fields of the job that outlive one session: the sequence number is
// not reset between jobs of one processor.
struct MmsClientFields {
    std::uint32_t& sequence;
    std::uint32_t& streamCount;
    std::array<std::uint32_t, asf::kMaxStreams>& streamIds;
};

class MmsSession {
public:
    enum class State {
        Connected,       // the transport is up, nothing sent yet
        Identified,      // 0x01 answered
        FunnelSet,       // 0x02 answered
        FileOpened,      // 0x05 answered
        HeaderRequested, // 0x15 sent, the data channel carries the header
        HeaderRead,      // header written to the target and walked
        StreamsSelected, // 0x33 answered
        Playing,         // 0x07 sent, the data channel carries media
        Ended,           // the exchange is over (any outcome)
    };

    MmsSession(MmsTransport& transport, MmsSessionHost& host, MmsClientFields fields);

    // The exchange from identification to the end of the media loop.
    // Every failure is reported to the host; completion only at 0x1E.
    void Run(std::string_view hostName, std::string_view urlPath, std::string_view clientIpv4);

    [[nodiscard]] State state() const { return m_state; }

    // --- The steps, public for tests and the fuzzer ---

    enum class ReadResult { Ok, Stopped, Failed };
    // Reads exactly buffer.size() bytes. Stopped: a stop was requested
    // (the bytes are incomplete and must not be used). Failed has been
    // reported.
    [[nodiscard]] ReadResult ReadExact(std::span<std::uint8_t> buffer);
    // Sends one command message; "Write error" when it does not go out.
    [[nodiscard]] bool SendCommand(std::uint16_t command, std::uint32_t switches, std::uint32_t extra,
                                   ByteSpan payload);
    // Which texts an answer failure is reported with.
    enum class AnswerStage { Handshake, Exchange };
    // Reads whole answers, replying to pings, until one that is not a ping.
    // A stop request counts as success (the exchange winds down through
    // the header step, which then finds nothing).
    [[nodiscard]] bool ReadAnswer(AnswerStage stage = AnswerStage::Exchange);
    // Collects the ASF header into `header`; its length, 0 on failure or
    // stop. The header is written to the target and counted as progress.
    [[nodiscard]] std::size_t ReadHeader(std::span<std::uint8_t, kAsfHeaderBufferSize> header);
    // Walks the header; stores the stream numbers in the client fields.
    [[nodiscard]] std::uint32_t ParseAsfHeader(ByteSpan header);
    // One data-channel item of the media phase; false ends the media loop.
    [[nodiscard]] bool ReadMediaPacket(std::uint32_t packetLength);

private:
    enum class FrameError { None, BadSignature, TooShort, TooLong };
    struct MessageRead {
        IoResult io;
        FrameError frame = FrameError::None;
        std::uint64_t length = 0;
    };

    void transition_to(State next) { m_state = next; }
    void Trace(std::string_view line) { m_host.ReportTrace(line); }
    [[nodiscard]] IoResult ReadRaw(std::span<std::uint8_t> buffer);
    [[nodiscard]] MessageRead ReadWholeMessage();
    void ReportTimeout();
    // Reads the rest of a data-channel command message into the command
    // buffer; returns its command number or nullopt after a report.
    enum class Phase { Header, Media };
    [[nodiscard]] ReadResult ReadDataChannelCommand(const PreHeader& pre, Phase phase,
                                                    std::uint16_t& command);

    MmsTransport& m_transport;
    MmsSessionHost& m_host;
    MmsClientFields m_fields;
    State m_state = State::Connected;
    // Bytes received but not consumed yet.
    std::vector<std::uint8_t> m_receive;
    std::size_t m_receiveBegin = 0;
    std::size_t m_receiveEnd = 0;
    // Answers, data-channel commands and media payloads.
    std::vector<std::uint8_t> m_command;
    std::size_t m_answerLength = 0;
};

} // namespace QVSaveProcessors::mms
