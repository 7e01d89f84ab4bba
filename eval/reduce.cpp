// The reduction engine: one rewrite of the redex in the focus.
//
// The head of the redex is classified once by its first byte and text, and
// each class has its own rewrite below, tried in this order: built-in
// primitive, let node, lambda node, integer, data node, byte string, real,
// global name, update form.
#include <array>

#include "cells/analysis.h"
#include "cells/encoding.h"
#include "cells/tables.h"
#include "eval/engine.h"
#include "eval/eval.h"
#include "eval/instantiate.h"
#include "eval/names.h"
#include "eval/watch.h"
#include "numbers/numbers.h"
#include "numbers/trees.h"

namespace tove {

namespace {

// The atom's text is exactly one character.
bool is_single(Cell* atom) { return atom_chars(atom)[1] == '\0'; }

CellRef atom(const char* text) { return make_atom(text); }

// An entry gives up the counts it holds and keeps nothing.
void empty_entry(Resolved& entry) {
  for (Cell* held : {entry.atom, entry.asked_body, entry.bits_body}) {
    if (held != nullptr) release(held);
  }
  entry = Resolved{};
}

// The entry answered for a name that is not found; never kept.
Resolved& unresolved_entry() {
  static Resolved unresolved;
  return unresolved;
}

}  // namespace

Resolved& names_detail::resolve_by_text(Cell* head, Resolved& entry) {
  Resolved& unresolved = unresolved_entry();
  const std::string_view text = atom_text(head);
  // Every built-in name is a lower-case word.
  const bool may_be_builtin = !text.empty() && text[0] >= 'a' && text[0] <= 'z';
  Resolved fresh{head, may_be_builtin ? find_builtin(text) : nullptr, definitions().find(text)};
  if (fresh.builtin == nullptr && fresh.slot == nullptr) {
    unresolved = fresh;
    return unresolved;
  }
  retain(head);
  empty_entry(entry);
  entry = fresh;
  return entry;
}

// From the bits kept for its name's body when that body is still the
// name's.
void analyse_answered_name(Cell* atom) {
  const char* chars = atom_chars(atom);
  if (chars[0] == '\0' || chars[1] != '\0') return;
  Resolved& entry = resolve(atom);
  if (entry.slot == nullptr) return;
  Cell* body = entry.slot->get();
  if (entry.bits_body == body) {
    set_analysis_bits(atom, entry.bits);
    return;
  }
  analyse_node(atom);
  retain(body);
  if (entry.bits_body != nullptr) release(entry.bits_body);
  entry.bits_body = body;
  entry.bits = analysis_bits(atom);
}

namespace {

void discard_continuation(Machine& m) { m.frames.clear(); }

// Built-in f a1 ... an = the handler's answer. A marker-headed answer ends
// the whole evaluation with it.
void take_builtin_answer(Machine& m, CellRef result) {
  TOVE_ASSERT(result);
  if (is_atom(result.get()) && analysis_bits(result.get()) == 0) analyse_answered_name(result.get());
  if (is_pair(result.get())) {
    Cell* left = pair_left(result.get());
    if (is_marker(left)) discard_continuation(m);
  }
  m.focus = std::move(result);
}

// The handler's answer to the redex; a handler stopped by an interrupt
// answers "Z", and the machine then unwinds at its next look at the request.
CellRef call_handler(const BuiltinEntry& entry, CellRef redex) {
  try {
    return entry.handler(std::move(redex));
  } catch (const Interrupted&) {
    return make_atom("Z");
  }
}

// { k y z = z[k := y], once y is done; until then y is evaluated first and
// fed to the equivalent lambda node ((\ k) z).
void reduce_let(Machine& m, const Spine& s) {
  Cell* key = s.args[0];
  Cell* bound = s.args[1];
  Cell* body = s.args[2];
  if (!is_done(bound)) {
    m.frames.emplace_back(Frame::Lambda, CellRef::retained(key), CellRef::retained(body));
    m.focus = CellRef::retained(bound);
    return;
  }
  m.focus = m.engine->substitute(body, static_cast<char>(head_char(key)), bound);
}

// \ x e v = e[x := v]
void reduce_lambda(Machine& m, const Spine& s) {
  m.focus = m.engine->substitute(s.args[1], static_cast<char>(head_char(s.args[0])), s.args[2]);
}

// n a = V (first bit of n) (rest of n): an integer read as a list of bits.
[[gnu::noinline]] void reduce_integer(Machine& m, const Spine& s) {
  m.focus = make_pair(atom("V"), list_first(s.head), list_rest(s.head));
}

// [] a = a (X J) K;  t G.. = V (leading t) (last t);  t a = a (X J) (tree t)
[[gnu::noinline]] void reduce_data(Machine& m, const Spine& s) {
  Cell* head = s.head;
  Cell* arg = s.args[0];
  if (tree_is_empty(head)) {
    m.focus = make_pair(CellRef::retained(arg), make_pair(atom("X"), atom("J")), atom("K"));
  } else if (is_atom(arg) && head_char(arg) == 'G') {
    m.focus = make_pair(atom("V"), tree_leading(head), tree_last(head));
  } else {
    m.focus = make_pair(CellRef::retained(arg), make_pair(atom("X"), atom("J")), tree_form(head));
  }
}

// The eight bits of a byte as I (set) and H (clear), grouped
// V (J (J b0 b1) (J b2 b3)) (J (J b4 b5) (J b6 b7)).
CellRef byte_bit_tree(unsigned char byte) {
  auto bit = [byte](int i) { return atom((byte >> i) & 1 ? "I" : "H"); };
  auto j = [](CellRef x, CellRef y) { return make_pair(atom("J"), std::move(x), std::move(y)); };
  CellRef low = j(j(bit(0), bit(1)), j(bit(2), bit(3)));
  CellRef high = j(j(bit(4), bit(5)), j(bit(6), bit(7)));
  return make_pair(atom("V"), std::move(low), std::move(high));
}

// "" a = Z;  b a = bit tree of b;  s a = V (first 2^k bytes) (the rest)
[[gnu::noinline]] void reduce_bytes(Machine& m, const Spine& s) {
  std::string_view bytes = byte_string_bytes(s.text());
  const size_t n = bytes.size();
  if (n == 0) {
    m.focus = atom("Z");
  } else if (n == 1) {
    m.focus = byte_bit_tree(static_cast<unsigned char>(bytes[0]));
  } else {
    size_t half = 1;
    while (half * 2 < n) half *= 2;
    m.focus =
        make_pair(atom("V"), byte_string_atom(bytes.substr(0, half)), byte_string_atom(bytes.substr(half)));
  }
}

// r a = (bit tree of r's 64 bits) a, the bits as K (set) and H (clear) in a
// complete tree of V nodes, lower bits on the left.
[[gnu::noinline]] void reduce_real(Machine& m, const Spine& s) {
  const uint64_t pattern = real_pattern(s.head);
  std::vector<CellRef> level;
  level.reserve(64);
  for (int i = 0; i < 64; ++i) level.push_back(atom((pattern >> i) & 1 ? "K" : "H"));
  while (level.size() > 1) {
    std::vector<CellRef> next;
    next.reserve(level.size() / 2);
    for (size_t i = 0; i < level.size(); i += 2) {
      next.push_back(make_pair(atom("V"), std::move(level[i]), std::move(level[i + 1])));
    }
    level = std::move(next);
  }
  m.focus = make_pair(std::move(level[0]), CellRef::retained(s.args[0]));
}

// c = body of c, for a constant definition c: computed once, through the
// update form )c that stores its value; a black hole marks one whose value
// is being computed, so meeting it again is a cycle. An uncached constant
// (c() in the program) and a done body are read as they stand.
[[gnu::noinline]] void reduce_constant(Machine& m, const Spine& s, CellRef& slot) {
  Cell* body = slot.get();
  if (is_update_marker(body)) {
    if (g_watching) watch_cycle(m, s.text());
    discard_continuation(m);
    m.focus = make_update_marker(s.text());
    return;
  }
  if (is_done(body) || uncached_names().count(s.text()) != 0) {
    m.focus = CellRef::retained(body);
    return;
  }
  CellRef value = CellRef::retained(body);
  CellRef update = make_update_marker(s.text());
  slot = make_black_hole();
  m.focus = make_pair(std::move(update), std::move(value));
}

// g a1 ... an = body[x1 := a1, ..., xn := an], substituting from the last
// parameter, so a repeated letter takes the last of its arguments.
void reduce_global(Machine& m, const Spine& s, Resolved& name) {
  CellRef* slot = name.slot;
  if (g_watching && slot != nullptr) [[unlikely]]
    watch_expansion(m, s.head);
  if (slot == nullptr) {
    discard_continuation(m);
    m.focus = make_undefined_marker(s.text());
    return;
  }
  Cell* body = slot->get();
  if (name.plan == nullptr || name.plan->body.get() != body) {
    size_t params = 0;
    for (Cell* rest = body; is_lambda_node(rest); rest = pair_right(rest)) ++params;
    if (params == 0) return reduce_constant(m, s, *slot);
    TOVE_ASSERT(params == s.count);
  }
  m.engine->expand(m, body, s, name.plan);
}

// )name a = a, once a is done, and a becomes the stored value of name.
[[gnu::noinline]] void reduce_update(Machine& m, const Spine& s) {
  std::string_view name = marker_name(s.head);
  Cell* value = s.args[0];
  TOVE_ASSERT(s.count == 1 && is_done(value));
  TOVE_ASSERT(uncached_names().count(name) == 0);
  CellRef* slot = definitions().find(name);
  TOVE_ASSERT(slot != nullptr);
  CellRef stored = CellRef::retained(value);
  // A stored body must not start with a lambda node, or it would read as a
  // function of parameters: B I v behaves as v.
  if (is_lambda_node(value)) stored = make_pair(atom("B"), atom("I"), std::move(stored));
  *slot = stored.share();
  m.focus = std::move(stored);
}

}  // namespace

void reduce_by_builtin(Machine& m, const BuiltinEntry& entry, const Spine& s) {
  if (g_watching) [[unlikely]] {
    // The spine borrows from the redex, which the handler consumes.
    CellRef redex = m.focus.share();
    CellRef result = call_handler(entry, std::move(m.focus));
    watch_builtin_answer(s, result.get());
    return take_builtin_answer(m, std::move(result));
  }
  // Two short integers need no handler when the row has a word rule.
  int64_t x, y;
  if (entry.words != nullptr && s.count == 2 && read_short_integer(s.args[0], &x) &&
      read_short_integer(s.args[1], &y)) {
    if (CellRef answer = answer_by_words(entry.words, x, y)) return take_builtin_answer(m, std::move(answer));
  }
  take_builtin_answer(m, call_handler(entry, std::move(m.focus)));
}

void reduce_step(Machine& m) {
  Cell* redex = m.focus.get();
  TOVE_ASSERT(!is_data(redex) && node_arity(redex) == 0);
  if (g_watching && watch_traced_rewrite(m)) [[unlikely]]
    return;
  reduce_spine(m, walk_spine(redex));
}

// The rewrites of the rarer heads are kept out of line: reduce_spine runs
// inside every nested evaluation (a load within a load), and its frame is
// the native stack each level costs.
void reduce_spine(Machine& m, const Spine& s) {
  TOVE_CHECK(node_mask(m.focus.get()) == 0);
  if (is_data(s.head)) return reduce_data(m, s);
  switch (atom_kind(s.head)) {
    case AtomKind::number: return reduce_integer(m, s);
    case AtomKind::bytes: return reduce_bytes(m, s);
    case AtomKind::real: return reduce_real(m, s);
    case AtomKind::update: return reduce_update(m, s);
    default: break;
  }
  const unsigned char first = head_char(s.head);
  Resolved& name = resolve(s.head);
  if (name.builtin != nullptr) return reduce_by_builtin(m, *name.builtin, s);
  if (first == '{' && is_single(s.head)) return reduce_let(m, s);
  if (first == '\\' && is_single(s.head)) return reduce_lambda(m, s);
  reduce_global(m, s, name);
}

Cell* names_detail::ask_done_constant(Resolved& name, Cell* body) {
  // A black hole is done too, but meeting it is a cycle; uncached bodies
  // (I body) are never done.
  Cell* value = body;
  if (is_lambda_node(body) || !is_done(body) || is_update_marker(body)) value = nullptr;
  // Only a body the definition holds on to can be remembered by address.
  if (&name != &unresolved_entry()) {
    retain(body);
    if (name.asked_body != nullptr) release(name.asked_body);
    name.asked_body = body;
    name.done_constant = value;
  }
  return value;
}

void forget_resolved_names() {
  auto forget = [](auto& table) {
    for (Resolved& entry : table) empty_entry(entry);
  };
  forget(names_detail::g_names);
  forget(names_detail::g_single_names);
  forget_plans();
}

}  // namespace tove
