// Instantiation plans against the literal rewrite: the same cells, shared
// and new in the same places, for bodies with lambdas, lets, repeated
// parameter letters and for arguments that form binder shapes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cells/analysis.h"
#include "cells/print.h"
#include "cells/tables.h"
#include "eval/instantiate.h"
#include "frontend/frontend.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

// Equal graphs in which every cell that is not new in one result is the very
// same cell in the other.
bool same_cells(Cell* x, Cell* y) {
  std::vector<std::pair<Cell*, Cell*>> pending{{x, y}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (a == b) continue;
    if (is_atom(a) || is_atom(b)) return false;
    pending.emplace_back(pair_left(a), pair_left(b));
    pending.emplace_back(pair_right(a), pair_right(b));
  }
  return true;
}

class Instantiate : public ::testing::Test {
 protected:
  // The built-ins have their placeholder definitions, as in a program read.
  void SetUp() override {
    load_prelude();
    for (const auto& [name, entry] : builtin_table()) definitions().set(name, placeholder(entry.arity));
  }
  // The plans and the names they resolved go, as at the end of an evaluation.
  void TearDown() override { forget_resolved_names(); }

  void expect_same(const char* body_text, std::vector<CellRef> arguments) {
    CellRef body = sexpr(body_text);
    analyse_node(body.get());
    std::vector<Cell*> raw;
    for (CellRef& argument : arguments) {
      analyse_node(argument.get());
      raw.push_back(argument.get());
    }
    CellRef literal = substitute_parameters(body.get(), raw.data(), raw.size());
    CellRef planned = instantiate(plan_for(body.get()), raw.data());
    EXPECT_EQ(print_expression(planned.get()), print_expression(literal.get())) << body_text;
    EXPECT_TRUE(same_cells(planned.get(), literal.get())) << body_text;
    // Pairs built by a plan come analysed (the literal path leaves that to
    // the first reader), the same as the generic walk analyses the literal
    // rewrite's pairs.
    // Every new pair is compared, the lambda and let nodes a body builds
    // among them.
    analyse_node(literal.get());
    analyse_node(planned.get());
    std::vector<std::pair<Cell*, Cell*>> pending{{planned.get(), literal.get()}};
    while (!pending.empty()) {
      auto [p, l] = pending.back();
      pending.pop_back();
      if (p == l || is_atom(p)) continue;
      EXPECT_EQ(analysis_bits(p), analysis_bits(l)) << body_text << ": " << print_expression(p);
      EXPECT_EQ(payload(p), payload(l)) << body_text << ": " << print_expression(p);
      pending.emplace_back(pair_left(p), pair_left(l));
      pending.emplace_back(pair_right(p), pair_right(l));
    }
  }
};

TEST_F(Instantiate, PlainBodiesMatchTheLiteralRewrite) {
  std::vector<CellRef> two;
  two.push_back(make_atom("5"));
  two.push_back(make_atom("[ab]"));
  expect_same("((\\ a) ((\\ b) (S a (K b a))))", std::move(two));
  std::vector<CellRef> none_used;
  none_used.push_back(make_atom("7"));
  expect_same("((\\ a) (K 3 4))", std::move(none_used));
  std::vector<CellRef> bare;
  bare.push_back(make_atom("8"));
  expect_same("((\\ a) a)", std::move(bare));
}

TEST_F(Instantiate, InnerLambdasAndLetsShadowTheirLetters) {
  std::vector<CellRef> args;
  args.push_back(make_atom("1"));
  args.push_back(make_atom("2"));
  expect_same("((\\ a) ((\\ b) (a ((\\ a) (a b)) ((({ b) a) (b a)))))", std::move(args));
}

TEST_F(Instantiate, RepeatedLettersTakeTheLastArgument) {
  std::vector<CellRef> args;
  args.push_back(make_atom("1"));
  args.push_back(make_atom("2"));
  args.push_back(make_atom("3"));
  expect_same("((\\ a) ((\\ b) ((\\ a) (a b (K a)))))", std::move(args));
}

