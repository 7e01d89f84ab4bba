// The fast engine's short cuts against the literal reference engine, on the
// shapes each short cut is for: both engines must print the same value and
// leave the same definitions, and the fast one must not keep cells alive.
#include <gtest/gtest.h>

#include <string>

#include "cells/print.h"
#include "compiler/compile.h"
#include "eval/eval.h"
#include "frontend/frontend.h"

using namespace tove;

namespace {

// The main expression applied to an argument address, as a run does.
CellRef main_call() { return make_pair(definitions().find("")->share(), make_atom("0")); }

// A program read and compiled, the number primitives installed (families.cpp).
void prepare(std::string_view program, ErrorReport& report) {
  load_prelude();
  read_program(report, program);
  if (!report.failed()) compile_program(report);
}

// The printed value of the program's main expression and of every
// definition the program itself names, under one engine.
std::string run_with(Engine engine, std::string_view program) {
  set_engine(engine);
  ErrorReport report;
  prepare(program, report);
  if (report.failed()) return "report " + report.type_word + " " + report.message;
  std::string text = print_expression(evaluate(main_call()).get());
  for (auto& [name, body] : definitions()) {
    if (name.size() > 1 && name != "_" && find_builtin(name) == nullptr) {
      text += "\n" + name + " = " + print_expression(body.get());
    }
  }
  return text;
}

// Runs both engines and answers the fast engine's text after checking that
// the reference agrees.
std::string both(std::string_view program) {
  const std::string reference = run_with(Engine::Reference, program);
  const std::string fast = run_with(Engine::Fast, program);
  set_engine(Engine::Fast);
  EXPECT_EQ(fast, reference) << program;
  return fast;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// The printed value of the program's main expression under the fast
// engine, after checking that every cell the run made goes with it: the
// prelude, the program and the plans stay.
std::string value_leaving_no_cell(std::string_view program) {
  set_engine(Engine::Fast);
  ErrorReport report;
  prepare(program, report);
  if (report.failed()) {
    ADD_FAILURE() << report.message;
    return {};
  }
  const CellCounts before = live_cells();
  std::string value;
  {
    CellRef result = evaluate(main_call());
    value = print_expression(result.get());
  }
  const CellCounts after = live_cells();
  EXPECT_EQ(after.pairs, before.pairs) << program;
  EXPECT_EQ(after.atoms, before.atoms) << program;
  return value;
}

// The program's run interrupted under the fast engine, which must answer
// Z, then the value of its constant `cc` evaluated again from what the
// interrupted run gave back.
std::string value_after_interrupt(std::string_view program) {
  set_engine(Engine::Fast);
  ErrorReport report;
  prepare(program, report);
  if (report.failed()) {
    ADD_FAILURE() << report.message;
    return {};
  }
  request_interrupt();
  CellRef stopped = evaluate(main_call());
  clear_interrupt();
  EXPECT_EQ(print_expression(stopped.get()), "Z") << program;
  return print_expression(evaluate(definitions().find("cc")->share()).get());
}

TEST(FastEngine, OperatorsStepStraightToTheirBuiltIns) {
  EXPECT_EQ(first_line(both("a\\(2+3)*(7-1)")), "30");
  // An operator application in a body, shared by every call: its spine is
  // rebuilt, not rewritten in place.
  EXPECT_EQ(first_line(both("a\\ff(2)+ff(3),ff\\n\\(3+4)*n")), "35");
}

TEST(FastEngine, ConstantHeadsOfOverAppliedSpinesStepToTheirValues) {
  // Operators nested in a fresh spine whose arguments are done.
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\((n-1)*(n+1))-(n%3)")), "47");
  // A constant naming a combinator, applied to three arguments: done ones,
  // a redex among them, and a spine shared by every call.
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\vv n 5 K,vv\\V")), "4");
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\vv n (gg n) H,gg\\m\\m*3,vv\\V")), "12");
  EXPECT_EQ(first_line(both("a\\ff(1)+ff(2),ff\\n\\n+(vv 3 5 H),vv\\V")), "13");
  // Constants naming globals of one and two parameters and a partial
  // application, each over-applied: the spine's levels take the arity of
  // the value put in the head's place.
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\(pp n K)+(qq n 5 K)+(rr n H),"
                            "pp\\gg,gg\\x\\V x x,qq\\hh,hh\\x\\y\\V (x*y) y,rr\\(V 9)")),
            "28");
}

TEST(FastEngine, AFocusHeadedByAnOperatorIsBuiltWithItsValue) {
  // A body's focus and a branch taken, each headed by an operator, with
  // redexes among the arguments.
  EXPECT_EQ(first_line(both("a\\ff(4)+ff(9),ff\\n\\(n<5)((n*2)+(n-1))((n-1)*(n+1))")), "91");
  // Operators naming a lazy combinator and a partial application.
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\kk (n*2) (M M),kk\\K")), "6");
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\pp (n*2) n,pp\\(gg 3),gg\\x\\y\\z\\x+y*z")), "35");
  // A constant computed during the first call, after the body's plan was
  // made.
  EXPECT_EQ(first_line(both("a\\ff(1)+ff(2),ff\\n\\cc n n,cc\\I(gg 1),gg\\x\\y\\z\\x+y+z")), "8");
}

TEST(FastEngine, CallsOfShortIntegersAreAnsweredWhereTheMachineWouldEvaluateThem) {
  // Strict arguments, nested calls and both branches of a choice.
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<2)(n)(ff(n-1)+ff(n-2))")), "34");
  EXPECT_EQ(first_line(both("a\\ack 2 3,ack\\m\\n\\(m=0)(n+1)((n=0)(ack(m-1)(1))(ack(m-1)(ack m (n-1))))")),
            "9");
  // Calls inside calls, and a call past a word inside one.
  EXPECT_EQ(first_line(both("a\\lp(0)(0),lp\\i\\s\\(i<50)(lp(i+1)((s+i*i)%1009))(s)")), "65");
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\gg((n*999999999999)*(n*999999999999)+1),gg\\x\\x-1")),
            "8999999999982000000000009");
  // A partial application of a strict head has its argument evaluated; a
  // lazy head's arguments, and one past the head's arity, wait until the
  // value is printed.
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\gg (n-1),gg\\x\\y\\x")), "gg6");
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\V (n-1) (n*n)")), "(V6 49)");
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\gg (n-1) (n+1),gg\\x\\V x")), "(V6 8)");
  // Results past a word, a divisor of zero, texts and binary fractions go
  // to the handlers.
  EXPECT_EQ(first_line(both("a\\ff 9223372036854775807,ff\\n\\gg(n+1)(n*n),gg\\x\\y\\V x y")),
            "(V9223372036854775808 85070591730234615847396907784232501249)");
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\V (n/0) (n%0) K")), "Z");
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\gg(n+[x])(n-001),gg\\x\\y\\V x y")), "V[7x]0020");
  // An operator the program defines as a function of its own has no word
  // rule; the calls in its arguments still have theirs.
  EXPECT_EQ(first_line(both("a\\ff 3,[+]\\x\\y\\mult x y,ff\\n\\(n+1)*((n*2)+(n-1))")), "36");
  // With T defined again, Apply frames return through it.
  EXPECT_EQ(first_line(both("a\\ff 5,T\\a\\b\\b a,ff\\n\\gg (n-1) (n+1),gg\\x\\y\\x*y")), "24");
}

