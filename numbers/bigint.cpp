// BigInt: the limb algorithms (generic over base 10^19 and base 2^64, the
// latter for the conversions to binary), the record, the text and binary
// conversions, and the signed operations.
#include "numbers/bigint.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <type_traits>
#include <vector>

#include "cells/encoding.h"
#include "cells/fatal.h"
#include "cells/interrupt.h"

namespace tove {

// ---- limb algorithms ------------------------------------------------------------
//
// Magnitudes are arrays of limbs, least significant first. Every algorithm
// is written once for a radix policy: Decimal (base 10^19, the BigInt
// limbs) or Binary (base 2^64, used only for the conversions to binary).
// Output arrays never overlap inputs unless a function says so.
namespace {
namespace limbs {

using u64 = uint64_t;
using u128 = unsigned __int128;

BigIntThresholds thresholds = {
    /*karatsuba_mul=*/48, /*karatsuba_sqr=*/64, /*toom3_mul=*/192, /*toom3_sqr=*/256,
    /*recursive_div=*/24, /*binary_split=*/24,
};

// Division of a two-word number by a fixed divisor through its reciprocal
// (two multiplications instead of a hardware division).
struct Reciprocal {
  u64 d;      // the divisor shifted so that its top bit is set
  u64 v;      // floor((2^128 - 1) / d) - 2^64
  int shift;  // the divisor is d >> shift
};

constexpr Reciprocal make_reciprocal(u64 divisor) {
  int shift = __builtin_clzll(divisor);
  u64 d = divisor << shift;
  u64 v = static_cast<u64>(~u128{0} / d - (u128{1} << 64));
  return {d, v, shift};
}

// (hi * 2^64 + lo) / r.d for hi < r.d; the remainder goes to *rem.
inline u64 div_normalised(u64 hi, u64 lo, const Reciprocal& r, u64* rem) {
  u128 q = static_cast<u128>(r.v) * hi;
  q += (static_cast<u128>(hi + 1) << 64) | lo;
  u64 q1 = static_cast<u64>(q >> 64);
  u64 q0 = static_cast<u64>(q);
  u64 rr = lo - q1 * r.d;
  u64 over = 0 - static_cast<u64>(rr > q0);  // taken about half the time: no branch
  q1 += over;
  rr += over & r.d;
  if (__builtin_expect(rr >= r.d, 0)) {
    ++q1;
    rr -= r.d;
  }
  *rem = rr;
  return q1;
}

// num / divisor for num < divisor * 2^64.
inline u64 div_wide(u128 num, const Reciprocal& r, u64* rem) {
  num <<= r.shift;
  u64 rr;
  u64 q = div_normalised(static_cast<u64>(num >> 64), static_cast<u64>(num), r, &rr);
  *rem = rr >> r.shift;
  return q;
}

constexpr u64 kBase = kLimbBase;
constexpr Reciprocal kBaseReciprocal = make_reciprocal(kBase);
static_assert(kBaseReciprocal.shift == 0, "10^19 is above 2^63");

// A 192-bit column accumulator for product scanning.
struct Acc {
  u64 lo = 0, mid = 0, hi = 0;
  void add(u128 p) {
    u128 t = static_cast<u128>(lo) + static_cast<u64>(p);
    lo = static_cast<u64>(t);
    t = (t >> 64) + mid + (p >> 64);
    mid = static_cast<u64>(t);
    hi += static_cast<u64>(t >> 64);
  }
  void add(const Acc& o) {
    u128 t = static_cast<u128>(lo) + o.lo;
    lo = static_cast<u64>(t);
    t = (t >> 64) + mid + o.mid;
    mid = static_cast<u64>(t);
    hi += o.hi + static_cast<u64>(t >> 64);
  }
  void double_it() {
    hi = (hi << 1) | (mid >> 63);
    mid = (mid << 1) | (lo >> 63);
    lo <<= 1;
  }
};

struct Decimal {
  static u64 add(u64 a, u64 b, u64& carry) {
    u64 t = a + carry;     // at most the base
    u64 room = kBase - t;  // a + carry + b reaches the base when b >= room
    u64 c = b >= room;
    carry = c;
    return c ? b - room : t + b;
  }
  static u64 sub(u64 a, u64 b, u64& borrow) {
    u64 t = b + borrow;
    u64 br = a < t;
    borrow = br;
    return a - t + (kBase & (0 - br));
  }
  // The low limb of the accumulator; the accumulator keeps the rest.
  static u64 split(Acc& acc) {
    u64 q2 = acc.hi / kBase;
    u64 r2 = acc.hi % kBase;
    u64 r1, r0;
    u64 q1 = div_normalised(r2, acc.mid, kBaseReciprocal, &r1);
    u64 q0 = div_normalised(r1, acc.lo, kBaseReciprocal, &r0);
    acc.lo = q0;
    acc.mid = q1;
    acc.hi = q2;
    return r0;
  }
  // r = a * m + carry_in over n limbs for m and carry_in below the base;
  // returns the carry out. Each product is split into high and low limb on
  // its own, so the only chain from limb to limb is a one-bit carry.
  static u64 mul_1(u64* r, const u64* a, size_t n, u64 m, u64 carry) {
    u64 high = carry;
    u64 c = 0;
    for (size_t i = 0; i < n; ++i) {
      u128 p = static_cast<u128>(a[i]) * m;
      u64 low;
      u64 next = div_normalised(static_cast<u64>(p >> 64), static_cast<u64>(p), kBaseReciprocal, &low);
      r[i] = add(low, high, c);
      high = next;
    }
    return high + c;
  }
};

struct Binary {
  static u64 add(u64 a, u64 b, u64& carry) {
    u128 s = static_cast<u128>(a) + b + carry;
    carry = static_cast<u64>(s >> 64);
    return static_cast<u64>(s);
  }
  static u64 sub(u64 a, u64 b, u64& borrow) {
    u128 d = static_cast<u128>(a) - b - borrow;
    borrow = static_cast<u64>(d >> 64) & 1;
    return static_cast<u64>(d);
  }
  static u64 split(Acc& acc) {
    u64 r = acc.lo;
    acc.lo = acc.mid;
    acc.mid = acc.hi;
    acc.hi = 0;
    return r;
  }
  static u64 mul_1(u64* r, const u64* a, size_t n, u64 m, u64 carry) {
    for (size_t i = 0; i < n; ++i) {
      u128 p = static_cast<u128>(a[i]) * m + carry;
      r[i] = static_cast<u64>(p);
      carry = static_cast<u64>(p >> 64);
    }
    return carry;
  }
};

size_t trimmed(const u64* a, size_t n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

// Both magnitudes without high zero limbs.
int compare(const u64* a, size_t an, const u64* b, size_t bn) {
  if (an != bn) return an < bn ? -1 : 1;
  for (size_t i = an; i > 0; --i)
    if (a[i - 1] != b[i - 1]) return a[i - 1] < b[i - 1] ? -1 : 1;
  return 0;
}

// Equal lengths, high zero limbs allowed.
int compare_n(const u64* a, const u64* b, size_t n) {
  for (size_t i = n; i > 0; --i)
    if (a[i - 1] != b[i - 1]) return a[i - 1] < b[i - 1] ? -1 : 1;
  return 0;
}

// r = a + b over n limbs (r may be a or b); returns the carry.
template <class R>
u64 add_n(u64* r, const u64* a, const u64* b, size_t n, u64 carry) {
  for (size_t i = 0; i < n; ++i) r[i] = R::add(a[i], b[i], carry);
  return carry;
}

template <class R>
u64 sub_n(u64* r, const u64* a, const u64* b, size_t n, u64 borrow) {
  for (size_t i = 0; i < n; ++i) r[i] = R::sub(a[i], b[i], borrow);
  return borrow;
}

// r = a + carry over n limbs (r may be a).
template <class R>
u64 add_1(u64* r, const u64* a, size_t n, u64 carry) {
  size_t i = 0;
  for (; i < n && carry != 0; ++i) r[i] = R::add(a[i], 0, carry);
  if (r != a) std::copy(a + i, a + n, r + i);
  return carry;
}

template <class R>
u64 sub_1(u64* r, const u64* a, size_t n, u64 borrow) {
  size_t i = 0;
  for (; i < n && borrow != 0; ++i) r[i] = R::sub(a[i], 0, borrow);
  if (r != a) std::copy(a + i, a + n, r + i);
  return borrow;
}

// r[0..an) = a + b for an >= bn; returns the carry (r may be a).
template <class R>
u64 add(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  u64 c = add_n<R>(r, a, b, bn, 0);
  return add_1<R>(r + bn, a + bn, an - bn, c);
}

template <class R>
u64 sub(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  u64 c = sub_n<R>(r, a, b, bn, 0);
  return sub_1<R>(r + bn, a + bn, an - bn, c);
}

// r[0..rn) += a[0..an), an <= rn; returns the carry out of r.
template <class R>
u64 add_into(u64* r, size_t rn, const u64* a, size_t an) {
  return add<R>(r, r, rn, a, an);
}

template <class R>
u64 sub_into(u64* r, size_t rn, const u64* a, size_t an) {
  return sub<R>(r, r, rn, a, an);
}

// The base cases are where every long product spends its time; each is
// short, so a look at the interrupt request per call stops a product of
// millions of limbs within milliseconds.
template <class R>
void mul_basecase(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  stop_if_interrupted();
  Acc acc;
  size_t last = an + bn - 1;
  for (size_t k = 0; k < last; ++k) {
    size_t i0 = k >= bn ? k - bn + 1 : 0;
    size_t i1 = std::min(k, an - 1);
    for (size_t i = i0; i <= i1; ++i) acc.add(static_cast<u128>(a[i]) * b[k - i]);
    r[k] = R::split(acc);
  }
  TOVE_ASSERT(acc.mid == 0 && acc.hi == 0);
  r[last] = acc.lo;
}

template <class R>
void sqr_basecase(u64* r, const u64* a, size_t n) {
  stop_if_interrupted();
  Acc acc;
  size_t last = 2 * n - 1;
  for (size_t k = 0; k < last; ++k) {
    size_t i0 = k >= n ? k - n + 1 : 0;
    Acc cross;
    for (size_t i = i0; i < k - i; ++i) cross.add(static_cast<u128>(a[i]) * a[k - i]);
    cross.double_it();
    if ((k & 1) == 0) cross.add(static_cast<u128>(a[k / 2]) * a[k / 2]);
    acc.add(cross);
    r[k] = R::split(acc);
  }
  TOVE_ASSERT(acc.mid == 0 && acc.hi == 0);
  r[last] = acc.lo;
}

template <class R>
void mul(u64* r, const u64* a, size_t an, const u64* b, size_t bn);
template <class R>
void sqr(u64* r, const u64* a, size_t n);

// Either order of operands.
template <class R>
void mul_any(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  if (an < bn) mul<R>(r, b, bn, a, an);
  else mul<R>(r, a, an, b, bn);
}

// a much longer than b: a in pieces of bn limbs, each a balanced product.
template <class R>
void mul_sliced(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  mul<R>(r, a, bn, b, bn);
  std::fill(r + 2 * bn, r + an + bn, 0);
  std::vector<u64> t(2 * bn);
  for (size_t off = bn; off < an; off += bn) {
    size_t len = std::min(bn, an - off);
    mul<R>(t.data(), b, bn, a + off, len);
    u64 c = add_into<R>(r + off, an + bn - off, t.data(), bn + len);
    TOVE_ASSERT(c == 0);
  }
}

// Karatsuba: with a = a1 B^h + a0 and b = b1 B^h + b0, the middle product is
// (a0 + a1)(b0 + b1) - a0 b0 - a1 b1. Needs ceil(an/2) < bn <= an.
template <class R>
void mul_karatsuba(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  size_t h = (an + 1) / 2;
  size_t rn = an + bn;
  mul<R>(r, a, h, b, h);
  mul_any<R>(r + 2 * h, a + h, an - h, b + h, bn - h);
  std::vector<u64> s(4 * h + 4);
  u64* sa = s.data();
  u64* sb = sa + h + 1;
  u64* t = sb + h + 1;
  sa[h] = add<R>(sa, a, h, a + h, an - h);
  sb[h] = add<R>(sb, b, h, b + h, bn - h);
  size_t san = h + (sa[h] != 0);
  size_t sbn = h + (sb[h] != 0);
  size_t tn = san + sbn;
  mul_any<R>(t, sa, san, sb, sbn);
  u64 borrow = sub_into<R>(t, tn, r, 2 * h);
  borrow += sub_into<R>(t, tn, r + 2 * h, rn - 2 * h);
  TOVE_ASSERT(borrow == 0);
  u64 carry = add_into<R>(r + h, rn - h, t, trimmed(t, tn));
  TOVE_ASSERT(carry == 0);
}

template <class R>
void sqr_karatsuba(u64* r, const u64* a, size_t n) {
  size_t h = (n + 1) / 2;
  sqr<R>(r, a, h);
  sqr<R>(r + 2 * h, a + h, n - h);
  std::vector<u64> s(3 * h + 3);
  u64* sa = s.data();
  u64* t = sa + h + 1;
  sa[h] = add<R>(sa, a, h, a + h, n - h);
  size_t san = h + (sa[h] != 0);
  size_t tn = 2 * san;
  sqr<R>(t, sa, san);
  u64 borrow = sub_into<R>(t, tn, r, 2 * h);
  borrow += sub_into<R>(t, tn, r + 2 * h, 2 * n - 2 * h);
  TOVE_ASSERT(borrow == 0);
  u64 carry = add_into<R>(r + h, 2 * n - h, t, trimmed(t, tn));
  TOVE_ASSERT(carry == 0);
}

// ---- Toom-3 (base 10^19) ----
//
// With x = base^k and a = a2 x^2 + a1 x + a0 (likewise b), the product's
// five coefficients follow from the products of the values at 0, 1, -1,
// -2 and infinity. Values at -1 and -2 may be negative, so this layer works
// on signed magnitudes in vectors.

struct Signed {
  std::vector<u64> m;  // no high zero limbs
  bool negative = false;
};

Signed signed_of(const u64* p, size_t n) {
  n = trimmed(p, n);
  return Signed{std::vector<u64>(p, p + n), false};
}

Signed signed_add(const Signed& x, const Signed& y, bool negate_y) {
  bool y_negative = y.negative != negate_y && !y.m.empty();
  const Signed* big = &x;
  const Signed* small = &y;
  bool big_negative = x.negative;
  bool small_negative = y_negative;
  if (compare(x.m.data(), x.m.size(), y.m.data(), y.m.size()) < 0) {
    std::swap(big, small);
    std::swap(big_negative, small_negative);
  }
  Signed out;
  out.m.resize(big->m.size() + 1);
  if (big_negative == small_negative) {
    out.m.back() = add<Decimal>(out.m.data(), big->m.data(), big->m.size(), small->m.data(), small->m.size());
  } else {
    sub<Decimal>(out.m.data(), big->m.data(), big->m.size(), small->m.data(), small->m.size());
    out.m.back() = 0;
  }
  out.m.resize(trimmed(out.m.data(), out.m.size()));
  out.negative = big_negative && !out.m.empty();
  return out;
}

Signed signed_mul(const Signed& x, const Signed& y) {
  Signed out;
  if (x.m.empty() || y.m.empty()) return out;
  out.m.resize(x.m.size() + y.m.size());
  if (&x == &y) sqr<Decimal>(out.m.data(), x.m.data(), x.m.size());
  else mul_any<Decimal>(out.m.data(), x.m.data(), x.m.size(), y.m.data(), y.m.size());
  out.m.resize(trimmed(out.m.data(), out.m.size()));
  out.negative = x.negative != y.negative;
  return out;
}

Signed signed_mul_small(const Signed& x, u64 c) {
  Signed out{std::vector<u64>(x.m.size() + 1), x.negative};
  out.m.back() = Decimal::mul_1(out.m.data(), x.m.data(), x.m.size(), c, 0);
  out.m.resize(trimmed(out.m.data(), out.m.size()));
  return out;
}

u64 divmod_1(u64* q, const u64* a, size_t n, u64 d);

Signed signed_div_exact(const Signed& x, u64 d) {
  Signed out{std::vector<u64>(x.m.size()), x.negative};
  u64 rest = divmod_1(out.m.data(), x.m.data(), x.m.size(), d);
  TOVE_ASSERT(rest == 0);
  out.m.resize(trimmed(out.m.data(), out.m.size()));
  return out;
}

// The values at 0, 1, -1, -2 and infinity of a2 x^2 + a1 x + a0.
struct Toom3Points {
  Signed at0, at1, at_minus1, at_minus2, at_inf;
};

Toom3Points toom3_evaluate(const u64* a, size_t n, size_t k) {
  Signed a0 = signed_of(a, k);
  Signed a1 = signed_of(a + k, k);
  Signed a2 = signed_of(a + 2 * k, n - 2 * k);
  Toom3Points p;
  Signed even = signed_add(a0, a2, false);
  p.at1 = signed_add(even, a1, false);
  p.at_minus1 = signed_add(even, a1, true);
  p.at_minus2 = signed_add(signed_mul_small(signed_add(p.at_minus1, a2, false), 2), a0, true);
  p.at0 = std::move(a0);
  p.at_inf = std::move(a2);
  return p;
}

// r[0..rn) = the product with the five point products given; interpolation
// in Bodrato's sequence (two exact divisions, by 3 and by 2).
void toom3_interpolate(u64* r, size_t rn, size_t k, Signed r0, Signed r1, Signed rm1, Signed rm2,
                       Signed rinf) {
  Signed c3 = signed_div_exact(signed_add(rm2, r1, true), 3);
  Signed c1 = signed_div_exact(signed_add(r1, rm1, true), 2);
  Signed c2 = signed_add(rm1, r0, true);
  c3 = signed_add(signed_div_exact(signed_add(c2, c3, true), 2), signed_mul_small(rinf, 2), false);
  c2 = signed_add(signed_add(c2, c1, false), rinf, true);
  c1 = signed_add(c1, c3, true);
  std::fill(r, r + rn, 0);
  const Signed* coefficients[5] = {&r0, &c1, &c2, &c3, &rinf};
  for (size_t i = 0; i < 5; ++i) {
    const Signed& c = *coefficients[i];
    TOVE_ASSERT(!c.negative);
    if (c.m.empty()) continue;
    u64 carry = add_into<Decimal>(r + i * k, rn - i * k, c.m.data(), c.m.size());
    TOVE_ASSERT(carry == 0);
  }
}

// Needs 2 * ceil(an/3) < bn <= an.
void mul_toom3(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  size_t k = (an + 2) / 3;
  Toom3Points pa = toom3_evaluate(a, an, k);
  Toom3Points pb = toom3_evaluate(b, bn, k);
  toom3_interpolate(r, an + bn, k, signed_mul(pa.at0, pb.at0), signed_mul(pa.at1, pb.at1),
                    signed_mul(pa.at_minus1, pb.at_minus1), signed_mul(pa.at_minus2, pb.at_minus2),
                    signed_mul(pa.at_inf, pb.at_inf));
}

void sqr_toom3(u64* r, const u64* a, size_t n) {
  size_t k = (n + 2) / 3;
  Toom3Points p = toom3_evaluate(a, n, k);
  toom3_interpolate(r, 2 * n, k, signed_mul(p.at0, p.at0), signed_mul(p.at1, p.at1),
                    signed_mul(p.at_minus1, p.at_minus1), signed_mul(p.at_minus2, p.at_minus2),
                    signed_mul(p.at_inf, p.at_inf));
}

// r[0..an+bn) = a * b for an >= bn >= 1.
template <class R>
void mul(u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  if (bn == 1) {
    r[an] = R::mul_1(r, a, an, b[0], 0);
  } else if (bn < thresholds.karatsuba_mul) {
    mul_basecase<R>(r, a, an, b, bn);
  } else if (2 * bn <= an + 1) {
    mul_sliced<R>(r, a, an, b, bn);
  } else if (std::is_same_v<R, Decimal> && bn >= thresholds.toom3_mul && bn > 2 * ((an + 2) / 3)) {
    mul_toom3(r, a, an, b, bn);
  } else {
    mul_karatsuba<R>(r, a, an, b, bn);
  }
}

// r[0..2n) = a * a for n >= 1.
template <class R>
void sqr(u64* r, const u64* a, size_t n) {
  if (n == 1) {
    r[1] = R::mul_1(r, a, 1, a[0], 0);
  } else if (n < thresholds.karatsuba_sqr) {
    sqr_basecase<R>(r, a, n);
  } else if (std::is_same_v<R, Decimal> && n >= thresholds.toom3_sqr) {
    sqr_toom3(r, a, n);
  } else {
    sqr_karatsuba<R>(r, a, n);
  }
}

// ---- division (base 10^19) ----

// q[0..n) = a / d for 0 < d < 10^19; returns the remainder.
u64 divmod_1(u64* q, const u64* a, size_t n, u64 d) {
  Reciprocal rc = make_reciprocal(d);
  u64 rem = 0;
  for (size_t i = n; i > 0; --i) q[i - 1] = div_wide(static_cast<u128>(rem) * kBase + a[i - 1], rc, &rem);
  return rem;
}

// Long division (Knuth's algorithm D in base 10^19) of u[0..un) by a
// normalised v[0..n): n >= 2, the top limb of v at least half the base, and
// u below 2 v base^(un-n). Each trial quotient from the top two limbs of u
// over the top limb of v, corrected against the second limb, is then at
// most one too large. The quotient is returned as its top bit (0 or 1, for
// base^(un-n)) and q[0..un-n); the remainder stays in u[0..n) and the limbs
// above it become zero.
u64 divide_long(u64* q, u64* u, size_t un, const u64* v, size_t n) {
  u64 top = 0;
  if (compare_n(u + un - n, v, n) >= 0) {
    sub_into<Decimal>(u + un - n, n, v, n);
    top = 1;
  }
  u64 v1 = v[n - 1];
  u64 v2 = v[n - 2];
  Reciprocal rc = make_reciprocal(v1);
  for (size_t j = un - n; j-- > 0;) {
    if (j % 64 == 0) stop_if_interrupted();
    u64 u2 = u[j + n];
    u64 u1 = u[j + n - 1];
    u64 u0 = u[j + n - 2];
    u64 qhat;
    u128 rhat;
    if (u2 >= v1) {
      qhat = kBase - 1;
      rhat = static_cast<u128>(u2) * kBase + u1 - static_cast<u128>(qhat) * v1;
    } else {
      u64 rr;
      qhat = div_wide(static_cast<u128>(u2) * kBase + u1, rc, &rr);
      rhat = rr;
    }
    while (rhat<kBase&& static_cast<u128>(qhat) * v2> rhat * kBase + u0) {
      --qhat;
      rhat += v1;
    }
    // uj[0..n] -= qhat * v, with the products split independently.
    u64 high = 0;
    u64 carry = 0;
    u64 borrow = 0;
    u64* uj = u + j;
    for (size_t i = 0; i < n; ++i) {
      u128 p = static_cast<u128>(qhat) * v[i];
      u64 low;
      u64 next = div_normalised(static_cast<u64>(p >> 64), static_cast<u64>(p), kBaseReciprocal, &low);
      uj[i] = Decimal::sub(uj[i], Decimal::add(low, high, carry), borrow);
      high = next;
    }
    u64 need = high + carry + borrow;
    if (uj[n] >= need) {
      uj[n] -= need;
    } else {
      // The trial quotient was one too large: add the divisor back.
      --qhat;
      u64 c = add_n<Decimal>(uj, uj, v, n, 0);
      TOVE_ASSERT(uj[n] + c == need);
      uj[n] = 0;
    }
    TOVE_ASSERT(uj[n] == 0);
    q[j] = qhat;
  }
  return top;
}

// r[0..rn) -= t[0..tn); while the result is negative, add b[0..n) and take
// one from the quotient (top bit *top and limbs q[0..qn)).
void subtract_and_correct(u64* r, size_t rn, const u64* t, size_t tn, const u64* b, size_t n, u64* q,
                          size_t qn, u64* top) {
  u64 borrow = sub_into<Decimal>(r, rn, t, tn);
  while (borrow != 0) {
    u64 qb = sub_1<Decimal>(q, q, qn, 1);
    TOVE_ASSERT(*top >= qb);
    *top -= qb;
    borrow -= add_into<Decimal>(r, rn, b, n);
  }
}

// t[0..tn+1) = (top base^qn + q[0..qn)) * b[0..k) for tn = qn + k.
void quotient_times(u64* t, const u64* q, size_t qn, u64 top, const u64* b, size_t k) {
  mul_any<Decimal>(t, q, qn, b, k);
  t[qn + k] = 0;
  if (top != 0) add_into<Decimal>(t + qn, k + 1, b, k);
}

// Recursive division (divide and conquer on the quotient) of a[0..n+m) by a
// normalised b[0..n), m <= n, a below 2 b base^m. The top half of the
// quotient comes from dividing the top limbs by the top n-k limbs of b; the
// low part of b left out is then subtracted and the estimate corrected (a
// few times at most, b being normalised); the low half the same way. The
// quotient is returned as its top bit and q[0..m), the remainder in a[0..n).
u64 divide_recursive(u64* q, u64* a, size_t m, const u64* b, size_t n) {
  // The halves divide by the top n - m/2 limbs, which long division needs
  // to be at least two.
  if (m < thresholds.recursive_div || n < m / 2 + 2) return divide_long(q, a, n + m, b, n);
  // Below b base^m from here on, so that the halves' dividends are below
  // twice their divisors times their base powers.
  u64 top = 0;
  if (compare_n(a + m, b, n) >= 0) {
    sub_into<Decimal>(a + m, n, b, n);
    top = 1;
  }
  size_t k = m / 2;
  std::vector<u64> t(m + 1);
  // High half: Q1 = a[2k..n+m) / b[k..n), then a[k..n+m) -= Q1 * b[0..k).
  u64 high_top = divide_recursive(q + k, a + 2 * k, m - k, b + k, n - k);
  quotient_times(t.data(), q + k, m - k, high_top, b, k);
  subtract_and_correct(a + k, n + m - k, t.data(), m + 1, b, n, q + k, m - k, &high_top);
  TOVE_ASSERT(top + high_top <= 1);
  top += high_top;
  // Low half: Q0 = a[k..n+k) / b[k..n), then a[0..n+m) -= Q0 * b[0..k).
  u64 low_top = divide_recursive(q, a + k, k, b + k, n - k);
  quotient_times(t.data(), q, k, low_top, b, k);
  top += add_1<Decimal>(q + k, q + k, m - k, low_top);
  subtract_and_correct(a, n + m, t.data(), 2 * k + 1, b, n, q, m, &top);
  return top;
}

// Division of a[0..an) by b[0..bn) for an >= bn >= 2: both are multiplied by
// a factor that makes the divisor's top limb at least half the base; the
// quotient limbs are then found in blocks of at most bn limbs from the top,
// each block by the recursive division. q gets an - bn + 1 limbs, r gets bn.
void divmod_long(u64* q, u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  u64 f = kBase / (b[bn - 1] + 1);
  std::vector<u64> u(an + 1);
  std::vector<u64> v(bn);
  u[an] = Decimal::mul_1(u.data(), a, an, f, 0);
  u64 vc = Decimal::mul_1(v.data(), b, bn, f, 0);
  TOVE_ASSERT(vc == 0);
  size_t remaining = an + 1 - bn;
  if (bn < thresholds.recursive_div) {
    TOVE_ASSERT(divide_long(q, u.data(), an + 1, v.data(), bn) == 0);
  } else {
    while (remaining > 0) {
      size_t m = std::min(bn, remaining);
      remaining -= m;
      TOVE_ASSERT(divide_recursive(q + remaining, u.data() + remaining, m, v.data(), bn) == 0);
    }
  }
  u64 rest = divmod_1(r, u.data(), bn, f);
  TOVE_ASSERT(rest == 0);
}

// q[0..an-bn+1) and r[0..bn) of a / b for a >= b, b without high zero limbs.
void divmod(u64* q, u64* r, const u64* a, size_t an, const u64* b, size_t bn) {
  if (bn == 1) {
    r[0] = divmod_1(q, a, an, b[0]);
    return;
  }
  divmod_long(q, r, a, an, b, bn);
}

// ---- conversions between base 10^19 and base 2^64 ----

// Powers of the two bases in the other base, squared up on demand:
// binary_power(j) is 10^(19 * 2^j) in base 2^64, decimal_power(j) is
// 2^(64 * 2^j) in base 10^19. A deque keeps earlier entries in place.
const std::vector<u64>& binary_power(size_t j) {
  static std::deque<std::vector<u64>> cache;
  if (cache.empty()) cache.push_back({kBase});
  while (cache.size() <= j) {
    const std::vector<u64>& p = cache.back();
    std::vector<u64> s(2 * p.size());
    sqr<Binary>(s.data(), p.data(), p.size());
    s.resize(trimmed(s.data(), s.size()));
    cache.push_back(std::move(s));
  }
  return cache[j];
}

const std::vector<u64>& decimal_power(size_t j) {
  static std::deque<std::vector<u64>> cache;
  if (cache.empty()) cache.push_back({8446744073709551616ull, 1});  // 2^64
  while (cache.size() <= j) {
    const std::vector<u64>& p = cache.back();
    std::vector<u64> s(2 * p.size());
    sqr<Decimal>(s.data(), p.data(), p.size());
    s.resize(trimmed(s.data(), s.size()));
    cache.push_back(std::move(s));
  }
  return cache[j];
}

// The largest power of two below n (n >= 2) and its exponent.
size_t split_point(size_t n, size_t* exponent) {
  size_t k = 1;
  size_t j = 0;
  while (2 * k < n) {
    k *= 2;
    ++j;
  }
  *exponent = j;
  return k;
}

// hi * p + lo, trimmed; lo < p.
template <class R>
std::vector<u64> combine(const std::vector<u64>& hi, const std::vector<u64>& p, const std::vector<u64>& lo) {
  std::vector<u64> out(hi.size() + p.size() + 1, 0);
  mul_any<R>(out.data(), hi.data(), hi.size(), p.data(), p.size());
  u64 c = add_into<R>(out.data(), out.size(), lo.data(), lo.size());
  TOVE_ASSERT(c == 0);
  out.resize(trimmed(out.data(), out.size()));
  return out;
}

std::vector<u64> decimal_to_binary(const u64* d, size_t n) {
  n = trimmed(d, n);
  if (n <= thresholds.binary_split) {
    // Horner's rule in base 2^64.
    std::vector<u64> w(n + 1, 0);
    size_t len = 0;
    for (size_t i = n; i > 0; --i) {
      u64 c = Binary::mul_1(w.data(), w.data(), len, kBase, d[i - 1]);
      if (c != 0) w[len++] = c;
    }
    w.resize(len);
    return w;
  }
  size_t j;
  size_t k = split_point(n, &j);
  return combine<Binary>(decimal_to_binary(d + k, n - k), binary_power(j), decimal_to_binary(d, k));
}

std::vector<u64> binary_to_decimal(const u64* w, size_t n) {
  n = trimmed(w, n);
  if (n <= thresholds.binary_split) {
    // Horner's rule in base 10^19, half a word at a time.
    std::vector<u64> d(2 * n + 1, 0);
    size_t len = 0;
    for (size_t i = n; i > 0; --i) {
      for (int half = 1; half >= 0; --half) {
        u64 c =
            Decimal::mul_1(d.data(), d.data(), len, u64{1} << 32, (w[i - 1] >> (32 * half)) & 0xFFFFFFFFu);
        if (c != 0) d[len++] = c;
      }
    }
    d.resize(len);
    return d;
  }
  size_t j;
  size_t k = split_point(n, &j);
  return combine<Decimal>(binary_to_decimal(w + k, n - k), decimal_power(j), binary_to_decimal(w, k));
}

}  // namespace limbs
}  // namespace

using limbs::u128;
using limbs::u64;

// Writable access for the operations that build results in place.
struct BigIntAccess {
  // Room for n limbs; the old contents are dropped.
  static u64* reserve(BigInt& v, size_t n) {
    if (n > v.capacity_) {
      u64* fresh = new u64[n];
      if (v.capacity_ > BigInt::kInlineLimbs) delete[] v.heap_;
      v.heap_ = fresh;
      v.capacity_ = n;
    }
    return v.capacity_ > BigInt::kInlineLimbs ? v.heap_ : v.inline_;
  }
  // The value is the first n limbs: drop high zeros, keep zero unsigned.
  static void finish(BigInt& v, size_t n, bool negative) {
    const u64* p = v.limbs();
    while (n > 0 && p[n - 1] == 0) --n;
    v.size_ = n;
    v.negative_ = negative && n != 0;
  }
  static void set_negative(BigInt& v, bool negative) { v.negative_ = negative && v.size_ != 0; }
};

namespace {

BigInt make_from(const u64* p, size_t n, bool negative) {
  BigInt v;
  u64* out = BigIntAccess::reserve(v, n);
  if (n != 0) std::memcpy(out, p, n * sizeof(u64));
  BigIntAccess::finish(v, n, negative);
  return v;
}

BigInt make_from(const std::vector<u64>& limbs, bool negative) {
  return make_from(limbs.data(), limbs.size(), negative);
}

// ---- decimal digits ---------------------------------------------------------

constexpr u64 kPow10[20] = {1ull,
                            10ull,
                            100ull,
                            1000ull,
                            10000ull,
                            100000ull,
                            1000000ull,
                            10000000ull,
                            100000000ull,
                            1000000000ull,
                            10000000000ull,
                            100000000000ull,
                            1000000000000ull,
                            10000000000000ull,
                            100000000000000ull,
                            1000000000000000ull,
                            10000000000000000ull,
                            100000000000000000ull,
                            1000000000000000000ull,
                            10000000000000000000ull};

u64 parse_digits(const char* p, size_t n) {
  u64 v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 10 + static_cast<u64>(p[i] - '0');
  return v;
}

// Eight digits at once: pairs, then quads, then the whole, each step a
// multiply on all lanes of the word (the first digit sits in the low byte).
u64 parse_eight_digits(const char* p) {
  u64 v;
  std::memcpy(&v, p, 8);
  v -= 0x3030303030303030ull;
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * 0x000F424000000064ull) +
       (((v >> 16) & 0x000000FF000000FFull) * 0x0000271000000001ull)) >>
      32;
  return v;
}

// Exactly 19 digits.
u64 parse_limb(const char* p) {
  return parse_digits(p, 3) * 10000000000000000ull + parse_eight_digits(p + 3) * 100000000ull +
         parse_eight_digits(p + 11);
}

// Digits only, leading zeros allowed.
BigInt parse_magnitude(std::string_view digits, bool negative) {
  size_t start = 0;
  while (start < digits.size() && digits[start] == '0') ++start;
  digits.remove_prefix(start);
  size_t n = (digits.size() + kLimbDigits - 1) / kLimbDigits;
  BigInt v;
  u64* out = BigIntAccess::reserve(v, n);
  size_t end = digits.size();
  for (size_t i = 0; i < n; ++i) {
    size_t len = std::min<size_t>(kLimbDigits, end);
    const char* at = digits.data() + end - len;
    out[i] = len == kLimbDigits ? parse_limb(at) : parse_digits(at, len);
    end -= len;
  }
  BigIntAccess::finish(v, n, negative);
  return v;
}

// The decimal digits of 0 to 99, two by two: the integer text's own table.
constexpr const char* kDigitPairs = encoding_detail::kDigitPairs.digits;

// Exactly 4 digits, zero padded.
void write_four(char* out, uint32_t v) {
  uint32_t hi = v / 100;
  uint32_t lo = v % 100;
  std::memcpy(out, kDigitPairs + size_t{2} * hi, 2);
  std::memcpy(out + 2, kDigitPairs + size_t{2} * lo, 2);
}

// Exactly 8 digits, zero padded.
void write_eight(char* out, uint32_t v) {
  write_four(out, v / 10000);
  write_four(out + 4, v % 10000);
}

// Exactly 19 digits, zero padded: split into 3 + 8 + 8 digits so the
// pieces are written independently.
void write_limb_padded(char* out, u64 v) {
  uint32_t top = static_cast<uint32_t>(v / 10000000000000000ull);
  u64 rest = v % 10000000000000000ull;
  out[0] = static_cast<char>('0' + top / 100);
  std::memcpy(out + 1, kDigitPairs + size_t{2} * (top % 100), 2);
  write_eight(out + 3, static_cast<uint32_t>(rest / 100000000));
  write_eight(out + 11, static_cast<uint32_t>(rest % 100000000));
}

size_t digit_count(u64 v) {
  size_t n = 1;
  while (n < 20 && v >= kPow10[n]) ++n;
  return n;
}

// Appends the decimal digits of the magnitude (nothing for zero).
void append_magnitude(std::string& out, const u64* p, size_t n) {
  if (n == 0) return;
  size_t top = digit_count(p[n - 1]);
  size_t at = out.size();
  out.resize(at + top + (n - 1) * kLimbDigits);
  char* w = out.data() + at;
  u64 v = p[n - 1];
  for (size_t i = top; i > 0; --i) {
    w[i - 1] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  w += top;
  for (size_t i = n - 1; i > 0; --i) {
    write_limb_padded(w, p[i - 1]);
    w += kLimbDigits;
  }
}

}  // namespace

// ---- the record ---------------------------------------------------------------

BigInt::BigInt(const BigInt& other) : inline_{0, 0} {
  u64* out = BigIntAccess::reserve(*this, other.size_);
  if (other.size_ != 0) std::memcpy(out, other.limbs(), other.size_ * sizeof(u64));
  size_ = other.size_;
  negative_ = other.negative_;
}

BigInt::BigInt(BigInt&& other) noexcept
    : size_(other.size_), capacity_(other.capacity_), negative_(other.negative_) {
  if (other.capacity_ > kInlineLimbs) {
    heap_ = other.heap_;
    other.capacity_ = kInlineLimbs;
  } else {
    inline_[0] = other.inline_[0];
    inline_[1] = other.inline_[1];
  }
  other.size_ = 0;
  other.negative_ = false;
}

BigInt& BigInt::operator=(const BigInt& other) {
  if (this != &other) {
    u64* out = BigIntAccess::reserve(*this, other.size_);
    if (other.size_ != 0) std::memcpy(out, other.limbs(), other.size_ * sizeof(u64));
    size_ = other.size_;
    negative_ = other.negative_;
  }
  return *this;
}

BigInt& BigInt::operator=(BigInt&& other) noexcept {
  if (this != &other) {
    if (capacity_ > kInlineLimbs) delete[] heap_;
    capacity_ = other.capacity_;
    size_ = other.size_;
    negative_ = other.negative_;
    if (other.capacity_ > kInlineLimbs) {
      heap_ = other.heap_;
      other.capacity_ = kInlineLimbs;
    } else {
      inline_[0] = other.inline_[0];
      inline_[1] = other.inline_[1];
    }
    other.size_ = 0;
    other.negative_ = false;
  }
  return *this;
}

BigInt::~BigInt() {
  if (capacity_ > kInlineLimbs) delete[] heap_;
}

BigInt BigInt::from_uint64(uint64_t value) {
  u64 limbs[2] = {value % kLimbBase, value / kLimbBase};
  return make_from(limbs, 2, false);
}

BigInt BigInt::from_int64(int64_t value) {
  u64 magnitude = value < 0 ? 0 - static_cast<u64>(value) : static_cast<u64>(value);
  BigInt v = from_uint64(magnitude);
  BigIntAccess::set_negative(v, value < 0);
  return v;
}

bool BigInt::parse_decimal(std::string_view text, BigInt* out) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || !all_decimal_digits(text)) return false;
  *out = parse_magnitude(text, negative);
  return true;
}

