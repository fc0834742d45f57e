#include "platform/html/TextDecoder.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace html {

namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string_view Trim(std::string_view s)
{
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (isSpace(s.back()) || s.back() == '"' || s.back() == '\''))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == '"' || s.front() == '\''))
        s.remove_prefix(1);
    return s;
}

// Length of the valid UTF-8 sequence at s[i], or 0 (RFC 3629: no
// overlongs, no surrogates, nothing above U+10FFFF).
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i)
{
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    if (b(i + 1) < lo || b(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if (b(i + k) < 0x80 || b(i + k) > 0xBF)
            return 0;
    }
    return n;
}

bool IsValidUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = Utf8SequenceAt(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// The charset of the first <meta> that declares one, within the first
// 1024 bytes (the HTML standard's prescan window).
std::string MetaCharset(std::string_view bytes)
{
    std::string head = Lower(bytes.substr(0, 1024));
    for (std::size_t at = head.find("<meta"); at != std::string::npos; at = head.find("<meta", at + 5)) {
        std::size_t end = head.find('>', at);
        std::string_view tag = std::string_view(head).substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::size_t cs = tag.find("charset");
        if (cs == std::string_view::npos)
            continue;
        std::size_t eq = tag.find('=', cs);
        if (eq == std::string_view::npos)
            continue;
        std::string_view value = tag.substr(eq + 1);
        std::size_t start = value.find_first_not_of(" \t\n\r\f\"'");
        if (start == std::string_view::npos)
            continue;
        value = value.substr(start);
        std::size_t stop = value.find_first_of(" \t\n\r\f\"';/>");
        std::string label(value.substr(0, stop));
        if (!label.empty())
            return label;
    }
    return {};
}

bool IsUtf8Label(std::string_view label) { return label == "utf-8" || label == "utf8" || label == "unicode-1-1-utf-8"; }

// Labels that the Encoding Standard maps to windows-1252.
bool IsWindows1252Label(std::string_view label)
{
    return label == "iso-8859-1" || label == "latin1" || label == "us-ascii" || label == "ascii" || label == "l1"
        || label == "windows-1252" || label == "cp1252" || label == "iso8859-1" || label == "x-cp1252";
}

std::string Convert(std::string_view bytes, const char* from)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return ValidUtf8(bytes);
    std::string out;
    out.resize(bytes.size() * 4 + 16); // no encoding grows beyond 4 bytes per input byte
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == EILSEQ || errno == EINVAL) {
            // An unmappable or cut-off byte: U+FFFD, then go on after it.
            if (outLeft < 3)
                break;
            std::memcpy(outPtr, "\xEF\xBF\xBD", 3);
            outPtr += 3;
            outLeft -= 3;
            ++in;
            --inLeft;
        } else {
            break;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return ValidUtf8(out);
}

} // namespace

std::string ValidUtf8(std::string_view s)
{
    if (IsValidUtf8(s))
        return std::string(s);
    std::string out;
    out.reserve(s.size() + 16);
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = Utf8SequenceAt(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string MediaTypeOf(std::string_view contentType)
{
    std::size_t semi = contentType.find(';');
    return Lower(Trim(contentType.substr(0, semi)));
}

std::string CharsetOf(std::string_view contentType)
{
    std::string lower = Lower(contentType);
    std::size_t at = lower.find("charset");
    if (at == std::string::npos)
        return {};
    std::size_t eq = lower.find('=', at);
    if (eq == std::string::npos)
        return {};
    std::string_view value = std::string_view(lower).substr(eq + 1);
    value = value.substr(0, value.find(';'));
    return std::string(Trim(value));
}

std::string DecodeToUtf8(std::string_view bytes, std::string_view contentType, SniffMeta sniffMeta)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return ValidUtf8(bytes.substr(3));
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return Convert(bytes.substr(2), "UTF-16LE");
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return Convert(bytes.substr(2), "UTF-16BE");

    std::string label = CharsetOf(contentType);
    if (label.empty() && sniffMeta == SniffMeta::Yes) {
        label = MetaCharset(bytes);
        // A page cannot declare itself UTF-16 from inside: its bytes were
        // read as ASCII to find the declaration (HTML standard, prescan).
        if (label.rfind("utf-16", 0) == 0)
            label = "utf-8";
    }
    if (label.empty())
        return IsValidUtf8(bytes) ? std::string(bytes) : Convert(bytes, "WINDOWS-1252");
    if (IsUtf8Label(label))
        return ValidUtf8(bytes);
    if (IsWindows1252Label(label))
        return Convert(bytes, "WINDOWS-1252");
    return Convert(bytes, label.c_str());
}

} // namespace html
