// The fast engine: a global's body is instantiated from its plan, each new
// pair analysed as it is built, and several of the literal machine's
// transitions are taken at once where nothing can tell them apart (see
// eval/eval.h for the list). Every short cut ends in the state the literal
// transitions would reach, cell for cell.
#include <algorithm>
#include <array>

#include "cells/analysis.h"
#include "eval/engine.h"
#include "eval/eval.h"
#include "eval/instantiate.h"
#include "eval/names.h"
#include "eval/watch.h"

namespace tove {

namespace {

// How a new focus is built: its operator head valued, and its marked calls
// evaluated while Apply frames return plainly.
FocusHead focus_head(const Machine& m) { return m.plain_apply ? FocusHead::evaluated : FocusHead::valued; }

// An atom whose analysis the levels above it take only its arity from: it
// is closed, not data, not pending, of bounded arity, and no binder.
bool heads_plainly(Cell* atom, int* arity) {
  const uint8_t bits = analysed_bits(atom);
  const unsigned char first = head_char(atom);
  if (bits == kTagData || pending_of_bits(bits) || first == '\\' || first == '{') return false;
  *arity = arity_of_bits(bits);
  return *arity >= 0 && *arity < kArityUnbounded;
}

// The top `levels` levels of the spine r have had their head atom `head`
// replaced by the atom `value`. When both head plainly, each level's
// analysis is its old one with the arity moved by the difference of the
// heads' arities (the arity field holds arity + 52, and no level comes near
// the floor or the unbounded field); otherwise each is analysed again, the
// innermost first.
void analyse_new_head(Cell* r, size_t levels, Cell* head, Cell* value) {
  int old_arity = 0;
  int new_arity = 0;
  if (heads_plainly(head, &old_arity) && heads_plainly(value, &new_arity)) {
    const int shift = new_arity - old_arity;
    Cell* c = r;
    for (size_t i = 0; i < levels; ++i, c = pair_left(c)) {
      set_analysis_bits(c, static_cast<uint8_t>(analysis_bits(c) + shift));
    }
    return;
  }
  for (size_t level = levels; level-- > 0;) {
    Cell* c = r;
    for (size_t i = 0; i < level; ++i) c = pair_left(c);
    analysis_detail::analyse_built_pair(c);
  }
}

// An over-applied focus (...((h a1) a2) ... ak) whose head names a done
// constant v (an operator such as "<" names `less`): the literal machine
// would descend to h, rewrite it to v and return v through the apply frames
// of a1 ... ak, building (v a1), ((v a1) a2) and so on as each is done, or
// evaluating inside the first that is not. The focus with v in h's place
// reaches the same states. When the focus alone owns every pair of its
// spine, nothing else can see them: v goes in place, and the pairs are
// analysed again from the innermost out. A head at the top (h a) of a
// shared focus is replaced in a new pair; a deeper one is left to the
// literal descent, as is one with a redex among its arguments.
bool replace_constant_head(Machine& m) {
  Cell* r = m.focus.get();
  Cell* head = pair_left(r);
  if (is_atom(head)) {
    Cell* value = done_constant_of_head(head);
    if (value == nullptr) return false;
    analysed_bits(value);
    retain(value);
    if (ref_count(r) == 1) {
      static_cast<Pair*>(r)->left = value;
      analyse_new_head(r, 1, head, value);
      release(head);
      return true;
    }
    Cell* argument = pair_right(r);
    retain(argument);
    m.focus = CellRef::adopt(new_closed_pair_of_analysed(value, argument));
    return true;
  }
  // With a redex among the arguments the machine would go on to evaluate
  // it first, through the same frames, so only a spine of done arguments
  // gains by it.
  if (is_pending(r)) return false;
  // Below a constant head (arity 0) every level of the spine is
  // over-applied; a level that is not has some other head. The spine is
  // short, and walked again for each level analysed rather than kept: this
  // loop runs inside every nested evaluation, whose native stack is
  // bounded.
  size_t n = 0;
  Cell* bottom = r;
  for (Cell* c = r; is_pair(c); c = pair_left(c)) {
    if (ref_count(c) != 1 || node_arity(c) >= 0 || n == kMaxSpine) return false;
    bottom = c;
    ++n;
  }
  head = pair_left(bottom);
  Cell* value = done_constant_of_head(head);
  if (value == nullptr) return false;
  analysed_bits(value);
  retain(value);
  static_cast<Pair*>(bottom)->left = value;
  analyse_new_head(r, n, head, value);
  release(head);
  return true;
}

// The letter a lambda node ((\ v) e) binds.
char bound_letter(const Cell* lambda) { return static_cast<char>(head_char(pair_right(pair_left(lambda)))); }

// \ v (v b1 ... bn) a = a b1 ... bn, for a value that applies its argument
// to its parts, as a pair or a tree made of lambdas does: each b is free
// of v and so shared as it stands, and with every part closed the spine's
// pairs are analysed as closed pairs, without the walk of a substitution.
// The body's spine is n pairs deep and headed by v; an empty reference
// for a part or an argument that is not closed.
[[gnu::noinline]] CellRef own_head_applied(Cell* lambda, Cell* a, size_t n) {
  if (node_mask(a) != 0 || shapes_binders(a)) return {};
  std::array<Cell*, kMaxSpine> parts;  // bn first
  Cell* c = pair_right(lambda);
  for (size_t i = 0; i < n; ++i, c = pair_left(c)) {
    if (node_mask(pair_right(c)) != 0) return {};
    parts[i] = pair_right(c);
  }
  retain(a);
  Cell* spine = a;
  for (size_t i = n; i-- > 0;) {
    retain(parts[i]);
    spine = new_closed_pair_of_analysed(spine, parts[i]);
  }
  return CellRef::adopt(spine);
}

// \ v e a = e[v := a], for a done.
CellRef lambda_applied(Cell* lambda, Cell* a) {
  return substitute_analysed(pair_right(lambda), bound_letter(lambda), a);
}

// The same for a lambda node that a call built, which may be a pair or a
// tree of lambdas applying its argument to its parts.
CellRef built_lambda_applied(Cell* lambda, Cell* a) {
  // The head first, which turns away every other body at once: of the
  // atoms only a variable has a mask.
  size_t n = 0;
  Cell* c = pair_right(lambda);
  for (; is_pair(c) && !is_data(c) && n <= kMaxSpine; c = pair_left(c)) ++n;
  const char v = bound_letter(lambda);
  if (n != 0 && n <= kMaxSpine && node_mask(c) == uint32_t{1} << (v - 'a')) {
    if (CellRef applied = own_head_applied(lambda, a, n)) return applied;
  }
  return substitute_analysed(pair_right(lambda), v, a);
}

// An over-applied focus ((s c) a), s a done pair and c a selector that
// takes a part from it at once (see part_selected_from), as a stream's
// tail is forced by (s H) I: the machine would put a in an apply frame and
// rewrite (s c), its rewrites ending at that part. A lambda part and a
// done a then meet as the part returns to that frame: \ v e a = e[v := a].
bool take_selected_part(Machine& m) {
  Cell* r = m.focus.get();
  Cell* selection = pair_left(r);
  if (!is_pair(selection) || !is_atom(pair_right(selection))) return false;
  Cell* part = part_selected_from(pair_left(selection), pair_right(selection));
  if (part == nullptr) return false;
  Cell* a = pair_right(r);
  if (m.plain_apply && is_lambda_node(part) && is_done(a)) {
    m.focus = lambda_applied(part, a);
    return true;
  }
  m.frames.emplace_back(Frame::Apply, CellRef::retained(a));
  m.focus = CellRef::retained(part);
  return true;
}

// The result of a rewrite that takes the argument of the frame `index`
// from the top (0 for the top) of the top d, Apply or Deferred frames,
// and drops the others: it becomes the focus, the d frames gone.
void take_frame_argument(Machine& m, size_t d, size_t index) {
  Frame& source = m.frames[m.frames.size() - 1 - index];
  if (source.kind == Frame::Deferred) {
    const Frame taken = std::move(source);
    for (size_t i = 0; i < d; ++i) m.frames.pop_back();
    // The argument taken is over-applied itself, a branch that is a
    // conditional again: the machine would take it apart into frames at
    // once, so its own arguments go there unbuilt. The frames the focus
    // needs go above the ones it leaves.
    m.focus = taken.over_applied ? deferred_into_frames(taken, m.frames, focus_head(m))
                                 : valued_deferred_focus(taken, m.frames, focus_head(m));
    return;
  }
  CellRef result = CellRef::retained(apply_frame_argument(source));
  for (size_t i = 0; i < d; ++i) m.frames.pop_back();
  m.focus = std::move(result);
}

// The comparison of F v (see answer_returned_call), answered `truth`, when
// the `taken` frames of the call are on two Apply or Deferred frames, the
// parts of a choice: the machine would make the fresh K or H, return it to
// them and rewrite it there, taking one part and dropping the other. The
// part is taken without the atom. False, with nothing done, when the
// frames are no such parts or the fresh atom's analysis is not known yet.
bool take_part_by_truth(Machine& m, size_t taken, bool truth) {
  const size_t count = m.frames.size();
  if (!m.plain_apply || count < taken + 2) return false;
  for (size_t i = taken; i < taken + 2; ++i) {
    const Frame::Kind kind = m.frames[count - 1 - i].kind;
    if (kind != Frame::Apply && kind != Frame::Deferred) return false;
  }
  const int part = part_taken_by_truth(truth);
  if (part < 0) return false;
  for (size_t i = 0; i < taken; ++i) m.frames.pop_back();
  take_frame_argument(m, 2, static_cast<size_t>(part));
  return true;
}

// A truth, K or H as a comparison answers it, returned to the two parts
// of a choice waiting in Apply or Deferred frames: the machine would
// rewrite it there, taking one part and dropping the other, as
// take_part_by_truth does.
bool takes_part_as_truth(Machine& m, Cell* atom) {
  const char* text = atom_chars(atom);
  if ((text[0] != 'K' && text[0] != 'H') || text[1] != '\0') return false;
  return take_part_by_truth(m, 0, text[0] == 'K');
}

// What answering one returned call did (see answer_returned_call): nothing;
// everything, the focus and frames are the machine's next state; or it
// answered a word that goes on to the next frame.
enum class Answered : uint8_t { no, fully, word };

// The call (f x y) of a built-in with a word rule, whose parts wait in
// the top `taken` frames: a truth takes a part of the choice below them,
// a word answer goes into *v, any other answer becomes the focus. The
// frames go in either case.
[[gnu::always_inline]] inline Answered answer_operands(Machine& m, Cell* f, int64_t x, int64_t y,
                                                       size_t taken, int64_t& v) {
  const BuiltinEntry* builtin = binary_builtin_of(f);
  if (builtin == nullptr || builtin->words == nullptr) return Answered::no;
  if (builtin->truths != nullptr && take_part_by_truth(m, taken, builtin->truths(x, y))) {
    return Answered::fully;
  }
  int64_t word;
  if (builtin->values != nullptr && builtin->values(x, y, &word) && is_short_integer_value(word)) {
    for (size_t i = 0; i < taken; ++i) m.frames.pop_back();
    v = word;
    return Answered::word;
  }
  CellRef answer = answer_by_words(builtin->words, x, y);
  if (!answer) return Answered::no;
  for (size_t i = 0; i < taken; ++i) m.frames.pop_back();
  m.focus = std::move(answer);
  return Answered::fully;
}

// The call F v, F in the top frame, a function frame, answered as
// answer_returned_call says; a word answer replaces v.
[[gnu::always_inline]] inline Answered answer_call(Machine& m, int64_t& v) {
  int64_t x, y;
  Cell* f = m.frames.back().first.get();
  size_t taken = 1;
  if (is_pair(f)) {
    if (!read_short_integer(pair_right(f), &x)) return Answered::no;
    y = v;
    f = pair_left(f);
  } else {
    const size_t count = m.frames.size();
    if (!m.plain_apply || count < 2 || m.frames[count - 2].kind != Frame::Apply ||
        !read_short_integer(m.frames[count - 2].first.get(), &y)) {
      return Answered::no;
    }
    x = v;
    taken = 2;
  }
  return answer_operands(m, f, x, y, taken, v);
}

// The word v answered, going on to the frames while they make such calls;
// the last answer becomes the focus.
[[gnu::noinline]] void answer_on(Machine& m, int64_t v) {
  while (!m.frames.empty() && m.frames.back().kind == Frame::Function) {
    switch (answer_call(m, v)) {
      case Answered::no: break;
      case Answered::fully: return;
      case Answered::word: continue;
    }
    break;
  }
  m.focus = small_integer_atom(v);
}

// A focus (f x), f a built-in with a word rule and x a short integer,
// whose second argument y, a short integer, waits in the Apply frame on
// top: the machine would return the focus there, build the call and
// answer it at its next transition. The word rule answers it now, and
// the answer goes on as answer_call's does.
[[gnu::noinline]] bool answer_split_call(Machine& m) {
  Cell* r = m.focus.get();
  int64_t x, y;
  if (g_watching || !m.plain_apply || !is_atom(pair_left(r)) || !read_short_integer(pair_right(r), &x) ||
      !read_short_integer(m.frames.back().first.get(), &y)) {
    return false;
  }
  int64_t word = 0;
  switch (answer_operands(m, pair_left(r), x, y, 1, word)) {
    case Answered::no: return false;
    case Answered::fully: return true;
    case Answered::word: break;
  }
  answer_on(m, word);
  return true;
}

// A short integer v returning to a function frame F, where F v is a call
// of a built-in with a word rule: F is (f a) with a a short integer, or
// f itself with its second argument, a short integer, in the Apply frame
// below. The machine would build the call (through the Apply frame only
// while it returns plainly), and at its next transition the handler's
// answer would replace it: the word rule gives that answer now.
//
// An answer that returns on to another such call, as a sum to the sum it
// is a part of, goes on as its word: the machine would make its atom and
// read it again at once, and nothing else can see it. Only the last
// answer is made.
bool answer_returned_call(Machine& m, Cell* v) {
  int64_t word;
  if (g_watching || !read_short_integer(v, &word)) return false;
  switch (answer_call(m, word)) {
    case Answered::no: return false;
    case Answered::fully: return true;
    case Answered::word: break;
  }
  answer_on(m, word);
  return true;
}

// The answer v of a call ((g x) y) of short integers to a built-in with a
// word rule (or to an operator naming one), as its handler gives it; empty
// for any other cell, or while watched. The machine, evaluating the call,
// would rewrite an operator g to its value, and the handler's answer would
// replace the call.
CellRef word_answer_of_call(Cell* call) {
  if (g_watching || !is_pair(call)) return {};
  Cell* inner = pair_left(call);
  if (!is_pair(inner) || !is_atom(pair_left(inner))) return {};
  int64_t x, y;
  if (!read_short_integer(pair_right(inner), &x) || !read_short_integer(pair_right(call), &y)) return {};
  const WordRule rule = word_rule_of_head(pair_left(inner));
  if (rule == nullptr) return {};
  return answer_by_words(rule, x, y);
}

// (f v) for a focus (f a) whose function part f is done and whose
// argument a is such a call: the machine would descend to a, and build
// (f v) as its answer v returns. False, with nothing done, for any other
// argument.
bool answer_argument(Machine& m, Cell* f) {
  CellRef answer = word_answer_of_call(pair_right(m.focus.get()));
  if (!answer) return false;
  retain(f);
  m.focus = CellRef::adopt(new_closed_pair_of_analysed(f, answer.leak()));
  return true;
}

// A focus that is such a call, over-applied as an operator's call is
// ((- n) 1): the machine would take it apart, rewrite the operator and
// answer the call; its answer becomes the focus. An argument left to
// evaluate after another (n-1 in f(g x, n-1)) becomes the focus so, once
// the arguments before it are done.
bool answer_focus_call(Machine& m) {
  CellRef answer = word_answer_of_call(m.focus.get());
  if (!answer) return false;
  m.focus = std::move(answer);
  return true;
}

void instantiate_plan(Machine& m, const InstantiationPlan& first, const Spine& s);

// ((\ v) e) a1 ... ak, the lambda node a cell of a planned body (see
// known_lambda_plan) of p <= k parameters, a1 ... ap done; s is the
// redex's spine, whose head is the binder and whose first two arguments
// are v and e. The machine would take a(p+1) ... ak apart into apply
// frames and substitute a1 ... ap one at a time, each lambda node between
// fresh and dropped: the lambda's plan builds the last result at once.
bool apply_known_lambda(Machine& m, const Spine& s) {
  if (s.count < 3 || s.call == nullptr || g_watching) return false;
  const size_t k = s.count - 2;
  Cell* lambda = s.call;
  for (size_t i = 0; i < k; ++i) lambda = pair_left(lambda);
  const InstantiationPlan* plan = known_lambda_plan(lambda);
  if (plan == nullptr || plan->parameters > k) return false;
  const size_t p = plan->parameters;
  for (size_t i = 0; i < p; ++i) {
    if (!is_done(s.args[2 + i])) return false;
  }
  for (size_t i = k; i > p; --i) m.frames.emplace_back(Frame::Apply, CellRef::retained(s.args[1 + i]));
  Spine applied{lambda, {}, p, k == p ? s.call : nullptr};
  std::copy(s.args.begin() + 2, s.args.begin() + 2 + static_cast<std::ptrdiff_t>(p), applied.args.begin());
  instantiate_plan(m, *plan, applied);
  return true;
}

// The same lambda node returning to p apply frames of done arguments, as
// a selector does that a tree or a pair of lambdas is applied to: the
// machine would build each pair and substitute one argument at a time.
[[gnu::noinline]] void apply_known_lambda_from_frames(Machine& m, Cell* lambda,
                                                      const InstantiationPlan* plan) {
  // Each argument keeps its count until the rewrite is done; the plan's
  // body holds the lambda node.
  const size_t p = plan->parameters;
  Spine applied{lambda, {}, p, nullptr};
  for (size_t i = 0; i < p; ++i) {
    applied.args[i] = m.frames.back().first.leak();
    m.frames.pop_back();
  }
  instantiate_plan(m, *plan, applied);
  for (size_t i = 0; i < p; ++i) release(applied.args[i]);
}

// The plan of a lambda node returning to the top frames when they are as
// many apply frames of done arguments as its parameters; else nullptr.
const InstantiationPlan* plan_taking_frames(const Machine& m, Cell* lambda) {
  const InstantiationPlan* plan = known_lambda_plan(lambda);
  if (plan == nullptr) return nullptr;
  const size_t p = plan->parameters;
  const size_t count = m.frames.size();
  if (count < p) return nullptr;
  for (size_t i = 1; i <= p; ++i) {
    const Frame& frame = m.frames[count - i];
    if (frame.kind != Frame::Apply || !is_done(frame.first.get())) return nullptr;
  }
  return plan;
}

// A focus over-applied to a lambda node, as (\ a (\ x (\ y e))) l x y
// is when a fold applies a tree to its selector: see apply_known_lambda.
bool apply_lambda_focus(Machine& m) {
  // The spine walked takes in the lambda node's own two levels.
  Cell* c = m.focus.get();
  for (size_t levels = 2; !is_lambda_node(c); ++levels) {
    if (!is_pair(c) || is_data(c) || levels == kMaxSpine) return false;
    c = pair_left(c);
  }
  return apply_known_lambda(m, walk_spine(m.focus.get()));
}

// The rewrite of the redex whose spine is s. A global g whose plan is made
// and current, g a1 ... an, and a built-in's call go straight to the rules
// reduce_spine comes to once it has classified the head as a name (which
// is never data); every other head goes through that classification.
[[gnu::always_inline]] inline void reduce_redex(Machine& m, const Spine& s) {
  if (atom_kind(s.head) == AtomKind::name) [[likely]] {
    Resolved& name = resolve(s.head);
    const InstantiationPlan* plan = current_plan_of(name);
    if (plan != nullptr && plan->parameters == s.count && !g_watching) [[likely]] {
      return instantiate_plan(m, *plan, s);
    }
    if (name.builtin != nullptr) return reduce_by_builtin(m, *name.builtin, s);
  }
  reduce_spine(m, s);
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
    if (only.op == InstantiationPlan::Argument && only.argument >= s.count) {
      take_frame_argument(m, static_cast<size_t>(d), only.argument - s.count);
      return true;
    }
    CellRef result =
        CellRef::retained(only.op == InstantiationPlan::Share ? only.cell : s.args[only.argument]);
    for (int i = 0; i < d; ++i) m.frames.pop_back();
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
  reduce_redex(m, s);
  for (int i = 0; i < d; ++i) release(taken[i]);
  return true;
}

// A done partial application v of a lazy head, wanting two arguments or
// more, returning to an Apply frame whose x is not done, with too few
// frames below for its rewrite: the machine would build (v x), still
// partial and not done, find no frames to complete it from either, and
// evaluate x for v. False when the frames below would complete it.
bool evaluates_for_lazy_head(Machine& m, uint8_t bits) {
  const int wanted = arity_of_bits(bits) - 1;
  if (wanted < 1) return false;
  const size_t below = m.frames.size() - 1;
  if (below >= static_cast<size_t>(wanted)) {
    bool complete = true;
    for (int i = 1; i <= wanted && complete; ++i) {
      Frame& frame = m.frames[below - static_cast<size_t>(i)];
      complete = frame.kind == Frame::Apply || frame.kind == Frame::Deferred ||
                 (frame.kind == Frame::Function && apply_frame_argument(frame) != nullptr);
    }
    if (complete && walk_spine(m.focus.get()).count + 1 + static_cast<size_t>(wanted) <= kMaxSpine) {
      return false;
    }
  }
  return !makes_binder(m.focus.get());
}

// ((\ v) e) a1 ... ak for a lambda node that a call built, one that
// closes over the call's arguments and so has no plan of its own. With a1
// done the rewrite is e[v := a1]; when e is a lambda node ((\ w) f) of
// another letter, a2 is done too and neither value makes a binder shape,
// the next rewrite follows at once, both substitutions in one walk:
// f[v := a1][w := a2]. The arguments left go into apply frames, where the
// literal machine leaves them. False, with nothing done, when a1 is not
// done.
bool apply_built_lambda(Machine& m, Cell* x, Cell* const* given, size_t k) {
  Cell* first = given[0];
  if (!is_done(first)) return false;
  const char v = bound_letter(x);
  Cell* e = pair_right(x);
  size_t taken = 1;
  CellRef result;
  if (k >= 2 && is_lambda_node(e) && is_done(given[1]) && !shapes_binders(first) &&
      !shapes_binders(given[1])) {
    const char w = bound_letter(e);
    if (w != v) {
      result = substitute_two_analysed(pair_right(e), v, first, w, given[1]);
      taken = 2;
    }
  }
  if (taken == 1) result = built_lambda_applied(x, first);
  for (size_t i = k; i > taken; --i) m.frames.emplace_back(Frame::Apply, CellRef::retained(given[i - 1]));
  m.focus = std::move(result);
  return true;
}

// The call's result becomes the focus. A result (x a1 ... ak) whose x is a
// partial application of a lazy head wanting j <= k more arguments would be
// taken apart into k - j apply frames and rewritten at once; that rewrite
// follows here on the arguments themselves, without building the result.
void instantiate_plan(Machine& m, const InstantiationPlan& first, const Spine& s) {
  // Settled plans hold only while Apply frames return plainly.
  auto chosen = [&](const InstantiationPlan& plan) { return m.plain_apply ? &evaluated_plan(plan) : &plan; };
  const InstantiationPlan* plan = chosen(first);
  Cell* const* arguments = s.args.data();
  Cell* call = s.call;
  std::array<std::array<Cell*, kMaxSpine>, 2> buffers;
  // A plan that only the literal rewrite stands for applies no argument.
  for (size_t hop = 0; std::max(plan->head_argument, plan->applied_argument) >= 0; ++hop) {
    // V x y c with c a selector: the rewrites of V and of c end at a part.
    if (plan->head_argument == 2 && (hop != 0 || s.count == 3) && is_atom(arguments[2])) [[unlikely]] {
      if (Cell* part = part_taken_by_pair_rule(*plan, arguments)) {
        m.focus = CellRef::retained(part);
        return;
      }
    }
    Cell* x = arguments[std::max(plan->head_argument, plan->applied_argument)];
    const size_t k = plan->head_spine.size();
    auto part = [&](const InstantiationPlan::Step& step) { return step_cell(step, arguments); };
    // The levels a rewrite leaves, a(j+1) ... ak, into apply frames,
    // outermost first; the levels it takes must be built by no step.
    auto takes_cells = [&](size_t j) { return (plan->applied_built & ((1u << j) - 1)) == 0; };
    // Levels that need new pairs wait unbuilt only for a call they can be
    // built from; built at once, they would lose the evaluations of the
    // focus they become.
    auto can_leave = [&](size_t j) { return call != nullptr || (plan->applied_built >> j) == 0; };
    auto push_levels = [&](size_t j) {
      if (plan->applied_built != 0) return push_applied_levels(*plan, j, arguments, call, m.frames);
      for (size_t i = k; i > j; --i) {
        m.frames.emplace_back(Frame::Apply, CellRef::retained(part(plan->head_spine[i - 1])));
      }
    };
    std::array<Cell*, kMaxSpine>& joined = buffers[hop % 2];
    if (is_lambda_node(x)) {
      // ((\ v) e) a1 ... ak: each lambda node of a body of p parameters
      // takes its argument, once done, by substitution: with p <= k done
      // arguments, the lambda's own plan gives the same result.
      const InstantiationPlan* lambda = known_lambda_plan(x);
      if (lambda == nullptr) {
        if (plan->applied_built != 0) break;
        std::array<Cell*, kMaxSpine> given;
        for (size_t i = 0; i < k; ++i) given[i] = part(plan->head_spine[i]);
        if (apply_built_lambda(m, x, given.data(), k)) return;
        break;
      }
      if (lambda->parameters > k || !takes_cells(lambda->parameters) || !can_leave(lambda->parameters)) break;
      const size_t p = lambda->parameters;
      bool done = true;
      for (size_t i = 0; i < p && done; ++i) done = is_done(part(plan->head_spine[i]));
      if (!done) break;
      push_levels(p);
      for (size_t i = 0; i < p; ++i) joined[i] = part(plan->head_spine[i]);
      plan = chosen(*lambda);
      arguments = joined.data();
      call = nullptr;
      continue;
    }
    const int wanted = node_arity(x);
    if (wanted < 1 || static_cast<size_t>(wanted) > k) break;
    const Spine inner = walk_spine(x);
    if (!is_lazy_head_atom(inner.head)) break;
    const size_t j = static_cast<size_t>(wanted);
    if (inner.count + j > kMaxSpine || !can_leave(j)) break;
    const InstantiationPlan* next = current_plan_of_head(inner.head);
    if (next == nullptr || next->parameters != inner.count + j) break;
    if (!takes_cells(j)) {
      // A rewrite of one step, as K x y = x, gives one of the parts it
      // takes or a cell of its body, and drops the others: the part taken
      // is built as the focus it becomes, the others never.
      if (next->steps.size() != 1 || g_watching) break;
      push_levels(j);
      const InstantiationPlan::Step& only = next->steps[0];
      const size_t taken = only.argument;
      if (only.op == InstantiationPlan::Share || taken < inner.count) {
        m.focus = CellRef::retained(only.op == InstantiationPlan::Share ? only.cell : inner.args[taken]);
      } else if (const size_t level = taken - inner.count; (plan->applied_built >> level & 1) == 0) {
        m.focus = CellRef::retained(part(plan->head_spine[level]));
      } else {
        m.focus = applied_level_focus(*plan, level, arguments, call, m.frames, focus_head(m));
      }
      return;
    }
    push_levels(j);
    std::copy(inner.args.begin(), inner.args.begin() + inner.count, joined.begin());
    for (size_t i = 0; i < j; ++i) joined[inner.count + i] = part(plan->head_spine[i]);
    plan = chosen(*next);
    arguments = joined.data();
    call = nullptr;
  }
  // A predicate's answer, with a choice's parts waiting in the frames:
  // the machine would make the fresh truth, return it to them and rewrite
  // it there; the part is taken without the atom. A body that is one
  // call of a value rule answers in words and goes on as its word
  // (answer_on): the machine would build the call, answer it, and return
  // the answer to the frames.
  if ((plan->truth_root | plan->value_root) != 0 && m.plain_apply && !g_watching) [[unlikely]] {
    if (plan->truth_root != 0) {
      const int truth = truth_of_plan(*plan, arguments);
      if (truth >= 0 && take_part_by_truth(m, 0, truth != 0)) return;
    } else if (int64_t word; value_of_plan(*plan, arguments, &word)) {
      answer_on(m, word);
      return;
    }
  }
  if (plan->steps.size() == 3) [[unlikely]] {
    if (Cell* part = part_selected_by_plan(*plan, arguments)) {
      m.focus = CellRef::retained(part);
      return;
    }
  }
  m.focus = instantiate_into_frames(*plan, arguments, call, m.frames, focus_head(m));
  if (is_pair(m.focus.get()) && !m.frames.empty() && m.frames.back().kind == Frame::Apply)
    answer_split_call(m);
}

// g a1 ... an = the plan of body run on a1 ... an; the plan is made on the
// first call and cached with the head's resolution.
void expand_by_plan(Machine& m, Cell* body, const Spine& s, const InstantiationPlan*& plan) {
  if (plan == nullptr || plan->body.get() != body) plan = &plan_for(body);
  instantiate_plan(m, *plan, s);
}

// The transitions of machine_step, each counted as one step, in a single
// loop: the spine of a redex is walked once for both the lazy-head test and
// the rewrite.
bool run_fast(Machine& m, uint64_t pause) {
  for (;;) {
    Cell* r = m.focus.get();
    const uint8_t bits = analysed_bits(r);
    if (done_of_bits(bits)) {
      if (m.frames.empty()) return true;
      ++m.steps;
      // (T x) v = v x and F v, built straight from the counts they held.
      Frame& top = m.frames.back();
      if (top.kind == Frame::Function && answer_returned_call(m, r)) continue;
      const bool applies = m.plain_apply && (top.kind == Frame::Apply || top.kind == Frame::Deferred);
      const bool lazy = applies && has_lazy_head(r);
      if (lazy && is_atom(r) && takes_part_as_truth(m, r)) continue;
      if (lazy && reduce_with_frame_arguments(m, arity_of_bits(bits), true)) continue;
      if (lazy && top.kind == Frame::Apply && !is_done(top.first.get()) && evaluates_for_lazy_head(m, bits)) {
        top.kind = Frame::Function;
        std::swap(top.first, m.focus);
        continue;
      }
      if (top.kind == Frame::Deferred && applies && !lazy && !makes_binder(r)) {
        // (v x) with v done, x a part not built yet: the machine would
        // build x, then the pair, and at once evaluate x for v (or, were x
        // done, go on with the pair, the state that returning x to v
        // reaches). x is built as that evaluation's focus, above v.
        const Frame taken = std::move(top);
        top = Frame{Frame::Function, std::move(m.focus)};
        m.focus = taken.over_applied ? deferred_into_frames(taken, m.frames, focus_head(m))
                                     : valued_deferred_focus(taken, m.frames, focus_head(m));
        continue;
      }
      if (top.kind == Frame::Deferred) build_deferred_argument(top);
      if (applies && !lazy && !is_done(top.first.get()) && !makes_binder(r)) {
        // (v x) with v done and x not: the machine would build the pair and
        // at once evaluate x for v, which the frame now does.
        top.kind = Frame::Function;
        std::swap(top.first, m.focus);
        continue;
      }
      if (top.kind == Frame::Apply && m.plain_apply && is_lambda_node(r) && is_done(top.first.get()) &&
          !g_watching) [[unlikely]] {
        // \ v e a = e[v := a]: the pair the machine would build here is
        // the redex it rewrites at its next transition.
        if (const InstantiationPlan* plan = plan_taking_frames(m, r)) {
          apply_known_lambda_from_frames(m, r, plan);
          continue;
        }
        const CellRef argument = std::move(top.first);
        m.frames.pop_back();
        const CellRef lambda = std::move(m.focus);
        m.focus = lambda_applied(r, argument.get());
        continue;
      }
      if (top.kind == Frame::Function || (top.kind == Frame::Apply && m.plain_apply)) {
        Cell* other = top.first.leak();
        Cell* value = m.focus.leak();
        const bool apply = top.kind == Frame::Apply;
        m.frames.pop_back();
        m.focus = CellRef::adopt(apply ? new_closed_pair_of_analysed(value, other)
                                       : new_closed_pair_of_analysed(other, value));
        continue;
      }
      if (top.kind == Frame::Let) {
        const Frame let = std::move(top);
        m.frames.pop_back();
        m.focus = let_value_focus(let, std::move(m.focus), m.frames, focus_head(m));
        continue;
      }
      return_to_frame(m);
      continue;
    }
    if (m.steps >= pause) return false;
    ++m.steps;
    const int d = arity_of_bits(bits);
    if (d < 0) {
      if (!answer_focus_call(m) && !take_selected_part(m) && !replace_constant_head(m) &&
          !apply_lambda_focus(m)) {
        descend(m, true);
      }
      continue;
    }
    if (d == 0) {
      if (!pending_of_bits(bits) || has_lazy_head(r)) {
        reduce_redex(m, walk_spine(r));
        continue;
      }
      if (is_let_node(r)) {
        Cell* bound = pair_right(pair_left(r));
        if (is_done(bound)) {
          reduce_spine(m, walk_spine(r));
          continue;
        }
        Cell* key = pair_right(pair_left(pair_left(r)));
        m.frames.emplace_back(Frame::Lambda, CellRef::retained(key), CellRef::retained(pair_right(r)));
        m.focus = CellRef::retained(bound);
        continue;
      }
      Cell* f = pair_left(r);
      const bool function_first = !(is_data(f) || is_done(f));
      if (function_first || !answer_argument(m, f)) descend(m, function_first);
      continue;
    }
    if (has_lazy_head(r) && reduce_with_frame_arguments(m, d, false)) continue;
    Cell* f = pair_left(r);
    const bool function_first = !is_done(f);
    if (function_first || !answer_argument(m, f)) descend(m, function_first);
  }
}

constexpr EngineRules kFastRules{run_fast, make_analysed_pair, substitute_analysed, expand_by_plan};

}  // namespace

const EngineRules& fast_engine() { return kFastRules; }

}  // namespace tove