TEST(FastEngine, AValueReturningToABuiltInsCallIsAnsweredByItsWordRule) {
  // The value completes (f a v), or (f v b) with b in the frame below; the
  // answers are numbers and truth values, or refusals the handler gives.
  EXPECT_EQ(first_line(both("a\\ff 12,ff\\n\\(n<2)(n)(ff(n-1)-ff(n-2)*2)")), "45");
  EXPECT_EQ(first_line(both("a\\ck((gg 9)%4)((gg 9)<20)((gg 9)/0)((gg 9)+[x]),"
                            "ck\\a\\b\\c\\d\\V a (V (b 1 0) (V c d)),gg\\x\\x*2")),
            "(V2 (V1 VZ[18x]))");
  // With T defined again, an Apply frame returns through it.
  EXPECT_EQ(first_line(both("a\\(gg 9)%4,T\\a\\b\\b a,gg\\x\\x*2")), "2");
}

TEST(FastEngine, AnAnswerReturningToAnotherCallGoesOnAsItsWord) {
  // Arithmetic on a call's value through frames of both forms, ending in
  // a sum, in a comparison a choice takes, and in a global's call.
  EXPECT_EQ(first_line(both("a\\ff 20,ff\\n\\(n<1)(0)(((gg n)*3+1)%7+ff(n-1)),gg\\x\\x*x")), "62");
  EXPECT_EQ(first_line(both("a\\ss 30,ss\\n\\(n<1)(0)((((gg n)+1)%5=0)(1)(0)+ss(n-1)),gg\\x\\x*x")), "12");
  EXPECT_EQ(first_line(both("a\\hh((gg 3)+1),hh\\x\\x*10,gg\\x\\x*x")), "100");
  // Answers past eighteen digits, and past a word, go on through the
  // handler.
  EXPECT_EQ(first_line(both("a\\(gg 999999999)*1000+1-1,gg\\x\\x*x")), "999999998000000001000");
  EXPECT_EQ(first_line(both("a\\(gg 1000000000)+1-2,gg\\x\\x*x")), "999999999999999999");
}

TEST(FastEngine, ArithmeticInsideArithmeticIsWorkedOutInWords) {
  // Word trees in a strict head's argument, in a body's top, and under
  // comparisons that a choice takes or that give a truth as a value.
  EXPECT_EQ(first_line(both("a\\ff(7)+ff(8),ff\\n\\(((n*3+1)*(n+2)-(n%4)*5)/2)")), "216");
  EXPECT_EQ(first_line(both("a\\ss 30,ss\\n\\(n<1)(0)((n%3=0)(n)(0)+((n*n+1)%5=0)(100)(0)+ss(n-1))")),
            "1365");
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\V (n%2=0) ((n+1)*(n-1)<n*n)")), "VKK");
  // An answer inside past eighteen digits, or past a word, leaves the tree
  // to the calls one by one.
  EXPECT_EQ(first_line(both("a\\ff 1000000000,ff\\n\\n*n+1-2")), "999999999999999999");
  EXPECT_EQ(first_line(both("a\\ff 999999999,ff\\n\\(n*n+1)*1000-n")), "999999997999000002001");
  // Deeper than a tree may be, and with an operator defined otherwise.
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\((((((((((n+1)*2+1)*2+1)*2+1)*2+1)*2+1)*2+1)*2+1)*2+1)*2+1)")),
            "2559");
  EXPECT_EQ(first_line(both("a\\ff 5,[+]\\x\\y\\mult x y,ff\\n\\(n+2)*3+(n+1)")), "150");
}

TEST(FastEngine, APredicateChoosesAsTheComparisonItIsMadeOf) {
  // A global whose body is one comparison, as the condition of a choice:
  // taking either part, of one argument and of two, over a word tree,
  // past a word, with a constant first, on no short integer, and as a
  // value that no choice takes.
  EXPECT_EQ(first_line(both("a\\ff 20,ff\\n\\(small n)(1)(ff(n-1)+ff(n-2)+1),small\\x\\x<2")), "21891");
  EXPECT_EQ(first_line(both("a\\ff 12,ff\\n\\(lt n 2)(n)(ff(n-1)+ff(n-2)),lt\\x\\y\\x<y")), "144");
  EXPECT_EQ(
      first_line(both("a\\ss 9,ss\\n\\(isz n)(0)((odd n 2)(n)(0)+ss(n-1)),isz\\n\\n=0,odd\\n\\m\\n%m=1")),
      "25");
  EXPECT_EQ(first_line(both("a\\ss 5,ss\\n\\(big n)(1)(2),big\\n\\999999999999999999<n*n")), "2");
  EXPECT_EQ(first_line(both("a\\ff 6,ff\\n\\(small n)(1)(ff(n-1)*2),small\\x\\2>x")), "16");
  EXPECT_EQ(first_line(both("a\\ss [x],ss\\n\\(small n)(1)(2),small\\x\\x<2")), "2");
  EXPECT_EQ(first_line(both("a\\ss 4,ss\\n\\V (small n) 0,small\\x\\x<2")), "VH0");
  // A comparison over arithmetic, over-applied through its operator.
  EXPECT_EQ(first_line(both("a\\ss 30,ss\\n\\(n<1)(0)((tri n)(n)(0)+ss(n-1)),tri\\n\\n%3=0")), "165");
  EXPECT_EQ(first_line(both("a\\ss 30,ss\\n\\(n<1)(0)((gt n 20)(1)(0)+ss(n-1)),gt\\x\\y\\x-y>1")), "10");
}

