#include "grabber/LogSettings.h"

#include "tests/grabber/SettingsFixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class LogSettingsStore : public FreshUser { };

TEST_F(LogSettingsStore, FreshUserSeesLogOffEmptyPathLimit500AndPostGrabOn)
{
    CLogSettings s;
    EXPECT_TRUE(s.Load());
    EXPECT_FALSE(s.OverallLog);
    EXPECT_EQ(s.OverallLogPath, "");
    EXPECT_EQ(s.MaxOverallLog, 500);
    EXPECT_TRUE(s.PostGrabbingLog);
}

TEST_F(LogSettingsStore, AllOnesLimitReadsAsMinusOne)
{
    Store(HKEY_CURRENT_USER, "MaxOverallLog", REG_BINARY, { 0xFF, 0xFF, 0xFF, 0xFF });
    CLogSettings s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.MaxOverallLog, -1);
}

TEST_F(LogSettingsStore, BinaryValuesAreReadByExactSizeWhateverTheirType)
{
    // Little-endian: 0x00000210 = 528.
    Store(HKEY_CURRENT_USER, "MaxOverallLog", REG_DWORD, { 0x10, 0x02, 0x00, 0x00 });
    Store(HKEY_CURRENT_USER, "OverallLog", REG_SZ, { 1 });
    Store(HKEY_CURRENT_USER, "PostGrabbingLog", REG_BINARY, { 0 });
    CLogSettings s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.MaxOverallLog, 528);
    EXPECT_TRUE(s.OverallLog);
    EXPECT_FALSE(s.PostGrabbingLog);
}

TEST_F(LogSettingsStore, ValuesOfTheWrongSizeKeepTheirDefaults)
{
    Store(HKEY_CURRENT_USER, "MaxOverallLog", REG_BINARY, { 0x01, 0x00 });
    Store(HKEY_CURRENT_USER, "OverallLog", REG_BINARY, { 1, 1, 1, 1 });
    Store(HKEY_CURRENT_USER, "PostGrabbingLog", REG_BINARY, {});
    Store(HKEY_CURRENT_USER, "OverallLogPath", REG_SZ, { '/', 'l' }); // no terminating zero
    CLogSettings s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.MaxOverallLog, 500);
    EXPECT_FALSE(s.OverallLog);
    EXPECT_TRUE(s.PostGrabbingLog);
    EXPECT_EQ(s.OverallLogPath, "");
}

TEST_F(LogSettingsStore, SaveWritesFourValuesInOrderAndForm)
{
    CLogSettings s;
    s.OverallLog = true;
    s.PostGrabbingLog = false;
    s.MaxOverallLog = -2;
    s.OverallLogPath = "";
    ASSERT_TRUE(s.Save());
    const auto values = Values();
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].name, "OverallLog");
    EXPECT_EQ(values[0].type, REG_BINARY);
    EXPECT_EQ(values[0].data, Bytes { 1 });
    EXPECT_EQ(values[1].name, "PostGrabbingLog");
    EXPECT_EQ(values[1].type, REG_BINARY);
    EXPECT_EQ(values[1].data, Bytes { 0 });
    EXPECT_EQ(values[2].name, "MaxOverallLog");
    EXPECT_EQ(values[2].type, REG_BINARY);
    EXPECT_EQ(values[2].data, (Bytes { 0xFE, 0xFF, 0xFF, 0xFF }));
    EXPECT_EQ(values[3].name, "OverallLogPath");
    EXPECT_EQ(values[3].type, REG_SZ);
    // An empty path is a single terminating zero.
    EXPECT_EQ(values[3].data, Bytes { 0 });
}

TEST_F(LogSettingsStore, SavedValuesComeBack)
{
    CLogSettings s;
    s.OverallLog = true;
    s.OverallLogPath = "/var/tmp/grab log.txt";
    s.MaxOverallLog = 2048;
    s.PostGrabbingLog = false;
    ASSERT_TRUE(s.Save());
    CLogSettings t;
    ASSERT_TRUE(t.Load());
    EXPECT_TRUE(t.OverallLog);
    EXPECT_EQ(t.OverallLogPath, "/var/tmp/grab log.txt");
    EXPECT_EQ(t.MaxOverallLog, 2048);
    EXPECT_FALSE(t.PostGrabbingLog);
}

} // namespace
