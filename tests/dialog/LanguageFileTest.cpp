#include "dialog/LanguageFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class LanguageFileTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    fs::path module = dir / "module";
    fs::path user = dir / "user";

    void SetUp() override
    {
        fs::create_directories(module);
        fs::create_directories(user);
    }
    dialog::LanguageFile File() const { return dialog::LanguageFile(module.string(), user.string()); }
    static std::string Bytes(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

} // namespace

TEST_F(LanguageFileTest, WritesByteOrderMarkAndUtf16WithoutTerminatorReplacingTheWholeFile)
{
    EXPECT_EQ(File().Write(u"<a>\u00E9\U0001F600</a>"), (user / "lang.xml").string());
    EXPECT_EQ(Bytes(user / "lang.xml"), std::string("\xFF\xFE<\0a\0>\0\xE9\0\x3D\xD8\x00\xDE<\0/\0a\0>\0", 2 + 2 * 10));
    // A rewrite replaces the whole file; text that is no XML is written but
    // not read; an empty text leaves the mark alone.
    ASSERT_TRUE(File().Write(u"not xml at all"));
    EXPECT_EQ(Bytes(user / "lang.xml").size(), 2u + 2 * 14);
    EXPECT_FALSE(File().Read());
    ASSERT_TRUE(File().Write(u""));
    EXPECT_EQ(Bytes(user / "lang.xml"), std::string("\xFF\xFE"));
}

TEST_F(LanguageFileTest, MissingUserFolderFallsBackToTheModuleFolderAndNeitherUsableWritesNothing)
{
    fs::remove_all(user);
    EXPECT_EQ(File().Write(u"<a/>"), (module / "lang.xml").string());
    EXPECT_TRUE(fs::exists(module / "lang.xml"));
    EXPECT_FALSE(fs::exists(user)) << "the user folder is not created";
    fs::remove_all(module);
    EXPECT_FALSE(File().Write(u"<a/>"));
    EXPECT_FALSE(fs::exists(module));
    EXPECT_FALSE(dialog::LanguageFile("", "").Read());
    EXPECT_FALSE(dialog::LanguageFile("", "").Write(u"<a/>"));
    // A FIFO in the way must not hang the dialog, nor a folder named like the file.
    fs::create_directories(user);
    fs::create_directories(module / "lang.xml");
    ASSERT_EQ(::mkfifo((user / "lang.xml").c_str(), 0600), 0);
    EXPECT_FALSE(File().Write(u"<a/>"));
}

TEST_F(LanguageFileTest, LoadableModuleFileWinsElseTheUserFileIsReadAsTheParsersText)
{
    ASSERT_TRUE(File().Write(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<lang>  <text id=\"a\">&#x41;&amp;</text></lang>"));
    std::ofstream(module / "lang.xml") << "<not-closed>";
    auto text = File().Read();
    ASSERT_TRUE(text);
    // Decoded from UTF-16, reserialised: no byte-order mark, the character
    // reference resolved.
    EXPECT_EQ(text->find('\xFF'), std::string::npos);
    EXPECT_NE(text->find("<text id=\"a\">A&amp;</text>"), std::string::npos) << *text;
    std::ofstream(module / "lang.xml") << "<lang from='module'/>";
    text = File().Read();
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("module"), std::string::npos);
    fs::remove(module / "lang.xml");
    fs::remove(user / "lang.xml");
    EXPECT_FALSE(File().Read());
}
