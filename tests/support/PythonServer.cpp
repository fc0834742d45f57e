#include "tests/support/PythonServer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

constexpr std::size_t kMaxLine = 64 * 1024; // a runaway server cannot flood the test

bool WaitForExit(pid_t pid, std::chrono::milliseconds grace)
{
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(10'000);
    }
}

// The interpreter behind "python3". Version-manager shims cost seconds
// per start, so the real executable is asked for once per test program.
std::string Interpreter()
{
    if (const char* forced = std::getenv("QUILLORY_PYTHON"); forced && *forced)
        return forced;
    static const std::string resolved = [] {
        std::string path;
        if (FILE* p = popen("python3 -c 'import sys; print(sys.executable)' 2>/dev/null", "r")) {
            char line[4096];
            if (std::fgets(line, sizeof line, p))
                path = line;
            pclose(p);
        }
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
            path.pop_back();
        return !path.empty() && access(path.c_str(), X_OK) == 0 ? path : std::string("python3");
    }();
    return resolved;
}

} // namespace

PythonServer::PythonServer(const std::filesystem::path& script, const std::vector<std::string>& args,
                           std::chrono::milliseconds startTimeout)
{
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("PythonServer: pipe failed");
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        throw std::runtime_error("PythonServer: pipe failed");
    }

    std::vector<std::string> argvStrings { Interpreter(), "-u", script.string() };
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    int rc = posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    if (rc != 0) {
        m_pid = -1;
        Stop();
        throw std::runtime_error("PythonServer: cannot start " + argvStrings[0]);
    }

    const auto deadline = std::chrono::steady_clock::now() + startTimeout;
    std::string said;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        std::optional<std::string> line = ReadLine(left);
        if (!line)
            break;
        if (line->rfind("PORT ", 0) == 0) {
            m_port = std::atoi(line->c_str() + 5);
            if (m_port > 0)
                return;
        }
        said += *line + "; ";
    }
    Stop();
    throw std::runtime_error("PythonServer: " + script.filename().string()
                             + " did not report its port" + (said.empty() ? "" : " (it said: " + said + ")"));
}

PythonServer::~PythonServer()
{
    Stop();
}

void PythonServer::Stop()
{
    if (m_stdin >= 0) {
        close(m_stdin);
        m_stdin = -1;
    }
    if (m_pid > 0) {
        // Closing stdin asks the server to leave; a stuck one is ended.
        if (!WaitForExit(m_pid, std::chrono::milliseconds(500))) {
            kill(m_pid, SIGTERM);
            if (!WaitForExit(m_pid, std::chrono::milliseconds(2000))) {
                kill(m_pid, SIGKILL);
                WaitForExit(m_pid, std::chrono::milliseconds(5000));
            }
        }
        m_pid = -1;
    }
    if (m_stdout >= 0) {
        close(m_stdout);
        m_stdout = -1;
    }
}

std::string PythonServer::BaseUrl(const std::string& scheme) const
{
    return scheme + "://127.0.0.1:" + std::to_string(m_port);
}

std::optional<std::string> PythonServer::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (m_stdout < 0 || m_buffer.size() > kMaxLine)
            return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p { m_stdout, POLLIN, 0 };
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return std::nullopt;
        char chunk[4096];
        ssize_t n = read(m_stdout, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt; // the server closed its stdout or exited
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

} // namespace testsupport
