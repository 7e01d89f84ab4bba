// BigInt against Python's exact integers (bigint_reference.py, run once per
// batch of operations), plus identities and the text and int64 forms.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cells/interrupt.h"
#include "numbers/bigint.h"

namespace tove {
namespace {

namespace fs = std::filesystem;

// The script lives in the source folder: found above the test executable
// when the build folder is inside it, else through the build folder's
// CMakeCache.txt.
std::string reference_script() {
  const fs::path relative = "tests/unit/numbers/bigint_reference.py";
  std::error_code ec;
  fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  while (!dir.empty()) {
    if (fs::exists(dir / relative)) return (dir / relative).string();
    std::ifstream cache(dir / "CMakeCache.txt");
    std::string line;
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    while (std::getline(cache, line)) {
      if (line.rfind(key, 0) == 0 && fs::exists(fs::path(line.substr(key.size())) / relative))
        return (fs::path(line.substr(key.size())) / relative).string();
    }
    if (dir == dir.root_path()) break;
    dir = dir.parent_path();
  }
  return "";
}

// One line of reference output per operation line; an empty vector after a
// test failure when python3 or the script cannot be run.
std::vector<std::string> reference(const std::vector<std::string>& ops) {
  std::string script = reference_script();
  if (script.empty()) {
    ADD_FAILURE() << "tests/unit/numbers/bigint_reference.py not found from the test executable";
    return {};
  }
  char in_path[] = "/tmp/tove_bigint_ops_XXXXXX";
  int fd = mkstemp(in_path);
  if (fd < 0) {
    ADD_FAILURE() << "cannot create a temporary file";
    return {};
  }
  std::string text;
  for (const std::string& op : ops) text += op + "\n";
  bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  std::vector<std::string> lines;
  if (written) {
    std::string command = "python3 '" + script + "' < '" + in_path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    if (pipe != nullptr) {
      char buf[65536];
      size_t got;
      while ((got = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, got);
      int status = pclose(pipe);
      if (status != 0) {
        ADD_FAILURE() << "running the reference failed (status " << status
                      << "): python3 is required for the BigInt reference checks";
        out.clear();
      }
    }
    size_t start = 0;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      lines.push_back(out.substr(start, end - start));
      start = end + 1;
    }
  } else {
    ADD_FAILURE() << "cannot write the temporary file";
  }
  unlink(in_path);
  return lines;
}

// Collects operations with this engine's answers, then checks them all
// against one run of the reference.
struct Checker {
  std::vector<std::string> ops;
  std::vector<std::string> mine;

  void add(const std::string& op, const std::string& result) {
    ops.push_back(op);
    mine.push_back(result);
  }

  void binary_ops(const BigInt& a, const BigInt& b) {
    std::string x = a.to_decimal();
    std::string y = b.to_decimal();
    add("add " + x + " " + y, tove::add(a, b).to_decimal());
    add("sub " + x + " " + y, subtract(a, b).to_decimal());
    add("mul " + x + " " + y, multiply(a, b).to_decimal());
    add("cmp " + x + " " + y, std::to_string(compare(a, b)));
    if (!b.is_zero()) {
      BigDivMod t = divmod_trunc(a, b);
      add("tdiv " + x + " " + y, t.quotient.to_decimal() + " " + t.remainder.to_decimal());
      BigDivMod f = divmod_floor(a, b);
      add("fdiv " + x + " " + y, f.quotient.to_decimal() + " " + f.remainder.to_decimal());
      add("emod " + x + " " + y, mod_euclid(a, b).to_decimal());
    }
  }

