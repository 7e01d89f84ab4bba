#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "cells/cell.h"
#include "leak_check.h"
#include "numbers/numbers.h"

using namespace tove;

namespace {

class Numbers : public LeakCheck {};

CellRef atom(std::string_view text) { return make_atom(text); }

// ((J e) rest)
CellRef cons(std::string_view element, CellRef rest) {
  return make_pair(make_pair(atom("J"), atom(element)), std::move(rest));
}

std::string text_of(const CellRef& c) { return std::string(atom_text(c.get())); }

// The raw value of a bit list of at most 128 bits.
unsigned __int128 raw_of(const BitList& bits) {
  EXPECT_LE(bits.bytes.size(), 16u);
  unsigned __int128 raw = 0;
  for (size_t i = bits.bytes.size(); i-- > 0;) raw = (raw << 8) | static_cast<unsigned char>(bits.bytes[i]);
  return raw;
}

unsigned __int128 parse128(std::string_view digits) {
  unsigned __int128 v = 0;
  for (char d : digits) v = v * 10 + static_cast<unsigned>(d - '0');
  return v;
}

uint64_t next_random(uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

TEST_F(Numbers, IntegerAndFractionTables) {
  struct Row {
    const char* text;
    unsigned raw;
  };
  const Row rows[] = {
      {"0", 3},   {"1", 7},   {"01", 5},   {"2", 11},   {"5", 23},   {"05", 21},  {"00", 2},
      {"001", 6}, {"000", 4}, {"004", 18}, {"002", 10}, {"0000", 8}, {"003", 14}, {"007", 30},
  };
  for (const Row& row : rows) {
    BitList bits = text_to_bits(row.text);
    EXPECT_TRUE(bit_list_valid(bits)) << row.text;
    EXPECT_EQ(raw_of(bits), row.raw) << row.text;
    EXPECT_EQ(bits_to_text(bits), row.text);
  }
  // "007" is N = 15: +3.5.
  Natural n = fraction_natural(text_to_bits("007"));
  EXPECT_EQ(n.bytes, std::string(1, '\x0F'));
  EXPECT_EQ(bits_to_text(fraction_bits(n)), "007");
  EXPECT_EQ(bits_to_text(text_to_bits("0")), "0");
  EXPECT_EQ(text_of(bits_to_value(empty_bit_list())), "K");
}

TEST_F(Numbers, WideValuesMatchWordArithmetic) {
  // Around the 64-bit boundary of the raw value, where the word path hands
  // over to the byte path.
  for (const char* digits :
       {"999999999999999999", "1000000000000000000", "4611686018427387903", "4611686018427387904",
        "18446744073709551621", "85070591730234615865843651857942052863"}) {
    unsigned __int128 d = parse128(digits);
    EXPECT_TRUE(raw_of(text_to_bits(digits)) == 4 * d + 3) << digits;
    std::string negative = std::string("0") + digits;
    EXPECT_TRUE(raw_of(text_to_bits(negative)) == 4 * d + 1) << digits;
    EXPECT_EQ(bits_to_text(text_to_bits(digits)), digits);
    EXPECT_EQ(bits_to_text(text_to_bits(negative)), negative);
  }
  // Fractions with long runs of zeros: "00" + z zeros + D.
  for (size_t z : {0u, 10u, 61u, 62u, 63u, 70u}) {
    std::string zeros = "00" + std::string(z, '0');
    EXPECT_EQ(bit_list_size(text_to_bits(zeros)), z + 1);
    EXPECT_EQ(bits_to_text(text_to_bits(zeros)), zeros);
    std::string five = zeros + "5";
    BitList bits = text_to_bits(five);
    EXPECT_EQ(bit_list_size(bits), z + 4);
    EXPECT_TRUE(bit_get(bits, z + 1) && bit_get(bits, z + 2) && !bit_get(bits, z + 3));
    EXPECT_EQ(bits_to_text(bits), five);
  }
}

TEST_F(Numbers, DecimalEngineRoundTrips) {
  EXPECT_EQ(decimal_to_binary("0"), "");
  EXPECT_EQ(decimal_to_binary(""), "");
  EXPECT_EQ(decimal_to_binary("000256"), std::string("\x00\x01", 2));
  EXPECT_EQ(binary_to_decimal(""), "0");
  EXPECT_EQ(binary_to_decimal(std::string("\xFF\x00\x00", 3)), "255");
  std::string big = "9";
  for (int i = 0; i < 120; ++i) big += "1234567890";
  EXPECT_EQ(binary_to_decimal(decimal_to_binary(big)), big);
  EXPECT_EQ(bits_to_text(text_to_bits("0" + big)), "0" + big);
  EXPECT_EQ(bits_to_text(text_to_bits("000" + big)), "000" + big);
}

TEST_F(Numbers, MachineIntegers) {
  EXPECT_EQ(text_of(integer_from_int64(std::numeric_limits<int64_t>::min())), "09223372036854775808");
  EXPECT_EQ(text_of(integer_from_int64(0)), "0");
  EXPECT_EQ(text_of(integer_from_int64(-5)), "05");
  EXPECT_EQ(text_of(integer_from_uint64(std::numeric_limits<uint64_t>::max())), "18446744073709551615");
  for (int64_t v : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{123456789},
                    std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    EXPECT_EQ(integer_to_int64(integer_from_int64(v).get()), v);
  }
  EXPECT_EQ(integer_to_int64(atom("18446744073709551621").get()), 5);
  EXPECT_EQ(integer_to_int64(atom("018446744073709551621").get()), -5);
  EXPECT_EQ(integer_to_int64(atom("9223372036854775808").get()), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(integer_to_int64(atom("K").get()), 0);
  // A list form goes through its bit list: 2^64 + 5 again.
  CellRef list = bits_to_list_form(text_to_bits("18446744073709551621"));
  EXPECT_EQ(integer_to_int64(list.get()), 5);
  EXPECT_EQ(integer_to_int64(cons("K", cons("H", atom("K"))).get()), -1);
}

TEST_F(Numbers, Classification) {
  auto kind = [](CellRef c) { return classify_kind(c.get()); };
  EXPECT_EQ(kind(atom("K")), ValueKind::other);
  EXPECT_EQ(kind(atom("H")), ValueKind::other);
  EXPECT_EQ(kind(atom("Z")), ValueKind::other);
  EXPECT_EQ(kind(atom("plus")), ValueKind::other);
  EXPECT_EQ(kind(atom("0")), ValueKind::integer);
  EXPECT_EQ(kind(atom("05")), ValueKind::integer);
  EXPECT_EQ(kind(atom("00")), ValueKind::fraction);
  EXPECT_EQ(kind(atom("000")), ValueKind::fraction);
  EXPECT_EQ(kind(make_real(1.5)), ValueKind::real);
  EXPECT_EQ(kind(atom("()")), ValueKind::bytes);
  EXPECT_EQ(kind(atom("[ab]")), ValueKind::data);
  EXPECT_EQ(kind(make_pair(atom("[a]"), atom("[b]"))), ValueKind::data);
  EXPECT_EQ(kind(make_pair(atom("[a]"), atom("x"))), ValueKind::other);
  EXPECT_EQ(kind(make_pair(atom("K"), atom("[a]"))), ValueKind::other);
  EXPECT_EQ(kind(cons("K", atom("K"))), ValueKind::integer);
  EXPECT_EQ(kind(cons("H", atom("K"))), ValueKind::fraction);
  EXPECT_EQ(kind(cons("Z", atom("K"))), ValueKind::other);
  EXPECT_EQ(kind(make_pair(make_pair(atom("Q"), atom("K")), atom("K"))), ValueKind::other);
  EXPECT_EQ(kind(make_pair(atom("J"), atom("K"))), ValueKind::other);

  EXPECT_TRUE(is_integer(atom("K").get()));
  EXPECT_FALSE(is_integer(atom("00").get()));
  EXPECT_TRUE(is_bit_list(atom("00").get()));
  EXPECT_TRUE(is_bit_list(cons("H", atom("K")).get()));
  EXPECT_FALSE(is_bit_list(atom("H").get()));
  EXPECT_TRUE(is_fraction(cons("H", atom("K")).get()));
  EXPECT_FALSE(is_fraction(atom("0").get()));
  EXPECT_TRUE(ValueKind::bytes < ValueKind::real && ValueKind::real < ValueKind::integer &&
              ValueKind::integer < ValueKind::fraction && ValueKind::fraction < ValueKind::data);
}

TEST_F(Numbers, ListForms) {
  CellRef minus_one = cons("K", cons("H", atom("K")));
  EXPECT_EQ(number_text(minus_one.get()), "01");
  EXPECT_FALSE(is_non_negative(minus_one.get()));
  CellRef zero = cons("K", atom("K"));
  EXPECT_EQ(number_text(zero.get()), "0");
  EXPECT_TRUE(is_non_negative(zero.get()));
  EXPECT_EQ(number_text(atom("K").get()), "K");
  // A decimal tail adds its own elements: [1] then the four of 5.
  CellRef with_tail = cons("K", atom("5"));
  EXPECT_EQ(number_text(with_tail.get()), "11");
  EXPECT_EQ(bit_list_length(with_tail.get()), 5u);
  EXPECT_EQ(bit_list_length(atom("K").get()), 0u);
  EXPECT_EQ(bit_list_length(atom("0").get()), 1u);
  EXPECT_EQ(bit_list_length(atom("18446744073709551621").get()), 66u);
  EXPECT_TRUE(is_well_formed_bit_list(with_tail.get()));

  for (const char* text : {"0", "7", "05", "00", "003", "0000", "123456789012345678901234567890"}) {
    CellRef list = bits_to_list_form(text_to_bits(text));
    EXPECT_EQ(classify_kind(list.get()), classify_kind(atom(text).get())) << text;
    EXPECT_EQ(number_text(list.get()), text);
    EXPECT_EQ(value_to_bits(list.get()).bytes, text_to_bits(text).bytes);
    EXPECT_EQ(bit_list_length(list.get()), bit_list_length(atom(text).get()));
  }
}

TEST_F(Numbers, OddListFormsEndTheList) {
  CellRef bad_element = cons("K", cons("Z", atom("5")));
  EXPECT_FALSE(is_well_formed_bit_list(bad_element.get()));
  EXPECT_EQ(number_text(bad_element.get()), "0");
  EXPECT_EQ(bit_list_length(bad_element.get()), 1u);
  CellRef bad_tail = cons("K", cons("H", atom("Q")));
  EXPECT_FALSE(is_well_formed_bit_list(bad_tail.get()));
  EXPECT_EQ(number_text(bad_tail.get()), "01");
  EXPECT_EQ(integer_to_int64(bad_tail.get()), -1);
  CellRef pair_tail = cons("K", make_pair(atom("f"), atom("x")));
  EXPECT_EQ(number_text(pair_tail.get()), "0");
  EXPECT_DOUBLE_EQ(integer_to_double(pair_tail.get()), 0.0);
}

TEST_F(Numbers, MillionElementListForm) {
  BitList bits = empty_bit_list();
  uint64_t state = 88172645463325252ull;
  for (int i = 0; i < 1000000; ++i) bit_list_push(bits, i == 0 || (next_random(state) & 1));
  CellRef list = bits_to_list_form(bits);
  EXPECT_EQ(bit_list_length(list.get()), 1000000u);
  EXPECT_EQ(value_to_bits(list.get()).bytes, bits.bytes);
}

TEST_F(Numbers, SignsMagnitudesAndParity) {
  CellRef zero = atom("0");
  EXPECT_EQ(integer_abs(zero.get()).get(), zero.get());
  EXPECT_EQ(integer_negate(zero.get()).get(), zero.get());
  CellRef k = atom("K");
  EXPECT_EQ(integer_negate(k.get()).get(), k.get());
  EXPECT_EQ(text_of(integer_abs(atom("05").get())), "5");
  EXPECT_EQ(text_of(integer_negate(atom("5").get())), "05");
  EXPECT_EQ(text_of(integer_negate(atom("05").get())), "5");
  EXPECT_EQ(text_of(integer_abs(cons("K", cons("H", atom("K"))).get())), "1");
  EXPECT_EQ(text_of(integer_abs(cons("K", atom("K")).get())), "0");
  // Negating a list form headed by K gives its rest; any other gains an H.
  CellRef rest = cons("H", atom("K"));
  CellRef list = cons("K", rest.share());
  EXPECT_EQ(integer_negate(list.get()).get(), rest.get());
  CellRef longer = integer_negate(rest.get());
  EXPECT_EQ(number_text(longer.get()), "000");

  EXPECT_TRUE(is_non_negative(atom("0").get()));
  EXPECT_FALSE(is_non_negative(atom("05").get()));
  EXPECT_TRUE(is_non_negative(atom("5").get()));

  for (const char* odd : {"1", "01", "05", "12345678901234567890123"})
    EXPECT_TRUE(is_odd(atom(odd).get())) << odd;
  for (const char* even : {"0", "K", "2", "010", "18446744073709551616"}) {
    EXPECT_FALSE(is_odd(atom(even).get())) << even;
  }
  EXPECT_TRUE(is_odd(cons("K", cons("H", atom("K"))).get()));
  EXPECT_FALSE(is_odd(cons("K", atom("K")).get()));
  EXPECT_TRUE(is_odd(cons("K", atom("5")).get()));  // 11
}

// Reads the whole list view of a decimal atom, element by element.
std::vector<bool> walk(std::string_view text) {
  std::vector<bool> elements;
  CellRef current = make_atom(text);
  while (!atom_is(current.get(), "K")) {
    elements.push_back(atom_is(list_first(current.get()).get(), "K"));
    current = list_rest(current.get());
  }
  return elements;
}

TEST_F(Numbers, ListViewOfDecimalAtoms) {
  EXPECT_EQ(text_of(list_first(atom("0").get())), "K");
  EXPECT_EQ(text_of(list_rest(atom("0").get())), "K");
  EXPECT_EQ(text_of(list_first(atom("00").get())), "H");
  EXPECT_EQ(text_of(list_rest(atom("00").get())), "K");
  EXPECT_EQ(text_of(list_rest(atom("5").get())), "2");
  EXPECT_EQ(text_of(list_rest(atom("05").get())), "002");
  for (const char* text : {"5", "05", "0042", "18446744073709551621", "0123456789012345678901234567890",
                           "000000000000000000000000000000000000000000000000000000000000000000000001"}) {
    BitList bits = text_to_bits(text);
    std::vector<bool> expected;
    for (uint64_t i = 0; i < bit_list_size(bits); ++i) expected.push_back(bit_get(bits, i));
    EXPECT_EQ(walk(text), expected) << text;
  }
}

TEST_F(Numbers, RealsFromIntegersAndFractions) {
  CellRef r = make_real(1.5);
  EXPECT_EQ(atom_text(r.get()).size(), 9u);
  EXPECT_EQ(real_value(r.get()), 1.5);
  EXPECT_EQ(real_to_text(r.get()), "1.500000e+00");
  EXPECT_EQ(integer_to_double(atom("05").get()), -5.0);
  EXPECT_EQ(integer_to_double(atom("18446744073709551621").get()), 18446744073709551616.0);
  EXPECT_EQ(real_value(integer_to_real(atom("0").get()).get()), 0.0);
  EXPECT_EQ(fraction_to_double(atom("003").get()), 1.5);
  EXPECT_EQ(fraction_to_double(atom("007").get()), 3.5);
  EXPECT_EQ(fraction_to_double(atom("000").get()), -1.0);
  EXPECT_EQ(fraction_to_double(atom("0000").get()), -0.5);
  double zero = fraction_to_double(atom("00").get());
  EXPECT_EQ(std::bit_cast<uint64_t>(zero), 0u);

  EXPECT_EQ(text_of(integer_to_fraction(atom("0").get())), "00");
  EXPECT_EQ(text_of(integer_to_fraction(atom("1").get())), "001");
  EXPECT_EQ(text_of(integer_to_fraction(atom("2").get())), "004");
  EXPECT_EQ(text_of(integer_to_fraction(atom("01").get())), "000");
  EXPECT_EQ(fraction_to_double(integer_to_fraction(atom("05").get()).get()), -5.0);
  EXPECT_EQ(fraction_to_double(integer_to_fraction(atom("123456789012").get()).get()), 123456789012.0);
  // 2^64 + 5 needs 65 bits: the conversion truncates to 2^64.
  EXPECT_EQ(fraction_to_double(integer_to_fraction(atom("18446744073709551621").get()).get()),
            18446744073709551616.0);
}

// The binary fraction with the single coefficient 2^p and the given sign.
CellRef power_of_two(int64_t p, bool negative = false) {
  Natural n;
  natural_set_bit(n, 0, !negative);
  natural_set_bit(n, p >= 0 ? static_cast<uint64_t>(2 * p + 1) : static_cast<uint64_t>(-2 * p), true);
  return bits_to_value(fraction_bits(n));
}

TEST_F(Numbers, FractionRangeAndTruncation) {
  const uint64_t nan = 0x7FF9000000000000ull;
  EXPECT_EQ(std::bit_cast<uint64_t>(fraction_to_double(power_of_two(1024).get())), nan);
  EXPECT_EQ(std::bit_cast<uint64_t>(fraction_to_double(power_of_two(1024, true).get())), nan);
  EXPECT_EQ(std::bit_cast<uint64_t>(fraction_to_double(power_of_two(-1075).get())), nan);
  EXPECT_EQ(fraction_to_double(power_of_two(1023).get()), std::ldexp(1.0, 1023));
  EXPECT_EQ(fraction_to_double(power_of_two(-1074).get()), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(fraction_to_double(power_of_two(-1074, true).get()), -std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(fraction_to_double(power_of_two(-1).get()), 0.5);

  // 1 + 2^-60 and -(1 + 2^-52 + 2^-53): coefficients below the 53 kept bits
  // are dropped, toward zero.
  Natural n;
  natural_set_bit(n, 0, true);
  natural_set_bit(n, 1, true);
  natural_set_bit(n, 120, true);
  EXPECT_EQ(fraction_to_double(bits_to_value(fraction_bits(n)).get()), 1.0);
  Natural m;
  natural_set_bit(m, 1, true);
  natural_set_bit(m, 104, true);
  natural_set_bit(m, 106, true);
  EXPECT_EQ(fraction_to_double(bits_to_value(fraction_bits(m)).get()), -(1.0 + std::ldexp(1.0, -52)));
}

TEST_F(Numbers, RealToFractionIsExact) {
  EXPECT_EQ(text_of(double_to_fraction(1.5)), "003");
  EXPECT_EQ(text_of(double_to_fraction(-1.0)), "000");
  EXPECT_EQ(text_of(double_to_fraction(0.0)), "00");
  EXPECT_EQ(text_of(double_to_fraction(-0.0)), "00");
  EXPECT_EQ(text_of(double_to_fraction(std::numeric_limits<double>::infinity())), "00");
  EXPECT_EQ(text_of(double_to_fraction(std::numeric_limits<double>::quiet_NaN())), "00");
  EXPECT_EQ(text_of(real_to_fraction(make_real(2.0).get())), "004");

  std::vector<double> samples = {
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::min(),
      std::numeric_limits<double>::denorm_min(),
      std::nextafter(0.0, 1.0) * 3,
      std::numeric_limits<double>::min() - std::numeric_limits<double>::denorm_min(),
      0.1,
      1e300,
      1e-300,
      3.0,
      12345.6789};
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 3000; ++i) {
    uint64_t pattern = next_random(state);
    if (i % 3 == 0) pattern &= 0x800FFFFFFFFFFFFFull;  // subnormals
    double d = std::bit_cast<double>(pattern);
    if (std::isfinite(d) && d != 0.0) samples.push_back(d);
  }
  for (double d : samples) {
    for (double v : {d, -d}) {
      CellRef fraction = double_to_fraction(v);
      ASSERT_EQ(classify_kind(fraction.get()), ValueKind::fraction);
      ASSERT_EQ(std::bit_cast<uint64_t>(fraction_to_double(fraction.get())), std::bit_cast<uint64_t>(v))
          << v << " " << text_of(fraction);
    }
  }
}

}  // namespace
