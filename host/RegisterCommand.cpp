// `quillory register` and `quillory unregister`: load libqvtovanix.so and
// run its own registration entry point, as a system's registration tool
// does with an in-process server.
//
// Which library file: $QUILLORY_MODULE_PATH when set (used as given; a
// missing file is an error), else the module this program itself runs
// with (the program links against it), so that the registered object and
// the program's own code are one copy. The registry records the library's
// resolved path, so later hosts load exactly the registered file.
#include "host/Command.h"
#include "host/NativeHostManifests.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/HResult.h"
#include "platform/sys/XdgPaths.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kModuleFileName = "libqvtovanix.so";

std::optional<fs::path> FindModule(std::string& error)
{
    if (const char* env = std::getenv("QUILLORY_MODULE_PATH"); env && *env) {
        if (fs::exists(env))
            return fs::path(env);
        error = std::string("QUILLORY_MODULE_PATH names ") + env + ", which does not exist";
        return std::nullopt;
    }
    // Any function of the components lives in the module.
    const fs::path linked = platform::ModuleFileOf(reinterpret_cast<const void*>(&platform::ModuleFileOf));
    std::error_code ec;
    if (!linked.empty() && linked.filename() == kModuleFileName && fs::exists(linked, ec))
        return fs::weakly_canonical(linked, ec);
    error = std::string("Cannot find the ") + kModuleFileName + " this program runs with (set QUILLORY_MODULE_PATH to its path)";
    return std::nullopt;
}

// Writes or removes the native-messaging host manifests; on registration
// also says how to load the extension. A browser that is not installed
// changes nothing: its manifest is only a file in the user's folders.
bool BrowserIntegration(const std::string& command)
{
    std::vector<std::string> done;
    std::vector<std::string> errors;
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    const bool ok = command == "register" ? host::InstallNativeHost(program, done, errors) : host::RemoveNativeHost(done, errors);
    // Standard output keeps the one line scripts read ("Registered <file>");
    // what the browser side did goes to standard error, for people.
    for (const std::string& line : done)
        std::fprintf(stderr, "quillory %s: native messaging host %s\n", command.c_str(), line.c_str());
    for (const std::string& line : errors)
        std::fprintf(stderr, "quillory %s: %s\n", command.c_str(), line.c_str());
    if (command == "register") {
        const auto folder = host::FindExtensionFolder(program);
        std::fprintf(stderr, "To add the \"Grab\" button, load the extension once:\n"
                    "  Chromium: open chrome://extensions, turn on Developer mode, choose \"Load unpacked\" and pick %s\n"
                    "  Firefox: open about:debugging#/runtime/this-firefox, choose \"Load Temporary Add-on\" and pick %s/manifest.json\n",
                    folder ? folder->c_str() : "the extension/ folder of Quillory",
                    folder ? folder->c_str() : "extension");
    }
    return ok;
}

// Loads the module, calls the named entry point and reports the outcome.
int RunEntryPoint(const char* command, const char* entryPoint, const char* doneText)
{
    std::string error;
    const auto module = FindModule(error);
    if (!module) {
        std::fprintf(stderr, "quillory %s: %s\n", command, error.c_str());
        return 1;
    }
    // Kept loaded, as COM hosts keep in-process servers: the module holds
    // process-wide state (its registry store) that must outlive the call.
    void* lib = dlopen(module->c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!lib) {
        const char* why = dlerror();
        std::fprintf(stderr, "quillory %s: cannot load %s: %s\n", command, module->c_str(), why ? why : "unknown error");
        return 1;
    }
    using EntryPoint = HRESULT (*)();
    auto fn = reinterpret_cast<EntryPoint>(dlsym(lib, entryPoint));
    if (!fn) {
        std::fprintf(stderr, "quillory %s: %s has no %s\n", command, module->c_str(), entryPoint);
        dlclose(lib);
        return 1;
    }
    const HRESULT hr = fn();
    dlclose(lib);
    if (FAILED(hr)) {
        std::fprintf(stderr, "quillory %s: %s failed (0x%08X)\n", command, entryPoint, static_cast<unsigned>(hr));
        return 1;
    }
    // Browser integration beyond the registry keys: the WebExtension's
    // native-messaging manifests (the keys alone are the module's work).
    std::printf("%s %s\n", doneText, module->c_str());
    return BrowserIntegration(command) ? 0 : 1;
}

const host::CommandRegistration registerCommand(80, [](CLI::App& app) {
    auto* sub = app.add_subcommand("register", "Register the Quillory module and its browser integration");
    sub->callback([] { host::ExitCode() = RunEntryPoint("register", "DllRegisterServer", "Registered"); });
});

const host::CommandRegistration unregisterCommand(81, [](CLI::App& app) {
    auto* sub = app.add_subcommand("unregister", "Remove the Quillory module's registration");
    sub->callback([] { host::ExitCode() = RunEntryPoint("unregister", "DllUnregisterServer", "Unregistered"); });
});

} // namespace
