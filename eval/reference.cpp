// The reference engine: the machine's literal transitions, one at a time,
// and the literal rewrite of a global's body, one substitution per
// parameter. Pairs are built unanalysed and analysed by the generic walk
// when first read. It is the yardstick of the fast engine, and traced runs
// step through machine_step whichever engine they use.
#include "cells/analysis.h"
#include "eval/engine.h"
#include "eval/eval.h"
#include "eval/instantiate.h"

namespace tove {

namespace {

// A lazy head of remaining arity d takes its missing arguments straight from
// the top d apply frames, leaving the work inside it to the rewrite.
bool take_arguments_from_frames(Machine& m, int d) {
  if (m.frames.size() < static_cast<size_t>(d)) return false;
  for (int i = 1; i <= d; ++i) {
    if (apply_frame_argument(m.frames[m.frames.size() - i]) == nullptr) return false;
  }
  for (int i = 0; i < d; ++i) {
    Cell* x = apply_frame_argument(m.frames.back());
    m.focus = m.engine->pair(std::move(m.focus), CellRef::retained(x));
    m.frames.pop_back();
  }
  return true;
}

bool run_reference(Machine& m, uint64_t pause) {
  while (!(m.frames.empty() && is_done(m.focus.get()))) {
    if (m.steps >= pause) return false;
    machine_step(m);
  }
  return true;
}

// g a1 ... an = body[xn := an] ... [x1 := a1]
void expand_literally(Machine& m, Cell* body, const Spine& s, const InstantiationPlan*&) {
  m.focus = substitute_parameters(body, s.args.data(), s.count);
}

constexpr EngineRules kReferenceRules{run_reference, static_cast<CellRef (*)(CellRef, CellRef)>(make_pair),
                                      substitute, expand_literally};

}  // namespace

const EngineRules& reference_engine() { return kReferenceRules; }

void machine_step(Machine& m) {
  ++m.steps;
  Cell* r = m.focus.get();
  if (is_done(r)) {
    // g v: the done focus returns to the innermost frame. Further returns
    // are further steps of the same kind, taken here at once.
    TOVE_ASSERT(!m.frames.empty());
    return_to_frame(m);
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
    // A redex: rewritten when its head is lazy or nothing in it is pending;
    // a let whose bound part is not done evaluates that part first into
    // the lambda frame ((\ k) z); otherwise the pending part is evaluated.
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
  // A partial application: a lazy head takes its missing arguments from
  // the frames; otherwise its parts are evaluated inside it.
  if (has_lazy_head(r) && take_arguments_from_frames(m, d)) return reduce_step(m);
  descend(m, !is_done(pair_left(r)));
}

}  // namespace tove
