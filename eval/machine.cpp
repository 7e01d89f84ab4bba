// The evaluation machine. The continuation is a growable array of frames
// rather than a chain of frame cells: it behaves exactly as the chain would
// ((B k) g frames), without allocating a cell per pushed frame.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "cells/analysis.h"
#include "cells/encoding.h"
#include "cells/tables.h"
#include "eval/eval.h"
#include "eval/instantiate.h"
#include "eval/watch.h"
#include "numbers/numbers.h"

namespace tove {

namespace {

uint64_t g_total_steps = 0;
int g_nesting = 0;  // evaluations in progress (a primitive may evaluate)

// The interrupt request is read once per kPollInterval machine steps, off
// the step's own path.
constexpr uint32_t kPollInterval = 4096;

constexpr std::array<bool, 256> make_lazy_heads() {
  std::array<bool, 256> table{};
  // The language's order of evaluation, which programs observe (K x y gives x
  // even when y never ends): a redex whose head text begins with one of these
  // rewrites at once, arguments unevaluated; every other head has its
  // arguments evaluated first. The set is part of the language, not derived
  // from the combinators' bodies: G and P copy no argument, yet are strict
  // heads like the copying M, O, S, W and Y.
  for (char c : std::string_view("&ABCDEFHIJKLNQRTUVXZ|")) table[static_cast<unsigned char>(c)] = true;
  return table;
}
constexpr std::array<bool, 256> kLazyHead = make_lazy_heads();

// T keeps the prelude's meaning (T a b = b a) unless the program redefined it.
bool apply_through_prelude_t() {
  CellRef* slot = definitions().find("T");
  if (slot == nullptr) return false;
  Cell* body = slot->get();
  if (!is_lambda_node(body)) return false;
  Cell* a = pair_right(pair_left(body));
  Cell* inner = pair_right(body);
  if (!is_lambda_node(inner)) return false;
  Cell* b = pair_right(pair_left(inner));
  Cell* e = pair_right(inner);
  if (!is_atom(a) || !is_atom(b) || atom_text(a) == atom_text(b)) return false;
  return is_pair(e) && is_atom(pair_left(e)) && is_atom(pair_right(e)) &&
         atom_text(pair_left(e)) == atom_text(b) && atom_text(pair_right(e)) == atom_text(a);
}

CellRef t_atom() { return make_atom("T"); }

// A pair the machine builds: the fast engine analyses it at once.
CellRef build(CellRef left, CellRef right) {
  if (current_engine() == Engine::Fast) return make_analysed_pair(std::move(left), std::move(right));
  return make_pair(std::move(left), std::move(right));
}

// The frame's function g applied to the done value v.
void return_to_frame(Machine& m) {
  if (m.frames.back().kind == Frame::Deferred) build_deferred_argument(m.frames.back());
  Frame frame = std::move(m.frames.back());
  m.frames.pop_back();
  switch (frame.kind) {
    case Frame::Apply:
      // (T x) v = v x
      if (m.plain_apply) {
        m.focus = build(std::move(m.focus), std::move(frame.first));
      } else {
        m.focus = build(build(t_atom(), std::move(frame.first)), std::move(m.focus));
      }
      return;
    case Frame::Function: m.focus = build(std::move(frame.first), std::move(m.focus)); return;
    case Frame::Lambda:
      // ((\ k) z) v = z[k := v]
      m.focus =
          substitute_in(frame.second.get(), static_cast<char>(head_char(frame.first.get())), m.focus.get());
      return;
    case Frame::Deferred: break;
  }
  TOVE_ASSERT(false);
}

// The argument a frame would apply the value to, when it is an apply frame
// (T x) or a function frame of that same shape; a Deferred frame's argument
// is built first.
Cell* apply_frame_argument(Frame& frame) {
  if (frame.kind == Frame::Deferred) build_deferred_argument(frame);
  if (frame.kind == Frame::Apply) return frame.first.get();
  if (frame.kind == Frame::Function) {
    Cell* g = frame.first.get();
    if (is_pair(g) && is_atom(pair_left(g)) && head_char(pair_left(g)) == 'T') return pair_right(g);
  }
  return nullptr;
}

// Evaluate the function part first (an apply frame keeps the argument) or,
// when the function part is already a value, the argument.
void descend(Machine& m, bool function_first) {
  Cell* whole = m.focus.leak();
  Cell* f;
  Cell* a;
  if (current_engine() == Engine::Fast && ref_count(whole) == 1) {
    // The focus is the pair's only reference: its counts on its parts move
    // to the frame and the new focus, and the pair goes.
    dismantle_pair(whole, &f, &a);
  } else {
    f = pair_left(whole);
    a = pair_right(whole);
    retain(f);
    retain(a);
    release(whole);
  }
  if (function_first) {
    m.frames.push_back({Frame::Apply, CellRef::adopt(a), {}});
    m.focus = CellRef::adopt(f);
  } else {
    m.frames.push_back({Frame::Function, CellRef::adopt(f), {}});
    m.focus = CellRef::adopt(a);
  }
}

// A lazy head of remaining arity d takes its missing arguments straight from
// the top d apply frames, leaving the work inside it to the rewrite.
bool take_arguments_from_frames(Machine& m, int d) {
  if (m.frames.size() < static_cast<size_t>(d)) return false;
  for (int i = 1; i <= d; ++i) {
    if (apply_frame_argument(m.frames[m.frames.size() - i]) == nullptr) return false;
  }
  for (int i = 0; i < d; ++i) {
    Cell* x = apply_frame_argument(m.frames.back());
    m.focus = build(std::move(m.focus), CellRef::retained(x));
    m.frames.pop_back();
  }
  return true;
}

// )name v: the update form of a constant being computed, or nullptr.
Cell* update_name(Cell* function) { return is_update_marker(function) ? function : nullptr; }

// Puts a constant's partly computed expression back in place of its black
// hole, so that a later use computes it again rather than seeing a cycle.
void give_back(Cell* update_atom, CellRef expression) {
  const std::string_view name = marker_name(update_atom);
  CellRef* slot = definitions().find(name);
  TOVE_ASSERT(slot != nullptr);
  if (!is_black_hole(slot->get())) return;
  // A stored body must not start with a lambda node: B I v behaves as v.
  if (is_lambda_node(expression.get()))
    expression = make_pair(make_atom("B"), make_atom("I"), std::move(expression));
  *slot = std::move(expression);
}

// An interrupted evaluation: the state is folded back into one expression,
// frame by frame from the focus outwards; at each update form the
// expression so far is the constant's, and it is given back.
void unwind_interrupted(Machine& m) {
  Cell* focus = m.focus.get();
  if (is_pair(focus)) {
    if (Cell* update = update_name(pair_left(focus))) {
      CellRef inner = CellRef::retained(pair_right(focus));
      give_back(update, inner.share());
      m.focus = std::move(inner);
    }
  }
  while (!m.frames.empty()) {
    const Frame& frame = m.frames.back();
    if (frame.kind == Frame::Function) {
      if (Cell* update = update_name(frame.first.get())) {
        give_back(update, m.focus.share());
        m.frames.pop_back();
        continue;
      }
    }
    return_to_frame(m);
  }
  m.focus = make_atom("Z");
}

bool is_lazy_head_atom(Cell* c) { return is_atom(c) && !is_data(c) && kLazyHead[head_char(c)]; }

// A value v that makes (v x) a lambda node, a partial let or a let node,
// shapes the analysis treats apart.
bool makes_binder(Cell* v) {
  if (is_atom(v)) return false;
  Cell* left = pair_left(v);
  if (is_atom(left)) return head_char(left) == '\\' || head_char(left) == '{';
  return is_atom(pair_left(left)) && head_char(pair_left(left)) == '{';
}

// An over-applied focus (h a) whose head names a done constant v: the
// literal machine would descend to h, rewrite it to v and return v through
// the apply frame of a. The focus (v a) is that state. A pair the focus alone
// owns is rewritten in place and analysed again.
bool replace_constant_head(Machine& m) {
  Cell* r = m.focus.get();
  Cell* head = pair_left(r);
  if (!is_atom(head)) return false;
  Cell* value = done_constant_of_head(head);
  if (value == nullptr) return false;
  analysed_bits(value);
  retain(value);
  if (ref_count(r) == 1) {
    static_cast<Pair*>(r)->left = value;
    release(head);
    analysis_detail::analyse_built_pair(r);
    return true;
  }
  Cell* argument = pair_right(r);
  retain(argument);
  m.focus = CellRef::adopt(new_analysed_pair(value, argument));
  return true;
}

// A lazy head of remaining arity d whose missing arguments are the top d
// apply frames: the rewrite takes them from the frames, as the literal
// machine would after forming (R x1 ... xd), without building those pairs.
//
// A done lazy-head value returning into d apply frames meets the same
// rewrite: the literal machine would build (v x1), ((v x1) x2), ... through
// the frames and rewrite the last. Only plain apply frames count there
// (`returning`), since a function frame (T x) would go through T's own
// rewrite.
bool reduce_with_frame_arguments(Machine& m, int d, bool returning) {
  const size_t frame_count = m.frames.size();
  if (frame_count < static_cast<size_t>(d)) return false;
  for (int i = 1; i <= d; ++i) {
    Frame& frame = m.frames[frame_count - i];
    if (frame.kind == Frame::Deferred || frame.kind == Frame::Apply) continue;
    if (returning || apply_frame_argument(frame) == nullptr) return false;
  }
  Spine s = walk_spine(m.focus.get());
  if (s.count + static_cast<size_t>(d) > kMaxSpine) return false;
  // A rewrite whose result is one argument or one cell of its body builds
  // nothing; the arguments it drops are never built.
  if (const InstantiationPlan* plan = current_plan_of_head(s.head);
      plan != nullptr && plan->steps.size() == 1 && plan->parameters == s.count + static_cast<size_t>(d)) {
    if (g_watching) [[unlikely]]
      watch_expansion(m, s.head);
    const InstantiationPlan::Step& only = plan->steps[0];
    CellRef result;
    if (only.op == InstantiationPlan::Share) {
      result = CellRef::retained(only.cell);
    } else if (only.argument < s.count) {
      result = CellRef::retained(s.args[only.argument]);
    } else {
      result = CellRef::retained(apply_frame_argument(m.frames[frame_count - 1 - (only.argument - s.count)]));
    }
    m.frames.erase(m.frames.end() - d, m.frames.end());
    m.focus = std::move(result);
    return true;
  }
  // Each taken argument keeps one count until the rewrite is done.
  std::array<Cell*, kMaxSpine> taken;
  for (int i = 0; i < d; ++i) {
    Frame& frame = m.frames.back();
    if (frame.kind == Frame::Deferred) build_deferred_argument(frame);
    if (frame.kind == Frame::Apply) {
      taken[i] = frame.first.leak();
    } else {
      taken[i] = apply_frame_argument(frame);
      retain(taken[i]);
    }
    s.args[s.count++] = taken[i];
    m.frames.pop_back();
  }
  s.call = nullptr;
  reduce_spine(m, s);
  for (int i = 0; i < d; ++i) release(taken[i]);
  return true;
}

}  // namespace

bool has_lazy_head(Cell* c) {
  while (is_pair(c) && !is_data(c)) c = pair_left(c);
  return is_lazy_head_atom(c);
}

void machine_step(Machine& m) {
  ++m.steps;
  Cell* r = m.focus.get();
  if (is_done(r)) {
    TOVE_ASSERT(!m.frames.empty());
    return_to_frame(m);
    // Further returns are further steps of the same kind, taken here at once.
    while (!m.frames.empty() && is_done(m.focus.get())) {
      ++m.steps;
      return_to_frame(m);
    }
    return;
  }
  const int d = node_arity(r);
  if (d < 0) {
    // Over-applied: F a, with F evaluated first; a spine of them is
    // descended at once, one step per pair.
    descend(m, true);
    while (node_arity(m.focus.get()) < 0) {
      ++m.steps;
      descend(m, true);
    }
    return;
  }
  if (d == 0) {
    if (has_lazy_head(r) || !is_pending(r)) return reduce_step(m);
    if (is_let_node(r)) {
      if (is_done(pair_right(pair_left(r)))) return reduce_step(m);
      Cell* key = pair_right(pair_left(pair_left(r)));
      Cell* bound = pair_right(pair_left(r));
      Cell* body = pair_right(r);
      m.frames.push_back({Frame::Lambda, CellRef::retained(key), CellRef::retained(body)});
      m.focus = CellRef::retained(bound);
      return;
    }
    Cell* f = pair_left(r);
    descend(m, !(is_data(f) || is_done(f)));
    return;
  }
  if (has_lazy_head(r) && take_arguments_from_frames(m, d)) return reduce_step(m);
  descend(m, !is_done(pair_left(r)));
}

namespace {

uint64_t g_step_limit = UINT64_MAX;
size_t g_depth_limit = kDefaultDepthLimit;

// The name of the definition a cell applies, when the program made it (or
// a library it links); empty otherwise. The prelude names only capitals and
// operators, so a program's name is a defined one that begins with a
// lower-case letter and is no built-in's.
std::string_view program_definition_applied(Cell* c) {
  while (is_pair(c) && !is_data(c)) c = pair_left(c);
  if (!is_atom(c) || is_data(c)) return {};
  const std::string_view name = atom_text(c);
  if (name.empty() || name[0] < 'a' || name[0] > 'z') return {};
  if (definitions().find(name) == nullptr || find_builtin(name) != nullptr) return {};
  return name;
}

// One evaluation in progress; the outermost one drops the caches when it
// ends, whether it finishes or is cut short by an exception (out of memory,
// a spent step limit).
struct Nesting {
  Machine& m;
  explicit Nesting(Machine& machine) : m(machine) { ++g_nesting; }
  ~Nesting() {
    if (--g_nesting == 0) {
      forget_resolved_names();
      forget_recent_integers();
    }
    g_total_steps += m.steps;
  }
};

#if defined(TOVE_REFERENCE_ENGINE)
Engine g_engine = Engine::Reference;
#else
Engine g_engine = Engine::Fast;
#endif

// The transitions of machine_step, each counted as one step, in a single
// loop: the spine of a redex is walked once for both the lazy-head test and
// the rewrite. Runs until the evaluation is finished (true) or `pause`
// steps have been taken (false).
bool run_fast(Machine& m, uint64_t pause) {
  for (;;) {
    Cell* r = m.focus.get();
    if (is_done(r)) {
      if (m.frames.empty()) return true;
      ++m.steps;
      // (T x) v = v x and F v, built straight from the counts they held.
      Frame& top = m.frames.back();
      const bool applies = m.plain_apply && (top.kind == Frame::Apply || top.kind == Frame::Deferred);
      const bool lazy = applies && has_lazy_head(r);
      if (lazy && reduce_with_frame_arguments(m, node_arity(r), true)) continue;
      if (top.kind == Frame::Deferred) build_deferred_argument(top);
      if (applies && !lazy && !is_done(top.first.get()) && !makes_binder(r)) {
        // (v x) with v done and x not: the machine would build the pair and
        // at once evaluate x for v, which the frame now does.
        top.kind = Frame::Function;
        std::swap(top.first, m.focus);
        continue;
      }
      if (top.kind == Frame::Function || (top.kind == Frame::Apply && m.plain_apply)) {
        Cell* other = top.first.leak();
        Cell* value = m.focus.leak();
        const bool apply = top.kind == Frame::Apply;
        m.frames.pop_back();
        m.focus = CellRef::adopt(apply ? new_analysed_pair(value, other) : new_analysed_pair(other, value));
        continue;
      }
      return_to_frame(m);
      continue;
    }
    if (m.steps >= pause) return false;
    ++m.steps;
    const int d = node_arity(r);
    if (d < 0) {
      if (!replace_constant_head(m)) descend(m, true);
      continue;
    }
    if (d == 0) {
      if (!is_pending(r) || has_lazy_head(r)) {
        reduce_spine(m, walk_spine(r));
        continue;
      }
      if (is_let_node(r)) {
        Cell* bound = pair_right(pair_left(r));
        if (is_done(bound)) {
          reduce_spine(m, walk_spine(r));
          continue;
        }
        Cell* key = pair_right(pair_left(pair_left(r)));
        m.frames.push_back({Frame::Lambda, CellRef::retained(key), CellRef::retained(pair_right(r))});
        m.focus = CellRef::retained(bound);
        continue;
      }
      Cell* f = pair_left(r);
      descend(m, !(is_data(f) || is_done(f)));
      continue;
    }
    if (has_lazy_head(r) && reduce_with_frame_arguments(m, d, false)) continue;
    descend(m, !is_done(pair_left(r)));
  }
}

// The literal engine, with the same contract as run_fast.
bool run_reference(Machine& m, uint64_t pause) {
  while (!(m.frames.empty() && is_done(m.focus.get()))) {
    if (m.steps >= pause) return false;
    machine_step(m);
  }
  return true;
}

// The program's definition a runaway keeps expanding. Its frames hold the
// work left after each call (a multiplication, a test), not the call, so
// the machine goes on a few steps until its focus applies one of the
// program's definitions.
std::string runaway_definition(Machine& m) {
  constexpr uint64_t kStepsLookedAt = 4096;
  for (uint64_t i = 0; i < kStepsLookedAt; ++i) {
    if (std::string_view name = program_definition_applied(m.focus.get()); !name.empty())
      return std::string(name);
    const uint64_t pause = m.steps + 1;
    if (g_engine == Engine::Fast ? run_fast(m, pause) : run_reference(m, pause)) break;
  }
  return {};
}

// Runs an evaluation in stretches of kPollInterval steps; between them the
// step budget, the process's step limit and the interrupt flag are looked
// at, off the path of each step.
CellRef run_machine(CellRef expression, uint64_t step_budget) {
  Machine m;
  m.focus = std::move(expression);
  m.plain_apply = apply_through_prelude_t();
  Nesting nesting(m);
  for (;;) {
    const uint64_t pause = m.steps + std::min<uint64_t>(kPollInterval, step_budget - m.steps);
    // Traced rewrites go through the literal machine, one at a time.
    const bool fast = g_engine == Engine::Fast && watch_settings().trace_steps == 0;
    if (fast ? run_fast(m, pause) : run_reference(m, pause)) break;
    if (m.steps >= step_budget) {
      m.frames.clear();
      m.focus.reset();
      break;
    }
    if (g_total_steps + m.steps > g_step_limit) throw StepLimitReached();
    if (m.frames.size() > g_depth_limit) throw RunawayEvaluation(g_depth_limit, runaway_definition(m));
    if (interrupt_requested()) {
      unwind_interrupted(m);
      break;
    }
  }
  return std::move(m.focus);
}

}  // namespace

void set_engine(Engine engine) { g_engine = engine; }
Engine current_engine() { return g_engine; }

CellRef evaluate(CellRef expression) { return run_machine(std::move(expression), UINT64_MAX); }

CellRef evaluate_within(CellRef expression, uint64_t step_budget) {
  return run_machine(std::move(expression), step_budget);
}

uint64_t total_steps() { return g_total_steps; }
void set_step_limit(uint64_t steps) { g_step_limit = steps; }
void set_depth_limit(size_t frames) { g_depth_limit = frames; }

#if defined(TOVE_STATS)
namespace {
struct StepReport {
  ~StepReport() {
    std::fprintf(stderr, "machine steps: %llu\n", static_cast<unsigned long long>(g_total_steps));
  }
} g_step_report;
}  // namespace
#endif

}  // namespace tove
