#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "saveprocessors/TargetPath.h"
#include "tests/support/TempDir.h"

using namespace QVSaveProcessors;
namespace fs = std::filesystem;

namespace {

class TargetPathTest : public ::testing::Test {
protected:
    std::string Folder() const { return m_dir.path().string(); }
    std::string In(std::string_view name) const { return Folder() + "/" + std::string(name); }
    std::string Target(std::string_view url) const { return MakeTargetPath(url, Folder(), {}); }
    void Touch(std::string_view name) const { std::ofstream(In(name)) << "x"; }

    testsupport::TempDir m_dir;
};

} // namespace

TEST_F(TargetPathTest, FileNameNeverLeavesTheFolderOrNamesAnotherLocation)
{
    struct Case {
        const char* url;
        const char* extension;
        const char* name;
    };
    const Case cases[] = {
        // The last component of the decoded path.
        {"http://h/img/logo.gif", "", "logo.gif"},
        {"http://h/a%20b.gif", "", "a b.gif"},
        {"http://h/img/logo.gif?v=2#top", "", "logo.gif"},
        {"HTTP://h:81/x/y/z.js", "", "z.js"},
        // An empty or slash-only path still names a file.
        {"http://h", "", "unnamed"},
        {"http://h?x=/a.gif", "", "unnamed"},
        {"not a url", "", "unnamed"},
        {"http://h/", "", "-"},
        // A trailing separator keeps the folder's name.
        {"http://h/dir/", "", "dir-"},
        {"http://h/a/dir//", "", "dir--"},
        {"http://h/dir%5C", "", "dir_"},
        // Decoding comes before the split, so an encoded separator becomes
        // a real one: the name is still only what follows the last of them.
        {"http://h/x/..%2F..%2F..%2Fetc%2Fpasswd", "", "passwd"},
        {"http://h/..%2F..%2F", "", "..-"},
        {"http://h/a%5C..%5C..%5Cevil", "", "evil"},
        {"http://h/evil%2F", "", "evil-"},
        {"http://h/evil%5C%5C", "", "evil__"},
        // A dot-only name never resolves to the folder or its parent.
        {"http://h/.", "", "_"},
        {"http://h/a/..", "", "__"},
        {"http://h/%2e%2E", "", "__"},
        {"http://h/...", "", "___"},
        {"file:///..", "", "__"},
        {"mms://h/..", ".asf", "..asf"}, // with an extension it is an ordinary name
        // The name starts after the last ':' that has something after it.
        {"http://h/c:evil", "", "evil"},
        {"http://h/c%3Aevil", "", "evil"},
        {"http://h/evil%3A", "", "evil "},
        {"file:///C:", "", "C "},
        // A decoded NUL neither truncates nor escapes.
        {"http://h/a%00b.gif", "", "a_b.gif"},
        {"http://h/%00", "", "_"},
        {"http://h/..%00", "", ".._"},
        // The extension replaces the last one or is appended, and cannot
        // bring a separator in.
        {"mms://h/live", ".asf", "live.asf"},
        {"mms://h/a.b.wmv", ".asf", "a.b.asf"},
        {"mms://h/x", "/../y", "x-..-y"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MakeTargetPath(c.url, Folder(), c.extension), In(c.name)) << c.url;
}

TEST(ReplaceFileNameChars, EveryReservedCharacterIsReplaced)
{
    EXPECT_EQ(ReplaceFileNameChars("a:b\\c*d?e\"f>g<h|i/j.k", ReplaceDots::No), "a b_c d_e_f_g_h_i-j.k");
    EXPECT_EQ(ReplaceFileNameChars("a.b.c", ReplaceDots::Yes), "a_b_c");
    EXPECT_EQ(ReplaceFileNameChars(std::string("x\0y", 3), ReplaceDots::No), "x_y");
}

TEST_F(TargetPathTest, OverlongNameIsShortenedKeepingExtension)
{
    const std::string path = Target("http://h/" + std::string(300, 'a') + ".gif");
    const std::string name = fs::path(path).filename().string();
    EXPECT_EQ(name.size(), kMaxFileNameLength);
    EXPECT_EQ(name, std::string(251, 'a') + ".gif");
    EXPECT_EQ(fs::path(path).parent_path().string(), Folder());

    // Two-byte characters: the cut never splits one.
    std::string wide;
    for (int i = 0; i < 200; ++i)
        wide += "\xC3\xA9";
    const std::string widePath = Target("http://h/" + wide + ".png");
    const std::string wideName = fs::path(widePath).filename().string();
    EXPECT_LE(wideName.size(), kMaxFileNameLength);
    EXPECT_GE(wideName.size(), kMaxFileNameLength - 1);
    EXPECT_TRUE(wideName.ends_with(".png"));
    EXPECT_EQ(wideName.size() % 2, 0u) << "a two-byte character was cut in two";

    // An overlong name that can be created, i.e. the limit is the real one.
    std::ofstream(path) << "x";
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(TargetPathTest, FolderIsJoinedWithOneSeparatorAndCanonicalised)
{
    EXPECT_EQ(MakeTargetPath("http://h/x.gif", Folder() + "/", {}), In("x.gif"));
    EXPECT_EQ(MakeTargetPath("http://h/x.gif", Folder() + "//sub/./../", {}), In("x.gif"));
    EXPECT_EQ(MakeTargetPath("http://h/x.gif", "/", {}), "/x.gif");
    EXPECT_EQ(MakeTargetPath("http://h/x.gif", "", {}), "x.gif");
    EXPECT_EQ(CanonicalizePath("/../a/../../b"), "/b");
    EXPECT_EQ(CanonicalizePath("../a/./b/.."), "../a");
}

TEST_F(TargetPathTest, TakenFileFolderOrDanglingLinkIsNumberedWithinTheLengthLimit)
{
    EXPECT_EQ(MakeUniquePath(In("free.gif")), In("free.gif"));
    Touch("a.b.c");
    EXPECT_EQ(MakeUniquePath(In("a.b.c")), In("a.b1.c"));
    Touch("logo.gif");
    Touch("logo1.gif");
    EXPECT_EQ(MakeUniqueTargetPath("http://h/logo.gif", Folder(), {}), In("logo2.gif"));
    Touch("readme");
    EXPECT_EQ(MakeUniquePath(In("readme")), In("readme1"));
    fs::create_directory(In("dir-"));
    EXPECT_EQ(MakeUniqueTargetPath("http://h/dir/", Folder(), {}), In("dir-1"));
    // Creating a file through a dangling link would write where it points.
    fs::create_symlink(Folder() + "/../outside.gif", In("x.gif"));
    EXPECT_EQ(MakeUniqueTargetPath("http://h/x.gif", Folder(), {}), In("x1.gif"));
    // The number never makes a longest name longer than a name may be.
    const std::string longest = std::string(251, 'n') + ".gif";
    Touch(longest);
    const auto unique = MakeUniquePath(In(longest));
    ASSERT_EQ(unique, In(std::string(250, 'n') + "1.gif"));
    std::ofstream(*unique) << "x";
    EXPECT_TRUE(fs::exists(*unique));
}

TEST_F(TargetPathTest, AllNumbersTakenFailsAndKeepsNothing)
{
    Touch("full.txt");
    for (int n = 1; n <= kMaxUniqueNumber; ++n)
        Touch("full" + std::to_string(n) + ".txt");
    EXPECT_FALSE(MakeUniquePath(In("full.txt")));
    EXPECT_FALSE(MakeUniqueTargetPath("http://h/full.txt", Folder(), {}));
    fs::remove(In("full9999.txt"));
    EXPECT_EQ(MakeUniquePath(In("full.txt")), In("full9999.txt"));
}
