#pragma once
// Where the system keeps and finds things on a Linux desktop. Everything
// follows HOME and the XDG variables; nothing defaults to the working
// directory.
#include <filesystem>
#include <string>

namespace platform {

std::filesystem::path HomeDir();
// XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();
// XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path DataHome();
// XDG_CACHE_HOME, else ~/.cache.
std::filesystem::path CacheHome();
// The user's documents folder: XDG_DOCUMENTS_DIR, else the entry in
// user-dirs.dirs, else ~/Documents.
std::filesystem::path DocumentsDir();
// TMPDIR, else /tmp.
std::filesystem::path TempDir();

// Full path of the loaded file (shared library or program) that contains
// the given code address; empty when it cannot be found.
std::filesystem::path ModuleFileOf(const void* address);

} // namespace platform
