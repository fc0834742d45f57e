// FetchUrlToBuffer: whole resources into memory, from loopback servers and
// the file system; truncated or oversized resources fail.
#include "saveprocessors/FetchUrlToBuffer.h"

#include "platform/inet/InternetSession.h"
#include "tests/support/DownloadServers.h"
#include "tests/support/GeneratedContent.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using QVSaveProcessors::FetchUrlToBuffer;

namespace {

class FetchUrlToBufferHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = inet::DefaultTransferLimits();
        inet::TransferLimits limits;
        limits.connectTimeout = 5s;
        limits.idleTimeout = 2s;
        inet::SetDefaultTransferLimits(limits);
        server = testsupport::StartHttpTestServer();
    }
    void TearDown() override { inet::SetDefaultTransferLimits(saved); }
    std::string Url(const std::string& path) const { return server->BaseUrl() + path; }

    inet::TransferLimits saved;
    std::unique_ptr<testsupport::PythonServer> server;
};

TEST_F(FetchUrlToBufferHttp, WholeResourceIsAppendedToTheBuffer)
{
    std::vector<std::uint8_t> buffer { 'h', 'i' };
    ASSERT_TRUE(FetchUrlToBuffer(Url("/gen/70000/13/page.htm"), buffer));
    auto expected = testsupport::GeneratedBytes(70000, 13);
    expected.insert(expected.begin(), { 'h', 'i' });
    EXPECT_EQ(buffer, expected);
}

TEST_F(FetchUrlToBufferHttp, SendsItsOwnAgentString)
{
    std::vector<std::uint8_t> buffer;
    ASSERT_TRUE(FetchUrlToBuffer(Url("/agent"), buffer));
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "ZAVI");
}

TEST_F(FetchUrlToBufferHttp, ErrorStatusFailsAndLeavesTheBufferAlone)
{
    std::vector<std::uint8_t> buffer { 'x' };
    EXPECT_FALSE(FetchUrlToBuffer(Url("/status/404/lang.xml"), buffer));
    EXPECT_EQ(buffer, (std::vector<std::uint8_t> { 'x' }));
}

TEST_F(FetchUrlToBufferHttp, TruncatedResourceFails)
{
    std::vector<std::uint8_t> buffer;
    EXPECT_FALSE(FetchUrlToBuffer(Url("/cut/5000/1/2000/lang.xml"), buffer));
    EXPECT_TRUE(buffer.empty()) << "part of a text must not pass for the text";
}

TEST_F(FetchUrlToBufferHttp, EmptyResourceSucceedsEmpty)
{
    std::vector<std::uint8_t> buffer;
    EXPECT_TRUE(FetchUrlToBuffer(Url("/empty/e.txt"), buffer));
    EXPECT_TRUE(buffer.empty());
}

TEST_F(FetchUrlToBufferHttp, UnknownSchemeAndUnreachableHostFail)
{
    std::vector<std::uint8_t> buffer;
    EXPECT_FALSE(FetchUrlToBuffer("rtsp://127.0.0.1/x", buffer));
    EXPECT_FALSE(FetchUrlToBuffer("no colon at all", buffer));
    EXPECT_FALSE(FetchUrlToBuffer("http://no-such-host.invalid/x", buffer));
    EXPECT_TRUE(buffer.empty());
}

class FetchUrlToBufferFile : public ::testing::Test {
protected:
    testsupport::TempDir dir;
};

TEST_F(FetchUrlToBufferFile, FileUrlWithEscapedBlankIsRead)
{
    std::filesystem::create_directories(dir / "My Files");
    const auto bytes = testsupport::GeneratedBytes(5000, 3);
    testsupport::WriteFileBytes(dir / "My Files" / "t.txt", bytes);
    std::vector<std::uint8_t> buffer;
    ASSERT_TRUE(FetchUrlToBuffer("file://" + (dir / "My%20Files" / "t.txt").string(), buffer));
    EXPECT_EQ(buffer, bytes);
}

TEST_F(FetchUrlToBufferFile, EmptyFileSucceedsAndMissingFileFails)
{
    testsupport::WriteFileBytes(dir / "empty.txt", {});
    std::vector<std::uint8_t> buffer;
    EXPECT_TRUE(FetchUrlToBuffer("file://" + (dir / "empty.txt").string(), buffer));
    EXPECT_FALSE(FetchUrlToBuffer("file://" + (dir / "missing.txt").string(), buffer));
    EXPECT_TRUE(buffer.empty());
}

TEST_F(FetchUrlToBufferFile, FifoAndDeviceAreRefusedWithoutHanging)
{
    const auto fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::uint8_t> buffer;
    EXPECT_FALSE(FetchUrlToBuffer("file://" + fifo.string(), buffer));
    EXPECT_FALSE(FetchUrlToBuffer("file:///dev/zero", buffer));
}

TEST_F(FetchUrlToBufferFile, FileOverTheMemoryBoundFails)
{
    // Sparse: takes no disk space, only claims the size.
    const auto big = dir / "big.txt";
    testsupport::WriteFileBytes(big, {});
    std::filesystem::resize_file(big, QVSaveProcessors::kMaxFetchBytes + 1);
    std::vector<std::uint8_t> buffer;
    EXPECT_FALSE(FetchUrlToBuffer("file://" + big.string(), buffer));
    EXPECT_TRUE(buffer.empty());
}

} // namespace
