#pragma once
// Opens the system's pages in the user's browser, each as a window of its
// own, and takes down the windows it started.
//
// Order of choice, as the usual convention has it: the commands in
// $BROWSER (colon-separated; "%s" stands for the address, else it is
// appended; words split as a shell would split plain words, without a
// shell); else Chromium (chromium, chromium-browser, google-chrome) as an
// app window with a profile under $XDG_CACHE_HOME/quillory; else xdg-open;
// else the address is printed for the user to open.
//
// Every nesting level of modal windows gets a Chromium profile (so a
// browser process) of its own: a window opened while a dialog's page waits
// in a synchronous call must not share that page's blocked renderer.
//
// Thread: any.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace webui {

struct WindowRequest {
    std::string url;
    std::string role;  // "grab", "saving", "message", "picker"
    int width = 0;     // outer size; 0: the browser's choice
    int height = 0;
    int level = 0;     // modal nesting: 0 for the grab dialog
};

// A window that was opened; destroying it does not close it.
class BrowserWindow {
public:
    enum class How {
        AppWindow, // a browser process of our own: closed by ending it
        Browser,   // handed to a browser we do not own: the page closes itself
        Printed,   // nobody opened it; the user may
    };
    virtual ~BrowserWindow() = default;
    [[nodiscard]] virtual How Kind() const = 0;
    // Takes the window down where we own it.
    virtual void Close() = 0;
};

using Launcher = std::function<std::unique_ptr<BrowserWindow>(const WindowRequest&)>;

// The launcher described above; `out` receives printed addresses.
[[nodiscard]] Launcher SystemLauncher();

// Splits a $BROWSER entry into words: blanks separate, single and double
// quotes group, backslash escapes; "%s" is replaced by `url` (and "%%" by
// "%"), and without "%s" the url is appended.
[[nodiscard]] std::vector<std::string> BrowserCommand(const std::string& entry, const std::string& url);

// Starts `argv` with standard input and output on /dev/null; the process
// id, or -1 when it could not be started.
[[nodiscard]] pid_t Spawn(const std::vector<std::string>& argv);
// Reaps a process we started whenever it ends (a helper such as xdg-open
// that may run as long as the browser it started).
void ReapWhenDone(pid_t pid);
// Ends a process we started: SIGTERM, then SIGKILL after `grace`, reaped.
void EndProcess(pid_t pid, std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

} // namespace webui
