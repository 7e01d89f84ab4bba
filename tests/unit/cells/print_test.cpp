#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cells/cell.h"
#include "cells/interrupt.h"
#include "cells/memory.h"
#include "cells/print.h"
#include "leak_check.h"

using namespace tove;

namespace {

class Printer : public LeakCheck {};

CellRef atom(std::string_view text) { return make_atom(text); }
CellRef app(CellRef f, CellRef x) { return make_pair(std::move(f), std::move(x)); }
CellRef app(std::string_view f, std::string_view x) { return app(atom(f), atom(x)); }

std::string print(const CellRef& c) { return print_expression(c.get()); }

CellRef real_atom(double value) {
  std::string text(9, ' ');
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) text[1 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return make_atom(text);
}

TEST_F(Printer, MarkersPrintAsEmptyParentheses) {
  for (const char* text : {"", ")", "]", ")count", "]missing"}) {
    EXPECT_EQ(print(atom(text)), "()") << text;
  }
  EXPECT_EQ(print(atom("plus")), "plus");
  EXPECT_EQ(print(atom("[a b]")), "[a b]");
  EXPECT_EQ(print(atom("05")), "05");
}

// A requested interrupt stops the printing of a long form, and of the copy
// of a long text into an atom, without keeping any cell; cleared, both work.
TEST_F(Printer, InterruptStopsLongFormsAndTexts) {
  CellRef chain = atom("x");
  for (int i = 0; i < 100000; ++i) chain = app(atom("f"), std::move(chain));
  const std::string long_text(size_t{8} << 20, 'a');
  request_interrupt();
  EXPECT_THROW(print(chain), Interrupted);
  EXPECT_THROW(make_atom(long_text), Interrupted);
  clear_interrupt();
  std::string expected;
  for (int i = 0; i < 100000; ++i) expected += "(f ";
  expected += "x" + std::string(100000, ')');
  EXPECT_EQ(print(chain), expected);
  EXPECT_EQ(atom_text(make_atom(long_text).get()), long_text);
}

TEST_F(Printer, RealsAndByteStrings) {
  EXPECT_EQ(print(real_atom(1.5)), "real[1.500000e+00]");
  EXPECT_EQ(print(real_atom(-0.0)), "real[-0.000000e+00]");
  EXPECT_EQ(print(make_atom(std::string_view("(c)a\n[", 6))), "cape[a[p][q]]");
  EXPECT_EQ(print(make_atom(std::string_view("(c)]\0b", 6))), std::string("cape[[r]\0b]", 11));
  EXPECT_EQ(print(atom("()")), "cape[]");
}

TEST_F(Printer, JuxtapositionExamples) {
  EXPECT_EQ(print(app(app("S", "K"), atom("K"))), "SKK");
  EXPECT_EQ(print(app(app("plus", "x"), atom("y"))), "(plus x y)");
  EXPECT_EQ(print(app("K", "12")), "K12");
  EXPECT_EQ(print(app(app("g", "x"), atom("12"))), "(g x 12)");
  EXPECT_EQ(print(app("plus", "[ab]")), "plus[ab]");
  EXPECT_EQ(print(app("12", "3")), "(12 3)");
  EXPECT_EQ(print(app(atom("K"), app(app("plus", "x"), atom("y")))), "(K (plus x y))");
  EXPECT_EQ(print(app("[ab]", "[cd]")), "[ab][cd]");
  EXPECT_EQ(print(app("x", "1")), "x1");
  EXPECT_EQ(print(app("1", "x")), "1x");
}

TEST_F(Printer, EmptyParenthesesAreNotAnOpenCall) {
  CellRef call = app("", "x");
  EXPECT_EQ(print(call), "()x");
  EXPECT_EQ(print(app(std::move(call), atom("y"))), "(()x y)");
  // A real open call is extended by any argument, a text literal included.
  EXPECT_EQ(print(app(app(app("g", "x"), atom("y")), atom("[ab]"))), "(g x y [ab])");
}

TEST_F(Printer, UnderscoreAndDigitJoints) {
  EXPECT_EQ(print(app("a_", "b")), "(a_ b)");
  EXPECT_EQ(print(app("a_", "12")), "a_12");
  EXPECT_EQ(print(app("x", "_")), "(x _)");
  EXPECT_EQ(print(app("7", "K")), "7K");
}

TEST_F(Printer, TextArgumentMustBeOneBracketGroup) {
  EXPECT_EQ(print(app(atom("K"), app("[a]", "[b]"))), "(K [a][b])");
  EXPECT_EQ(print(app("K", "[a[b]c]")), "K[a[b]c]");
  // Texts whose first bracket closes early or never do not count as one
  // group; neither are they single tokens.
  EXPECT_EQ(print(app("K", "[b]]")), "(K [b]])");
  EXPECT_EQ(print(app("K", "[[a]")), "(K [[a])");
  // A single "[" is a one-character token.
  EXPECT_EQ(print(app("K", "[")), "K[");
}

// A complete binary tree of fresh cells, no part shared.
CellRef fresh_tree(int depth) {
  if (depth == 0) return atom("K");
  return app(fresh_tree(depth - 1), fresh_tree(depth - 1));
}

TEST_F(Printer, SharedSubexpressionsPrintAtEveryOccurrence) {
  constexpr int kDepth = 14;
  CellRef shared = atom("K");
  for (int i = 0; i < kDepth; ++i) shared = make_pair(shared.get(), shared.get());
  std::string text = print(shared);
  EXPECT_EQ(text, print(fresh_tree(kDepth)));
  EXPECT_EQ(text.substr(0, 8), "(KK KK (");
  EXPECT_EQ(print(fresh_tree(3)), "(KK KK (KK KK))");
}

// The rules applied directly to whole strings, for small expressions.
std::string reference_print(const Cell* c) {
  if (is_atom(c)) return print_expression(c);  // atoms are checked above
  std::string l = reference_print(pair_left(c));
  std::string r = reference_print(pair_right(c));
  if (l[0] == '(' && l.size() >= 2 && l[1] != ')') return l.substr(0, l.size() - 1) + " " + r + ")";
  if (r[0] == '[') {
    int depth = 0;
    size_t match = std::string::npos;
    for (size_t i = 0; i < r.size() && match == std::string::npos; ++i) {
      depth += r[i] == '[' ? 1 : r[i] == ']' ? -1 : 0;
      if (depth == 0) match = i;
    }
    if (match == r.size() - 1) return l + r;
  }
  auto word = [](char ch) { return ch == '_' || (ch >= 'a' && ch <= 'z'); };
  auto digit = [](char ch) { return ch >= '0' && ch <= '9'; };
  bool all_word = true, all_digit = true;
  for (char ch : r) {
    all_word = all_word && word(ch);
    all_digit = all_digit && digit(ch);
  }
  if (r.size() == 1 || all_word || all_digit) {
    char e = l.back();
    if ((word(e) && word(r[0])) || (digit(e) && digit(r[0]))) return "(" + l + " " + r + ")";
    return l + r;
  }
  return "(" + l + " " + r + ")";
}

TEST_F(Printer, AgreesWithTheRulesOnRandomExpressions) {
  const std::vector<std::string> texts = {"",     "K",    "x", "a_",  "_",      "12",    "0",    "[a]",
                                          "[b]]", "[[a]", "[", "[]",  "[a[b]]", "(b)[x", "plus", "S",
                                          "]m",   "+",    "7", "ab9", "Z",      "[p]q"};
  uint64_t state = 0x2545F4914F6CDD1Dull;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int round = 0; round < 3000; ++round) {
    // A random expression of up to 12 leaves, built bottom-up from a pool.
    std::vector<CellRef> pool;
    size_t leaves = 1 + next() % 12;
    for (size_t i = 0; i < leaves; ++i) pool.push_back(make_atom(texts[next() % texts.size()]));
    while (pool.size() > 1) {
      size_t i = next() % (pool.size() - 1);
      CellRef joined = make_pair(std::move(pool[i]), std::move(pool[i + 1]));
      pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      pool[i] = std::move(joined);
    }
    ASSERT_EQ(print(pool[0]), reference_print(pool[0].get()));
  }
}

