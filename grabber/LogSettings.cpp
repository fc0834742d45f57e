#include "grabber/LogSettings.h"

#include "grabber/TovanixSettings.h"
#include "platform/registry/Registry.h"

#include <array>

namespace {

// Reads exactly `N` bytes whatever the value's registry type; a value of
// another size is not taken.
template <std::size_t N>
bool ReadExact(HKEY key, const char* name, std::array<std::uint8_t, N>& out)
{
    std::array<std::uint8_t, N> buffer {};
    DWORD size = N;
    if (RegQueryValueEx(key, name, nullptr, buffer.data(), &size) != ERROR_SUCCESS || size != N)
        return false;
    out = buffer;
    return true;
}

void ReadBool(HKEY key, const char* name, bool& value)
{
    std::array<std::uint8_t, 1> b {};
    if (ReadExact(key, name, b))
        value = b[0] != 0;
}

RegKey OpenSettingsKey()
{
    RegKey key;
    if (key.Create(HKEY_CURRENT_USER, LoadModuleString(kIdsSettingsKey).c_str(), KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
        return RegKey {};
    return key;
}

} // namespace

bool CLogSettings::Load()
{
    RegKey key = OpenSettingsKey();
    if (!key)
        return false;
    std::array<char, kMaxSettingsPath> path {};
    DWORD chars = path.size();
    if (key.QueryStringValue("OverallLogPath", path.data(), &chars) == ERROR_SUCCESS) {
        path.back() = '\0';
        OverallLogPath = path.data();
    } else {
        OverallLogPath.clear();
    }
    ReadBool(key.get(), "OverallLog", OverallLog);
    std::array<std::uint8_t, 4> limit {};
    if (ReadExact(key.get(), "MaxOverallLog", limit)) {
        const std::uint32_t u = std::uint32_t(limit[0]) | std::uint32_t(limit[1]) << 8
            | std::uint32_t(limit[2]) << 16 | std::uint32_t(limit[3]) << 24;
        MaxOverallLog = static_cast<std::int32_t>(u);
    }
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
