#include "options/HelpLauncher.h"

#include "options/ChmFile.h"
#include "platform/sys/XdgPaths.h"
#include "platform/ui/View.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// FNV-1a: a stable folder name per help path across runs and builds.
std::string FolderNameFor(std::string_view path)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : path) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// "/a/b.htm" -> "a/b.htm"; nothing when an element is empty, "." or "..".
std::optional<fs::path> SafeRelative(std::string_view objectPath)
{
    if (objectPath.empty() || objectPath.front() != '/')
        return std::nullopt;
    objectPath.remove_prefix(1);
    fs::path relative;
    while (!objectPath.empty()) {
        const std::size_t slash = objectPath.find('/');
        const std::string_view element = objectPath.substr(0, slash);
        if (element.empty() || element == "." || element == ".." || element.find('\0') != std::string_view::npos)
            return std::nullopt;
        relative /= std::string(element);
        if (slash == std::string_view::npos)
            break;
        objectPath.remove_prefix(slash + 1);
    }
    if (relative.empty())
        return std::nullopt;
    return relative;
}

bool WriteFile(const fs::path& file, const std::string& data)
{
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

} // namespace

ChmViewer DetectChmViewer()
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return ChmViewer::Missing;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string mime(kHelpMimeType);
    char* argv[] = { const_cast<char*>("xdg-mime"), const_cast<char*>("query"), const_cast<char*>("default"),
        const_cast<char*>(mime.c_str()), nullptr };
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "xdg-mime", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string answer;
    if (rc == 0) {
        char buffer[512];
        ssize_t n;
        // A desktop file name is short; more than this is not an answer.
        while (answer.size() < 4096 && ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
            if (n > 0)
                answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (rc == 0)
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return ChmViewer::Missing;
    return answer.find(".desktop") != std::string::npos ? ChmViewer::Installed : ChmViewer::Missing;
}

std::optional<fs::path> UnpackHelpTopic(const std::string& helpPath, std::string_view topic)
{
    auto chm = CChmFile::Open(helpPath);
    if (!chm)
        return std::nullopt;
    const std::string topicObject = "/" + std::string(topic);
    if (!chm->Read(topicObject))
        return std::nullopt;
    const fs::path folder = platform::CacheHome() / "quillory" / "help" / FolderNameFor(helpPath);
    std::size_t total = 0;
    std::optional<fs::path> topicFile;
    for (const std::string& object : chm->Files(kMaxHelpFiles)) {
        auto relative = SafeRelative(object);
        if (!relative)
            continue;
        auto data = chm->Read(object, kMaxHelpBytes - total);
        if (!data)
            continue;
        total += data->size();
        if (!WriteFile(folder / *relative, *data))
            continue;
        if (object == topicObject)
            topicFile = folder / *relative;
    }
    return topicFile;
}

std::optional<std::string> ShowHelpTopic(const std::string& helpPath, ChmViewer viewer)
{
    if (helpPath.empty())
        return std::nullopt;
    std::string target;
    if (viewer == ChmViewer::Installed) {
        // The viewer opens the archive at its default topic: a desktop
        // viewer takes no "::/topic" part on its command line.
        target = helpPath;
    } else {
        auto page = UnpackHelpTopic(helpPath);
        if (!page)
            return std::nullopt;
        target = page->string();
    }
    (void)ui::ActiveView()->ShellOpen(target);
    return target;
}