TEST_F(Printer, MillionDeepLeftSpineIsOneOpenCall) {
  constexpr int kDepth = 1000000;
  CellRef e = atom("f");
  CellRef a = atom("a");
  for (int i = 0; i < kDepth; ++i) e = make_pair(e.get(), a.get());
  std::string expected = "(f";
  for (int i = 0; i < kDepth; ++i) expected += " a";
  expected += ")";
  EXPECT_EQ(print(e), expected);
}

TEST_F(Printer, MillionDeepRightSpineNestsParentheses) {
  constexpr int kDepth = 1000000;
  CellRef k = atom("K");
  CellRef e = atom("x");
  for (int i = 0; i < kDepth; ++i) e = make_pair(k.get(), e.get());
  std::string expected;
  for (int i = 1; i < kDepth; ++i) expected += "(K ";
  expected += "Kx";
  expected.append(kDepth - 1, ')');
  EXPECT_EQ(print(e), expected);
}

}  // namespace

namespace {

// ((V k) k) nested `depth` times over [a]; shared parts when `shared`.
tove::CellRef tower(int depth, bool shared) {
  using namespace tove;
  if (depth == 0) return make_atom("[a]");
  CellRef left = tower(depth - 1, shared);
  CellRef right = shared ? left.share() : tower(depth - 1, shared);
  return make_pair(make_pair(make_atom("V"), std::move(left)), std::move(right));
}

TEST(PrintSize, SharedPartsPrintAsEveryOccurrence) {
  tove::CellRef shared = tower(10, true);
  tove::CellRef plain = tower(10, false);
  const std::string printed = tove::print_expression(shared.get());
  EXPECT_EQ(printed, tove::print_expression(plain.get()));
  EXPECT_GT(printed.size(), size_t{3} << 10);
}

TEST(PrintSize, AFormLongerThanMemoryIsOutOfMemoryAtOnce) {
  tove::CellRef huge = tower(70, true);
  EXPECT_THROW(tove::print_expression(huge.get()), std::bad_alloc);
  tove::CellRef big = tower(16, true);
  tove::set_memory_ceiling(tove::memory_in_use() + (size_t{1} << 16));
  EXPECT_THROW(tove::print_expression(big.get()), std::bad_alloc);
  tove::set_memory_ceiling(tove::kNoMemoryCeiling);
  EXPECT_GT(tove::print_expression(big.get()).size(), size_t{1} << 16);
}

}  // namespace
