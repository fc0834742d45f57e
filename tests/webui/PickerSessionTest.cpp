// The picker page's server side: what a listing holds, how far it goes, and
// which answers a choice can give.
#include "platform/ui/View.h"
#include "tests/support/TempDir.h"
#include "webui/ModalPageSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using webui::PickerSession;

class PickerSessionTest : public ::testing::Test {
protected:
    std::shared_ptr<PickerSession> Picker(PickerSession::Kind kind, std::string filter = "Text File (*.txt)|*.txt")
    {
        return std::make_shared<PickerSession>("p", nullptr,
            PickerSession::Request { kind, "Open", dir.path().string(), std::move(filter), "old.txt" });
    }
    static json Post(PickerSession& picker, std::string_view verb, const json& body)
    {
        int status = 0;
        json answer = picker.Post(verb, body, status);
        EXPECT_EQ(status, 200);
        // What the server sends: names that are not UTF-8 must not stop it.
        return json::parse(answer.dump(-1, ' ', false, json::error_handler_t::replace));
    }
    static std::vector<std::string> Names(const json& listing)
    {
        std::vector<std::string> names;
        for (const auto& e : listing.value("entries", json::array()))
            names.push_back(e["name"].get<std::string>() + (e["dir"].get<bool>() ? "/" : ""));
        return names;
    }
    void Touch(const fs::path& file) { std::ofstream(dir / file) << "x"; }

    testsupport::TempDir dir;
};

TEST_F(PickerSessionTest, ListingShowsFoldersAndFilesTheFilterTakesInAnyCaseAndNeitherLinkLoopsNorUnreadableFolders)
{
    fs::create_directories(dir / "sub");
    for (const char* name : { "b.txt", "A.TXT", "c.log", "txt", "bad\xFF.txt" })
        Touch(name);
    fs::create_symlink(dir / "nowhere", dir / "dangling.txt");
    // The looping links are neither folders nor files.
    fs::create_directory_symlink(dir / "b", dir / "a");
    fs::create_directory_symlink(dir / "a", dir / "b");
    auto files = Picker(PickerSession::Kind::SaveFile);
    const json listing = Post(*files, "list", { { "path", dir.path().string() } });
    EXPECT_EQ(Names(listing), (std::vector<std::string> { "sub/", "A.TXT", "b.txt", "bad\xEF\xBF\xBD.txt" }));
    EXPECT_EQ(listing["truncated"], false);
    EXPECT_EQ(Post(*files, "info", json::object()),
              (json { { "filter", "Text File (*.txt)" }, { "name", "old.txt" }, { "files", true },
                      { "start", dir.path().string() }, { "title", "Open" } }));
    // The folder picker lists folders only.
    EXPECT_EQ(Names(Post(*Picker(PickerSession::Kind::Folder), "list", { { "path", dir.path().string() } })),
              std::vector<std::string> { "sub/" });
    EXPECT_TRUE(Post(*files, "list", { { "path", (dir / "a").string() } }).contains("error"));
    EXPECT_TRUE(Post(*files, "list", { { "path", "relative/path" } }).contains("error"));
    if (::geteuid() != 0) {
        fs::create_directory(dir / "closed");
        ::chmod((dir / "closed").c_str(), 0);
        EXPECT_TRUE(Post(*files, "list", { { "path", (dir / "closed").string() } }).contains("error"));
        ::chmod((dir / "closed").c_str(), 0700);
    }
}

TEST_F(PickerSessionTest, HugeFolderListingIsCutAndSaysSo)
{
    for (std::size_t i = 0; i <= PickerSession::kMaxEntries; ++i)
        Touch("f" + std::to_string(i) + ".txt");
    const json listing = Post(*Picker(PickerSession::Kind::SaveFile), "list", { { "path", dir.path().string() } });
    EXPECT_EQ(listing["entries"].size(), PickerSession::kMaxEntries);
    EXPECT_EQ(listing["truncated"], true);
    EXPECT_EQ(listing["limit"], PickerSession::kMaxEntries);
}

TEST_F(PickerSessionTest, ChosenFileNeedNotExistButItsFolderMustAndItIsNoFolder)
{
    fs::create_directories(dir / "sub");
    const std::string folder = dir.path().string();
    for (const json& refused : { json { { "name", "" } }, json { { "name", ".." } }, json { { "name", "sub" } },
             json { { "name", "missing/x.txt" } }, json { { "name", "x.txt" }, { "folder", "/no/such/folder" } } }) {
        auto files = Picker(PickerSession::Kind::SaveFile);
        json body { { "id", ui::IDOK }, { "folder", folder } };
        body.update(refused);
        EXPECT_TRUE(Post(*files, "command", body).contains("error")) << body.dump();
        EXPECT_FALSE(files->Answered()) << body.dump();
    }
    auto files = Picker(PickerSession::Kind::SaveFile);
    Post(*files, "command", { { "id", ui::IDOK }, { "folder", folder + "/sub/.." }, { "name", "new log" } });
    ASSERT_TRUE(files->Answered());
    EXPECT_EQ(files->AnswerId(), ui::IDOK);
    EXPECT_EQ(files->AnswerText(), (fs::canonical(dir.path()) / "new log").string());
    // A full path typed in the name box is taken as it is.
    auto typed = Picker(PickerSession::Kind::SaveFile);
    Post(*typed, "command", { { "id", ui::IDOK }, { "folder", "/" }, { "name", folder + "/sub/x.txt" } });
    EXPECT_EQ(typed->AnswerText(), (fs::canonical(dir / "sub") / "x.txt").string());
    auto cancelled = Picker(PickerSession::Kind::SaveFile);
    Post(*cancelled, "command", { { "id", ui::IDCANCEL } });
    EXPECT_EQ(cancelled->AnswerId(), ui::IDCANCEL);
}

} // namespace