TEST(FastEngine, APartOfAPairIsAnOperandAsTheSelectorTakesIt) {
  // (s K) and (s H) of a pair given as an argument, in arithmetic and in
  // a comparison that a choice takes, down the pairs of a stream; a part
  // that is no short integer, an argument that is no pair, a number (a
  // list of bits), and pairs and selectors of the program's own. The
  // plans of V, K and H are made by the first rewrites, so each loop's
  // later calls take the part from the pair.
  EXPECT_EQ(first_line(both("a\\ff 5,ff\\n\\(n<1)(0)(df(V n (n*2))+ff(n-1)),df\\s\\(s K)*10-(s H)")), "120");
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<1)(0)((lt(V n 4))(1)(0)+ff(n-1)),lt\\s\\(s K)<(s H)")), "3");
  EXPECT_EQ(first_line(both("a\\ff(3,V 9 (V 10 K)),ff\\p\\s\\((s K)%p=0)(1)(2)")), "1");
  EXPECT_EQ(first_line(both("a\\ff(V 4 (V 5 K)),ff\\s\\(s K)+(s H K)*2")), "14");
  EXPECT_EQ(first_line(both("a\\ff(V 4 5),ff\\s\\((s H)<(s K))(1)(2)")), "2");
  EXPECT_EQ(first_line(both("a\\tk(6,nx 1),nx\\n\\V (n*n) (u\\nx(n+1)),"
                            "tk\\k\\s\\(k<1)(0)((s K)%7+tk(k-1,s H I))")),
            "14");
  EXPECT_EQ(first_line(both("a\\ff(V [x] 5),ff\\s\\(s K)+(s H)")), "[x5]");
  EXPECT_EQ(first_line(both("a\\ff(V 4611686018427387904 5),ff\\s\\((s K)%10=4)(1)(2)")), "1");
  EXPECT_EQ(first_line(both("a\\ff(7),ff\\s\\((s K)=0)(1)(2)")), "Z");
  EXPECT_EQ(first_line(both("a\\ff(K),ff\\s\\(s K)+1")), "Z");
  const std::string loop = "a\\ff 5,ff\\n\\(n<1)(0)(df(V n (n*2))+ff(n-1)),";
  EXPECT_EQ(first_line(both(loop + "df\\s\\(s K)*10-(s H),V\\a\\b\\c\\c b a")), "285");
  EXPECT_EQ(first_line(both(loop + "df\\s\\(s Q)*10-(s K),Q\\x\\y\\y")), "285");
  EXPECT_EQ(first_line(both(loop + "df\\s\\(s E)*10-(s K),E\\x\\L,L\\x\\x")), "285");
  EXPECT_EQ(first_line(both(loop + "df\\s\\(s E)*10-(s K),E\\x\\L,L\\x\\x 1")), "Z");
  // A pair and selectors that are no lazy heads: their parts are done, so
  // the machine rewrites them at once all the same.
  const std::string pairs = "a\\ff 5,ff\\n\\(n<1)(0)(df(cons n (n*2))+ff(n-1)),cons\\x\\y\\f\\f x y,";
  EXPECT_EQ(first_line(both(pairs + "df\\s\\(s K)*10-(s H)")), "120");
  EXPECT_EQ(first_line(both(pairs + "df\\s\\(s snd)*10-(s fst),fst\\x\\y\\x,snd\\x\\y\\y")), "285");
  EXPECT_EQ(first_line(both(pairs + "df\\s\\(s nd)*10-(s fst),fst\\x\\y\\x,nd\\x\\I")), "285");
  // A helper whose body is such a part, and one whose selector is its
  // second argument.
  EXPECT_EQ(first_line(both(pairs + "df\\s\\(hd s)*10-(tl s),hd\\l\\l K,tl\\l\\l H")), "120");
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<1)(0)((lt(V n 4))(1)(0)+ff(n-1)),lt\\s\\(hd s)<(tl s),"
                            "hd\\l\\l K,tl\\l\\l H")),
            "3");
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<1)(0)((hd(V n 4))%3+ff(n-1)),hd\\l\\l K")), "9");
  EXPECT_EQ(first_line(both(pairs + "df\\s\\(by s H)*10-(by s K),by\\l\\c\\l c")), "285");
  // More selectors and pair heads in one loop than are remembered at once,
  // each taking its own part, and a pair whose head takes no selector.
  EXPECT_EQ(
      first_line(both(pairs + "df\\s\\(s pa)+(s qa)*2+(s ra)*4+(s K)*8+(s H)*16+(V 1 2 wa)*32+(rv 1 2 pa)*64,"
                              "pa\\x\\y\\x,qa\\x\\y\\y,ra\\x\\y\\x,wa\\x\\y\\y,rv\\a\\b\\c\\c b a")),
      "1695");
}

TEST(FastEngine, AChoiceGivenAsAnArgumentTakesItsPartAsItIsReached) {
  // A choice written as an argument of a call, its test a comparison in
  // words or a predicate: the part taken is built where the choice stood,
  // its own arithmetic and calls worked out as the machine would.
  EXPECT_EQ(first_line(both("a\\ln(27,0),ln\\n\\c\\(n=1)(c)(ln((n%2=0)(n/2)(3*n+1),c+1))")), "111");
  EXPECT_EQ(first_line(both("a\\go(0,0),even\\n\\n%2=0,go\\i\\c\\(i=20)(c)(go(i+1,(even i)(c+i)(c-1)))")),
            "80");
  const std::string go = "a\\go(0,0),go\\i\\c\\(i=12)(c)(go(i+1,";
  // A part that is one argument, a call of a definition, a choice itself
  // (which has top levels of its own), or no short integer.
  EXPECT_EQ(first_line(both(go + "(i%3=0)(i)(c)))")), "9");
  EXPECT_EQ(first_line(both(go + "(i%2=0)(inc(c))(c+10))),inc\\x\\x+1")), "66");
  EXPECT_EQ(first_line(both(go + "(i<5)(c+1)((i<9)(c+2)(c))))")), "13");
  EXPECT_EQ(first_line(both(go + "(i=11)([x])(c+1)))")), "[x]");
  // A test on no short integer, and truths that take the other part.
  EXPECT_EQ(first_line(both("a\\go(0,[a]),go\\i\\c\\(i=3)(c)(go(i+1,(c=[a])(c+[b])(c+[c])))")), "[abcc]");
  EXPECT_EQ(first_line(both("a\\go(0,0),go\\i\\c\\(i=12)(go(i+1,(i%3=0)(c+1)(c)))(c),K\\x\\y\\y,H\\x\\y\\x")),
            "8");
  EXPECT_EQ(first_line(both(go + "(i%3=0)(c+1)(c))),H\\x\\y\\y")), "4");
}

TEST(FastEngine, AChoiceWhoseTestEndsInAConstantTakesItsPart) {
  // (a op b) with a no single cell and b a constant: the machine evaluates
  // a, returns it to op, applies the answer to b and the truth to the
  // parts. Tests on a remainder, a part taken from a pair, a helper's part;
  // swapped truths, texts, and a choice applied on.
  const std::string go = "a\\go(0,0),go\\i\\c\\(i=30)(c)(";
  EXPECT_EQ(first_line(both(go + "(i%3=0)(go(i+1,c+1))(go(i+1,c)))")), "10");
  EXPECT_EQ(first_line(both(go + "(i*i-i>100)(c+i)(go(i+1,c+1)))")), "22");
  EXPECT_EQ(first_line(both(go + "(i%3=0)(inc)(dec)(go(i+1,c))),inc\\x\\x+1,dec\\x\\x-1")), "010");
  EXPECT_EQ(first_line(both(go + "(i%3=[0])(go(i+1,c+1))(go(i+1,c)))")), "0");
  const std::string swapped = "a\\go(0,0),go\\i\\c\\(i=30)((i%3=0)(go(i+1,c+1))(go(i+1,c)))(c),";
  EXPECT_EQ(first_line(both(swapped + "K\\x\\y\\y,H\\x\\y\\x")), "20");
  const std::string stream = "a\\ct(9,fr 1 I),fr\\n\\u\\V n (fr(n+1)),hd\\s\\s K,";
  EXPECT_EQ(first_line(both(stream + "ct\\k\\s\\(k<1)(0)(((s K)%3=0)(1+ct(k-1,s H I))(ct(k-1,s H I)))")),
            "3");
  EXPECT_EQ(first_line(both(stream + "ct\\k\\s\\(k<1)(0)(((hd s)%2=1)(1+ct(k-1,s H I))(ct(k-1,s H I)))")),
            "5");
  EXPECT_EQ(first_line(both("a\\go(0,[a]),go\\i\\c\\(i=3)(c)((c+i=[a1])(go(i+1,c+[x]))(go(i+1,c+[y])))")),
            "[ayyy]");
}

