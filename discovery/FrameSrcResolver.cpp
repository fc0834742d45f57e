#include "discovery/FrameSrcResolver.h"

#include "saveprocessors/UrlParts.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace QVXMLInfoExtractors {

namespace {

using QVSaveProcessors::Scheme;
using QVSaveProcessors::SplitUrlOrEmpty;
using QVSaveProcessors::UrlParts;

struct CurlUrlDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// Any scheme, and blanks as pages write them (curl escapes them as %20,
// which canonicalising decodes again).
constexpr unsigned kCurlFlags = CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE;

bool SetUrl(CURLU* handle, std::string_view text)
{
    const std::string copy(text); // curl wants a C string; an embedded NUL fails below
    if (copy.find('\0') != std::string::npos)
        return false;
    return curl_url_set(handle, CURLUPART_URL, copy.c_str(), kCurlFlags) == CURLUE_OK;
}

std::optional<std::string> GetUrl(CURLU* handle)
{
    char* text = nullptr;
    if (curl_url_get(handle, CURLUPART_URL, &text, 0) != CURLUE_OK || !text)
        return std::nullopt;
    std::string out(text);
    curl_free(text);
    return out;
}

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

// The byte of the escape at `at`, or -1 when there is none.
int EscapeAt(std::string_view s, std::size_t at)
{
    if (at + 2 >= s.size() || s[at] != '%')
        return -1;
    const int hi = HexValue(s[at + 1]);
    const int lo = HexValue(s[at + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Decodes %XX escapes whose bytes form characters XML can carry; the
// others stay as written.
std::string DecodeEscapes(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const int b = EscapeAt(s, i);
        if (b < 0) {
            out += s[i++];
            continue;
        }
        if (b < 0x80) {
            if (b >= 0x20 && b != 0x7F)
                out += static_cast<char>(b);
            else
                out.append(s.substr(i, 3));
            i += 3;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if ((b & 0xE0) == 0xC0) {
            length = 2, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4, cp = b & 0x07, min = 0x10000;
        }
        std::string bytes(1, static_cast<char>(b));
        bool valid = length != 0;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const int c = EscapeAt(s, i + 3 * k);
            if (c < 0 || (c & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
            bytes += static_cast<char>(c);
        }
        valid = valid && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE
            && cp != 0xFFFF;
        if (valid) {
            out += bytes;
            i += 3 * length;
        } else {
            out.append(s.substr(i, 3));
            i += 3;
        }
    }
    return out;
}

std::string StripLeadingSlashes(std::string_view path)
{
    const std::size_t first = path.find_first_not_of("/\\");
    return first == std::string_view::npos ? std::string() : std::string(path.substr(first));
}

// A file address is broken down with its escapes decoded, others as written.
UrlParts Parse(std::string_view url)
{
    UrlParts parts = SplitUrlOrEmpty(url, false);
    if (parts.scheme() == Scheme::File)
        parts = SplitUrlOrEmpty(url, true);
    return parts;
}

// The path of `ps` below the deepest folder it shares with `pb`; both
// without leading slashes and with '/' as separator. Never steps up.
std::string PathBelowCommonFolder(const std::string& pb, const std::string& ps)
{
    const std::size_t shorter = std::min(pb.size(), ps.size());
    std::size_t k = 0;
    while (k < shorter && pb[k] == ps[k])
        ++k;
    // A prefix that is the whole of the shorter path does not yet prove a
    // shared folder: "dir/a" and "dir/a/b" share "dir/" only as far as the
    // last separator before the end.
    if (k == shorter && k > 0)
        --k;
    const std::size_t slash = ps.substr(0, k).rfind('/');
    k = slash == std::string::npos ? 0 : slash + 1;
    return ps.substr(k);
}

} // namespace

std::optional<std::string> CombineUrl(std::string_view base, std::string_view relative)
{
    std::optional<std::string> out;
    if (!relative.empty() && relative.front() == '#') {
        // A fragment alone keeps the whole base address (RFC 3986 5.2.2),
        // which curl does not do for it.
        CurlUrl handle(curl_url());
        if (!handle || !SetUrl(handle.get(), base))
            return std::nullopt;
        out = GetUrl(handle.get());
        if (!out)
            return std::nullopt;
        out->erase(std::min(out->find('#'), out->size()));
        out->append(relative);
    } else {
        CurlUrl handle(curl_url());
        if (!handle || !SetUrl(handle.get(), base) || !SetUrl(handle.get(), relative))
            return std::nullopt;
        out = GetUrl(handle.get());
    }
    if (!out || out->size() > kMaxResolvedUrlLength)
        return std::nullopt;
    return out;
}

std::optional<std::string> CanonicalizeUrl(std::string_view url)
{
    CurlUrl handle(curl_url());
    if (!handle || !SetUrl(handle.get(), url))
        return std::nullopt;
    std::optional<std::string> out = GetUrl(handle.get());
    if (!out)
        return std::nullopt;
    std::string decoded = DecodeEscapes(*out);
    if (decoded.size() > kMaxResolvedUrlLength)
        return std::nullopt;
    return decoded;
}

bool IsRelativeFilePath(std::string_view path)
{
    // Rooted: the POSIX path test's absolute form, and the Windows one.
    if (!path.empty() && (path.front() == '/' || path.front() == '\\'))
        return false;
    // A drive: "C:/dir/a.txt".
    return !(path.size() >= 2 && path[1] == ':');
}

ResolvedSrc ResolveFrameSrc(std::string_view value, std::string_view base)
{
    ResolvedSrc out;
    std::string s(value);
    if (!base.empty()) {
        const UrlParts sp = Parse(s);
        const bool relative = sp.scheme() == Scheme::File ? IsRelativeFilePath(sp.urlPath) : sp.hostName.empty();
        if (relative) {
            if (std::optional<std::string> combined = CombineUrl(base, s)) {
                s = std::move(*combined);
                out.relsrc = std::string(value);
            }
        } else {
            const UrlParts bp = Parse(base);
            if (bp.hostName == sp.hostName && bp.schemeNumber == sp.schemeNumber) {
                std::string pb = StripLeadingSlashes(bp.urlPath);
                std::string ps = StripLeadingSlashes(sp.urlPath);
                if (sp.scheme() != Scheme::File)
                    out.relrootsrc = ps + sp.extraInfo;
                std::replace(pb.begin(), pb.end(), '\\', '/');
                std::replace(ps.begin(), ps.end(), '\\', '/');
                std::string below = PathBelowCommonFolder(pb, ps) + sp.extraInfo;
                if (below != "/")
                    out.relsrc = std::move(below);
            }
        }
    }
    std::optional<std::string> canonical = CanonicalizeUrl(s);
    out.src = canonical ? std::move(*canonical) : std::move(s);
    return out;
}

} // namespace QVXMLInfoExtractors
