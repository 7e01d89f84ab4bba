// The structural primitives: raw memory and byte-level editing, conversions
// between value kinds and slices, and value inspection. structure_family()
// is the one array of their names, arities and handlers that the driver
// hands to add_builtin_family.
//
// Every handler takes the saturated redex (((name a1) a2) ... an), whose
// arguments are done values, and reads the same way: collect the arguments
// from the spine, decode them or answer "Z", compute, build the result. The
// decoders they share are declared here; the builders of results (and the
// byte-string reader) are the numbers subsystem's, shared by every family.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cells/cell.h"
#include "frontend/tables.h"

namespace tove {

std::span<const BuiltinSpec> structure_family();

// ---- handlers -------------------------------------------------------------------------

// Raw memory and byte-level editing.
CellRef prim_cape(CellRef redex);
CellRef prim_copy(CellRef redex);
CellRef prim_cork(CellRef redex);
CellRef prim_gets(CellRef redex);
CellRef prim_gett(CellRef redex);
CellRef prim_getu(CellRef redex);
CellRef prim_getv(CellRef redex);
CellRef prim_getw(CellRef redex);
CellRef prim_getx(CellRef redex);
CellRef prim_gety(CellRef redex);
CellRef prim_getz(CellRef redex);
CellRef prim_look(CellRef redex);
CellRef prim_sett(CellRef redex);
CellRef prim_setu(CellRef redex);
CellRef prim_setw(CellRef redex);
CellRef prim_setx(CellRef redex);

// Conversions between value kinds, and slices.
CellRef prim_init(CellRef redex);
CellRef prim_lits(CellRef redex);
CellRef prim_lots(CellRef redex);
CellRef prim_trim(CellRef redex);
CellRef prim_zits(CellRef redex);

// Value inspection.
CellRef prim_leaf(CellRef redex);
CellRef prim_leak(CellRef redex);
CellRef prim_left(CellRef redex);
CellRef prim_lisp(CellRef redex);
CellRef prim_raws(CellRef redex);
CellRef prim_rght(CellRef redex);
CellRef prim_tern(CellRef redex);
CellRef prim_type(CellRef redex);

// ---- shared decoders ------------------------------------------------------------------

// The arguments a1 .. aN of a saturated redex, borrowed from it.
template <size_t N>
std::array<Cell*, N> redex_arguments(const Cell* redex) {
  std::array<Cell*, N> args{};
  const Cell* c = redex;
  for (size_t i = N; i-- > 0;) {
    args[i] = pair_right(c);
    c = pair_left(c);
  }
  return args;
}

// True when argument `index` (0 for a1) is held by nothing but the redex,
// and the redex by nothing but the handler: the argument may then be
// changed in place without anyone seeing the change.
bool held_only_by_redex(const Cell* redex, size_t arity, size_t index);

// An integer or binary fraction whose every element can be read: a decimal
// atom, or a list form of "K" and "H" elements ending in "K" or a decimal
// atom.
bool is_readable_number(Cell* value);
// An integer argument reduced to its low 64 bits (integer_to_int64); none
// for any other kind or for an ill-formed list form.
std::optional<int64_t> wrapped_integer(Cell* value);
// An integer argument whose value fits a signed 64-bit machine integer.
std::optional<int64_t> exact_integer(Cell* value);
// A position in a value: an integer, held exactly when it fits 64 bits and
// otherwise as the 64-bit limit of its sign, which lies beyond every value.
std::optional<int64_t> position_argument(Cell* value);
// An element of a bit list given as an atom beginning with "K" (true) or
// "H" (false).
std::optional<bool> truth_argument(const Cell* value);

// The 64-bit pattern of a real atom, and the real of a pattern; the bytes
// are moved as they are, so no bit of a NaN is lost.
uint64_t real_pattern(const Cell* real);
CellRef real_from_pattern(uint64_t pattern);

// The text between the outer brackets of a data node's written form: a view
// into the atom for a text literal, or into `storage`, which receives the
// written form of a data pair.
std::string_view data_text_view(const Cell* node, std::string& storage);

// The wrapped form V (X J) c of a tree: the contents c, or nullptr for any
// other shape. Only the first character of each atom is looked at.
Cell* wrapped_contents(Cell* value);

// True when no prefix of the text closes more brackets than it opened and
// the whole text closes all it opened.
bool brackets_balanced(std::string_view text);

}  // namespace tove
