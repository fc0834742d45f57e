// The stored forms of the four log values, which the options page and the
// grabber's log settings share: what is written byte for byte, and what a
// damaged or foreign value reads as.
#include "options/LogValues.h"
#include "tests/options/OptionsFixture.h"

namespace {

class LogValuesTest : public OptionsUser {
protected:
    void SetUp() override
    {
        OptionsUser::SetUp();
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kSettingsKey), ERROR_SUCCESS);
    }
    void Put(const char* name, DWORD type, const Bytes& bytes)
    {
        ASSERT_EQ(RegSetValueEx(key.get(), name, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    RegKey key;
};

TEST_F(LogValuesTest, WrittenFormsAreOneByteFlagsALittleEndianLimitAndATerminatedPath)
{
    LogValues { true, false, -70000, "/var/log/grab log.txt" }.Write(key.get());
    const std::vector<StoredValue> expected {
        { "OverallLog", REG_BINARY, { 1 } },
        { "PostGrabbingLog", REG_BINARY, { 0 } },
        { "MaxOverallLog", REG_BINARY, { 0x90, 0xEE, 0xFE, 0xFF } }, // -70000 = 0xFFFEEE90
        { "OverallLogPath", REG_SZ, TextBytes("/var/log/grab log.txt") },
    };
    EXPECT_EQ(Values(), expected);
    LogValues read;
    read.Read(key.get());
    EXPECT_TRUE(read.overallLog);
    EXPECT_FALSE(read.postGrabbingLog);
    EXPECT_EQ(read.maxOverallLog, -70000);
    EXPECT_EQ(read.overallLogPath, "/var/log/grab log.txt");
}

TEST_F(LogValuesTest, ValuesOfAnotherSizeOrMissingKeepTheFieldsAndAnyTypeOfTheRightSizeCounts)
{
    Put("OverallLog", REG_BINARY, { 1, 0 });    // two bytes: not a flag
    Put("PostGrabbingLog", REG_DWORD, { 0 });   // one byte of another type still counts
    Put("MaxOverallLog", REG_BINARY, { 7, 0 }); // two bytes: not a limit
    LogValues values { true, true, 123, "/kept" };
    values.Read(key.get());
    EXPECT_TRUE(values.overallLog);
    EXPECT_FALSE(values.postGrabbingLog);
    EXPECT_EQ(values.maxOverallLog, 123);
    EXPECT_EQ(values.overallLogPath, "") << "a missing path reads as empty";

    Put("MaxOverallLog", REG_DWORD, { 0x70, 0x11, 0x01, 0x00 });
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
        { "expandable text", REG_EXPAND_SZ, TextBytes("/logs/$USER.txt"), "/logs/$USER.txt" },
        { "longest that fits", REG_SZ, TextBytes(longest), longest },
        { "one byte too long", REG_SZ, TextBytes(longest + "p"), "" },
        { "no terminating zero", REG_SZ, { '/', 'a' }, "" },
        { "binary bytes", REG_BINARY, TextBytes("/logs/a.txt"), "" },
        { "empty value", REG_SZ, {}, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put("OverallLogPath", c.type, c.bytes);
        LogValues values { false, true, 500, "/before" };
        values.Read(key.get());
        EXPECT_EQ(values.overallLogPath, c.expected);
    }
}

} // namespace
