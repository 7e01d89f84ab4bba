#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cells/cell.h"
#include "cells/print.h"
#include "leak_check.h"
#include "numbers/trees.h"

using namespace tove;

namespace {

class Trees : public LeakCheck {};

CellRef atom(std::string_view text) { return make_atom(text); }
CellRef pair(CellRef a, CellRef b) { return make_pair(std::move(a), std::move(b)); }
std::string text_of(const CellRef& c) { return std::string(atom_text(c.get())); }
std::string form_of(const CellRef& c) { return print_expression(tree_form(c.get()).get()); }

TEST_F(Trees, Numbering) {
  EXPECT_EQ(numbered_tree(0), "[]");
  EXPECT_EQ(numbered_tree(1), "[[]]");
  EXPECT_EQ(numbered_tree(2), "[[][]]");
  EXPECT_EQ(numbered_tree(3), "[[[]]]");
  std::set<std::string> distinct;
  for (unsigned a = 0; a <= kMaxTreeNumber; ++a) {
    const std::string& tree = numbered_tree(a);
    EXPECT_EQ(tree.find_first_not_of("[]"), std::string::npos);
    distinct.insert(tree);
  }
  EXPECT_EQ(distinct.size(), kMaxTreeNumber + 1);
}

TEST_F(Trees, NumbersAboveTheLimitAreFatal) {
  EXPECT_DEATH(numbered_tree(kMaxTreeNumber + 1), "ASSERTION FAILED");
}

TEST_F(Trees, CharacterTableIsOneMapBothWays) {
  std::set<std::string> trees;
  for (unsigned byte = 0; byte < 256; ++byte) {
    std::string_view tree = character_tree(static_cast<unsigned char>(byte));
    if (byte == '\n' || byte == '[' || byte == ']') {
      EXPECT_TRUE(tree.empty()) << byte;
      continue;
    }
    ASSERT_FALSE(tree.empty()) << byte;
    EXPECT_EQ(tree_character(tree), static_cast<int>(byte));
    trees.insert(std::string(tree));
  }
  // 253 different trees, all among tree(145) .. tree(400); the three
  // positions of newline, "[" and "]" (245, 246, 247) abbreviate nothing.
  EXPECT_EQ(trees.size(), 253u);
  for (unsigned position = 0; position < 256; ++position) {
    const std::string& tree = numbered_tree(position + 145);
    bool reserved = position >= 245 && position <= 247;
    EXPECT_EQ(trees.count(tree), reserved ? 0u : 1u) << position;
    if (reserved) {
      EXPECT_EQ(tree_character(tree), -1);
    }
  }
  EXPECT_EQ(character_tree('b'), numbered_tree(200));
  EXPECT_EQ(character_tree(0x97), numbered_tree(145));
  EXPECT_EQ(character_tree(0x96), numbered_tree(400));
  EXPECT_EQ(tree_character("[]"), -1);
  EXPECT_EQ(tree_character("[a]"), -1);
}

TEST_F(Trees, LeadingAndLastParts) {
  CellRef ab = atom("[ab]");
  EXPECT_EQ(text_of(tree_leading(ab.get())), "[a]");
  EXPECT_EQ(text_of(tree_last(ab.get())), numbered_tree(200));

  CellRef grouped = atom("[a[bc]]");
  EXPECT_EQ(text_of(tree_leading(grouped.get())), "[a]");
  EXPECT_EQ(text_of(tree_last(grouped.get())), "[bc]");

  CellRef a = atom("[a]");
  CellRef b = atom("[b]");
  CellRef p = make_pair(a.get(), b.get());
  EXPECT_EQ(tree_leading(p.get()).get(), a.get());
  EXPECT_EQ(tree_last(p.get()).get(), b.get());

  EXPECT_TRUE(tree_is_empty(atom("[]").get()));
  EXPECT_FALSE(tree_is_empty(a.get()));
  EXPECT_FALSE(tree_is_empty(p.get()));
}

TEST_F(Trees, IllFormedLiteralsStillShrink) {
  // An unbalanced "]" is a character of its own; characters that abbreviate
  // nothing stand for the empty tree.
  struct Case {
    const char* text;
    const char* leading;
    const char* last;
  };
  for (const Case& c : {Case{"[b]]", "[b]", "[]"}, Case{"[]]", "[]", "[]"}, Case{"[a[]", "[a]", "[]"},
                        Case{"[a\n]", "[a]", "[]"}, Case{"[[a]", "[[]", numbered_tree(199).c_str()}}) {
    CellRef literal = atom(c.text);
    EXPECT_EQ(text_of(tree_leading(literal.get())), c.leading) << c.text;
    EXPECT_EQ(text_of(tree_last(literal.get())), c.last) << c.text;
  }
}

// The form of a node is ((J form(leading)) form(last)).
void expect_form_decomposes(const char* text) {
  CellRef node = make_atom(text);
  CellRef built = make_pair(make_pair(make_atom("J"), tree_form(tree_leading(node.get()).get())),
                            tree_form(tree_last(node.get()).get()));
  EXPECT_EQ(form_of(node), print_expression(built.get())) << text;
}

TEST_F(Trees, FormsFollowTheDecomposition) {
  EXPECT_EQ(form_of(atom("[]")), "K");
  EXPECT_EQ(form_of(atom("[[]]")), "JKK");
  EXPECT_EQ(form_of(atom("[[][]]")), "(J JKK K)");
  for (const char* text : {"[ab]", "[a[bc]]", "[[q]x[]]", "[b]]", "[a[]", "[a\n]", "[[a]", "[[[]]]"}) {
    expect_form_decomposes(text);
  }
  // A data pair has the form of its written text.
  CellRef p = pair(pair(atom("[a]"), atom("[bc]")), atom(numbered_tree(200)));
  EXPECT_EQ(form_of(p), form_of(atom(tree_text(p.get()))));
}

TEST_F(Trees, WrittenFormOfDataPairs) {
  EXPECT_EQ(tree_text(atom("[a[b]]").get()), "[a[b]]");
  EXPECT_EQ(tree_text(pair(atom("[a]"), atom("[b]")).get()), "[a[b]]");
  EXPECT_EQ(tree_text(pair(atom("[a]"), atom(numbered_tree(200))).get()), "[ab]");
  EXPECT_EQ(tree_text(pair(atom("[]"), atom("[]")).get()), "[[]]");
  // The right side is abbreviated when the tree it writes is a character's,
  // however it is built.
  CellRef b_as_pair = pair(atom("[[[[][]][[]]]]"), atom("[]"));
  ASSERT_EQ(tree_text(b_as_pair.get()), numbered_tree(200));
  EXPECT_EQ(tree_text(pair(atom("[x]"), std::move(b_as_pair)).get()), "[xb]");
}

// Equal shapes and equal atom texts, compared without recursion. A pair of
// shared cells is compared once: a later meeting is equal if the first
// comparison succeeds, and a failure ends the whole comparison.
bool same_structure(const Cell* a, const Cell* b) {
  std::vector<std::pair<const Cell*, const Cell*>> pending{{a, b}};
  std::set<std::pair<const Cell*, const Cell*>> seen;
  while (!pending.empty()) {
    auto [x, y] = pending.back();
    pending.pop_back();
    if (x == y) continue;
    if (is_atom(x) || is_atom(y)) {
      if (!(is_atom(x) && is_atom(y) && atom_text(x) == atom_text(y))) return false;
      continue;
    }
    if (ref_count(x) > 1 && ref_count(y) > 1 && !seen.insert({x, y}).second) continue;
    pending.push_back({pair_left(x), pair_left(y)});
    pending.push_back({pair_right(x), pair_right(y)});
  }
  return true;
}

bool same_form(const CellRef& a, const CellRef& b) {
  return same_structure(tree_form(a.get()).get(), tree_form(b.get()).get());
}

TEST_F(Trees, MillionDeepDataPairs) {
  constexpr int kDepth = 1000000;
  CellRef x = atom("[x]");
  CellRef left = atom("[]");
  for (int i = 0; i < kDepth; ++i) left = make_pair(left.get(), x.get());
  std::string expected = "[";
  for (int i = 0; i < kDepth; ++i) expected += "[x]";
  expected += "]";
  EXPECT_EQ(tree_text(left.get()), expected);
  EXPECT_TRUE(same_form(left, atom(expected)));

  CellRef right = atom("[]");
  for (int i = 0; i < kDepth; ++i) right = make_pair(x.get(), right.get());
  std::string nested;
  for (int i = 0; i < kDepth; ++i) nested += "[x";
  nested += "[]";
  nested.append(kDepth, ']');
  EXPECT_EQ(tree_text(right.get()), nested);
  EXPECT_TRUE(same_form(right, atom(nested)));
  nested[1] = 'y';
  EXPECT_FALSE(same_form(right, atom(nested)));
}

}  // namespace
