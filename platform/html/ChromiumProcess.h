#pragma once
// One headless Chromium started for one page load, driven through the
// DevTools protocol over --remote-debugging-pipe: the browser reads
// commands on its fd 3 and writes answers and events on its fd 4, each a
// JSON text ended by a NUL byte. Nothing listens on a port, so no other
// local process can reach the browser.
//
// The browser runs in a process group of its own with a fresh profile
// folder under TMPDIR; the destructor ends the group it started (by its
// id), reaps the browser and removes the profile.
//
// Thread: the thread that created it.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace html {

class ChromiumProcess {
public:
    // The browser to run: $QUILLORY_CHROMIUM when set, else chromium,
    // chromium-browser, google-chrome on PATH, else /usr/bin/chromium.
    static std::optional<std::filesystem::path> FindBrowser();

    // Starts the browser; on failure returns null with a one-line error.
    // Extensions are off unless extraArgs loads one (--load-extension=).
    static std::unique_ptr<ChromiumProcess> Start(const std::filesystem::path& browser,
                                                  const std::vector<std::string>& extraArgs, std::string& error);
    ~ChromiumProcess();
    ChromiumProcess(const ChromiumProcess&) = delete;
    ChromiumProcess& operator=(const ChromiumProcess&) = delete;

    // Sends one message; false when the browser is gone or the deadline passed.
    [[nodiscard]] bool Send(std::string_view json, std::chrono::steady_clock::time_point deadline);
    // The next whole message; nullopt on end of stream, deadline, or a
    // message larger than maxBytes.
    [[nodiscard]] std::optional<std::string> Receive(std::chrono::steady_clock::time_point deadline, std::size_t maxBytes);

    pid_t pid() const { return m_pid; }
    // Why the last Receive returned nothing ("" for a deadline).
    const std::string& lastError() const { return m_error; }

private:
    ChromiumProcess() = default;
    void Stop();

    pid_t m_pid = -1;
    int m_toBrowser = -1;   // our end of the browser's fd 3
    int m_fromBrowser = -1; // our end of the browser's fd 4
    std::filesystem::path m_profile;
    std::string m_buffer;   // bytes received after the last whole message
    std::string m_error;
};

} // namespace html