TEST(FastEngine, ALambdaReturnedToAnArgumentTakesIt) {
  // A lambda a call answers, applied to a done argument that waits in a
  // frame: one parameter, two, a letter bound again inside, a lambda given
  // a lambda, and an argument still to evaluate.
  EXPECT_EQ(first_line(both("a\\(pk 3) 5,pk\\n\\(n<0)(u\\u)(v\\v*n)")), "15");
  EXPECT_EQ(first_line(both("a\\(mk 2) 3 4,mk\\n\\(n<0)(0)(x\\y\\x*n+y)")), "10");
  EXPECT_EQ(first_line(both("a\\(pk 3) 5,pk\\n\\(n<0)(0)(n\\n+1)")), "6");
  EXPECT_EQ(first_line(both("a\\(tw 1)(y\\y+10) 5,tw\\n\\(n<0)(0)(f\\x\\f(f x))")), "25");
  EXPECT_EQ(first_line(both("a\\(pk 3)(2+3),pk\\n\\(n<0)(u\\u)(v\\v*n)")), "15");
}

TEST(FastEngine, ALaterArgumentTakesItsPartAsItIsBuilt) {
  // A part (t H) in an argument that waits for the calls before it: the
  // sizes of trees of the prelude's pairs and of the program's own, a
  // part inside a call inside the argument, a text part, and a pair whose
  // head takes no selector.
  const std::string mk = "mk\\d\\(d<1)(1)(V (mk(d-1)) (mk(d-1))),";
  EXPECT_EQ(first_line(both("a\\sz(4,mk 4)," + mk + "sz\\d\\t\\(d<1)(t)(sz(d-1,t K)+sz(d-1,t H)+1)")), "31");
  EXPECT_EQ(first_line(both("a\\sz(3,mk 3),mk\\d\\(d<1)(1)(cons (mk(d-1)) (mk(d-1))),cons\\x\\y\\f\\f x y,"
                            "fst\\x\\y\\x,snd\\x\\y\\y,sz\\d\\t\\(d<1)(t)(sz(d-1,t fst)+sz(d-1,t snd)+1)")),
            "15");
  EXPECT_EQ(
      first_line(both("a\\sz(3,mk 3)," + mk + "sz\\d\\t\\(d<1)(t)(sz(d-1,t K)+id(sz(d-1,t H))),id\\x\\x")),
      "8");
  EXPECT_EQ(first_line(both("a\\ff(V [a] [b]),ff\\s\\gg(0,s H)+gg(1,s K),gg\\n\\x\\x")), "[ba]");
  // Parts taken by helpers, one applying the part to a cell of its own.
  const std::string helpers = "a\\tt(4,fr 1 I),fr\\n\\u\\V n (fr(n+1)),hd\\s\\s K,tl\\s\\s H I,id\\x\\x,";
  EXPECT_EQ(first_line(both(helpers + "tt\\n\\s\\(n<1)(0)(tt(n-1,tl s)+id(hd s))")), "10");
  EXPECT_EQ(first_line(both(helpers + "tt\\n\\s\\(n<1)(0)(id(n)*0+tt(n-1,tl s)+(hd s))")), "10");
  EXPECT_EQ(first_line(both("a\\ff(rv 1 2),rv\\a\\b\\c\\c b a,ff\\s\\gg(0,s H)+gg(1,s K),gg\\n\\x\\x")), "3");
}

TEST(FastEngine, AStreamsTailIsTakenFromItsPairAndApplied) {
  // s H I, written out or as a helper, forces the tail of a stream whose
  // pairs are the prelude's V or the program's own, the tail a partial
  // application of a global or a lambda; and a selector that takes no
  // part as K and H do.
  const std::string take = "tk\\k\\s\\(k<1)(0)((s K)%7+tk(k-1,s H I))";
  EXPECT_EQ(first_line(both("a\\tk(6,nx 1 I),nx\\n\\u\\V (n*n) (nx(n+1))," + take)), "14");
  EXPECT_EQ(first_line(both("a\\tk(6,nx 1),nx\\n\\V (n*n) (u\\nx(n+1))," + take)), "14");
  EXPECT_EQ(first_line(both("a\\tt(5,fr 2 I),hd\\s\\s K,tl\\s\\s H I,fr\\n\\u\\V n (fr(n+1)),"
                            "tt\\n\\s\\(n<1)(0)((hd s)+tt(n-1,tl s))")),
            "20");
  const std::string own = "fr\\n\\u\\cons n (fr(n+1)),cons\\x\\y\\f\\f x y,fst\\x\\y\\x,snd\\x\\y\\y,";
  EXPECT_EQ(first_line(both("a\\tt(5,fr 2 I)," + own + "tt\\n\\s\\(n<1)(0)((s fst)+tt(n-1,s snd I))")), "20");
  EXPECT_EQ(first_line(both("a\\tt(5,fr 2 I)," + own + "tt\\n\\s\\(n<1)(0)(tt(n-1,s snd I)-(s fst))")),
            "020");
  EXPECT_EQ(first_line(both("a\\tt(3,fr 2 I)," + own +
                            "tt\\n\\s\\(n<1)(0)((s dup)+tt(n-1,s snd I)),dup\\x\\y\\x*x")),
            "29");
  // Forced inside a lambda's body, a cell no plan builds: ((s c) I) with
  // the program's own pair and selector, and a selection applied on.
  EXPECT_EQ(first_line(both("a\\tt(5,fr 2),fr\\n\\cons n (u\\fr(n+1))," + own.substr(own.find(',') + 1) +
                            "tt\\n\\s\\(n<1)(0)((s fst)+tt(n-1,s snd I))")),
            "20");
  // A helper that applies the part to a cell of its own, a tail that
  // reads what it is applied to.
  EXPECT_EQ(first_line(both("a\\tt(3,fr 0 5),fr\\n\\u\\V (n+u) (fr(n+1)),hd\\s\\s K,tl\\s\\s H 5,"
                            "tt\\n\\s\\(n<1)(0)((hd s)+tt(n-1,tl s))")),
            "18");
  EXPECT_EQ(first_line(both("a\\(V inc 2) K 5,inc\\x\\x+1")), "6");
  EXPECT_EQ(first_line(both("a\\(V 3 inc) H 5,inc\\x\\x+1")), "6");
}

TEST(FastEngine, AHelperOfOneSumAnswersInWordsAndGoesOn) {
  // A global whose body is one call of a value rule: its answer returns
  // on to a sum, a comparison that a choice takes, or a call of two
  // arguments; past a word, and on no short integer, the helper is
  // rewritten as written.
  EXPECT_EQ(first_line(both("a\\ff 20,ff\\n\\(n<2)(1)(inc(ff(n-1)+ff(n-2))),inc\\x\\x+1")), "21891");
  EXPECT_EQ(first_line(both("a\\ss 9,ss\\n\\(n<1)(0)((dbl n=6)(100)(n)+ss(n-1)),dbl\\x\\x*2")), "142");
  EXPECT_EQ(first_line(both("a\\ss 6,ss\\n\\(n<1)(0)(avg(ss(n-1),n*10)),avg\\x\\y\\(x+y)/2")), "50");
  EXPECT_EQ(first_line(both("a\\ss 6,ss\\n\\(n<1)(1)(lin(ss(n-1),n)%1000),lin\\x\\y\\x-y*3")), "938");
  EXPECT_EQ(first_line(both("a\\ss 9,ss\\n\\(n<1)(100)(half(ss(n-1))-n),half\\x\\x/2")), "016");
  EXPECT_EQ(first_line(both("a\\ss 2,ss\\n\\(n<1)(1)(sq(ss(n-1)*1000000000)),sq\\x\\x*x")),
            "1" + std::string(54, '0'));
  EXPECT_EQ(first_line(both("a\\ss 2,ss\\n\\inc [x],inc\\x\\x+1")), "[x1]");
}

