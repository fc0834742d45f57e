#include "platform/registry/RegFileFormat.h"
#include "platform/registry/Registry.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using platform::registry::Hive;
using platform::registry::HiveKey;
using platform::registry::ParseHiveText;
using platform::registry::SerializeHive;
using Data = std::vector<std::uint8_t>;

Data Bytes(std::string_view s) { return { s.begin(), s.end() }; }
Data Sz(std::string_view s) { return Bytes(std::string(s) + '\0'); }

TEST(RegFileRoundTrip, EveryTypeKeepsItsExactBytesAndTrickyNamesSurvive)
{
    HiveKey root("HKEY_CURRENT_USER");
    HiveKey& k = root.CreateSubKey("Types");
    Data big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    const std::pair<DWORD, Data> values[] = { { REG_SZ, Sz("plain text") }, { REG_SZ, Bytes("C:\\path") },
        { REG_SZ, {} }, { REG_SZ, Sz("") }, { REG_SZ, Bytes(std::string_view("a\0\0", 3)) },
        { REG_SZ, Sz(std::string_view("a\0b", 3)) }, { REG_SZ, Sz("line1\nline2\r\n\t") }, { REG_SZ, Sz("\xC3(\xFF") },
        { REG_SZ, Sz("say \"hi\" \\\\server\\share\\") }, { REG_SZ, Sz("Grüße 日本 \xF0\x9F\x98\x80") },
        { REG_EXPAND_SZ, Sz("%HOME%/Grabbed Files") }, { REG_BINARY, big }, { REG_BINARY, {} },
        { REG_DWORD, { 0xF4, 0x01, 0x00, 0x00 } }, { REG_DWORD, { 1, 2, 3 } }, { REG_DWORD, { 1, 2, 3, 4, 5 } },
        { REG_NONE, {} }, { REG_MULTI_SZ, Bytes(std::string_view("a\0b\0\0", 5)) }, { 0xFFFFFFFF, { 0xAB } } };
    for (const auto& [type, data] : values)
        k.SetValue("v" + std::to_string(k.Values().size()), type, data);

    HiveKey& names = root.CreateSubKey("Names");
    const std::vector<std::string> tricky = { "", "@", "a=b", "=", "\"quoted\"", "back\\slash", "\\x41", "\\",
        "new\nline", "cr\rlf", "tab\tname", "\x7F", "Grüße", "bad\xFFutf8", "trailing space ", " lead", "[section]",
        ";comment", "hex:01", "-" };
    for (const std::string& name : tricky)
        names.SetValue(name, REG_DWORD, Data { static_cast<std::uint8_t>(names.Values().size()), 0, 0, 0 });
    ASSERT_EQ(names.Values().size(), tricky.size());
    root.SetValue("at root", REG_SZ, Sz("x"));
    HiveKey& a = root.CreateSubKey("a]b[c");
    a.CreateSubKey("=\"q\"");
    a.CreateSubKey(" spaced ");
    root.CreateSubKey("Ärger").CreateSubKey("empty");
    root.CreateSubKey("@");

    const std::string text = SerializeHive(root, Hive::CurrentUser);
    const auto parsed = ParseHiveText(text, Hive::CurrentUser);
    ASSERT_TRUE(parsed.root) << parsed.error << "\n" << text;
    EXPECT_TRUE(*parsed.root == root) << text;
    EXPECT_EQ(SerializeHive(*parsed.root, Hive::CurrentUser), text) << "the text is stable";
}

TEST(RegFileText, LooksLikeARegistryExportWithLongHexWrappedWithinEightyColumns)
{
    HiveKey root("HKEY_CURRENT_USER");
    HiveKey& k = root.CreateSubKey("Software").CreateSubKey("Vornel");
    k.SetValue("", REG_SZ, Sz("default"));
    k.SetValue("GrabPath", REG_SZ, Sz("C:\\Users\\me \"x\""));
    k.SetValue("GrabFlash", REG_BINARY, Data { 1 });
    k.SetValue("MaxOverallLog", REG_DWORD, Data { 0xF4, 0x01, 0, 0 });
    k.SetValue("Bare", REG_SZ, Bytes("ab"));
    k.SetValue("Expand", REG_EXPAND_SZ, Sz("%A%"));
    EXPECT_EQ(SerializeHive(root, Hive::CurrentUser),
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software]\n\n"
        "[HKEY_CURRENT_USER\\Software\\Vornel]\n"
        "@=\"default\"\n"
        "\"GrabPath\"=\"C:\\\\Users\\\\me \\\"x\\\"\"\n"
        "\"GrabFlash\"=hex:01\n"
        "\"MaxOverallLog\"=dword:000001f4\n"
        "\"Bare\"=hex(1):61,62\n"
        "\"Expand\"=hex(2):25,41,25,00\n\n");

    const Data data(500, 0xAB);
    k.SetValue("a rather long value name", REG_BINARY, data);
    const std::string text = SerializeHive(root, Hive::CurrentUser);
    std::size_t lines = 0;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1, ++lines) {
        end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    }
    EXPECT_GT(lines, 30u);
    EXPECT_NE(text.find(",\\\n  ab,"), std::string::npos);
    const auto parsed = ParseHiveText(text, Hive::CurrentUser);
    ASSERT_TRUE(parsed.root) << parsed.error;
    EXPECT_EQ(parsed.root->FindSubKey("software")->FindSubKey("vornel")->FindValue("A RATHER LONG VALUE NAME")->data, data);
}

