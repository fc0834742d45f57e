#pragma once
// What the browser tests share: finding a program on PATH and installing a
// Node driver (its scripts and playwright-core) into a build folder.
#include <filesystem>
#include <initializer_list>
#include <string>

namespace testsupport {

// Full path of an executable `name` on PATH ("/usr/bin:/bin" when unset);
// empty when there is none.
[[nodiscard]] std::string Which(const std::string& name);

// Copies `files` from `source` into `dir` and runs `npm ci` there unless
// playwright-core is installed already. Once per folder at a time, under a
// lock: CTest runs the tests of one program in parallel processes. On
// failure `why` says what to look at.
[[nodiscard]] bool InstallNodeDriver(const std::filesystem::path& dir, const std::filesystem::path& source,
                                     std::initializer_list<const char*> files, std::string& why);

} // namespace testsupport
