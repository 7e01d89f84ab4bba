#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "cells/cell.h"
#include "cells/encoding.h"
#include "cells/print.h"
#include "leak_check.h"
#include "numbers/family.h"
#include "numbers/numbers.h"
#include "numbers/trees.h"
#include "prims/family.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

class Convert : public LeakCheck {};

template <class... Args>
CellRef call(std::string_view name, Args&&... args) {
  CellRef redex = make_atom(name);
  ((redex = make_pair(std::move(redex), std::forward<Args>(args))), ...);
  for (const BuiltinSpec& member : structure_family()) {
    if (member.name != name) continue;
    EXPECT_EQ(member.arity, sizeof...(args)) << name;
    return member.handler(std::move(redex));
  }
  ADD_FAILURE() << "no handler for " << name;
  return make_atom("?");
}

std::string show(const CellRef& c) { return print_expression(c.get()); }
std::string text(const CellRef& c) { return std::string(atom_text(c.get())); }
CellRef atom(std::string_view t) { return make_atom(t); }
CellRef num(int64_t value) { return integer_from_int64(value); }

CellRef bytes(std::string_view b) { return byte_string_atom(b); }

// V (X J) c
CellRef wrapped(CellRef contents) { return make_pair(sexpr("(V (X J))"), std::move(contents)); }

// The bit tree of a byte: root (J (J b0 b1) (J b2 b3)) (J (J b4 b5) (J b6 b7)),
// leaves I and H.
CellRef bit_tree(unsigned char byte, const char* root, const char* leaf_set = "I") {
  auto bit = [&](int i) { return atom((byte >> i) & 1 ? leaf_set : "H"); };
  auto j = [](CellRef x, CellRef y) { return make_pair(make_pair(atom("J"), std::move(x)), std::move(y)); };
  CellRef low = j(j(bit(0), bit(1)), j(bit(2), bit(3)));
  CellRef high = j(j(bit(4), bit(5)), j(bit(6), bit(7)));
  return make_pair(make_pair(atom(root), std::move(low)), std::move(high));
}

CellRef concat(CellRef a, CellRef b) { return make_pair(make_pair(atom("J"), std::move(a)), std::move(b)); }

TEST_F(Convert, ZitsMakesTexts) {
  EXPECT_EQ(text(call("zits", num(97))), "[a]");
  EXPECT_EQ(text(call("zits", num(91))), "[[q]]");
  EXPECT_EQ(text(call("zits", num(93))), "[[r]]");
  EXPECT_EQ(text(call("zits", num(300))), "[,]");
  EXPECT_EQ(text(call("zits", num(-1))), "[\xff]");
  // 10, a newline, given as a list form: [1, 1, 0, 1, 0].
  EXPECT_EQ(text(call("zits", sexpr("(J K (J K (J H (J K (J H K)))))"))), "[\n]");
  EXPECT_EQ(text(call("zits", atom("003"))), "Z");
  EXPECT_EQ(text(call("zits", bytes("]["))), "Z");
  EXPECT_EQ(text(call("zits", bytes("["))), "Z");
  EXPECT_EQ(text(call("zits", bytes("a\nb"))), "Z");
  EXPECT_EQ(text(call("zits", bytes("[]"))), "[[]]");
  EXPECT_EQ(text(call("zits", bytes(""))), "[]");
  EXPECT_EQ(text(call("zits", make_real(1.5))), "[1.500000e+00]");
  CellRef literal = atom("[a[b]]");
  EXPECT_EQ(call("zits", literal.share()).get(), literal.get());
  EXPECT_EQ(text(call("zits", sexpr("([a] [b])"))), "[a[b]]");
  EXPECT_EQ(text(call("zits", atom("K"))), "Z");
}

