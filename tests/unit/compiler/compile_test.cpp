#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cells/analysis.h"
#include "cells/print.h"
#include "cells/sharing.h"
#include "compiler/compile.h"
#include "compiler/layout.h"
#include "frontend/frontend.h"
#include "sexpr.h"
#include "stand_in_rows.h"

using namespace tove;
using test_support::sexpr;

namespace {

std::string show(const Cell* root) {
  std::string out;
  std::vector<std::pair<const Cell*, char>> work{{root, 0}};
  while (!work.empty()) {
    auto [cell, mark] = work.back();
    work.pop_back();
    if (!cell) {
      out.push_back(mark);
    } else if (is_atom(cell)) {
      out.append(atom_text(cell));
    } else {
      out.push_back('(');
      work.push_back({nullptr, ')'});
      work.push_back({pair_right(cell), 0});
      work.push_back({nullptr, ' '});
      work.push_back({pair_left(cell), 0});
    }
  }
  return out;
}

Cell* body_of(std::string_view name) {
  CellRef* slot = definitions().find(name);
  return slot ? slot->get() : nullptr;
}

// Reads a program after a fresh Prelude and compiles it.
class Compile : public ::testing::Test {
 protected:
  void SetUp() override { load_prelude(); }

  ErrorReport compile(std::string_view text) {
    ErrorReport report;
    read_program(report, text);
    EXPECT_FALSE(report.failed()) << report.type_word << " " << report.message;
    compile_program(report);
    return report;
  }
};

void expect_report(const ErrorReport& report, std::string_view type, std::string_view location,
                   std::string_view message) {
  EXPECT_EQ(report.type_word, type);
  EXPECT_EQ(report.location, location);
  EXPECT_EQ(report.message, message);
  EXPECT_EQ(report.position, -1);
}

TEST(References, FollowScopes) {
  auto references = [](std::string_view text) {
    std::string names;
    for (const std::string& name : global_references(sexpr(text).get())) names += name + " ";
    return names;
  };
  EXPECT_EQ(references("((\\ x) (f x y))"), "f y ");
  // A let binds its key in the body only; the key's own value is outside.
  EXPECT_EQ(references("((({ x) (g x)) (h x))"), "g h x ");
  // A bracketed binder binds its operator; the binder atoms are no names.
  EXPECT_EQ(references("((\\ [+]) ((+ 1) (- 2)))"), "- ");
  EXPECT_EQ(references("(({ k) 1)"), "k ");
  EXPECT_EQ(references("(K [text] 12 (\\ q))"), "K q ");
}

TEST(Closure, CallersOfUndefinedNamesOnAPrivateTable) {
  DefinitionTable table;
  table.set("", sexpr("(ff 1)"));
  table.set("ff", sexpr("((\\ x) x)"));
  table.set("gg", sexpr("((\\ x) (nope x))"));
  table.set("hh", sexpr("(gg (ff 2))"));
  table.set("ii", sexpr("(hh known)"));
  auto defined = [&](std::string_view name) { return table.contains(name) || name == "known"; };
  const NameSet closure = caller_closure(table, defined);
  EXPECT_EQ(closure, (NameSet{"gg", "hh", "ii"}));
}

TEST_F(Compile, PreparesEveryDefinition) {
  ErrorReport report = compile("a\\ff a,ff\\count\\count+1");
  expect_report(report, "Empty", "", "");
  ASSERT_NE(body_of("_"), nullptr);
  EXPECT_EQ(atom_text(body_of("_")), build_layout_text());
  EXPECT_EQ(show(body_of("ff")), "((\\ a) ((+ a) 1))");
  for (auto& [name, body] : definitions()) EXPECT_NE(analysis_bits(body.get()), 0) << name;
  EXPECT_EQ(prelude_snapshot().size(), 0u);
  // Finished values are shared; redexes are not kept.
  EXPECT_TRUE(sharing_set_holds(body_of("ff")));
  EXPECT_FALSE(sharing_set_holds(pair_right(body_of("ff"))));
}

TEST_F(Compile, QuotesAndPairLetsAreExpanded) {
  ErrorReport report = compile("a\\ff a,ff\\x\\`(gg x),gg\\x\\(p q){x}p");
  expect_report(report, "Empty", "", "");
  EXPECT_EQ(show(body_of("ff")), "((\\ x) ((V [(gg x)]) (gg x)))");
  EXPECT_EQ(show(body_of("gg")), "((\\ x) ((({ q) x) ((({ p) (q K)) ((({ q) (q H)) p))))");
}

TEST_F(Compile, EqualSubExpressionsAreOneCellAcrossDefinitions) {
  ErrorReport report = compile("a\\ff a+gg a,ff\\x\\plus 1 x,gg\\y\\plus 1 y");
  expect_report(report, "Empty", "", "");
  Cell* in_ff = pair_left(pair_right(body_of("ff")));
  Cell* in_gg = pair_left(pair_right(body_of("gg")));
  EXPECT_EQ(show(in_ff), "(plus 1)");
  EXPECT_EQ(in_ff, in_gg);
}

TEST_F(Compile, FunkyBinders) {
  expect_report(compile("a\\ff a,ff\\x\\(1\\x)"), "Funky", "",
                "Funky key in expression \\1x in function ff.");
  load_prelude();
  expect_report(compile("1\\x"), "Funky", "", "Funky key in expression \\1x.");
  // A let key holding a pair inside a pair is not expanded and is reported.
  load_prelude();
  ErrorReport report = compile("a\\ff a,ff\\x\\((p q)r){x}p");
  EXPECT_EQ(report.type_word, "Funky");
  EXPECT_EQ(report.message.rfind("Funky key in expression ", 0), 0u);
  EXPECT_NE(report.message.find(" in function ff."), std::string::npos);
}

TEST_F(Compile, AliveNamesTheMainProgramTop) {
  expect_report(compile("a\\nope a"), "Alive", "nope", "Alive function [TOP] references undefined [nope].");
}

TEST_F(Compile, AliveReportsTheFirstPendingName) {
  // zz is met first, but aa comes first in name order of the pending names.
  expect_report(compile("a\\gg 1+hh 2,gg\\x\\zz,hh\\x\\aa"), "Alive", "aa",
                "Alive function [hh] references undefined [aa].");
}

TEST_F(Compile, UnboundLetterIsAliveBeforeLocal) {
  expect_report(compile("a\\ff a,ff\\y\\x"), "Alive", "x", "Alive function [ff] references undefined [x].");
}

TEST_F(Compile, UnreachableUndefinedReferencesArePrunedWithCallers) {
  load_prelude();
  const std::string prelude_k = print_expression(prelude_snapshot().find("K")->get());
  ErrorReport report =
      compile("a\\ff a,ff\\x\\x,gg\\x\\nope x,hh\\x\\gg x,K\\x\\y\\nope,kk\\x\\K x,uu()\\nope,vv\\x\\x");
  expect_report(report, "Empty", "", "");
  for (const char* gone : {"gg", "hh", "kk", "uu"}) EXPECT_EQ(body_of(gone), nullptr) << gone;
  EXPECT_FALSE(uncached_names().contains("uu"));
  ASSERT_NE(body_of("vv"), nullptr);
  ASSERT_NE(body_of("K"), nullptr);
  EXPECT_EQ(print_expression(body_of("K")), prelude_k);
}

TEST_F(Compile, TenParametersAtMost) {
  expect_report(compile("a\\ff a,ff\\p\\q\\r\\s\\t\\u\\v\\w\\x\\y\\p"), "Empty", "", "");
  load_prelude();
  expect_report(compile("a\\ff a,ff\\p\\q\\r\\s\\t\\u\\v\\w\\x\\y\\z\\p"), "Arity", "ff",
                "Arity of function ff may not exceed ten.");
}

std::string binders(size_t short_count, size_t long_count) {
  std::string text;
  for (size_t i = 0; i < short_count; ++i) text += std::string(1, static_cast<char>('a' + i)) + "\\";
  for (size_t i = 0; i < long_count; ++i) text += "long" + std::string(1, static_cast<char>('a' + i)) + "\\";
  return text;
}

TEST_F(Compile, TwentySixLocalNamesAtMost) {
  // The binders sit in an argument, so the parameter check does not apply.
  expect_report(compile("a\\ff a,ff\\x\\I(" + binders(19, 6) + "x)"), "Empty", "", "");
  load_prelude();
  expect_report(compile("a\\ff a,ff\\x\\I(" + binders(19, 7) + "x)"), "Place", "ff",
                "Place error in function ff.");
  load_prelude();
  expect_report(compile("I(" + binders(20, 7) + "a)"), "Place", "", "Place error.");
}

TEST_F(Compile, RenamedGlobalNameBecomesAnUnboundLocal) {
  expect_report(compile("a\\ff a,ff\\x\\(foo\\foo)(foo x),foo\\1"), "Local", "ff",
                "Local variable a unbound in function [ff].");
  load_prelude();
  expect_report(compile("(foo\\foo)foo,foo\\1"), "Local", "", "Local variable a unbound.");
}

TEST_F(Compile, BracketedBinderBindsItsOperator) {
  expect_report(compile("a\\ff a,ff\\[+]\\1+2"), "Empty", "", "");
  EXPECT_EQ(show(body_of("ff")), "((\\ a) ((a 1) 2))");
}

TEST_F(Compile, MillionTermMainProgram) {
  std::string text = "a\\1";
  for (int i = 1; i < 1000000; ++i) text += "+1";
  expect_report(compile(text), "Empty", "", "");
  EXPECT_EQ(node_mask(body_of("")), 0u);
}

TEST_F(Compile, MillionDeepRightLeaningMainProgram) {
  ErrorReport report;
  read_program(report, "0");
  CellRef chain = make_atom("a");
  for (int i = 0; i < 1000000; ++i)
    chain = make_pair(make_pair(make_atom("+"), make_atom("1")), std::move(chain));
  definitions().set("", make_pair(make_pair(make_atom("\\"), make_atom("a")), std::move(chain)));
  compile_program(report);
  expect_report(report, "Empty", "", "");
  EXPECT_EQ(node_arity(body_of("")), 1);
}

}  // namespace
