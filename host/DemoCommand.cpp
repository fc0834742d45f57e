// `quillory demo`: the main job on the bundled sample site. Serves the
// site from this process on two loopback origins, registers the product
// for this user when it is not registered yet (and says so), grabs the
// site's start page (the dialog in the browser when a display and a
// browser are there, --batch otherwise) into a fresh folder, and prints
// where the files went.
//
// The folder: -o DIR, else "<documents>/Grabbed Files/demo-<time>"; the
// stored GrabPath is left as it was.
//
// Exit status: that of the grab (host::RunGrab), except that files the
// sample site leaves out on purpose (a missing picture and stylesheet) do
// not fail the demo when the rest arrived; 1 when the site or the
// registration could not be had.
#include "host/Command.h"
#include "host/GrabRun.h"
#include "host/ObjectFactory.h"
#include "host/SampleSiteServer.h"
#include "platform/sys/XdgPaths.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool Registered()
{
    const auto clsid = host::ClsidFromProgId("QVTovanix.Tovanix");
    std::error_code ec;
    const auto path = clsid ? host::InprocServerPath(*clsid) : std::nullopt;
    return path && fs::exists(*path, ec);
}

// `quillory register`, run as its own process so its output and exit
// status are exactly the command's.
bool RegisterNow()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return false;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        // Its messages go with ours to standard error.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execl(self.c_str(), self.c_str(), "register", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Visible(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

// A dialog needs somewhere to show: a display, or a $BROWSER command.
bool CanShowDialog() { return Visible("DISPLAY") || Visible("WAYLAND_DISPLAY") || Visible("BROWSER"); }

std::string DefaultFolder()
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    return (platform::DocumentsDir() / "Grabbed Files" / ("demo-" + std::string(stamp))).string();
}

int Run(std::string output, bool batch)
{
    const auto site = host::SampleSiteServer::Find();
    if (!site) {
        std::fprintf(stderr, "quillory demo: cannot find the sample site (set QUILLORY_SAMPLE_SITE to its folder)\n");
        return 1;
    }
    if (!Registered()) {
        std::fprintf(stderr, "quillory demo: Quillory is not registered for this user; running `quillory register`\n");
        if (!RegisterNow() || !Registered()) {
            std::fprintf(stderr, "quillory demo: registration failed\n");
            return 1;
        }
    }
    host::SampleSiteServer server(*site);
    if (!server.Start()) {
        std::fprintf(stderr, "quillory demo: cannot serve the sample site on 127.0.0.1\n");
        return 1;
    }
    host::GrabRequest request;
    request.command = "demo";
    request.url = server.MainOrigin() + "/index.html";
    request.output = output.empty() ? DefaultFolder() : output;
    request.batch = batch || !CanShowDialog();
    std::fprintf(stderr, "quillory demo: sample site at %s (second origin %s), %s\n", request.url.c_str(),
                 server.OtherOrigin().c_str(), request.batch ? "no dialog (--batch)" : "the dialog opens in your browser");
    const int status = host::RunGrab(request);
    const std::string& root = host::LastGrabRootFolder();
    if (!root.empty()) {
        std::size_t files = 0;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_regular_file(ec))
                ++files;
        }
        std::printf("The files went to %s (%zu file%s)\n", root.c_str(), files, files == 1 ? "" : "s");
        if (status == 2 && files > 0) {
            std::printf("(The sample site names a few files that do not exist, to show how failures look.)\n");
            return 0;
        }
    }
    return status;
}

std::string output;
bool batch = false;

const host::CommandRegistration demoCommand(26, [](CLI::App& app) {
    auto* sub = app.add_subcommand("demo", "Grab the bundled sample site, served on loopback");
    sub->add_option("-o,--output", output, "Folder for the files (default: <documents>/Grabbed Files/demo-<time>)");
    sub->add_flag("--batch", batch, "No dialog, even with a display");
    sub->callback([] { host::ExitCode() = Run(output, batch); });
});

} // namespace
