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
#include "eval/engine.h"
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

}  // namespace

void return_to_frame(Machine& m) {
  if (m.frames.back().kind == Frame::Deferred) build_deferred_argument(m.frames.back());
  Frame frame = std::move(m.frames.back());
  m.frames.pop_back();
  switch (frame.kind) {
    case Frame::Apply:
      // (T x) v = v x
      if (m.plain_apply) {
        m.focus = m.engine->pair(std::move(m.focus), std::move(frame.first));
      } else {
        m.focus = m.engine->pair(m.engine->pair(t_atom(), std::move(frame.first)), std::move(m.focus));
      }
      return;
    case Frame::Function: m.focus = m.engine->pair(std::move(frame.first), std::move(m.focus)); return;
    case Frame::Lambda:
      // ((\ k) z) v = z[k := v]
      m.focus = m.engine->substitute(frame.second.get(), static_cast<char>(head_char(frame.first.get())),
                                     m.focus.get());
      return;
    case Frame::Let: {
      char letter = 0;
      const CellRef body = let_body_as_written(frame, &letter);
      m.focus = m.engine->substitute(body.get(), letter, m.focus.get());
      return;
    }
    case Frame::Deferred: break;
  }
  TOVE_ASSERT(false);
}

namespace {

// A function frame's F of the shape (T x) applies the value to x, as an
// apply frame does.
bool is_apply_shaped(const Frame& frame) {
  Cell* g = frame.first.get();
  return frame.kind == Frame::Function && is_pair(g) && is_atom(pair_left(g)) &&
         head_char(pair_left(g)) == 'T';
}

}  // namespace

Cell* apply_frame_argument(Frame& frame) {
  if (frame.kind == Frame::Deferred) build_deferred_argument(frame);
  if (frame.kind == Frame::Apply) return frame.first.get();
  return is_apply_shaped(frame) ? pair_right(frame.first.get()) : nullptr;
}

bool applies_an_argument(const Frame& frame) {
  return frame.kind == Frame::Apply || frame.kind == Frame::Deferred || is_apply_shaped(frame);
}

void descend(Machine& m, bool function_first) {
  Cell* whole = m.focus.leak();
  Cell* f;
  Cell* a;
  if (ref_count(whole) == 1) {
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
    m.frames.emplace_back(Frame::Apply, CellRef::adopt(a));
    m.focus = CellRef::adopt(f);
  } else {
    m.frames.emplace_back(Frame::Function, CellRef::adopt(f));
    m.focus = CellRef::adopt(a);
  }
}

namespace {

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

}  // namespace

namespace {

uint64_t g_step_limit = UINT64_MAX;
uint64_t g_charged_work = 0;  // see charge_work
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
const EngineRules* g_selected = &reference_engine();
#else
const EngineRules* g_selected = &fast_engine();
#endif

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
    if (m.engine->run(m, pause)) break;
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
    // Traced rewrites go through the literal transitions, one at a time.
    const auto run = watch_settings().trace_steps == 0 ? m.engine->run : reference_engine().run;
    if (run(m, pause)) break;
    if (m.steps >= step_budget) {
      m.frames.clear();
      m.focus.reset();
      break;
    }
    if (g_total_steps + g_charged_work + m.steps > g_step_limit) throw StepLimitReached();
    if (m.frames.size() > g_depth_limit) throw RunawayEvaluation(g_depth_limit, runaway_definition(m));
    if (interrupt_requested()) {
      unwind_interrupted(m);
      break;
    }
  }
  return std::move(m.focus);
}

}  // namespace

const EngineRules& selected_engine() { return *g_selected; }
void set_engine(Engine engine) { g_selected = engine == Engine::Fast ? &fast_engine() : &reference_engine(); }

CellRef evaluate(CellRef expression) { return run_machine(std::move(expression), UINT64_MAX); }

CellRef evaluate_within(CellRef expression, uint64_t step_budget) {
  return run_machine(std::move(expression), step_budget);
}

uint64_t total_steps() { return g_total_steps; }
void set_step_limit(uint64_t steps) {
  g_step_limit = steps;
  g_charged_work = 0;
}
void charge_work(uint64_t steps) {
  g_charged_work += steps;
  if (g_total_steps + g_charged_work > g_step_limit) throw StepLimitReached();
}
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
