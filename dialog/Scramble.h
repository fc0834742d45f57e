#pragma once
// The stored form of the dialog's templates: base64 text of bytes that were
// rotated right by two bits and XORed with a one-byte key. Not a secret -
// it keeps the templates from being lifted out of the library file as
// plain text - so the key travels beside the text.
//
// Thread: any (pure functions).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dialog {

// The stored form of `plain`: RFC 4648 base64 (with padding) of every byte
// rotated right by two bits and then XORed with `key`, broken into lines
// of at most `lineLength` characters (0: one line).
[[nodiscard]] std::string Scramble(std::string_view plain, std::uint8_t key, std::size_t lineLength = 76);

// The inverse: base64-decode `stored`, skipping every character outside the
// base64 alphabet (line breaks, spaces), XOR each byte with `key`, rotate it
// left by two bits. The text ends at the first zero byte, as a C string
// would. nullopt only when the base64 text itself is broken: a lone
// trailing character, or data after the padding.
[[nodiscard]] std::optional<std::string> Unscramble(std::string_view stored, std::uint8_t key);

} // namespace dialog
