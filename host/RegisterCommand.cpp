// `quillory register` and `quillory unregister`: load libqvtovanix.so and
// run its own registration entry point, as a system's registration tool
// does with an in-process server.
//
// Which library file: the first that exists of
//   1. $QUILLORY_MODULE_PATH (used as given; a missing file is an error),
//   2. libqvtovanix.so beside the quillory program,
//   3. ../module/libqvtovanix.so relative to the program (the build tree),
//   4. ../lib/quillory/libqvtovanix.so relative to the program (installed).
// The program's folder comes from /proc/self/exe, so neither the working
// directory nor PATH plays a part. The registry then records the library's
// own resolved path, so later hosts load exactly the registered file.
#include "host/Command.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/com/HResult.h"

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
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        error = "Cannot find the quillory program's own folder";
        return std::nullopt;
    }
    const fs::path dir = exe.parent_path();
    for (const fs::path& candidate : { dir / kModuleFileName, dir / ".." / "module" / kModuleFileName,
             dir / ".." / "lib" / "quillory" / kModuleFileName }) {
        if (fs::exists(candidate, ec))
            return fs::weakly_canonical(candidate, ec);
    }
    error = std::string("Cannot find ") + kModuleFileName + " beside " + exe.string()
        + " (set QUILLORY_MODULE_PATH to its path)";
    return std::nullopt;
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
    void* lib = dlopen(module->c_str(), RTLD_NOW | RTLD_LOCAL);
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
    // Browser integration beyond the registry keys (the WebExtension's
    // native-messaging manifests) is installed and removed at this point
    // once it exists; the keys alone are written by the module itself.
    std::printf("%s %s\n", doneText, module->c_str());
    return 0;
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
