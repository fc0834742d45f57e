#pragma once
// The address work of the frame source filter: resolving a src value
// against the address of its frame, canonicalising it, and deriving the
// relative forms the saving side lays files out by.
//
// Thread: any (pure functions).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace QVXMLInfoExtractors {

// Longest address, in bytes, that resolving or canonicalising may produce;
// a longer outcome counts as a failure and the earlier value is kept.
inline constexpr std::size_t kMaxResolvedUrlLength = 259;

// `relative` resolved against the absolute `base` (RFC 3986 section 5.2);
// nullopt when either does not parse or the outcome is too long.
[[nodiscard]] std::optional<std::string> CombineUrl(std::string_view base, std::string_view relative);

// The canonical form of an absolute address: "." and ".." segments removed,
// %XX escapes decoded. Escapes that would decode to control characters or
// to bytes that are not UTF-8 stay escaped, so the address remains text XML
// can carry. nullopt when the address does not parse or the outcome is too
// long.
[[nodiscard]] std::optional<std::string> CanonicalizeUrl(std::string_view url);

// Whether the (decoded) path of a file address is relative. A rooted path
// ("/home/u/a.gif", "\x") or one with a drive ("C:/x", "/C:/x") is absolute.
[[nodiscard]] bool IsRelativeFilePath(std::string_view path);

struct ResolvedSrc {
    std::string src;                       // the new src value
    std::optional<std::string> relrootsrc; // path from the site root
    std::optional<std::string> relsrc;     // path relative to the frame
};

// Rewrites one non-empty src value found inside a frame whose address is
// `base` (empty when no enclosing frame has a known address).
[[nodiscard]] ResolvedSrc ResolveFrameSrc(std::string_view value, std::string_view base);

} // namespace QVXMLInfoExtractors
