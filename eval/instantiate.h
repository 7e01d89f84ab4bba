// Instantiation plans: a global's body with its parameters replaced by the
// arguments of a call, built in one walk.
//
// A plan is made once per definition body by running the literal rewrite
// (one substitution per parameter, from the last parameter down) on stand-in
// arguments, and reading off which cells of the result are parts of the
// body (shared), which are arguments and which are new pairs. Running the
// plan builds exactly those new pairs, in post-order, each analysed as it is
// made from its already analysed parts.
//
// Ownership: a plan holds one count on the body it was made from, so the
// cells it names stay alive and the body's address identifies the plan.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "cells/cell.h"
#include "cells/tables.h"
#include "eval/eval.h"

namespace tove {

struct InstantiationPlan {
  enum Op : uint8_t { Share, Argument, Build };
  struct Step {
    Op op;
    uint8_t argument = 0;  // Argument: the index of the argument, a1 first
    // Build: the new pair is no lambda node, let node or partial let,
    // whatever the arguments are, so its analysis need not look; and, as
    // the arguments are closed, its free-variable mask is `mask`.
    bool plain = false;
    // Share: the cell is an operator, a constant whose body was a done
    // value when the plan was made; see focus_head_value.
    bool operator_head = false;
    union {
      uint32_t mask = 0;
      // Share: one more than the index in `evaluations` of the call this
      // cell heads, when both its arguments are single steps; else 0.
      // Argument: kSelected when the argument, applied to the name the
      // next step shares, is an operand of a word tree, as (s K) is: the
      // part that selector takes from the pair the argument is; and
      // kSelectedByHelper when the name the step before shares is applied
      // to it so, as (hd s) is, hd\l\l K.
      uint32_t evaluation;
    };
    union {
      Cell* cell = nullptr;  // Share: the body cell, borrowed from `body`
      // Build: the pair's part in a call marked in `evaluations` whose
      // arguments are not both single steps: 0 for none, kJoinsHead for
      // (f a), one more than the call's index for ((f a) b).
      uint32_t call;
    };
  };
  static_assert(sizeof(Step) == 16);
  static constexpr uint32_t kJoinsHead = UINT32_MAX;
  static constexpr uint32_t kSelected = 1;
  static constexpr uint32_t kSelectedByHelper = 2;
  CellRef body;         // the whole definition body, lambda nodes included
  uint32_t number = 0;  // the plan's place among the plans made, for frames
  size_t parameters = 0;
  std::vector<Step> steps;
  size_t depth = 0;  // the most parts waiting at once while building
  // Some bodies, with some arguments, take a shape the stand-ins cannot
  // show; those calls are rewritten literally.
  bool literal_only = false;
  // Some argument lands as the left part of a new pair, or as the left part
  // of its left part, where its shape could make a binder.
  bool arguments_lead = false;
  // A body whose top is over-applied whatever the arguments are,
  // (... ((h a1) a2) ... an) with h a cell of the body: the machine would
  // take the new pairs of its negative levels apart at once, each into an
  // apply frame. The first `top_parts` of `frame_arguments` are the step
  // ranges [begin, end) of the arguments of those levels, outermost first;
  // the steps before `focus_end` build the rest, which becomes the focus.
  // An operator head keeps in the focus the levels its value takes when
  // their arguments are single cells (n < 2 stays whole).
  //
  // Such an argument may be over-applied in the same way, as the branches
  // of a conditional are ((c < 0) x ((c = 10) y z)): when a rewrite makes
  // it the focus, the machine would take it apart as well. Its own ranges
  // are the `inner_count` entries of `frame_arguments` from `inner_first`,
  // outermost first, and the steps [begin, inner_focus_end) build the rest.
  struct Range {
    uint32_t begin;
    uint32_t end;
    uint32_t inner_first = 0;
    uint32_t inner_count = 0;
    uint32_t inner_focus_end = 0;
    uint32_t descent = 0;  // of the focus this range builds; see `descents`
    // One more than the index in `settled_parts` of this part settled as
    // a focus, or 0.
    uint32_t settled_part = 0;
  };
  std::vector<Range> frame_arguments;
  uint32_t top_parts = 0;
  uint32_t focus_end = 0;
  // A focus whose root is the spine (h a1 ... ak) of a strict head of
  // arity k or more, some ai maybe not done: when the first ai not done is
  // built, the machine would descend to it at once, each argument after it
  // waiting in an Apply frame, outermost first, and (h a1 ... ai-1) in a
  // Function frame. The fast engine builds that state instead of the
  // spine. `head` is h's
  // step; a1 ... ak are the `count` entries of `descent_arguments` from
  // `first`, each the range of its steps, the level's Build just past it;
  // an operator h (`valued`) has its slot among the guards (see
  // `evaluations`). The body's focus has the descent `focus_descent`, a
  // part's focus its Range's `descent`: one more than the index, or 0 for
  // none.
  //
  // h's step may share a cell of the body that is itself a spine, (g c1
  // ... cm) with each ci done: a call written with its first arguments
  // constant, as (7 + x) is ((+ 7) x). The spine is then g's, its first
  // `prefix` levels that cell's. The machine keeps the cell, a done value,
  // as it stands; an operator g it takes apart as it rewrites g, building
  // the levels over g's value afresh.
  //
  // A lazy head h (`lazy`) of arity more than k is descended in the same
  // way, and so is the call that each ai is, but only when the frame the
  // focus returns to applies no argument: else the machine takes the
  // arguments of apply frames and rewrites, and the focus is built with
  // no call in the ai evaluated.
  struct Descent {
    uint32_t head;
    uint32_t first;
    uint32_t count;
    uint32_t first_guard;
    uint32_t guard_count;
    uint32_t prefix;
    bool valued;
    bool lazy = false;
    // One more than the index among the `prefix` levels of h's cell of
    // its first argument not done, or 0. The cell is then no done value:
    // the machine takes it apart and evaluates that argument first, so the
    // descent always stops there, every later argument in an apply frame
    // (see held_spine_head).
    uint32_t held = 0;
    // One more than the index in `lets` when the focus is a let node, or
    // 0; the fields above but `lazy` are then unused, and `lazy` is set,
    // as a focus a let leaves unbuilt is built valued.
    uint32_t let = 0;
  };
  // A focus that is a let node x{y}z, ((({ x) y) z): the machine would
  // keep z in a lambda frame while it evaluates y, and substitute the
  // value v for x in z. The fast engine keeps only the call, in a Let
  // frame, and builds y as the focus; when v returns, z[x := v] is built
  // as the evaluated focus by `body`, the plan of z with x as one more
  // parameter after the call's own, on the arguments and v. z's pairs
  // that hold no x are then built fresh where the substitution would have
  // shared them out of z, which nothing else holds. A let whose z cannot
  // be planned so has none and is built as written; for a value of a
  // binder shape the plan cannot stand for, z is built as written when v
  // returns, and v substituted in it.
  struct Let {
    uint32_t bound_begin;  // y's steps
    uint32_t bound_end;
    uint32_t bound_descent;  // y's as a focus (see `descents`)
    uint32_t body_begin;     // z's steps
    uint32_t body_end;
    char letter;
    std::unique_ptr<InstantiationPlan> body;
  };
  std::vector<Let> lets;
  // An argument that is a strict head's spine may have a descent too,
  // `descent` in its entry (one more than the index, or 0): built not
  // done, it would be the focus the machine descends in at once.
  //
  // An argument written as a choice ((c x) y), whose test c is a
  // comparison the plan works out in words or a predicate's call, has
  // `choice` in its entry (one more than the index in `choices`, or 0).
  // The machine would descend into it, answer c, rewrite the fresh truth
  // to the part it takes and go on evaluating that part where the choice
  // stood, dropping the other unbuilt. When the truth is known as the
  // argument is reached, the part taken is built instead, by its own plan
  // (the part as a body of the same parameters), its calls evaluated and
  // descended into as that plan's focus. A part whose plan has top levels
  // of its own, or depends on the arguments' shapes, has none and is never
  // taken so.
  struct Steps {
    uint32_t begin;
    uint32_t end;
    uint32_t descent = 0;
    uint32_t choice = 0;
    bool selection = false;  // a part taken by selectors (see mark_selection)
  };
  struct Choice {
    uint32_t test_end;                                        // the test's steps are [begin, test_end)
    std::array<std::unique_ptr<InstantiationPlan>, 2> parts;  // x's, then y's
  };
  std::vector<Descent> descents;
  std::vector<Steps> descent_arguments;
  std::vector<Choice> choices;
  // A lazy descent of no arguments builds its focus valued: a body that
  // applies an argument has one (see `applied_argument`).
  uint32_t focus_descent = 0;
  // A body that applies one of its arguments to parts that need no new
  // pairs, (x a1 ... ak) with each a a body cell or an argument: the index
  // of x (or -1) and the steps of a1 ... ak. When the argument is a
  // lazy-head partial application, the machine would rewrite the result at
  // once, so the call goes straight on to that rewrite.
  int head_argument = -1;
  std::vector<Step> head_spine;
  // The same shape with some of a1 ... ak needing new pairs, as
  // l K 0 (f l) is: the index of x in `applied_argument` (or -1), and the
  // levels' step ranges the first k entries of `frame_arguments`,
  // outermost first (the body has no top parts then). `head_spine` has
  // each level's first step, the cell of a level built by no step; bit i
  // of `applied_built` is set when a(i+1) needs new pairs. When x is a
  // lazy-head partial application whose rewrite takes only levels built
  // by no step, the call goes on to that rewrite, the levels it leaves in
  // frames as the machine would take them apart, built only when used.
  int applied_argument = -1;
  uint32_t applied_built = 0;
  // What the rule does with a pair's parts, read once from the steps
  // above: `pair_rule` for a body that applies its third parameter to the
  // other two (V x y c = c x y, or a program's own pair), `selects` 0 or 1
  // for one that gives its first or second of two (K x y = x), `gives_name`
  // for one of one parameter that gives a name of the body (H x = I), and
  // `gives_own` for one that gives its argument (I y = y).
  bool pair_rule = false;
  int8_t selects = -1;
  bool gives_name = false;
  bool gives_own = false;
  // Calls the machine would evaluate as soon as the focus they belong to
  // is built: (f a b), with f a built-in of two arguments that has a word
  // rule (or an operator naming one), and the path from the root of its
  // focus through function parts and through arguments that strict heads
  // evaluate before their rewrite. a and b are in such places too, and
  // may be such calls themselves. Building
  // that focus, the fast engine asks the rule when a and b are short
  // integers and every operator the path was read through still has the
  // body it had then, and so names the same value, and puts the answer in
  // the call's place: the value the machine would put there, with no
  // effect between (see run_steps).
  //
  // A plan lives no longer than the evaluation it was made in, as the
  // names it resolved do, and a definition's slot stays where it is
  // meanwhile.
  struct Guard {
    const CellRef* slot;  // the operator's definition
    CellRef body;         // what it held; a count, so that no other cell takes its address
  };
  //
  // A call whose operands are such calls of value rules, or single steps,
  // all the way down, is a *word tree*: its head's Share step names it too,
  // and the fast engine works out the whole tree in words when every leaf
  // is a short integer, making only the root's answer. The atoms of the
  // calls inside would be fresh, read once by the call above and freed.
  struct Evaluation {
    WordRule rule;
    TruthRule truth;   // the built-in's, for a comparison
    ValueRule values;  // the built-in's, for arithmetic
    uint32_t first_guard;
    uint32_t guard_count;
    uint32_t head;    // the call's steps: [head, end), the second operand's
    uint32_t second;  // from `second`
    uint32_t end;
    bool single;  // both operands single steps
    // The head's step shares (f a), a cell of the body, and b is the
    // operand the steps build: a call written (a op b) with a constant.
    bool prefixed = false;
    // As an operand, the depth of the word tree this call makes: 1 for a
    // call of single steps with a value rule; 0 for none.
    uint8_t word_depth = 0;
  };
  std::vector<Evaluation> evaluations;
  // A body that is one comparison the plan works out in words, x < 2 or
  // n%2 = 0: one more than the index of its call, or 0.
  uint32_t truth_root = 0;
  // The same for a body that is one call of a value rule, x+1 or
  // (x+y)*z.
  uint32_t value_root = 0;
  std::vector<Guard> guards;
  // The same body with the rewrites of lazy heads that the machine would
  // take as soon as the focus is built already taken: a spine (L a1 ... ak)
  // in a place it evaluates at once (the focus's root, its function parts,
  // the arguments a strict head evaluates), whose head L is a lazy-head
  // global of p <= k parameters, or an operator naming one ("?" names I),
  // becomes L's literal rewrite applied to the rest, (body[a1 ... ap]
  // a(p+1) ... ak), and so on while the result is such a spine. A rewrite
  // of a lazy head has no effect and builds only cells that nothing else
  // holds, so the machine reaches the same cells; the steps it would count
  // are only fewer. Only rewrites that copy no new pair are taken.
  //
  // Made only when the rewrites change the body, and only in a run that
  // is not watched, whose profile counts those expansions. It is built
  // from while Apply frames return plainly (the machine would return the
  // rewrite's result through them) and each name the rewrites were read
  // through still has its body: the settled plan's `read_through`, which
  // also keeps alive the cells of the lazy heads' bodies it shares.
  std::unique_ptr<InstantiationPlan> settled;
  std::vector<Guard> read_through;  // of a settled plan; empty for any other
  // A part of the top levels (see `frame_arguments`) of no levels of its
  // own that a rewrite makes the focus is a place the machine evaluates at
  // once too: its plan as a body of the same parameters, settled so, built
  // instead when the focus is evaluated and its names hold. A part built
  // as an argument keeps its steps.
  std::vector<std::unique_ptr<InstantiationPlan>> settled_parts;
};

// The cell a step that builds nothing stands for: the cell of the body it
// shares, or the argument it names.
inline Cell* step_cell(const InstantiationPlan::Step& step, Cell* const* arguments) {
  return step.op == InstantiationPlan::Share ? step.cell : arguments[step.argument];
}

// Every name a settled plan was read through still has the body it had.
inline bool names_hold(const InstantiationPlan& settled) {
  for (const InstantiationPlan::Guard& guard : settled.read_through) {
    if (guard.slot->get() != guard.body.get()) return false;
  }
  return true;
}

// The plan a focus built evaluated (see FocusHead) is built by: the
// settled one while its names hold, else the plan itself.
inline const InstantiationPlan& evaluated_plan(const InstantiationPlan& plan) {
  if (plan.settled == nullptr) [[likely]]
    return plan;
  return names_hold(*plan.settled) ? *plan.settled : plan;
}

// The plan of a definition body (made on first use, then cached).
const InstantiationPlan& plan_for(Cell* body);
// The body instantiated with `arguments` (a1 first, borrowed); when the plan
// cannot stand for these arguments, the literal rewrite gives the result.
CellRef instantiate(const InstantiationPlan& plan, Cell* const* arguments);
// The part a body (s c) takes from its argument s, a pair, by the selector
// c (as (s K) takes x from V x y): the cell the machine's rewrites of the
// pair and the selector end at, borrowed; nullptr for any other body or
// argument.
Cell* part_selected_by_plan(const InstantiationPlan& plan, Cell* const* arguments);
// The part a call of a pair's rule, V x y c = c x y, ends at when x and
// y are done and c is a selector as K or H is (see part_selected_by_plan):
// the very cell x or y, borrowed; nullptr for any other rule or
// arguments, or while watched.
Cell* part_taken_by_pair_rule(const InstantiationPlan& rule, Cell* const* arguments);
// The part the call (pair selector) ends at, the same way: pair a done
// partial application of such a rule, borrowed; nullptr otherwise.
Cell* part_selected_from(Cell* pair, Cell* selector);
// How a new focus is built: as the rewrite writes it; with the value of
// an operator at its head (a constant whose body is a done value, as "<"
// names `less`), where the machine's next transition would put it; or
// valued so and with the calls the plan marks evaluated in place where
// their arguments allow (see InstantiationPlan::evaluations), which only a
// machine whose Apply frames return plainly may ask. The fast engine
// chooses one of the last two.
enum class FocusHead : uint8_t { as_written, valued, evaluated };
// As instantiate, for a call whose result becomes the machine's focus: the
// arguments of the body's negative top levels are built and pushed onto
// `frames` as apply frames, outermost first, and the rest is returned.
// When `call` is the redex the arguments were read from, an argument that
// needs new pairs is pushed as a Deferred frame holding a count on the call.
CellRef instantiate_into_frames(const InstantiationPlan& plan, Cell* const* arguments, Cell* call,
                                std::vector<Frame>& frames, FocusHead head = FocusHead::as_written);
// The levels [from, k) of a body with an `applied_argument`, outermost
// first, as apply frames: a level that needs new pairs waits in a Deferred
// frame when `call` is the redex the arguments were read from, and is
// built at once otherwise.
void push_applied_levels(const InstantiationPlan& plan, size_t from, Cell* const* arguments, Cell* call,
                         std::vector<Frame>& frames);
// The level a(level+1) of a body with an `applied_argument`, one that
// needs new pairs, which a rewrite made the machine's new focus, built as
// `head` says, any frames it needs going onto `frames`.
CellRef applied_level_focus(const InstantiationPlan& plan, size_t level, Cell* const* arguments, Cell* call,
                            std::vector<Frame>& frames, FocusHead head);
// The focus a Let frame's body becomes once its value v returns: z[x := v]
// by the let's plan, built as `head` says, any frames it needs going onto
// `frames`; or, where the plan cannot stand for these arguments, z built
// as written and v substituted in it.
CellRef let_value_focus(const Frame& frame, CellRef value, std::vector<Frame>& frames, FocusHead head);
// A Let frame's z built as written, and the letter it binds in *letter,
// for the machine's own substitution.
CellRef let_body_as_written(const Frame& frame, char* letter);
// Builds the argument of a Deferred frame, which becomes an Apply frame.
void build_deferred_argument(Frame& frame);
// The argument of a Deferred frame, which a rewrite made the machine's new
// focus, built as `head` says, any frames it needs going onto `frames`;
// the frame keeps its count on the call.
CellRef valued_deferred_focus(const Frame& frame, std::vector<Frame>& frames, FocusHead head);
// The argument of an over-applied Deferred frame, which a rewrite made the machine's new
// focus, built as a call's result is: the arguments of its negative top
// levels go onto `frames`, Deferred where they need new pairs, and the rest
// is returned. The frame keeps its count on the call.
CellRef deferred_into_frames(const Frame& frame, std::vector<Frame>& frames,
                             FocusHead head = FocusHead::as_written);
// The part of a choice (c x y) that a fresh truth atom c, K for true and H
// for false as a comparison answers it, takes as the machine rewrites it:
// 0 for x, 1 for y, when the rewrite of c takes one of them, or gives
// another lazy head that takes the other (K x y = x; H x = I and I y = y).
// -1 when it takes neither, or while the plans of those heads or the
// analysis of a fresh atom are not known yet.
int part_taken_by_truth(bool truth);
// The truth (1 for K, 0 for H) that the body of a plan with a
// `truth_root` answers for `arguments`, worked out in words; -1 where its
// operands are no short integers or an operator on its path has another
// body.
int truth_of_plan(const InstantiationPlan& plan, Cell* const* arguments);
// The short integer in *value that the body of a plan with a
// `value_root` answers for `arguments`, worked out in words; false as
// truth_of_plan answers -1, or for an answer past the short integers.
bool value_of_plan(const InstantiationPlan& plan, Cell* const* arguments, int64_t* value);
// Arguments of binder shapes can make a new lambda or let node out of the
// pair of a body they are put in (as its left part, or as the left part of
// its left part), which changes how later substitutions walk it; the
// stand-ins of a plan cannot show that.
bool shapes_binders(const Cell* c);
// The literal rewrite: substitute the arguments for the parameters, starting
// from the last, into the body stripped of its lambda nodes.
CellRef substitute_parameters(Cell* body, Cell* const* arguments, size_t count);
// The plan of a lambda node that is a cell of a planned body (and so lives
// as long as the plan that shares it), made on first use; nullptr for any
// other lambda node, such as one a substitution built.
const InstantiationPlan* known_lambda_plan(Cell* lambda);
// Drops every cached plan and the counts it holds.
void forget_plans();

}  // namespace tove
