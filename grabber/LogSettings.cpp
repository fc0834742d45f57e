#include "grabber/LogSettings.h"

#include "grabber/TovanixSettings.h"

#include <array>

namespace {

void ReadBool(HKEY key, const char* name, bool& value)
{
    if (auto v = ReadSettingsFlag(key, name))
        value = *v != 0;
}

RegKey OpenSettingsKey()
{
    RegKey key;
    if (key.Create(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return RegKey {};
    return key;
}

} // namespace

std::optional<std::int32_t> ReadSettingsInt32(HKEY key, const char* name)
{
    std::array<std::uint8_t, 4> b {};
    DWORD size = b.size();
    if (RegQueryValueEx(key, name, nullptr, b.data(), &size) != ERROR_SUCCESS || size != b.size())
        return std::nullopt;
    const std::uint32_t u = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16
        | std::uint32_t(b[3]) << 24;
    return static_cast<std::int32_t>(u);
}

bool CLogSettings::Load()
{
    RegKey key = OpenSettingsKey();
    if (!key)
        return false;
    ReadBool(key.get(), "OverallLog", OverallLog);
    OverallLogPath = ReadSettingsPath(key.get(), "OverallLogPath").value_or(std::string());
    if (auto limit = ReadSettingsInt32(key.get(), "MaxOverallLog"))
        MaxOverallLog = *limit;
    ReadBool(key.get(), "PostGrabbingLog", PostGrabbingLog);
    return true;
}

bool CLogSettings::Save() const
{
    RegKey key = OpenSettingsKey();
    if (!key)
        return false;
    const std::uint8_t overall = OverallLog ? 1 : 0;
    const std::uint8_t postGrab = PostGrabbingLog ? 1 : 0;
    const auto u = static_cast<std::uint32_t>(MaxOverallLog);
    const std::array<std::uint8_t, 4> limit { std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
        std::uint8_t(u >> 24) };
    RegSetValueEx(key.get(), "OverallLog", REG_BINARY, &overall, 1);
    RegSetValueEx(key.get(), "PostGrabbingLog", REG_BINARY, &postGrab, 1);
    RegSetValueEx(key.get(), "MaxOverallLog", REG_BINARY, limit.data(), limit.size());
    key.SetStringValue("OverallLogPath", OverallLogPath, REG_SZ);
    return true;
}
