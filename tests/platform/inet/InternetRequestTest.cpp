// platform/inet against real servers on loopback: the HTTP test server and
// pyftpdlib.
#include "platform/inet/InternetRequest.h"
#include "platform/inet/InternetSession.h"

#include "tests/support/GeneratedContent.h"
#include "tests/support/LoopbackHttpTest.h"
#include "tests/support/TempDir.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using testsupport::GeneratedBytes;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReadOutcome {
    Bytes bytes;
    std::optional<inet::Error> error; // set when the transfer broke off
    std::size_t largestAvailable = 0;
    std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
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

// The default limits of the fixture: a stalled transfer ends in seconds.
class InternetRequestHttp : public testsupport::LoopbackHttpTest {
protected:
    static inet::InternetSession Session(const inet::TransferLimits& limits = inet::DefaultTransferLimits(),
                                         const char* agent = "Vornel QVSaveProcessors")
    {
        return inet::InternetSession::Open(agent, limits).value();
    }
};

TEST_F(InternetRequestHttp, EveryBodyFormArrivesWholeWhateverTheReadSize)
{
    struct Case {
        std::string path;
        std::size_t piece;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"/gen/300001/5/a.bin", 1024, GeneratedBytes(300001, 5)},
        // The server sends 700-byte pieces; reads of 256 bytes cut each one.
        {"/slow/5000/4/700/20/s.bin", 256, GeneratedBytes(5000, 4)},
        {"/redirect/302/gen/2000/3/r.bin", 1024, GeneratedBytes(2000, 3)},
        {"/nolength/40000/8/n.bin", 1024, GeneratedBytes(40000, 8)}, // ends at the close
        {"/chunked/150000/6/c.bin", 1024, GeneratedBytes(150000, 6)},
        {"/empty/e.txt", 1024, {}},
    };
    const auto session = Session();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = inet::InternetRequest::Open(session, Url(c.path));
        ASSERT_TRUE(r.ok()) << r.error().message;
        ReadOutcome out = ReadAll(*r.value(), c.piece);
        EXPECT_FALSE(out.error) << out.error->message;
        EXPECT_EQ(out.bytes, c.bytes);
        EXPECT_EQ(r.value()->ResponseCode(), 200);
    }
}

TEST_F(InternetRequestHttp, LargeResourceNeverBuffersMoreThanTheBound)
{
    // 8 MiB read slowly in small pieces: the transfer must pause instead
    // of piling the body up in memory.
    auto r = inet::InternetRequest::Open(Session(), Url("/gen/8388608/9/big.bin"));
    ASSERT_TRUE(r.ok());
    ReadOutcome out = ReadAll(*r.value(), 100);
    ASSERT_FALSE(out.error) << out.error->message;
    EXPECT_EQ(out.bytes, GeneratedBytes(8388608, 9));
    EXPECT_LE(out.largestAvailable, inet::InternetRequest::kBufferCapacity + 16384);
}

TEST_F(InternetRequestHttp, AgentStringAndEnvironmentProxyAreUsedOnTheWire)
{
    for (const char* agent : { "Vornel QVSaveProcessors", "ZAVI" }) {
        auto r = inet::InternetRequest::Open(Session(inet::DefaultTransferLimits(), agent), Url("/agent"));
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(ReadAll(*r.value()).Text(), agent);
    }
    testsupport::ScopedEnv proxy("http_proxy", server->BaseUrl());
    testsupport::ScopedEnv noProxy("no_proxy", "");
    auto r = inet::InternetRequest::Open(Session(), "http://resource.invalid/p.gif");
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(ReadAll(*r.value()).Text(), "proxied http://resource.invalid/p.gif");
}

