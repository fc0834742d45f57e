#include "saveprocessors/UrlParts.h"

#include <array>

namespace QVSaveProcessors {

namespace {

struct KnownScheme {
    std::string_view name;
    std::uint16_t defaultPort;
};

// Indexed by scheme number.
constexpr std::array<KnownScheme, 8> kKnownSchemes{{
    {"ftp", 21},
    {"gopher", 70},
    {"http", 80},
    {"https", 443},
    {"file", 0},
    {"news", 0},
    {"mailto", 0},
    {"socks", 1080},
}};

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

// Decimal port of at most five digits; empty text means "not given".
std::optional<std::uint16_t> ParsePort(std::string_view text, std::uint16_t defaultPort)
{
    if (text.empty())
        return defaultPort;
    if (text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// The part after "scheme:" (and "//") for every scheme but file:
// [user[:password]@]host[:port][/path][?extra|#extra]
bool SplitAuthorityAndPath(std::string_view rest, UrlParts& parts)
{
    // RFC 3986 3.2: the authority ends at the first '/', '?' or '#'.
    const std::size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view tail = authorityEnd == std::string_view::npos ? std::string_view{}
                                                                   : rest.substr(authorityEnd);

    // A decoded "%40" can put several '@' into the text; the last one ends
    // the credentials, so the host is never taken from inside them.
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const std::size_t colon = userInfo.find(':');
        const std::string_view user = userInfo.substr(0, colon);
        if (colon != std::string_view::npos) {
            if (user.empty())
                return false; // a password needs a user name
            parts.password = userInfo.substr(colon + 1);
        }
        parts.userName = user;
    }

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        // An IPv6 literal: its colons are not the port separator.
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        parts.hostName = authority.substr(0, close + 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return false;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        parts.hostName = authority.substr(0, colon);
        if (colon != std::string_view::npos)
            portText = authority.substr(colon + 1);
    }
    const auto port = ParsePort(portText, DefaultPortOf(parts.scheme()));
    if (!port)
        return false;
    parts.port = *port;

    const std::size_t pathEnd = tail.find_first_of("?#");
    parts.urlPath = tail.substr(0, pathEnd);
    if (pathEnd != std::string_view::npos)
        parts.extraInfo = tail.substr(pathEnd);
    return true;
}

bool WithinLimits(const UrlParts& parts)
{
    return parts.userName.size() <= kMaxUserNameLength
        && parts.password.size() <= kMaxPasswordLength
        && parts.hostName.size() <= kMaxHostNameLength
        && parts.urlPath.size() <= kMaxUrlPathLength
        && parts.extraInfo.size() <= kMaxExtraInfoLength;
}

} // namespace

std::optional<std::string> DecodeUrlEscapes(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '%') {
            decoded += c;
            continue;
        }
        if (text.size() - i < 3)
            return std::nullopt; // the text ends inside an escape
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            decoded += c; // not an escape: keep the '%' as written
            continue;
        }
        decoded += static_cast<char>((high << 4) | low);
        i += 2;
    }
    return decoded;
}

std::int32_t SchemeNumberOf(std::string_view schemeName)
{
    for (std::size_t i = 0; i < kKnownSchemes.size(); ++i) {
        if (EqualsIgnoringCase(schemeName, kKnownSchemes[i].name))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::uint16_t DefaultPortOf(Scheme scheme)
{
    const auto index = static_cast<std::int32_t>(scheme);
    if (index < 0 || index >= static_cast<std::int32_t>(kKnownSchemes.size()))
        return 0;
    return kKnownSchemes[static_cast<std::size_t>(index)].defaultPort;
}

std::optional<UrlParts> SplitUrl(std::string_view url, bool decode)
{
    // 1./2. Decode first, so that every rule below sees the bytes the
    // escapes stand for.
    std::string decoded;
    if (decode) {
        auto result = DecodeUrlEscapes(url);
        if (!result || result->size() > kMaxUrlLength)
            return std::nullopt;
        decoded = std::move(*result);
        url = decoded;
    }

    // 3. Scheme.
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > kMaxSchemeNameLength)
        return std::nullopt;
    UrlParts parts;
    parts.schemeName = url.substr(0, colon);
    parts.schemeNumber = SchemeNumberOf(parts.schemeName);

    // 4. Optional "//"; mailto addresses have no authority.
    std::string_view rest = url.substr(colon + 1);
    if (rest.starts_with("//")) {
        if (parts.scheme() == Scheme::Mailto)
            return std::nullopt;
        rest.remove_prefix(2);
    }

    // 5./6. A file URL is all path; the others have an authority first.
    if (parts.scheme() == Scheme::File) {
        parts.urlPath = rest;
    } else if (!SplitAuthorityAndPath(rest, parts)) {
        return std::nullopt;
    }

    // 7. Limits.
    if (!WithinLimits(parts))
        return std::nullopt;
    return parts;
}

UrlParts SplitUrlOrEmpty(std::string_view url, bool decode)
{
    if (auto parts = SplitUrl(url, decode))
        return std::move(*parts);
    return UrlParts{};
}

} // namespace QVSaveProcessors
