#include "options/LogValues.h"

#include <array>
#include <vector>

std::optional<std::string> ReadSettingsText(HKEY key, const char* name, std::size_t bufferBytes)
{
    std::vector<char> buffer(bufferBytes);
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegQueryValueEx(key, name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    if (size == 0)
        return std::string();
    // Without its terminating zero the text cannot be trusted to end.
    if (buffer[size - 1] != '\0')
        return std::nullopt;
    return std::string(buffer.data());
}

std::optional<std::uint8_t> ReadLogFlag(HKEY key, const char* name)
{
    std::uint8_t byte = 0;
    DWORD size = 1;
    if (RegQueryValueEx(key, name, nullptr, &byte, &size) != ERROR_SUCCESS || size != 1)
        return std::nullopt;
    return byte;
}

std::optional<std::int32_t> ReadLogInt32(HKEY key, const char* name)
{
    std::array<std::uint8_t, 4> b {};
    DWORD size = b.size();
    if (RegQueryValueEx(key, name, nullptr, b.data(), &size) != ERROR_SUCCESS || size != b.size())
        return std::nullopt;
    const std::uint32_t u = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16
        | std::uint32_t(b[3]) << 24;
    return static_cast<std::int32_t>(u);
}

void LogValues::Read(HKEY key)
{
    if (auto v = ReadLogFlag(key, "OverallLog"))
        overallLog = *v != 0;
    overallLogPath = ReadSettingsText(key, "OverallLogPath", kLogPathBuffer).value_or("");
    if (auto v = ReadLogInt32(key, "MaxOverallLog"))
        maxOverallLog = *v;
    if (auto v = ReadLogFlag(key, "PostGrabbingLog"))
        postGrabbingLog = *v != 0;
}

void LogValues::Write(HKEY key) const
{
    const std::uint8_t overall = overallLog ? 1 : 0;
    const std::uint8_t postGrab = postGrabbingLog ? 1 : 0;
    const auto u = static_cast<std::uint32_t>(maxOverallLog);
    const std::array<std::uint8_t, 4> limit { std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
        std::uint8_t(u >> 24) };
    RegSetValueEx(key, "OverallLog", REG_BINARY, &overall, 1);
    RegSetValueEx(key, "PostGrabbingLog", REG_BINARY, &postGrab, 1);
    RegSetValueEx(key, "MaxOverallLog", REG_BINARY, limit.data(), limit.size());
    // With its terminating zero, as the reading side requires.
    std::string path = overallLogPath;
    path.push_back('\0');
    RegSetValueEx(key, "OverallLogPath", REG_SZ, reinterpret_cast<const std::uint8_t*>(path.data()),
                  static_cast<DWORD>(path.size()));
}
