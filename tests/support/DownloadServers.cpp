#include "tests/support/DownloadServers.h"

#include "tests/support/TempDir.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace testsupport {

namespace {

// Long enough for the slowest sanitizer run; the servers also leave when
// the test process closes their stdin.
const std::string kLifetime = "600";

// The system interpreter starts in a tenth of the time a version manager's
// shim takes (every test starts its own server) and has Debian's
// python3-pyftpdlib. QUILLORY_PYTHON, when set, still wins.
std::optional<ScopedEnv> PreferSystemPython()
{
    const char* chosen = std::getenv("QUILLORY_PYTHON");
    if ((chosen && *chosen) || !std::filesystem::exists("/usr/bin/python3"))
        return std::nullopt;
    return std::optional<ScopedEnv>(std::in_place, "QUILLORY_PYTHON", "/usr/bin/python3");
}

} // namespace

std::unique_ptr<PythonServer> StartHttpTestServer()
{
    const auto python = PreferSystemPython();
    return std::make_unique<PythonServer>(SourcePath("tests/servers/http_server.py"),
                                          std::vector<std::string> { "--lifetime", kLifetime });
}

std::unique_ptr<PythonServer> StartFtpTestServer(const std::filesystem::path& root, std::string& whyNot)
{
    const auto python = PreferSystemPython();
    try {
        return std::make_unique<PythonServer>(SourcePath("tests/servers/ftp_server.py"),
                                              std::vector<std::string> { "--root", root.string(), "--lifetime", kLifetime });
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        if (what.find("SKIP pyftpdlib missing") == std::string::npos)
            throw;
        whyNot = "FTP tests need the Debian package python3-pyftpdlib";
        return nullptr;
    }
}

} // namespace testsupport
