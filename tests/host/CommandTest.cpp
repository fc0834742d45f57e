#include "tests/host/RunQuillory.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using hosttest::RunQuillory;

std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Line {
    std::string type;
    std::string from;
    std::string value;
};

// "NAME TYPE FROM VALUE..." lines of `quillory settings`, by name.
std::map<std::string, Line> ParseSettings(const std::string& out)
{
    std::map<std::string, Line> lines;
    std::istringstream in(out);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        std::string name;
        Line l;
        fields >> name >> l.type >> l.from;
        std::getline(fields >> std::ws, l.value);
        if (!name.empty() && name != "NAME")
            lines[name] = l;
    }
    return lines;
}

// A user with nothing but a HOME: no XDG variables, no registry
// overrides, no module path. The program must find its module beside
// itself and keep everything inside HOME.
class FreshHome : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::map<std::string, std::string> env {
        { "HOME", dir.path().string() },
        { "PATH", "/usr/bin:/bin" },
        // A system-wide hive must not be picked up from the machine.
        { "QUILLORY_REGISTRY_SYSTEM_MACHINE", (dir / "no-system" / "machine.reg").string() },
    };

    // The program runs in a folder of its own, which must stay empty.
    fs::path Cwd() const { return dir / "cwd"; }
    hosttest::RunResult Run(const std::vector<std::string>& args)
    {
        fs::create_directories(Cwd());
        return RunQuillory(args, env, Cwd().string());
    }
    fs::path MachineHive() const { return dir / ".config" / "quillory" / "registry" / "machine.reg"; }
    fs::path UserHive() const { return dir / ".config" / "quillory" / "registry" / "user.reg"; }
};

TEST_F(FreshHome, RegisterShowDefaultsUnregister)
{
    EXPECT_EQ(Run({ "--version" }).out, "quillory 3.6.0.0\n");
    const auto reg = Run({ "register" });
    ASSERT_EQ(reg.exitCode, 0) << reg.err;
    EXPECT_EQ(reg.out, "Registered " + fs::canonical(QUILLORY_MODULE_PATH).string() + "\n");
    const std::string registered = ReadFile(MachineHive());
    EXPECT_NE(registered.find("{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}"), std::string::npos);
    EXPECT_NE(registered.find("QVTovanix.Tovanix.1"), std::string::npos);

    const auto shown = Run({ "settings" });
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const auto lines = ParseSettings(shown.out);
    ASSERT_EQ(lines.size(), 16u) << shown.out;
    for (const char* on : { "GrabPictures", "GrabFlash", "GrabCSS", "GrabScripts", "GrabQuickTime", "GrabRealPlayer",
             "GrabMediaPlayer", "SelectAll", "PostGrabbingLog" }) {
        SCOPED_TRACE(on);
        EXPECT_EQ(lines.at(on).value, "on");
        EXPECT_EQ(lines.at(on).type, "REG_BINARY");
        EXPECT_EQ(lines.at(on).from, "default");
    }
    for (const char* off : { "AutoClose", "DebugMode", "OverallLog" }) {
        SCOPED_TRACE(off);
        EXPECT_EQ(lines.at(off).value, "off");
    }
    EXPECT_EQ(lines.at("GrabPath").type, "REG_SZ");
    EXPECT_EQ(lines.at("GrabPath").value, "\"" + (dir / "Documents").string() + "/Grabbed Files\"");
    EXPECT_EQ(lines.at("OverallLogPath").value, "\"\"");
    EXPECT_EQ(lines.at("HelpPath").value, "\"\"");
    EXPECT_EQ(lines.at("MaxOverallLog").value, "500");
    EXPECT_EQ(lines.at("MaxOverallLog").type, "REG_BINARY");
    // Looking changes nothing.
    EXPECT_FALSE(fs::exists(UserHive()));
    EXPECT_FALSE(fs::exists(dir / "Documents"));
    EXPECT_TRUE(fs::is_empty(Cwd()));

    const auto unreg = Run({ "unregister" });
    ASSERT_EQ(unreg.exitCode, 0) << unreg.err;
    const std::string left = ReadFile(MachineHive());
    EXPECT_EQ(left.find("{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}"), std::string::npos) << left;
    EXPECT_EQ(left.find("QVTovanix"), std::string::npos) << left;
    EXPECT_NE(left.find("\\Classes\\AppID]"), std::string::npos) << left;
    EXPECT_NE(left.find("\\Classes\\CLSID]"), std::string::npos) << left;
    // Nothing was written into the working folder.
    EXPECT_TRUE(fs::is_empty(Cwd()));
}

