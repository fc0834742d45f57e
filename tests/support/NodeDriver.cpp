#include "tests/support/NodeDriver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace testsupport {

namespace fs = std::filesystem;

std::string Which(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
        start = end + 1;
    }
    return {};
}

bool InstallNodeDriver(const fs::path& dir, const fs::path& source, std::initializer_list<const char*> files,
                       std::string& why)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    const int lock = ::open((dir / "install.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        if (lock >= 0)
            ::close(lock);
        why = "cannot lock " + dir.string();
        return false;
    }
    bool ok = true;
    for (const char* file : files) {
        // Renamed into place: a driver another test is starting now reads
        // the old file or the new one, never half of one.
        const fs::path next = dir / (std::string(file) + ".new");
        if (!fs::copy_file(source / file, next, fs::copy_options::overwrite_existing, ec)
            || (fs::rename(next, dir / file, ec), ec)) {
            why = "cannot copy " + (source / file).string() + " to " + dir.string() + ": " + ec.message();
            ok = false;
        }
    }
    if (ok && !fs::exists(dir / "node_modules" / "playwright-core" / "package.json")) {
        const std::string command = "cd '" + dir.string() + "' && npm ci --no-audit --no-fund > npm.log 2>&1";
        if (std::system(command.c_str()) != 0) {
            why = "npm could not install playwright-core (see " + (dir / "npm.log").string() + ")";
            ok = false;
        }
    }
    ::close(lock);
    return ok;
}

} // namespace testsupport