TEST_F(InternetRequestHttp, OpenFailsWithTheCauseForEveryUnusableResponseOrUrl)
{
    struct Case {
        std::string url;
        inet::ErrorCode code;
        std::string message; // empty: any non-empty text
    };
    inet::TransferLimits twoRedirects = inet::DefaultTransferLimits();
    twoRedirects.maxRedirects = 2;
    const std::vector<Case> cases = {
        {Url("/status/404/x.gif"), inet::ErrorCode::HttpStatus, "HTTP 404 Not Found"},
        {Url("/status/500/x.gif"), inet::ErrorCode::HttpStatus, "HTTP 500 Internal Server Error"},
        {Url("/redirect/301/status/410/gone"), inet::ErrorCode::HttpStatus, "HTTP 410 Gone"},
        {Url("/redirect/302/redirect/302/redirect/302/gen/10/1/x"), inet::ErrorCode::Transfer, ""},
        {"http://127.0.0.1:1/x.gif", inet::ErrorCode::Connect, ""}, // nothing listens on port 1
        {"http://no-such-host.invalid/x.gif", inet::ErrorCode::Connect, ""}, // .invalid never resolves (RFC 6761)
        {Url("/silent/x.gif"), inet::ErrorCode::Timeout, ""},
        // Schemes the client does not speak: no local file is read.
        {"file:///etc/hostname", inet::ErrorCode::BadUrl, ""},
        {"socks://127.0.0.1/", inet::ErrorCode::BadUrl, ""},
    };
    const auto session = Session(twoRedirects);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        auto r = inet::InternetRequest::Open(session, c.url);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, c.code) << r.error().message;
        if (c.message.empty()) {
            EXPECT_FALSE(r.error().message.empty());
        } else {
            EXPECT_EQ(r.error().message, c.message);
        }
    }
}

TEST_F(InternetRequestHttp, BodyCutShortOrStalledIsAnErrorAfterTheBytesThatCame)
{
    struct Case {
        std::string path;
        std::size_t bytes;
        inet::ErrorCode code;
    };
    const std::vector<Case> cases = {
        {"/cut/10000/2/3000/c.bin", 3000, inet::ErrorCode::Transfer},
        {"/chunked-cut/9000/2/4000/c.bin", 4000, inet::ErrorCode::Transfer}, // no last chunk
        {"/stall/10000/2/1500/s.bin", 1500, inet::ErrorCode::Timeout},       // ends at the idle limit
    };
    const auto session = Session();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto r = inet::InternetRequest::Open(session, Url(c.path));
        ASSERT_TRUE(r.ok());
        const auto start = std::chrono::steady_clock::now();
        ReadOutcome out = ReadAll(*r.value());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
        ASSERT_TRUE(out.error) << "a body cut short must not end cleanly";
        EXPECT_EQ(out.error->code, c.code) << out.error->message;
        auto expected = GeneratedBytes(10000, 2);
        expected.resize(c.bytes);
        EXPECT_EQ(out.bytes, expected);
    }
}

TEST_F(InternetRequestHttp, InterruptDescriptorOrWakeEndsAWaitThatOnlyTheIdleLimitWouldEnd)
{
    inet::TransferLimits limits;
    limits.idleTimeout = 600s; // only the interrupt can end the wait
    const auto session = Session(limits);
    int fd = eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::thread stopper([fd] {
        std::this_thread::sleep_for(200ms);
        std::uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    });
    const auto start = std::chrono::steady_clock::now();
    auto silent = inet::InternetRequest::Open(session, Url("/silent/x.gif"), fd);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    stopper.join();
    close(fd);
    ASSERT_FALSE(silent.ok());
    EXPECT_EQ(silent.error().code, inet::ErrorCode::Interrupted);

    // A body that stalls after its first 1000 bytes: Wake ends the wait.
    auto r = inet::InternetRequest::Open(session, Url("/stall/10000/2/1000/s.bin"));
    ASSERT_TRUE(r.ok());
    inet::InternetRequest& request = *r.value();
    std::vector<std::byte> buffer(4096);
    for (std::size_t got = 0; got < 1000;) {
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

TEST(InternetRequestFtp, FilesArriveWholeAndAMissingOneFailsTheOpen)
{
    testsupport::TempDir root;
    std::string whyNot;
    const auto server = testsupport::StartFtpTestServer(root.path(), whyNot);
    if (!server)
        GTEST_SKIP() << whyNot;
    const auto session = inet::InternetSession::Open("Vornel QVSaveProcessors").value();
    for (const Bytes& bytes : { GeneratedBytes(200000, 12), Bytes {} }) {
        testsupport::WriteFileBytes(root / "pic.gif", bytes);
        auto r = inet::InternetRequest::Open(session, server->BaseUrl("ftp") + "/pic.gif");
        ASSERT_TRUE(r.ok()) << r.error().message;
        ReadOutcome out = ReadAll(*r.value());
        EXPECT_FALSE(out.error);
        EXPECT_EQ(out.bytes, bytes);
    }
    auto r = inet::InternetRequest::Open(session, server->BaseUrl("ftp") + "/nothing-here.gif");
    ASSERT_FALSE(r.ok());
    EXPECT_FALSE(r.error().message.empty());
}

} // namespace
