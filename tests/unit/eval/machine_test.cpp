#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cells/analysis.h"
#include "cells/print.h"
#include "compiler/compile.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "numbers/numbers.h"

using namespace tove;

namespace {

// Reads and compiles a program; its main expression must be closed.
void prepare(std::string_view program) {
  load_prelude();
  ErrorReport report;
  read_program(report, program);
  ASSERT_FALSE(report.failed()) << report.message;
  compile_program(report);
  ASSERT_FALSE(report.failed()) << report.message;
}

CellRef main_body() { return definitions().find("")->share(); }

std::string run(std::string_view program) {
  prepare(program);
  return print_expression(evaluate(main_body()).get());
}

std::string body_of(std::string_view name) { return print_expression(definitions().find(name)->get()); }

TEST(Machine, DoneExpressionsTakeNoStep) {
  prepare("[ab]");
  uint64_t before = total_steps();
  CellRef result = evaluate(main_body());
  EXPECT_EQ(total_steps(), before);
  EXPECT_EQ(print_expression(result.get()), "[ab]");
}

TEST(Machine, LazyHeadsDiscardUnevaluatedArguments) {
  EXPECT_EQ(run("K 5 (M M)"), "5");
  EXPECT_EQ(run("Z (M M) (M M)"), "Z");
}

TEST(Machine, GlobalsEvaluateTheirArgumentsFirst) {
  prepare("gg 5 (M M),gg\\x\\y\\x");
  Machine m;
  m.focus = main_body();
  for (int i = 0; i < 100000; ++i) {
    ASSERT_FALSE(m.frames.empty() && is_done(m.focus.get())) << "finished after " << i << " steps";
    machine_step(m);
  }
}

TEST(Machine, PartialApplicationsAreEvaluatedInside) {
  EXPECT_EQ(run("plus(I 5)"), "plus5");
  EXPECT_EQ(run("I K 5 6"), "5");
}

TEST(Machine, LazyPartialApplicationTakesApplyFramesInOneStep) {
  prepare("0");
  Machine m;
  m.frames.push_back({Frame::Apply, make_atom("2"), {}});
  m.frames.push_back({Frame::Apply, make_atom("1"), {}});
  m.focus = make_pair(make_atom("C"), make_pair(make_atom("I"), make_atom("K")));
  machine_step(m);
  EXPECT_TRUE(m.frames.empty());
  EXPECT_EQ(print_expression(m.focus.get()), "(IK2 1)");

  Machine one;
  one.frames.push_back({Frame::Apply, make_atom("1"), {}});
  one.focus = make_pair(make_atom("C"), make_pair(make_atom("I"), make_atom("K")));
  machine_step(one);
  ASSERT_EQ(one.frames.size(), 2u);
  EXPECT_EQ(print_expression(one.focus.get()), "IK");
}

TEST(Machine, ConstantsAreComputedOnceUnlessUncached) {
  EXPECT_EQ(run("cc,cc\\I 5"), "5");
  EXPECT_EQ(body_of("cc"), "5");
  EXPECT_EQ(run("dd,dd()\\I 5"), "5");
  EXPECT_EQ(body_of("dd"), "(I I5)");  // stored as I (I 5)
}

TEST(Machine, ConstantFunctionsAreStoredBehindBI) {
  EXPECT_EQ(run("ee 7,ee\\I(x\\x)"), "7");
  Cell* stored = definitions().find("ee")->get();
  ASSERT_TRUE(is_pair(stored));
  EXPECT_EQ(print_expression(pair_left(stored)), "BI");
  EXPECT_TRUE(is_lambda_node(pair_right(stored)));
  EXPECT_EQ(node_arity(stored), 1);
}

TEST(Machine, SelfDependentConstantGivesTheCycleMarker) {
  prepare("cc,cc\\I cc");
  CellRef result = evaluate(main_body());
  EXPECT_EQ(atom_text(result.get()), ")cc");
  EXPECT_EQ(atom_text(definitions().find("cc")->get()), ")");
}

TEST(Machine, RepeatedParameterTakesTheLastArgument) { EXPECT_EQ(run("gg 1 2,gg\\x\\x\\x"), "2"); }

TEST(Machine, LetEvaluatesItsValueBeforeTheBody) {
  EXPECT_EQ(run("x{I 5}K x 6"), "5");
  EXPECT_EQ(run("gg 3,gg\\y\\x{y}x"), "3");
}

TEST(Reduce, IntegersOpenAsListsOfBits) {
  // n a = V first rest: the argument is dropped, a selector then picks.
  EXPECT_EQ(run("5 I"), "VK2");  // 5 is [1,1,1,0]: rest [1,1,0] is 2
  EXPECT_EQ(run("5 I H"), "2");
  EXPECT_EQ(run("5 I K"), "K");
  EXPECT_EQ(run("0 I H"), "K");   // zero is [1]: its rest is empty
  EXPECT_EQ(run("00 I K"), "H");  // a binary fraction starts with 0
}

TEST(Reduce, ByteStringsSplitAtAPowerOfTwo) {
  prepare("0");
  CellRef three = evaluate(make_pair(make_atom(std::string_view("(c)ab\0", 6)), make_atom("K")));
  ASSERT_TRUE(is_pair(three.get()));
  EXPECT_EQ(atom_text(pair_right(pair_left(three.get()))), "(b)ab");
  EXPECT_EQ(atom_text(pair_right(three.get())), std::string_view("(a)\0", 4));

  CellRef empty = evaluate(make_pair(make_atom("()"), make_atom("K")));
  EXPECT_EQ(atom_text(empty.get()), "Z");

  CellRef one = evaluate(make_pair(make_atom("(a)\x05"), make_atom("K")));
  EXPECT_EQ(print_expression(one.get()), "(V (J JIH JIH) (J JHH JHH))");  // 0x05
}

TEST(Reduce, RealsPassTheHalvesOfTheirBitTree) {
  prepare("0");
  // 1.0 has its low 32 bits clear and bits 52-61 set.
  CellRef low = evaluate(make_pair(make_real(1.0), make_atom("K")));
  std::string low_text = print_expression(low.get());
  EXPECT_EQ(low_text.find('K'), std::string::npos);
  EXPECT_NE(low_text.find('H'), std::string::npos);
  CellRef high = evaluate(make_pair(make_real(1.0), make_atom("H")));
  std::string high_text = print_expression(high.get());
  size_t set_bits = 0;
  for (char c : high_text) set_bits += c == 'K';
  EXPECT_EQ(set_bits, 10u);
}

TEST(Reduce, DataNodesOpenAsTreesOrPairs) {
  EXPECT_EQ(run("[] K"), "XJ");  // [] a = a (X J) K
  EXPECT_EQ(run("[a[bc]] G K"), "[a]");
  EXPECT_EQ(run("[a[bc]] G H"), "[bc]");
}

TEST(Reduce, NameWhoseDefinitionWentAwayEndsTheEvaluation) {
  prepare("0");
  definitions().set("hh", make_atom("5"));
  CellRef name = make_atom("hh");
  analyse_node(name.get());
  definitions().erase("hh");
  CellRef result = evaluate(make_pair(make_atom("K"), name.share(), make_atom("1")));
  EXPECT_EQ(atom_text(result.get()), "]hh");
  EXPECT_EQ(print_expression(result.get()), "()");
}

// A comparison answers a fresh "K" or "H", whose analysis is that of the
// name's body when it is answered: a K of three parameters makes the truth
// take three arguments, in the evaluation after the redefinition as in
// the one before it with the prelude's K.
TEST(Machine, TruthAnswersTakeTheArityOfTheirNamesBody) {
  prepare("0");
  CellRef prelude_k = definitions().find("K")->share();
  auto truth_of = [](const char* extra) {
    CellRef e = make_pair(make_atom("less"), make_atom("1"), make_atom("2"));
    e = make_pair(std::move(e), make_atom("7"), make_atom("8"));
    if (extra != nullptr) e = make_pair(std::move(e), make_atom(extra));
    return print_expression(evaluate(std::move(e)).get());
  };
  EXPECT_EQ(truth_of(nullptr), "7");
  ErrorReport report;
  read_program(report, "0,K\\a\\b\\c\\c");
  ASSERT_FALSE(report.failed()) << report.message;
  compile_program(report);
  ASSERT_FALSE(report.failed()) << report.message;
  EXPECT_EQ(truth_of("9"), "9");
  definitions().set("K", std::move(prelude_k));
  EXPECT_EQ(truth_of(nullptr), "7");
}

TEST(Machine, MillionTermExpressionsEvaluateWithoutNativeRecursion) {
  std::string left_deep = "0";  // ((. ((. 0) I)) I) ...: T 0 I = I 0 = 0
  for (int i = 0; i < 1'000'000; ++i) left_deep += ".I";
  EXPECT_EQ(run(left_deep), "0");
  std::string right_deep;  // ((; I) ((; I) ... 5)): I applied down to 5
  for (int i = 0; i < 1'000'000; ++i) right_deep += "I;";
  right_deep += "5";
  EXPECT_EQ(run(right_deep), "5");
}

}  // namespace