TEST_F(Convert, ZitsReadsWrappedForms) {
  EXPECT_EQ(text(call("zits", wrapped(atom("K")))), "[]");
  EXPECT_EQ(text(call("zits", wrapped(sexpr("(J K K)")))), "[[]]");
  // The form a data node passes to a function gives its text back.
  for (const char* t : {"[]", "[ab]", "[a[bc]]", "[[x][]z]", "[[[[]]]]"}) {
    CellRef literal = atom(t);
    EXPECT_EQ(text(call("zits", wrapped(tree_form(literal.get())))), t) << t;
  }
  // Only the first character of the tag atoms is looked at.
  EXPECT_EQ(text(call("zits", make_pair(sexpr("(Vv (Xx Jj))"), atom("Kk")))), "[]");
  EXPECT_EQ(text(call("zits", wrapped(atom("H")))), "Z");
  EXPECT_EQ(text(call("zits", wrapped(sexpr("(J K H)")))), "Z");
  EXPECT_EQ(text(call("zits", wrapped(sexpr("(V K K)")))), "Z");
  EXPECT_EQ(text(call("zits", make_pair(sexpr("(V (X K))"), atom("K")))), "Z");
}

TEST_F(Convert, MillionDeepForms) {
  constexpr size_t kCount = 1000000;
  // A flat text of a million characters has a tree form a million deep.
  const std::string flat = "[" + std::string(kCount, 'x') + "]";
  CellRef literal = atom(flat);
  EXPECT_EQ(text(call("zits", wrapped(tree_form(literal.get())))), flat);
  // A list form of a million elements, rebuilt with its tail converted.
  CellRef list = atom("5");
  for (size_t i = 0; i < kCount; ++i)
    list = make_pair(make_pair(atom("J"), atom(i % 3 ? "H" : "K")), std::move(list));
  CellRef converted = call("lots", list.share());
  size_t length = 0;
  const Cell* c = converted.get();
  for (; is_pair(c); c = pair_right(c)) ++length;
  EXPECT_EQ(length, kCount + 4);
  EXPECT_EQ(show(call("look", list.share(), num(kCount + 2))), "K");
  EXPECT_EQ(show(call("look", list.share(), num(kCount + 3))), "H");
  EXPECT_EQ(show(call("look", converted.share(), num(-static_cast<int64_t>(kCount) - 4))), "K");
}

TEST_F(Convert, InitMakesByteStrings) {
  CellRef one = make_real(1.0);
  const uint64_t pattern = std::bit_cast<uint64_t>(1.0);
  CellRef eight = call("init", one.share());
  ASSERT_EQ(byte_string_contents(eight.get()).size(), 8u);
  uint64_t back;
  std::memcpy(&back, byte_string_contents(eight.get()).data(), 8);
  EXPECT_EQ(back, pattern);

  EXPECT_EQ(show(call("init", num(300))), "cape[,]");
  EXPECT_EQ(text(call("init", num(-1))), "(a)\xff");
  CellRef same = bytes("xy");
  EXPECT_EQ(call("init", same.share()).get(), same.get());
  EXPECT_EQ(show(call("init", atom("003"))), "Z");
  EXPECT_EQ(show(call("init", atom("[a[b]]"))), "cape[a[q]b[r]]");
  EXPECT_EQ(show(call("init", sexpr("([a] [b])"))), "cape[a[q]b[r]]");
  EXPECT_EQ(show(call("init", atom("H"))), "Z");
}

TEST_F(Convert, InitReadsByteLists) {
  EXPECT_EQ(text(call("init", atom("K"))), "()");
  EXPECT_EQ(show(call("init", bit_tree('a', "J"))), "cape[a]");
  // The evaluator opens a one-byte string into a tree with V at its root.
  EXPECT_EQ(show(call("init", bit_tree('a', "V"))), "cape[a]");
  EXPECT_EQ(text(call("init", bit_tree(0xA5, "J"))), "(a)\xa5");
  EXPECT_EQ(show(call("init", concat(bit_tree('a', "V"), concat(bit_tree('b', "J"), atom("K"))))),
            "cape[ab]");
  EXPECT_EQ(show(call("init", concat(atom("K"), bit_tree('z', "J")))), "cape[z]");
  // A leaf that is neither I nor H, a lower node without J, and a shape
  // that is no byte list.
  EXPECT_EQ(show(call("init", bit_tree('a', "J", "K"))), "Z");
  EXPECT_EQ(show(call("init", bit_tree('a', "X"))), "Z");
  CellRef odd = bit_tree('a', "J");
  EXPECT_EQ(
      show(call("init", make_pair(make_pair(atom("J"), sexpr("(V (J I I) (J I I))")), right_of(odd.get())))),
      "Z");
  EXPECT_EQ(show(call("init", concat(atom("K"), atom("H")))), "Z");
  // ((J K) K) is the integer zero before it is a list of no bytes.
  EXPECT_EQ(text(call("init", sexpr("(J K K)"))), std::string("(a)\0", 4));
  // When its elements make no integer, it is read as a byte list.
  EXPECT_EQ(show(call("init", concat(atom("K"), concat(bit_tree('q', "J"), atom("K"))))), "cape[q]");
}

