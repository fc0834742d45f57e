#pragma once
// In-memory stand-ins for an MMS session's socket and job, for tests and
// the fuzzer: the server's bytes are a script of segments (one Receive
// never crosses a segment boundary, as a TCP read never crosses a segment
// that has not arrived yet), and everything the session reports is kept.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "saveprocessors/MmsSession.h"
#include "saveprocessors/MmsTransport.h"

namespace testsupport {

namespace mms = QVSaveProcessors::mms;

class ScriptedMmsTransport final : public mms::MmsTransport {
public:
    // What the script's end looks like to the client.
    mms::IoStatus endStatus = mms::IoStatus::Closed;
    int endError = 104; // ECONNRESET, for IoStatus::Error
    // Sends fail from this message on (count of messages), never when -1.
    long failSendFrom = -1;

    void AddSegment(mms::Bytes bytes) { m_segments.push_back(std::move(bytes)); }
    // Appends `bytes` cut into segments of `size` bytes each.
    void AddSplit(const mms::Bytes& bytes, std::size_t size)
    {
        for (std::size_t i = 0; i < bytes.size(); i += size)
            m_segments.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), i + size)));
    }

    mms::IoResult Receive(std::span<std::uint8_t> buffer) override
    {
        while (m_segment < m_segments.size() && m_offset >= m_segments[m_segment].size()) {
            ++m_segment;
            m_offset = 0;
        }
        if (m_segment >= m_segments.size())
            return {endStatus, 0, endStatus == mms::IoStatus::Error ? endError : 0};
        const mms::Bytes& segment = m_segments[m_segment];
        const std::size_t n = std::min(buffer.size(), segment.size() - m_offset);
        std::copy_n(segment.begin() + static_cast<std::ptrdiff_t>(m_offset), n, buffer.begin());
        m_offset += n;
        ++receives;
        return {mms::IoStatus::Ok, n, 0};
    }

    mms::IoResult Send(mms::ByteSpan bytes) override
    {
        if (failSendFrom >= 0 && static_cast<long>(sent.size()) >= failSendFrom)
            return {mms::IoStatus::Error, 0, 32};
        sent.emplace_back(bytes.begin(), bytes.end());
        return {mms::IoStatus::Ok, bytes.size(), 0};
    }

    double IdleLimitSeconds() const override { return 1.5; }

    // Every message the client sent, whole.
    std::vector<mms::Bytes> sent;
    std::size_t receives = 0;

private:
    std::vector<mms::Bytes> m_segments;
    std::size_t m_segment = 0;
    std::size_t m_offset = 0;
};

class RecordingMmsHost final : public mms::MmsSessionHost {
public:
    // Checkpoint() answers false from this call on (count of calls); never
    // when -1.
    long stopAtCheckpoint = -1;
    bool failWrites = false;

    bool Checkpoint() override
    {
        if (stopAtCheckpoint >= 0 && checkpoints >= stopAtCheckpoint)
            stopped = true;
        ++checkpoints;
        return !stopped;
    }
    bool IsStopRequested() const override { return stopped; }
    void WaitWhilePaused() override {}
    bool Write(mms::ByteSpan bytes) override
    {
        if (failWrites) {
            errors.emplace_back("write failed");
            return false;
        }
        writes.emplace_back(bytes.begin(), bytes.end());
        return true;
    }
    void ReportProgress(std::uint32_t bytes) override { progress += bytes; }
    void ReportCompleted() override { completed = true; }
    void ReportError(std::string_view message) override { errors.emplace_back(message); }
    void ReportTrace(std::string_view message) override { traces.emplace_back(message); }

    bool HasTrace(std::string_view line) const
    {
        return std::find(traces.begin(), traces.end(), line) != traces.end();
    }
    std::size_t WrittenBytes() const
    {
        std::size_t total = 0;
        for (const auto& w : writes)
            total += w.size();
        return total;
    }

    long checkpoints = 0;
    bool stopped = false;
    bool completed = false;
    std::uint64_t progress = 0;
    std::vector<mms::Bytes> writes;
    std::vector<std::string> errors;
    std::vector<std::string> traces;
};

} // namespace testsupport
