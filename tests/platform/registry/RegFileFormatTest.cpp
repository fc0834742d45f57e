#include "platform/registry/RegFileFormat.h"
#include "platform/registry/Registry.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using platform::registry::Hive;
using platform::registry::HiveKey;
using platform::registry::ParseHiveText;
using platform::registry::SerializeHive;

std::vector<std::uint8_t> Bytes(std::string_view s)
{
    return { s.begin(), s.end() };
}

std::vector<std::uint8_t> Sz(std::string_view s)
{
    auto b = Bytes(s);
    b.push_back(0);
    return b;
}

// Serialises, parses back and requires the same tree.
void ExpectRoundTrip(const HiveKey& root, Hive hive)
{
    const std::string text = SerializeHive(root, hive);
    const auto parsed = ParseHiveText(text, hive);
    ASSERT_TRUE(parsed.root) << parsed.error << "\n" << text;
    EXPECT_TRUE(*parsed.root == root) << text;
    // And the text is stable: writing the parsed tree gives the same file.
    EXPECT_EQ(SerializeHive(*parsed.root, hive), text);
}

TEST(RegFileRoundTrip, EveryTypeKeepsItsExactBytesAndTrickyNamesSurvive)
{
    HiveKey root("HKEY_CURRENT_USER");
    HiveKey& k = root.CreateSubKey("Types");
    std::vector<std::uint8_t> big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    k.SetValue("sz", REG_SZ, Sz("plain text"));
    k.SetValue("sz no terminator", REG_SZ, Bytes("C:\\path"));
    k.SetValue("sz empty", REG_SZ, {});
    k.SetValue("sz only zero", REG_SZ, Sz(""));
    k.SetValue("sz two zeros", REG_SZ, Bytes(std::string_view("a\0\0", 3)));
    k.SetValue("sz embedded zero", REG_SZ, Sz(std::string_view("a\0b", 3)));
    k.SetValue("sz newline", REG_SZ, Sz("line1\nline2\r\n"));
    k.SetValue("sz tab", REG_SZ, Sz("a\tb"));
    k.SetValue("sz invalid utf8", REG_SZ, Sz("\xC3(\xFF"));
    k.SetValue("sz quotes", REG_SZ, Sz("say \"hi\" \\\\server\\share\\"));
    k.SetValue("sz non-ascii", REG_SZ, Sz("Grüße 日本 \xF0\x9F\x98\x80"));
    k.SetValue("expand", REG_EXPAND_SZ, Sz("%HOME%/Grabbed Files"));
    k.SetValue("binary", REG_BINARY, big);
    k.SetValue("binary empty", REG_BINARY, {});
    k.SetValue("dword", REG_DWORD, std::vector<std::uint8_t> { 0xF4, 0x01, 0x00, 0x00 });
    k.SetValue("dword short", REG_DWORD, std::vector<std::uint8_t> { 0x01, 0x02, 0x03 });
    k.SetValue("dword long", REG_DWORD, std::vector<std::uint8_t> { 1, 2, 3, 4, 5 });
    k.SetValue("none", REG_NONE, {});
    k.SetValue("multi", REG_MULTI_SZ, Bytes(std::string_view("a\0b\0\0", 5)));
    k.SetValue("odd type", 0xFFFFFFFF, std::vector<std::uint8_t> { 0xAB });

    HiveKey& names = root.CreateSubKey("Names");
    const std::vector<std::string> tricky = { "", "@", "a=b", "=", "\"quoted\"", "back\\slash", "\\x41", "\\",
        "new\nline", "cr\rlf", "tab\tname", "\x7F", "Grüße", "bad\xFFutf8", "trailing space ", " lead", "[section]",
        ";comment", "hex:01", "-" };
    for (const std::string& name : tricky)
        names.SetValue(name, REG_DWORD, std::vector<std::uint8_t> { static_cast<std::uint8_t>(names.Values().size()), 0, 0, 0 });
    ASSERT_EQ(names.Values().size(), tricky.size());

    root.SetValue("at root", REG_SZ, Sz("x"));
    HiveKey& a = root.CreateSubKey("a]b[c");
    a.CreateSubKey("=\"q\"");
    a.CreateSubKey(" spaced ");
    root.CreateSubKey("Ärger").CreateSubKey("empty");
    root.CreateSubKey("@");
    ExpectRoundTrip(root, Hive::CurrentUser);
}

