#include "saveprocessors/TargetPath.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "saveprocessors/UrlParts.h"

namespace QVSaveProcessors {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}

// The last component of a URL path. The name starts after the last
// separator that is followed by something other than a separator or the
// end, so a trailing separator stays with the last component ("/dir/" ->
// "dir/", "/" -> "/", "c:evil" -> "evil").
std::string_view LastComponent(std::string_view urlPath)
{
    for (std::size_t i = urlPath.size(); i-- > 0;) {
        if (!IsSeparator(urlPath[i]))
            continue;
        if (i + 1 < urlPath.size() && urlPath[i + 1] != '/' && urlPath[i + 1] != '\\')
            return urlPath.substr(i + 1);
    }
    return urlPath;
}

bool IsUtf8Continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The longest prefix of `text` of at most `limit` bytes that does not end
// inside a UTF-8 sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t cut = limit;
    while (cut > 0 && IsUtf8Continuation(text[cut]))
        --cut;
    return text.substr(0, cut);
}

// Splits a file name at its last '.': ("a.b", ".c"); no dot gives ("x", "").
std::pair<std::string_view, std::string_view> SplitExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

// base + middle + ext within the file name limit: the base gives way first,
// so the number and the extension survive; an extension that alone is too
// long is cut at its end.
std::string FitName(std::string_view base, std::string_view middle, std::string_view ext)
{
    const std::size_t fixed = middle.size() + ext.size();
    std::string name;
    if (fixed <= kMaxFileNameLength) {
        name.append(Utf8Prefix(base, kMaxFileNameLength - fixed)).append(middle).append(ext);
    } else {
        name.append(middle).append(ext);
        name = std::string(Utf8Prefix(name, kMaxFileNameLength));
    }
    return name;
}

bool OnlyDots(std::string_view name)
{
    return !name.empty() && name.find_first_not_of('.') == std::string_view::npos;
}

// A directory entry of any kind exists at `path`. lstat, not stat: a
// dangling symbolic link is a taken name, since creating the file through
// it would write wherever the link points.
bool EntryExists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

std::string ReplaceFileNameChars(std::string_view name, ReplaceDots dots)
{
    std::string result(name);
    for (char& c : result) {
        switch (c) {
        case ':':
        case '*':
            c = ' ';
            break;
        case '\\':
        case '?':
        case '"':
        case '>':
        case '<':
        case '|':
        case '\0': // would end the name early at the system call
            c = '_';
            break;
        case '/':
            c = '-';
            break;
        case '.':
            if (dots == ReplaceDots::Yes)
                c = '_';
            break;
        default:
            break;
        }
    }
    return result;
}

std::string CanonicalizePath(std::string_view path)
{
    const bool absolute = path.starts_with('/');
    std::vector<std::string_view> components;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (!components.empty() && components.back() != "..")
                components.pop_back();
            else if (!absolute)
                components.push_back(component);
            continue;
        }
        components.push_back(component);
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0)
            result += '/';
        result.append(components[i]);
    }
    return result;
}

std::string CombinePath(std::string_view folder, std::string_view name)
{
    std::string joined(folder);
    if (!joined.empty() && !joined.ends_with('/'))
        joined += '/';
    joined.append(name);
    return CanonicalizePath(joined);
}

std::string MakeTargetPath(std::string_view url, std::string_view folder, std::string_view extension)
{
    // 1./2.
    const UrlParts parts = SplitUrlOrEmpty(url, true);
    std::string name(LastComponent(parts.urlPath));
    // 3.
    if (name.empty())
        name = "unnamed";
    // 4.
    name = ReplaceFileNameChars(name, ReplaceDots::No);
    // 5.
    if (!extension.empty()) {
        name.erase(std::min(name.size(), name.rfind('.')));
        name += ReplaceFileNameChars(extension, ReplaceDots::No);
    }
    // Linux refuses names over NAME_MAX: shorten here, keeping the extension.
    if (name.size() > kMaxFileNameLength) {
        const auto [base, ext] = SplitExtension(name);
        name = FitName(base, {}, ext);
    }
    // "." and ".." would be resolved against the folder (to the folder or
    // its parent) instead of naming a file in it.
    if (OnlyDots(name) || name.empty())
        name = name.empty() ? std::string("unnamed") : ReplaceFileNameChars(name, ReplaceDots::Yes);
    // 6.
    return CombinePath(folder, name);
}

std::optional<std::string> MakeUniquePath(std::string_view path)
{
    std::string current(path);
    // A NUL would make the test below look at a different, shorter path;
    // such a path cannot be created anyway.
    if (current.find('\0') != std::string::npos || !EntryExists(current))
        return current;

    const std::size_t slash = current.rfind('/');
    const std::string_view folder = slash == std::string::npos
        ? std::string_view{}
        : std::string_view(current).substr(0, slash == 0 ? 1 : slash);
    const std::string_view name = slash == std::string::npos
        ? std::string_view(current)
        : std::string_view(current).substr(slash + 1);
    const auto [base, ext] = SplitExtension(name);

    for (int n = 1; n <= kMaxUniqueNumber; ++n) {
        const std::string candidate = CombinePath(folder, FitName(base, std::to_string(n), ext));
        if (!EntryExists(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> MakeUniqueTargetPath(std::string_view url, std::string_view folder,
                                                std::string_view extension)
{
    return MakeUniquePath(MakeTargetPath(url, folder, extension));
}

} // namespace QVSaveProcessors