BigInt BigInt::from_decimal(std::string_view text) {
  BigInt v;
  TOVE_ASSERT(parse_decimal(text, &v));
  return v;
}

std::string BigInt::to_decimal() const {
  if (size_ == 0) return "0";
  std::string out = negative_ ? "-" : "";
  append_magnitude(out, limbs(), size_);
  return out;
}

bool BigInt::parse_tove_text(std::string_view text, BigInt* out) {
  if (text.empty() || !all_decimal_digits(text)) return false;
  if (text == "0") {
    *out = BigInt();
    return true;
  }
  const SignedDigits s = split_integer_sign(text);
  if (s.digits[0] == '0') return false;
  *out = parse_magnitude(s.digits, s.negative);
  return true;
}

BigInt BigInt::from_tove_text(std::string_view text) {
  BigInt v;
  TOVE_ASSERT(parse_tove_text(text, &v));
  return v;
}

std::string BigInt::to_tove_text() const {
  if (size_ == 0) return "0";
  std::string out = negative_ ? "0" : "";
  append_magnitude(out, limbs(), size_);
  return out;
}

BigInt BigInt::from_binary_bytes(std::string_view bytes) {
  size_t n = bytes.size();
  while (n > 0 && bytes[n - 1] == 0) --n;
  std::vector<u64> words((n + 7) / 8, 0);
  for (size_t i = 0; i < n; ++i)
    words[i / 8] |= static_cast<u64>(static_cast<unsigned char>(bytes[i])) << (8 * (i % 8));
  return make_from(limbs::binary_to_decimal(words.data(), words.size()), false);
}

