// `quillory settings [NAME [VALUE]]`: shows the values kept under the
// settings key (the grabber's options, the help path and the log
// settings), each with its registry type and, where nothing usable is
// stored, the default that applies; or stores one value.
//
// Showing only reads: the settings key is not created by looking at it.
// Values are judged by the same rules the grabber object and the options
// page use when they load, so a value shown as "default" is one they would
// not take either (a four-byte "GrabFlash", a path without its terminating
// zero).
//
// Exit status: 0 done; 1 the registry could not be read or written; 2 an
// unknown name or a value of the wrong form.
#include "host/Command.h"

#include "grabber/LogSettings.h"
#include "grabber/TovanixSettings.h"
#include "platform/registry/Registry.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum class Kind {
    Flag,  // REG_BINARY, one byte, 0 or 1
    Path,  // REG_SZ with its terminating zero, at most 259 bytes of text
    Int32, // REG_BINARY, four bytes, little-endian signed
};

enum class PathRule {
    None,          // not a path
    Absolute,      // must name a folder or file absolutely
    AbsoluteOrEmpty,
};

struct Setting {
    const char* name;
    Kind kind;
    PathRule pathRule;
    std::int32_t defaultNumber; // flags and numbers
};

// In the order the grabber object loads its values, then the help path,
// then the log settings.
constexpr std::array kSettings {
    Setting { "GrabPictures", Kind::Flag, PathRule::None, 1 },
    Setting { "GrabFlash", Kind::Flag, PathRule::None, 1 },
    Setting { "GrabCSS", Kind::Flag, PathRule::None, 1 },
    Setting { "GrabScripts", Kind::Flag, PathRule::None, 1 },
    Setting { "GrabPath", Kind::Path, PathRule::Absolute, 0 },
    Setting { "GrabQuickTime", Kind::Flag, PathRule::None, 1 },
    Setting { "GrabRealPlayer", Kind::Flag, PathRule::None, 1 },
    Setting { "GrabMediaPlayer", Kind::Flag, PathRule::None, 1 },
    Setting { "AutoClose", Kind::Flag, PathRule::None, 0 },
    Setting { "SelectAll", Kind::Flag, PathRule::None, 1 },
    Setting { "DebugMode", Kind::Flag, PathRule::None, 0 },
    Setting { "HelpPath", Kind::Path, PathRule::AbsoluteOrEmpty, 0 },
    Setting { "OverallLog", Kind::Flag, PathRule::None, 0 },
    Setting { "OverallLogPath", Kind::Path, PathRule::AbsoluteOrEmpty, 0 },
    Setting { "MaxOverallLog", Kind::Int32, PathRule::None, 500 },
    Setting { "PostGrabbingLog", Kind::Flag, PathRule::None, 1 },
};

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

const Setting* FindSetting(std::string_view name)
{
    for (const auto& s : kSettings) {
        if (EqualsNoCase(s.name, name))
            return &s;
    }
    return nullptr;
}

const char* TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_?";
    }
}

const char* DeclaredType(const Setting& s) { return s.kind == Kind::Path ? "REG_SZ" : "REG_BINARY"; }

std::string FlagText(std::uint8_t byte)
{
    if (byte == 0)
        return "off";
    if (byte == 1)
        return "on";
    // Kept as stored; read as on, as the grabber object does.
    return "on (byte " + std::to_string(byte) + ")";
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string DefaultText(const Setting& s)
{
    switch (s.kind) {
    case Kind::Flag: return FlagText(static_cast<std::uint8_t>(s.defaultNumber));
    case Kind::Int32: return std::to_string(s.defaultNumber);
    case Kind::Path:
        return Quoted(std::string_view(s.name) == "GrabPath" ? DefaultRootFolder(CreateDocuments::No) : std::string());
    }
    return {};
}

// The value as the loaders would take it from `key`; nullopt when they
// would not.
std::optional<std::string> TakenText(const Setting& s, HKEY key)
{
    switch (s.kind) {
    case Kind::Flag:
        if (auto v = ReadSettingsFlag(key, s.name))
            return FlagText(*v);
        return std::nullopt;
    case Kind::Int32:
        if (auto v = ReadSettingsInt32(key, s.name))
            return std::to_string(*v);
        return std::nullopt;
    case Kind::Path:
        if (auto v = ReadSettingsPath(key, s.name))
            return Quoted(*v);
        return std::nullopt;
    }
    return std::nullopt;
}

struct Shown {
    std::string type;   // the stored type, or the declared one for a default
    std::string origin; // "stored", "machine", "default"
    std::string value;
    std::string note;   // why a stored value is not used
};

// A value present but not taken: say what is there.
std::string IgnoredNote(HKEY key, const char* name)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueEx(key, name, &type, nullptr, &size) != ERROR_SUCCESS)
        return {};
    return std::string("stored ") + TypeName(type) + " of " + std::to_string(size) + " bytes is not used";
}

Shown Show(const Setting& s, HKEY user, HKEY machine)
{
    std::string note;
    for (auto [key, origin] : { std::pair { user, "stored" }, std::pair { machine, "machine" } }) {
        if (!key)
            continue;
        if (auto text = TakenText(s, key)) {
            DWORD type = REG_NONE;
            RegQueryValueEx(key, s.name, &type, nullptr, nullptr);
            return { TypeName(type), origin, *text, {} };
        }
        if (note.empty())
            note = IgnoredNote(key, s.name);
    }
    return { DeclaredType(s), "default", DefaultText(s), note };
}