TEST(RegFileParse, AcceptsHandWrittenRegeditStyle)
{
    const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
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
    EXPECT_EQ(x->FindValue("Small")->data, (Data { 0x1F, 0, 0, 0 }));
    EXPECT_EQ(x->FindValue("Upper")->data, (Data { 0xAB, 0xCD, 0xEF }));
    EXPECT_EQ(x->FindValue("Spaced")->data, Sz("v"));
}

TEST(RegFileParse, RejectsDamagedFilesWithTheLineAndBoundsNesting)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string key = header + "[HKEY_CURRENT_USER\\A]\n"; // values go on line 4
    ASSERT_TRUE(ParseHiveText(header, Hive::CurrentUser).root) << "the header alone is a valid, empty hive";
    struct Case {
        const char* what;
        std::string text;
        const char* line;
    };
    const Case cases[] = {
        { "no header", "[HKEY_CURRENT_USER\\A]\n", "line 1:" },
        { "empty file", "", "line 0:" },
        { "value before section", header + "\"a\"=\"b\"\n", "line 3:" },
        { "other hive's root", header + "[HKEY_LOCAL_MACHINE\\A]\n", "line 3:" },
        { "classes root in user hive", header + "[HKEY_CLASSES_ROOT\\A]\n", "line 3:" },
        { "unclosed section", header + "[HKEY_CURRENT_USER\\A\n", "line 3:" },
        { "empty key name", header + "[HKEY_CURRENT_USER\\A\\\\B]\n", "line 3:" },
        { "key name too long", header + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n", "line 3:" },
        { "deletion", header + "[-HKEY_CURRENT_USER\\A]\n", "line 3:" },
        { "binary garbage", header + std::string("\0\x01\x02", 3), "line 3:" },
        { "unknown escape", key + "\"a\\q\"=\"b\"\n", "line 4:" },
        { "unterminated quote", key + "\"a\"=\"b\n", "line 4:" },
        { "torn in the middle of a value", key + "\"a\"=hex:01,0", "line 4:" },
        { "junk after string", key + "\"a\"=\"b\"c\n", "line 4:" },
        { "bad hex byte", key + "\"a\"=hex:1g\n", "line 4:" },
        { "one-digit byte", key + "\"a\"=hex:1\n", "line 4:" },
        { "three-digit byte", key + "\"a\"=hex:123\n", "line 4:" },
        { "empty byte", key + "\"a\"=hex:01,,02\n", "line 4:" },
        { "continuation at end", key + "\"a\"=hex:01,\\\n", "line 4:" },
        { "dword too long", key + "\"a\"=dword:123456789\n", "line 4:" },
        { "dword cut short", key + "\"a\"=dword:000001\n", "line 4:" },
        { "last line cut short", key + "\"a\"=\"b\"", "line 4:" },
        { "bad type", key + "\"a\"=hex(zz):00\n", "line 4:" },
        { "value deletion", key + "\"a\"=-\n", "line 4:" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = ParseHiveText(c.text, Hive::CurrentUser);
        EXPECT_FALSE(parsed.root);
        EXPECT_EQ(parsed.error.rfind(c.line, 0), 0u) << parsed.error;
    }

    // Nesting deep enough to overflow a recursive walk is refused at 512.
    std::string path = "HKEY_CURRENT_USER";
    for (int i = 0; i < 100000; ++i)
        path += "\\k";
    const auto deep = ParseHiveText(header + "[" + path + "]\n", Hive::CurrentUser);
    EXPECT_FALSE(deep.root);
    EXPECT_NE(deep.error.find("512"), std::string::npos) << deep.error;
}

// Damaged copies of a real file either fail cleanly or parse into a tree
// that writes and reads back the same: no crash, no half-read state.
TEST(RegFileParse, RandomDamageNeverCrashesOrLoses)
{
    HiveKey root("HKEY_CURRENT_USER");
    HiveKey& k = root.CreateSubKey("Software").CreateSubKey("Vornel");
    k.SetValue("GrabPath", REG_SZ, Sz("C:\\a \"b\""));
    k.SetValue("n\\x", REG_BINARY, Data(100, 0x5A));
    k.SetValue("d", REG_DWORD, Data { 1, 2, 3, 4 });
    const std::string original = SerializeHive(root, Hive::CurrentUser);
    std::mt19937 random(12345);
    const std::string alphabet = "[]\\\"=@,:\n\r x0fhexdword()";
    int parsedCount = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = original;
        for (int e = 0, edits = 1 + static_cast<int>(random() % 4); e < edits; ++e) {
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