TEST_F(Instantiate, ArgumentsThatFormBinderShapesAreRewrittenLiterally) {
  // Parameters are replaced from the last: b := the backslash atom turns
  // ((b a) a) into ((\ a) a), a lambda node that binds a, so the later
  // a := 4 leaves it alone.
  std::vector<CellRef> backslash;
  backslash.push_back(make_atom("4"));
  backslash.push_back(make_atom("\\"));
  expect_same("((\\ a) ((\\ b) ((b a) a)))", std::move(backslash));
  // b := (({ a) 5), a partial let, turns (b a) into a let node keyed by a.
  std::vector<CellRef> partial_let;
  partial_let.push_back(make_atom("6"));
  partial_let.push_back(sexpr("(({ a) 5)"));
  expect_same("((\\ a) ((\\ b) (b a)))", std::move(partial_let));
  // A lambda node as an argument is an ordinary value.
  std::vector<CellRef> lambda;
  lambda.push_back(sexpr("((\\ q) q)"));
  lambda.push_back(make_atom("6"));
  expect_same("((\\ a) ((\\ b) ((a b) (a a))))", std::move(lambda));
}

// The frames a call pushes, folded back onto its focus from the top, give
// the literal rewrite: the same cells, shared and new in the same places.
CellRef fold_frames(CellRef focus, std::vector<Frame>& frames) {
  while (!frames.empty()) {
    if (frames.back().kind == Frame::Deferred) build_deferred_argument(frames.back());
    EXPECT_EQ(frames.back().kind, Frame::Apply);
    focus = make_pair(std::move(focus), std::move(frames.back().first));
    frames.pop_back();
  }
  return focus;
}

// A body of one parameter called with 5: its plan, the literal rewrite,
// and a call (K 5) for Deferred frames to hold.
struct CallOfFive {
  CellRef body;
  const InstantiationPlan* plan = nullptr;
  CellRef argument;
  Cell* raw = nullptr;
  CellRef literal;
  CellRef call;
};

CallOfFive call_of_five(const char* body_text) {
  CallOfFive c;
  c.body = sexpr(body_text);
  analyse_node(c.body.get());
  c.plan = &plan_for(c.body.get());
  c.argument = make_atom("5");
  analyse_node(c.argument.get());
  c.raw = c.argument.get();
  c.literal = substitute_parameters(c.body.get(), &c.raw, 1);
  c.call = make_pair(make_atom("K"), c.argument.share());
  analyse_node(c.call.get());
  return c;
}

