#pragma once
// How a URL becomes one file directly inside the chosen folder, and how a
// taken name is replaced by a numbered variant (logo.gif -> logo1.gif).
//
// Linux limits, and what we do about them:
//   - A single file name may not exceed NAME_MAX (255) bytes. A longer name
//     is shortened here, keeping its extension and never splitting a UTF-8
//     sequence, so the download does not fail later at open().
//   - The whole path is not limited here: a folder deep enough to push the
//     path over PATH_MAX (4096) makes the file creation fail, which the save
//     processor reports as "Cannot create output file '%s'.". The classic
//     259-character limit of the original platform is not imposed; it would
//     only refuse files Linux can store.
//   - A name can never leave the folder: '/' and '\' are replaced, a decoded
//     NUL byte becomes '_' (it would otherwise cut the name short at the
//     system call), and a name made only of dots ("." or "..") has its dots
//     replaced by '_' instead of being resolved against the folder.
//
// Paths are narrow UTF-8 strings joined with '/'.
//
// Thread: any. MakeUniquePath and MakeUniqueTargetPath look at the file
// system, so two threads choosing names in one folder can pick the same one;
// callers that must not collide create the file before choosing the next.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace QVSaveProcessors {

// Longest single path component Linux accepts (NAME_MAX).
inline constexpr std::size_t kMaxFileNameLength = 255;
// Numbered variants tried by MakeUniquePath: name1 ... name9999.
inline constexpr int kMaxUniqueNumber = 9999;

enum class ReplaceDots { No, Yes };

// The file-name character replacements: ':' and '*' become a blank,
// '\\' '?' '"' '>' '<' '|' and NUL become '_', '/' becomes '-', and with
// ReplaceDots::Yes also '.' becomes '_'.
[[nodiscard]] std::string ReplaceFileNameChars(std::string_view name, ReplaceDots dots);

// Resolves "." and ".." components and repeated separators lexically,
// without consulting the file system (so "/a/link/.." is "/a" whatever
// "link" points to).
// Keeps a leading '/', drops a trailing one except for "/" itself; ".." at
// the root stays at the root, leading ".." of a relative path are kept.
[[nodiscard]] std::string CanonicalizePath(std::string_view path);

// Joins a folder and a file name with one '/' and canonicalises the result.
// An empty folder gives the name alone.
[[nodiscard]] std::string CombinePath(std::string_view folder, std::string_view name);

// The target path of `url` in `folder`. The name is the last component of
// the decoded URL path: it starts after the last '/', '\' or ':' that is
// followed by something other than '/', '\' or the end ("/a/c:evil" gives
// "evil", "/dir/" gives "dir-"). Then its characters are replaced, it is
// "unnamed" when empty, its extension is replaced by `extension` when that
// is not empty (give it with its dot, e.g. ".asf"), and it is shortened to
// 255 bytes. Never fails. The result is always CombinePath(folder, name):
// the canonical folder, one '/', and a name that is never empty, "." or
// "..", and holds no '/' or NUL.
[[nodiscard]] std::string MakeTargetPath(std::string_view url, std::string_view folder,
                                         std::string_view extension);

// `path` itself when nothing exists there, else the first free numbered
// variant "<base><n><ext>" in the same folder for n = 1 ... 9999; nullopt
// when all of them are taken. A variant whose name would exceed 255 bytes
// has its base shortened to make room for the number.
[[nodiscard]] std::optional<std::string> MakeUniquePath(std::string_view path);

// MakeTargetPath followed by MakeUniquePath.
[[nodiscard]] std::optional<std::string> MakeUniqueTargetPath(std::string_view url,
                                                              std::string_view folder,
                                                              std::string_view extension);

} // namespace QVSaveProcessors