std::string BigInt::to_binary_bytes() const {
  std::vector<u64> words = limbs::decimal_to_binary(limbs(), size_);
  std::string out(words.size() * 8, '\0');
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(words[i / 8] >> (8 * (i % 8)));
  size_t n = out.size();
  while (n > 0 && out[n - 1] == 0) --n;
  out.resize(n);
  return out;
}

bool BigInt::magnitude_to_uint64(uint64_t* out) const {
  const u64* p = limbs();
  if (size_ > 2) return false;
  if (size_ < 2) {
    *out = size_ == 0 ? 0 : p[0];
    return true;
  }
  u128 v = static_cast<u128>(p[1]) * kLimbBase + p[0];
  if (v >> 64) return false;
  *out = static_cast<u64>(v);
  return true;
}

bool BigInt::to_int64(int64_t* out) const {
  u64 m;
  if (!magnitude_to_uint64(&m)) return false;
  u64 limit = negative_ ? u64{1} << 63 : (u64{1} << 63) - 1;
  if (m > limit) return false;
  *out = negative_ ? static_cast<int64_t>(0 - m) : static_cast<int64_t>(m);
  return true;
}

uint64_t BigInt::magnitude_low64() const {
  // Horner's rule modulo 2^64 from the top limb down.
  const u64* p = limbs();
  u64 v = 0;
  for (size_t i = size_; i > 0; --i) v = v * kLimbBase + p[i - 1];
  return v;
}

