#pragma once
// Where the hive files live. Resolved afresh on every open of a root key,
// so a changed environment takes effect for keys opened afterwards.
//
// Current user (HKEY_CURRENT_USER):
//   $QUILLORY_REGISTRY_USER when set and not empty, else
//   $XDG_CONFIG_HOME/quillory/registry/user.reg (~/.config when unset).
//
// Machine (HKEY_LOCAL_MACHINE, and HKEY_CLASSES_ROOT inside it):
//   1. $QUILLORY_REGISTRY_MACHINE when set and not empty;
//   2. else the system-wide file ($QUILLORY_REGISTRY_SYSTEM_MACHINE when
//      set and not empty, else /etc/quillory/machine.reg) when it exists
//      and this process may both write it and replace it (write access to
//      the file and to its folder);
//   3. else the per-user machine file
//      $XDG_CONFIG_HOME/quillory/registry/machine.reg.
//   Variables holding a relative path are ignored (as XDG does), so the
//   registry never lands in the working directory.
//   A system-wide file that exists but is read-only for this user is not
//   used at all: registration by a user without root then goes to, and is
//   read back from, that user's own machine file, and the two never mix.
#include <filesystem>

namespace platform::registry {

enum class Hive {
    CurrentUser, // HKEY_CURRENT_USER
    Machine, // HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT
};

// Environment variables that move the hive files.
inline constexpr const char* kUserHiveVariable = "QUILLORY_REGISTRY_USER";
inline constexpr const char* kMachineHiveVariable = "QUILLORY_REGISTRY_MACHINE";
inline constexpr const char* kSystemMachineHiveVariable = "QUILLORY_REGISTRY_SYSTEM_MACHINE";
inline constexpr const char* kDefaultSystemMachineHive = "/etc/quillory/machine.reg";

std::filesystem::path HiveFilePath(Hive hive);

} // namespace platform::registry
