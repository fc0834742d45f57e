#pragma once
// Fixture of the download tests: the loopback HTTP test server, and default
// transfer limits short enough that a fault ends a test in seconds instead
// of minutes. The limits in force before the test come back afterwards.
#include "platform/inet/InternetSession.h"
#include "tests/support/DownloadServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace testsupport {

class LoopbackHttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedLimits = inet::DefaultTransferLimits();
        inet::TransferLimits limits;
        limits.connectTimeout = std::chrono::seconds(5);
        limits.idleTimeout = std::chrono::seconds(2);
        inet::SetDefaultTransferLimits(limits);
        server = StartHttpTestServer();
    }
    void TearDown() override { inet::SetDefaultTransferLimits(m_savedLimits); }

    // For tests where only a stop or an interrupt may end the wait for a
    // silent server: the idle limit is far beyond any test's run time.
    static void WaitPatiently()
    {
        inet::TransferLimits patient;
        patient.idleTimeout = std::chrono::seconds(600);
        inet::SetDefaultTransferLimits(patient);
    }

    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }

    std::unique_ptr<PythonServer> server;

private:
    inet::TransferLimits m_savedLimits;
};

} // namespace testsupport