// ---- comparison and the signed operations -------------------------------------------

int compare_magnitude(const BigInt& a, const BigInt& b) {
  return limbs::compare(a.limbs(), a.limb_count(), b.limbs(), b.limb_count());
}

int compare(const BigInt& a, const BigInt& b) {
  if (a.is_negative() != b.is_negative()) return a.is_negative() ? -1 : 1;
  int c = compare_magnitude(a, b);
  return a.is_negative() ? -c : c;
}

bool operator==(const BigInt& a, const BigInt& b) { return compare(a, b) == 0; }

BigInt negate(BigInt value) {
  BigIntAccess::set_negative(value, !value.is_negative());
  return value;
}

BigInt absolute(BigInt value) {
  BigIntAccess::set_negative(value, false);
  return value;
}

namespace {

// |a| + |b| or |a| - |b| with the given sign of |a|; the result's sign
// follows from which magnitude is larger.
BigInt add_signed(const BigInt& a, bool a_negative, const BigInt& b, bool b_negative) {
  const u64* ap = a.limbs();
  const u64* bp = b.limbs();
  size_t an = a.limb_count();
  size_t bn = b.limb_count();
  BigInt r;
  if (a_negative == b_negative) {
    if (an < bn) {
      std::swap(ap, bp);
      std::swap(an, bn);
    }
    u64* out = BigIntAccess::reserve(r, an + 1);
    out[an] = limbs::add<limbs::Decimal>(out, ap, an, bp, bn);
    BigIntAccess::finish(r, an + 1, a_negative);
    return r;
  }
  int c = limbs::compare(ap, an, bp, bn);
  if (c == 0) return r;
  bool negative = a_negative;
  if (c < 0) {
    std::swap(ap, bp);
    std::swap(an, bn);
    negative = b_negative;
  }
  u64* out = BigIntAccess::reserve(r, an);
  limbs::sub<limbs::Decimal>(out, ap, an, bp, bn);
  BigIntAccess::finish(r, an, negative);
  return r;
}

}  // namespace