TEST(FastEngine, ADescentGoesOnIntoTheArithmeticAroundACall) {
  // The calls a sum, a remainder or a comparison is made of, nested in a
  // call or a choice: the machine takes each operator's spine apart in
  // turn down to the call, and the answers return up through them.
  EXPECT_EQ(first_line(both("a\\ff 20,ff\\n\\(n<2)(1)(ff(n-1)+ff(n-2)+1)")), "21891");
  EXPECT_EQ(first_line(both("a\\ff 8,ff\\n\\(n<1)(0)(((ff(n-1)+1)%3=0)(ff(n-1)+2)(ff(n-1)+1))")), "11");
  EXPECT_EQ(first_line(both("a\\hh 30,hh\\n\\(n<1)(1)(2*(hh(n-1)%1000)+1)")), "1647");
  // With an operator defined otherwise on the way down.
  EXPECT_EQ(first_line(both("a\\ff 6,[%]\\x\\y\\plus x y,ff\\n\\(n<1)(1)((ff(n-1)%3)*2)")), "442");
}

TEST(FastEngine, ACallWrittenWithAConstantFirstIsEvaluatedAsAnyOther) {
  // (7+x) is ((+ 7) x), its (+ 7) one cell of the body: the spine through
  // it is a strict head's all the same. A call returning to it, a choice
  // on it, a word tree over it, a strict global's constant first
  // arguments (the cell kept as it stands), answers past a word, and the
  // operator defined otherwise.
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<1)(0)(7+ff(n-1))")), "63");
  EXPECT_EQ(first_line(both("a\\ss 30,ss\\n\\(n<1)(0)((0=n%3)(n)(0)+ss(n-1))")), "165");
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\(9<n*n)(1)(2)+(0=n)(3)(4)")), "5");
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\2*(1+n*n)-(100-n)")), "062");
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\(n<1)(V 0 0)(gg 1 2 (ff(n-1))),gg\\a\\b\\c\\V (a+b) c")),
            "(V3 (V3 (V3 (V0 0))))");
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\(n<1)(1)(999999999999999999+ff(n-1))")), "2999999999999999998");
  EXPECT_EQ(first_line(both("a\\ff 5,[+]\\x\\y\\mult x y,ff\\n\\(n<1)(1)(2+ff(n-1))")), "32");
}

TEST(FastEngine, AnArgumentLeftInAFrameIsBuiltAsTheFocusItBecomes) {
  // The top of a body over-applied through an operator leaves its last
  // argument in a frame; a done value returning to it evaluates it: a
  // word tree, a conditional, a call answered as it is built, a lambda
  // applied, a lazy head; and, with T defined again, the frames return
  // through T.
  EXPECT_EQ(first_line(both("a\\pp(7)+pp(8),pp\\n\\(n*3+1)*(n+2)-n%4*5")), "433");
  EXPECT_EQ(first_line(both("a\\ff 5,ff\\n\\(n*2)+((n<3)(1)((n=5)(10)(100)))")), "20");
  EXPECT_EQ(first_line(both("a\\ff 2,ff\\n\\(gg n)+(3*4),gg\\x\\x*x")), "16");
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\(n*2)-((x\\x+n) 4)+(V n 1 K)")), "2");
  EXPECT_EQ(first_line(both("a\\ff 2,T\\a\\b\\b a,ff\\n\\(gg n)*(n+1),gg\\x\\x*x")), "12");
}

TEST(FastEngine, AFocusWhoseFirstArgumentIsACallStartsFromThatCall) {
  // Calls of globals and of an operator, a partial application, and first
  // arguments that turn out done: a pair, and a call answered at once.
  EXPECT_EQ(first_line(both("a\\ff 5,ff\\n\\gg (hh n) (n*2),gg\\x\\y\\x+y,hh\\x\\x*x")), "35");
  EXPECT_EQ(first_line(both("a\\ff 5,ff\\n\\(hh n)+(hh(n+1))+1,hh\\x\\x*x")), "62");
  EXPECT_EQ(first_line(both("a\\ff 5 4,ff\\n\\gg (hh n),gg\\x\\y\\x-y,hh\\x\\x*x")), "21");
  EXPECT_EQ(first_line(both("a\\ff 5,ff\\n\\gg (V n) ((n*2)*(n+1)),gg\\x\\y\\x y H")), "60");
}

TEST(FastEngine, ACallOfShortIntegersInAnArgumentLeftForLaterIsAnsweredWhenItIsReached) {
  // Calls waiting in lazy pairs and in a lambda's body, through an
  // operator and through a built-in named directly, and a program's own
  // operator that is no built-in.
  EXPECT_EQ(first_line(both("a\\sm 20 (up 0 20),up\\i\\n\\(i<n)(V i (up(i+1)(n)))(0),"
                            "sm\\k\\l\\(k<1)(0)((l K)+sm(k-1)(l H))")),
            "190");
  EXPECT_EQ(first_line(both("a\\nx 9 (x\\gg(dash x 1)),nx\\n\\f\\f n,gg\\y\\y*y")), "64");
  EXPECT_EQ(first_line(both("a\\ff 4 (V (3+4) 0),[+]\\x\\y\\mult x y,ff\\n\\p\\(p K)-n")), "8");
}

TEST(FastEngine, AnOperandThatIsACellOfTheBodyNotDoneIsEvaluatedWhereItStands) {
  // A closed call in a body, tt(1) or ff(3), is one cell shared by every
  // call: an operand of it is descended to, not worked out in words, and
  // a later argument of the call around it, n-1, is answered once reached,
  // through an operator defined otherwise too.
  EXPECT_EQ(first_line(both("a\\gg([])(3),gg\\s\\n\\(n<1)(s)(gg(s+tt(1))(n-1)),tt\\x\\[x]")), "[xxx]");
  EXPECT_EQ(first_line(both("a\\gg 0 5,gg\\s\\n\\(n<1)(s)(gg(s+ff(3))(n-1)),ff\\x\\x*x")), "45");
  EXPECT_EQ(first_line(both("a\\gg 5,gg\\n\\(ff(2)<n)(n+gg(n-1))(ff 2),ff\\x\\x*x")), "9");
  EXPECT_EQ(first_line(both("a\\gg 0 4,[-]\\x\\y\\plus x y,gg\\s\\n\\(n>9)(s)(gg(s+ff(2))(n-1)),ff\\x\\x*x")),
            "20");
  EXPECT_EQ(first_line(both("a\\gg 0 3,[-]\\x\\y\\V x y,gg\\s\\n\\(s>7)(n)(gg(s+ff(2))(n-1)),ff\\x\\x*x")),
            "(V (V3 1) 1)");
}

