// BigInt: the exact integer engine beneath the arithmetic primitives.
//
// A BigInt is a sign and a magnitude held in base 10^19 limbs (uint64_t,
// least significant limb first). The decimal base makes the conversions to
// and from the decimal atoms that integers are stored as linear: 19 digits
// make one limb. Products of two limbs fit in 128 bits.
//
// Invariants of every BigInt: no high zero limb, and zero (no limbs) is never
// negative. Up to two limbs live inside the record, so every value of an
// int64 and every sum or product of two of them needs no heap allocation.
//
// Operations:
//   - text: decimal digits ("-" allowed) and the tove integer text, where a
//     negative value is written with a leading "0" ("05" is -5, "0" is zero);
//   - compare, add, subtract, multiply and square (schoolbook, Karatsuba,
//     then Toom-3, switching at measured sizes), power by squaring; a power
//     needs about exponent times the base's limb count in limbs, which the
//     caller bounds before asking for it;
//   - division on limbs (long division with normalised trial quotients,
//     recursive division for large operands) in three roundings:
//       divmod_trunc  quotient toward zero, remainder has the dividend's sign;
//       divmod_floor  quotient toward minus infinity, remainder has the
//                     divisor's sign: this is the `over` quotient;
//       mod_euclid    the remainder in [0, |b|): this is the `cent` result
//                     (equal to the floor remainder when b > 0);
//   - binary magnitudes as little-endian byte strings (least significant byte
//     first), for the bit-list forms: subquadratic divide and conquer both
//     ways with cached powers.
//
// The small_* functions compute on int64 directly and report overflow, for
// callers that want to skip BigInt entirely on small operands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cells/encoding.h"

namespace tove {

inline constexpr uint64_t kLimbBase = 10000000000000000000ull;  // 10^19
inline constexpr int kLimbDigits = 19;

struct BigInt {
  BigInt() noexcept : inline_{0, 0} {}
  BigInt(const BigInt& other);
  BigInt(BigInt&& other) noexcept;
  BigInt& operator=(const BigInt& other);
  BigInt& operator=(BigInt&& other) noexcept;
  ~BigInt();

  static BigInt from_int64(int64_t value);
  static BigInt from_uint64(uint64_t value);

  // Decimal digits with an optional leading "-"; leading zeros are allowed.
  // Anything else is refused: parse_decimal answers false, from_decimal
  // ends the process through the fatal assertion.
  static bool parse_decimal(std::string_view text, BigInt* out);
  static BigInt from_decimal(std::string_view text);
  // "-" and the digits, "0" for zero.
  std::string to_decimal() const;

  // The tove integer text: "0"; a digit 1-9 and further digits; or "0", a
  // digit 1-9 and further digits for a negative value. Texts beginning "00"
  // (binary fractions), empty texts and texts with a non-digit are refused.
  static bool parse_tove_text(std::string_view text, BigInt* out);
  static BigInt from_tove_text(std::string_view text);
  std::string to_tove_text() const;

  // The magnitude as a little-endian byte string without high zero bytes
  // (zero gives the empty string); the sign is not part of it.
  static BigInt from_binary_bytes(std::string_view bytes);
  std::string to_binary_bytes() const;

  bool is_zero() const { return size_ == 0; }
  bool is_negative() const { return negative_; }
  bool is_odd() const { return size_ != 0 && (limbs()[0] & 1) != 0; }
  int sign() const { return size_ == 0 ? 0 : (negative_ ? -1 : 1); }
  size_t limb_count() const { return size_; }
  const uint64_t* limbs() const { return capacity_ > kInlineLimbs ? heap_ : inline_; }

  // The value as an int64 / the magnitude as a uint64, when it fits.
  bool to_int64(int64_t* out) const;
  bool magnitude_to_uint64(uint64_t* out) const;
  // The magnitude modulo 2^64.
  uint64_t magnitude_low64() const;

 private:
  friend struct BigIntAccess;
  static constexpr size_t kInlineLimbs = 2;

  union {
    uint64_t inline_[kInlineLimbs];
    uint64_t* heap_;
  };
  size_t size_ = 0;
  size_t capacity_ = kInlineLimbs;
  bool negative_ = false;
};

// -1, 0 or 1.
int compare(const BigInt& a, const BigInt& b);
int compare_magnitude(const BigInt& a, const BigInt& b);
bool operator==(const BigInt& a, const BigInt& b);

BigInt negate(BigInt value);
BigInt absolute(BigInt value);
BigInt add(const BigInt& a, const BigInt& b);
BigInt subtract(const BigInt& a, const BigInt& b);
BigInt multiply(const BigInt& a, const BigInt& b);
BigInt square(const BigInt& a);
// base^exponent by repeated squaring; 0^0 is 1.
BigInt power(const BigInt& base, uint64_t exponent);

struct BigDivMod {
  BigInt quotient;
  BigInt remainder;
};
// The divisor must not be zero (fatal assertion otherwise).
BigDivMod divmod_trunc(const BigInt& a, const BigInt& b);
BigDivMod divmod_floor(const BigInt& a, const BigInt& b);
BigInt mod_euclid(const BigInt& a, const BigInt& b);

// int64 arithmetic; false when the exact result does not fit (or b is zero).
bool small_add(int64_t a, int64_t b, int64_t* out);
bool small_sub(int64_t a, int64_t b, int64_t* out);
bool small_mul(int64_t a, int64_t b, int64_t* out);
bool small_divmod_floor(int64_t a, int64_t b, int64_t* quotient, int64_t* remainder);
bool small_mod_euclid(int64_t a, int64_t b, int64_t* out);

// Operand sizes, in limbs, from which the faster algorithms take over. The
// defaults come from measurement (bench/bigint_bench.cpp); setting them is
// for measurement and for tests that drive every path with small operands.
struct BigIntThresholds {
  size_t karatsuba_mul;  // both operands at least this long
  size_t karatsuba_sqr;
  size_t toom3_mul;  // both operands at least this long
  size_t toom3_sqr;
  size_t recursive_div;  // divisor at least this long
  size_t binary_split;   // conversions to and from binary, in limbs/words
};
BigIntThresholds bigint_thresholds();
void set_bigint_thresholds(const BigIntThresholds& thresholds);

}  // namespace tove