BigInt add(const BigInt& a, const BigInt& b) { return add_signed(a, a.is_negative(), b, b.is_negative()); }

BigInt subtract(const BigInt& a, const BigInt& b) {
  return add_signed(a, a.is_negative(), b, !b.is_negative() && !b.is_zero());
}

BigInt multiply(const BigInt& a, const BigInt& b) {
  size_t an = a.limb_count();
  size_t bn = b.limb_count();
  BigInt r;
  if (an == 0 || bn == 0) return r;
  bool negative = a.is_negative() != b.is_negative();
  const u64* ap = a.limbs();
  const u64* bp = b.limbs();
  if (ap == bp && an == bn) {
    u64* out = BigIntAccess::reserve(r, 2 * an);
    limbs::sqr<limbs::Decimal>(out, ap, an);
    BigIntAccess::finish(r, 2 * an, false);
    return r;
  }
  if (an < bn) {
    std::swap(ap, bp);
    std::swap(an, bn);
  }
  u64* out = BigIntAccess::reserve(r, an + bn);
  limbs::mul<limbs::Decimal>(out, ap, an, bp, bn);
  BigIntAccess::finish(r, an + bn, negative);
  return r;
}

BigInt square(const BigInt& a) { return multiply(a, a); }

BigInt power(const BigInt& base, uint64_t exponent) {
  if (exponent == 0) return BigInt::from_int64(1);
  if (base.is_zero()) return BigInt();
  bool negative = base.is_negative() && (exponent & 1) != 0;
  BigInt magnitude = absolute(base);
  if (magnitude.limb_count() == 1 && magnitude.limbs()[0] == 1) return BigInt::from_int64(negative ? -1 : 1);
  // Left to right: square for every bit below the top one and multiply by
  // the base on the set bits, so the base stays the small factor.
  int top = 63 - __builtin_clzll(exponent);
  BigInt result = magnitude;
  for (int bit = top - 1; bit >= 0; --bit) {
    result = square(result);
    if ((exponent >> bit) & 1) result = multiply(result, magnitude);
  }
  BigIntAccess::set_negative(result, negative);
  return result;
}