TEST(FastEngine, APartialApplicationOfALazyHeadEvaluatesAnArgumentNoFrameCompletes) {
  // V x returning to a part not done: with no frames to complete V x y c
  // it evaluates the part for V x; with the selector's frame below, the
  // rewrite takes the parts unevaluated; an argument in words; and B,
  // wanting three.
  EXPECT_EQ(
      first_line(both("a\\cc(mk 4),mk\\d\\(d<1)(K 1)(V (mk(d-1)) (mk(d-1))),cc\\t\\t(l\\r\\cc(l)+cc(r)+1)")),
      "31");
  EXPECT_EQ(first_line(both("a\\(V (ff 1) (ff 2)) H,ff\\n\\n*10")), "20");
  EXPECT_EQ(first_line(both("a\\gg (V (ff 1) (2+3)),gg\\p\\(p K)+(p H),ff\\n\\n*10")), "15");
  EXPECT_EQ(first_line(both("a\\hh(B ff (gg 2)),hh\\f\\f 3,ff\\n\\n*10,gg\\n\\m\\n+m")), "50");
}

TEST(FastEngine, AChainOfSelectorsTakesAPartOfAPart) {
  // A record of pairs read as m H K or m H H K: each selector takes a part
  // of the part before; one that takes none, as I, is applied to it; and
  // K defined otherwise.
  const std::string record = "mk\\a\\b\\c\\V a (V b (V c 0)),hh\\x\\y\\V y x,";
  EXPECT_EQ(first_line(both("a\\ff(mk 1 2 3)+gg(mk 4 5 6)," + record +
                            "ff\\m\\(m H K)+(m H H K),gg\\m\\(m K)*(m H H H)")),
            "5");
  EXPECT_EQ(first_line(both("a\\ff(mk 1 (V 7 8) 3)," + record + "ff\\m\\hh(m H K H,m H H K)")), "(V3 8)");
  EXPECT_EQ(first_line(both("a\\ff(mk (K 5) 2 3)," + record + "ff\\m\\hh(m K I,m H K)")), "(V2 5)");
  EXPECT_EQ(first_line(both("a\\ff(mk 1 2 3),K\\x\\y\\y," + record + "ff\\m\\hh(m H K,m K H K)")),
            "(V0 (V3 0))");
  EXPECT_EQ(first_line(both("a\\ff 4 (mk 1 2 3)," + record +
                            "ff\\n\\m\\(n<1)(m H H K)(ff(n-1)(mk (m H K) (m H H K) (m K)))")),
            "1");
}

TEST(FastEngine, ABodyApplyingAnArgumentToBuiltPartsLeavesThemUnbuiltInFrames) {
  // Lists as V K K or V H (V h t): l K 0 (...) takes the pair apart at
  // once, the part it drops never built; a product, a length, and a part
  // the rewrite takes itself, (f n) applied to the pair's parts.
  const std::string lists = "cons\\h\\t\\V H (V h t),bl\\n\\(n<1)(V K K)(cons n (bl(n-1))),";
  EXPECT_EQ(first_line(both("a\\sm(bl 60)," + lists + "sm\\l\\l K 0 ((l H K)+sm(l H H))")), "1830");
  EXPECT_EQ(first_line(both("a\\pr(bl 5)," + lists + "pr\\l\\l K 1 ((l H K)*pr(l H H))")), "120");
  EXPECT_EQ(first_line(both("a\\ln(bl 7)," + lists + "ln\\l\\l K 0 (1+ln(l H H))")), "7");
  EXPECT_EQ(first_line(both("a\\ff 3 (V 4 5),ff\\n\\p\\p (gg n),gg\\n\\x\\y\\n*x+y")), "17");
  // The argument a lambda of the body, a lambda built by a call, and a
  // built-in, which takes its arguments evaluated.
  EXPECT_EQ(first_line(both("a\\ff(x\\y\\x*y) 6,ff\\f\\n\\f n (n+1)")), "42");
  EXPECT_EQ(first_line(both("a\\ff(gg 3) 6,gg\\k\\x\\y\\k*x+y,ff\\f\\n\\f n (n+1)")), "25");
  EXPECT_EQ(first_line(both("a\\ff plus 6,ff\\f\\n\\f n (n+1)")), "13");
  // A part that selects from a pair, as a node's height m H H H, taken
  // when it becomes the focus; the last selector one that takes no part,
  // applied to the key 1, which reads as its bits: V K 0.
  const std::string nodes = "nd\\k\\h\\V H (V (V k 0) (V (V K K) h)),";
  EXPECT_EQ(first_line(both("a\\ht(nd 1 7)+ht(V K K)," + nodes + "ht\\m\\m(K)(0)(m H H H)")), "7");
  EXPECT_EQ(first_line(both("a\\ht(nd 1 7)," + nodes + "ht\\m\\m(K)(0)(m H K K I)")), "VK0");
  // A selector takes a built part as the focus it becomes, or drops it.
  EXPECT_EQ(first_line(both("a\\(ff K 2)+(ff H 2),ff\\p\\n\\p (gg n) 5,gg\\n\\n*10")), "25");
  EXPECT_EQ(first_line(both("a\\ff (K I) 3,ff\\p\\n\\p (gg n) 5,gg\\n\\n*10")), "5");
}

TEST(FastEngine, APairsPartsAreEvaluatedWhereTheMachineDescendsToThem) {
  // V H (V n (f x)): the cell (V H) of the body kept as it stands, the
  // pair inside descended to, and the call in it; trees of pairs, a part
  // answered in words, and a part that is a cell of the body not done.
  EXPECT_EQ(first_line(both("a\\bl 3,bl\\n\\(n<1)(V K K)(V H (V n (bl(n-1))))")),
            "(VH (V3 (VH (V2 (VH (V1 VKK))))))");
  EXPECT_EQ(first_line(both("a\\cn(mk 4),mk\\d\\(d<1)(V K 0)(V H (V (mk(d-1)) (mk(d-1)))),"
                            "cn\\t\\(t K)(1)(cn(t H K)+cn(t H H)+1)")),
            "31");
  EXPECT_EQ(first_line(both("a\\ff 2,ff\\n\\V H (V (n*3) (V (n+1) (gg 4))),gg\\x\\x*x")),
            "(VH (V6 (V3 16)))");
  EXPECT_EQ(first_line(both("a\\ff 2,ff\\n\\V H (V n (V (gg 4) n)),gg\\x\\x*x")), "(VH (V2 (V16 2)))");
}

TEST(FastEngine, ALambdaOfTheBodyAppliedToDoneArgumentsTakesThemByItsPlan) {
  // A tree of lambdas folded by a selector lambda of three parameters:
  // exactly enough arguments, one too many, and arguments not done yet,
  // which are evaluated first; the selector's first parameter a choice.
  const std::string trees = "mk\\d\\(d<1)(s\\s K 0 0)(l{mk(d-1)}s\\s H l l),";
  EXPECT_EQ(first_line(both("a\\fd(mk 4)," + trees + "fd\\t\\t(lf\\x\\y\\lf(1)((fd x)+(fd y)+1))")), "31");
  EXPECT_EQ(first_line(both("a\\fd(mk 3)," + trees + "fd\\t\\t(lf\\x\\y\\lf(K 1)(z\\(fd x)+(fd y)+z)) 1")),
            "15");
  EXPECT_EQ(first_line(both("a\\(p\\q\\r\\p*q+r) (2+3) (ff 4) 1,ff\\n\\n*n")), "81");
  EXPECT_EQ(first_line(both("a\\(p\\q\\V p q) 3 4 K")), "3");
}

