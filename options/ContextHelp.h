#pragma once
// Context help: the pop-up texts of a help file's "ctxhlp.txt", by help id.
//
// A help file is read at its first request and kept for the process. A
// help file that cannot be read (missing, not a help archive, no pop-up
// file) is remembered as such and not tried again in this process.
//
// Thread: any.
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kContextHelpFile = "/ctxhlp.txt";

// The pop-up text file's form: each topic starts with a line
// ".topic <help id>" and runs to the next such line; blank lines at either
// end of a text are dropped, line ends become "\n". Topics with ids that
// are not decimal numbers are skipped; the first of two equal ids wins.
// At most kMaxTopics topics are taken.
inline constexpr std::size_t kMaxContextHelpTopics = 4096;
[[nodiscard]] std::map<int, std::string> ParseContextHelpText(std::string_view text);

// The pop-up text for `helpId` in the help file `helpPath`; nothing when
// the path is empty (no file is touched then), the file cannot be read, or
// it has no such topic.
[[nodiscard]] std::optional<std::string> ContextHelpText(const std::string& helpPath, int helpId);

// How many times a help file has been opened for its pop-up texts in this
// process (diagnostics: each readable or unreadable file is opened once).
[[nodiscard]] std::size_t ContextHelpFileOpens();
