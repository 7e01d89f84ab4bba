// real, rank and buck on hand-built redexes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "calls.h"
#include "cells/analysis.h"

namespace tove {
namespace {

using testing::atom;
using testing::call;
using testing::cons;
using testing::real_result;
using testing::text;

class Conversion : public testing::PrimitiveLeakCheck {};

double real_of(std::string_view text) { return real_result(call("real", atom(text))); }
std::string rank_of(CellRef value) { return text(call("rank", std::move(value))); }
std::string buck_of(CellRef value) { return text(call("buck", std::move(value))); }

// The bit tree of bits [low, low + width) of a pattern: leaves "K" for set
// bits and "H" for clear ones, ((V left) right) above them, bit 0 leftmost.
// `odd_leaf` replaces the leaf of that bit.
CellRef bit_tree(uint64_t pattern, int low, int width, int odd_leaf = -1, std::string_view odd = "I") {
  if (width == 1) {
    if (low == odd_leaf) return atom(odd);
    return atom((pattern >> low) & 1 ? "K" : "H");
  }
  return make_pair(make_pair(atom("V"), bit_tree(pattern, low, width / 2, odd_leaf, odd)),
                   bit_tree(pattern, low + width / 2, width / 2, odd_leaf, odd));
}

TEST_F(Conversion, RealOfNumbers) {
  EXPECT_EQ(real_of("05"), -5.0);
  EXPECT_EQ(real_of("0"), 0.0);
  EXPECT_FALSE(std::signbit(real_of("0")));
  EXPECT_EQ(real_of("003"), 1.5);
  EXPECT_EQ(real_of("123456789012345678901234567890"), 123456789012345678901234567890.0);
  EXPECT_EQ(real_result(call("real", cons("K", cons("H", atom("K"))))), -1.0);
  // A coefficient at 2^1024 is past every double.
  CellRef huge = call("powa", atom("004"), atom("1024"));
  const double nan = real_result(call("real", std::move(huge)));
  EXPECT_TRUE(std::isnan(nan));
  EXPECT_EQ(std::bit_cast<uint64_t>(nan), 0x7FF9000000000000ull);
  EXPECT_EQ(real_result(call("real", call("powa", atom("004"), atom("01074")))), std::ldexp(1.0, -1074));
  CellRef r = make_real(2.25);
  EXPECT_EQ(call("real", r.share()).get(), r.get());
}

TEST_F(Conversion, RealOfTexts) {
  EXPECT_EQ(real_of("(c)2.5"), 2.5);
  EXPECT_EQ(real_of("()"), 0.0);
  EXPECT_EQ(real_of("(c)abc"), 0.0);
  EXPECT_EQ(real_result(call("real", atom(std::string_view("(d)7\0"
                                                           "95",
                                                           7)))),
            7.0);
  EXPECT_EQ(real_of("[2.5e1]"), 25.0);
  EXPECT_EQ(real_of("[x]"), 0.0);
}

TEST_F(Conversion, RealOfBitTree) {
  for (double d : {1.5, -0.0, std::numeric_limits<double>::denorm_min(), -1e300}) {
    const uint64_t pattern = std::bit_cast<uint64_t>(d);
    EXPECT_EQ(std::bit_cast<uint64_t>(real_result(call("real", bit_tree(pattern, 0, 64)))), pattern) << d;
  }
  const uint64_t pattern = std::bit_cast<uint64_t>(1.5);
  EXPECT_EQ(text(call("real", bit_tree(pattern, 0, 64, 17))), "Z");
  EXPECT_EQ(text(call("real", bit_tree(pattern, 0, 32))), "Z");
  EXPECT_EQ(text(call("real",
                      make_pair(make_pair(atom("W"), bit_tree(pattern, 0, 32)), bit_tree(pattern, 32, 32)))),
            "Z");
  EXPECT_EQ(text(call("real", atom("K"))), "Z");
}

TEST_F(Conversion, RealOfBitTreeReadsFirstCharacters) {
  const uint64_t pattern = std::bit_cast<uint64_t>(-2.0);
  CellRef tree = bit_tree(pattern, 0, 64, 63, "Kx");
  EXPECT_EQ(std::bit_cast<uint64_t>(real_result(call("real", std::move(tree)))), pattern);
}

TEST_F(Conversion, Rank) {
  EXPECT_EQ(rank_of(atom("(c)abc")), "3");
  EXPECT_EQ(rank_of(atom("()")), "0");
  EXPECT_EQ(rank_of(make_real(1.5)), "8");
  EXPECT_EQ(rank_of(atom("12345")), "5");
  EXPECT_EQ(rank_of(atom("05")), "2");
  EXPECT_EQ(rank_of(atom("0")), "1");
  EXPECT_EQ(rank_of(atom("0000")), "4");
  EXPECT_EQ(rank_of(cons("K", cons("H", atom("K")))), "2");
  EXPECT_EQ(rank_of(atom("[abc]")), "3");
  EXPECT_EQ(rank_of(atom("[]")), "0");
  // A data pair counts its parts written out in full: "[ab" + "[c]" + "]".
  EXPECT_EQ(rank_of(make_pair(atom("[ab]"), atom("[c]"))), "5");
  EXPECT_EQ(rank_of(atom("K")), "Z");
  EXPECT_EQ(rank_of(atom("Z")), "Z");
}

TEST_F(Conversion, RankOfLargeDataPairs) {
  // Shared halves a hundred levels up: 2^100 copies of "[a]".
  CellRef shared = atom("[a]");
  for (int i = 0; i < 100; ++i) shared = make_pair(shared.share(), shared.share());
  EXPECT_EQ(rank_of(std::move(shared)), "3802951800684688204490109616126");
  // A chain a million pairs deep.
  CellRef chain = atom("[a]");
  for (int i = 0; i < 1000000; ++i) chain = make_pair(std::move(chain), atom("[b]"));
  EXPECT_EQ(rank_of(std::move(chain)), std::to_string(3 * 1000001 - 2));
}

TEST_F(Conversion, Buck) {
  EXPECT_EQ(buck_of(atom("05")), "H");
  EXPECT_EQ(buck_of(atom("0")), "K");
  EXPECT_EQ(buck_of(atom("7")), "K");
  EXPECT_EQ(buck_of(cons("K", cons("H", atom("K")))), "H");
  EXPECT_EQ(buck_of(atom("000")), "H");
  EXPECT_EQ(buck_of(atom("00")), "K");
  EXPECT_EQ(buck_of(atom("0032")), "K");
  EXPECT_EQ(buck_of(make_real(-0.0)), "K");
  EXPECT_EQ(buck_of(make_real(std::numeric_limits<double>::quiet_NaN())), "K");
  EXPECT_EQ(buck_of(make_real(-1e-300)), "H");
  EXPECT_EQ(buck_of(atom("(b)[x")), "[[q]]");
  EXPECT_EQ(buck_of(atom("(a)]")), "[[r]]");
  EXPECT_EQ(buck_of(atom("(a)\n")), "[[p]]");
  EXPECT_EQ(buck_of(atom("(a)x")), "[x]");
  EXPECT_EQ(buck_of(atom("()")), "Z");
  EXPECT_EQ(buck_of(atom("[ab]")), "[a]");
  EXPECT_EQ(buck_of(make_pair(atom("[ab]"), atom("[c]"))), "[ab]");
  EXPECT_EQ(buck_of(atom("[]")), "Z");
  EXPECT_EQ(buck_of(atom("H")), "Z");
}

}  // namespace
}  // namespace tove