TEST_F(Convert, InitOfAMillionBytesDeep) {
  constexpr int kCount = 1000000;
  CellRef byte = bit_tree('x', "J");
  CellRef list = atom("K");
  for (int i = 0; i < kCount; ++i) list = concat(byte.share(), std::move(list));
  CellRef result = call("init", std::move(list));
  EXPECT_EQ(byte_string_contents(result.get()), std::string(kCount, 'x'));
}

TEST_F(Convert, LotsOfNumbers) {
  EXPECT_EQ(show(call("lots", num(5))), show(sexpr("(J K (J K (J K (J H K))))")));
  EXPECT_EQ(show(call("lots", num(0))), show(sexpr("(J K K)")));
  EXPECT_EQ(show(call("lots", atom("003"))), show(sexpr("(J H (J K (J K K)))")));
  // A list form keeps its elements and has its tail converted.
  EXPECT_EQ(show(call("lots", sexpr("(J K (J H 5))"))), show(sexpr("(J K (J H (J K (J K (J K (J H K))))))")));
  CellRef done = sexpr("(J K (J H K))");
  EXPECT_EQ(call("lots", done.share()).get(), done.get());
  EXPECT_EQ(show(call("lots", sexpr("(J K (J X K))"))), "Z");
  CellRef k = atom("Kx");
  EXPECT_EQ(call("lots", k.share()).get(), k.get());
  EXPECT_EQ(show(call("lots", atom("H"))), "Z");
}

TEST_F(Convert, LotsOfAReal) {
  CellRef list = call("lots", make_real(-1.0));
  const uint64_t pattern = std::bit_cast<uint64_t>(-1.0);
  const Cell* c = list.get();
  for (int i = 0; i < 64; ++i) {
    ASSERT_TRUE(is_list_form(c)) << i;
    EXPECT_EQ(atom_text(pair_right(pair_left(c))), (pattern >> i) & 1 ? "K" : "H") << i;
    c = pair_right(c);
  }
  EXPECT_TRUE(atom_is(c, "K"));
  // lits of that list is a bit-list atom, not the real: the first bit of
  // -1.0 is clear, so it is a binary fraction.
  CellRef compact = call("lits", list.share());
  EXPECT_EQ(classify_kind(compact.get()), ValueKind::fraction);
}

// The tree a real opens into when applied: its bits b0 .. b63 as K (set)
// and H (clear), paired by V level by level, lower bits on the left.
CellRef real_bit_tree(uint64_t pattern) {
  std::vector<CellRef> level;
  for (int i = 0; i < 64; ++i) level.push_back(atom((pattern >> i) & 1 ? "K" : "H"));
  while (level.size() > 1) {
    std::vector<CellRef> next;
    for (size_t i = 0; i < level.size(); i += 2) {
      next.push_back(make_pair(make_pair(atom("V"), std::move(level[i])), std::move(level[i + 1])));
    }
    level = std::move(next);
  }
  return std::move(level[0]);
}

// The leaves of a complete binary tree, left to right.
std::string leaves(const Cell* tree) {
  std::string out;
  std::vector<const Cell*> pending{tree};
  while (!pending.empty()) {
    const Cell* c = pending.back();
    pending.pop_back();
    if (is_atom(c)) {
      out += atom_text(c);
      continue;
    }
    pending.push_back(pair_right(c));
    pending.push_back(pair_right(pair_left(c)));
  }
  return out;
}

