// The handler toolkit: how every built-in primitive reads its arguments and
// builds its answer.
//
// A handler of arity n receives the saturated application
// (((p a1) a2) ... an), or the bare name atom for arity 0, and owns it.
// Argument ai is the right side of the cell reached by going left n - i
// times; the arguments are done values, borrowed from the redex for as long
// as the handler holds it.
//
// Each argument is decoded in one role; a decoder answers nothing (nullopt)
// for a value outside its role, and the handler then answers "Z" before it
// does anything else:
//
//   integer  an integer in any of its cell forms, as its low 64 bits
//   int32    an integer truncated to a C `int` (or a 32-bit `long`)
//   address  an integer taken as a 64-bit pointer or handle (0 is null);
//            an address no object of the process can have is refused: the
//            lowest 64 KiB other than null, which the system never maps,
//            and the upper half (a negative integer), which is the
//            kernel's; a call there would only fault on a number mistaken
//            for an address
//   string   an integer (the address of a NUL-terminated string), a byte
//            string (its first content byte) or a text literal atom (its
//            stored text, opening bracket included); read in place
//   real     a real atom, as its double; an integer is not converted
//   truth    the atom "K" (true) or "H" (false)
//
// Results: integers from signed or unsigned 64-bit values, reals, truths,
// "I" for C functions without a result and "Z" for a refused argument. A
// result never shares storage with an argument.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "cells/cell.h"
#include "cells/encoding.h"

namespace tove {

// ---- collecting -------------------------------------------------------------------------

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
inline bool held_only_by_redex(const Cell* redex, size_t arity, size_t index) {
  TOVE_ASSERT(index < arity);
  const Cell* c = redex;
  for (size_t k = arity; k-- > index;) {
    if (ref_count(c) != 1) return false;
    if (k == index) return ref_count(pair_right(c)) == 1;
    c = pair_left(c);
  }
  return false;
}

// ---- roles --------------------------------------------------------------------------------

// An integer or binary fraction whose every element can be read: a decimal
// atom, or a list form of "K" and "H" elements ending in "K" or a decimal
// atom.
bool is_readable_number(Cell* value);
// The integer role: the low 64 bits of the value (two's complement for a
// negative one); none for any other kind or an ill-formed list form.
std::optional<int64_t> wrapped_integer(Cell* value);
// An integer whose value fits a signed 64-bit machine integer exactly.
std::optional<int64_t> exact_integer(Cell* value);
// A position in a value: an integer, held exactly when it fits 64 bits and
// otherwise as the 64-bit limit of its sign, which lies beyond every value.
std::optional<int64_t> position_argument(Cell* value);
// The int32 role: the integer's low 32 bits as a signed C `int`.
std::optional<int32_t> int32_argument(Cell* value);
// The address role: the integer's low 64 bits as a pointer value.
std::optional<uint64_t> address_argument(Cell* value);
// The string role: a pointer to the first byte of the string (see above).
std::optional<const char*> string_argument(Cell* value);
// The string role with the number of bytes the argument's cell stores from
// that first byte on: a byte string's contents or a text literal's whole
// text. An address stores nothing the interpreter knows of: SIZE_MAX.
struct CountedString {
  const char* text;
  size_t stored;
};
std::optional<CountedString> counted_string_argument(Cell* value);
// The real role: the double of a real atom.
std::optional<double> real_argument(const Cell* value);
// The truth role, and an element of a bit list: an atom beginning with "K"
// (true) or "H" (false).
std::optional<bool> truth_argument(const Cell* value);

// ---- results ------------------------------------------------------------------------------

CellRef make_refusal();          // "Z"
CellRef make_identity();         // "I", the answer of a call without a result
CellRef make_truth(bool value);  // "K" or "H"
CellRef integer_from_int64(int64_t value);
CellRef integer_from_uint64(uint64_t value);

}  // namespace tove
