#include "dialog/Scramble.h"
#include "dialog/Templates.h"
#include "platform/xml/Document.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

std::string ReadSource(const std::string& relative)
{
    std::ifstream in(testsupport::SourcePath(relative), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(Scramble, EveryByteAndKeySurvivesTheRoundTripAndAKnownVectorPinsTheOrder)
{
    std::string text;
    for (int i = 1; i < 256; ++i)
        text.push_back(static_cast<char>(i));
    for (int key = 0; key < 256; key += 17)
        for (std::size_t cut : { std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(3), text.size() })
            EXPECT_EQ(dialog::Unscramble(dialog::Scramble(text.substr(0, cut), static_cast<std::uint8_t>(key)),
                                         static_cast<std::uint8_t>(key)), text.substr(0, cut))
                << "key " << key << " length " << cut;
    // 'A' (0x41) rotated right by two is 0x50, XOR 0x0F is 0x5F: "Xw==";
    // the decoder XORs first, then rotates left.
    EXPECT_EQ(dialog::Scramble("A", 0x0F), "Xw==");
    EXPECT_EQ(dialog::Unscramble("Xw==", 0x0F), "A");
    EXPECT_EQ(dialog::Unscramble(dialog::Scramble(std::string("abc\0def", 7), 0x33), 0x33), "abc") << "text ends at a zero byte";
}

TEST(Scramble, BrokenInputFailsAndCharactersOutsideTheAlphabetAreSkipped)
{
    EXPECT_FALSE(dialog::Unscramble("QUJD" "R", 0)); // one lone sextet
    EXPECT_FALSE(dialog::Unscramble("QQ==QUJD", 0)); // data after padding
    EXPECT_TRUE(dialog::Unscramble("", 0));           // nothing is an empty text
    const std::string stored = dialog::Scramble("<xsl:stylesheet/>", 0x5A, 4);
    ASSERT_NE(stored.find('\n'), std::string::npos);
    std::string noisy;
    for (char c : stored)
        noisy += std::string(1, c) + " \t\r*";
    EXPECT_EQ(dialog::Unscramble(noisy, 0x5A), "<xsl:stylesheet/>");
}

TEST(Templates, StoredFormsAreScrambledWithTheirOwnKeysAndMatchTheReadableSources)
{
    // The build generates the stored forms; a stale generated file would
    // show the dialog an old template.
    const std::pair<dialog::Template, const char*> all[] = { { dialog::Template::ListStylesheet, "dialog/templates/list.xsl" },
        { dialog::Template::DialogScript, "dialog/templates/dialog.html" },
        { dialog::Template::PageStylesheet, "dialog/templates/page.xsl" } };
    std::set<int> keys;
    for (auto [which, source] : all) {
        SCOPED_TRACE(source);
        const auto text = dialog::LoadTemplate(which);
        EXPECT_EQ(text, ReadSource(source));
        const auto stored = dialog::StoredForm(which);
        keys.insert(stored.key);
        ASSERT_GT(stored.text.size(), 100u);
        for (const char* plain : { "xsl", "stylesheet", "script", "BodyOnLoad", "<", "function" })
            EXPECT_EQ(stored.text.find(plain), std::string_view::npos) << plain;
        EXPECT_EQ(stored.text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\n"),
                  std::string_view::npos);
        EXPECT_NE(dialog::Unscramble(stored.text, static_cast<std::uint8_t>(stored.key ^ 1)), text);
        if (which != dialog::Template::DialogScript) {
            xml::Document doc;
            ASSERT_TRUE(text && doc.LoadXml(*text)) << doc.LastError();
            EXPECT_EQ(doc.DocumentElement()->Name(), "xsl:stylesheet");
        }
    }
    EXPECT_EQ(keys.size(), 3u);
}

TEST(Templates, DialogScriptDefinesWhatTheShellAndTheBodysActionsCall)
{
    auto script = dialog::LoadTemplate(dialog::Template::DialogScript);
    auto page = dialog::LoadTemplate(dialog::Template::PageStylesheet);
    ASSERT_TRUE(script && page);
    EXPECT_TRUE(std::regex_search(*script, std::regex(R"(function\s+BodyOnLoad\s*\(\s*\))")));
    EXPECT_TRUE(std::regex_search(*script, std::regex(R"(function\s+BodyOnUnLoad\s*\(\s*\))")));
    std::regex action(R"re(data-action="([a-z-]+)")re");
    int actions = 0;
    for (auto it = std::sregex_iterator(page->begin(), page->end(), action); it != std::sregex_iterator(); ++it, ++actions) {
        const std::string name = (*it)[1];
        EXPECT_TRUE(script->find("'" + name + "'") != std::string::npos || script->find(name + ":") != std::string::npos)
            << "no handler for " << name;
    }
    EXPECT_GE(actions, 8);
}
