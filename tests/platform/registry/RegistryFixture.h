#pragma once
// Registry test helpers: both hives in a fresh folder, a forked child
// (optionally without root, so file permissions apply) and stderr capture.
#include "platform/registry/Registry.h"
#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace registrytest {

inline constexpr uid_t kNobody = 65534;

inline std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

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

    std::string Text() const
    {
        std::fflush(stderr);
        return ReadFile(m_path);
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

enum class Privileges { Same, DropRoot /* as user nobody when running as root */ };

// A forked child running a function; what the function returns ("" for
// success, otherwise what went wrong: the child cannot report through the
// test framework) comes back through a pipe.
class Child {
public:
    Child(const std::function<std::string()>& fn, Privileges privileges = Privileges::Same)
    {
        int fds[2];
        if (::pipe(fds) != 0 || (m_pid = ::fork()) < 0) {
            m_error = "fork failed";
            return;
        }
        if (m_pid == 0) {
            ::close(fds[0]);
            std::string result;
            if (privileges == Privileges::DropRoot && ::geteuid() == 0
                && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                result = "could not drop root";
            else
                result = fn();
            ssize_t ignored = ::write(fds[1], result.data(), result.size());
            (void)ignored;
            ::_exit(0);
        }
        ::close(fds[1]);
        m_pipe = fds[0];
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { (void)Wait(); }

    bool Running()
    {
        if (m_pid > 0 && !m_status && ::waitpid(m_pid, &m_status.emplace(), WNOHANG) == 0)
            m_status.reset();
        return m_pid > 0 && !m_status;
    }
    void Kill() const { ::kill(m_pid, SIGKILL); }
    // Waits for the end of the child; what its function returned.
    std::string Wait()
    {
        if (m_pipe >= 0) {
            char buffer[512];
            ssize_t n;
            while ((n = ::read(m_pipe, buffer, sizeof buffer)) > 0)
                m_error.append(buffer, static_cast<std::size_t>(n));
            ::close(m_pipe);
            m_pipe = -1;
        }
        if (m_pid > 0 && !m_status)
            ::waitpid(m_pid, &m_status.emplace(), 0);
        if (m_status && (!WIFEXITED(*m_status) || WEXITSTATUS(*m_status) != 0))
            return "child died: " + m_error;
        return m_error;
    }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
    std::optional<int> m_status;
    std::string m_error;
};

inline std::string RunInChild(const std::function<std::string()>& fn, Privileges privileges = Privileges::Same)
{
    return Child(fn, privileges).Wait();
}

} // namespace registrytest

// Points both hives at files in a fresh folder for one test.
class RegistryTest : public ::testing::Test {
protected:
    testsupport::TempDir m_dir;
    std::filesystem::path m_userFile = m_dir / "user.reg";
    std::filesystem::path m_machineFile = m_dir / "machine.reg";
    testsupport::ScopedEnv m_user { "QUILLORY_REGISTRY_USER", m_userFile.string() };
    testsupport::ScopedEnv m_machine { "QUILLORY_REGISTRY_MACHINE", m_machineFile.string() };
};
