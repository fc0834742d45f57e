#pragma once
// A fresh folder under TMPDIR for one test, removed afterwards.
#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

// A user of their own for one test: HOME, both registry hives and the XDG
// folders all inside one fresh folder, so nothing of the machine's user is
// read or changed.
struct FreshUserFolders {
    TempDir dir;
    ScopedEnv home { "HOME", dir.path().string() };
    ScopedEnv userHive { "QUILLORY_REGISTRY_USER", (dir / "user.reg").string() };
    ScopedEnv machineHive { "QUILLORY_REGISTRY_MACHINE", (dir / "machine.reg").string() };
    ScopedEnv documents { "XDG_DOCUMENTS_DIR", (dir / "docs").string() };
    ScopedEnv config { "XDG_CONFIG_HOME", (dir / "config").string() };
    ScopedEnv data { "XDG_DATA_HOME", (dir / "data").string() };
    ScopedEnv cache { "XDG_CACHE_HOME", (dir / "cache").string() };
};

// Path inside the source tree (QUILLORY_SOURCE_DIR, set by CTest).
std::filesystem::path SourcePath(const std::string& relative);

} // namespace testsupport
