#pragma once
// Address work for the page loader: resolving the references a page writes
// (RFC 3986 section 5, with the browser habits the HTML standard keeps:
// surrounding white space dropped, "\" read as "/", non-ASCII and spaces
// percent-encoded as UTF-8) and the origin of a document (RFC 6454: scheme,
// host and port).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace html {

// The lower-case scheme of an absolute address ("http"), or "" when the
// text does not start with one.
std::string SchemeOf(std::string_view url);

// ref resolved against the absolute address base; nullopt when base is not
// an absolute address or the result is malformed. A ref with a scheme that
// the resolver does not know (data:, about:, javascript:) comes back as
// written. An empty ref is base itself without its fragment.
std::optional<std::string> ResolveUrl(std::string_view base, std::string_view ref);

// The address without its "#fragment".
std::string StripFragment(std::string_view url);

// RFC 6454 origin tuple; port is the scheme's default when none is written.
struct Origin {
    std::string scheme;
    std::string host; // lower-case
    int port = -1;
    bool operator==(const Origin&) const = default;
};
std::optional<Origin> OriginOf(std::string_view url);
bool SameOrigin(std::string_view a, std::string_view b);

// "file:///abs/path" for a local path, percent-encoded as needed.
std::string FileUrlFromPath(const std::filesystem::path& path);

// The decoded local path of a file: address, or nullopt.
std::optional<std::filesystem::path> PathFromFileUrl(std::string_view url);

// Percent-decodes a text (bytes kept as they are, so UTF-8 survives).
std::string PercentDecode(std::string_view text);

} // namespace html