BigDivMod divmod_trunc(const BigInt& a, const BigInt& b) {
  TOVE_ASSERT(!b.is_zero());
  BigDivMod out;
  size_t an = a.limb_count();
  size_t bn = b.limb_count();
  if (limbs::compare(a.limbs(), an, b.limbs(), bn) < 0) {
    out.remainder = a;
    return out;
  }
  size_t qn = an - bn + 1;
  u64* q = BigIntAccess::reserve(out.quotient, qn);
  u64* r = BigIntAccess::reserve(out.remainder, bn);
  limbs::divmod(q, r, a.limbs(), an, b.limbs(), bn);
  BigIntAccess::finish(out.quotient, qn, a.is_negative() != b.is_negative());
  BigIntAccess::finish(out.remainder, bn, a.is_negative());
  return out;
}

BigDivMod divmod_floor(const BigInt& a, const BigInt& b) {
  BigDivMod out = divmod_trunc(a, b);
  if (!out.remainder.is_zero() && a.is_negative() != b.is_negative()) {
    out.quotient = subtract(out.quotient, BigInt::from_int64(1));
    out.remainder = add(out.remainder, b);
  }
  return out;
}

BigInt mod_euclid(const BigInt& a, const BigInt& b) {
  BigDivMod out = divmod_trunc(a, b);
  if (out.remainder.is_negative()) return add_signed(out.remainder, true, b, false);
  return std::move(out.remainder);
}

