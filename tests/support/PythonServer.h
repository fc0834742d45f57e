#pragma once
// A loopback test server written in Python, started by a test and stopped
// with it. The script must print a line "PORT <n>" on stdout once it
// listens (bind to port 0 so parallel tests never collide), should exit by
// itself when its stdin reaches end of file (the test process died) and
// after a bounded lifetime of its own.
//
//   testsupport::PythonServer site(testsupport::SourcePath("tests/servers/site_server.py"),
//                                  {"--root", root.string()});
//   std::string url = site.BaseUrl() + "/index.html";
//
// Lines the server prints after "PORT" stay readable with ReadLine, for
// servers that report what they saw. Its stderr goes to the test's stderr.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// Thread: the thread that created it.
class PythonServer {
public:
    // Starts `python3 -u script args...` (the interpreter may be overridden
    // by QUILLORY_PYTHON; a "python3" shim is resolved to the real
    // executable once) and waits up to startTimeout for its "PORT" line.
    // Throws std::runtime_error, with the server's words, when it does not
    // start; a gtest fixture's SetUp then fails the test clearly.
    PythonServer(const std::filesystem::path& script, const std::vector<std::string>& args,
                 std::chrono::milliseconds startTimeout = std::chrono::seconds(15));
    // Closes the server's stdin, then stops it by its PID (SIGTERM, then
    // SIGKILL after a grace period) and reaps it.
    ~PythonServer();
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // "http://127.0.0.1:<port>"
    std::string BaseUrl(const std::string& scheme = "http") const;

    // The next line the server printed (without the newline), or nullopt
    // when none arrives within the timeout or the server has exited.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

    // Stops the server now (the destructor does it otherwise).
    void Stop();

private:
    pid_t m_pid = -1;
    int m_stdin = -1;  // write end of the server's stdin
    int m_stdout = -1; // read end of the server's stdout
    int m_port = 0;
    std::string m_buffer; // bytes read past the last returned line
};

} // namespace testsupport
