#pragma once
// Helpers for tests that need a second process: run a function in a
// forked child (optionally without root, so file permissions apply) and
// capture what a process writes to stderr.
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace registrytest {

inline constexpr uid_t kNobody = 65534;

// Redirects this process's stderr into a file until destroyed.
class StderrCapture {
public:
    explicit StderrCapture(std::string path)
        : m_path(std::move(path))
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { Restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written so far.
    std::string Text() const
    {
        std::fflush(stderr);
        std::string text;
        if (FILE* f = std::fopen(m_path.c_str(), "rb")) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
                text.append(buffer, n);
            std::fclose(f);
        }
        return text;
    }

    void Restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }

private:
    std::string m_path;
    int m_saved = -1;
};

enum class Privileges {
    Same,
    DropRoot, // as user nobody when running as root
};

// Runs fn in a forked child and returns what it returned: "" for success,
// otherwise a description of what went wrong (the child cannot report
// through the test framework).
inline std::string RunInChild(const std::function<std::string()>& fn, Privileges privileges = Privileges::Same)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string result;
        if (privileges == Privileges::DropRoot && ::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            result = "could not drop root";
        else
            result = fn();
        ssize_t ignored = ::write(pipeFds[1], result.data(), result.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string message;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child died: " + message;
    return message;
}

} // namespace registrytest
