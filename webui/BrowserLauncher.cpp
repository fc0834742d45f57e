#include "webui/BrowserLauncher.h"

#include "platform/sys/XdgPaths.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace webui {

namespace {

class OwnedWindow final : public BrowserWindow {
public:
    explicit OwnedWindow(pid_t pid) : m_pid(pid) { }
    ~OwnedWindow() override { Close(); }
    How Kind() const override { return How::AppWindow; }
    void Close() override
    {
        if (m_pid > 0)
            EndProcess(m_pid);
        m_pid = -1;
    }

private:
    pid_t m_pid;
};

class ForeignWindow final : public BrowserWindow {
public:
    explicit ForeignWindow(How how) : m_how(how) { }
    How Kind() const override { return m_how; }
    void Close() override { }

private:
    How m_how;
};

bool IsExecutable(const std::filesystem::path& p)
{
    return ::access(p.c_str(), X_OK) == 0 && !std::filesystem::is_directory(p);
}

std::string FindInPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            const std::filesystem::path candidate = std::filesystem::path(dir) / name;
            if (IsExecutable(candidate))
                return candidate.string();
        }
        start = end + 1;
    }
    return {};
}

} // namespace

std::vector<std::string> BrowserCommand(const std::string& entry, const std::string& url)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, sawPlaceholder = false;
    char quote = 0;
    for (std::size_t i = 0; i < entry.size(); ++i) {
        const char c = entry[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < entry.size())
                word += entry[++i];
            else
                word += c;
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::exchange(word, {}));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'' || c == '"')
            quote = c;
        else if (c == '\\' && i + 1 < entry.size())
            word += entry[++i];
        else
            word += c;
    }
    if (inWord)
        words.push_back(word);
    for (std::string& w : words) {
        std::string out;
        for (std::size_t i = 0; i < w.size(); ++i) {
            if (w[i] == '%' && i + 1 < w.size() && w[i + 1] == 's') {
                out += url;
                sawPlaceholder = true;
                ++i;
            } else if (w[i] == '%' && i + 1 < w.size() && w[i + 1] == '%') {
                out += '%';
                ++i;
            } else {
                out += w[i];
            }
        }
        w = std::move(out);
    }
    if (!words.empty() && !sawPlaceholder)
        words.push_back(url);
    return words;
}

pid_t Spawn(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return -1;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void ReapWhenDone(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    }).detach();
}

void EndProcess(pid_t pid, std::chrono::milliseconds grace)
{
    if (pid <= 0)
        return;
    int status = 0;
    // Not yet reaped, so the id is still ours even if the process ended.
    if (::waitpid(pid, &status, WNOHANG) == pid)
        return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
}

Launcher SystemLauncher()
{
    return [](const WindowRequest& request) -> std::unique_ptr<BrowserWindow> {
        // 1. $BROWSER, entry by entry.
        if (const char* browser = std::getenv("BROWSER"); browser && *browser) {
            const std::string list = browser;
            std::size_t start = 0;
            while (start <= list.size()) {
                const std::size_t end = std::min(list.find(':', start), list.size());
                const auto argv = BrowserCommand(list.substr(start, end - start), request.url);
                if (const pid_t pid = Spawn(argv); pid > 0) {
                    ReapWhenDone(pid);
                    return std::make_unique<ForeignWindow>(BrowserWindow::How::Browser);
                }
                start = end + 1;
            }
        }
        // 2. Chromium as an app window with a profile per nesting level.
        for (const char* name : { "chromium", "chromium-browser", "google-chrome", "google-chrome-stable" }) {
            const std::string exe = FindInPath(name);
            if (exe.empty())
                continue;
            const auto profile = platform::CacheHome() / "quillory" / "browser-profile"
                / ("level-" + std::to_string(request.level));
            std::error_code ec;
            std::filesystem::create_directories(profile, ec);
            std::vector<std::string> argv { exe, "--app=" + request.url, "--user-data-dir=" + profile.string(),
                                            "--no-first-run", "--no-default-browser-check" };
            if (request.width > 0 && request.height > 0)
                argv.push_back("--window-size=" + std::to_string(request.width) + "," + std::to_string(request.height));
            if (const pid_t pid = Spawn(argv); pid > 0)
                return std::make_unique<OwnedWindow>(pid);
        }
        // 3. The desktop's opener.
        if (const std::string opener = FindInPath("xdg-open"); !opener.empty()) {
            if (const pid_t pid = Spawn({ opener, request.url }); pid > 0) {
                ReapWhenDone(pid);
                return std::make_unique<ForeignWindow>(BrowserWindow::How::Browser);
            }
        }
        // 4. The user opens it.
        std::fprintf(stderr, "quillory: open this address in a browser: %s\n", request.url.c_str());
        return std::make_unique<ForeignWindow>(BrowserWindow::How::Printed);
    };
}

} // namespace webui
