#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "cells/analysis.h"
#include "numbers/numbers.h"

namespace tove {

namespace {

constexpr uint64_t kFractionNaN = 0x7FF9000000000000ull;

constexpr bool is_digit(unsigned char ch) { return is_decimal_digit(ch); }

unsigned char byte_at(std::string_view text, size_t i) {
  return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// The leading run of decimal digits.
std::string_view digit_run(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && is_digit(static_cast<unsigned char>(text[n]))) ++n;
  return text.substr(0, n);
}

// prefix + text. (Built by appending: GCC 12 misreports the overlap
// of operator+ on a literal and a temporary string.)
std::string prefixed(std::string_view prefix, std::string_view text) {
  std::string out;
  out.reserve(prefix.size() + text.size());
  out.append(prefix);
  out.append(text);
  return out;
}

// "00" followed by `zeros` further zeros.
std::string fraction_prefix(size_t zeros) { return std::string(zeros + 2, '0'); }

void trim_bytes(std::string& bytes) {
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
}

// bytes * 2^k, trimmed.
std::string shift_up(std::string_view bytes, uint64_t k) {
  const size_t byte_shift = k / 8;
  const unsigned bit_shift = k % 8;
  std::string out(byte_shift + bytes.size() + 1, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned v = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << bit_shift;
    out[byte_shift + i] = static_cast<char>(static_cast<unsigned char>(out[byte_shift + i]) | (v & 0xFF));
    out[byte_shift + i + 1] = static_cast<char>(v >> 8);
  }
  trim_bytes(out);
  return out;
}

// bytes div 2^k, trimmed.
std::string shift_down(std::string_view bytes, uint64_t k) {
  const size_t byte_shift = k / 8;
  const unsigned bit_shift = k % 8;
  if (byte_shift >= bytes.size()) return {};
  std::string out(bytes.size() - byte_shift, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned low = byte_at(bytes, byte_shift + i) >> bit_shift;
    unsigned high = bit_shift ? (byte_at(bytes, byte_shift + i + 1) << (8 - bit_shift)) : 0;
    out[i] = static_cast<char>((low | high) & 0xFF);
  }
  trim_bytes(out);
  return out;
}

// ---- machine-word paths ------------------------------------------------------------
//
// Almost every number a program meets fits a raw value of 64 bits; these
// paths give exactly what the byte-string paths give, without them.

bool parse_small(std::string_view digits, uint64_t& value) {
  if (digits.size() > 18) return false;
  value = 0;
  for (char d : digits) value = value * 10 + static_cast<unsigned>(d - '0');
  return true;
}

// The raw value of a decimal atom text when it fits 64 bits.
bool small_raw(std::string_view t, uint64_t& raw) {
  if (t.empty() || !is_digit(byte_at(t, 0))) return false;
  uint64_t d;
  if (t[0] != '0') {
    if (!parse_small(digit_run(t), d)) return false;
    raw = 4 * d + 3;
    return true;
  }
  if (t.size() == 1) {
    raw = 3;
    return true;
  }
  if (t[1] != '0') {
    if (!parse_small(digit_run(t.substr(1)), d)) return false;
    raw = d == 0 ? 3 : 4 * d + 1;
    return true;
  }
  size_t z = 0;
  while (2 + z < t.size() && t[2 + z] == '0') ++z;
  if (!parse_small(digit_run(t.substr(2 + z)), d)) return false;
  if (z + 1 > 63) return false;
  const uint64_t marker = uint64_t{1} << (z + 1);
  if (d == 0) {
    raw = marker;
    return true;
  }
  if (static_cast<uint64_t>(std::bit_width(d)) + z + 2 > 64) return false;
  raw = (d << (z + 2)) | marker;
  return true;
}

std::string small_raw_text(uint64_t raw) {
  TOVE_ASSERT(raw >= 2);
  if (raw & 1) {
    if (raw == 3) return "0";
    std::string magnitude = std::to_string(raw >> 2);
    return (raw & 2) ? magnitude : prefixed("0", magnitude);
  }
  const int first = std::countr_zero(raw);
  std::string text = fraction_prefix(static_cast<size_t>(first - 1));
  if (raw != uint64_t{1} << first) text += std::to_string(raw >> (first + 1));
  return text;
}

BitList raw_bits(uint64_t raw) {
  BitList bits;
  for (; raw != 0; raw >>= 8) bits.bytes.push_back(static_cast<char>(raw & 0xFF));
  return bits;
}

bool bits_raw(const BitList& bits, uint64_t& raw) {
  if (bits.bytes.size() > 8) return false;
  raw = 0;
  for (size_t i = bits.bytes.size(); i-- > 0;) raw = (raw << 8) | static_cast<unsigned char>(bits.bytes[i]);
  return true;
}

bool is_empty_list(const BitList& bits) { return bits.bytes.size() == 1 && bits.bytes[0] == 1; }

// ---- list forms -----------------------------------------------------------------------

// The first element of a list form: 1 for "K", 0 for "H", -1 for anything
// else.
int element_of(const Cell* list) {
  unsigned char h = head_char(pair_right(pair_left(list)));
  return h == 'K' ? 1 : h == 'H' ? 0 : -1;
}

// Puts the elements of `tail` after the n elements of `bits`.
void append_list(BitList& bits, uint64_t n, const BitList& tail) {
  bit_set(bits, n, false);
  std::string moved = shift_up(tail.bytes, n);
  if (moved.size() > bits.bytes.size()) bits.bytes.resize(moved.size(), '\0');
  for (size_t i = 0; i < moved.size(); ++i) {
    bits.bytes[i] =
        static_cast<char>(static_cast<unsigned char>(bits.bytes[i]) | static_cast<unsigned char>(moved[i]));
  }
}

// A data pair; an unanalysed pair whose leftmost atom is not a text literal
// cannot be one and is not analysed.
bool is_data_pair(Cell* c) {
  if (analysis_bits(c) == 0) {
    const Cell* leftmost = c;
    while (is_pair(leftmost)) leftmost = pair_left(leftmost);
    if (head_char(leftmost) != '[') return false;
  }
  return is_data(c);
}

// Reads coefficient 2^p of a binary fraction's N.
bool coefficient(const Natural& n, int64_t p) {
  return natural_bit(n, p >= 0 ? static_cast<uint64_t>(2 * p + 1) : static_cast<uint64_t>(-2 * p));
}

void set_coefficient(Natural& n, int64_t p) {
  natural_set_bit(n, p >= 0 ? static_cast<uint64_t>(2 * p + 1) : static_cast<uint64_t>(-2 * p), true);
}

std::string signed_decimal_for_strtod(std::string_view text) {
  const SignedDigits s = split_integer_sign(text);
  if (s.negative) return prefixed("-", digit_run(s.digits));
  return std::string(digit_run(s.digits));
}

}  // namespace

// ---- value kinds ----------------------------------------------------------------

bool is_list_form(const Cell* value) {
  if (is_atom(value)) return false;
  const Cell* left = pair_left(value);
  return is_pair(left) && is_atom(pair_left(left)) && head_char(pair_left(left)) == 'J';
}

ValueKind classify_kind(Cell* value) {
  switch (atom_kind(value)) {
    case AtomKind::real: return ValueKind::real;
    case AtomKind::bytes: return ValueKind::bytes;
    case AtomKind::text: return ValueKind::data;
    case AtomKind::number:
      return is_fraction_text(atom_chars(value)) ? ValueKind::fraction : ValueKind::integer;
    case AtomKind::pair: break;
    default: return ValueKind::other;
  }
  // A list form never has a text literal at its leftmost position, so it
  // is never a data pair.
  if (is_list_form(value)) {
    switch (element_of(value)) {
      case 1: return ValueKind::integer;
      case 0: return ValueKind::fraction;
      default: return ValueKind::other;
    }
  }
  return is_data_pair(value) ? ValueKind::data : ValueKind::other;
}

bool is_integer(const Cell* value) {
  if (is_atom(value)) {
    const char* text = atom_chars(value);
    if (text[0] == 'K') return true;
    return atom_kind(value) == AtomKind::number && !is_fraction_text(text);
  }
  return is_list_form(value) && element_of(value) == 1;
}

bool is_bit_list(const Cell* value) {
  if (is_atom(value)) {
    unsigned char h = head_char(value);
    return h == 'K' || is_digit(h);
  }
  return is_list_form(value) && element_of(value) >= 0;
}

bool is_fraction(const Cell* value) {
  if (is_atom(value)) return is_fraction_text(atom_chars(value));
  return is_list_form(value) && element_of(value) == 0;
}

bool is_well_formed_bit_list(const Cell* value) {
  const Cell* c = value;
  while (is_list_form(c)) {
    if (element_of(c) < 0) return false;
    c = pair_right(c);
  }
  if (is_pair(c)) return false;
  unsigned char h = head_char(c);
  return h == 'K' || is_digit(h);
}

// ---- bit lists and naturals ---------------------------------------------------------

BitList empty_bit_list() { return BitList{std::string(1, '\x01')}; }

bool bit_get(const BitList& bits, uint64_t i) { return (byte_at(bits.bytes, i / 8) >> (i % 8)) & 1; }

void bit_set(BitList& bits, uint64_t i, bool value) {
  const uint64_t index = i / 8;
  if (index >= bits.bytes.size()) {
    if (!value) return;
    while (bits.bytes.size() <= index) bits.bytes.append(8, '\0');
  }
  unsigned char mask = static_cast<unsigned char>(1u << (i % 8));
  unsigned char byte = static_cast<unsigned char>(bits.bytes[index]);
  bits.bytes[index] = static_cast<char>(value ? (byte | mask) : (byte & ~mask));
}

uint64_t bit_list_size(const BitList& bits) {
  size_t top = bits.bytes.size();
  while (top > 0 && bits.bytes[top - 1] == '\0') --top;
  TOVE_ASSERT(top > 0);
  unsigned char byte = static_cast<unsigned char>(bits.bytes[top - 1]);
  return 8 * (top - 1) + static_cast<uint64_t>(std::bit_width(byte)) - 1;
}

void bit_list_trim(BitList& bits) { trim_bytes(bits.bytes); }

bool bit_list_valid(const BitList& bits) { return !bits.bytes.empty() && bits.bytes.back() != '\0'; }

void bit_list_push(BitList& bits, bool element) {
  uint64_t n = bit_list_size(bits);
  bit_set(bits, n, element);
  bit_set(bits, n + 1, true);
}

bool natural_bit(const Natural& n, uint64_t i) { return (byte_at(n.bytes, i / 8) >> (i % 8)) & 1; }

void natural_set_bit(Natural& n, uint64_t i, bool value) {
  const uint64_t index = i / 8;
  if (index >= n.bytes.size()) {
    if (!value) return;
    n.bytes.resize(index + 1, '\0');
  }
  unsigned char mask = static_cast<unsigned char>(1u << (i % 8));
  unsigned char byte = static_cast<unsigned char>(n.bytes[index]);
  n.bytes[index] = static_cast<char>(value ? (byte | mask) : (byte & ~mask));
}

bool natural_is_zero(const Natural& n) { return n.bytes.find_first_not_of('\0') == std::string::npos; }

uint64_t natural_bit_width(const Natural& n) {
  size_t top = n.bytes.size();
  while (top > 0 && n.bytes[top - 1] == '\0') --top;
  if (top == 0) return 0;
  unsigned char byte = static_cast<unsigned char>(n.bytes[top - 1]);
  return 8 * (top - 1) + static_cast<uint64_t>(std::bit_width(byte));
}

void natural_trim(Natural& n) { trim_bytes(n.bytes); }

Natural fraction_natural(const BitList& fraction) { return Natural{shift_down(fraction.bytes, 1)}; }

BitList fraction_bits(const Natural& n) {
  TOVE_ASSERT(!natural_is_zero(n));
  return BitList{shift_up(n.bytes, 1)};
}

// ---- conversions between the cell forms ------------------------------------------------

BitList text_to_bits(std::string_view text) {
  TOVE_ASSERT(!text.empty());
  if (!is_digit(byte_at(text, 0))) return empty_bit_list();
  uint64_t raw;
  if (small_raw(text, raw)) return raw_bits(raw);
  if (text.size() >= 2 && is_fraction_text(text.data())) {
    size_t z = 0;
    while (2 + z < text.size() && text[2 + z] == '0') ++z;
    BitList bits{shift_up(decimal_to_binary(digit_run(text.substr(2 + z))), z + 2)};
    bit_set(bits, z + 1, true);
    bit_list_trim(bits);
    return bits;
  }
  const bool negative = text[0] == '0';
  std::string magnitude = decimal_to_binary(digit_run(negative ? text.substr(1) : text));
  if (magnitude.empty()) return raw_bits(3);
  BitList bits{shift_up(magnitude, 2)};
  bits.bytes[0] = static_cast<char>(static_cast<unsigned char>(bits.bytes[0]) | (negative ? 1 : 3));
  return bits;
}

std::string bits_to_text(BitList bits) {
  bit_list_trim(bits);
  TOVE_ASSERT(bit_list_valid(bits) && !is_empty_list(bits));
  uint64_t raw;
  if (bits_raw(bits, raw)) return small_raw_text(raw);
  const unsigned char low = static_cast<unsigned char>(bits.bytes[0]);
  if (low & 1) {
    std::string magnitude = binary_to_decimal(shift_down(bits.bytes, 2));
    return (low & 2) ? magnitude : prefixed("0", magnitude);
  }
  uint64_t first = 0;
  for (size_t i = 0; i < bits.bytes.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(bits.bytes[i]);
    if (i == 0) byte &= 0xFE;
    if (byte != 0) {
      first = 8 * i + static_cast<uint64_t>(std::countr_zero(byte));
      break;
    }
  }
  std::string text = fraction_prefix(first - 1);
  if (first != bit_list_size(bits)) text += binary_to_decimal(shift_down(bits.bytes, first + 1));
  return text;
}

CellRef bits_to_value(const BitList& bits) {
  BitList trimmed = bits;
  bit_list_trim(trimmed);
  if (is_empty_list(trimmed)) return make_atom("K");
  return make_atom(bits_to_text(std::move(trimmed)));
}

CellRef bits_to_list_form(const BitList& bits) {
  CellRef j = make_atom("J");
  CellRef k = make_atom("K");
  CellRef h = make_atom("H");
  CellRef list = k.share();
  for (uint64_t i = bit_list_size(bits); i-- > 0;) {
    CellRef element = bit_get(bits, i) ? k.share() : h.share();
    list = make_pair(make_pair(j.share(), std::move(element)), std::move(list));
  }
  return list;
}

BitList value_to_bits(const Cell* value) {
  if (is_atom(value)) {
    if (!is_digit(head_char(value))) return empty_bit_list();
    return text_to_bits(atom_text(value));
  }
  BitList bits = empty_bit_list();
  uint64_t n = 0;
  const Cell* c = value;
  while (is_list_form(c)) {
    int element = element_of(c);
    if (element < 0) break;
    bit_set(bits, n, element == 1);
    bit_set(bits, n + 1, true);
    ++n;
    c = pair_right(c);
  }
  if (is_atom(c) && is_digit(head_char(c))) append_list(bits, n, text_to_bits(atom_text(c)));
  bit_list_trim(bits);
  return bits;
}

std::string number_text(const Cell* value) {
  if (is_atom(value)) {
    std::string_view text = atom_text(value);
    if (!text.empty() && digit_run(text).size() == text.size()) return std::string(text);
  }
  BitList bits = value_to_bits(value);
  if (is_empty_list(bits)) return "K";
  return bits_to_text(std::move(bits));
}

uint64_t bit_list_length(const Cell* value) {
  uint64_t n = 0;
  const Cell* c = value;
  while (is_list_form(c) && element_of(c) >= 0) {
    ++n;
    c = pair_right(c);
  }
  if (is_atom(c) && is_digit(head_char(c))) {
    std::string_view text = atom_text(c);
    uint64_t raw;
    if (small_raw(text, raw)) return n + static_cast<uint64_t>(std::bit_width(raw)) - 1;
    return n + bit_list_size(text_to_bits(text));
  }
  return n;
}

CellRef list_first(const Cell* decimal) {
  return make_atom(is_fraction_text(atom_chars(decimal)) ? "H" : "K");
}

CellRef list_rest(const Cell* decimal) {
  std::string_view text = atom_text(decimal);
  uint64_t raw;
  if (small_raw(text, raw)) {
    raw >>= 1;
    return raw <= 1 ? make_atom("K") : make_atom(small_raw_text(raw));
  }
  BitList bits = text.empty() ? empty_bit_list() : text_to_bits(text);
  bits.bytes = shift_down(bits.bytes, 1);
  if (bits.bytes.empty()) return make_atom("K");
  return bits_to_value(bits);
}

// ---- integers ----------------------------------------------------------------------------

bool is_non_negative(const Cell* integer) {
  if (is_atom(integer)) {
    const char* text = atom_chars(integer);
    return text[0] != '0' || text[1] == '\0';
  }
  BitList bits = value_to_bits(integer);
  if (is_empty_list(bits)) return true;
  if (!bit_get(bits, 0)) return false;  // a binary fraction's text starts "00"
  return bit_list_size(bits) < 2 || bit_get(bits, 1);
}

CellRef integer_abs(Cell* integer) {
  if (is_atom(integer)) {
    const SignedDigits s = split_integer_sign(atom_text(integer));
    return s.negative ? make_atom(s.digits) : CellRef::retained(integer);
  }
  BitList bits = value_to_bits(integer);
  // Zero, the list [1], has no sign element to set.
  if (bit_get(bits, 0) && bit_list_size(bits) >= 2) bit_set(bits, 1, true);
  return bits_to_value(bits);
}

CellRef integer_negate(Cell* integer) {
  if (is_atom(integer)) {
    std::string_view text = atom_text(integer);
    if (head_char(integer) == 'K' || text == "0") return CellRef::retained(integer);
    return make_atom(negated_integer_text(text));
  }
  if (is_list_form(integer) && element_of(integer) == 1) return CellRef::retained(pair_right(integer));
  return make_pair(make_pair(make_atom("J"), make_atom("H")), CellRef::retained(integer));
}

bool is_odd(const Cell* integer) {
  if (is_atom(integer)) {
    std::string_view text = atom_text(integer);
    if (text.empty() || !is_digit(byte_at(text, 0)) || text == "0") return false;
    std::string_view magnitude = digit_run(split_integer_sign(text).digits);
    return !magnitude.empty() && ((magnitude.back() - '0') & 1);
  }
  BitList bits = value_to_bits(integer);
  uint64_t n = bit_list_size(bits);
  if (n == 2) return true;
  if (n < 2) return false;
  return bit_get(bits, 2);
}

CellRef integer_from_int64(int64_t value) { return small_integer_atom(value); }

CellRef integer_from_uint64(uint64_t value) { return make_atom(std::to_string(value)); }

int64_t integer_to_int64(const Cell* integer) {
  if (is_atom(integer)) {
    std::string_view text = atom_text(integer);
    if (text.empty() || !is_digit(byte_at(text, 0))) return 0;  // "K", the empty list
    const SignedDigits s = split_integer_sign(text);
    const bool negative = s.negative;
    uint64_t magnitude = 0;  // wraps: only the low 64 bits are kept
    for (char d : digit_run(s.digits)) {
      magnitude = magnitude * 10 + static_cast<unsigned>(d - '0');
    }
    return static_cast<int64_t>(negative ? uint64_t{0} - magnitude : magnitude);
  }
  BitList bits = value_to_bits(integer);
  if (is_empty_list(bits)) return 0;
  const bool negative = bit_list_size(bits) >= 2 && !bit_get(bits, 1);
  uint64_t magnitude = 0;
  for (uint64_t i = 0; i < 64; ++i) {
    if (bit_get(bits, i + 2)) magnitude |= uint64_t{1} << i;
  }
  return static_cast<int64_t>(negative ? uint64_t{0} - magnitude : magnitude);
}

// ---- reals and binary fractions ------------------------------------------------------------

std::string real_to_text(const Cell* real) { return format_real(real_value(real)); }

double integer_to_double(const Cell* integer) {
  std::string text = number_text(integer);
  if (!is_digit(byte_at(text, 0))) return 0.0;  // "K"
  return std::strtod(signed_decimal_for_strtod(text).c_str(), nullptr);
}

CellRef integer_to_real(const Cell* integer) { return make_real(integer_to_double(integer)); }

double fraction_to_double(const Cell* fraction) {
  BitList bits = value_to_bits(fraction);
  TOVE_ASSERT(!is_empty_list(bits) && !bit_get(bits, 0));
  Natural n = fraction_natural(bits);
  natural_trim(n);
  if (natural_bit_width(n) <= 1) return 0.0;
  const bool negative = !natural_bit(n, 0);

  // The exponent of the highest coefficient: the highest odd bit 2a+1, or
  // failing that the lowest even bit 2k (k >= 1).
  int64_t e = 0;
  bool found = false;
  for (size_t i = n.bytes.size(); i-- > 0 && !found;) {
    unsigned char odd = static_cast<unsigned char>(n.bytes[i]) & 0xAA;
    if (odd != 0) {
      int64_t p = static_cast<int64_t>(8 * i) + std::bit_width(odd) - 1;
      e = (p - 1) / 2;
      found = true;
    }
  }
  for (size_t i = 0; i < n.bytes.size() && !found; ++i) {
    unsigned char even = static_cast<unsigned char>(n.bytes[i]) & (i == 0 ? 0x54 : 0x55);
    if (even != 0) {
      int64_t p = static_cast<int64_t>(8 * i) + std::countr_zero(even);
      e = -(p / 2);
      found = true;
    }
  }
  TOVE_ASSERT(found);
  if (e >= 1024 || e < -1074) return std::bit_cast<double>(kFractionNaN);

  uint64_t exponent_field = 0;
  uint64_t mantissa = 0;
  if (e >= -1022) {
    exponent_field = static_cast<uint64_t>(e + 1023);
    for (int bit = 0; bit < 52; ++bit) {
      if (coefficient(n, e - 52 + bit)) mantissa |= uint64_t{1} << bit;
    }
  } else {
    for (int64_t k = e; k >= -1074; --k) {
      if (coefficient(n, k)) mantissa |= uint64_t{1} << (k + 1074);
    }
  }
  uint64_t pattern = (negative ? uint64_t{1} << 63 : 0) | (exponent_field << 52) | mantissa;
  return std::bit_cast<double>(pattern);
}

CellRef integer_to_fraction(const Cell* integer) {
  BitList bits = value_to_bits(integer);
  const uint64_t n = bit_list_size(bits);
  if (n <= 1) return make_atom("00");
  // Element 1 (the sign) becomes bit 0 of N; element i + 1 (the magnitude
  // bits, then the sentinel) becomes element 2i, the coefficient of 2^(i-1).
  BitList fraction;
  fraction.bytes.assign(static_cast<size_t>((2 * n) / 8 + 1), '\0');
  bit_set(fraction, 1, bit_get(bits, 1));
  for (uint64_t i = 1; i < n; ++i) bit_set(fraction, 2 * i, bit_get(bits, i + 1));
  return bits_to_value(fraction);
}

CellRef double_to_fraction(double value) {
  if (value == 0.0 || !std::isfinite(value)) return make_atom("00");
  const uint64_t pattern = std::bit_cast<uint64_t>(value);
  const int64_t biased = static_cast<int64_t>((pattern >> 52) & 0x7FF);
  const uint64_t mantissa = pattern & ((uint64_t{1} << 52) - 1);
  Natural n;
  natural_set_bit(n, 0, (pattern >> 63) == 0);
  if (biased != 0) {
    set_coefficient(n, biased - 1023);
    for (int bit = 0; bit < 52; ++bit) {
      if ((mantissa >> bit) & 1) set_coefficient(n, biased - 1023 - 52 + bit);
    }
  } else {
    for (int bit = 0; bit < 52; ++bit) {
      if ((mantissa >> bit) & 1) set_coefficient(n, bit - 1074);
    }
  }
  return bits_to_value(fraction_bits(n));
}

CellRef real_to_fraction(const Cell* real) { return double_to_fraction(real_value(real)); }

}  // namespace tove