  void check() {
    std::vector<std::string> expected = reference(ops);
    ASSERT_EQ(expected.size(), ops.size()) << "the reference gave a wrong number of lines";
    int shown = 0;
    for (size_t i = 0; i < ops.size() && shown < 5; ++i) {
      if (expected[i] != mine[i]) {
        ++shown;
        ADD_FAILURE() << "operation: " << ops[i].substr(0, 300)
                      << "\n  expected: " << expected[i].substr(0, 300)
                      << "\n  got:      " << mine[i].substr(0, 300);
      }
    }
  }
};

std::string hex_bytes(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "x";
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// Digit strings shaped to hit carries, borrows and limb boundaries: random
// digits, runs of nines and zeros, and powers of ten near a limb edge.
std::string random_digits(std::mt19937_64& rng, size_t n) {
  std::string s(n, '0');
  switch (rng() % 5) {
    case 0:
      for (char& c : s) c = static_cast<char>('0' + rng() % 10);
      break;
    case 1: s.assign(n, '9'); break;
    case 2:
      for (size_t i = 0; i < n;) {
        char c = rng() % 2 ? '9' : '0';
        size_t run = 1 + rng() % 40;
        for (; run > 0 && i < n; --run) s[i++] = c;
      }
      break;
    case 3: s[n - 1 - rng() % n] = static_cast<char>('1' + rng() % 9); break;
    default:
      for (char& c : s) c = rng() % 4 == 0 ? static_cast<char>('0' + rng() % 10) : '9';
      break;
  }
  s[0] = static_cast<char>('1' + rng() % 9);
  return s;
}

BigInt random_bigint(std::mt19937_64& rng, size_t max_digits) {
  size_t n = 1 + rng() % max_digits;
  std::string text = (rng() % 3 == 0 ? "-" : "") + random_digits(rng, n);
  return BigInt::from_decimal(text);
}

// Lowers the thresholds for one test so that small operands take every
// recursive path; restores them afterwards.
struct ThresholdScope {
  BigIntThresholds saved = bigint_thresholds();
  explicit ThresholdScope(const BigIntThresholds& t) { set_bigint_thresholds(t); }
  ~ThresholdScope() { set_bigint_thresholds(saved); }
};

// Toom-3 takes over from three limbs; in the second set Karatsuba does
// every product and square instead.
constexpr BigIntThresholds kTinyThresholds = {2, 2, 3, 3, 2, 1};
constexpr BigIntThresholds kTinyKaratsubaOnly = {2, 2, 1u << 30, 1u << 30, 2, 1};

BigInt dec(const char* text) { return BigInt::from_decimal(text); }

TEST(BigIntText, ToveTextRoundTrips) {
  for (const char* text :
       {"0", "5", "05", "123", "0123", "9999999999999999999", "09999999999999999999", "10000000000000000000",
        "010000000000000000000", "100000000000000000000000000000000000000"}) {
    BigInt v;
    ASSERT_TRUE(BigInt::parse_tove_text(text, &v)) << text;
    EXPECT_EQ(v.to_tove_text(), text);
  }
  EXPECT_EQ(BigInt::from_tove_text("05").to_decimal(), "-5");
  EXPECT_EQ(BigInt::from_tove_text("0").sign(), 0);
  EXPECT_EQ(BigInt::from_decimal("-0").to_tove_text(), "0");
  EXPECT_EQ(BigInt::from_decimal("-000123").to_tove_text(), "0123");
  EXPECT_EQ(BigInt::from_decimal("0000000000000000000000000000000000001").to_decimal(), "1");
}

TEST(BigIntText, RefusesTextsThatAreNotIntegers) {
  BigInt v = BigInt::from_int64(7);
  for (const char* text : {"", "00", "007", "000", "0a", "-5", "1x", "12 ", "+1"}) {
    EXPECT_FALSE(BigInt::parse_tove_text(text, &v)) << text;
    int64_t small;
    EXPECT_FALSE(small_from_tove_text(text, &small)) << text;
  }
  for (const char* text : {"", "-", "--1", "1-", "1.5", " 1"})
    EXPECT_FALSE(BigInt::parse_decimal(text, &v)) << text;
  EXPECT_EQ(v.to_decimal(), "7") << "a refused text leaves the target alone";
}

TEST(BigIntSmall, Int64Conversions) {
  const int64_t min = std::numeric_limits<int64_t>::min();
  const int64_t max = std::numeric_limits<int64_t>::max();
  EXPECT_EQ(small_to_tove_text(min), "09223372036854775808");
  EXPECT_EQ(BigInt::from_int64(min).to_tove_text(), "09223372036854775808");
  EXPECT_EQ(BigInt::from_uint64(~uint64_t{0}).to_decimal(), "18446744073709551615");
  int64_t out = 0;
  ASSERT_TRUE(small_from_tove_text("09223372036854775808", &out));
  EXPECT_EQ(out, min);
  ASSERT_TRUE(small_from_tove_text("9223372036854775807", &out));
  EXPECT_EQ(out, max);
  EXPECT_FALSE(small_from_tove_text("9223372036854775808", &out));
  EXPECT_FALSE(small_from_tove_text("09223372036854775809", &out));
  EXPECT_FALSE(small_from_tove_text("100000000000000000000", &out));
  for (int64_t v : {min, min + 1, int64_t{-1}, int64_t{0}, int64_t{1}, max}) {
    int64_t back = 42;
    ASSERT_TRUE(BigInt::from_int64(v).to_int64(&back));
    EXPECT_EQ(back, v);
    ASSERT_TRUE(small_from_tove_text(small_to_tove_text(v), &back));
    EXPECT_EQ(back, v);
  }
  EXPECT_FALSE(dec("9223372036854775808").to_int64(&out));
  EXPECT_FALSE(dec("-9223372036854775809").to_int64(&out));
  uint64_t m = 0;
  EXPECT_TRUE(dec("-18446744073709551615").magnitude_to_uint64(&m));
  EXPECT_EQ(m, ~uint64_t{0});
  EXPECT_FALSE(dec("18446744073709551616").magnitude_to_uint64(&m));
  EXPECT_EQ(dec("18446744073709551621").magnitude_low64(), 5u);
  EXPECT_EQ(dec("-340282366920938463463374607431768211457").magnitude_low64(), 1u);  // 2^128 + 1
}

TEST(BigIntSmall, Int64ArithmeticReportsOverflow) {
  const int64_t min = std::numeric_limits<int64_t>::min();
  const int64_t max = std::numeric_limits<int64_t>::max();
  int64_t r = 0, q = 0;
  EXPECT_TRUE(small_add(max - 1, 1, &r));
  EXPECT_EQ(r, max);
  EXPECT_FALSE(small_add(max, 1, &r));
  EXPECT_FALSE(small_sub(min, 1, &r));
  EXPECT_FALSE(small_mul(int64_t{1} << 32, int64_t{1} << 31, &r));
  EXPECT_TRUE(small_mul(-(int64_t{1} << 32), int64_t{1} << 31, &r));
  EXPECT_EQ(r, min);
  EXPECT_FALSE(small_divmod_floor(5, 0, &q, &r));
  EXPECT_FALSE(small_divmod_floor(min, -1, &q, &r));
  EXPECT_FALSE(small_mod_euclid(5, 0, &r));
  ASSERT_TRUE(small_mod_euclid(min, -1, &r));
  EXPECT_EQ(r, 0);
  const int64_t cases[][4] = {{7, 2, 3, 1}, {-7, 2, -4, 1}, {7, -2, -4, -1}, {-7, -2, 3, -1}, {6, -3, -2, 0}};
  for (const auto& c : cases) {
    ASSERT_TRUE(small_divmod_floor(c[0], c[1], &q, &r));
    EXPECT_EQ(q, c[2]) << c[0] << " / " << c[1];
    EXPECT_EQ(r, c[3]) << c[0] << " % " << c[1];
    ASSERT_TRUE(small_mod_euclid(c[0], c[1], &r));
    EXPECT_EQ(r, c[3] < 0 ? c[3] + (c[1] < 0 ? -c[1] : c[1]) : c[3]);
  }
}

TEST(BigIntDivision, RoundingOfQuotientAndRemainder) {
  struct Case {
    int a, b, tq, tr, fq, fr, e;
  };
  // The rounding rules: toward zero, toward minus infinity, and the
  // remainder in [0, |b|).
  const Case cases[] = {{7, 2, 3, 1, 3, 1, 1},     {-7, 2, -3, -1, -4, 1, 1}, {7, -2, -3, 1, -4, -1, 1},
                        {-7, -2, 3, -1, 3, -1, 1}, {6, -3, -2, 0, -2, 0, 0},  {0, -3, 0, 0, 0, 0, 0},
                        {-1, 5, 0, -1, -1, 4, 4}};
  for (const Case& c : cases) {
    BigInt a = BigInt::from_int64(c.a), b = BigInt::from_int64(c.b);
    BigDivMod t = divmod_trunc(a, b);
    BigDivMod f = divmod_floor(a, b);
    EXPECT_EQ(t.quotient, BigInt::from_int64(c.tq)) << c.a << " / " << c.b;
    EXPECT_EQ(t.remainder, BigInt::from_int64(c.tr)) << c.a << " / " << c.b;
    EXPECT_EQ(f.quotient, BigInt::from_int64(c.fq)) << c.a << " / " << c.b;
    EXPECT_EQ(f.remainder, BigInt::from_int64(c.fr)) << c.a << " / " << c.b;
    EXPECT_EQ(mod_euclid(a, b), BigInt::from_int64(c.e)) << c.a << " / " << c.b;
  }
}

TEST(BigIntPower, SpecialBasesAndSigns) {
  EXPECT_EQ(power(BigInt(), 0).to_decimal(), "1");
  EXPECT_EQ(power(BigInt(), 5).to_decimal(), "0");
  EXPECT_EQ(power(dec("-1"), 1ull << 40).to_decimal(), "1");
  EXPECT_EQ(power(dec("-1"), (1ull << 40) + 1).to_decimal(), "-1");
  EXPECT_EQ(power(dec("-2"), 3).to_tove_text(), "08");
  EXPECT_EQ(power(dec("-2"), 2).to_tove_text(), "4");
  EXPECT_EQ(power(dec("2"), 10).to_decimal(), "1024");
  EXPECT_EQ(power(dec("10"), 19).to_decimal(), "1" + std::string(19, '0'));
}

TEST(BigIntReference, LimbBoundaries) {
  Checker c;
  const char* edges[] = {"0",
                         "1",
                         "-1",
                         "9999999999999999999",
                         "10000000000000000000",
                         "10000000000000000001",
                         "-9999999999999999999",
                         "-10000000000000000000",
                         "18446744073709551615",
                         "18446744073709551616",
                         "99999999999999999999999999999999999999",
                         "100000000000000000000000000000000000000",
                         "5000000000000000000",
                         "4999999999999999999"};
  for (const char* x : edges)
    for (const char* y : edges) c.binary_ops(dec(x), dec(y));
  // Carries and borrows running across many limbs.
  BigInt nines = dec(std::string(19 * 50, '9').c_str());
  BigInt one = dec("1");
  BigInt big_power = add(nines, one);
  c.binary_ops(nines, one);
  c.binary_ops(big_power, one);
  c.binary_ops(big_power, nines);
  c.binary_ops(nines, nines);
  c.binary_ops(negate(nines), big_power);
  c.check();
}

TEST(BigIntReference, RandomOperands) {
  std::mt19937_64 rng(20240611);
  Checker c;
  for (int i = 0; i < 300; ++i) c.binary_ops(random_bigint(rng, 120), random_bigint(rng, 120));
  for (int i = 0; i < 60; ++i) c.binary_ops(random_bigint(rng, 3000), random_bigint(rng, 3000));
  for (int i = 0; i < 30; ++i) c.binary_ops(random_bigint(rng, 4000), random_bigint(rng, 40));
  // Multi-level Karatsuba at the default thresholds, and long division with
  // a long quotient.
  BigInt x = BigInt::from_decimal(random_digits(rng, 30000));
  BigInt y = BigInt::from_decimal("-" + random_digits(rng, 25000));
  c.binary_ops(x, y);
  c.binary_ops(multiply(x, y), negate(x));
  c.binary_ops(x, BigInt::from_decimal(random_digits(rng, 2000)));
  c.check();
}

TEST(BigIntReference, EveryRecursivePathWithSmallThresholds) {
  std::mt19937_64 rng(77);
  Checker c;
  for (const BigIntThresholds& t : {kTinyThresholds, kTinyKaratsubaOnly}) {
    ThresholdScope scope(t);
    for (int i = 0; i < 200; ++i) c.binary_ops(random_bigint(rng, 19 * 40), random_bigint(rng, 19 * 40));
    for (int i = 0; i < 30; ++i) c.binary_ops(random_bigint(rng, 19 * 120), random_bigint(rng, 19 * 20));
    for (int i = 0; i < 30; ++i) {
      BigInt a = random_bigint(rng, 19 * 60);
      c.binary_ops(a, a);
      c.add("mul " + a.to_decimal() + " " + a.to_decimal(), square(a).to_decimal());
    }
  }
  c.check();
}

TEST(BigIntReference, Powers) {
  std::mt19937_64 rng(5);
  Checker c;
  for (int i = 0; i < 40; ++i) {
    BigInt base = random_bigint(rng, 30);
    uint64_t e = rng() % 200;
    c.add("pow " + base.to_decimal() + " " + std::to_string(e), power(base, e).to_decimal());
  }
  c.add("pow 3 20000", power(dec("3"), 20000).to_decimal());
  c.add("pow -7 3001", power(dec("-7"), 3001).to_decimal());
  c.check();
}

TEST(BigIntReference, BinaryMagnitudes) {
  std::mt19937_64 rng(99);
  Checker c;
  auto both_ways = [&](const BigInt& v) {
    std::string bytes = v.to_binary_bytes();
    c.add("tobin " + v.to_decimal(), hex_bytes(bytes));
    EXPECT_EQ(BigInt::from_binary_bytes(bytes), absolute(v));
  };
  for (const char* x : {"0", "1", "-255", "256", "9999999999999999999", "10000000000000000000",
                        "18446744073709551615", "18446744073709551616"})
    both_ways(dec(x));
  for (int i = 0; i < 40; ++i) both_ways(random_bigint(rng, 3000));
  both_ways(BigInt::from_decimal(random_digits(rng, 20000)));
  // From bytes, with high zero bytes that carry no value.
  for (size_t len : {size_t{0}, size_t{1}, size_t{8}, size_t{9}, size_t{300}, size_t{5000}}) {
    std::string bytes(len, '\0');
    for (char& b : bytes) b = static_cast<char>(rng());
    if (len > 0) bytes[len - 1] = static_cast<char>(0xFF);
    c.add("frombin " + hex_bytes(bytes), BigInt::from_binary_bytes(bytes).to_decimal());
    bytes += std::string(5, '\0');
    c.add("frombin " + hex_bytes(bytes), BigInt::from_binary_bytes(bytes).to_decimal());
  }
  {
    ThresholdScope scope(kTinyThresholds);
    for (int i = 0; i < 30; ++i) both_ways(random_bigint(rng, 19 * 70));
  }
  c.check();
}

TEST(BigIntIdentities, DivisionAndProductInverses) {
  std::mt19937_64 rng(314);
  auto run = [&](size_t max_digits, int rounds) {
    for (int i = 0; i < rounds; ++i) {
      BigInt a = random_bigint(rng, max_digits);
      BigInt b = random_bigint(rng, max_digits);
      if (b.is_zero()) continue;
      BigDivMod t = divmod_trunc(a, b);
      EXPECT_EQ(add(multiply(t.quotient, b), t.remainder), a);
      EXPECT_LT(compare_magnitude(t.remainder, b), 0);
      EXPECT_TRUE(t.remainder.is_zero() || t.remainder.is_negative() == a.is_negative());
      BigDivMod f = divmod_floor(a, b);
      EXPECT_EQ(add(multiply(f.quotient, b), f.remainder), a);
      EXPECT_TRUE(f.remainder.is_zero() || f.remainder.is_negative() == b.is_negative());
      BigDivMod p = divmod_trunc(multiply(a, b), b);
      EXPECT_EQ(p.quotient, a);
      EXPECT_TRUE(p.remainder.is_zero());
      EXPECT_EQ(subtract(add(a, b), b), a);
      EXPECT_EQ(multiply(a, b), multiply(b, a));
    }
  };
  run(400, 200);
  run(19 * 300, 10);
  for (const BigIntThresholds& t : {kTinyThresholds, kTinyKaratsubaOnly}) {
    ThresholdScope scope(t);
    run(19 * 50, 100);
  }
}

TEST(BigIntIdentities, CopiesAndMovesKeepValues) {
  BigInt big = dec("123456789012345678901234567890123456789012345678901234567890");
  BigInt small = dec("-42");
  BigInt copy = big;
  BigInt moved = std::move(copy);
  EXPECT_EQ(moved, big);
  copy = small;
  EXPECT_EQ(copy, small);
  copy = big;
  EXPECT_EQ(copy, big);
  copy = std::move(small);
  EXPECT_EQ(copy.to_decimal(), "-42");
  BigInt& self = copy;
  copy = self;
  EXPECT_EQ(copy.to_decimal(), "-42");
  EXPECT_EQ(multiply(copy, copy).to_decimal(), "1764");
  EXPECT_EQ(negate(BigInt()).sign(), 0);
  EXPECT_EQ(subtract(big, big).sign(), 0);
  EXPECT_FALSE(subtract(big, big).is_negative());
}

// A requested interrupt stops the long operations at their first block of
// work, and once it is cleared the same operations give their values.
TEST(BigIntInterrupt, LongOperationsStopAndResume) {
  const BigInt big = power(BigInt::from_int64(3), 200000);
  const BigInt divisor = power(BigInt::from_int64(7), 50000);
  request_interrupt();
  EXPECT_THROW(multiply(big, big), Interrupted);
  EXPECT_THROW(power(BigInt::from_int64(3), 200000), Interrupted);
  EXPECT_THROW(divmod_floor(big, divisor), Interrupted);
  clear_interrupt();
  EXPECT_EQ(multiply(big, big), power(BigInt::from_int64(9), 200000));
  const BigDivMod division = divmod_floor(big, divisor);
  EXPECT_EQ(add(multiply(division.quotient, divisor), division.remainder), big);
}

}  // namespace
}  // namespace tove