TEST(FastEngine, ALetsBodyIsBuiltWithItsValueWhenTheBoundReturns) {
  // Lets inside lets around a pair, as a node of a balanced tree is made;
  // a bound done at once (in words, and a part of a pair); a let of a
  // parameter's own letter; a value of a binder shape, which the body's
  // plan cannot stand for; and lets in the parts of a choice and in a
  // part a pair's rule takes.
  EXPECT_EQ(first_line(both("a\\ht(nd(nd(nd lf lf,lf),nd lf lf)),lf\\V K 0,ht\\t\\t H,"
                            "nd\\l\\r\\x{ht l}y{ht r}V (V l r) ((x<y)(y)(x)+1)")),
            "3");
  EXPECT_EQ(first_line(both("a\\ff 4 (V 5 6),ff\\n\\p\\x{n*2}y{p K}x+y+(p H)")), "19");
  EXPECT_EQ(first_line(both("a\\ff 3 4,ff\\x\\y\\x{x+y}x*x")), "49");
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\f{gg n}f 4,gg\\n\\m\\n*m")), "12");
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\f{g\\g+n}f 1")), "10");
  EXPECT_EQ(first_line(both("a\\ff 6,ff\\n\\(n<1)(0)(x{ff(n-1)}x+n)")), "21");
  EXPECT_EQ(first_line(both("a\\ff K 5,ff\\p\\n\\p (x{n*n}x+1) 0")), "26");
}

TEST(FastEngine, ATruthReturnedToAChoiceTakesItsPart) {
  // Comparisons of texts, which no word rule answers; a truth that
  // is a cell of a body; H defined otherwise; and a truth with one part
  // waiting, which stays a partial application.
  EXPECT_EQ(first_line(both("a\\(ff [b])+(ff [z]),ff\\s\\(s<[m])(1)(20)")), "21");
  EXPECT_EQ(first_line(both("a\\(gg 3)(7)(8)+(gg 1)(7)(8),gg\\n\\(n>2)(K)(H)")), "15");
  EXPECT_EQ(first_line(both("a\\ff [z],H\\a\\b\\a,ff\\s\\(s<[m])(1)(20)")), "1");
  EXPECT_EQ(first_line(both("a\\V (([a]<[b]) 5),ff\\x\\x")), "(V K5)");
}

TEST(FastEngine, AChoiceAnsweredAsItsCallIsBuiltTakesItsPartAtOnce) {
  // Choices on both sides, one of them a choice again, with parts that are
  // single cells, calls and arithmetic.
  EXPECT_EQ(first_line(both("a\\ff 44,ff\\n\\(n<1)(0)((n%3=0)(ff(n-1)+n)((n%3=1)(n)(ff(n-2))))")), "315");
  // The prelude's selectors defined otherwise: K takes its second
  // argument; H makes a pair of the first part, which then takes the
  // second; I takes two arguments, so H x y is left as I y, whose y is
  // the product of such a value and 2, refused.
  EXPECT_EQ(first_line(both("a\\ff(9)+ff(8)+ff(2),K\\a\\b\\b,ff\\n\\(n>5)(n)(0-n)")), "019");
  EXPECT_EQ(first_line(both("a\\ff 3 K,H\\a\\V a,ff\\n\\(n<1)(7)(ff(n-1))")), "7");
  EXPECT_EQ(first_line(both("a\\ff 6,I\\a\\b\\a,ff\\n\\(n<1)(5)(ff(n-1)*2)")), "IZ");
}

TEST(FastEngine, AChoiceOnAComparisonTakesItsPartWithoutMakingTheTruth) {
  // Every comparison answering each way, on short integers about zero, at
  // seven digits and past them, and at the end of a word, where the
  // handler answers n+1: x<y gives 9, x=y 6 and x>y 10.
  EXPECT_EQ(first_line(both("a\\ss(0-5)+ss(0)+ss(999999)+ss(9999999)+ss(999999999999999999)+"
                            "ss(9223372036854775807),"
                            "ss\\n\\cc(n,n)+cc(n,n+1)+cc(n+1,n),"
                            "cc\\x\\y\\lt(x,y)+ge(x,y)+eq(x,y)+ne(x,y),"
                            "lt\\x\\y\\(x<y)(1)(0),ge\\x\\y\\(x>y)(2)(0),"
                            "eq\\x\\y\\(x=y)(4)(0),ne\\x\\y\\(x#y)(8)(0)")),
            "150");
  // A comparison whose operand is a call is answered as the operand's
  // value returns to it, on either side, the choice then taking its part.
  EXPECT_EQ(first_line(both("a\\ss(0)+ss(1)+ss(2)+ss(3)+ss(4),dd\\n\\n%3,"
                            "ss\\n\\(dd(n)<1)(1)((dd(n)>2)(1000)((2#dd(n))(10)(100)))")),
            "1022");
  // The truth a comparison answers is the fresh K or H whatever those
  // names are defined as: here K takes its second argument and H its
  // first, so every choice takes the other part.
  EXPECT_EQ(first_line(both("a\\cc(1,2)+cc(2,1)+cc(3,3)+cc(4,4),K\\a\\b\\b,H\\a\\b\\a,"
                            "cc\\x\\y\\(x<y)(1)((x=y)(10)(100))")),
            "13");
  EXPECT_EQ(first_line(both("a\\cc(1,2)+cc(2,1)+cc(3,3),K\\a\\b\\b,H\\a\\b\\a,dd\\n\\n%5,"
                            "cc\\x\\y\\(dd(x)<y)(1)((dd(x)=y)(10)(100))")),
            "12");
}

TEST(FastEngine, LazyHeadsTheMachineWouldRewriteAtOnceAreRewrittenWithThePlan) {
  // Operators naming I and T, and the combinators themselves, at the
  // focus's root, in its function parts and in a strict head's arguments.
  EXPECT_EQ(first_line(both("a\\ff 12,ff\\n\\n<2 ? 1 ? ff(n-1)+ff(n-2)+1")), "465");
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<1)(0)(plus n ; ff ; n-1)")), "45");
  EXPECT_EQ(first_line(both("a\\ff 5,ff\\n\\(n<1)(1)(n*((n-1).ff))")), "120");
  // A branch that a choice makes the focus, whether the choice is
  // answered as the body is built or later.
  EXPECT_EQ(first_line(both("a\\ff 10,ff\\n\\(n<2)(n)(plus (ff ; n-1) ; ff ; n-2)")), "55");
  EXPECT_EQ(first_line(both("a\\ff 6 0,ff\\n\\s\\(gg n<1)(s)(ff (n-1) ; plus n ; s),gg\\x\\x")), "21");
  EXPECT_EQ(first_line(both("a\\ff 4,ff\\n\\(n<1)(0)(B (plus n) ff (n-1))")), "10");
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\(I n)+(K n (M M))*(T 2 (mult n))+(C dash 1 n)")), "23");
  // A lambda handed on through I, and a lazy head whose arguments are
  // calls left for later.
  EXPECT_EQ(first_line(both("a\\ff 7,ff\\n\\(x\\x*3) ? n+1")), "24");
  EXPECT_EQ(first_line(both("a\\ff 3 4,ff\\n\\m\\K (V (n+m) (n*m)) (M M) H")), "12");
  // The prelude's names defined otherwise: I of two parameters, and a ?
  // of the program's own; J copies its first argument, one cell in two
  // places.
  EXPECT_EQ(first_line(both("a\\ff 3,I\\a\\b\\a,ff\\n\\n<1 ? 5 ? ff(n-1)*2")), "H");
  EXPECT_EQ(first_line(both("a\\ff 6,[?]\\K,ff\\n\\n ? ff(n+1)")), "6");
  EXPECT_EQ(first_line(both("a\\ff 4,J\\a\\b\\V a a,ff\\n\\J (n*2) 0 (x\\y\\x+y)")), "16");
}

