// platform/inet against real servers on loopback: the HTTP test server and
// pyftpdlib.
#include "platform/inet/InternetRequest.h"
#include "platform/inet/InternetSession.h"

#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using testsupport::GeneratedBytes;

namespace {

struct ReadOutcome {
    std::vector<std::uint8_t> bytes;
    std::optional<inet::Error> error; // set when the transfer broke off
    std::size_t largestAvailable = 0;
};

// Reads like the save processor: ask, read at most `piece`, repeat.
ReadOutcome ReadAll(inet::InternetRequest& request, std::size_t piece = 1024)
{
    ReadOutcome out;
    std::vector<std::byte> buffer(piece);
    for (;;) {
        auto available = request.QueryDataAvailable();
        if (!available) {
            out.error = available.error();
            return out;
        }
        if (available.value() == 0)
            return out;
        out.largestAvailable = std::max(out.largestAvailable, available.value());
        auto read = request.Read(std::span(buffer).first(std::min(piece, available.value())));
        if (!read) {
            out.error = read.error();
            return out;
        }
        const auto* p = reinterpret_cast<const std::uint8_t*>(buffer.data());
        out.bytes.insert(out.bytes.end(), p, p + read.value());
    }
}

// A loopback port with nothing listening on it.
int ClosedPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

class InternetRequestHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = testsupport::StartHttpTestServer();
        inet::TransferLimits limits;
        limits.connectTimeout = 5s;
        limits.idleTimeout = 2s;
        auto opened = inet::InternetSession::Open("Vornel QVSaveProcessors", limits);
        ASSERT_TRUE(opened.ok());
        session.emplace(opened.value());
    }

    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }

    std::unique_ptr<inet::InternetRequest> OpenOk(const std::string& path)
    {
        auto r = inet::InternetRequest::Open(*session, Url(path));
        EXPECT_TRUE(r.ok()) << path << ": " << (r.ok() ? "" : r.error().message);
        return r.ok() ? std::move(r.value()) : nullptr;
    }

    std::unique_ptr<testsupport::PythonServer> server;
    std::optional<inet::InternetSession> session;
};

