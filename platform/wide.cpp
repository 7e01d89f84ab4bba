#include "platform/wide.h"

namespace tove::platform {

std::optional<char32_t> decode_utf8(std::string_view text, size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  size_t length;
  char32_t value;
  char32_t least;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - i < length) return std::nullopt;
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
  i += length;
  return value;
}

bool is_utf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\0' || !decode_utf8(text, i)) return false;
  }
  return true;
}

std::u16string to_utf16(std::string_view text) {
  std::u16string units;
  size_t i = 0;
  while (i < text.size()) {
    std::optional<char32_t> c = decode_utf8(text, i);
    if (!c) {
      ++i;
      units.push_back(kReplacementUnit);
    } else if (*c < 0x10000) {
      units.push_back(static_cast<char16_t>(*c));
    } else {
      const char32_t v = *c - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
  }
  return units;
}

}  // namespace tove::platform
