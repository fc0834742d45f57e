#include "saveprocessors/MMSFileProcessor.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "saveprocessors/MmsSession.h"
#include "saveprocessors/MmsSocket.h"
#include "saveprocessors/MmsTrace.h"
#include "saveprocessors/UrlParts.h"

namespace QVSaveProcessors {

namespace {

std::uint16_t ServerPort()
{
    if (const char* text = std::getenv(CMMSFileProcessor::kTestPortVariable)) {
        unsigned value = 0;
        const char* end = text + std::strlen(text);
        const auto [ptr, ec] = std::from_chars(text, end, value);
        if (ec == std::errc() && ptr == end && value > 0 && value <= 0xFFFF)
            return static_cast<std::uint16_t>(value);
    }
    return mms::kPort;
}

} // namespace

// Lets the session reach the job's checkpoints, target file and reports.
class CMMSFileProcessor::SessionHost final : public mms::MmsSessionHost {
public:
    explicit SessionHost(CMMSFileProcessor& processor) : m_processor(processor) {}

    bool Checkpoint() override { return m_processor.Checkpoint(); }
    bool IsStopRequested() const override { return m_processor.IsStopRequested(); }
    void WaitWhilePaused() override { m_processor.WaitWhilePaused(); }
    bool Write(mms::ByteSpan bytes) override
    {
        if (m_processor.WriteToTarget(std::as_bytes(bytes)))
            return true;
        m_processor.ReportError("Cannot write to output file '" + m_processor.GetTargetPath() + "'.");
        return false;
    }
    void ReportProgress(std::uint32_t bytes) override { m_processor.ReportProgress(bytes); }
    void ReportCompleted() override { m_processor.ReportCompleted(); }
    void ReportError(std::string_view message) override { m_processor.ReportError(message); }
    void ReportTrace(std::string_view message) override { m_processor.ReportTrace(message); }

private:
    CMMSFileProcessor& m_processor;
};

CMMSFileProcessor::~CMMSFileProcessor()
{
    // The worker runs Process() on this object: it must end before the
    // derived part goes.
    StopAndWaitForWorker();
}

void CMMSFileProcessor::Process()
{
    // 1. No socket library to start on this platform.
    // 2. Host and path, %XX decoded.
    const UrlParts parts = SplitUrlOrEmpty(GetUrl(), true);
    ReportTrace(mms::Format("host : >%s<", parts.hostName.c_str()));
    ReportTrace(mms::Format("path : >%s<", parts.urlPath.c_str()));

    // 3.
    const std::uint16_t port = ServerPort();
    const auto address = mms::ResolveHost(parts.hostName, port);
    if (!address) {
        ReportError("Host name lookup failure!");
        return;
    }
    // 4. The port as it sits in the socket address (network byte order).
    ReportTrace(mms::Format("Port: %08x", static_cast<unsigned>(htons(port))));

    // 5.
    mms::MmsSocket socket(StopPollFd(), m_idleTimeLimit);
    if (!socket.Open(address->family)) {
        ReportError("Error opening socket!");
        return;
    }
    ReportTrace("socket open");

    // 6. A stop while connecting ends the job quietly: nothing went wrong.
    const mms::IoStatus connected = socket.Connect(*address);
    if (connected == mms::IoStatus::Stopped)
        return;
    if (connected != mms::IoStatus::Ok) {
        ReportError("Error while trying to connect to socket!");
        return;
    }
    ReportTrace("Connected");

    // 7.-19.
    SessionHost host(*this);
    mms::MmsSession session(socket, host, {m_sequence, m_streamCount, m_streamIds});
    session.Run(parts.hostName, parts.urlPath, socket.LocalIpv4());

    // 20.
    socket.Close();
}

} // namespace QVSaveProcessors
