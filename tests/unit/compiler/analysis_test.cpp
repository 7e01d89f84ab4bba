#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "cells/analysis.h"
#include "cells/tables.h"
#include "leak_check.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

// Definitions the analysis consults: a two-parameter global and the binder
// atoms with their three parameters.
class Analysis : public LeakCheck {
 protected:
  void SetUp() override {
    definitions().clear();
    definitions().set("gg", sexpr("((\\ a) ((\\ b) a))"));
    definitions().set("\\", sexpr("((\\ a) ((\\ b) ((\\ c) Z)))"));
    definitions().set("{", sexpr("((\\ a) ((\\ b) ((\\ c) Z)))"));
    definitions().set("K", sexpr("((\\ a) ((\\ b) a))"));
    definitions().set("Z", sexpr("((\\ a) Z)"));
    LeakCheck::SetUp();
  }
  void TearDown() override {
    LeakCheck::TearDown();
    definitions().clear();
  }
};

TEST_F(Analysis, GlobalArityCountsDownWithArguments) {
  CellRef one = sexpr("(gg 1)");
  CellRef two = sexpr("(gg 1 2)");
  CellRef three = sexpr("(gg 1 2 3)");
  EXPECT_EQ(node_arity(one.get()), 1);
  EXPECT_TRUE(is_done(one.get()));
  EXPECT_EQ(node_arity(two.get()), 0);
  EXPECT_FALSE(is_done(two.get()));
  EXPECT_EQ(node_arity(three.get()), -1);
}

TEST_F(Analysis, LocalVariablesStayUnbounded) {
  CellRef applied = sexpr("(x 1 2 3 4 5)");
  EXPECT_EQ(node_arity(applied.get()), 11);
  EXPECT_EQ(node_mask(applied.get()), 1u << ('x' - 'a'));
}

TEST_F(Analysis, MasksOfLambdasAndLets) {
  CellRef identity = sexpr("((\\ x) x)");
  EXPECT_EQ(node_mask(identity.get()), 0u);
  EXPECT_EQ(node_arity(identity.get()), 1);
  CellRef constant = sexpr("((\\ x) y)");
  EXPECT_EQ(node_mask(constant.get()), 1u << ('y' - 'a'));
  CellRef both = sexpr("(x y)");
  EXPECT_EQ(node_mask(both.get()), (1u << ('x' - 'a')) | (1u << ('y' - 'a')));
  // x free in the bound value stays; x free only in the body is bound.
  CellRef in_value = sexpr("((({ x) (gg x)) x)");
  EXPECT_EQ(node_mask(in_value.get()), 1u << ('x' - 'a'));
  CellRef in_body = sexpr("((({ x) 1) (gg x))");
  EXPECT_EQ(node_mask(in_body.get()), 0u);
}

TEST_F(Analysis, DataNodesAndTextRedexes) {
  CellRef data = sexpr("([ab] [cd])");
  EXPECT_TRUE(is_data(data.get()));
  EXPECT_EQ(node_arity(data.get()), 1);
  EXPECT_EQ(tag_byte(data.get()), 0x40);
  EXPECT_EQ(payload(data.get()), 8u);
  CellRef literal = sexpr("[ab]");
  EXPECT_TRUE(is_data(literal.get()));
  EXPECT_EQ(tag_byte(literal.get()), 0xC0);
  CellRef applied = sexpr("([ab] x)");
  EXPECT_FALSE(is_data(applied.get()));
  EXPECT_EQ(node_arity(applied.get()), 0);
}

TEST_F(Analysis, PendingMarksRedexesInArgumentPositions) {
  CellRef inner = sexpr("(gg (gg 1 2))");
  EXPECT_TRUE(is_pending(inner.get()));
  EXPECT_FALSE(is_done(inner.get()));
  // Lambda bodies are never pending.
  CellRef lambda = sexpr("((\\ x) (gg (gg 1 2)))");
  EXPECT_FALSE(is_pending(lambda.get()));
  EXPECT_TRUE(is_done(lambda.get()));
}

