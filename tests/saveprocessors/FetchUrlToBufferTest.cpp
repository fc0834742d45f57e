// FetchUrlToBuffer: whole resources into memory, from loopback servers and
// the file system; truncated, oversized or endless resources fail.
#include "saveprocessors/FetchUrlToBuffer.h"

#include "tests/support/GeneratedContent.h"
#include "tests/support/LoopbackHttpTest.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <sys/stat.h>

using QVSaveProcessors::FetchUrlToBuffer;

namespace {

using Buffer = std::vector<std::uint8_t>;

class FetchUrlToBufferTest : public testsupport::LoopbackHttpTest {
protected:
    std::string FileUrl(const std::string& name) const { return "file://" + (dir / name).string(); }
    testsupport::TempDir dir;
};

TEST_F(FetchUrlToBufferTest, WholeResourcesAreAppendedToTheBuffer)
{
    std::filesystem::create_directories(dir / "My Files");
    const Buffer local = testsupport::GeneratedBytes(5000, 3);
    testsupport::WriteFileBytes(dir / "My Files" / "t.txt", local);
    testsupport::WriteFileBytes(dir / "empty.txt", {});
    const std::string agent = "ZAVI"; // its own agent string, not the downloads'
    const std::vector<std::pair<std::string, Buffer>> cases = {
        {Url("/gen/70000/13/page.htm"), testsupport::GeneratedBytes(70000, 13)},
        {Url("/agent"), Buffer(agent.begin(), agent.end())},
        {Url("/empty/e.txt"), {}},
        {FileUrl("My%20Files/t.txt"), local},
        {FileUrl("empty.txt"), {}},
    };
    for (const auto& [url, bytes] : cases) {
        Buffer buffer { 'h', 'i' };
        EXPECT_TRUE(FetchUrlToBuffer(url, buffer)) << url;
        Buffer expected { 'h', 'i' };
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        EXPECT_EQ(buffer, expected) << url;
    }
}

TEST_F(FetchUrlToBufferTest, FailuresLeaveTheBufferAlone)
{
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    // Sparse: takes no disk space, only claims the size.
    testsupport::WriteFileBytes(dir / "big.txt", {});
    std::filesystem::resize_file(dir / "big.txt", QVSaveProcessors::kMaxFetchBytes + 1);
    for (const std::string& url : {
             Url("/status/404/lang.xml"),
             Url("/cut/5000/1/2000/lang.xml"), // part of a text must not pass for the text
             std::string("rtsp://127.0.0.1/x"),
             std::string("no colon at all"),
             std::string("http://no-such-host.invalid/x"),
             FileUrl("missing.txt"),
             FileUrl("pipe"), // would wait for a writer forever
             std::string("file:///dev/zero"), // would never end
             FileUrl("big.txt"), // over the memory bound
         }) {
        Buffer buffer { 'x' };
        EXPECT_FALSE(FetchUrlToBuffer(url, buffer)) << url;
        EXPECT_EQ(buffer, Buffer { 'x' }) << url;
    }
}

} // namespace
