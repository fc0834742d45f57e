#include "grabber/LogSettings.h"

#include "grabber/TovanixSettings.h"
#include "options/LogValues.h"

#include <utility>

namespace {

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
    return ReadLogInt32(key, name);
}

bool CLogSettings::Load()
{
    RegKey key = OpenSettingsKey();
    if (!key)
        return false;
    LogValues values { OverallLog, PostGrabbingLog, MaxOverallLog, OverallLogPath };
    values.Read(key.get());
    OverallLog = values.overallLog;
    PostGrabbingLog = values.postGrabbingLog;
    MaxOverallLog = values.maxOverallLog;
    OverallLogPath = std::move(values.overallLogPath);
    return true;
}

bool CLogSettings::Save() const
{
    RegKey key = OpenSettingsKey();
    if (!key)
        return false;
    LogValues { OverallLog, PostGrabbingLog, MaxOverallLog, OverallLogPath }.Write(key.get());
    return true;
}