TEST_F(Analysis, SubstituteCopiesOnlyPathsToTheVariable) {
  CellRef expr = sexpr("(gg (x 1) [t])");
  CellRef value = sexpr("5");
  CellRef result = substitute(expr.get(), 'x', value.get());
  EXPECT_NE(result.get(), expr.get());
  EXPECT_EQ(pair_right(result.get()), pair_right(expr.get()));  // [t] shared
  EXPECT_EQ(pair_right(pair_right(pair_left(result.get()))), pair_right(pair_right(pair_left(expr.get()))));
  EXPECT_EQ(pair_left(pair_right(pair_left(result.get()))), value.get());

  CellRef bound = sexpr("((\\ x) x)");
  CellRef same = substitute(bound.get(), 'x', value.get());
  EXPECT_EQ(same.get(), bound.get());

  // A let key shadows the variable in the body but not in the bound value.
  CellRef let = sexpr("((({ x) x) x)");
  CellRef replaced = substitute(let.get(), 'x', value.get());
  EXPECT_EQ(pair_right(pair_left(replaced.get())), value.get());
  EXPECT_TRUE(atom_is(pair_right(replaced.get()), "x"));
}

void collect(Cell* c, std::set<Cell*>& cells) {
  std::vector<Cell*> stack{c};
  while (!stack.empty()) {
    Cell* top = stack.back();
    stack.pop_back();
    if (!cells.insert(top).second || is_atom(top)) continue;
    stack.push_back(pair_left(top));
    stack.push_back(pair_right(top));
  }
}

// Equal graphs in which a cell of the original expression or a substituted
// value stands in one exactly where it stands in the other.
bool same_sharing(Cell* x, Cell* y, const std::set<Cell*>& old_cells) {
  std::vector<std::pair<Cell*, Cell*>> pending{{x, y}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (a == b) continue;
    if (old_cells.count(a) != 0 || old_cells.count(b) != 0 || is_atom(a) || is_atom(b)) return false;
    pending.emplace_back(pair_left(a), pair_left(b));
    pending.emplace_back(pair_right(a), pair_right(b));
  }
  return true;
}

TEST_F(Analysis, BothSubstitutionsAtOnceGiveTheCellsOfOneAfterTheOther) {
  CellRef first = sexpr("5");
  CellRef second = sexpr("(gg 7)");
  std::vector<CellRef> cases;
  for (const char* text : {"(gg (x 1) (y [t]))", "((\\ x) (x y))", "((\\ y) (x (y x)))", "((({ x) y) (x y))",
                           "((({ y) (x y)) (y x))", "(gg 1 2)", "(x ((\\ x) y))"}) {
    cases.push_back(sexpr(text));
  }
  // Deeper than the one-walk limit: the two substitutions one after the other.
  CellRef deep = sexpr("(x y)");
  for (int i = 0; i < 100; ++i) deep = make_pair(std::move(deep), make_atom(i % 2 ? "x" : "1"));
  cases.push_back(std::move(deep));
  for (const CellRef& expr : cases) {
    CellRef once = substitute_analysed(expr.get(), 'x', first.get());
    CellRef sequential = substitute_analysed(once.get(), 'y', second.get());
    CellRef both = substitute_two_analysed(expr.get(), 'x', first.get(), 'y', second.get());
    std::set<Cell*> old_cells;
    collect(expr.get(), old_cells);
    collect(first.get(), old_cells);
    collect(second.get(), old_cells);
    EXPECT_EQ(compare_cells(both.get(), sequential.get()), 0);
    EXPECT_TRUE(same_sharing(both.get(), sequential.get(), old_cells));
    EXPECT_EQ(analysis_bits(both.get()), analysis_bits(sequential.get()));
  }
}

TEST_F(Analysis, OrderOnCells) {
  CellRef ab = sexpr("ab");
  CellRef abc = sexpr("abc");
  CellRef other_ab = sexpr("ab");
  CellRef pair = sexpr("(ab ab)");
  EXPECT_EQ(compare_cells(ab.get(), abc.get()), 1);
  EXPECT_EQ(compare_cells(abc.get(), ab.get()), -1);
  EXPECT_EQ(compare_cells(ab.get(), other_ab.get()), 0);
  EXPECT_EQ(compare_cells(ab.get(), pair.get()), 1);
  EXPECT_EQ(compare_cells(pair.get(), ab.get()), -1);
  CellRef pair2 = sexpr("(ab abc)");
  EXPECT_EQ(compare_cells(pair.get(), pair2.get()), 1);
  EXPECT_EQ(atom_weight(sexpr("123").get()), 3u);
  EXPECT_EQ(atom_weight(pair.get()), 0u);
}