TEST_F(Convert, RealsBitTreeListAndLookAgree) {
  for (uint64_t pattern : {std::bit_cast<uint64_t>(1.5), std::bit_cast<uint64_t>(-0.0), uint64_t{1},
                           uint64_t{0x7FF0000000000001}, std::bit_cast<uint64_t>(-1e300)}) {
    CellRef tree = real_bit_tree(pattern);
    const std::string bits = leaves(tree.get());
    // `real` of the tree gives the real back.
    ASSERT_EQ(number_family()[12].name, "real");
    CellRef real = number_family()[12].handler(make_pair(atom("real"), std::move(tree)));
    ASSERT_EQ(classify_kind(real.get()), ValueKind::real);
    EXPECT_EQ(real_pattern(real.get()), pattern);
    // `lots` lists the bits in the tree's leaf order, and `look` reads them.
    CellRef list = call("lots", real.share());
    std::string listed;
    std::string looked;
    for (const Cell* c = list.get(); is_pair(c); c = pair_right(c))
      listed += atom_text(pair_right(pair_left(c)));
    for (int i = 0; i < 64; ++i) looked += text(call("look", real.share(), num(i)));
    EXPECT_EQ(listed, bits);
    EXPECT_EQ(looked, bits);
  }
}

TEST_F(Convert, LotsOfByteStrings) {
  EXPECT_EQ(show(call("lots", bytes(""))), "K");
  // B = 5, no trailing zero byte: R = 11, the elements 1, 1, 0.
  EXPECT_EQ(show(call("lots", bytes("\x05"))), show(sexpr("(J K (J K (J H K)))")));
  // One trailing zero byte: R = 2 * 11 = 22, the elements 0, 1, 1, 0.
  EXPECT_EQ(show(call("lots", bytes(std::string("\x05\0", 2)))), show(sexpr("(J H (J K (J K (J H K))))")));
  // A last byte that is not zero: B = 0x0500, R = 2561 = 4 * 640 + 1, so
  // the integer -640.
  EXPECT_EQ(show(call("lits", call("lots", bytes(std::string("\0\x05", 2))))), "0640");
  // Only zero bytes: R = 2^t.
  EXPECT_EQ(show(call("lots", bytes(std::string("\0\0", 2)))), show(sexpr("(J H (J H K))")));
}

// The trees of two data nodes are the same tree.
void expect_same_tree(const CellRef& a, const CellRef& b) {
  EXPECT_EQ(print_expression(tree_form(a.get()).get()), print_expression(tree_form(b.get()).get()))
      << print_expression(a.get());
}

TEST_F(Convert, LotsOfTexts) {
  EXPECT_EQ(text(call("lots", atom("[]"))), "[]");
  // A last part that is a character's tree keeps the text.
  EXPECT_EQ(text(call("lots", atom("[ab]"))), "[ab]");
  EXPECT_EQ(show(call("lots", atom("[a[bc]]"))), show(sexpr("([a] [bc])")));
  EXPECT_EQ(show(call("lots", atom("[[x][y]]"))), show(sexpr("(([] [x]) [y])")));
  EXPECT_EQ(show(call("lots", atom("[a\n]"))), show(sexpr("([a] [])")));
  std::string spelled = "[a" + numbered_tree(200) + "]";
  EXPECT_EQ(text(call("lots", atom(spelled))), spelled);
  EXPECT_EQ(show(call("lots", sexpr("([a] [bc])"))), show(sexpr("([a] [bc])")));
  for (const char* t : {"[a[bc]]", "[[x][y]]", "[a\n]", "[[[a]b][]c[d[e]]]", "[b]]", "[[a]"}) {
    CellRef literal = atom(t);
    expect_same_tree(call("lots", literal.share()), literal);
  }
}

