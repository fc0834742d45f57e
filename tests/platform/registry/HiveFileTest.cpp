#include "platform/registry/HiveFile.h"
#include "platform/registry/RegFileFormat.h"
#include "tests/platform/registry/RegistryFixture.h"

#include <sys/stat.h>

namespace {

using namespace registrytest;
using platform::registry::Hive;
using platform::registry::ParseHiveText;

std::size_t CountLines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

using CorruptHive = RegistryTest;

TEST_F(CorruptHive, ReportedOnceReadAsEmptyKeptByReadsAndReplacedWholeBySaves)
{
    const std::string garbage[] = { "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"x\"=hex:zz\n",
        "\x01\x02 not a registry file" };
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(garbage[i]);
        // A file is reported once per process: each round has its own.
        const auto file = m_dir / ("damaged" + std::to_string(i) + ".reg");
        testsupport::ScopedEnv user("QUILLORY_REGISTRY_USER", file.string());
        WriteFile(file, garbage[i]);
        StderrCapture capture((m_dir / "stderr.txt").string());
        for (int round = 0; round < 2; ++round) {
            RegKey key;
            EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software", KEY_READ), ERROR_FILE_NOT_FOUND);
            DWORD size = 0;
            EXPECT_EQ(RegQueryValueEx(HKEY_CURRENT_USER, "x", nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
            std::string name;
            EXPECT_EQ(RegEnumKeyEx(HKEY_CURRENT_USER, 0, name), ERROR_NO_MORE_ITEMS);
        }
        EXPECT_EQ(ReadFile(file), garbage[i]);
        RegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software\\Vornel"), ERROR_SUCCESS);
        ASSERT_EQ(key.SetDWORDValue("n", 5), ERROR_SUCCESS);
        const std::string report = capture.Text();
        capture.Restore();

        EXPECT_EQ(CountLines(report), 1u) << report;
        EXPECT_NE(report.find(file.string() + " is corrupt (line "), std::string::npos) << report;
        const auto parsed = ParseHiveText(ReadFile(file), Hive::CurrentUser);
        ASSERT_TRUE(parsed.root) << parsed.error;
        EXPECT_EQ(parsed.root->SubKeyCount(), 1u);
        EXPECT_NE(parsed.root->FindSubKey("Software")->FindSubKey("Vornel")->FindValue("n"), nullptr);
    }
}

TEST_F(CorruptHive, TruncatedFileIsNotTakenForAShorterOne)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Software"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetStringValue("GrabPath", "/home/me/Grabbed Files"), ERROR_SUCCESS);
    const std::string whole = ReadFile(m_userFile);
    WriteFile(m_userFile, whole.substr(0, whole.find("Grabbed")));
    StderrCapture capture((m_dir / "stderr.txt").string());
    std::string path;
    EXPECT_EQ(key.QueryStringValue("GrabPath", path), ERROR_KEY_DELETED);
    EXPECT_NE(capture.Text().find("corrupt"), std::string::npos);
}

TEST_F(CorruptHive, UnreadableFileIsReportedKeptAndReplacedReadableBySave)
{
    WriteFile(m_userFile, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Secret]\n\n");
    ASSERT_EQ(::chmod(m_userFile.c_str(), 0), 0);
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0777), 0);
    const std::string errors = (m_dir / "child-stderr.txt").string();

    EXPECT_EQ(RunInChild([&]() -> std::string {
        StderrCapture capture(errors);
        RegKey key;
        for (int round = 0; round < 2; ++round)
            if (key.Open(HKEY_CURRENT_USER, "Secret", KEY_READ) != ERROR_FILE_NOT_FOUND)
                return "an unreadable hive must read as empty, every time";
        const std::string report = capture.Text();
        if (CountLines(report) != 1 || report.find("cannot be read (Permission denied)") == std::string::npos)
            return "report: " + report;
        return {};
    }, Privileges::DropRoot), "");
    struct stat st {};
    ASSERT_EQ(::stat(m_userFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0u) << "reads must leave the file alone";

    EXPECT_EQ(RunInChild([&]() -> std::string {
        StderrCapture capture(errors);
        RegKey key;
        if (key.Create(HKEY_CURRENT_USER, "Mine") != ERROR_SUCCESS || key.SetDWORDValue("v", 1) != ERROR_SUCCESS)
            return "save over an unreadable hive failed";
        // A fresh reader (another process's view) finds the value.
        RegKey again;
        DWORD v = 0;
        if (again.Open(HKEY_CURRENT_USER, "Mine", KEY_READ) != ERROR_SUCCESS || again.QueryDWORDValue("v", v) != ERROR_SUCCESS)
            return "the saved hive is not readable by its owner";
        return {};
    }, Privileges::DropRoot), "");
}

TEST_F(CorruptHive, FolderInPlaceOfTheFileFailsSavesCleanly)
{
    std::filesystem::create_directory(m_userFile);
    StderrCapture capture((m_dir / "stderr.txt").string());
    RegKey key;
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, "K"), ERROR_REGISTRY_IO_FAILED);
    EXPECT_EQ(RegSetValueEx(HKEY_CURRENT_USER, "v", REG_BINARY, nullptr, 0), ERROR_REGISTRY_IO_FAILED);
    EXPECT_NE(capture.Text().find("is not a regular file"), std::string::npos);
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().filename().string().rfind(".user.reg.", 0), std::string::npos)
            << "temporary file left behind: " << entry.path();
}

using HiveStorage = RegistryTest;

TEST_F(HiveStorage, ChangesByAnotherProcessAreSeenThroughOpenHandles)
{
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "Shared"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("n", 1), ERROR_SUCCESS);
    DWORD n = 0;
    ASSERT_EQ(key.QueryDWORDValue("n", n), ERROR_SUCCESS);
    for (DWORD round = 2; round < 6; ++round) {
        ASSERT_EQ(RunInChild([&]() -> std::string {
            RegKey other;
            if (other.Create(HKEY_CURRENT_USER, "Shared") != ERROR_SUCCESS || other.SetDWORDValue("n", round) != ERROR_SUCCESS)
                return "child could not write";
            return {};
        }), "");
        ASSERT_EQ(key.QueryDWORDValue("n", n), ERROR_SUCCESS);
        EXPECT_EQ(n, round);
    }
}

TEST_F(HiveStorage, SavesWriteThroughASymlinkAndLeaveUnchangedValuesAlone)
{
    const auto real = m_dir / "dotfiles" / "user.reg";
    std::filesystem::create_directories(real.parent_path());
    WriteFile(real, std::string(platform::registry::kRegFileHeader) + "\n");
    std::filesystem::create_symlink(real, m_userFile);
    RegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDWORDValue("n", 1), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_symlink(m_userFile));
    EXPECT_NE(ReadFile(real).find("[HKEY_CURRENT_USER\\K]"), std::string::npos);
    // Saves replace the file; the same value again must not.
    struct stat before {}, after {};
    ASSERT_EQ(::stat(m_userFile.c_str(), &before), 0);
    ASSERT_EQ(key.SetDWORDValue("N", 1), ERROR_SUCCESS);
    ASSERT_EQ(::stat(m_userFile.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

} // namespace
