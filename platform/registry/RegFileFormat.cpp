#include "platform/registry/RegFileFormat.h"

#include "platform/registry/Registry.h"

#include <array>
#include <charconv>

namespace platform::registry {

namespace {

constexpr std::string_view kClassesRootName = "HKEY_CLASSES_ROOT";
constexpr std::array<std::string_view, 2> kClassesPath = { "Software", "Classes" };
constexpr char kHexDigits[] = "0123456789abcdef";
// Lines of hex data wrap before this column, as the registry editor does.
constexpr std::size_t kWrapColumn = 77;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits, nothing else.
bool ParseHexNumber(std::string_view s, DWORD& value)
{
    if (s.empty() || s.size() > 8)
        return false;
    value = 0;
    for (char c : s) {
        const int d = HexValue(c);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<DWORD>(d);
    }
    return true;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

class Parser {
public:
    Parser(std::string_view text, Hive hive)
        : m_text(text)
        , m_hive(hive)
    {
    }

    ParsedHive Run()
    {
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF")
            m_pos = 3;
        auto root = std::make_unique<HiveKey>(std::string(HiveRootName(m_hive)));
        std::string_view line;
        bool sawHeader = false;
        HiveKey* section = nullptr;
        while (NextLine(line)) {
            line = TrimLeft(TrimRight(line));
            if (line.empty())
                continue;
            if (!sawHeader) {
                if (line != kRegFileHeader)
                    return Fail("expected \"" + std::string(kRegFileHeader) + "\"");
                sawHeader = true;
            } else if (line.front() == ';') {
                continue;
            } else if (line.front() == '[') {
                section = ParseSection(line, *root);
                if (!section)
                    return Fail(m_error);
            } else if (line.front() == '@' || line.front() == '"') {
                if (!section)
                    return Fail("value outside a section");
                if (!ParseValue(line, *section))
                    return Fail(m_error);
            } else {
                return Fail("unexpected text");
            }
        }
        if (!sawHeader)
            return Fail("expected \"" + std::string(kRegFileHeader) + "\"");
        // Every line we write ends in a newline; a file that does not was
        // cut short, and its last line may look valid but hold less.
        if (m_text.back() != '\n')
            return Fail("the file ends in the middle of a line");
        return { std::move(root), {} };
    }

private:
    bool NextLine(std::string_view& line)
    {
        if (m_pos >= m_text.size())
            return false;
        std::size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        ++m_line;
        return true;
    }

    ParsedHive Fail(const std::string& what)
    {
        return { nullptr, "line " + std::to_string(m_line) + ": " + what };
    }

    bool Error(std::string what)
    {
        m_error = std::move(what);
        return false;
    }

    HiveKey* ParseSection(std::string_view line, HiveKey& root)
    {
        // A key name may itself contain ']', so the header ends at the last.
        if (line.back() != ']') {
            Error("section header without closing ']'");
            return nullptr;
        }
        std::string_view path = line.substr(1, line.size() - 2);
        if (!path.empty() && path.front() == '-') {
            Error("key deletions are not supported in a hive file");
            return nullptr;
        }
        const std::size_t cut = path.find('\\');
        const std::string_view rootName = path.substr(0, cut);
        path = cut == std::string_view::npos ? std::string_view {} : path.substr(cut + 1);
        HiveKey* key = &root;
        std::size_t depth = 0;
        if (m_hive == Hive::Machine && EqualsIgnoringAsciiCase(rootName, kClassesRootName)) {
            for (std::string_view name : kClassesPath)
                key = &key->CreateSubKey(name);
            depth = kClassesPath.size();
        } else if (!EqualsIgnoringAsciiCase(rootName, HiveRootName(m_hive))) {
            Error("section outside " + std::string(HiveRootName(m_hive)));
            return nullptr;
        }
        if (cut == std::string_view::npos)
            return key;
        while (true) {
            const std::size_t sep = path.find('\\');
            const std::string_view name = path.substr(0, sep);
            if (!IsValidKeyName(name)) {
                Error("invalid key name in section header");
                return nullptr;
            }
            if (++depth > kMaxKeyDepth) {
                Error("keys nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
                return nullptr;
            }
            key = &key->CreateSubKey(name);
            if (sep == std::string_view::npos)
                return key;
            path.remove_prefix(sep + 1);
        }
    }

    // s[i] is the opening quote; on success i is past the closing one.
    bool ParseQuoted(std::string_view s, std::size_t& i, std::string& out)
    {
        for (++i; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++i >= s.size())
                break;
            if (s[i] == '\\' || s[i] == '"') {
                out += s[i];
            } else if (s[i] == 'x' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
                out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
                i += 2;
            } else {
                return Error("unknown escape in quoted text");
            }
        }
        return Error("quoted text without closing quote");
    }

    bool ParseValue(std::string_view line, HiveKey& key)
    {
        std::string name;
        std::size_t i = 0;
        if (line.front() == '@') {
            i = 1;
        } else if (!ParseQuoted(line, i, name)) {
            return false;
        }
        std::string_view rest = TrimLeft(line.substr(i));
        if (rest.empty() || rest.front() != '=')
            return Error("expected '=' after the value name");
        rest = TrimLeft(rest.substr(1));

        std::vector<std::uint8_t> data;
        DWORD type = REG_SZ;
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            std::size_t j = 0;
            if (!ParseQuoted(rest, j, text))
                return false;
            if (!TrimLeft(rest.substr(j)).empty())
                return Error("text after the closing quote");
            data.assign(text.begin(), text.end());
            data.push_back(0);
        } else if (rest.substr(0, 6) == "dword:") {
            DWORD v = 0;
            if (rest.size() != 6 + 8 || !ParseHexNumber(rest.substr(6), v))
                return Error("dword needs 8 hex digits");
            type = REG_DWORD;
            data = { static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24) };
        } else if (rest.substr(0, 4) == "hex:" || rest.substr(0, 4) == "hex(") {
            std::size_t listStart = 4;
            type = REG_BINARY;
            if (rest[3] == '(') {
                const std::size_t close = rest.find("):");
                if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), type))
                    return Error("hex(type) needs 1 to 8 hex digits");
                listStart = close + 2;
            }
            if (!ParseHexList(rest.substr(listStart), data))
                return false;
        } else if (rest == "-") {
            return Error("value deletions are not supported in a hive file");
        } else {
            return Error("unknown value data");
        }
        key.SetValue(name, type, data);
        return true;
    }

    // Comma-separated bytes; a line ending in '\' continues on the next.
    bool ParseHexList(std::string_view first, std::vector<std::uint8_t>& data)
    {
        std::string joined;
        std::string_view part = TrimRight(first);
        while (!part.empty() && part.back() == '\\') {
            joined.append(part.substr(0, part.size() - 1));
            std::string_view next;
            if (!NextLine(next))
                return Error("hex data continues past the end of the file");
            part = TrimLeft(TrimRight(next));
        }
        joined.append(part);
        std::string_view list = joined;
        if (TrimLeft(list).empty())
            return true;
        while (true) {
            const std::size_t comma = list.find(',');
            const std::string_view item = TrimLeft(TrimRight(list.substr(0, comma)));
            const bool last = comma == std::string_view::npos;
            // A trailing comma is tolerated; an empty item elsewhere is not.
            if (item.empty() && last && !data.empty())
                return true;
            DWORD byte = 0;
            if (item.size() != 2 || !ParseHexNumber(item, byte))
                return Error("hex data needs bytes of 2 hex digits");
            data.push_back(static_cast<std::uint8_t>(byte));
            if (last)
                return true;
            list.remove_prefix(comma + 1);
        }
    }

    std::string_view m_text;
    Hive m_hive;
    std::size_t m_pos = 0;
    std::size_t m_line = 0;
    std::string m_error;
};

