// Decimal text <-> binary bytes by schoolbook arithmetic on 64-bit limbs,
// 19 decimal digits at a time. Both directions take time quadratic in the
// length of the number.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "numbers/numbers.h"

namespace tove {

namespace {

using Limbs = std::vector<uint64_t>;  // least significant first

constexpr int kChunkDigits = 19;
constexpr uint64_t kChunkBase = 10000000000000000000ull;  // 10^19

void trim(Limbs& limbs) {
  while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
}

// limbs = limbs * factor + addend
void multiply_add(Limbs& limbs, uint64_t factor, uint64_t addend) {
  unsigned __int128 carry = addend;
  for (uint64_t& limb : limbs) {
    unsigned __int128 product = static_cast<unsigned __int128>(limb) * factor + carry;
    limb = static_cast<uint64_t>(product);
    carry = product >> 64;
  }
  if (carry != 0) limbs.push_back(static_cast<uint64_t>(carry));
}

// limbs = limbs / divisor; returns the remainder.
uint64_t divide(Limbs& limbs, uint64_t divisor) {
  unsigned __int128 remainder = 0;
  for (size_t i = limbs.size(); i-- > 0;) {
    unsigned __int128 current = (remainder << 64) | limbs[i];
    limbs[i] = static_cast<uint64_t>(current / divisor);
    remainder = current % divisor;
  }
  trim(limbs);
  return static_cast<uint64_t>(remainder);
}

}  // namespace

std::string decimal_to_binary(std::string_view digits) {
  size_t start = digits.find_first_not_of('0');
  if (start == std::string_view::npos) return {};
  digits.remove_prefix(start);
  Limbs limbs;
  size_t head = digits.size() % kChunkDigits;
  if (head == 0) head = kChunkDigits;
  for (size_t pos = 0; pos < digits.size();) {
    size_t take = pos == 0 ? head : kChunkDigits;
    uint64_t chunk = 0;
    uint64_t scale = 1;
    for (size_t i = 0; i < take; ++i) {
      unsigned char d = static_cast<unsigned char>(digits[pos + i]);
      TOVE_ASSERT(d >= '0' && d <= '9');
      chunk = chunk * 10 + (d - '0');
      scale *= 10;
    }
    multiply_add(limbs, scale, chunk);
    pos += take;
  }
  trim(limbs);
  std::string bytes;
  bytes.reserve(limbs.size() * 8);
  for (uint64_t limb : limbs) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>((limb >> (8 * i)) & 0xFF));
  }
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

std::string binary_to_decimal(std::string_view bytes) {
  Limbs limbs((bytes.size() + 7) / 8, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    limbs[i / 8] |= uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * (i % 8));
  }
  trim(limbs);
  if (limbs.empty()) return "0";
  // Chunks of 19 digits, least significant first.
  std::vector<uint64_t> chunks;
  while (!limbs.empty()) chunks.push_back(divide(limbs, kChunkBase));
  std::string text = std::to_string(chunks.back());
  for (size_t i = chunks.size() - 1; i-- > 0;) {
    std::string part = std::to_string(chunks[i]);
    text.append(kChunkDigits - part.size(), '0');
    text += part;
  }
  return text;
}

}  // namespace tove