TEST(RegFileText, LooksLikeARegistryExport)
{
    HiveKey root("HKEY_CURRENT_USER");
    HiveKey& k = root.CreateSubKey("Software").CreateSubKey("Vornel");
    k.SetValue("", REG_SZ, Sz("default"));
    k.SetValue("GrabPath", REG_SZ, Sz("C:\\Users\\me \"x\""));
    k.SetValue("GrabFlash", REG_BINARY, std::vector<std::uint8_t> { 1 });
    k.SetValue("MaxOverallLog", REG_DWORD, std::vector<std::uint8_t> { 0xF4, 0x01, 0, 0 });
    k.SetValue("Bare", REG_SZ, Bytes("ab"));
    k.SetValue("Expand", REG_EXPAND_SZ, Sz("%A%"));
    EXPECT_EQ(SerializeHive(root, Hive::CurrentUser),
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software]\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Vornel]\n"
        "@=\"default\"\n"
        "\"GrabPath\"=\"C:\\\\Users\\\\me \\\"x\\\"\"\n"
        "\"GrabFlash\"=hex:01\n"
        "\"MaxOverallLog\"=dword:000001f4\n"
        "\"Bare\"=hex(1):61,62\n"
        "\"Expand\"=hex(2):25,41,25,00\n"
        "\n");
}

TEST(RegFileText, LongHexWrapsWithinEightyColumnsAndReadsBack)
{
    HiveKey root("HKEY_CURRENT_USER");
    std::vector<std::uint8_t> data(500, 0xAB);
    root.CreateSubKey("K").SetValue("a rather long value name", REG_BINARY, data);
    const std::string text = SerializeHive(root, Hive::CurrentUser);
    std::size_t start = 0, lines = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 1;
        ++lines;
    }
    EXPECT_GT(lines, 20u);
    EXPECT_NE(text.find(",\\\n  ab,"), std::string::npos);
    const auto parsed = ParseHiveText(text, Hive::CurrentUser);
    ASSERT_TRUE(parsed.root) << parsed.error;
    EXPECT_EQ(parsed.root->FindSubKey("k")->FindValue("A RATHER LONG VALUE NAME")->data, data);
}

TEST(RegFileParse, AcceptsHandWrittenRegeditStyle)
{
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                             "\r\n"
                             "; written by hand\r\n"
                             "[HKEY_CLASSES_ROOT\\QVTovanix.Tovanix\\CLSID]\r\n"
                             "@=\"{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}\"\r\n"
                             "[hkey_local_machine\\Software\\X]\r\n"
                             "\"Small\"=dword:0000001f\r\n"
                             "\"Upper\"=hex:AB,Cd,\\\r\n"
                             "    EF\r\n"
                             "\"Spaced\" = \"v\"   \r\n";
    const auto parsed = ParseHiveText(text, Hive::Machine);
    ASSERT_TRUE(parsed.root) << parsed.error;
    const HiveKey* classes = parsed.root->FindSubKey("SOFTWARE")->FindSubKey("classes");
    ASSERT_NE(classes, nullptr);
    EXPECT_EQ(classes->FindSubKey("QVTovanix.Tovanix")->FindSubKey("CLSID")->FindValue("")->data,
        Sz("{7D3A21B4-5C9E-4F08-A6D2-3B81E0C4F957}"));
    const HiveKey* x = parsed.root->FindSubKey("Software")->FindSubKey("X");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->FindValue("Small")->data, (std::vector<std::uint8_t> { 0x1F, 0, 0, 0 }));
    EXPECT_EQ(x->FindValue("Upper")->data, (std::vector<std::uint8_t> { 0xAB, 0xCD, 0xEF }));
    EXPECT_EQ(x->FindValue("Spaced")->data, Sz("v"));
}

