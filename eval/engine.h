// The engine interface: what the two engines do differently, in one table
// of four entries, chosen once when a machine is made and kept in it. The
// rewrites, the frames and the run loop's bookkeeping are shared and never
// ask which engine runs.
//
//   run         the machine's transitions until the evaluation is finished
//               (true) or `pause` steps have been taken (false)
//   pair        a pair the machine forms when a value returns to a frame
//   substitute  body[letter := value], for lambda and let nodes
//   expand      g a1 ... an = body[x1 := a1, ..., xn := an] for a global of
//               n >= 1 parameters: the focus becomes the result. `plan` is
//               the rewrite's cache for this head, which an engine may fill
//               and must check still belongs to `body`.
//
// The reference engine (eval/reference.cpp) takes the literal transitions
// one at a time, substitutes one parameter at a time and leaves analysis to
// the generic walk. The fast engine (eval/fast.cpp) instantiates a body from
// its plan, analyses each new pair as it is built and takes several
// transitions at once where nothing can tell them apart.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "cells/analysis.h"
#include "cells/cell.h"
#include "eval/eval.h"

namespace tove {

struct EngineRules {
  bool (*run)(Machine& m, uint64_t pause);
  CellRef (*pair)(CellRef left, CellRef right);
  CellRef (*substitute)(Cell* body, char letter, Cell* value);
  void (*expand)(Machine& m, Cell* body, const Spine& s, const InstantiationPlan*& plan);
};

const EngineRules& fast_engine();
const EngineRules& reference_engine();

// ---- shared by both engines (eval/machine.cpp) ---------------------------------

// T x v = v x through an apply frame, F v through a function frame, and
// z[k := v] through a lambda frame: the frame's function applied to the
// done focus v.
void return_to_frame(Machine& m);
// The argument a frame would apply the value to, when it is an apply frame
// (T x) or a function frame of that same shape; a Deferred frame's argument
// is built first.
Cell* apply_frame_argument(Frame& frame);
// The frame is one apply_frame_argument answers for, without building it.
bool applies_an_argument(const Frame& frame);
// Evaluate the function part of the focus first (an apply frame keeps the
// argument) or, when the function part is already a value, the argument.
void descend(Machine& m, bool function_first);
namespace engine_detail {
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
}  // namespace engine_detail

// The head atom begins with a letter whose rewrite takes its arguments
// unevaluated.
inline bool is_lazy_head_atom(Cell* c) {
  return is_atom(c) && !is_data(c) && engine_detail::kLazyHead[head_char(c)];
}
// The head of the spine of c is such an atom.
inline bool has_lazy_head(Cell* c) {
  while (is_pair(c) && !is_data(c)) c = pair_left(c);
  return is_lazy_head_atom(c);
}

}  // namespace tove