TEST(FastEngine, SelectionsDropTheArgumentsTheyDoNotTake) {
  // The branch not taken would run forever, or end the run with a marker.
  EXPECT_EQ(first_line(both("a\\ff 3,ff\\n\\(n<5)(n*2)(M M)")), "6");
  EXPECT_EQ(first_line(both("a\\ff 9,ff\\n\\(n<5)(cc)(n+1),cc\\I cc")), "10");
  // Both branches from a call, chosen in turn by a recursion.
  EXPECT_EQ(first_line(both("a\\nf 15,nf\\n\\(n<2)(1)(nf(n-1)+nf(n-2)+1)")), "1973");
}

TEST(FastEngine, ConstantsAreComputedOnceWhateverBranchNeedsThem) {
  const std::string text = both("a\\ff(1)+ff(7),ff\\n\\(n<5)(cc)(cc+n),cc\\6*7");
  EXPECT_EQ(first_line(text), "91");
  EXPECT_NE(text.find("cc = 42"), std::string::npos) << text;
}

TEST(FastEngine, ResultsApplyingAnArgumentGoOnToItsRewrite) {
  // hd s = s K and tl s = s H 0 on pairs V a b: V, then K or H, at once.
  const char* streams =
      "a\\nth(30)(sv(from(2))),"
      "hd\\s\\s K,tl\\s\\s H 0,from\\n\\V n (x\\from(n+1)),"
      "filt\\p\\s\\((hd s)%p=0)(filt p (tl s))(V (hd s) (x\\filt p (tl s))),"
      "sv\\s\\V (hd s) (x\\sv(filt (hd s) (tl s))),"
      "nth\\n\\s\\(n<1)(hd s)(nth(n-1)(tl s))";
  EXPECT_EQ(first_line(both(streams)), "127");
  // T passes an argument to a function; the pair's selector takes a lambda.
  EXPECT_EQ(first_line(both("a\\T 4 (x\\x*x)")), "16");
}

TEST(FastEngine, SelectorLambdasTakeTheirArgumentsByTheirOwnPlan) {
  // Two parameters, exactly enough and one too many arguments.
  EXPECT_EQ(first_line(both("a\\sm(bl 100),bl\\n\\(n<1)(K 0)(V n (bl(n-1))),sm\\l\\l(h\\t\\h+sm(t))")),
            "5050");
  EXPECT_EQ(first_line(both("a\\ff(V 3 4),ff\\l\\l(h\\t\\u\\h*t+u) 5")), "17");
  // A repeated letter takes the last of its arguments.
  EXPECT_EQ(first_line(both("a\\ff(V 3 4),ff\\l\\l(h\\h\\h)")), "4");
  // C hands its arguments on unevaluated: the lambda then takes them the
  // literal way, each evaluated first.
  EXPECT_EQ(first_line(both("a\\C (h\\t\\h-t) (4*4) (2+3)")), "011");
}

TEST(FastEngine, LambdasChosenOrMadeOfPartsTakeTheirArguments) {
  // A lambda of a body that a choice returns takes the arguments waiting
  // for it by its own plan: all it wants, fewer, and arguments that are
  // calls yet.
  const char* pick = "pick\\n\\(n%2=0)(x\\y\\x*10+y)(x\\y\\x-y),";
  EXPECT_EQ(
      first_line(both(std::string("a\\run(6,0),") + pick + "run\\n\\acc\\(n<1)(acc)(run(n-1,pick n n acc))")),
      "037");
  EXPECT_EQ(first_line(both(std::string("a\\pick 3 (2*5) 4,") + pick)), "6");
  EXPECT_EQ(first_line(both(std::string("a\\pick 2 7,") + pick)), "(\\y (+ (*7 10) y))");
  // A pair made of a lambda, \s s a b, applied to each kind of selector.
  const char* pair = "mk\\a\\b\\s\\s a b,gg\\x\\y\\z\\x*y+z,";
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 (p\\q\\q),") + pair)), "4");
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 K,") + pair)), "3");
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 V,") + pair)), "(V3 4)");
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 V K,") + pair)), "3");
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 (gg 5),") + pair)), "19");
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 (p\\q\\r\\p-q+r) 10,") + pair)), "9");
  EXPECT_EQ(first_line(both(std::string("a\\mk 3 4 (p\\gg p 2),") + pair)), "10");
  // A tree of such lambdas, folded by a selector of three parameters.
  const char* tree =
      "a\\fold(make 6),make\\d\\(d<1)(s\\s K 0 0)(l{make(d-1)}s\\s H l l),"
      "fold\\t\\t(leaf\\x\\y\\leaf(1)((fold x) + (fold y) + 1))";
  EXPECT_EQ(first_line(both(tree)), "127");
  EXPECT_EQ(value_leaving_no_cell(tree), "127");
}

TEST(FastEngine, AnInterruptedRunGivesDeferredArgumentsBack) {
  // Interrupted while branches wait in frames: the constant being computed
  // gets back an expression that computes the same value when run again.
  EXPECT_EQ(value_after_interrupt("a\\cc,cc\\nf 18,nf\\n\\(n<2)(1)(nf(n-1)+nf(n-2)+1)"), "8361");
  // Interrupted while bounds are evaluated: their lets are folded back
  // with their bodies as written.
  EXPECT_EQ(value_after_interrupt("a\\cc,cc\\nf 18,nf\\n\\(n<2)(1)(x{nf(n-1)}y{nf(n-2)}x+y+1)"), "8361");
}

TEST(FastEngine, EvaluationLeavesNoCellAlive) {
  value_leaving_no_cell("a\\ff 12,ff\\n\\(n<2)(V n n)(V (ff(n-1)) (h\\t\\h+t))");
  // Let frames hold their calls, and a let inside a let the spine of its
  // call and the value around it.
  EXPECT_EQ(value_leaving_no_cell("a\\ff 9 (V 2 3),ff\\n\\p\\(n<1)(p)(x{ff(n-1)(p)}y{x H}z{gg y}"
                                  "V ((x K)+z) y),gg\\n\\n+1"),
            "(V38 3)");
}

}  // namespace
