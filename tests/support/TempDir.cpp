#include "tests/support/TempDir.h"

#include "platform/sys/XdgPaths.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

TempDir::TempDir()
{
    std::string pattern = (platform::TempDir() / "quillory-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : m_name(name)
{
    if (const char* old = std::getenv(name)) {
        m_had = true;
        m_old = old;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (m_had)
        setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

std::filesystem::path SourcePath(const std::string& relative)
{
    const char* root = std::getenv("QUILLORY_SOURCE_DIR");
    std::filesystem::path base = root ? root : QUILLORY_SOURCE_DIR_FALLBACK;
    return base / relative;
}

} // namespace testsupport