TEST_F(InternetRequestHttp, EveryByteArrivesWhenReadInKilobytePieces)
{
    auto request = OpenOk("/gen/300001/5/a.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request);
    EXPECT_FALSE(out.error) << out.error->message;
    EXPECT_EQ(out.bytes, GeneratedBytes(300001, 5));
    EXPECT_EQ(request->ResponseCode(), 200);
}

TEST_F(InternetRequestHttp, LargeResourceNeverBuffersMoreThanTheBound)
{
    // 8 MiB read slowly in small pieces: the transfer must pause instead
    // of piling the body up in memory.
    auto request = OpenOk("/gen/8388608/9/big.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request, 100);
    ASSERT_FALSE(out.error) << out.error->message;
    EXPECT_EQ(out.bytes, GeneratedBytes(8388608, 9));
    EXPECT_LE(out.largestAvailable, inet::InternetRequest::kBufferCapacity + 16384);
}

TEST_F(InternetRequestHttp, ReadsThatSplitEveryArrivingPieceStillJoinUp)
{
    // The server sends 700-byte pieces; reads of 256 bytes cut each one.
    auto request = OpenOk("/slow/5000/4/700/20/s.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request, 256);
    EXPECT_FALSE(out.error);
    EXPECT_EQ(out.bytes, GeneratedBytes(5000, 4));
}

TEST_F(InternetRequestHttp, AgentStringIsSentOnTheWire)
{
    for (const char* agent : { "Vornel QVSaveProcessors", "ZAVI" }) {
        auto s = inet::InternetSession::Open(agent);
        ASSERT_TRUE(s.ok());
        auto r = inet::InternetRequest::Open(s.value(), Url("/agent"));
        ASSERT_TRUE(r.ok());
        ReadOutcome out = ReadAll(*r.value());
        EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), agent);
    }
}

TEST_F(InternetRequestHttp, ErrorStatusFailsTheOpenWithTheStatusText)
{
    auto r = inet::InternetRequest::Open(*session, Url("/status/404/x.gif"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, inet::ErrorCode::HttpStatus);
    EXPECT_EQ(r.error().message, "HTTP 404 Not Found");

    auto r500 = inet::InternetRequest::Open(*session, Url("/status/500/x.gif"));
    ASSERT_FALSE(r500.ok());
    EXPECT_EQ(r500.error().message, "HTTP 500 Internal Server Error");
}

TEST_F(InternetRequestHttp, RedirectIsFollowedToTheResource)
{
    auto request = OpenOk("/redirect/302/gen/2000/3/r.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request);
    EXPECT_FALSE(out.error);
    EXPECT_EQ(out.bytes, GeneratedBytes(2000, 3));
}

TEST_F(InternetRequestHttp, RedirectToErrorStatusFailsTheOpen)
{
    auto r = inet::InternetRequest::Open(*session, Url("/redirect/301/status/410/gone"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "HTTP 410 Gone");
}

TEST_F(InternetRequestHttp, EndlessRedirectsFailTheOpen)
{
    inet::TransferLimits limits = session->Limits();
    limits.maxRedirects = 2;
    auto s = inet::InternetSession::Open("t", limits);
    auto r = inet::InternetRequest::Open(s.value(), Url("/redirect/302/redirect/302/redirect/302/gen/10/1/x"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, inet::ErrorCode::Transfer);
}

TEST_F(InternetRequestHttp, RefusedConnectionFailsTheOpen)
{
    auto r = inet::InternetRequest::Open(*session, "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x.gif");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, inet::ErrorCode::Connect);
    EXPECT_FALSE(r.error().message.empty());
}

TEST_F(InternetRequestHttp, UnresolvableHostFailsTheOpen)
{
    // .invalid never resolves (RFC 6761).
    auto r = inet::InternetRequest::Open(*session, "http://no-such-host.invalid/x.gif");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, inet::ErrorCode::Connect) << r.error().message;
}

TEST_F(InternetRequestHttp, SchemesTheClientDoesNotSpeakFailTheOpen)
{
    for (const char* url : { "file:///etc/hostname", "news:comp.lang.c", "mailto:a@b.c", "socks://127.0.0.1/" }) {
        auto r = inet::InternetRequest::Open(*session, url);
        ASSERT_FALSE(r.ok()) << url;
        EXPECT_EQ(r.error().code, inet::ErrorCode::BadUrl) << url << ": " << r.error().message;
    }
}

TEST_F(InternetRequestHttp, EmptyResourceEndsCleanlyAtOnce)
{
    auto request = OpenOk("/empty/e.txt");
    ASSERT_TRUE(request);
    auto available = request->QueryDataAvailable();
    ASSERT_TRUE(available.ok());
    EXPECT_EQ(available.value(), 0u);
}

TEST_F(InternetRequestHttp, BodyWithoutLengthEndsCleanlyAtTheClose)
{
    auto request = OpenOk("/nolength/40000/8/n.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request);
    EXPECT_FALSE(out.error);
    EXPECT_EQ(out.bytes, GeneratedBytes(40000, 8));
}

TEST_F(InternetRequestHttp, ChunkedBodyArrivesWhole)
{
    auto request = OpenOk("/chunked/150000/6/c.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request);
    EXPECT_FALSE(out.error);
    EXPECT_EQ(out.bytes, GeneratedBytes(150000, 6));
}

TEST_F(InternetRequestHttp, DisconnectMidBodyIsAnErrorAfterTheBytesThatCame)
{
    auto request = OpenOk("/cut/10000/2/3000/c.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request);
    ASSERT_TRUE(out.error) << "a body cut short must not end cleanly";
    EXPECT_EQ(out.error->code, inet::ErrorCode::Transfer);
    auto expected = GeneratedBytes(10000, 2);
    expected.resize(3000);
    EXPECT_EQ(out.bytes, expected);
}

TEST_F(InternetRequestHttp, ChunkedBodyWithoutLastChunkIsAnError)
{
    auto request = OpenOk("/chunked-cut/9000/2/4000/c.bin");
    ASSERT_TRUE(request);
    ReadOutcome out = ReadAll(*request);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.bytes.size(), 4000u);
}

TEST_F(InternetRequestHttp, StalledBodyEndsWithTimeoutAfterIdleLimit)
{
    auto request = OpenOk("/stall/10000/2/1500/s.bin");
    ASSERT_TRUE(request);
    const auto start = std::chrono::steady_clock::now();
    ReadOutcome out = ReadAll(*request);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->code, inet::ErrorCode::Timeout) << out.error->message;
    EXPECT_EQ(out.bytes.size(), 1500u);
    EXPECT_LT(took, 30s) << "the idle limit did not end the transfer";
}

TEST_F(InternetRequestHttp, SilentServerFailsTheOpenAfterIdleLimit)
{
    auto r = inet::InternetRequest::Open(*session, Url("/silent/x.gif"));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, inet::ErrorCode::Timeout);
}

TEST_F(InternetRequestHttp, InterruptDescriptorEndsTheWaitForASilentServer)
{
    inet::TransferLimits limits;
    limits.idleTimeout = 600s; // only the interrupt can end the wait
    auto s = inet::InternetSession::Open("t", limits);
    int fd = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::thread stopper([fd] {
        std::this_thread::sleep_for(200ms);
        std::uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    });
    const auto start = std::chrono::steady_clock::now();
    auto r = inet::InternetRequest::Open(s.value(), Url("/silent/x.gif"), fd);
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    close(fd);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, inet::ErrorCode::Interrupted);
    EXPECT_LT(took, 20s);
}

TEST_F(InternetRequestHttp, WakeEndsTheWaitForDataOfAStalledBody)
{
    inet::TransferLimits limits;
    limits.idleTimeout = 600s;
    auto s = inet::InternetSession::Open("t", limits);
    auto r = inet::InternetRequest::Open(s.value(), Url("/stall/10000/2/1000/s.bin"));
    ASSERT_TRUE(r.ok());
    inet::InternetRequest& request = *r.value();
    std::vector<std::byte> buffer(4096);
    std::size_t got = 0;
    while (got < 1000) {
        auto read = request.Read(buffer);
        ASSERT_TRUE(read.ok());
        got += read.value();
    }
    std::thread waker([&request] {
        std::this_thread::sleep_for(200ms);
        request.Wake();
    });
    auto available = request.QueryDataAvailable();
    waker.join();
    ASSERT_FALSE(available.ok());
    EXPECT_EQ(available.error().code, inet::ErrorCode::Interrupted);
}

TEST_F(InternetRequestHttp, ProxyIsTakenFromTheEnvironment)
{
    testsupport::ScopedEnv proxy("http_proxy", server->BaseUrl());
    testsupport::ScopedEnv noProxy("no_proxy", "");
    auto s = inet::InternetSession::Open("t");
    auto r = inet::InternetRequest::Open(s.value(), "http://resource.invalid/p.gif");
    ASSERT_TRUE(r.ok()) << r.error().message;
    ReadOutcome out = ReadAll(*r.value());
    EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "proxied http://resource.invalid/p.gif");
}

class InternetRequestFtp : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string whyNot;
        server = testsupport::StartFtpTestServer(root.path(), whyNot);
        if (!server)
            GTEST_SKIP() << whyNot;
    }
    testsupport::TempDir root;
    std::unique_ptr<testsupport::PythonServer> server;
};

