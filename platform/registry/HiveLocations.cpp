#include "platform/registry/HiveLocations.h"

#include "platform/sys/XdgPaths.h"

#include <cstdlib>
#include <unistd.h>

namespace platform::registry {

namespace fs = std::filesystem;

namespace {

fs::path FromEnvironment(const char* variable)
{
    const char* value = std::getenv(variable);
    if (!value || *value != '/')
        return {};
    return fs::path(value);
}

fs::path PerUserFolder()
{
    return platform::ConfigHome() / "quillory" / "registry";
}

// Saving replaces the file by rename, which needs write access to the
// folder as well as to the file.
bool CanReplace(const fs::path& file)
{
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    return ::access(file.c_str(), R_OK | W_OK) == 0 && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

} // namespace

fs::path HiveFilePath(Hive hive)
{
    if (hive == Hive::CurrentUser) {
        fs::path user = FromEnvironment(kUserHiveVariable);
        return user.empty() ? PerUserFolder() / "user.reg" : user;
    }
    if (fs::path machine = FromEnvironment(kMachineHiveVariable); !machine.empty())
        return machine;
    fs::path system = FromEnvironment(kSystemMachineHiveVariable);
    if (system.empty())
        system = kDefaultSystemMachineHive;
    if (CanReplace(system))
        return system;
    return PerUserFolder() / "machine.reg";
}

} // namespace platform::registry
