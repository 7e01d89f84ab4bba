// Text as the platform the language comes from stores it for the system:
// 16-bit units (UTF-16), converted from the host's multibyte code (UTF-8).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tove::platform {

inline constexpr char16_t kReplacementUnit = 0xFFFD;

// One code point decoded from UTF-8 at `text[i]`, advancing `i` past it;
// none, with `i` unchanged, for a byte that does not start a valid,
// shortest sequence of a Unicode scalar value.
std::optional<char32_t> decode_utf8(std::string_view text, size_t& i);

// Whether the text is valid UTF-8 without NUL bytes.
bool is_utf8(std::string_view text);

// The 16-bit units of a UTF-8 text; a byte that is not part of valid UTF-8
// gives U+FFFD.
std::u16string to_utf16(std::string_view text);

}  // namespace tove::platform
