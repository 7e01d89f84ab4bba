// The cached pair analysis against the rules written out plainly: random
// graphs over atoms of every analysis class (binders, locals, globals, data,
// numbers, markers) are analysed bottom-up by the cache, and each pair's
// tag bits and payload must equal what the rules give from its parts.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cells/analysis.h"
#include "cells/tables.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

struct Expected {
  uint8_t bits;
  uint32_t payload;
};

bool is_text_atom(Cell* c, char first) { return is_atom(c) && atom_chars(c)[0] == first; }

// The mask the rules read from an analysed part.
uint32_t rule_mask(Cell* c) {
  if (analysis_bits(c) == kTagData) return 0;
  if (is_atom(c)) {
    const char first = atom_chars(c)[0];
    if ((first >= '0' && first <= '9') || first == '[') return 0;
  }
  return payload(c);
}

int rule_arity(Cell* c) {
  const uint8_t bits = analysis_bits(c);
  return bits == kTagData ? 1 : static_cast<int>(bits & kTagArityMask) - kArityBias;
}

bool rule_pending(Cell* c) {
  const uint8_t bits = analysis_bits(c);
  return bits != kTagData && (bits & kTagPending) != 0;
}

// Analysis of N = (L R), step by step as the rules state it.
Expected by_the_rules(Cell* n) {
  Cell* l = pair_left(n);
  Cell* r = pair_right(n);
  const bool l_data = analysis_bits(l) == kTagData;
  const bool r_data = analysis_bits(r) == kTagData;
  if (l_data && r_data) {
    const uint32_t a = payload(l), b = payload(r);
    return {kTagData, (a >= 2 && b >= 2 && uint64_t{a} + b < kPayloadLimit) ? a + b : 0};
  }
  int arity = 0;
  if (!l_data) {
    const int la = rule_arity(l);
    arity = (la == kArityUnbounded || la <= kArityFloor) ? la : la - 1;
  }
  const auto encode = [](int a, bool pending) {
    return static_cast<uint8_t>((a + kArityBias) | (pending ? kTagPending : 0));
  };
  if (is_pair(l) && is_text_atom(pair_left(l), '\\')) {
    return {encode(arity, false), rule_mask(r) & ~rule_mask(l)};
  }
  const bool pending = (!l_data && rule_pending(l)) || (!r_data && rule_pending(r)) || rule_arity(r) < 1;
  uint32_t mask = rule_mask(l) | rule_mask(r);
  if (is_pair(l)) {
    Cell* inner = pair_left(l);
    if (is_text_atom(inner, '{')) {
      mask = rule_mask(r);
    } else if (is_pair(inner) && is_text_atom(pair_left(inner), '{')) {
      mask = (rule_mask(r) & ~rule_mask(pair_right(inner))) | rule_mask(l);
    }
  }
  return {encode(arity, pending), mask};
}

TEST(AnalysisRules, CachedPairAnalysisFollowsTheRules) {
  definitions().clear();
  definitions().set("gg", sexpr("((\\ a) ((\\ b) a))"));
  definitions().set("\\", sexpr("((\\ a) ((\\ b) ((\\ c) Z)))"));
  definitions().set("{", sexpr("((\\ a) ((\\ b) ((\\ c) Z)))"));
  definitions().set("K", sexpr("((\\ a) ((\\ b) a))"));
  definitions().set("Z", sexpr("((\\ a) Z)"));
  definitions().set("cc", sexpr("(K 5)"));
  const char* atoms[] = {"\\", "{", "a",   "b",   "c",  "x",    "gg", "K",   "Z",
                         "cc", "5", "012", "[a]", "[]", "[bc]", ")",  ")cc", "]dd"};
  std::mt19937 rng(20261209);
  size_t checked = 0;
  for (int round = 0; round < 200; ++round) {
    std::vector<CellRef> pool;
    for (const char* text : atoms) {
      pool.push_back(make_atom(text));
      analyse_node(pool.back().get());
    }
    for (int i = 0; i < 400; ++i) {
      Cell* l = pool[rng() % pool.size()].get();
      Cell* r = pool[rng() % pool.size()].get();
      // Half through the cache-on-build path, half through the generic walk.
      CellRef n = (i % 2) ? make_analysed_pair(CellRef::retained(l), CellRef::retained(r)) : make_pair(l, r);
      analyse_node(n.get());
      const Expected want = by_the_rules(n.get());
      ASSERT_EQ(analysis_bits(n.get()), want.bits) << "round " << round << " pair " << i;
      ASSERT_EQ(payload(n.get()), want.payload) << "round " << round << " pair " << i;
      ++checked;
      pool.push_back(std::move(n));
    }
  }
  EXPECT_EQ(checked, 80000u);
  definitions().clear();
}

}  // namespace
