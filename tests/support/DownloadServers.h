#pragma once
// The loopback servers of the download tests: tests/servers/http_server.py
// (generated resources, slow, silent, cut and failing responses) and
// tests/servers/ftp_server.py (pyftpdlib serving a folder).
#include "tests/support/PythonServer.h"

#include <filesystem>
#include <memory>
#include <string>

namespace testsupport {

// Starts the HTTP test server; throws std::runtime_error when it does not.
std::unique_ptr<PythonServer> StartHttpTestServer();

// Starts the FTP server on `root`. Null, with `whyNot` set, when the FTP
// server library is not installed (the caller skips); throws on any other
// failure.
std::unique_ptr<PythonServer> StartFtpTestServer(const std::filesystem::path& root, std::string& whyNot);

} // namespace testsupport
