#pragma once
// A user with fresh registry hives, a cache folder of their own and a
// scripted view in place of the screen.
#include "platform/registry/Registry.h"
#include "platform/ui/ScriptedView.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

inline constexpr const char* kSettingsKey = "Software\\Vornel\\Plugins\\Internet Explorer\\Quillory";

// ScriptedView that also keeps what the file picker was asked.
class RecordingView : public ui::ScriptedView {
public:
    std::optional<std::string> OpenFile(ui::Dialog* owner, std::string_view title, std::string_view filter,
                                        std::string_view initialFile) override
    {
        filters.emplace_back(filter);
        owners.push_back(owner);
        return ScriptedView::OpenFile(owner, title, filter, initialFile);
    }
    std::vector<std::string> filters;
    std::vector<ui::Dialog*> owners;
};

class OptionsUser : public ::testing::Test, protected testsupport::FreshUserFolders {
protected:
    using Bytes = std::vector<std::uint8_t>;

    std::shared_ptr<RecordingView> view = std::make_shared<RecordingView>();

    void SetUp() override { ui::SetActiveView(view); }
    void TearDown() override { ui::SetActiveView(nullptr); }

    static Bytes TextBytes(const std::string& text)
    {
        Bytes bytes(text.begin(), text.end());
        bytes.push_back(0);
        return bytes;
    }
    static void Store(const char* name, DWORD type, const Bytes& bytes)
    {
        RegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kSettingsKey), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key.get(), name, type, bytes.data(), static_cast<DWORD>(bytes.size())), ERROR_SUCCESS);
    }
    static void StoreText(const char* name, const std::string& text) { Store(name, REG_SZ, TextBytes(text)); }

    struct StoredValue {
        std::string name;
        DWORD type = 0;
        Bytes data;
        bool operator==(const StoredValue&) const = default;
    };
    // Every value under the settings key, in stored order.
    static std::vector<StoredValue> Values()
    {
        std::vector<StoredValue> out;
        RegKey key;
        if (key.Open(HKEY_CURRENT_USER, kSettingsKey, KEY_READ) != ERROR_SUCCESS)
            return out;
        for (DWORD i = 0;; ++i) {
            StoredValue v;
            if (RegEnumValue(key.get(), i, v.name, &v.type, &v.data) != ERROR_SUCCESS)
                break;
            out.push_back(std::move(v));
        }
        return out;
    }
    // The stored bytes of one value; empty when it is missing.
    static Bytes Stored(const std::string& name)
    {
        for (const auto& v : Values())
            if (v.name == name)
                return v.data;
        return {};
    }
};

// A compiled help file built with chmcmd from the given files (path inside
// the archive -> content); the default topic is smdialog.htm. Empty path
// when chmcmd is missing or fails.
inline std::filesystem::path BuildHelpFile(const std::filesystem::path& folder, const std::string& name,
    const std::map<std::string, std::string>& files)
{
    namespace fs = std::filesystem;
    const fs::path project = folder / ("src-" + name);
    fs::create_directories(project);
    std::string hhp = "[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=out.chm\n"
                      "Default topic=smdialog.htm\nTitle=Quillory help\n\n[FILES]\n";
    for (const auto& [path, content] : files) {
        fs::create_directories((project / path).parent_path());
        std::ofstream(project / path, std::ios::binary) << content;
        hhp += path + "\n";
    }
    std::ofstream(project / "help.hhp") << hhp;
    const std::string command = "cd '" + project.string() + "' && chmcmd help.hhp >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !fs::exists(project / "out.chm"))
        return {};
    const fs::path target = folder / name;
    fs::create_directories(target.parent_path());
    fs::rename(project / "out.chm", target);
    return target;
}

// The help file most tests use: two topics and the pop-up texts of the
// options page.
inline std::map<std::string, std::string> StandardHelpFiles()
{
    return {
        { "smdialog.htm", "<html><head><title>Grab dialog</title></head><body><h1>The grab dialog</h1>"
                          "<a href=\"pages/options.htm\">Options</a></body></html>" },
        { "pages/options.htm", "<html><body><h1>Options</h1></body></html>" },
        { "ctxhlp.txt", ".topic 1009\r\nKeeps the overall log when checked.\r\n\r\n"
                        ".topic 1010\r\nThe text file the overall log is written to.\r\n\r\n"
                        ".topic 1011\r\nThe largest size of the overall log, in kilobytes.\r\n\r\n"
                        ".topic 1012\r\nShows the post-grab log after each grab.\r\n\r\n"
                        ".topic 1013\r\nOpens the overall log.\r\n\r\n"
                        ".topic 1014\r\nChooses the overall log's file.\r\n" },
    };
}