TEST(RegFileParse, RejectsDamagedFilesWithTheLine)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    struct Case {
        const char* what;
        std::string text;
        const char* line;
    };
    const std::vector<Case> cases = {
        { "no header", "[HKEY_CURRENT_USER\\A]\n", "line 1:" },
        { "empty file", "", "line 0:" },
        { "value before section", header + "\"a\"=\"b\"\n", "line 3:" },
        { "other hive's root", header + "[HKEY_LOCAL_MACHINE\\A]\n", "line 3:" },
        { "classes root in user hive", header + "[HKEY_CLASSES_ROOT\\A]\n", "line 3:" },
        { "unclosed section", header + "[HKEY_CURRENT_USER\\A\n", "line 3:" },
        { "empty key name", header + "[HKEY_CURRENT_USER\\A\\\\B]\n", "line 3:" },
        { "key name too long", header + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n", "line 3:" },
        { "unknown escape", header + "[HKEY_CURRENT_USER\\A]\n\"a\\q\"=\"b\"\n", "line 4:" },
        { "unterminated quote", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=\"b\n", "line 4:" },
        { "torn in the middle of a value", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,0", "line 4:" },
        { "junk after string", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=\"b\"c\n", "line 4:" },
        { "bad hex byte", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:1g\n", "line 4:" },
        { "one-digit byte", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:1\n", "line 4:" },
        { "three-digit byte", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:123\n", "line 4:" },
        { "empty byte", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,,02\n", "line 4:" },
        { "continuation at end", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,\\\n", "line 4:" },
        { "dword too long", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=dword:123456789\n", "line 4:" },
        { "dword cut short", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=dword:000001\n", "line 4:" },
        { "last line cut short", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=\"b\"", "line 4:" },
        { "bad type", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=hex(zz):00\n", "line 4:" },
        { "deletion", header + "[-HKEY_CURRENT_USER\\A]\n", "line 3:" },
        { "value deletion", header + "[HKEY_CURRENT_USER\\A]\n\"a\"=-\n", "line 4:" },
        { "binary garbage", header + std::string("\0\x01\x02", 3), "line 3:" },
    };
    for (const Case& c : cases) {
        const auto parsed = ParseHiveText(c.text, Hive::CurrentUser);
        ASSERT_TRUE(ParseHiveText(header, Hive::CurrentUser).root) << "the header alone is a valid, empty hive";
        EXPECT_FALSE(parsed.root) << c.what;
        EXPECT_EQ(parsed.error.rfind(c.line, 0), 0u) << c.what << ": " << parsed.error;
    }
}

TEST(RegFileParse, DeepNestingIsBoundedNotStackOverflow)
{
    std::string path = "HKEY_CURRENT_USER";
    for (int i = 0; i < 100000; ++i)
        path += "\\k";
    const auto parsed = ParseHiveText("Windows Registry Editor Version 5.00\n[" + path + "]\n", Hive::CurrentUser);
    EXPECT_FALSE(parsed.root);
    EXPECT_NE(parsed.error.find("512"), std::string::npos) << parsed.error;
}

// Damaged copies of a real file either fail cleanly or parse into a tree
// that writes and reads back the same: no crash, no half-read state.
TEST(RegFileParse, RandomDamageNeverCrashesOrLoses)
{
    HiveKey root("HKEY_CURRENT_USER");
    HiveKey& k = root.CreateSubKey("Software").CreateSubKey("Vornel");
    k.SetValue("GrabPath", REG_SZ, Sz("C:\\a \"b\""));
    k.SetValue("n\\x", REG_BINARY, std::vector<std::uint8_t>(100, 0x5A));
    k.SetValue("d", REG_DWORD, std::vector<std::uint8_t> { 1, 2, 3, 4 });
    const std::string original = SerializeHive(root, Hive::CurrentUser);
    std::mt19937 random(12345);
    const std::string alphabet = "[]\\\"=@,:\n\r x0fhexdword()";
    int parsedCount = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = original;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0: text[at] = alphabet[random() % alphabet.size()]; break;
            case 1: text.erase(at, 1 + random() % 8); break;
            default: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
            }
        }
        const auto parsed = ParseHiveText(text, Hive::CurrentUser);
        if (!parsed.root) {
            EXPECT_FALSE(parsed.error.empty());
            continue;
        }
        ++parsedCount;
        const std::string again = SerializeHive(*parsed.root, Hive::CurrentUser);
        const auto reparsed = ParseHiveText(again, Hive::CurrentUser);
        ASSERT_TRUE(reparsed.root) << reparsed.error << "\n" << again;
        EXPECT_TRUE(*reparsed.root == *parsed.root) << text;
    }
    EXPECT_GT(parsedCount, 0);
}

} // namespace