void AppendHexByte(std::string& out, std::uint8_t b)
{
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0xF];
}

// Value names: control characters and bytes that are not UTF-8 as \xHH.
void AppendQuotedName(std::string& out, std::string_view name)
{
    out += '"';
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(name, i, cp);
        if (len == 0 || cp < 0x20 || cp == 0x7F) {
            out += "\\x";
            AppendHexByte(out, static_cast<std::uint8_t>(name[i]));
            ++i;
            continue;
        }
        if (cp == '"' || cp == '\\')
            out += '\\';
        out.append(name.substr(i, len));
        i += len;
    }
    out += '"';
}

// Whether a REG_SZ can be written as quoted text and read back the same.
bool IsPlainString(std::span<const std::uint8_t> data)
{
    if (data.empty() || data.back() != 0)
        return false;
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size() - 1);
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0 || cp < 0x20 || cp == 0x7F)
            return false;
        i += len;
    }
    return true;
}

void AppendValue(std::string& out, const HiveValue& value)
{
    const std::size_t lineStart = out.size();
    if (value.name.empty())
        out += '@';
    else
        AppendQuotedName(out, value.name);
    out += '=';
    if (value.type == REG_SZ && IsPlainString(value.data)) {
        out += '"';
        for (std::size_t i = 0; i + 1 < value.data.size(); ++i) {
            const char c = static_cast<char>(value.data[i]);
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += "\"\n";
        return;
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        out += "dword:";
        for (int i = 3; i >= 0; --i)
            AppendHexByte(out, value.data[static_cast<std::size_t>(i)]);
        out += '\n';
        return;
    }
    if (value.type == REG_BINARY) {
        out += "hex:";
    } else {
        char type[9];
        const auto r = std::to_chars(type, type + sizeof type, value.type, 16);
        out += "hex(";
        out.append(type, r.ptr);
        out += "):";
    }
    std::size_t column = out.size() - lineStart;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        if (i > 0) {
            if (column + 3 > kWrapColumn) {
                out += ",\\\n  ";
                column = 2;
            } else {
                out += ',';
                ++column;
            }
        }
        AppendHexByte(out, value.data[i]);
        column += 2;
    }
    out += '\n';
}

void AppendKey(std::string& out, const HiveKey& key, const std::string& path, bool isRoot)
{
    if (!isRoot || !key.Values().empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const HiveValue& v : key.Values())
            AppendValue(out, v);
        out += '\n';
    }
    for (std::size_t i = 0; i < key.SubKeyCount(); ++i) {
        const HiveKey& sub = key.SubKeyAt(i);
        AppendKey(out, sub, path + '\\' + sub.Name(), false);
    }
}

} // namespace

std::string_view HiveRootName(Hive hive)
{
    return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

ParsedHive ParseHiveText(std::string_view text, Hive hive)
{
    return Parser(text, hive).Run();
}

std::string SerializeHive(const HiveKey& root, Hive hive)
{
    std::string out(kRegFileHeader);
    out += "\n\n";
    AppendKey(out, root, std::string(HiveRootName(hive)), true);
    return out;
}

} // namespace platform::registry