TEST_F(Instantiate, OverAppliedTopsBecomeFramesBuiltOnlyWhenUsed) {
  // (< n 2 1 (+ n 1)): "<" names a constant, so every level but the
  // innermost is over-applied. Its value `less` takes two arguments, both
  // single cells here, so those two levels stay in the focus, and the two
  // past them are pushed as frames, outermost first.
  const CallOfFive c = call_of_five("((\\ n) (< n 2 1 (+ n 1)))");
  ASSERT_EQ(c.plan->top_parts, 2u);
  // Without the call, every frame holds its argument built.
  std::vector<Frame> frames;
  CellRef focus = instantiate_into_frames(*c.plan, &c.raw, nullptr, frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(print_expression(focus.get()), "(<5 2)");
  EXPECT_EQ(frames[0].kind, Frame::Apply);
  CellRef folded = fold_frames(std::move(focus), frames);
  EXPECT_TRUE(same_cells(folded.get(), c.literal.get()));
  // With the call, the argument that needs new pairs waits in a Deferred
  // frame holding the call, and is built from the call's arguments.
  focus = instantiate_into_frames(*c.plan, &c.raw, c.call.get(), frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, Frame::Deferred);
  EXPECT_EQ(frames[1].kind, Frame::Apply);
  EXPECT_EQ(ref_count(c.call.get()), 2u);
  folded = fold_frames(std::move(focus), frames);
  EXPECT_TRUE(same_cells(folded.get(), c.literal.get()));
  EXPECT_EQ(ref_count(c.call.get()), 1u);
}

TEST_F(Instantiate, AnOperatorKeepsOnlyLevelsOfSingleCellsInTheFocus) {
  // (< (+ n 1) 2 1 0): the operator's first argument needs new pairs, so
  // only the innermost level stays; the other three are frames.
  const CallOfFive built = call_of_five("((\\ n) (< (+ n 1) 2 1 0))");
  EXPECT_EQ(built.plan->top_parts, 3u);
  // (f n 2 1 0) for f of one parameter: f's arity, not an operator's,
  // says which levels are over-applied.
  definitions().set("f", sexpr("((\\ x) x)"));
  const CallOfFive function = call_of_five("((\\ n) (f n 2 1 0))");
  ASSERT_EQ(function.plan->top_parts, 3u);
  std::vector<Frame> frames;
  CellRef focus = instantiate_into_frames(*function.plan, &function.raw, nullptr, frames);
  EXPECT_EQ(print_expression(focus.get()), "f5");
  CellRef folded = fold_frames(std::move(focus), frames);
  EXPECT_TRUE(same_cells(folded.get(), function.literal.get()));
}

TEST_F(Instantiate, AnOverAppliedBranchBecomesFramesWhenItIsTheFocus) {
  // (< n 0 1 (< n 9 (+ n 1) (+ n 2))): the second branch is a conditional
  // again; taken as the focus, its own branches wait in frames, and
  // folded back they give the branch as the literal rewrite builds it.
  const CallOfFive c = call_of_five("((\\ n) (< n 0 1 (< n 9 (+ n 1) (+ n 2))))");
  ASSERT_EQ(c.plan->top_parts, 2u);
  std::vector<Frame> frames;
  CellRef focus = instantiate_into_frames(*c.plan, &c.raw, c.call.get(), frames);
  ASSERT_EQ(frames.size(), 2u);
  ASSERT_EQ(frames[0].kind, Frame::Deferred);
  EXPECT_TRUE(frames[0].over_applied);
  EXPECT_EQ(frames[1].kind, Frame::Apply);
  const Frame branch = std::move(frames[0]);
  frames.clear();
  focus = deferred_into_frames(branch, frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(print_expression(focus.get()), "(<5 9)");
  ASSERT_EQ(frames[0].kind, Frame::Deferred);
  ASSERT_EQ(frames[1].kind, Frame::Deferred);
  EXPECT_FALSE(frames[1].over_applied);
  EXPECT_EQ(ref_count(c.call.get()), 4u);
  CellRef folded = fold_frames(std::move(focus), frames);
  EXPECT_TRUE(same_cells(folded.get(), pair_right(c.literal.get())));
  EXPECT_EQ(ref_count(c.call.get()), 2u);
}

// The fast engine builds a focus headed by an operator with the operator's
// value at its head, where the machine's next transition would put it; the
// new pairs come analysed as the generic walk analyses them.
TEST_F(Instantiate, AValuedFocusHasTheOperatorsValueAtItsHead) {
  Cell* less = definitions().find("<")->get();
  const CallOfFive c = call_of_five("((\\ n) (< n 2 1 (+ n 1)))");
  std::vector<Frame> frames;
  CellRef focus = instantiate_into_frames(*c.plan, &c.raw, c.call.get(), frames, FocusHead::valued);
  EXPECT_EQ(print_expression(focus.get()), "(less5 2)");
  EXPECT_EQ(pair_left(pair_left(focus.get())), less);
  CellRef fresh = make_pair(make_pair(CellRef::retained(less), c.argument.share()), make_atom("2"));
  analyse_node(fresh.get());
  EXPECT_EQ(analysis_bits(focus.get()), analysis_bits(fresh.get()));
  EXPECT_EQ(analysis_bits(pair_left(focus.get())), analysis_bits(pair_left(fresh.get())));
  EXPECT_EQ(payload(focus.get()), payload(fresh.get()));
  frames.clear();
  // A branch taken as the focus is valued the same way.
  const CallOfFive b = call_of_five("((\\ n) (< n 0 1 (< n 9 (+ n 1) (+ n 2))))");
  focus = instantiate_into_frames(*b.plan, &b.raw, b.call.get(), frames);
  ASSERT_EQ(frames.size(), 2u);
  const Frame branch = std::move(frames[0]);
  frames.clear();
  focus = deferred_into_frames(branch, frames, FocusHead::valued);
  EXPECT_EQ(print_expression(focus.get()), "(less5 9)");
  frames.clear();
  // A head with parameters is no operator, and an operator whose value
  // would make a lambda node of the pair it leads keeps its place.
  definitions().set("f", sexpr("((\\ x) x)"));
  const CallOfFive f = call_of_five("((\\ n) (f n 2 1 0))");
  focus = instantiate_into_frames(*f.plan, &f.raw, f.call.get(), frames, FocusHead::valued);
  EXPECT_EQ(print_expression(focus.get()), "f5");
  frames.clear();
  definitions().set("#", sexpr("(\\ q)"));
  const CallOfFive binder = call_of_five("((\\ n) (# n 2))");
  focus = instantiate_into_frames(*binder.plan, &binder.raw, binder.call.get(), frames, FocusHead::valued);
  EXPECT_EQ(print_expression(focus.get()), "(#5 2)");
}

// The frames, outermost first, each by its kind and what it holds (a
// Deferred frame holds its call).
std::string frames_text(const std::vector<Frame>& frames) {
  std::string text;
  for (const Frame& frame : frames) {
    if (!text.empty()) text += ", ";
    text += frame.kind == Frame::Apply      ? "Apply "
            : frame.kind == Frame::Function ? "Function "
            : frame.kind == Frame::Deferred ? "Deferred "
                                            : "Lambda ";
    text += print_expression(frame.first.get());
  }
  return text;
}

// An evaluated focus has the answer of each call of short integers that
// the machine would evaluate before any rewrite: in a function part, or
// an argument a strict head takes, all the way up. Anything else is built
// as the valued focus builds it.
TEST_F(Instantiate, AnEvaluatedFocusHasTheAnswersOfItsStrictCalls) {
  definitions().set("f", sexpr("((\\ x) ((\\ y) x))"));
  // f's two arguments are evaluated, V's are not, and a third argument of
  // f waits in a frame for whatever f's rewrite gives. The second argument
  // is a call left to make: the machine would descend to it, (f 6) in a
  // Function frame, and on into it to V's partial application, whose part
  // is still to work out, (f 15) in a Function frame.
  const CallOfFive c = call_of_five("((\\ n) (f (+ n 1) (f (* n 3) (V (- n 2))) (+ n 4)))");
  const CallOfFive below = call_of_five("((\\ n) (+ (f (* n 2) 0) 1))");
  std::vector<Frame> frames;
  CellRef focus = instantiate_into_frames(*c.plan, &c.raw, c.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(V (-5 2))");
  ASSERT_EQ(frames_text(frames), "Deferred K5, Function f6, Function f15");
  // The answers come analysed, and so do the pairs built over them.
  CellRef fresh = sexpr("(V (- 5 2))");
  analyse_node(fresh.get());
  EXPECT_EQ(analysis_bits(focus.get()), analysis_bits(fresh.get()));
  EXPECT_EQ(payload(focus.get()), payload(fresh.get()));
  CellRef head = sexpr("(f 6)");
  analyse_node(head.get());
  EXPECT_EQ(analysis_bits(frames[1].first.get()), analysis_bits(head.get()));
  CellRef below_head = sexpr("(f 15)");
  analyse_node(below_head.get());
  EXPECT_EQ(analysis_bits(frames[2].first.get()), analysis_bits(below_head.get()));
  frames.clear();
  // A branch taken as the focus: a comparison answers "K" or "H".
  const CallOfFive b = call_of_five("((\\ n) (< n 0 1 (< n 9 (+ n 1) (+ n 2))))");
  focus = instantiate_into_frames(*b.plan, &b.raw, b.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "H");
  ASSERT_EQ(frames.size(), 2u);
  const Frame branch = std::move(frames[0]);
  frames.clear();
  focus = deferred_into_frames(branch, frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "K");
  CellRef k = sexpr("K");
  analyse_node(k.get());
  EXPECT_EQ(analysis_bits(focus.get()), analysis_bits(k.get()));
  frames.clear();
  // Calls inside calls: each answer is an operand of the call around it,
  // and a call that cannot be answered is built over the answers inside.
  const CallOfFive nested =
      call_of_five("((\\ n) (f (* (+ n 1) (- n 2)) (* (+ n 999999999999999994) (+ n 5))))");
  focus = instantiate_into_frames(*nested.plan, &nested.raw, nested.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(*999999999999999999 10)");
  EXPECT_EQ(frames_text(frames), "Function f18");
  frames.clear();
  // Operands that are no short integers, and a result past a word, are
  // left to the handler.
  const CallOfFive text = call_of_five("((\\ n) (f (+ n [x]) (* 4611686018427387904 n)))");
  focus = instantiate_into_frames(*text.plan, &text.raw, text.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "+5[x]");
  EXPECT_EQ(frames_text(frames), "Apply (*4611686018427387904 5), Function f");
  frames.clear();
  // A first argument left a call: the machine would descend to it, the
  // rest of the spine waiting in frames.
  const CallOfFive inner = call_of_five("((\\ n) (f (- (+ n [x]) 1) 0))");
  focus = instantiate_into_frames(*inner.plan, &inner.raw, inner.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(- +5[x] 1)");
  EXPECT_EQ(frames_text(frames), "Apply 0, Function f");
  frames.clear();
  definitions().set("g", sexpr("((\\ x) ((\\ y) ((\\ z) x)))"));
  const CallOfFive second = call_of_five("((\\ n) (g n (- (+ n [x]) 1) 7))");
  focus = instantiate_into_frames(*second.plan, &second.raw, second.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(- +5[x] 1)");
  EXPECT_EQ(frames_text(frames), "Apply 7, Function g5");
  frames.clear();
  // A first argument answered at once is no descent: the spine is built,
  // and answered too when it is a call itself.
  const CallOfFive answered = call_of_five("((\\ n) (plus (* (+ n 1) 2) 3))");
  focus = instantiate_into_frames(*answered.plan, &answered.raw, answered.call.get(), frames,
                                  FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "15");
  EXPECT_TRUE(frames.empty());
  // An operator defined again no longer names what the path was read
  // through: neither the call it heads nor a call below it is evaluated,
  // until it names that very value again.
  CellRef plus = definitions().find("+")->share();
  definitions().set("+", sexpr("mult"));
  focus = instantiate_into_frames(*c.plan, &c.raw, c.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(+5 1)");
  EXPECT_EQ(frames_text(frames), "Deferred K5, Apply (f15 (V (-5 2))), Function f");
  frames.clear();
  definitions().set("+", std::move(plus));
  focus = instantiate_into_frames(*below.plan, &below.raw, below.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f10 0)");
  EXPECT_EQ(frames_text(frames), "Apply 1, Function plus");
  frames.clear();
  definitions().set("+", sexpr("V"));
  focus = instantiate_into_frames(*below.plan, &below.raw, below.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(V (f (*5 2) 0))");
}

// An operator's spine that is the argument a descent stops at is the
// focus the machine takes apart at once: the descent goes on into it,
// and the frames of each level go on in the order the machine pushes
// them, the outer first.
TEST_F(Instantiate, ADescentGoesOnIntoAnOperatorsSpine) {
  definitions().set("f", sexpr("((\\ x) ((\\ y) x))"));
  std::vector<Frame> frames;
  const CallOfFive nested = call_of_five("((\\ n) (f (- (* (f n 0) 2) n) 3))");
  CellRef focus =
      instantiate_into_frames(*nested.plan, &nested.raw, nested.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 0)");
  EXPECT_EQ(frames_text(frames), "Apply 3, Function f, Apply 5, Function dash, Apply 2, Function mult");
  frames.clear();
  // Through a constant first operand, and stopping at a later argument.
  const CallOfFive later = call_of_five("((\\ n) (f (+ 1 (f n 0)) (+ n (f 0 n))))");
  focus = instantiate_into_frames(*later.plan, &later.raw, later.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 0)");
  EXPECT_EQ(frames_text(frames), "Apply (+5 (f0 5)), Function f, Function plus1");
  frames.clear();
  // An inner spine all done is built as it stands, or answered, and the
  // descent goes on past it.
  const CallOfFive done = call_of_five("((\\ n) (f (+ (* n 2) 1) (- n (f 0 n))))");
  focus = instantiate_into_frames(*done.plan, &done.raw, done.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f0 5)");
  EXPECT_EQ(frames_text(frames), "Function f11, Function dash5");
  frames.clear();
  // An operator defined again ends the descent where its spine starts.
  CellRef minus = definitions().find("-")->share();
  definitions().set("-", sexpr("plus"));
  focus = instantiate_into_frames(*nested.plan, &nested.raw, nested.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(- (* (f5 0) 2) 5)");
  EXPECT_EQ(frames_text(frames), "Apply 3, Function f");
  frames.clear();
  definitions().set("-", std::move(minus));
}

// A partial application of a lazy head, (V a b), returned to a frame that
// applies no argument is evaluated inside, first part first, as a strict
// head's arguments are, with the calls of short integers in them; under
// an apply frame the machine rewrites it with the frame's argument
// instead, its parts as they are written.
TEST_F(Instantiate, APairOfPartsToWorkOutIsDescendedUnlessAnArgumentWaits) {
  definitions().set("f", sexpr("((\\ x) ((\\ y) x))"));
  const CallOfFive pair = call_of_five("((\\ n) (V (- n 2) (f n 1)))");
  std::vector<Frame> frames;
  frames.push_back({Frame::Function, sexpr("g"), {}});
  CellRef focus =
      instantiate_into_frames(*pair.plan, &pair.raw, pair.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 1)");
  EXPECT_EQ(frames_text(frames), "Function g, Function V3");
  frames.clear();
  // The descent goes on into the call a part is, and the calls inside it.
  const CallOfFive inside = call_of_five("((\\ n) (V (f (* (f n 0) 2) n) n))");
  focus = instantiate_into_frames(*inside.plan, &inside.raw, inside.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 0)");
  EXPECT_EQ(frames_text(frames), "Apply 5, Function V, Apply 5, Function f, Apply 2, Function mult");
  frames.clear();
  frames.push_back({Frame::Apply, sexpr("K"), {}});
  focus = instantiate_into_frames(*pair.plan, &pair.raw, pair.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(V (-5 2) (f5 1))");
  EXPECT_EQ(frames_text(frames), "Apply K");
  frames.clear();
  // A first part done: the descent stops at the second.
  const CallOfFive second = call_of_five("((\\ n) (V n (f n 1)))");
  focus = instantiate_into_frames(*second.plan, &second.raw, second.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 1)");
  EXPECT_EQ(frames_text(frames), "Function V5");
  frames.clear();
}

// A call written with its first argument constant, (+ 7 n), shares the
// cell (+ 7) of the body: its spine is read through that cell, as the
// machine's descent into it is. Every focus here is the state the machine
// reaches by its own transitions from the focus as written.
TEST_F(Instantiate, ASpineWhoseHeadIsACellOfTheBodyIsReadThroughIt) {
  definitions().set("f", sexpr("((\\ x) ((\\ y) x))"));
  std::vector<Frame> frames;
  // Answered in words, alone and inside a word tree, and as a choice.
  const CallOfFive words = call_of_five("((\\ n) (f (+ 7 n) (* 2 (- 9 n))))");
  CellRef focus =
      instantiate_into_frames(*words.plan, &words.raw, words.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f12 8)");
  EXPECT_TRUE(frames.empty());
  // The choice's answer, its parts in frames (the part a truth takes is
  // not known before K and H are first rewritten).
  const CallOfFive choice = call_of_five("((\\ n) (< 9 n 1 (+ 1 n)))");
  focus = instantiate_into_frames(*choice.plan, &choice.raw, choice.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "H");
  EXPECT_EQ(frames.size(), 2u);
  frames.clear();
  // A descent: the operator's value goes in, over a new pair of its own,
  // as the machine rebuilds the shared cell it takes apart.
  const CallOfFive operands = call_of_five("((\\ n) (+ 7 (f n 0)))");
  focus = instantiate_into_frames(*operands.plan, &operands.raw, operands.call.get(), frames,
                                  FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 0)");
  ASSERT_EQ(frames_text(frames), "Function plus7");
  Cell* written = pair_left(pair_right(operands.body.get()));
  EXPECT_NE(frames[0].first.get(), written);
  EXPECT_EQ(ref_count(frames[0].first.get()), 1u);
  frames.clear();
  // A strict global's first arguments constant: the machine keeps that
  // cell, a done value, as it stands.
  definitions().set("g", sexpr("((\\ x) ((\\ y) ((\\ z) x)))"));
  const CallOfFive global = call_of_five("((\\ n) (g 1 2 (f n 0)))");
  focus = instantiate_into_frames(*global.plan, &global.raw, global.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(f5 0)");
  ASSERT_EQ(frames_text(frames), "Function (g1 2)");
  EXPECT_EQ(frames[0].first.get(), pair_left(pair_right(global.body.get())));
  frames.clear();
  // The operator defined again: nothing is read through it.
  CellRef plus = definitions().find("+")->share();
  definitions().set("+", sexpr("mult"));
  focus = instantiate_into_frames(*words.plan, &words.raw, words.call.get(), frames, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(+7 5)");
  EXPECT_EQ(frames_text(frames), "Apply 8, Function f");
  frames.clear();
  focus = instantiate_into_frames(*operands.plan, &operands.raw, operands.call.get(), frames,
                                  FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "(+7 (f5 0))");
  EXPECT_TRUE(frames.empty());
  definitions().set("+", std::move(plus));
}

// A settled plan has taken the rewrites of lazy heads the machine would
// take as soon as the focus is built, and only those.
TEST_F(Instantiate, ASettledPlanHasTakenTheRewritesOfLazyHeadsAtOnce) {
  // x ? y is I x y: the choice is the focus's own, the call of < its root,
  // and a strict head's arguments are such places as well.
  const CallOfFive c = call_of_five("((\\ n) (? (? (< n 2) 1) (+ n 1)))");
  const InstantiationPlan& settled = evaluated_plan(*c.plan);
  ASSERT_NE(&settled, c.plan);
  std::vector<Frame> frames;
  CellRef focus = instantiate_into_frames(settled, &c.raw, c.call.get(), frames);
  EXPECT_EQ(print_expression(focus.get()), "(<5 2)");
  EXPECT_EQ(frames_text(frames), "Deferred K5, Apply 1");
  frames.clear();
  const CallOfFive strict = call_of_five("((\\ n) (+ (K n (M M)) (T 2 (* n))))");
  focus = instantiate_into_frames(evaluated_plan(*strict.plan), &strict.raw, nullptr, frames);
  EXPECT_EQ(print_expression(focus.get()), "+5");
  EXPECT_EQ(frames_text(frames), "Apply (*5 2)");
  frames.clear();
  // The spine below the first argument rewritten is the body's own, as
  // the machine keeps it: (g 7) stays the body's cell.
  definitions().set("g", sexpr("((\\ x) ((\\ y) ((\\ z) x)))"));
  const CallOfFive kept = call_of_five("((\\ n) (g 7 (I n)))");
  focus = instantiate_into_frames(evaluated_plan(*kept.plan), &kept.raw, nullptr, frames);
  EXPECT_EQ(print_expression(focus.get()), "(g7 5)");
  EXPECT_EQ(pair_left(focus.get()), pair_left(pair_right(kept.body.get())));
  // A part that a choice makes the focus is such a place once it is the
  // focus, and only then.
  const CallOfFive branch = call_of_five("((\\ n) (< n 2 n (I (+ n) (- n 1))))");
  ASSERT_EQ(branch.plan->settled_parts.size(), 1u);
  focus = instantiate_into_frames(*branch.plan, &branch.raw, branch.call.get(), frames);
  ASSERT_EQ(frames_text(frames), "Deferred K5, Apply 5");
  std::vector<Frame> taken;
  focus = valued_deferred_focus(frames[0], taken, FocusHead::evaluated);
  EXPECT_EQ(print_expression(focus.get()), "plus5");
  EXPECT_EQ(frames_text(taken), "Deferred K5");
  taken.clear();
  focus = valued_deferred_focus(frames[0], taken, FocusHead::valued);
  EXPECT_EQ(print_expression(focus.get()), "(I +5 (-5 1))");
  EXPECT_TRUE(taken.empty());
  build_deferred_argument(frames[0]);
  EXPECT_EQ(frames_text(frames), "Apply (I +5 (-5 1)), Apply 5");
  frames.clear();
  // Lazy heads in places the machine leaves for later keep their calls:
  // the arguments of V, and a lazy head short of arguments.
  const CallOfFive lazy = call_of_five("((\\ n) (V (I n) (? n 1)))");
  EXPECT_EQ(&evaluated_plan(*lazy.plan), lazy.plan);
  const CallOfFive short_of = call_of_five("((\\ n) (B (+ n) n))");
  EXPECT_EQ(&evaluated_plan(*short_of.plan), short_of.plan);
  // A rewrite that would put a new pair in two places is left to the
  // machine, which shares that one cell; an argument put twice is shared
  // either way.
  definitions().set("J", sexpr("((\\ a) ((\\ b) (V a a)))"));
  const CallOfFive copies = call_of_five("((\\ n) (J (+ n 1) 0 K))");
  EXPECT_EQ(&evaluated_plan(*copies.plan), copies.plan);
  const CallOfFive shares = call_of_five("((\\ n) (J n 0 (plus 1)))");
  focus = instantiate_into_frames(evaluated_plan(*shares.plan), &shares.raw, nullptr, frames);
  EXPECT_EQ(print_expression(focus.get()), "(plus1 5)");
  EXPECT_EQ(frames_text(frames), "Apply 5");
  frames.clear();
  // A stand-in argument may be a binder shape: such an argument gets the
  // literal rewrite of the body, and a rewrite that takes one whole is
  // left to the machine.
  CellRef binder = make_atom("\\");
  Cell* raw_binder = binder.get();
  const CallOfFive selects = call_of_five("((\\ n) (K (n 0) 1))");
  ASSERT_NE(&evaluated_plan(*selects.plan), selects.plan);
  focus = instantiate_into_frames(evaluated_plan(*selects.plan), &raw_binder, nullptr, frames);
  CellRef literal = substitute_parameters(selects.body.get(), &raw_binder, 1);
  EXPECT_TRUE(same_cells(focus.get(), literal.get())) << print_expression(focus.get());
  focus = instantiate_into_frames(evaluated_plan(*selects.plan), &selects.raw, nullptr, frames);
  EXPECT_EQ(print_expression(focus.get()), "(5 0)");
  const CallOfFive whole = call_of_five("((\\ n) (K n 0))");
  EXPECT_EQ(&evaluated_plan(*whole.plan), whole.plan);
  // An operator defined again no longer names I: its plan is the
  // unsettled one until it names I again.
  CellRef apply = definitions().find("?")->share();
  definitions().set("?", sexpr("K"));
  EXPECT_EQ(&evaluated_plan(*c.plan), c.plan);
  definitions().set("?", std::move(apply));
  EXPECT_EQ(&evaluated_plan(*c.plan), &settled);
  // A lazy head whose rewrite is its own call again is rewritten a
  // bounded number of times while the plan is made.
  definitions().set("I", sexpr("((\\ a) (I a))"));
  const CallOfFive endless = call_of_five("((\\ n) (I n))");
  focus = instantiate_into_frames(evaluated_plan(*endless.plan), &endless.raw, nullptr, frames);
  EXPECT_EQ(print_expression(focus.get()), "I5");
  EXPECT_TRUE(frames.empty());
}

TEST_F(Instantiate, PlansKnowWhereArgumentsLand) {
  // V a b c = c a b applies its third argument to its first two.
  CellRef v = sexpr("((\\ a) ((\\ b) ((\\ c) (c a b))))");
  analyse_node(v.get());
  const InstantiationPlan& pair_plan = plan_for(v.get());
  EXPECT_EQ(pair_plan.head_argument, 2);
  ASSERT_EQ(pair_plan.head_spine.size(), 2u);
  EXPECT_EQ(pair_plan.head_spine[0].op, InstantiationPlan::Argument);
  EXPECT_EQ(pair_plan.head_spine[1].argument, 1);
  EXPECT_TRUE(pair_plan.arguments_lead);
  // An argument applied to something built is no simple head.
  CellRef built = sexpr("((\\ a) (a (K a)))");
  analyse_node(built.get());
  EXPECT_EQ(plan_for(built.get()).head_argument, -1);
  // Arguments only in right places can never make a binder shape.
  CellRef right_only = sexpr("((\\ a) ((\\ b) (S (K a) b)))");
  analyse_node(right_only.get());
  EXPECT_FALSE(plan_for(right_only.get()).arguments_lead);
  CellRef left_left = sexpr("((\\ a) ((\\ b) ((b a) a)))");
  analyse_node(left_left.get());
  EXPECT_TRUE(plan_for(left_left.get()).arguments_lead);
}

}  // namespace

// A lambda node of a planned body is planned as its own body, and known
// no more once the plans are forgotten, until its body is planned again.
TEST_F(Instantiate, ALambdaNodeIsKnownWhileItsBodysPlanIs) {
  for (const std::string op : {"-", "*"}) {
    CellRef body = sexpr(("((\\ t) (t ((\\ l) ((\\ r) ((" + op + " l) r)))))").c_str());
    analyse_node(body.get());
    Cell* lambda = pair_right(pair_right(body.get()));
    std::vector<CellRef> arguments;
    arguments.push_back(make_atom("7"));
    arguments.push_back(make_atom("2"));
    for (CellRef& argument : arguments) analyse_node(argument.get());
    std::vector<Cell*> raw{arguments[0].get(), arguments[1].get()};
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(known_lambda_plan(lambda), nullptr) << op;
      plan_for(body.get());
      const InstantiationPlan* plan = known_lambda_plan(lambda);
      ASSERT_NE(plan, nullptr) << op;
      EXPECT_EQ(known_lambda_plan(lambda), plan) << op;
      EXPECT_EQ(print_expression(instantiate(*plan, raw.data()).get()), "(" + op + "7 2)");
      forget_resolved_names();
    }
  }
}