// ---- int64 arithmetic ------------------------------------------------------------

bool small_add(int64_t a, int64_t b, int64_t* out) { return !__builtin_add_overflow(a, b, out); }
bool small_sub(int64_t a, int64_t b, int64_t* out) { return !__builtin_sub_overflow(a, b, out); }
bool small_mul(int64_t a, int64_t b, int64_t* out) { return !__builtin_mul_overflow(a, b, out); }

bool small_divmod_floor(int64_t a, int64_t b, int64_t* quotient, int64_t* remainder) {
  if (b == 0) return false;
  if (b == -1) {
    // a / -1 overflows for the most negative a; the remainder is always 0.
    if (a == std::numeric_limits<int64_t>::min()) return false;
    *quotient = -a;
    *remainder = 0;
    return true;
  }
  int64_t q = a / b;
  int64_t r = a % b;
  if (r != 0 && ((r < 0) != (b < 0))) {
    q -= 1;
    r += b;
  }
  *quotient = q;
  *remainder = r;
  return true;
}

bool small_mod_euclid(int64_t a, int64_t b, int64_t* out) {
  if (b == 0) return false;
  if (b == -1 || b == 1) {
    *out = 0;
    return true;
  }
  int64_t r = a % b;
  if (r < 0) r += b < 0 ? -b : b;
  *out = r;
  return true;
}

// ---- thresholds ------------------------------------------------------------------

BigIntThresholds bigint_thresholds() { return limbs::thresholds; }

void set_bigint_thresholds(const BigIntThresholds& t) {
  TOVE_ASSERT(t.karatsuba_mul >= 2 && t.karatsuba_sqr >= 2 && t.toom3_mul >= 3 && t.toom3_sqr >= 3);
  TOVE_ASSERT(t.recursive_div >= 2 && t.binary_split >= 1);
  limbs::thresholds = t;
}

}  // namespace tove
