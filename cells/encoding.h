// The value encodings in atom text, each written in this one place.
//
// Kinds by first byte (atom_kind, cells/cell.h):
//   "0".."9"  number: "0", "123", "0123" (minus 123), "00..." binary fractions
//   "["       text literal: "[" + elements + "]", newline "[p]", "[" "[q]",
//             "]" "[r]" where a byte string is written as a text
//   " "       real: " " + the 8 bytes of an IEEE double, little-endian
//   "("       byte string: "(" + base-64 length (no digits for 0) + ")" +
//             that many raw bytes, zero bytes included
//   ")"       black hole ")" alone; cycle marker and update head ")" + name
//   "]"       undefined-name marker "]" + name
//
// Every function here reads a borrowed cell or text and returns either a
// view into that text or a new owning reference; none keeps state. The
// readers are inline where the evaluator and the arithmetic call them on
// every step; the builders that allocate are out of line.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cells/cell.h"

namespace tove {

// ---- integers' text -------------------------------------------------------------------
//
// An integer's canonical text is "0", or its decimal magnitude with no
// leading zero, after a "0" when it is negative. No minus sign is ever
// written. Big magnitudes go through the number engine; these are the
// machine-word paths.

inline constexpr bool is_decimal_digit(unsigned char ch) { return ch >= '0' && ch <= '9'; }

// Eight bytes read as one little-endian word are eight decimal digits:
// every byte's high nibble is 3, and adding 6 carries out of no low nibble.
inline bool are_eight_digits(uint64_t w) {
  return (w & 0xF0F0F0F0F0F0F0F0ull) == 0x3030303030303030ull &&
         ((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) == 0x3030303030303030ull;
}
// Their value, the first byte the most significant digit: pairs of digits,
// then fours, then the eight, each step one multiply and one mask.
inline uint64_t eight_digits_value(uint64_t w) {
  w -= 0x3030303030303030ull;
  w = (w * 10 + (w >> 8)) & 0x00FF00FF00FF00FFull;
  w = (w * 100 + (w >> 16)) & 0x0000FFFF0000FFFFull;
  return (w * 10000 + (w >> 32)) & 0xFFFFFFFFull;
}

// The values of short integers: their texts have at most 18 digits.
inline constexpr int64_t kLargestShortInteger = 999'999'999'999'999'999;
inline bool is_short_integer_value(int64_t value) {
  return value >= -kLargestShortInteger && value <= kLargestShortInteger;
}

// The value of a short integer text in canonical form ("0", or at most 18
// digits with no leading zero, after a "0" for a negative value), read
// straight from its n digits; false for every other text, which the general
// reading handles.
inline bool short_integer_of_text(const char* text, size_t n, int64_t* out) {
  if (n == 0 || n > 19 || !is_decimal_digit(static_cast<unsigned char>(text[0]))) return false;
  size_t i = 0;
  if (text[0] == '0') {
    if (n == 1) {
      *out = 0;
      return true;
    }
    if (text[1] == '0') return false;  // a binary fraction
    i = 1;
  }
  if (n - i > 18) return false;
  int64_t value = 0;
  for (; n - i >= 8; i += 8) {
    uint64_t w;
    __builtin_memcpy(&w, text + i, sizeof w);
    if (!are_eight_digits(w)) return false;
    value = value * 100000000 + static_cast<int64_t>(eight_digits_value(w));
  }
  for (; i < n; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
    if (digit > 9) return false;
    value = value * 10 + digit;
  }
  *out = text[0] == '0' ? -value : value;
  return true;
}

// The same for a cell: a short integer atom's value, from the word beside
// its text when it keeps one (cells/cell.h). Forced inline: the engine
// reads operands so on its hottest paths.
[[gnu::always_inline]] inline bool read_short_integer(const Cell* c, int64_t* out) {
  if (!is_atom(c)) return false;
  const char* text = atom_chars(c);
  if (!is_decimal_digit(static_cast<unsigned char>(text[0]))) return false;
  const size_t n = payload(c);  // the recorded length of a digit atom
  if (keeps_number_word(n)) {
    const int64_t word = number_word(c);
    *out = word;
    return word != kNoNumberWord;
  }
  return short_integer_of_text(text, n, out);
}

// Every byte of the text is a decimal digit (true for the empty text).
bool all_decimal_digits(std::string_view text);
// A canonical integer text whose value fits a signed 64-bit integer; false
// for anything else (a fraction, a non-canonical or too large text).
bool small_from_tove_text(std::string_view text, int64_t* out);

namespace encoding_detail {
// The decimal digits of 0 to 99, two by two.
struct DigitPairs {
  char digits[200];
};
constexpr DigitPairs make_digit_pairs() {
  DigitPairs pairs{};
  for (size_t i = 0; i < 100; ++i) {
    pairs.digits[2 * i] = static_cast<char>('0' + i / 10);
    pairs.digits[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}
inline constexpr DigitPairs kDigitPairs = make_digit_pairs();
}  // namespace encoding_detail

// The canonical text of a machine integer, written backwards ending at
// `end`; returns where it starts. `end` must have 20 bytes of room before
// it. Counters and sums are written on every step of a loop: two digits at
// a time, inline.
inline constexpr size_t kLongestSmallIntegerText = 20;  // "0" and 19 digits
inline char* write_small_integer(int64_t value, char* end) {
  const char* pairs = encoding_detail::kDigitPairs.digits;
  char* at = end;
  uint64_t m = value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  while (m >= 100) {
    const size_t pair = static_cast<size_t>(m % 100) * 2;
    m /= 100;
    *--at = pairs[pair + 1];
    *--at = pairs[pair];
  }
  if (m >= 10) {
    *--at = pairs[m * 2 + 1];
    *--at = pairs[m * 2];
  } else {
    *--at = static_cast<char>('0' + m);
  }
  if (value < 0) *--at = '0';
  return at;
}
// The same text when it is at most kNumberWordTextLimit bytes long, as the
// word its bytes make in memory, zero past them, with *length their count;
// false for a longer text. The short atoms of sums and counters are made
// from it in registers, two digits at a time.
inline bool short_integer_text_word(int64_t value, uint64_t* text, size_t* length) {
  static_assert(std::endian::native == std::endian::little, "the first character is the low byte");
  const char* pairs = encoding_detail::kDigitPairs.digits;
  const bool negative = value < 0;
  const uint64_t m = negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  // A negative text spends a byte on its leading "0".
  if (m >= (negative ? uint64_t{1000000} : uint64_t{10000000})) return false;
  auto v = static_cast<uint32_t>(m);
  auto pair_of = [pairs](uint32_t p) {
    uint16_t two;
    __builtin_memcpy(&two, pairs + size_t{2} * p, sizeof two);
    return uint64_t{two};
  };
  // Each more significant pair goes before the digits written so far.
  uint64_t word = 0;
  size_t n = 0;
  while (v >= 100) {
    word = (word << 16) | pair_of(v % 100);
    v /= 100;
    n += 2;
  }
  if (v >= 10) {
    word = (word << 16) | pair_of(v);
    n += 2;
  } else {
    word = (word << 8) | ('0' + v);
    n += 1;
  }
  if (negative) {
    word = (word << 8) | '0';
    n += 1;
  }
  *text = word;
  *length = n;
  return true;
}
std::string small_to_tove_text(int64_t value);
std::string decimal_from_int64(int64_t value);  // the same text
// The number atom of a machine integer, analysed.
CellRef small_integer_atom(int64_t value);

// An integer text with its sign split off: the digits after the leading
// "0" of a negative text, or the whole text. "0" alone is not negative.
struct SignedDigits {
  bool negative;
  std::string_view digits;
};
inline SignedDigits split_integer_sign(std::string_view text) {
  if (text.size() > 1 && text[0] == '0') return {true, text.substr(1)};
  return {false, text};
}
// The canonical text of minus the integer text: "0" stays, a negative
// text loses its leading "0", any other gains one.
std::string negated_integer_text(std::string_view text);

// ---- binary fractions' text -----------------------------------------------------------

// A number atom's text starts "00" exactly when it is a binary fraction.
inline bool is_fraction_text(const char* text) { return text[0] == '0' && text[1] == '0'; }

// ---- reals -------------------------------------------------------------------------------

inline constexpr size_t kRealTextLength = 9;

// The 64-bit pattern of a real atom (it must be one), and the real of a
// pattern; the bytes are moved as they are, so no bit of a NaN is lost.
inline uint64_t real_pattern(const Cell* real) {
  TOVE_ASSERT(is_atom(real) && atom_kind(real) == AtomKind::real);
  const char* text = atom_chars(real);
  uint64_t pattern = 0;
  for (int i = 8; i >= 1; --i) pattern = (pattern << 8) | static_cast<unsigned char>(text[i]);
  return pattern;
}
// The same from a real atom's whole text.
uint64_t real_text_pattern(std::string_view text);
double real_value(const Cell* real);
CellRef real_from_pattern(uint64_t pattern);
CellRef make_real(double value);
// The C library's "%e" formatting of a double.
std::string format_real(double value);

// ---- byte strings ------------------------------------------------------------------------

// The length of the "(" + digits + ")" header at the start of a byte
// string's text; base-64 digits never include ")". The text's zero
// terminator stops a malformed header with a fatal assertion.
inline size_t byte_string_header_length(const char* text) {
  TOVE_ASSERT(text[0] == '(');
  size_t close = 1;
  while (text[close] != ')') {
    TOVE_ASSERT(text[close] != '\0');
    ++close;
  }
  return close + 1;
}
// The whole text length of a byte string atom from its header alone.
size_t byte_string_text_length(const char* text);
// The bytes of a byte string after its header, from its text or its atom.
std::string_view byte_string_bytes(std::string_view text);
std::string_view byte_string_contents(const Cell* bytes);
// A pointer to the first content byte, read in place.
inline const char* byte_string_start(const Cell* bytes) {
  const char* text = atom_chars(bytes);
  return text + byte_string_header_length(text);
}
std::string byte_string_text(std::string_view contents);
// The byte string atom of the contents, analysed.
CellRef byte_string_atom(std::string_view contents);
// The byte string of the contents of `bytes` followed by `more`. When
// `alone` (the caller holds the only reference to `bytes`, so nothing can
// see it change, and `more` lies elsewhere) the atom grows where it stands
// if its block has room, and is otherwise made again with room to double:
// a string built by n appends is then copied O(log n) times, not n. A
// shared atom is never changed; the result is then a new exact atom.
CellRef byte_string_appended(Cell* bytes, std::string_view more, bool alone);

// ---- text literals and their escapes --------------------------------------------------
//
// Newline, "[" and "]" shape a text literal and abbreviate nothing, so a
// text literal holds them as the escapes "[p]", "[q]" and "[r]".

// The escape of a byte, or the empty view when the byte stands for itself.
// Where a newline stays as it is, `newline` is false.
inline std::string_view escape_of(unsigned char byte, bool newline = true) {
  switch (byte) {
    case '\n': return newline ? std::string_view("[p]") : std::string_view();
    case '[': return "[q]";
    case ']': return "[r]";
    default: return {};
  }
}
// Appends the bytes with their escapes.
void append_escaped(std::string& out, std::string_view bytes, bool newline = true);
// The byte an escape "[p]", "[q]" or "[r]" stands for, or -1.
int escaped_byte(std::string_view escape);
// The bytes a text (without outer brackets) stands for: each escape is its
// byte; any other "[" or "]" makes the text no text of bytes (false).
bool unescape(std::string_view text, std::string& bytes);
// The text literal "[" + text + "]".
CellRef text_literal_atom(std::string_view text);
// The text literal of bytes, each escaped where it must be.
CellRef escaped_literal(std::string_view bytes, bool newline = true);
// The one-element text literal of a byte.
CellRef byte_literal(unsigned char byte, bool newline = true);

// ---- the markers ---------------------------------------------------------------------------
//
// A black hole ")" stands as the body of a constant while it is being
// computed; ")" + name heads the update form of that constant and is the
// cycle marker; "]" + name is the undefined-name marker. A marker ends the
// evaluation it appears in as its result.

inline bool is_marker(const Cell* c) {
  if (!is_atom(c)) return false;
  const AtomKind kind = atom_kind(c);
  return kind == AtomKind::update || kind == AtomKind::undefined;
}
// ")" + name atoms: the cycle marker and the update form's head.
inline bool is_update_marker(const Cell* c) { return is_atom(c) && atom_kind(c) == AtomKind::update; }
// The black hole: exactly ")".
inline bool is_black_hole(const Cell* c) {
  return is_atom(c) && atom_chars(c)[0] == ')' && atom_chars(c)[1] == '\0';
}
// The name a marker stands for.
inline std::string_view marker_name(const Cell* marker) {
  TOVE_ASSERT(is_marker(marker));
  return atom_text(marker).substr(1);
}
CellRef make_black_hole();
CellRef make_update_marker(std::string_view name);
CellRef make_undefined_marker(std::string_view name);
// A printed marker loses its name: the empty text, and every text that
// starts ")" or "]", prints "()".
inline bool prints_as_marker(std::string_view text) {
  return text.empty() || atom_kind_of_byte(static_cast<unsigned char>(text.front())) == AtomKind::update ||
         atom_kind_of_byte(static_cast<unsigned char>(text.front())) == AtomKind::undefined;
}

}  // namespace tove
