#pragma once
// Runs the real `quillory` program with a chosen environment and working
// folder, collecting its output. A run that takes longer than a minute is
// killed (only the child this helper started).
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hosttest {

// An argument list and environment in the form execve and posix_spawn
// take, owning the strings the pointers point into.
class ExecLine {
public:
    ExecLine(std::vector<std::string> args, const std::map<std::string, std::string>& env)
        : m_args(std::move(args))
    {
        for (const auto& [k, v] : env)
            m_env.push_back(k + "=" + v);
        for (std::string& a : m_args)
            m_argv.push_back(a.data());
        m_argv.push_back(nullptr);
        for (std::string& e : m_env)
            m_envp.push_back(e.data());
        m_envp.push_back(nullptr);
    }
    ExecLine(const ExecLine&) = delete;
    ExecLine& operator=(const ExecLine&) = delete;
    char* const* argv() { return m_argv.data(); }
    char* const* envp() { return m_envp.data(); }

private:
    std::vector<std::string> m_args;
    std::vector<std::string> m_env;
    std::vector<char*> m_argv;
    std::vector<char*> m_envp;
};

struct RunResult {
    int exitCode = -1; // -1: did not exit normally
    std::string out;
    std::string err;
};

inline RunResult RunQuillory(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
    const std::string& cwd)
{
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return {};
    std::vector<std::string> argStore { QUILLORY_EXE };
    argStore.insert(argStore.end(), args.begin(), args.end());
    ExecLine line(std::move(argStore), env);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execve(line.argv()[0], line.argv(), line.envp());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult r;
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pollfd fds[2] = { { outPipe[0], POLLIN, 0 }, { errPipe[0], POLLIN, 0 } };
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0)
            close(f.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!killed && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    return r;
}

} // namespace hosttest