TEST_F(FreshHome, StoredValuesShowAsStoredAndComeBack)
{
    ASSERT_EQ(Run({ "settings", "GrabFlash", "off" }).exitCode, 0);
    ASSERT_EQ(Run({ "settings", "autoclose", "TRUE" }).exitCode, 0);
    ASSERT_EQ(Run({ "settings", "MaxOverallLog", "-1" }).exitCode, 0);
    ASSERT_EQ(Run({ "settings", "OverallLogPath", "" }).exitCode, 0);
    const auto set = Run({ "settings", "GrabPath", "saved/here" });
    ASSERT_EQ(set.exitCode, 0) << set.err;

    const auto lines = ParseSettings(Run({ "settings" }).out);
    EXPECT_EQ(lines.at("GrabFlash").value, "off");
    EXPECT_EQ(lines.at("GrabFlash").from, "stored");
    EXPECT_EQ(lines.at("AutoClose").value, "on");
    EXPECT_EQ(lines.at("MaxOverallLog").value, "-1");
    EXPECT_EQ(lines.at("MaxOverallLog").from, "stored");
    EXPECT_EQ(lines.at("OverallLogPath").value, "\"\"");
    EXPECT_EQ(lines.at("OverallLogPath").from, "stored");
    // A relative path is stored absolute, against the folder it was typed in.
    EXPECT_EQ(lines.at("GrabPath").value, "\"" + (Cwd() / "saved" / "here").string() + "\"");
    EXPECT_EQ(lines.at("GrabCSS").from, "default");

    const std::string hive = ReadFile(UserHive());
    EXPECT_NE(hive.find("\"GrabFlash\"=hex:00"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"AutoClose\"=hex:01"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"MaxOverallLog\"=hex:ff,ff,ff,ff"), std::string::npos) << hive;
}

TEST_F(FreshHome, WrongNamesAndValuesAreRefusedAndNothingIsStored)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases {
        { { "settings", "Nope", "1" }, "unknown setting 'Nope'" },
        { { "settings", "Nope" }, "unknown setting 'Nope'" },
        { { "settings", "GrabFlash", "maybe" }, "GrabFlash takes on/off" },
        { { "settings", "GrabFlash", "2" }, "GrabFlash takes on/off" },
        { { "settings", "MaxOverallLog", "2147483648" }, "MaxOverallLog takes a whole number" },
        { { "settings", "MaxOverallLog", "12kb" }, "MaxOverallLog takes a whole number" },
        { { "settings", "MaxOverallLog", "" }, "MaxOverallLog takes a whole number" },
        { { "settings", "GrabPath", "" }, "GrabPath takes a folder path" },
        { { "settings", "GrabPath", "/" + std::string(259, 'p') }, "at most 259 bytes" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 2 ? c.args[2] : ""));
        const auto r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(UserHive()));
}

// Where each shown value comes from: a stored flag of the wrong form is
// not used (and the listing says why); only the help path is looked up
// machine-wide, and the user's own wins over it.
TEST_F(FreshHome, SettingsSayWhereEachValueComesFrom)
{
    const std::string key = "\\Software\\Vornel\\Plugins\\Internet Explorer\\Quillory]\r\n";
    fs::create_directories(UserHive().parent_path());
    std::ofstream(UserHive()) << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER" << key
                              << "\"GrabFlash\"=dword:00000000\r\n\"MaxOverallLog\"=hex:01,02\r\n\r\n";
    std::ofstream(MachineHive()) << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE" << key
                                 << "\"HelpPath\"=\"/opt/quillory/help.chm\"\r\n\"GrabCSS\"=hex:00\r\n\r\n";
    const auto r = Run({ "settings" });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = ParseSettings(r.out);
    EXPECT_EQ(lines.at("GrabFlash").from, "default");
    EXPECT_EQ(lines.at("GrabFlash").value, "on  (stored REG_DWORD of 4 bytes is not used)");
    EXPECT_EQ(lines.at("MaxOverallLog").value, "500  (stored REG_BINARY of 2 bytes is not used)");
    EXPECT_EQ(lines.at("HelpPath").from, "machine");
    EXPECT_EQ(lines.at("HelpPath").value, "\"/opt/quillory/help.chm\"");
    EXPECT_EQ(lines.at("GrabCSS").value, "on");

    ASSERT_EQ(Run({ "settings", "HelpPath", "/home/help.chm" }).exitCode, 0);
    lines = ParseSettings(Run({ "settings", "HelpPath" }).out);
    EXPECT_EQ(lines.at("HelpPath").from, "stored");
    EXPECT_EQ(lines.at("HelpPath").value, "\"/home/help.chm\"");
}

// The program runs with its own module loaded: registering another copy
// must record the copy's path, not the program's module; a missing copy is
// named and nothing is registered.
TEST_F(FreshHome, RegisterRecordsTheNamedCopyOfTheModule)
{
    env["QUILLORY_MODULE_PATH"] = (dir / "missing.so").string();
    const auto missing = Run({ "register" });
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("missing.so"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(MachineHive()));

    const fs::path copy = dir / "copy" / "libqvtovanix.so";
    fs::create_directories(copy.parent_path());
    fs::copy_file(QUILLORY_MODULE_PATH, copy);
    env["QUILLORY_MODULE_PATH"] = copy.string();
    const auto r = Run({ "register" });
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Registered " + fs::canonical(copy).string() + "\n");
    const std::string registered = ReadFile(MachineHive());
    EXPECT_NE(registered.find("@=\"" + fs::canonical(copy).string() + "\""), std::string::npos) << registered;
    EXPECT_EQ(registered.find(fs::canonical(QUILLORY_MODULE_PATH).string()), std::string::npos) << registered;
}

} // namespace
