#pragma once
// Turns the bytes of a fetched page or stylesheet into UTF-8, the only
// encoding the parser and the rest of the system take. The encoding is
// found as a browser finds it (WHATWG Encoding): byte order mark, then the
// charset of the Content-Type header, then a <meta> declaration near the
// start, else UTF-8 when the bytes are valid UTF-8 and windows-1252 when
// they are not.
#include <string>
#include <string_view>

namespace html {

enum class SniffMeta { No, Yes };

// The bytes as UTF-8; invalid sequences become U+FFFD.
std::string DecodeToUtf8(std::string_view bytes, std::string_view contentType, SniffMeta sniffMeta);

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// The charset parameter of a Content-Type value, lower-case, or "".
std::string CharsetOf(std::string_view contentType);

// The media type of a Content-Type value, lower-case, without parameters.
std::string MediaTypeOf(std::string_view contentType);

} // namespace html
