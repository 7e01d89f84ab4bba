// Head names resolved once: what a redex's head atom names (a built-in, a
// definition's slot, the plan of its body), kept beside the atom so that
// no rewrite looks a name up by its text twice.
//
// Layout: a direct-mapped cache of 1024 entries keyed by the head atom's
// address, and one entry per byte for the one-character names (the
// combinators and operators, and the fresh "K" and "H" that comparisons
// answer), resolved by that byte alone. Ownership: an entry holds a count
// on its atom, so the address cannot be reused by another atom while the
// entry lives, and a count on each body it remembers an answer for, so no
// other body can take that body's address either. Only found names are
// kept: a later definition of a missing name must be seen. The outermost
// evaluation drops every entry when it ends (forget_resolved_names).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "cells/analysis.h"
#include "cells/cell.h"
#include "cells/encoding.h"
#include "cells/tables.h"
#include "eval/instantiate.h"

namespace tove {

struct Resolved {
  Cell* atom = nullptr;  // owned count
  const BuiltinEntry* builtin = nullptr;
  CellRef* slot = nullptr;
  const InstantiationPlan* plan = nullptr;  // of the body *slot held when made
  // done_constant_of_head's answer for the body `asked_body` (owned count):
  // a body cell's analysis never changes, so the answer holds while the
  // slot holds that body.
  Cell* asked_body = nullptr;
  Cell* done_constant = nullptr;
  // For a one-character name, the analysis bits of a fresh atom of it, read
  // for the body `bits_body` (owned count).
  Cell* bits_body = nullptr;
  uint8_t bits = 0;
};

namespace names_detail {
inline constexpr size_t kNameCacheSize = 1024;
inline std::array<Resolved, kNameCacheSize> g_names;
inline std::array<Resolved, 256> g_single_names;
// A name not in its entry: looked up by its text and kept there when
// found; a name not found answers an entry that is never kept.
Resolved& resolve_by_text(Cell* head, Resolved& entry);
// done_constant_of_head's answer worked out for the body the slot holds.
Cell* ask_done_constant(Resolved& name, Cell* body);
}  // namespace names_detail

// The entry of the one-character name c. Every built-in name is a word of
// several letters.
inline Resolved& resolve_single(char c) {
  Resolved& entry = names_detail::g_single_names[static_cast<unsigned char>(c)];
  if (entry.slot == nullptr) [[unlikely]]
    entry.slot = definitions().find(std::string_view(&c, 1));
  return entry;
}

// Every head the machine rewrites is resolved here, so the cache hits are
// inline and the look-ups by text are not.
inline Resolved& resolve(Cell* head) {
  const char* chars = atom_chars(head);
  if (chars[0] != '\0' && chars[1] == '\0') return resolve_single(chars[0]);
  Resolved& entry =
      names_detail::g_names[(reinterpret_cast<uintptr_t>(head) >> 4) % names_detail::kNameCacheSize];
  if (entry.atom == head) [[likely]]
    return entry;
  return names_detail::resolve_by_text(head, entry);
}

// done_constant_of_head's answer for a name that has a definition and is
// no built-in, from the answer kept for the body its slot holds.
inline Cell* done_constant_of(Resolved& name) {
  Cell* body = name.slot->get();
  if (body == name.asked_body) [[likely]]
    return name.done_constant;
  return names_detail::ask_done_constant(name, body);
}

// A fresh one-character atom a built-in answered (the "K" and "H" of a
// comparison), analysed as the generic analysis would; any other atom is
// left as it is.
void analyse_answered_name(Cell* atom);
// A word rule's answer to x and y (see WordRule), analysed as a built-in's
// answer is; empty where the handler must be asked.
inline CellRef answer_by_words(WordRule rule, int64_t x, int64_t y) {
  CellRef answer = rule(x, y);
  if (answer && analysis_bits(answer.get()) == 0) analyse_answered_name(answer.get());
  return answer;
}

// The value a head atom stands for when it names a constant definition whose
// body is already done (an operator such as "+" stands for `plus`):
// rewriting the head reads the body and changes nothing, so the machine may
// put the body in the head's place at once. nullptr for any other head.
// Forced inline: the engine asks it on its hottest paths, where a call
// costs more than the answer.
[[gnu::always_inline]] inline Cell* done_constant_of_head(Cell* head) {
  if (!is_atom(head) || is_data(head)) return nullptr;
  switch (atom_kind(head)) {
    case AtomKind::number:
    case AtomKind::bytes:
    case AtomKind::real:
    case AtomKind::update:
    case AtomKind::undefined: return nullptr;
    default: break;
  }
  Resolved& name = resolve(head);
  if (name.builtin != nullptr || name.slot == nullptr) return nullptr;
  return done_constant_of(name);
}

// The built-in of two arguments a head atom names, or nullptr.
inline const BuiltinEntry* binary_builtin_of(Cell* head) {
  if (!is_atom(head) || atom_kind(head) != AtomKind::name) return nullptr;
  const BuiltinEntry* builtin = resolve(head).builtin;
  return builtin != nullptr && builtin->arity == 2 ? builtin : nullptr;
}
// Its word rule, or nullptr.
inline WordRule word_rule_of(Cell* head) {
  const BuiltinEntry* builtin = binary_builtin_of(head);
  return builtin != nullptr ? builtin->words : nullptr;
}

// The word rule of the call a head atom makes: that of the built-in it
// names, or of the built-in an operator names (see done_constant_of_head);
// nullptr for any other head. One look-up of the name.
inline WordRule word_rule_of_head(Cell* head) {
  if (!is_atom(head) || atom_kind(head) != AtomKind::name) return nullptr;
  Resolved& name = resolve(head);
  if (name.builtin != nullptr) return name.builtin->arity == 2 ? name.builtin->words : nullptr;
  if (name.slot == nullptr) return nullptr;
  Cell* value = done_constant_of(name);
  return value != nullptr ? word_rule_of(value) : nullptr;
}

// The plan of the global an entry names, when it is made already and is
// still the plan of the global's body; nullptr otherwise.
inline const InstantiationPlan* current_plan_of(const Resolved& name) {
  if (name.plan == nullptr || name.builtin != nullptr || name.slot == nullptr) return nullptr;
  return name.plan->body.get() == name.slot->get() ? name.plan : nullptr;
}
// The same for the global a head atom names.
[[gnu::always_inline]] inline const InstantiationPlan* current_plan_of_head(Cell* head) {
  return is_atom(head) ? current_plan_of(resolve(head)) : nullptr;
}

// The analysis bits analyse_answered_name gives a fresh atom of the
// one-character name `entry` resolves, when they are known for the body
// its slot holds; 0 when they are not.
inline uint8_t known_fresh_name_bits(const Resolved& entry) {
  return entry.slot != nullptr && entry.bits_body == entry.slot->get() ? entry.bits : 0;
}

}  // namespace tove