TEST_F(InternetRequestFtp, FileArrivesWhole)
{
    const auto bytes = GeneratedBytes(200000, 12);
    testsupport::WriteFileBytes(root / "pic.gif", bytes);
    auto s = inet::InternetSession::Open("Vornel QVSaveProcessors");
    auto r = inet::InternetRequest::Open(s.value(), server->BaseUrl("ftp") + "/pic.gif");
    ASSERT_TRUE(r.ok()) << r.error().message;
    ReadOutcome out = ReadAll(*r.value());
    EXPECT_FALSE(out.error);
    EXPECT_EQ(out.bytes, bytes);
}

TEST_F(InternetRequestFtp, EmptyFileEndsCleanly)
{
    testsupport::WriteFileBytes(root / "empty.txt", {});
    auto s = inet::InternetSession::Open("t");
    auto r = inet::InternetRequest::Open(s.value(), server->BaseUrl("ftp") + "/empty.txt");
    ASSERT_TRUE(r.ok()) << r.error().message;
    ReadOutcome out = ReadAll(*r.value());
    EXPECT_FALSE(out.error);
    EXPECT_TRUE(out.bytes.empty());
}

TEST_F(InternetRequestFtp, MissingFileFailsTheOpen)
{
    auto s = inet::InternetSession::Open("t");
    auto r = inet::InternetRequest::Open(s.value(), server->BaseUrl("ftp") + "/nothing-here.gif");
    ASSERT_FALSE(r.ok());
    EXPECT_FALSE(r.error().message.empty());
}

} // namespace
