#pragma once
// Save processor for mms:// URLs: a client for the TCP form of the
// Microsoft Media Server protocol ([MS-MMSP]) that asks for a file's ASF
// header and all its streams from the start, and writes them as an ASF file
// (the header as sent, then one record of exactly one packet length per
// media packet). The job completes only when the server ends the stream.
//
// The server is always reached on TCP port 1755, whatever the URL says.
// Tests only: the environment variable QUILLORY_MMS_TEST_PORT, when set to
// a port number, replaces 1755 so a test server can listen on a free port.
//
// Thread: driving thread as for CSaveProcessor2; the exchange runs on the
// worker.
#include <array>
#include <chrono>
#include <cstdint>

#include "saveprocessors/AsfHeader.h"
#include "saveprocessors/SaveProcessor2.h"

namespace QVSaveProcessors {

class CMMSFileProcessor final : public CSaveProcessor2 {
public:
    // Longest wait for the server in a connect, a read or a send.
    static constexpr std::chrono::milliseconds kDefaultIdleTimeLimit{30'000};
    // Environment variable that overrides port 1755, for tests only.
    static constexpr const char* kTestPortVariable = "QUILLORY_MMS_TEST_PORT";

    CMMSFileProcessor() = default;
    ~CMMSFileProcessor() override;

    // Thread: driving, while no job runs.
    void SetIdleTimeLimit(std::chrono::milliseconds limit) { m_idleTimeLimit = limit; }

protected:
    void Process() override;

private:
    class SessionHost;

    // Placed into the next command message; not reset by Start.
    std::uint32_t m_sequence = 0;
    // Stream numbers of the last header read, in header order.
    std::uint32_t m_streamCount = 0;
    std::array<std::uint32_t, asf::kMaxStreams> m_streamIds{};
    std::chrono::milliseconds m_idleTimeLimit = kDefaultIdleTimeLimit;
};

} // namespace QVSaveProcessors
