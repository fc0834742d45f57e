#include "platform/html/ChromiumProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace html {

namespace {

int MillisLeft(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

bool Executable(const std::filesystem::path& p)
{
    return !p.empty() && access(p.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(p);
}

} // namespace

std::optional<std::filesystem::path> ChromiumProcess::FindBrowser()
{
    if (const char* env = std::getenv("QUILLORY_CHROMIUM"); env && *env) {
        if (Executable(env))
            return std::filesystem::path(env);
        return std::nullopt;
    }
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest(path);
        while (!rest.empty()) {
            std::size_t colon = rest.find(':');
            std::filesystem::path dir(std::string(rest.substr(0, colon)));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
            if (dir.empty())
                continue;
            for (const char* name : { "chromium", "chromium-browser", "google-chrome" }) {
                if (Executable(dir / name))
                    return dir / name;
            }
        }
    }
    if (Executable("/usr/bin/chromium"))
        return std::filesystem::path("/usr/bin/chromium");
    return std::nullopt;
}

std::unique_ptr<ChromiumProcess> ChromiumProcess::Start(const std::filesystem::path& browser,
                                                        const std::vector<std::string>& extraArgs, std::string& error)
{
    std::unique_ptr<ChromiumProcess> p(new ChromiumProcess());
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillory-chromium-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = "cannot create a browser profile folder under " + std::string(tmp && *tmp ? tmp : "/tmp") + ": " + std::strerror(errno);
        return nullptr;
    }
    p->m_profile = pattern;

    // Socket pairs rather than pipes: sends never raise SIGPIPE here
    // (MSG_NOSIGNAL) when the browser dies first.
    int commands[2];
    int answers[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, commands) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return nullptr;
    }
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, answers) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        close(commands[0]);
        close(commands[1]);
        return nullptr;
    }

    std::vector<std::string> args { browser.string(), "--headless", "--remote-debugging-pipe",
                                    "--user-data-dir=" + p->m_profile.string(), "--disable-gpu", "--disable-quic",
                                    "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                                    "--disable-component-update", "--disable-sync",
                                    "--disable-dev-shm-usage", "--mute-audio", "--hide-scrollbars" };
    // No extensions but one the caller loads on purpose (its own, in tests).
    const bool loadsExtension = std::any_of(extraArgs.begin(), extraArgs.end(),
                                            [](const std::string& a) { return a.starts_with("--load-extension="); });
    if (!loadsExtension)
        args.push_back("--disable-extensions");
    // Chromium refuses to run its sandbox as root.
    if (geteuid() == 0)
        args.push_back("--no-sandbox");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.push_back("about:blank");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, commands[1], 3);
    posix_spawn_file_actions_adddup2(&actions, answers[1], 4);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(commands[1]);
    close(answers[1]);
    if (rc != 0) {
        close(commands[0]);
        close(answers[0]);
        error = "cannot start " + browser.string() + ": " + std::strerror(rc);
        return nullptr;
    }
    p->m_pid = pid;
    p->m_toBrowser = commands[0];
    p->m_fromBrowser = answers[0];
    return p;
}

ChromiumProcess::~ChromiumProcess()
{
    Stop();
    std::error_code ec;
    if (!m_profile.empty())
        std::filesystem::remove_all(m_profile, ec);
}

void ChromiumProcess::Stop()
{
    if (m_toBrowser >= 0)
        close(m_toBrowser);
    if (m_fromBrowser >= 0)
        close(m_fromBrowser);
    m_toBrowser = m_fromBrowser = -1;
    if (m_pid <= 0)
        return;
    // Closing fd 3 asks the browser to quit; the group it started goes after
    // a short grace, by the group id this process created.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            kill(-m_pid, SIGKILL); // helpers the browser left behind
            m_pid = -1;
            return;
        }
        usleep(20'000);
    }
    kill(-m_pid, SIGKILL);
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

bool ChromiumProcess::Send(std::string_view json, std::chrono::steady_clock::time_point deadline)
{
    std::string message(json);
    message.push_back('\0');
    std::size_t done = 0;
    while (done < message.size()) {
        pollfd fd { m_toBrowser, POLLOUT, 0 };
        int left = MillisLeft(deadline);
        if (left <= 0 || poll(&fd, 1, left) <= 0)
            return false;
        ssize_t n = send(m_toBrowser, message.data() + done, message.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> ChromiumProcess::Receive(std::chrono::steady_clock::time_point deadline, std::size_t maxBytes)
{
    m_error.clear();
    std::size_t scanned = 0;
    for (;;) {
        std::size_t end = m_buffer.find('\0', scanned);
        if (end != std::string::npos) {
            std::string message = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return message;
        }
        scanned = m_buffer.size();
        if (m_buffer.size() > maxBytes) {
            m_error = "the browser sent a message larger than " + std::to_string(maxBytes >> 20) + " MiB";
            return std::nullopt;
        }
        pollfd fd { m_fromBrowser, POLLIN, 0 };
        int left = MillisLeft(deadline);
        if (left <= 0)
            return std::nullopt;
        int ready = poll(&fd, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char chunk[1 << 16];
        ssize_t n = recv(m_fromBrowser, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            m_error = "the browser ended";
            return std::nullopt;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
}

} // namespace html