void PrintLine(const Setting& s, const Shown& shown)
{
    std::printf("%-16s %-13s %-8s %s%s\n", s.name, shown.type.c_str(), shown.origin.c_str(), shown.value.c_str(),
        shown.note.empty() ? "" : ("  (" + shown.note + ")").c_str());
}

int List(const Setting* only)
{
    const std::string keyPath = LoadModuleString(kIdsSettingsKey);
    RegKey user;
    RegKey machine;
    const LONG r = user.Open(HKEY_CURRENT_USER, keyPath.c_str(), KEY_READ);
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "quillory settings: cannot read the settings (registry error %ld)\n", long(r));
        return 1;
    }
    // Only the help path is also looked up machine-wide.
    if (machine.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS)
        machine = RegKey {};
    if (!only)
        std::printf("%-16s %-13s %-8s %s\n", "NAME", "TYPE", "FROM", "VALUE");
    for (const auto& s : kSettings) {
        if (only && &s != only)
            continue;
        const bool machineWide = std::string_view(s.name) == "HelpPath";
        PrintLine(s, Show(s, user.get(), machineWide ? machine.get() : nullptr));
    }
    return 0;
}

int Refuse(const std::string& message)
{
    std::fprintf(stderr, "quillory settings: %s\n", message.c_str());
    return 2;
}

std::optional<std::uint8_t> ParseFlag(const std::string& text)
{
    for (const char* on : { "1", "on", "true" }) {
        if (EqualsNoCase(text, on))
            return 1;
    }
    for (const char* off : { "0", "off", "false" }) {
        if (EqualsNoCase(text, off))
            return 0;
    }
    return std::nullopt;
}

std::optional<std::int32_t> ParseInt32(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

int Store(const Setting& s, const std::string& text)
{
    std::vector<std::uint8_t> data;
    DWORD type = REG_BINARY;
    switch (s.kind) {
    case Kind::Flag: {
        const auto flag = ParseFlag(text);
        if (!flag)
            return Refuse(std::string(s.name) + " takes on/off, true/false or 1/0, not '" + text + "'");
        data = { *flag };
        break;
    }
    case Kind::Int32: {
        const auto number = ParseInt32(text);
        if (!number)
            return Refuse(std::string(s.name) + " takes a whole number from -2147483648 to 2147483647, not '" + text + "'");
        const auto u = static_cast<std::uint32_t>(*number);
        data = { std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24) };
        break;
    }
    case Kind::Path: {
        std::string path = text;
        if (path.empty() && s.pathRule != PathRule::AbsoluteOrEmpty)
            return Refuse(std::string(s.name) + " takes a folder path, not an empty text");
        if (!path.empty() && path.front() != '/') {
            // A path typed relative to where the user stands; stored
            // absolute so that it means the same to every later process.
            std::error_code ec;
            path = std::filesystem::absolute(path, ec).string();
            if (ec)
                return Refuse(std::string("cannot make '") + text + "' an absolute path");
        }
        if (path.size() >= kMaxSettingsPath)
            return Refuse(std::string(s.name) + " takes a path of at most " + std::to_string(kMaxSettingsPath - 1)
                + " bytes; '" + path + "' has " + std::to_string(path.size()));
        type = REG_SZ;
        data.assign(path.begin(), path.end());
        data.push_back(0);
        break;
    }
    }
    RegKey key;
    LONG r = key.Create(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ | KEY_WRITE);
    if (r == ERROR_SUCCESS)
        r = RegSetValueEx(key.get(), s.name, type, data.data(), static_cast<DWORD>(data.size()));
    if (r != ERROR_SUCCESS) {
        std::fprintf(stderr, "quillory settings: cannot store %s (registry error %ld)\n", s.name, long(r));
        return 1;
    }
    key.Close();
    return List(&s);
}

std::string KnownNames()
{
    std::string names;
    for (const auto& s : kSettings)
        names += (names.empty() ? "" : ", ") + std::string(s.name);
    return names;
}

struct Arguments {
    std::string name;
    std::string value;
    CLI::Option* nameOption = nullptr;
    CLI::Option* valueOption = nullptr;
};

int Run(const Arguments& args)
{
    if (args.nameOption->count() == 0)
        return List(nullptr);
    const Setting* s = FindSetting(args.name);
    if (!s)
        return Refuse("unknown setting '" + args.name + "'; known settings: " + KnownNames());
    if (args.valueOption->count() == 0)
        return List(s);
    return Store(*s, args.value);
}

const host::CommandRegistration settingsCommand(82, [](CLI::App& app) {
    static Arguments args;
    auto* sub = app.add_subcommand("settings", "Show the stored settings, or store one: settings NAME VALUE");
    args.nameOption = sub->add_option("name", args.name, "Setting to show or change");
    args.valueOption = sub->add_option("value", args.value, "New value: on/off for flags, a path, or a number");
    sub->callback([] { host::ExitCode() = Run(args); });
});

} // namespace