TEST_F(Convert, LotsOfAMillionNestedBrackets) {
  constexpr size_t kDepth = 1000000;
  std::string nested(kDepth, '[');
  nested.append(kDepth, ']');
  CellRef result = call("lots", atom(nested));
  // Each level is the empty leading part with the next level as last part.
  const Cell* c = result.get();
  size_t depth = 0;
  while (is_pair(c)) {
    ASSERT_TRUE(atom_is(pair_left(c), "[]"));
    c = pair_right(c);
    ++depth;
  }
  EXPECT_EQ(depth, kDepth - 1);
  EXPECT_TRUE(atom_is(c, "[]"));
}

TEST_F(Convert, LitsMakesCompactForms) {
  EXPECT_EQ(show(call("lits", atom("[a]"))), "97");
  EXPECT_EQ(show(call("lits", atom("[[q]]"))), "91");
  EXPECT_EQ(show(call("lits", atom("[[r]]"))), "93");
  EXPECT_EQ(show(call("lits", atom("[[p]]"))), "Z");
  EXPECT_EQ(show(call("lits", atom("[ab]"))), "Z");
  EXPECT_EQ(show(call("lits", atom("[]"))), "Z");
  EXPECT_EQ(show(call("lits", bytes("\xff"))), "255");
  EXPECT_EQ(show(call("lits", bytes("ab"))), "Z");
  EXPECT_EQ(show(call("lits", make_real(1.5))), "003");
  EXPECT_EQ(show(call("lits", make_real(-0.0))), "00");
  EXPECT_EQ(show(call("lits", make_real(std::numeric_limits<double>::infinity()))), "Z");
  EXPECT_EQ(show(call("lits", make_real(std::numeric_limits<double>::quiet_NaN()))), "Z");
  EXPECT_EQ(show(call("lits", sexpr("(J K (J H K))"))), "01");
  // [1, 0] followed by the elements of 5, [1, 1, 1, 0]: R = 93, so -23.
  EXPECT_EQ(show(call("lits", sexpr("(J K (J H 5))"))), "023");
  EXPECT_EQ(show(call("lits", sexpr("(J K (J X K))"))), "Z");
  EXPECT_EQ(show(call("lits", atom("K"))), "Z");
  CellRef same = atom("12");
  EXPECT_EQ(call("lits", same.share()).get(), same.get());
}

TEST_F(Convert, LotsThenLitsRestoresNumbers) {
  for (const char* n : {"0", "1", "01", "5", "05", "255", "18446744073709551621",
                        "0123456789012345678901234567890", "00", "000", "003", "007", "0000"}) {
    EXPECT_EQ(text(call("lits", call("lots", atom(n)))), n) << n;
  }
  // And a one-character text and its integer.
  for (int b : {0, 10, 91, 93, 97, 255}) {
    EXPECT_EQ(show(call("lits", call("zits", num(b)))), std::to_string(b)) << b;
  }
}

TEST_F(Convert, TrimCutsSlices) {
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(1), num(3))), "[bc]");
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(-1), num(4))), "[d]");
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(2), num(1))), "Z");
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(2), num(2))), "[]");
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(0), num(5))), "Z");
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(-5), num(2))), "Z");
  EXPECT_EQ(text(call("trim", atom("[abcd]"), num(-4), num(-2))), "[ab]");
  // A slice must not cut a bracketed element in half.
  EXPECT_EQ(text(call("trim", atom("[a[bc]d]"), num(1), num(3))), "Z");
  EXPECT_EQ(text(call("trim", atom("[a[bc]d]"), num(2), num(5))), "Z");
  EXPECT_EQ(text(call("trim", atom("[a[bc]d]"), num(1), num(5))), "[[bc]]");
  EXPECT_EQ(text(call("trim", sexpr("([a] [bc])"), num(1), num(5))), "[[bc]]");

  EXPECT_EQ(show(call("trim", bytes("a[cd"), num(1), num(3))), "cape[[q]c]");
  EXPECT_EQ(text(call("trim", bytes("abcd"), num(3), num(3))), "()");
  EXPECT_EQ(text(call("trim", bytes("abcd"), num(3), atom("99999999999999999999"))), "Z");
  EXPECT_EQ(text(call("trim", bytes("abcd"), atom("003"), num(3))), "Z");
  EXPECT_EQ(text(call("trim", num(1234), num(0), num(1))), "Z");
}

}  // namespace
