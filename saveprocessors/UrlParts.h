#pragma once
// Breakdown of a URL text into scheme, credentials, host, port, path and the
// query/fragment tail. One breakdown serves the whole system: discovery uses
// it to compare hosts and schemes, the download engine to choose a processor,
// name target files and find an MMS server.
//
// Thread: any (pure functions, no shared state).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace QVSaveProcessors {

// The eight schemes the engine knows, numbered as the scheme number reports
// them. Any other scheme is Unknown (-1), whatever its name.
enum class Scheme : std::int32_t {
    Unknown = -1,
    Ftp = 0,
    Gopher = 1,
    Http = 2,
    Https = 3,
    File = 4,
    News = 5,
    Mailto = 6,
    Socks = 7,
};

// Upper bounds of each part in bytes; a longer part makes the breakdown fail.
inline constexpr std::size_t kMaxSchemeNameLength = 32;
inline constexpr std::size_t kMaxUserNameLength = 128;
inline constexpr std::size_t kMaxPasswordLength = 128;
inline constexpr std::size_t kMaxHostNameLength = 256;
inline constexpr std::size_t kMaxUrlPathLength = 2048;
inline constexpr std::size_t kMaxExtraInfoLength = 2048;
// Longest URL text, after %XX decoding, that a decoding breakdown accepts.
inline constexpr std::size_t kMaxUrlLength = 2083;

struct UrlParts {
    std::int32_t schemeNumber = -1; // index of the known scheme, -1 otherwise
    std::string schemeName;         // text before the first ':', as written
    std::string userName;
    std::string password;
    std::string hostName;           // an IPv6 literal keeps its brackets
    std::uint16_t port = 0;         // explicit port, else the scheme's default
    std::string urlPath;            // from the '/' that ends the host part
    std::string extraInfo;          // from the first '?' or '#' after the host

    Scheme scheme() const { return static_cast<Scheme>(schemeNumber); }
    bool IsKnownScheme() const { return schemeNumber >= 0; }
};

// Splits `url`. With `decode`, every %XX escape is first replaced by the byte
// it stands for (a decoded %00 stays an ordinary byte of the part: strings
// here are counted, never NUL-terminated). Returns nullopt when the URL does
// not break down: no ':', a scheme name over 32 bytes, "mailto://", an escape
// cut off at the end, or any part over its limit.
[[nodiscard]] std::optional<UrlParts> SplitUrl(std::string_view url, bool decode);

// The same breakdown for callers that want the reset parts on failure: a URL
// that does not break down gives scheme number -1, port 0 and every text part
// empty (exactly a default-constructed UrlParts).
[[nodiscard]] UrlParts SplitUrlOrEmpty(std::string_view url, bool decode);

// Replaces every %XX escape (two hexadecimal digits, either case) by its byte.
// A '%' not followed by two hex digits is kept as it is, except when fewer
// than two bytes follow it ('%' or '%X' as the last bytes), which fails.
[[nodiscard]] std::optional<std::string> DecodeUrlEscapes(std::string_view text);

// Scheme number for a scheme name (letter case ignored), -1 when unknown.
[[nodiscard]] std::int32_t SchemeNumberOf(std::string_view schemeName);

// Default port of a known scheme; 0 for Unknown, file, news and mailto.
[[nodiscard]] std::uint16_t DefaultPortOf(Scheme scheme);

} // namespace QVSaveProcessors
