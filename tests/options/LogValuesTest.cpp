// The stored forms of the four log values, which the options page and the
// grabber's log settings share: what is written byte for byte, and what a
// damaged or foreign value reads as.
#include "options/LogValues.h"

#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kKey = "Software\\LogValuesTest";

class LogValuesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey), ERROR_SUCCESS); }

    void Store(const char* name, DWORD type, const Bytes& bytes)
    {
        ASSERT_EQ(RegSetValueEx(key.get(), name, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    static Bytes Text(const std::string& text, bool terminated = true)
    {
        Bytes bytes(text.begin(), text.end());
        if (terminated)
            bytes.push_back(0);
        return bytes;
    }
    // The stored bytes and type of a value.
    std::pair<DWORD, Bytes> Stored(const char* name)
    {
        Bytes bytes(1024);
        DWORD type = REG_NONE;
        DWORD size = static_cast<DWORD>(bytes.size());
        EXPECT_EQ(RegQueryValueEx(key.get(), name, &type, bytes.data(), &size), ERROR_SUCCESS) << name;
        bytes.resize(size);
        return { type, bytes };
    }

    testsupport::TempDir dir;
    testsupport::ScopedEnv home { "HOME", dir.path().string() };
    testsupport::ScopedEnv userHive { "QUILLORY_REGISTRY_USER", (dir / "user.reg").string() };
    testsupport::ScopedEnv machineHive { "QUILLORY_REGISTRY_MACHINE", (dir / "machine.reg").string() };
    testsupport::ScopedEnv config { "XDG_CONFIG_HOME", (dir / "config").string() };
    RegKey key;
};

} // namespace

TEST_F(LogValuesTest, WrittenFormsAreOneByteFlagsALittleEndianLimitAndATerminatedPath)
{
    const LogValues values { true, false, -70000, "/var/log/grab log.txt" };
    values.Write(key.get());
    EXPECT_EQ(Stored("OverallLog"), std::make_pair(DWORD { REG_BINARY }, Bytes { 1 }));
    EXPECT_EQ(Stored("PostGrabbingLog"), std::make_pair(DWORD { REG_BINARY }, Bytes { 0 }));
    // -70000 = 0xFFFEEE90
    EXPECT_EQ(Stored("MaxOverallLog"), std::make_pair(DWORD { REG_BINARY }, Bytes { 0x90, 0xEE, 0xFE, 0xFF }));
    EXPECT_EQ(Stored("OverallLogPath"), std::make_pair(DWORD { REG_SZ }, Text("/var/log/grab log.txt")));

    LogValues read;
    read.Read(key.get());
    EXPECT_TRUE(read.overallLog);
    EXPECT_FALSE(read.postGrabbingLog);
    EXPECT_EQ(read.maxOverallLog, -70000);
    EXPECT_EQ(read.overallLogPath, "/var/log/grab log.txt");
}

TEST_F(LogValuesTest, ValuesOfAnotherSizeOrMissingKeepTheFieldsAndAnyTypeOfTheRightSizeCounts)
{
    Store("OverallLog", REG_BINARY, { 1, 0 });         // two bytes: not a flag
    Store("PostGrabbingLog", REG_DWORD, { 0 });        // one byte of another type still counts
    Store("MaxOverallLog", REG_BINARY, { 7, 0 });      // two bytes: not a limit
    LogValues values { true, true, 123, "/kept" };
    values.Read(key.get());
    EXPECT_TRUE(values.overallLog);
    EXPECT_FALSE(values.postGrabbingLog);
    EXPECT_EQ(values.maxOverallLog, 123);
    EXPECT_EQ(values.overallLogPath, "") << "a missing path reads as empty";

    Store("MaxOverallLog", REG_DWORD, { 0x70, 0x11, 0x01, 0x00 });
    values.Read(key.get());
    EXPECT_EQ(values.maxOverallLog, 70000);
    EXPECT_EQ(ReadLogInt32(key.get(), "Missing"), std::nullopt);
    EXPECT_EQ(ReadLogFlag(key.get(), "MaxOverallLog"), std::nullopt);
}

TEST_F(LogValuesTest, PathsThatCannotBeTrustedReadAsEmpty)
{
    struct Case {
        const char* what;
        DWORD type;
        Bytes bytes;
        std::string expected;
    };
    const std::string longest(kLogPathBuffer - 1, 'p');
    const std::vector<Case> cases = {
        { "expandable text", REG_EXPAND_SZ, Text("/logs/$USER.txt"), "/logs/$USER.txt" },
        { "longest that fits", REG_SZ, Text(longest), longest },
        { "one byte too long", REG_SZ, Text(longest + "p"), "" },
        { "no terminating zero", REG_SZ, Text("/logs/a.txt", false), "" },
        { "binary bytes", REG_BINARY, Text("/logs/a.txt"), "" },
        { "empty value", REG_SZ, {}, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Store("OverallLogPath", c.type, c.bytes);
        LogValues values { false, true, 500, "/before" };
        values.Read(key.get());
        EXPECT_EQ(values.overallLogPath, c.expected);
    }
}
