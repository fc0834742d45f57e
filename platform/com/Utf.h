#pragma once
// UTF-8 is the narrow code page of this system. Conversions never fail:
// an invalid sequence becomes U+FFFD, and every valid string round-trips.
#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
