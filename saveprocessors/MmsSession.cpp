#include "saveprocessors/MmsSession.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "saveprocessors/MmsTrace.h"

namespace QVSaveProcessors::mms {

namespace {

// One receive fills at most this much; a whole answer may need several.
constexpr std::size_t kReceiveChunk = 16 * 1024;

std::string TooLongMessage(std::uint64_t length)
{
    return Format("message of %llu bytes exceeds the %d-byte buffer",
                  static_cast<unsigned long long>(length), static_cast<int>(kCommandBufferSize));
}

std::string TooShortMessage(std::uint64_t length)
{
    return Format("message of %llu bytes is too short to hold a command",
                  static_cast<unsigned long long>(length));
}

} // namespace

MmsSession::MmsSession(MmsTransport& transport, MmsSessionHost& host, MmsClientFields fields)
    : m_transport(transport)
    , m_host(host)
    , m_fields(fields)
    , m_receive(kReceiveChunk)
    , m_command(kCommandBufferSize)
{
}

IoResult MmsSession::ReadRaw(std::span<std::uint8_t> buffer)
{
    std::size_t got = 0;
    while (got < buffer.size()) {
        if (m_receiveBegin < m_receiveEnd) {
            const std::size_t n = std::min(buffer.size() - got, m_receiveEnd - m_receiveBegin);
            std::memcpy(buffer.data() + got, m_receive.data() + m_receiveBegin, n);
            m_receiveBegin += n;
            got += n;
            continue;
        }
        // Checkpoint before every receive: a stop ends the read, a pause
        // holds it here.
        if (!m_host.Checkpoint())
            return {IoStatus::Stopped, got, 0};
        m_receiveBegin = m_receiveEnd = 0;
        const IoResult received = m_transport.Receive(m_receive);
        if (received.status != IoStatus::Ok)
            return {received.status, got, received.error};
        m_receiveEnd = std::min(received.count, m_receive.size());
    }
    return {IoStatus::Ok, got, 0};
}

void MmsSession::ReportTimeout()
{
    m_host.ReportError(Format("timeout: the server sent nothing for %.1f s", m_transport.IdleLimitSeconds()));
}

MmsSession::ReadResult MmsSession::ReadExact(std::span<std::uint8_t> buffer)
{
    const IoResult result = ReadRaw(buffer);
    switch (result.status) {
    case IoStatus::Ok:
        return ReadResult::Ok;
    case IoStatus::Stopped:
        return ReadResult::Stopped;
    case IoStatus::TimedOut:
        ReportTimeout();
        return ReadResult::Failed;
    case IoStatus::Closed:
    case IoStatus::Error:
        break;
    }
    m_host.ReportError("read error in GetData()");
    return ReadResult::Failed;
}

bool MmsSession::SendCommand(std::uint16_t command, std::uint32_t switches, std::uint32_t extra,
                             ByteSpan payload)
{
    const Bytes message = BuildCommandMessage(command, switches, extra, m_fields.sequence++, payload);
    if (message.size() > kCommandBufferSize || m_transport.Send(message).status != IoStatus::Ok) {
        m_host.ReportError("Write error");
        return false;
    }
    TraceSentMessage(message, [this](std::string_view line) { Trace(line); });
    return true;
}

MmsSession::MessageRead MmsSession::ReadWholeMessage()
{
    MessageRead read;
    constexpr std::size_t kLengthEnd = 12;
    read.io = ReadRaw(std::span(m_command).first(kLengthEnd));
    if (read.io.status != IoStatus::Ok)
        return read;
    const MessageFrame frame = FrameMessage(std::span(m_command).first(kLengthEnd));
    read.length = frame.length;
    switch (frame.status) {
    case MessageFrame::Status::BadSignature:
        read.frame = FrameError::BadSignature;
        return read;
    case MessageFrame::Status::TooShort:
        read.frame = FrameError::TooShort;
        return read;
    case MessageFrame::Status::TooLong:
        read.frame = FrameError::TooLong;
        return read;
    case MessageFrame::Status::NeedMore:
    case MessageFrame::Status::Complete:
        break;
    }
    const auto length = static_cast<std::size_t>(frame.length);
    read.io = ReadRaw(std::span(m_command).subspan(kLengthEnd, length - kLengthEnd));
    m_answerLength = length;
    return read;
}

bool MmsSession::ReadAnswer(AnswerStage stage)
{
    for (;;) {
        const MessageRead read = ReadWholeMessage();
        switch (read.io.status) {
        case IoStatus::Ok:
            break;
        case IoStatus::Stopped:
            return true;
        case IoStatus::Closed:
            // Noticed in the handshake too: the next send would otherwise
            // fail with a less telling "Write error", or not fail at all.
            m_host.ReportError("alert! eof");
            return false;
        case IoStatus::Error:
            m_host.ReportError(stage == AnswerStage::Handshake ? Format("error = %d\n", read.io.error)
                                                               : std::string("Socket error"));
            return false;
        case IoStatus::TimedOut:
            ReportTimeout();
            return false;
        }
        switch (read.frame) {
        case FrameError::None:
            break;
        case FrameError::BadSignature:
            m_host.ReportError("missing signature");
            return false;
        case FrameError::TooShort:
            m_host.ReportError(TooShortMessage(read.length));
            return false;
        case FrameError::TooLong:
            m_host.ReportError(TooLongMessage(read.length));
            return false;
        }
        const ByteSpan answer = std::span(m_command).first(m_answerLength);
        TraceAnswer(answer, [this](std::string_view line) { Trace(line); });
        if (CommandNumberOf(answer) != kPing)
            return true;
        if (!SendCommand(kPing, 0, 0, {})) {
            m_host.ReportError("SendCommand failed");
            return false;
        }
    }
}

MmsSession::ReadResult MmsSession::ReadDataChannelCommand(const PreHeader& pre, Phase phase,
                                                          std::uint16_t& command)
{
    // The length field of a message without the signature is noise: reading
    // by it would consume an arbitrary part of the stream.
    if (!pre.hasSignature) {
        m_host.ReportError("missing signature");
        return ReadResult::Failed;
    }
    std::array<std::uint8_t, 4> lengthField{};
    switch (ReadExact(lengthField)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Stopped:
        return ReadResult::Stopped;
    case ReadResult::Failed:
        m_host.ReportError("packet_len read failed");
        return ReadResult::Failed;
    }
    const CommandTail tail = FrameCommandTail(ReadLe32(lengthField, 0));
    if (tail.status == CommandTail::Status::TooLong) {
        m_host.ReportError(TooLongMessage(tail.restLength + kPreHeaderSize + 4));
        return ReadResult::Failed;
    }
    if (tail.status == CommandTail::Status::TooShort) {
        m_host.ReportError(TooShortMessage(tail.restLength + kPreHeaderSize + 4));
        return ReadResult::Failed;
    }
    const int m = static_cast<int>(tail.restLength);
    Trace(Format(phase == Phase::Header ? "command packet detected, len=%d" : "command packet detected, len=%d\n",
                 m));
    const auto rest = std::span(m_command).first(static_cast<std::size_t>(tail.restLength));
    switch (ReadExact(rest)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Stopped:
        return ReadResult::Stopped;
    case ReadResult::Failed:
        m_host.ReportError("command data read failed");
        return ReadResult::Failed;
    }
    command = CommandNumberOfRest(rest);
    Trace(Format("command: %02x\n", command));
    return ReadResult::Ok;
}

std::size_t MmsSession::ReadHeader(std::span<std::uint8_t, kAsfHeaderBufferSize> header)
{
    std::size_t collected = 0;
    if (m_host.IsStopRequested())
        return 0;
    for (;;) {
        m_host.WaitWhilePaused();
        std::array<std::uint8_t, kPreHeaderSize> bytes{};
        switch (ReadExact(bytes)) {
        case ReadResult::Ok:
            break;
        case ReadResult::Stopped:
            return 0;
        case ReadResult::Failed:
            m_host.ReportError("pre-header read failed");
            return 0;
        }
        for (std::size_t i = 0; i < bytes.size(); ++i)
            Trace(Format("pre_header[%d] = %02x (%d)", static_cast<int>(i), bytes[i], bytes[i]));
        const PreHeader pre = ParsePreHeader(bytes);

        if (pre.kind == PreHeader::Kind::HeaderPacket) {
            if (pre.packetLength < kPreHeaderSize) {
                m_host.ReportError(Format("invalid packet length %d", pre.packetLength));
                return 0;
            }
            const std::size_t n = pre.packetLength - kPreHeaderSize;
            Trace(Format("asf header packet detected, len=%d\n", static_cast<int>(n)));
            if (n > header.size() - collected) {
                m_host.ReportError(Format("asf header longer than %d bytes", static_cast<int>(header.size())));
                return 0;
            }
            switch (ReadExact(header.subspan(collected, n))) {
            case ReadResult::Ok:
                break;
            case ReadResult::Stopped:
                return 0;
            case ReadResult::Failed:
                m_host.ReportError("header data read failed");
                return 0;
            }
            collected += n;
            if (asf::IsHeaderComplete(header.first(collected)))
                break;
        } else {
            std::uint16_t command = 0;
            switch (ReadDataChannelCommand(pre, Phase::Header, command)) {
            case ReadResult::Ok:
                break;
            case ReadResult::Stopped:
                return 0;
            case ReadResult::Failed:
                return 0;
            }
            if (command == kPing && !SendCommand(kPing, 0, 0, {})) {
                m_host.ReportError("Send command failed");
                return 0;
            }
        }
        Trace("get header packet succ");
        if (m_host.IsStopRequested())
            return 0;
    }

    if (!m_host.Write(header.first(collected)))
        return 0;
    m_host.ReportProgress(static_cast<std::uint32_t>(collected));
    Trace("get header packet finished");
    return collected;
}

std::uint32_t MmsSession::ParseAsfHeader(ByteSpan header)
{
    const asf::HeaderInfo info = asf::WalkAsfHeader(
        header, [this] { return m_host.Checkpoint(); }, [this](std::string_view line) { Trace(line); });
    m_fields.streamCount = static_cast<std::uint32_t>(info.streamIds.size());
    std::copy(info.streamIds.begin(), info.streamIds.end(), m_fields.streamIds.begin());
    return info.packetLength;
}

bool MmsSession::ReadMediaPacket(std::uint32_t packetLength)
{
    std::array<std::uint8_t, kPreHeaderSize> bytes{};
    switch (ReadExact(bytes)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Stopped:
        return false;
    case ReadResult::Failed:
        m_host.ReportError("pre-header read failed");
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i)
        Trace(Format("pre_header[%d] = %02x (%d)\n", static_cast<int>(i), bytes[i], bytes[i]));
    const PreHeader pre = ParsePreHeader(bytes);

    if (pre.kind == PreHeader::Kind::MediaPacket) {
        if (pre.packetLength < kPreHeaderSize) {
            m_host.ReportError(Format("invalid packet length %d", pre.packetLength));
            return false;
        }
        const std::size_t n = pre.packetLength - kPreHeaderSize; // < 64 KiB: fits the buffer
        Trace(Format("asf media packet detected, len=%d\n", static_cast<int>(n)));
        const auto payload = std::span(m_command).first(n);
        switch (ReadExact(payload)) {
        case ReadResult::Ok:
            break;
        case ReadResult::Stopped:
            // A partly received packet is never written: the file keeps
            // whole packets only.
            return false;
        case ReadResult::Failed:
            m_host.ReportError("media data read failed");
            return false;
        }
        // Every record is one packet length long; a short packet is padded
        // with zeros (ASF padding bytes are zero), a long one cut.
        if (!m_host.Write(MediaRecord(payload, packetLength)))
            return false;
        m_host.ReportProgress(packetLength);
        Trace("get media packet succ");
        return true;
    }

    std::uint16_t command = 0;
    if (ReadDataChannelCommand(pre, Phase::Media, command) != ReadResult::Ok)
        return false;
    switch (command) {
    case kPing:
        if (!SendCommand(kPing, 0, 0, {}))
            return false;
        Trace("get media packet succ");
        return true;
    case kEndOfStream:
        Trace("everything done. Thank you for downloading a media file containing proprietary and "
              "patentend technology.");
        m_host.ReportCompleted();
        return false;
    case kOpenFile:
        Trace("get media packet succ");
        return true;
    default:
        m_host.ReportError(Format("unknown command %02x\n", command));
        return false;
    }
}

void MmsSession::Run(std::string_view hostName, std::string_view urlPath, std::string_view clientIpv4)
{
    struct EndGuard {
        MmsSession& session;
        ~EndGuard() { session.transition_to(State::Ended); }
    } endGuard{*this};
    transition_to(State::Connected);

    // 7./8. Identify as a player.
    const std::optional<Bytes> identification = ConnectPayload(hostName);
    if (!identification) {
        m_host.ReportError("Write error");
        return;
    }
    if (!SendCommand(kConnect, 0, 0x0004000B, *identification))
        return;
    if (!ReadAnswer(AnswerStage::Handshake))
        return;
    transition_to(State::Identified);

    // 9./10. Name the funnel.
    if (!SendCommand(kConnectFunnel, 0, 0, ConnectFunnelPayload(clientIpv4)))
        return;
    if (!ReadAnswer(AnswerStage::Handshake))
        return;
    transition_to(State::FunnelSet);

    // 11./12. Open the file (the path without the query).
    if (!SendCommand(kOpenFile, 0, 0, OpenFilePayload(urlPath)))
        return;
    if (!ReadAnswer())
        return;
    transition_to(State::FileOpened);

    // 13.-15. Header: collect, write, walk.
    if (!SendCommand(kReadHeader, 1, 0, ReadHeaderPayload()))
        return;
    transition_to(State::HeaderRequested);
    m_fields.streamCount = 0;
    std::vector<std::uint8_t> headerBuffer(kAsfHeaderBufferSize);
    const std::span<std::uint8_t, kAsfHeaderBufferSize> header(headerBuffer.data(), kAsfHeaderBufferSize);
    const std::size_t headerLength = ReadHeader(header);
    if (headerLength < 1) {
        m_host.ReportError("asf_header_len < 1");
        return;
    }
    const std::uint32_t packetLength = ParseAsfHeader(header.first(headerLength));
    if (packetLength < 1) {
        m_host.ReportError("packet_length < 1");
        return;
    }
    if (packetLength > kCommandBufferSize) {
        m_host.ReportError(Format("packet_length > %d", static_cast<int>(kCommandBufferSize)));
        return;
    }
    if (m_fields.streamCount == 0) {
        // Command 0x33 names the first stream; without one there is
        // nothing to ask for.
        m_host.ReportError("no stream object in asf header");
        return;
    }
    transition_to(State::HeaderRead);

    // 16./17. Select every stream.
    const auto streams = std::span(m_fields.streamIds).first(m_fields.streamCount);
    const std::uint32_t extra = StreamExtra(streams[0]);
    if (!SendCommand(kStreamSelection, m_fields.streamCount, extra, StreamSelectionPayload(streams))) {
        m_host.ReportError("SendCommand 0x33 failed");
        return;
    }
    if (!ReadAnswer()) {
        m_host.ReportError("GetAnswer failed");
        return;
    }
    transition_to(State::StreamsSelected);

    // 18./19. Play from the start; media until the end of the stream.
    if (!SendCommand(kStartPlaying, 1, extra, StartPlayingPayload())) {
        m_host.ReportError("SendCommand 0x07 failed");
        return;
    }
    transition_to(State::Playing);
    while (m_host.Checkpoint()) {
        if (!ReadMediaPacket(packetLength))
            break;
    }
}

} // namespace QVSaveProcessors::mms