TEST_F(Analysis, DeepExpressionsNeedNoNativeRecursion) {
  constexpr int kDepth = 1'000'000;
  CellRef left_deep = make_atom("x");
  CellRef right_deep = make_atom("x");
  for (int i = 0; i < kDepth; ++i) {
    left_deep = make_pair(std::move(left_deep), make_atom("1"));
    right_deep = make_pair(make_atom("1"), std::move(right_deep));
  }
  EXPECT_EQ(node_mask(left_deep.get()), 1u << ('x' - 'a'));
  CellRef value = make_atom("7");
  CellRef a = substitute(left_deep.get(), 'x', value.get());
  CellRef b = substitute(right_deep.get(), 'x', value.get());
  EXPECT_EQ(node_mask(a.get()), 0u);
  EXPECT_EQ(node_mask(b.get()), 0u);
  CellRef a2 = substitute(left_deep.get(), 'x', value.get());
  EXPECT_EQ(compare_cells(a.get(), a2.get()), 0);
}

TEST(AnalysisDeath, UndefinedLongNameIsABrokenInvariant) {
  definitions().clear();
  EXPECT_DEATH(analyse_node(make_atom("nosuch").get()), "ASSERTION FAILED:cells/analysis.cpp:");
}

}  // namespace

namespace {

// ((V k) k) nested `depth` times over `bottom`: depth distinct pairs, but
// 2^depth paths from the top.
CellRef shared_tower(int depth, const char* bottom) {
  CellRef k = make_atom(bottom);
  for (int i = 0; i < depth; ++i) k = make_pair(make_pair(make_atom("V"), k.share()), k.share());
  return k;
}

class SharedOrder : public LeakCheck {};

TEST_F(SharedOrder, SeparatelyBuiltSharedTowersAreEqual) {
  CellRef a = shared_tower(40, "[a]");
  CellRef b = shared_tower(40, "[a]");
  ASSERT_NE(a.get(), b.get());
  EXPECT_EQ(compare_cells(a.get(), b.get()), 0);
  EXPECT_EQ(compare_cells(b.get(), a.get()), 0);
}

TEST_F(SharedOrder, ADifferenceAtTheBottomOfSharedTowersIsFound) {
  CellRef a = shared_tower(40, "[a]");
  CellRef b = shared_tower(40, "[b]");
  EXPECT_EQ(compare_cells(a.get(), b.get()), 1);
  EXPECT_EQ(compare_cells(b.get(), a.get()), -1);
}

TEST_F(SharedOrder, ADifferenceOnlyInTheLastRightPartIsFound) {
  // Equal left halves all the way down, so the memo of equal pairs is in
  // use when the difference turns up.
  CellRef a = shared_tower(40, "[a]");
  CellRef b = shared_tower(40, "[a]");
  CellRef x = make_pair(a.share(), make_atom("1"));
  CellRef y = make_pair(b.share(), make_atom("2"));
  EXPECT_EQ(compare_cells(x.get(), y.get()), 1);
  EXPECT_EQ(compare_cells(y.get(), x.get()), -1);
  CellRef z = make_pair(b.share(), make_atom("1"));
  EXPECT_EQ(compare_cells(x.get(), z.get()), 0);
}

TEST_F(SharedOrder, UnsharedDeepChainsCompareLikeTheirParts) {
  CellRef a = make_atom("x");
  CellRef b = make_atom("x");
  for (int i = 0; i < 100000; ++i) {
    a = make_pair(std::move(a), make_atom("1"));
    b = make_pair(std::move(b), make_atom(i == 50000 ? "2" : "1"));
  }
  EXPECT_EQ(compare_cells(a.get(), b.get()), 1);
  EXPECT_EQ(compare_cells(b.get(), a.get()), -1);
}

}  // namespace
