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

std::string AllBytes()
{
    std::string s;
    for (int i = 1; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

} // namespace

// ---- the stored form ---------------------------------------------------------

TEST(Scramble, EveryByteAndEveryKeySurviveTheRoundTrip)
{
    const std::string text = AllBytes();
    for (int key = 0; key < 256; key += 17)
        for (std::size_t cut : { std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(3), text.size() }) {
            const std::string part = text.substr(0, cut);
            EXPECT_EQ(dialog::Unscramble(dialog::Scramble(part, static_cast<std::uint8_t>(key)), static_cast<std::uint8_t>(key)),
                      part)
                << "key " << key << " length " << cut;
        }
}

TEST(Scramble, KnownVectorPinsRotationAndXorOrderAndBrokenInputFails)
{
    // 'A' (0x41) rotated right by two is 0x50, XOR 0x0F is 0x5F: "Xw==".
    EXPECT_EQ(dialog::Scramble("A", 0x0F), "Xw==");
    // And the decoder XORs first, then rotates left.
    EXPECT_EQ(dialog::Unscramble("Xw==", 0x0F), "A");
    EXPECT_FALSE(dialog::Unscramble("QUJD" "R", 0));  // one lone sextet
    EXPECT_FALSE(dialog::Unscramble("QQ==QUJD", 0));  // data after padding
    EXPECT_TRUE(dialog::Unscramble("", 0));            // nothing is an empty text
    EXPECT_EQ(dialog::Unscramble(dialog::Scramble(std::string("abc\0def", 7), 0x33), 0x33), "abc") << "text ends at a zero byte";
}

TEST(Scramble, CharactersOutsideTheAlphabetAreSkipped)
{
    const std::string stored = dialog::Scramble("<xsl:stylesheet/>", 0x5A, 4);
    ASSERT_NE(stored.find('\n'), std::string::npos);
    std::string noisy;
    for (char c : stored) {
        noisy.push_back(c);
        noisy += " \t\r*";
    }
    EXPECT_EQ(dialog::Unscramble(noisy, 0x5A), "<xsl:stylesheet/>");
}

// ---- the three stored templates ---------------------------------------------

TEST(Templates, StoredFormsMatchTheReadableSources)
{
    // The build generates the stored forms; a stale generated file would
    // show the dialog an old template.
    EXPECT_EQ(dialog::LoadTemplate(dialog::Template::ListStylesheet), ReadSource("dialog/templates/list.xsl"));
    EXPECT_EQ(dialog::LoadTemplate(dialog::Template::DialogScript), ReadSource("dialog/templates/dialog.html"));
    EXPECT_EQ(dialog::LoadTemplate(dialog::Template::PageStylesheet), ReadSource("dialog/templates/page.xsl"));
}

TEST(Templates, StoredFormsAreNotPlainTextAndUseTheirOwnKeys)
{
    const dialog::Template all[] = { dialog::Template::ListStylesheet, dialog::Template::DialogScript,
                                     dialog::Template::PageStylesheet };
    std::set<int> keys;
    for (auto which : all) {
        const auto stored = dialog::StoredForm(which);
        keys.insert(stored.key);
        ASSERT_GT(stored.text.size(), 100u);
        for (const char* plain : { "xsl", "stylesheet", "script", "BodyOnLoad", "<", "function" })
            EXPECT_EQ(stored.text.find(plain), std::string_view::npos) << plain;
        EXPECT_EQ(stored.text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\n"),
                  std::string_view::npos);
        // Another key gives something else than the template.
        EXPECT_NE(dialog::Unscramble(stored.text, static_cast<std::uint8_t>(stored.key ^ 1)), dialog::LoadTemplate(which));
    }
    EXPECT_EQ(keys.size(), 3u);
}

TEST(Templates, StylesheetsAreWellFormedXslt)
{
    for (auto which : { dialog::Template::ListStylesheet, dialog::Template::PageStylesheet }) {
        auto text = dialog::LoadTemplate(which);
        ASSERT_TRUE(text);
        xml::Document doc;
        ASSERT_TRUE(doc.LoadXml(*text)) << doc.LastError();
        EXPECT_EQ(doc.DocumentElement()->Name(), "xsl:stylesheet");
    }
}

TEST(Templates, DialogScriptDefinesWhatTheShellCalls)
{
    auto script = dialog::LoadTemplate(dialog::Template::DialogScript);
    ASSERT_TRUE(script);
    EXPECT_TRUE(std::regex_search(*script, std::regex(R"(function\s+BodyOnLoad\s*\(\s*\))")));
    EXPECT_TRUE(std::regex_search(*script, std::regex(R"(function\s+BodyOnUnLoad\s*\(\s*\))")));
    // Every action the body's markup names has a handler in the script.
    auto page = dialog::LoadTemplate(dialog::Template::PageStylesheet);
    ASSERT_TRUE(page);
    std::regex action(R"re(data-action="([a-z-]+)")re");
    int actions = 0;
    for (auto it = std::sregex_iterator(page->begin(), page->end(), action); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1];
        ++actions;
        EXPECT_TRUE(script->find("'" + name + "'") != std::string::npos || script->find(name + ":") != std::string::npos)
            << "no handler for " << name;
    }
    EXPECT_GE(actions, 8);
}
