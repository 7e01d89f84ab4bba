// The arithmetic primitives plus, dash, mult, over, cent, powa and wave, and
// the two exact engines beneath them: integers (machine words, else the big
// engine) and binary fractions (sign, binary magnitude and scale).
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cells/analysis.h"
#include "cells/interrupt.h"
#include "numbers/args.h"
#include "numbers/family.h"
#include "numbers/numbers.h"
#include "numbers/trees.h"

namespace tove {

namespace {

// Results that would need more bits than this are refused with "Z": no
// machine holds them, and asking for the memory would end the process.
constexpr uint64_t kMaxResultBits = uint64_t{1} << 33;

// ---- binary magnitudes ---------------------------------------------------------------
//
// Little-endian 64-bit words, no high zero word once trimmed.

using Words = std::vector<uint64_t>;

// From this many words on, products go through the big engine's
// subquadratic multiplication.
constexpr size_t kSchoolbookWords = 48;

void trim(Words& w) {
  while (!w.empty() && w.back() == 0) w.pop_back();
}

Words words_from_bytes(std::string_view bytes) {
  Words w((bytes.size() + 7) / 8, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    w[i / 8] |= uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * (i % 8));
  }
  trim(w);
  return w;
}

std::string bytes_from_words(const Words& w) {
  std::string bytes(w.size() * 8, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(w[i / 8] >> (8 * (i % 8)));
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

uint64_t bit_width(const Words& w) {
  if (w.empty()) return 0;
  return 64 * (w.size() - 1) + static_cast<uint64_t>(std::bit_width(w.back()));
}

uint64_t trailing_zeros(const Words& w) {
  for (size_t i = 0; i < w.size(); ++i) {
    if (w[i] != 0) return 64 * i + static_cast<uint64_t>(std::countr_zero(w[i]));
  }
  return 0;
}

Words shift_left(const Words& w, uint64_t s) {
  if (w.empty()) return {};
  const size_t words = s / 64;
  const unsigned bits = s % 64;
  Words out(w.size() + words + 1, 0);
  for (size_t i = 0; i < w.size(); ++i) {
    out[i + words] |= w[i] << bits;
    if (bits != 0) out[i + words + 1] = w[i] >> (64 - bits);
  }
  trim(out);
  return out;
}

Words shift_right(const Words& w, uint64_t s) {
  const size_t words = s / 64;
  const unsigned bits = s % 64;
  if (words >= w.size()) return {};
  Words out(w.size() - words, 0);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = w[i + words] >> bits;
    if (bits != 0 && i + words + 1 < w.size()) out[i] |= w[i + words + 1] << (64 - bits);
  }
  trim(out);
  return out;
}

// w mod 2^n.
Words low_bits(const Words& w, uint64_t n) {
  const size_t words = (n + 63) / 64;
  Words out(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(std::min(words, w.size())));
  if (n % 64 != 0 && out.size() == words) out.back() &= (uint64_t{1} << (n % 64)) - 1;
  trim(out);
  return out;
}

int compare_words(const Words& a, const Words& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

Words add_words(const Words& a, const Words& b) {
  const Words& big = a.size() >= b.size() ? a : b;
  const Words& small = a.size() >= b.size() ? b : a;
  Words out(big.size() + 1, 0);
  unsigned char carry = 0;
  for (size_t i = 0; i < big.size(); ++i) {
    unsigned long long sum;
    const bool first = __builtin_uaddll_overflow(big[i], i < small.size() ? small[i] : 0, &sum);
    const bool second = __builtin_uaddll_overflow(sum, carry, &sum);
    carry = first || second;
    out[i] = sum;
  }
  out.back() = carry;
  trim(out);
  return out;
}

// a - b for a >= b.
Words subtract_words(const Words& a, const Words& b) {
  Words out(a.size(), 0);
  unsigned char borrow = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned long long diff;
    const bool first = __builtin_usubll_overflow(a[i], i < b.size() ? b[i] : 0, &diff);
    const bool second = __builtin_usubll_overflow(diff, borrow, &diff);
    borrow = first || second;
    out[i] = diff;
  }
  TOVE_ASSERT(borrow == 0);
  trim(out);
  return out;
}

BigInt big_from_words(const Words& w) { return BigInt::from_binary_bytes(bytes_from_words(w)); }
Words words_from_big(const BigInt& v) { return words_from_bytes(v.to_binary_bytes()); }

Words multiply_words(const Words& a, const Words& b) {
  if (a.empty() || b.empty()) return {};
  if (std::min(a.size(), b.size()) >= kSchoolbookWords) {
    return words_from_big(multiply(big_from_words(a), big_from_words(b)));
  }
  Words out(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned __int128 carry = 0;
    for (size_t j = 0; j < b.size(); ++j) {
      unsigned __int128 t = static_cast<unsigned __int128>(a[i]) * b[j] + out[i + j] + carry;
      out[i + j] = static_cast<uint64_t>(t);
      carry = t >> 64;
    }
    out[i + b.size()] = static_cast<uint64_t>(carry);
  }
  trim(out);
  return out;
}

// a mod b, b not zero.
Words remainder_words(const Words& a, const Words& b) {
  TOVE_ASSERT(!b.empty());
  if (compare_words(a, b) < 0) return a;
  if (a.size() == 1) return Words{a[0] % b[0]};
  return words_from_big(mod_euclid(big_from_words(a), big_from_words(b)));
}

// w to the power e (e >= 1) by squaring.
Words power_words(const Words& w, uint64_t e) {
  Words result = w;
  for (int bit = std::bit_width(e) - 2; bit >= 0; --bit) {
    result = multiply_words(result, result);
    if ((e >> bit) & 1) result = multiply_words(result, w);
  }
  return result;
}

uint64_t reverse64(uint64_t x) {
  x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
  x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
  x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
  return __builtin_bswap64(x);
}

// Bit i of w goes to bit width-1-i, for the bits below width.
Words reverse_bits(const Words& w, uint64_t width) {
  const size_t words = (width + 63) / 64;
  Words out(words, 0);
  for (size_t i = 0; i < words; ++i) out[words - 1 - i] = i < w.size() ? reverse64(w[i]) : 0;
  // Reversed over 64 * words bits; the bits of interest are the top `width`.
  return shift_right(out, 64 * words - width);
}

// Bit 2i of x goes to bit i.
uint32_t even_bits(uint64_t x) {
  x &= 0x5555555555555555ull;
  x = (x | (x >> 1)) & 0x3333333333333333ull;
  x = (x | (x >> 2)) & 0x0F0F0F0F0F0F0F0Full;
  x = (x | (x >> 4)) & 0x00FF00FF00FF00FFull;
  x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
  x = (x | (x >> 16)) & 0x00000000FFFFFFFFull;
  return static_cast<uint32_t>(x);
}

// Bit i of x goes to bit 2i.
uint64_t spread_bits(uint32_t v) {
  uint64_t x = v;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  x = (x | (x << 8)) & 0x00FF00FF00FF00FFull;
  x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0Full;
  x = (x | (x << 2)) & 0x3333333333333333ull;
  x = (x | (x << 1)) & 0x5555555555555555ull;
  return x;
}

uint32_t half_word(const Words& w, size_t j) {
  if (j / 2 >= w.size()) return 0;
  return static_cast<uint32_t>(w[j / 2] >> (32 * (j % 2)));
}

// ---- binary fractions ---------------------------------------------------------------------

bool is_zero(const BinaryFraction& v) { return v.magnitude.empty(); }

void normalise(BinaryFraction& v) {
  trim(v.magnitude);
  if (v.magnitude.empty()) {
    v.negative = false;
    v.scale = 0;
    return;
  }
  const uint64_t shift = std::min(trailing_zeros(v.magnitude), v.scale);
  if (shift != 0) {
    v.magnitude = shift_right(v.magnitude, shift);
    v.scale -= shift;
  }
}

// The magnitudes of a and b over their common scale.
struct Aligned {
  Words a;
  Words b;
  uint64_t scale;
};

Aligned align(const BinaryFraction& a, const BinaryFraction& b) {
  const uint64_t scale = std::max(a.scale, b.scale);
  return {shift_left(a.magnitude, scale - a.scale), shift_left(b.magnitude, scale - b.scale), scale};
}

BinaryFraction fraction_sum(const BinaryFraction& a, const BinaryFraction& b) {
  Aligned m = align(a, b);
  BinaryFraction r;
  r.scale = m.scale;
  if (a.negative == b.negative) {
    r.magnitude = add_words(m.a, m.b);
    r.negative = a.negative;
  } else if (compare_words(m.a, m.b) >= 0) {
    r.magnitude = subtract_words(m.a, m.b);
    r.negative = a.negative;
  } else {
    r.magnitude = subtract_words(m.b, m.a);
    r.negative = b.negative;
  }
  normalise(r);
  return r;
}

BinaryFraction fraction_negated(BinaryFraction v) {
  if (!is_zero(v)) v.negative = !v.negative;
  return v;
}

BinaryFraction fraction_product(const BinaryFraction& a, const BinaryFraction& b) {
  BinaryFraction r;
  if (is_zero(a) || is_zero(b)) return r;
  r.magnitude = multiply_words(a.magnitude, b.magnitude);
  r.scale = a.scale + b.scale;
  r.negative = a.negative != b.negative;
  normalise(r);
  return r;
}

// |a| reduced by whole multiples of |b|; equal signs keep it, different
// signs give |b| less it. Never negative. b must not be zero.
BinaryFraction fraction_remainder(const BinaryFraction& a, const BinaryFraction& b) {
  Aligned m = align(a, b);
  BinaryFraction r;
  r.scale = m.scale;
  r.magnitude = remainder_words(m.a, m.b);
  if (a.negative != b.negative && !r.magnitude.empty()) r.magnitude = subtract_words(m.b, r.magnitude);
  normalise(r);
  return r;
}

// ---- integers -------------------------------------------------------------------------------

enum class Op { plus, dash, mult, over, cent, powa };

// The integer rules in a machine word: false when the result does not fit
// one, when the rule has no word path (a power), or when the divisor is
// zero, which the general rules refuse. A remainder is that of the floor
// division, without its sign.
bool word_result(Op op, int64_t x, int64_t y, int64_t* r) {
  int64_t q;
  switch (op) {
    case Op::plus: return !__builtin_add_overflow(x, y, r);
    case Op::dash: return !__builtin_sub_overflow(x, y, r);
    case Op::mult: return !__builtin_mul_overflow(x, y, r);
    case Op::over: return y != 0 && small_divmod_floor(x, y, r, &q);
    case Op::cent:
      if (y == 0 || !small_divmod_floor(x, y, &q, r)) return false;
      if (*r < 0) *r = -*r;
      return true;
    case Op::powa: break;
  }
  return false;
}

// The rule's answer to two short integers when a word holds it.
CellRef word_answer(Op op, int64_t x, int64_t y) {
  int64_t r;
  if (!word_result(op, x, y, &r)) return {};
  return small_integer_atom(r);
}

// The row's word rule: what its handler answers two short integers; and
// its value rule, the word of that answer.
template <Op op>
CellRef words_of(int64_t x, int64_t y) {
  return word_answer(op, x, y);
}
template <Op op>
bool values_of(int64_t x, int64_t y, int64_t* r) {
  return word_result(op, x, y, r);
}

CellRef integer_sum(const IntegerOperand& a, const IntegerOperand& b, bool subtract) {
  int64_t r;
  if (a.is_small && b.is_small && word_result(subtract ? Op::dash : Op::plus, a.small, b.small, &r)) {
    return small_integer_atom(r);
  }
  BigInt x = integer_as_big(a), y = integer_as_big(b);
  return make_integer(subtract ? tove::subtract(x, y) : add(x, y));
}

CellRef integer_product(const IntegerOperand& a, const IntegerOperand& b) {
  int64_t r;
  if (a.is_small && b.is_small && word_result(Op::mult, a.small, b.small, &r)) return small_integer_atom(r);
  return make_integer(multiply(integer_as_big(a), integer_as_big(b)));
}

CellRef integer_quotient(const IntegerOperand& a, const IntegerOperand& b) {
  if (integer_sign(b) == 0) return make_refusal();
  int64_t q;
  if (a.is_small && b.is_small && word_result(Op::over, a.small, b.small, &q)) return small_integer_atom(q);
  return make_integer(divmod_floor(integer_as_big(a), integer_as_big(b)).quotient);
}

// The remainder of the floor division, without its sign: |a| mod |b| when
// the signs agree, |b| less that otherwise.
CellRef integer_remainder(const IntegerOperand& a, const IntegerOperand& b) {
  if (integer_sign(b) == 0) return make_refusal();
  int64_t r;
  if (a.is_small && b.is_small && word_result(Op::cent, a.small, b.small, &r)) return small_integer_atom(r);
  return make_integer(absolute(divmod_floor(integer_as_big(a), integer_as_big(b)).remainder));
}

// The exponent when it is non-negative and fits a machine word.
bool exponent_word(const IntegerOperand& e, uint64_t* out) {
  if (e.is_small) {
    if (e.small < 0) return false;
    *out = static_cast<uint64_t>(e.small);
    return true;
  }
  return !e.big.is_negative() && e.big.magnitude_to_uint64(out);
}

bool exponent_is_odd(const IntegerOperand& e) { return e.is_small ? (e.small & 1) != 0 : e.big.is_odd(); }

CellRef integer_power(const IntegerOperand& a, const IntegerOperand& b) {
  const int exponent_sign = integer_sign(b);
  if (exponent_sign < 0) return small_integer_atom(0);
  if (exponent_sign == 0) return small_integer_atom(1);
  const bool negative = integer_sign(a) < 0 && exponent_is_odd(b);
  BigInt base = absolute(integer_as_big(a));
  if (base.is_zero()) return small_integer_atom(0);
  uint64_t e;
  if (base.limb_count() == 1 && base.limbs()[0] == 1) return small_integer_atom(negative ? -1 : 1);
  if (!exponent_word(b, &e)) return make_refusal();
  // log2 of the base, over-estimated from its top limb and limb count.
  const double top = static_cast<double>(base.limbs()[base.limb_count() - 1]) + 1.0;
  const double base_bits = std::log2(top) + 63.1166 * static_cast<double>(base.limb_count() - 1);
  if (base_bits * static_cast<double>(e) > static_cast<double>(kMaxResultBits)) return make_refusal();
  uint64_t small_base;
  int64_t r = 1;
  if (base.magnitude_to_uint64(&small_base) && small_base <= uint64_t{INT64_MAX}) {
    bool fits = true;
    for (uint64_t i = 0; i < e && fits; ++i)
      fits = !__builtin_mul_overflow(r, static_cast<int64_t>(small_base), &r);
    if (fits) return small_integer_atom(negative ? -r : r);
  }
  BigInt result = power(base, e);
  return make_integer(negative ? negate(std::move(result)) : std::move(result));
}

// ---- fractions as cells ----------------------------------------------------------------------

// a ^ b for a binary fraction a and an integer b.
CellRef fraction_power(Cell* base, Cell* exponent) {
  if (is_pair(exponent) && !is_well_formed_bit_list(exponent)) return make_refusal();
  if (atom_is(base, "004")) {
    if (bit_list_length(exponent) >= 61) return make_refusal();
    const int64_t e = integer_to_int64(exponent);
    const uint64_t magnitude = e < 0 ? uint64_t{0} - static_cast<uint64_t>(e) : static_cast<uint64_t>(e);
    if (2 * magnitude > kMaxResultBits) return make_refusal();
    BinaryFraction r;
    if (e >= 0) {
      r.magnitude = shift_left(Words{1}, magnitude);
    } else {
      r.magnitude = Words{1};
      r.scale = magnitude;
    }
    return make_fraction(r);
  }
  IntegerOperand b = read_integer(exponent);
  const int exponent_sign = integer_sign(b);
  if (exponent_sign < 0) return make_refusal();
  if (exponent_sign == 0) return make_atom("001");
  BinaryFraction a = read_fraction(base);
  if (is_zero(a)) return make_fraction(a);
  BinaryFraction r;
  r.negative = a.negative && exponent_is_odd(b);
  if (a.scale == 0 && a.magnitude.size() == 1 && a.magnitude[0] == 1) {
    r.magnitude = Words{1};
    return make_fraction(r);
  }
  uint64_t e;
  if (!exponent_word(b, &e)) return make_refusal();
  const uint64_t bits = std::max(bit_width(a.magnitude), a.scale);
  if (bits > kMaxResultBits / 2 / e) return make_refusal();
  r.magnitude = power_words(a.magnitude, e);
  r.scale = a.scale * e;
  normalise(r);
  return make_fraction(r);
}

// ---- operands of mixed kinds ------------------------------------------------------------------

double real_of(Cell* value, ValueKind kind) {
  switch (kind) {
    case ValueKind::real: return real_value(value);
    case ValueKind::integer: return integer_to_double(value);
    case ValueKind::fraction: return fraction_to_double(value);
    default: break;
  }
  TOVE_ASSERT(false);
  return 0.0;
}

BinaryFraction fraction_of(Cell* value, ValueKind kind) {
  return kind == ValueKind::integer ? read_integer_as_fraction(value) : read_fraction(value);
}

bool is_number_kind(ValueKind k) {
  return k == ValueKind::real || k == ValueKind::integer || k == ValueKind::fraction;
}
bool is_text_kind(ValueKind k) { return k == ValueKind::bytes || k == ValueKind::data; }

// The text a number contributes when joined to a text.
std::string number_join_text(Cell* value, ValueKind kind) {
  if (kind == ValueKind::real) return format_real(real_value(value));
  std::string storage;
  std::string_view text = canonical_number_text(value, storage);
  return std::string(text);
}

std::string kind_text(Cell* value, ValueKind kind) {
  if (kind == ValueKind::bytes) return std::string(byte_string_contents(value));
  if (kind == ValueKind::data) return data_text(value);
  return number_join_text(value, kind);
}

CellRef make_text_of_kind(std::string_view text, ValueKind kind) {
  return kind == ValueKind::bytes ? byte_string_atom(text) : text_literal_atom(text);
}

// text less |n| characters: from the front for n > 0, from the back for
// n <= 0. A count past the length, however large, is refused.
CellRef drop_text(std::string_view text, Cell* count, ValueKind kind) {
  IntegerOperand n = read_integer(count);
  if (!n.is_small || n.small == INT64_MIN) return make_refusal();
  const uint64_t h = static_cast<uint64_t>(n.small < 0 ? -n.small : n.small);
  if (h > text.size()) return make_refusal();
  return make_text_of_kind(n.small > 0 ? text.substr(h) : text.substr(0, text.size() - h), kind);
}

// text repeated n times, built by doubling from the top bit of n down.
CellRef repeat_text(std::string_view text, Cell* count, ValueKind kind) {
  IntegerOperand n = read_integer(count);
  const int sign = integer_sign(n);
  if (sign < 0) return make_refusal();
  if (sign == 0 || text.empty()) return make_text_of_kind({}, kind);
  if (!n.is_small) return make_refusal();
  const uint64_t times = static_cast<uint64_t>(n.small);
  if (times > kMaxResultBits / 8 / text.size()) return make_refusal();
  std::string out;
  out.reserve(text.size() * times);
  out.assign(text);
  for (int bit = std::bit_width(times) - 2; bit >= 0; --bit) {
    out.append(out);
    if ((times >> bit) & 1) out.append(text);
  }
  return make_text_of_kind(out, kind);
}

// ---- dispatch ------------------------------------------------------------------------------------

CellRef real_result(Op op, double x, double y) {
  switch (op) {
    case Op::plus: return make_real(x + y);
    case Op::dash: return make_real(x - y);
    case Op::mult: return make_real(x * y);
    case Op::over: return make_real(x / y);
    case Op::cent: return make_real(std::fmod(x, y));
    case Op::powa: return make_real(std::pow(x, y));
  }
  return make_refusal();
}

// The concatenation of two texts between `open` and `close` (either may be
// empty). A text doubled over and over reaches gigabytes, whose copy alone
// takes a noticeable time, so the copy goes in blocks with a look at the
// interrupt request between them, and each text is copied once.
std::string joined(std::string_view open, std::string_view a, std::string_view b, std::string_view close) {
  constexpr size_t kBlock = size_t{1} << 20;
  std::string out;
  out.reserve(open.size() + a.size() + b.size() + close.size());
  out += open;
  for (std::string_view part : {a, b}) {
    for (size_t at = 0; at < part.size(); at += kBlock) {
      stop_if_interrupted();
      out.append(part.substr(at, kBlock));
    }
  }
  out += close;
  return out;
}

// The text between the brackets of a text value, viewed in its atom when
// it is one, else written into `storage`.
std::string_view inner_text(const Cell* node, std::string& storage) {
  if (is_atom(node)) {
    const std::string_view text = atom_text(node);
    return text.substr(1, text.size() - 2);
  }
  storage = data_text(node);
  return storage;
}

CellRef same_kind(Op op, Cell* a, Cell* b, ValueKind kind) {
  switch (kind) {
    case ValueKind::integer: {
      IntegerOperand x = read_integer(a), y = read_integer(b);
      switch (op) {
        case Op::plus: return integer_sum(x, y, false);
        case Op::dash: return integer_sum(x, y, true);
        case Op::mult: return integer_product(x, y);
        case Op::over: return integer_quotient(x, y);
        case Op::cent: return integer_remainder(x, y);
        case Op::powa: return integer_power(x, y);
      }
      break;
    }
    case ValueKind::fraction: {
      if (op == Op::over || op == Op::powa) return make_refusal();
      BinaryFraction x = read_fraction(a), y = read_fraction(b);
      switch (op) {
        case Op::plus: return make_fraction(fraction_sum(x, y));
        case Op::dash: return make_fraction(fraction_sum(x, fraction_negated(std::move(y))));
        case Op::mult: return make_fraction(fraction_product(x, y));
        case Op::cent: return is_zero(y) ? make_refusal() : make_fraction(fraction_remainder(x, y));
        default: break;
      }
      break;
    }
    case ValueKind::real: return real_result(op, real_value(a), real_value(b));
    case ValueKind::bytes: return make_refusal();  // plus joins them in join_onto_bytes
    case ValueKind::data:
      if (op == Op::plus) {
        std::string storage_a, storage_b;
        const std::string literal = joined("[", inner_text(a, storage_a), inner_text(b, storage_b), "]");
        stop_if_interrupted();
        return make_atom(literal);
      }
      if (op == Op::dash) return make_pair(a, b);
      return make_refusal();
    case ValueKind::other: break;
  }
  return make_refusal();
}

CellRef mixed_kinds(Op op, Cell* a, ValueKind ka, Cell* b, ValueKind kb) {
  const bool any_text = is_text_kind(ka) || is_text_kind(kb);
  const bool any_real = ka == ValueKind::real || kb == ValueKind::real;
  switch (op) {
    case Op::plus:
      if (any_text) {
        // A text and a number join as texts of the text's kind; a byte
        // string and a data node do not join.
        const ValueKind text_kind = is_text_kind(ka) ? ka : kb;
        if (!is_number_kind(is_text_kind(ka) ? kb : ka)) return make_refusal();
        return make_text_of_kind(kind_text(a, ka) + kind_text(b, kb), text_kind);
      }
      break;
    case Op::dash:
      if (kb == ValueKind::integer && is_text_kind(ka)) {
        if (ka == ValueKind::bytes) return drop_text(byte_string_contents(a), b, ka);
        return drop_text(data_text(a), b, ka);
      }
      if (any_text) return make_refusal();
      break;
    case Op::mult:
      if ((ka == ValueKind::integer && is_text_kind(kb)) || (kb == ValueKind::integer && is_text_kind(ka))) {
        Cell* text = ka == ValueKind::integer ? b : a;
        Cell* count = ka == ValueKind::integer ? a : b;
        const ValueKind kind = ka == ValueKind::integer ? kb : ka;
        if (kind == ValueKind::bytes) return repeat_text(byte_string_contents(text), count, kind);
        return repeat_text(data_text(text), count, kind);
      }
      if (any_text) return make_refusal();
      break;
    case Op::over:
      if (any_text) return make_refusal();
      return make_real(real_of(a, ka) / real_of(b, kb));
    case Op::cent:
      if (any_text) return make_refusal();
      break;
    case Op::powa:
      if (ka == ValueKind::fraction && kb == ValueKind::integer) return fraction_power(a, b);
      if (any_text) return make_refusal();
      return make_real(std::pow(real_of(a, ka), real_of(b, kb)));
  }
  if (any_real) return real_result(op, real_of(a, ka), real_of(b, kb));
  // One integer and one binary fraction: exact, as fractions.
  BinaryFraction x = fraction_of(a, ka), y = fraction_of(b, kb);
  switch (op) {
    case Op::plus: return make_fraction(fraction_sum(x, y));
    case Op::dash: return make_fraction(fraction_sum(x, fraction_negated(std::move(y))));
    case Op::mult: return make_fraction(fraction_product(x, y));
    case Op::cent: return is_zero(y) ? make_refusal() : make_fraction(fraction_remainder(x, y));
    default: break;
  }
  return make_refusal();
}

// A byte string plus a byte string or a number: the right text joined onto
// the left string. A loop that builds a string by appends holds each
// partial string only through the next append, which then extends it where
// it stands instead of copying it.
CellRef join_onto_bytes(const CellRef& redex, Cell* a, Cell* b, ValueKind kb) {
  const bool alone = held_only_by_redex(redex.get(), 2, 0);
  if (kb == ValueKind::bytes) return byte_string_appended(a, byte_string_contents(b), alone);
  return byte_string_appended(a, number_join_text(b, kb), alone);
}

CellRef binary_primitive(Op op, CellRef redex) {
  auto [a, b] = redex_arguments<2>(redex.get());
  // Counters, indices and remainders: two short integers are read straight
  // from their digits, without classifying them first, and worked in a word.
  int64_t x, y;
  if (read_short_integer(a, &x) && read_short_integer(b, &y)) {
    if (CellRef answer = word_answer(op, x, y)) return answer;
  }
  const ValueKind ka = classify_kind(a);
  const ValueKind kb = classify_kind(b);
  if (ka == ValueKind::other || kb == ValueKind::other) return make_refusal();
  if (op == Op::plus && ka == ValueKind::bytes && (kb == ValueKind::bytes || is_number_kind(kb))) {
    return join_onto_bytes(redex, a, b, kb);
  }
  if (ka == kb) return same_kind(op, a, b, ka);
  return mixed_kinds(op, a, ka, b, kb);
}

}  // namespace

// ---- shared operands ---------------------------------------------------------------------------

namespace {

// The last few big integers the primitives made, with their limbs, so that
// a result that comes straight back as an operand (an accumulating loop) is
// not read from its digits again. Each entry holds a count on its atom, so
// the atom can be neither freed nor reused while it is remembered, and the
// atoms of integers are never changed in place.
struct RecentInteger {
  CellRef atom;
  BigInt value;
};

// Below this many limbs reading the digits costs next to nothing; above the
// second bound an entry would hold on to too much memory.
constexpr size_t kRecentMinLimbs = 32;
constexpr size_t kRecentMaxLimbs = size_t{1} << 20;

struct RecentIntegers {
  std::array<RecentInteger, 2> entries;
  size_t next = 0;
};

RecentIntegers& recent_integers() {
  static auto* recent = new RecentIntegers;
  return *recent;
}

const BigInt* recent_value(const Cell* atom) {
  for (const RecentInteger& entry : recent_integers().entries) {
    if (entry.atom.get() == atom) return &entry.value;
  }
  return nullptr;
}

void remember(const CellRef& atom, BigInt value) {
  RecentIntegers& recent = recent_integers();
  recent.entries[recent.next] = RecentInteger{atom.share(), std::move(value)};
  recent.next = (recent.next + 1) % recent.entries.size();
}

}  // namespace

void forget_recent_integers() {
  for (RecentInteger& entry : recent_integers().entries) entry = RecentInteger{};
}

IntegerOperand read_integer(const Cell* integer) {
  IntegerOperand operand;
  if (const BigInt* known = recent_value(integer)) {
    operand.is_small = false;
    operand.big = *known;
    return operand;
  }
  std::string storage;
  std::string_view text =
      is_atom(integer) ? atom_text(integer) : std::string_view(storage = number_text(integer));
  if (text.size() <= 20 && small_from_tove_text(text, &operand.small)) return operand;
  operand.is_small = false;
  if (BigInt::parse_tove_text(text, &operand.big)) return operand;
  // An atom with bytes after its digits: its value is that of the digits.
  storage = number_text(integer);
  operand.is_small = true;
  if (small_from_tove_text(storage, &operand.small)) return operand;
  operand.is_small = false;
  operand.big = BigInt::from_tove_text(storage);
  return operand;
}

BigInt integer_as_big(const IntegerOperand& operand) {
  return operand.is_small ? BigInt::from_int64(operand.small) : operand.big;
}

int integer_sign(const IntegerOperand& operand) {
  if (operand.is_small) return operand.small < 0 ? -1 : operand.small > 0 ? 1 : 0;
  return operand.big.sign();
}

CellRef make_integer(int64_t value) { return small_integer_atom(value); }

CellRef make_integer(BigInt value) {
  int64_t small;
  if (value.to_int64(&small)) return small_integer_atom(small);
  CellRef atom = make_atom(value.to_tove_text());
  if (value.limb_count() >= kRecentMinLimbs && value.limb_count() <= kRecentMaxLimbs)
    remember(atom, std::move(value));
  return atom;
}

BinaryFraction read_fraction(const Cell* fraction) {
  // The raw value R = 2N interleaves the fraction: R bit 2k+1 is bit 2k of
  // N (the sign for k = 0, else the coefficient of 2^-k) and R bit 2a+2 is
  // the coefficient of 2^a.
  const Words raw = words_from_bytes(value_to_bits(fraction).bytes);
  Words low;   // bit k: sign (k = 0) or coefficient of 2^-k
  Words high;  // bit a + 1: coefficient of 2^a
  low.assign((raw.size() + 1) / 2, 0);
  high.assign((raw.size() + 1) / 2, 0);
  for (size_t j = 0; j < raw.size(); ++j) {
    low[j / 2] |= uint64_t{even_bits(raw[j] >> 1)} << (32 * (j % 2));
    high[j / 2] |= uint64_t{even_bits(raw[j])} << (32 * (j % 2));
  }
  trim(low);
  BinaryFraction v;
  v.negative = low.empty() || (low[0] & 1) == 0;
  const uint64_t width = bit_width(low);
  v.scale = width > 1 ? width - 1 : 0;
  // The coefficients of 2^-1 .. 2^-scale, most significant first, are the
  // low bits of the magnitude.
  Words fraction_part = low_bits(reverse_bits(low, v.scale + 1), v.scale);
  v.magnitude = add_words(shift_left(shift_right(high, 1), v.scale), fraction_part);
  normalise(v);
  return v;
}

BinaryFraction read_integer_as_fraction(const Cell* integer) {
  IntegerOperand operand = read_integer(integer);
  BinaryFraction v;
  if (operand.is_small) {
    v.negative = operand.small < 0;
    const uint64_t m = v.negative ? uint64_t{0} - static_cast<uint64_t>(operand.small)
                                  : static_cast<uint64_t>(operand.small);
    if (m != 0) v.magnitude.push_back(m);
  } else {
    v.negative = operand.big.is_negative();
    v.magnitude = words_from_bytes(operand.big.to_binary_bytes());
  }
  normalise(v);
  return v;
}

CellRef make_fraction(const BinaryFraction& value) {
  TOVE_ASSERT(value.magnitude.empty() || value.magnitude.back() != 0);
  TOVE_ASSERT(value.scale == 0 || (value.magnitude[0] & 1) != 0);
  const uint64_t scale = value.scale;
  // low: bit 0 the sign, bit k the coefficient of 2^-k; high: bit a + 1 the
  // coefficient of 2^a.
  Words signed_part = low_bits(value.magnitude, scale);
  if (!value.negative) signed_part = add_words(signed_part, shift_left(Words{1}, scale));
  Words low = reverse_bits(signed_part, scale + 1);
  Words high = shift_left(shift_right(value.magnitude, scale), 1);
  const size_t halves = 2 * std::max(low.size(), high.size());
  Words raw(halves, 0);
  for (size_t j = 0; j < halves; ++j)
    raw[j] = (spread_bits(half_word(low, j)) << 1) | spread_bits(half_word(high, j));
  trim(raw);
  return bits_to_value(BitList{bytes_from_words(raw)});
}

int compare_fractions(const BinaryFraction& a, const BinaryFraction& b) {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  Aligned m = align(a, b);
  const int order = compare_words(m.a, m.b);
  return a.negative ? -order : order;
}

// ---- handlers ------------------------------------------------------------------------------------

static CellRef plus_handler(CellRef redex) { return binary_primitive(Op::plus, std::move(redex)); }
static CellRef dash_handler(CellRef redex) { return binary_primitive(Op::dash, std::move(redex)); }
static CellRef mult_handler(CellRef redex) { return binary_primitive(Op::mult, std::move(redex)); }
static CellRef over_handler(CellRef redex) { return binary_primitive(Op::over, std::move(redex)); }
static CellRef cent_handler(CellRef redex) { return binary_primitive(Op::cent, std::move(redex)); }
static CellRef powa_handler(CellRef redex) { return binary_primitive(Op::powa, std::move(redex)); }

static CellRef wave_handler(CellRef redex) {
  auto [a] = redex_arguments<1>(redex.get());
  switch (classify_kind(a)) {
    case ValueKind::real: return make_real(-real_value(a));
    case ValueKind::integer:
      if (is_atom(a)) {
        std::string storage;
        return make_atom(negated_integer_text(canonical_number_text(a, storage)));
      }
      return integer_negate(a);
    case ValueKind::fraction: return make_fraction(fraction_negated(read_fraction(a)));
    case ValueKind::bytes: {
      std::string_view contents = byte_string_contents(a);
      if (contents.empty()) return make_refusal();
      return byte_string_atom(contents.substr(1));
    }
    case ValueKind::data:
      if (tree_is_empty(a)) return make_refusal();
      return tree_last(a);
    case ValueKind::other: break;
  }
  return make_refusal();
}

// ---- members --------------------------------------------------------------------------

std::span<const BuiltinSpec> arithmetic_members() {
  static constexpr BuiltinSpec kMembers[] = {
      {"plus", 2, plus_handler, Reach::inside, words_of<Op::plus>, nullptr, values_of<Op::plus>},
      {"dash", 2, dash_handler, Reach::inside, words_of<Op::dash>, nullptr, values_of<Op::dash>},
      {"mult", 2, mult_handler, Reach::inside, words_of<Op::mult>, nullptr, values_of<Op::mult>},
      {"over", 2, over_handler, Reach::inside, words_of<Op::over>, nullptr, values_of<Op::over>},
      {"cent", 2, cent_handler, Reach::inside, words_of<Op::cent>, nullptr, values_of<Op::cent>},
      // A power has no word rule: its result outgrows a word at once.
      {"powa", 2, powa_handler},
      {"wave", 1, wave_handler},
  };
  return kMembers;
}

}  // namespace tove
