#include "platform/html/Url.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace html {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

struct CurlText {
    char* text = nullptr;
    ~CurlText() { curl_free(text); }
};

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpecialScheme(std::string_view scheme)
{
    return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "file";
}

// Leading and trailing C0 controls and spaces go, tabs and line breaks
// inside go too (WHATWG URL parsing), so "\n img.gif " names img.gif.
std::string CleanReference(std::string_view ref)
{
    auto isC0OrSpace = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!ref.empty() && isC0OrSpace(ref.front()))
        ref.remove_prefix(1);
    while (!ref.empty() && isC0OrSpace(ref.back()))
        ref.remove_suffix(1);
    std::string out;
    out.reserve(ref.size());
    for (char c : ref) {
        if (c != '\t' && c != '\n' && c != '\r')
            out.push_back(c);
    }
    return out;
}

// Bytes a browser percent-encodes when it sends an address: controls,
// space, quotes, angle brackets, backquote and everything beyond ASCII.
std::string EncodeUnsafe(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`'
            || c == '{' || c == '}') {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::string> GetPart(CURLU* u, CURLUPart part, unsigned flags = 0)
{
    CurlText t;
    if (curl_url_get(u, part, &t.text, flags) != CURLUE_OK || !t.text)
        return std::nullopt;
    return std::string(t.text);
}

UrlHandle ParseAbsolute(std::string_view url)
{
    UrlHandle u(curl_url());
    if (!u)
        return nullptr;
    std::string text(url);
    if (curl_url_set(u.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return nullptr;
    return u;
}

} // namespace

std::string SchemeOf(std::string_view url)
{
    if (url.empty() || !IsAsciiAlpha(url.front()))
        return {};
    std::size_t i = 1;
    while (i < url.size()) {
        char c = url[i];
        if (c == ':')
            break;
        if (!(IsAsciiAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))
            return {};
        ++i;
    }
    if (i >= url.size())
        return {};
    std::string scheme(url.substr(0, i));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), ToLower);
    return scheme;
}

std::string StripFragment(std::string_view url)
{
    return std::string(url.substr(0, url.find('#')));
}

std::optional<std::string> ResolveUrl(std::string_view base, std::string_view rawRef)
{
    std::string ref = CleanReference(rawRef);
    std::string refScheme = SchemeOf(ref);
    if (!refScheme.empty() && !IsSpecialScheme(refScheme))
        return ref; // data:, about:, javascript:, mailto: are their own addresses

    UrlHandle u = ParseAbsolute(base);
    if (!u)
        return std::nullopt;
    std::string baseScheme = SchemeOf(base);
    std::string_view effectiveScheme = refScheme.empty() ? baseScheme : refScheme;
    if (IsSpecialScheme(effectiveScheme)) {
        // Hierarchical addresses read "\" as "/" up to the query.
        std::size_t end = std::min(ref.find('?'), ref.find('#'));
        std::replace(ref.begin(), ref.begin() + static_cast<std::ptrdiff_t>(std::min(end, ref.size())), '\\', '/');
    }
    ref = EncodeUnsafe(ref);

    // curl's resolver mishandles the two same-document forms.
    if (ref.empty() || ref.front() == '#') {
        std::string doc = StripFragment(base);
        if (ref.empty())
            return doc;
        return doc + ref;
    }
    if (curl_url_set(u.get(), CURLUPART_URL, ref.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    return GetPart(u.get(), CURLUPART_URL);
}

std::optional<Origin> OriginOf(std::string_view url)
{
    std::string scheme = SchemeOf(url);
    if (!IsSpecialScheme(scheme))
        return std::nullopt;
    UrlHandle u = ParseAbsolute(url);
    if (!u)
        return std::nullopt;
    Origin o;
    o.scheme = scheme;
    if (scheme != "file") {
        std::optional<std::string> host = GetPart(u.get(), CURLUPART_HOST);
        if (!host)
            return std::nullopt;
        o.host = *host;
        std::transform(o.host.begin(), o.host.end(), o.host.begin(), ToLower);
        std::optional<std::string> port = GetPart(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
        o.port = port ? std::atoi(port->c_str()) : -1;
    }
    return o;
}

bool SameOrigin(std::string_view a, std::string_view b)
{
    std::optional<Origin> oa = OriginOf(a);
    std::optional<Origin> ob = OriginOf(b);
    return oa && ob && *oa == *ob;
}

std::string FileUrlFromPath(const std::filesystem::path& path)
{
    std::string text = path.lexically_normal().generic_string();
    std::string out = "file://";
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        bool keep = IsAsciiAlpha(c) || (c >= '0' && c <= '9') || std::string_view("/-._~!$&'()*+,;=:@").find(c) != std::string_view::npos;
        if (keep) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
    }
    return out;
}

std::optional<std::filesystem::path> PathFromFileUrl(std::string_view url)
{
    if (SchemeOf(url) != "file")
        return std::nullopt;
    UrlHandle u = ParseAbsolute(url);
    if (!u)
        return std::nullopt;
    std::optional<std::string> path = GetPart(u.get(), CURLUPART_PATH);
    if (!path)
        return std::nullopt;
    return std::filesystem::path(PercentDecode(*path));
}

std::string PercentDecode(std::string_view text)
{
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        c = ToLower(c);
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace html
