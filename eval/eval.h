// The evaluator: the evaluation machine, which fixes the language's order of
// evaluation, and the reduction engine, which rewrites one redex at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cells/analysis.h"
#include "cells/cell.h"
#include "cells/interrupt.h"

namespace tove {

struct InstantiationPlan;
struct EngineRules;
struct BuiltinEntry;
// The rules of the engine that set_engine chose last.
const EngineRules& selected_engine();

// A continuation frame: what to do with the focus once it is done.
//   Apply    (T x)      the done value is applied to x
//   Function F          the done value is passed to F
//   Lambda   ((\ k) z)  the done value is bound to k in z
//   Deferred (T x)      an apply frame whose x is not built yet: the part
//                       `part` of the result of plan number `plan`, built
//                       from the arguments of the call held in `first`
//                       when the frame is used, and never built when a
//                       rewrite drops it; `over_applied` when that part
//                       has frame parts of its own
//   Let      ((\ k) z)  a lambda frame whose z is not built yet: the let
//                       `part` of plan number `plan` (see
//                       InstantiationPlan::Let), its arguments the last of
//                       the spine held in `first`
// Frames are three words: the machine keeps one per pending evaluation, a
// million of them for a list a million long.
struct Frame {
  enum Kind : uint8_t { Apply, Function, Lambda, Deferred, Let };
  Kind kind;
  bool over_applied = false;
  uint16_t part = 0;
  uint32_t plan = 0;
  CellRef first;   // x, F, the key k, or the call of a Deferred or Let frame
  CellRef second;  // the body z of a Lambda frame
  Frame(Kind k, CellRef x, CellRef z = {}) : kind(k), first(std::move(x)), second(std::move(z)) {}
  Frame(uint32_t plan_number, uint16_t part_number, bool part_over_applied, CellRef call)
      : kind(Deferred),
        over_applied(part_over_applied),
        part(part_number),
        plan(plan_number),
        first(std::move(call)) {}
};
static_assert(sizeof(Frame) == 24);

// An evaluation state: the continuation (innermost frame last) and the
// focus. An empty continuation is the finished "I".
struct Machine {
  std::vector<Frame> frames;
  CellRef focus;
  // Apply frames return through the prelude's T (T a b = b a); while T has
  // that meaning, the machine forms (v x) at once.
  bool plain_apply = true;
  uint64_t steps = 0;
  // The engine of this evaluation, chosen once when the machine is made.
  const EngineRules* engine = &selected_engine();
};

// Two engines give the same results, cell for cell (eval/engine.h holds
// their interface). The fast engine instantiates a global's body in one
// pass from a plan made once per definition and analyses each new pair as
// it is built; it also takes several of the literal machine's transitions
// at once where nothing can tell them apart: an over-applied body top goes
// straight into frames (an argument that needs new pairs is built only when
// used, and a branch that a choice makes the focus goes into frames in the
// same way), operators step to their built-ins, lazy heads take their arguments
// from the frames, and a call whose result applies an argument goes on to
// that rewrite. Calls of two short integers to built-ins with a word rule
// (see WordRule) are answered where the machine would make them: while a
// focus is built, when they are the argument it would descend to, and
// when a value returns to complete one; a choice answered so takes its
// part at once (from a comparison's truth rule, without making the truth
// atom it would take apart), and a focus built with an argument left to evaluate
// starts from that argument, as the machine would after descending to it,
// going on into an operator's spine that the argument is. A predicate or
// a helper whose body is one such call is answered as the call (see
// InstantiationPlan::truth_root), and a call written with a constant
// first operand (7+x) is read through the body's cell (7+) at its head.
// The rewrites of lazy heads it would take as soon as a focus is built
// (x ? y is I x y) are taken while the plan is made (see
// InstantiationPlan::settled).
// The reference engine rewrites literally, one substitution
// per parameter, and leaves analysis to the generic walk. The reference is
// the yardstick of the differential test. Machine steps count transitions
// taken, so the fast engine counts fewer. set_engine chooses the engine of
// the machines made after it.
enum class Engine : uint8_t { Fast, Reference };
void set_engine(Engine engine);

// The spine of a redex ((...((h a1) a2)...) an): the head h, reached through
// left parts that are pairs and not data, and the arguments, a1 innermost.
// At most ten parameters reach a rewrite (the compiler refuses more), and
// built-ins take at most seven arguments.
inline constexpr size_t kMaxSpine = 16;
struct Spine {
  Cell* head;
  std::array<Cell*, kMaxSpine> args;  // borrowed from the redex
  size_t count = 0;
  // The redex the arguments were read from; nullptr when some came from
  // elsewhere (the frames).
  Cell* call = nullptr;
  // The head's whole text, measured only by the rewrites that need it.
  std::string_view text() const { return atom_text(head); }
};
// Inline: the machine walks the spine of every redex it rewrites.
inline Spine walk_spine(Cell* redex) {
  // The depth first, then the arguments straight into their places, a1
  // innermost: the same left parts are read twice, but nothing is copied.
  size_t n = 0;
  Cell* c = redex;
  while (is_pair(c) && !is_data(c)) {
    ++n;
    c = pair_left(c);
  }
  TOVE_ASSERT(n <= kMaxSpine);
  Spine spine;
  spine.head = c;
  spine.count = n;
  spine.call = redex;
  c = redex;
  for (size_t i = n; i-- > 0; c = pair_left(c)) spine.args[i] = pair_right(c);
  return spine;
}

// Evaluates a closed expression until it is done.
CellRef evaluate(CellRef expression);
// As evaluate, but gives up after `step_budget` machine steps and then
// answers an empty reference (the definition table keeps whatever the
// unfinished evaluation stored in it).
CellRef evaluate_within(CellRef expression, uint64_t step_budget);
// One transition of the machine on an unfinished state.
void machine_step(Machine& machine);
// One rewrite of the redex in the focus.
void reduce_step(Machine& machine);
// The same, on the focus's spine already walked.
void reduce_spine(Machine& machine, const Spine& spine);
// The same, for a spine whose head names the built-in `entry`.
void reduce_by_builtin(Machine& machine, const BuiltinEntry& entry, const Spine& spine);
// Drops the evaluator's cache of resolved head names (eval/names.h) and the
// counts it holds; done when the outermost evaluation ends.
void forget_resolved_names();

// Interrupting a run (Ctrl-C) goes through cells/interrupt.h: once an
// interrupt is requested every evaluation in progress ends within a few
// thousand machine steps and answers "Z"; each constant it was computing
// gets its partly computed expression back in place of its black hole. A
// built-in stopped by the request answers "Z" as well.

// Machine steps taken by every evaluation of this process.
uint64_t total_steps();

// A bounded run (the fuzz harnesses) stops evaluating once the process has
// taken more than `steps` machine steps in all: `evaluate` then throws
// StepLimitReached. No limit unless one is set.
struct StepLimitReached {};
void set_step_limit(uint64_t steps);
// Work a built-in does outside the machine's steps, as a load reads and
// compiles its text, counted against the limit set last as `steps` more
// (and in no step total): a chain of loads that takes few steps each
// still ends.
void charge_work(uint64_t steps);

// The continuation's bound. A recursion that never ends (n * f(n-1) with no
// base case reached) grows the continuation by a frame or so per call, as
// fast as memory can be given; a finite one as deep as a list of ten
// million elements needs ten million frames. An evaluation whose
// continuation passes the bound ends by throwing RunawayEvaluation: about
// 16.8 million frames by default, some 1.5 GB with the cells they hold,
// reached in a few seconds. The continuation is the evaluation's memory,
// so the exception is a std::bad_alloc: whatever handles running out of
// memory handles this as well. SIZE_MAX is no bound.
inline constexpr size_t kDefaultDepthLimit = size_t{1} << 24;
void set_depth_limit(size_t frames);
struct RunawayEvaluation : std::bad_alloc {
  size_t frames;  // the bound passed
  // The program's own definition nearest the top of the continuation, the
  // one most likely running away; empty when none is in sight.
  std::string name;
  RunawayEvaluation(size_t frame_count, std::string definition)
      : frames(frame_count), name(std::move(definition)) {}
  const char* what() const noexcept override { return "evaluation too deep"; }
};

}  // namespace tove
