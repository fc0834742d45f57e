#pragma once
// ShowHelp's half on this platform: opening the help file at the grab
// dialog's topic.
//
// The help file is a compiled HTML help archive. When the desktop has a
// viewer for that type (xchm, kchmviewer, ...), the file itself goes to
// it through the shell's "open" verb, as the help viewer would get it.
// Without one, the archive's pages are unpacked into the user's cache
// folder and the topic's page opens in the user's browser. Either way the
// path is used exactly as stored (no quoting, no expansion: it is handed
// over as one argument, never through a shell), and nothing waits for the
// viewer.
//
// Thread: UI only (it uses the active view).
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kHelpTopic = "smdialog.htm";
// The MIME type desktops register help archive viewers under.
inline constexpr std::string_view kHelpMimeType = "application/vnd.ms-htmlhelp";

enum class ChmViewer { Missing, Installed };

// Asks the desktop (xdg-mime) whether an application is the default for
// help archives. Missing when xdg-mime cannot be run or names none.
[[nodiscard]] ChmViewer DetectChmViewer();

// What ShowHelpTopic opened through the active view's ShellOpen: the help
// file, the unpacked topic page, or nothing (empty help path, unreadable
// archive, no such topic).
[[nodiscard]] std::optional<std::string> ShowHelpTopic(const std::string& helpPath, ChmViewer viewer);

// Unpacks the archive's files (at most kMaxHelpFiles, kMaxHelpBytes in
// all; names that would leave the folder are skipped) into a folder of the
// user's cache named after the help path, and returns the path of the
// topic's page there; nothing when the archive cannot be read or lacks
// the topic.
inline constexpr std::size_t kMaxHelpFiles = 4096;
inline constexpr std::size_t kMaxHelpBytes = 64 * 1024 * 1024;
[[nodiscard]] std::optional<std::filesystem::path> UnpackHelpTopic(const std::string& helpPath,
    std::string_view topic = kHelpTopic);
