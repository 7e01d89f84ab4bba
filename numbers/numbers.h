// Numbers as cells: the bit-list model behind integers and binary
// fractions, its three cell forms, reals, the value kinds, and the
// conversions between them.
//
// Cell forms of a bit list e0 .. e(n-1):
//   - a decimal atom (the canonical form): "0" is zero, "123" a positive
//     integer, "0123" a negative one; "00", "000", ... and "00" + zeros + D
//     are binary fractions;
//   - the atom "K": the empty list;
//   - the list form ((J e) rest), e being "K" (element 1) or "H" (element
//     0) and rest again a cell form.
// A BitList stores e0 first, least significant bit first, followed by one
// sentinel 1 bit; its raw value R (the bits read as a binary number) is 4v+3
// for an integer v >= 0 and 4|v|+1 for v < 0. For a binary fraction,
// N = R / 2 holds the sign in bit 0 (1 for zero and positive), the
// coefficient of 2^a in bit 2a+1 and that of 2^-k in bit 2k.
//
// Reals, byte strings, text literals and the integers' machine-word text
// are read and written by cells/encoding.h. Data nodes are the text
// literals and data pairs of node analysis.
//
// Functions that read a value borrow it; functions that make one return a
// new reference. Walks over list forms are iterative. An odd list form (an
// element that is neither "K" nor "H", or a tail that is neither "K", a
// decimal atom nor another list form) never ends the process: the walk ends
// the list at that point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cells/cell.h"
#include "cells/encoding.h"
#include "numbers/args.h"
#include "numbers/bigint.h"

namespace tove {

// ---- value kinds ----------------------------------------------------------------

// The letters order the kinds where kinds are compared: bytes < real <
// integer < fraction < data.
enum class ValueKind : char {
  bytes = 'a',
  real = 'e',
  integer = 'i',
  fraction = 'o',
  data = 'u',
  other = 'w',
};

ValueKind classify_kind(Cell* value);

// Only the first one or two bytes of an atom and the head of a list form
// are inspected.
bool is_integer(const Cell* value);   // "K", digit atoms not starting "00", ((J K) _)
bool is_bit_list(const Cell* value);  // "K", digit atoms, ((J K) _), ((J H) _)
bool is_fraction(const Cell* value);  // atoms starting "00", ((J H) _)
// ((J e) rest) with an atom beginning "J" at its head.
bool is_list_form(const Cell* value);
// Every element of the list form is "K" or "H" and it ends in "K" or a
// decimal atom; atoms: "K" or a digit atom.
bool is_well_formed_bit_list(const Cell* value);

// ---- bit lists and naturals ---------------------------------------------------------

struct BitList {
  std::string bytes;  // element i is bit i; a sentinel 1 follows the last
};

BitList empty_bit_list();  // the single byte 0x01
// Bit i of the raw value; bits past the end read as 0.
bool bit_get(const BitList& bits, uint64_t i);
// Writes bit i of the raw value, growing by 8 zero bytes at a time.
void bit_set(BitList& bits, uint64_t i, bool value);
// The number of elements: the position of the sentinel.
uint64_t bit_list_size(const BitList& bits);
void bit_list_trim(BitList& bits);         // drops high zero bytes
bool bit_list_valid(const BitList& bits);  // some byte non-zero
// Adds one element after the last, moving the sentinel up.
void bit_list_push(BitList& bits, bool element);

// An unsigned number of any size, least significant bit first, no sentinel.
struct Natural {
  std::string bytes;
};

bool natural_bit(const Natural& n, uint64_t i);
void natural_set_bit(Natural& n, uint64_t i, bool value);  // grows as needed
bool natural_is_zero(const Natural& n);
uint64_t natural_bit_width(const Natural& n);  // 0 for zero
void natural_trim(Natural& n);
// The N of a binary fraction's bit list (R / 2), and back (R = 2N, N >= 1).
Natural fraction_natural(const BitList& fraction);
BitList fraction_bits(const Natural& n);

// ---- the decimal engine ---------------------------------------------------------------

// The only places where decimal digits meet binary: an unsigned decimal
// number (digits only, leading zeros allowed, empty is zero) to its
// little-endian bytes with no high zero byte (empty for zero), and back
// ("0" for zero). The bit-list code reaches decimal digits only through
// these two, so a faster engine can replace them alone.
std::string decimal_to_binary(std::string_view digits);
std::string binary_to_decimal(std::string_view bytes);

// ---- conversions between the cell forms ------------------------------------------------

// The bit list of a decimal atom's text (not empty). A text that does not
// start with a digit is the empty list; decimal reading stops at the first
// byte that is not a digit.
BitList text_to_bits(std::string_view text);
// The decimal atom text of a valid non-empty bit list.
std::string bits_to_text(BitList bits);
// "K" for the empty list, else the decimal atom.
CellRef bits_to_value(const BitList& bits);
// ((J e0) ((J e1) ... K)).
CellRef bits_to_list_form(const BitList& bits);
// The bit list of any cell form ("K", a decimal atom or a list form).
BitList value_to_bits(const Cell* value);
// The decimal text of a bit-list value: "K" for "K".
std::string number_text(const Cell* value);
uint64_t bit_list_length(const Cell* value);

// The list view of a decimal atom applied to an argument: its first element
// ("H" for atoms starting "00", else "K") and the value of the rest ("K"
// when nothing is left).
CellRef list_first(const Cell* decimal);
CellRef list_rest(const Cell* decimal);

// ---- integers ----------------------------------------------------------------------------

bool is_non_negative(const Cell* integer);
CellRef integer_abs(Cell* integer);
// Decimal atoms change sign ("K" and "0" stay); a list form headed by "K"
// gives its rest, any other list form gains a leading "H" element.
CellRef integer_negate(Cell* integer);
bool is_odd(const Cell* integer);

// The magnitude modulo 2^64, negated in two's complement for a negative
// value; "K" gives 0.
int64_t integer_to_int64(const Cell* integer);

// ---- reals and binary fractions ------------------------------------------------------------

std::string real_to_text(const Cell* real);

// strtod of the decimal magnitude with its sign: correctly rounded.
double integer_to_double(const Cell* integer);
CellRef integer_to_real(const Cell* integer);
// Truncates toward zero; exponents of 2^1024 and above or below 2^-1074
// give the quiet NaN 0x7FF9000000000000.
double fraction_to_double(const Cell* fraction);
CellRef integer_to_fraction(const Cell* integer);
// Exact; zeros, infinities and NaNs give "00".
CellRef double_to_fraction(double value);
CellRef real_to_fraction(const Cell* real);

// ---- operands and results of the primitives --------------------------------------------
//
// Every handler reads the same way: collect the arguments from the redex,
// decode them (or answer "Z"), compute, build the result with these.

// The text of a data node: its written form without the outer brackets.
std::string data_text(const Cell* node);

// The decimal text of an integer or binary fraction in any cell form,
// borrowed from the atom when it already is canonical; `storage` holds the
// text otherwise.
std::string_view canonical_number_text(const Cell* number, std::string& storage);

// An integer read for arithmetic: a machine word when its value fits, else
// the big engine's form.
struct IntegerOperand {
  bool is_small = true;
  int64_t small = 0;
  BigInt big;
};
IntegerOperand read_integer(const Cell* integer);
BigInt integer_as_big(const IntegerOperand& operand);
int integer_sign(const IntegerOperand& operand);  // -1, 0 or 1
CellRef make_integer(int64_t value);
CellRef make_integer(BigInt value);
// The primitives remember the limbs of their last few big integer results,
// each with a count on its atom; this lets those atoms go.
void forget_recent_integers();

// A binary fraction as (-1)^negative * magnitude / 2^scale, the magnitude
// in little-endian 64-bit words. Canonical form: no high zero word; the
// magnitude is odd when the scale is not 0; zero has no words, scale 0 and
// is not negative.
struct BinaryFraction {
  bool negative = false;
  std::vector<uint64_t> magnitude;
  uint64_t scale = 0;
};
BinaryFraction read_fraction(const Cell* fraction);
// The value of an integer as a binary fraction.
BinaryFraction read_integer_as_fraction(const Cell* integer);
CellRef make_fraction(const BinaryFraction& value);
// -1, 0 or 1 by value.
int compare_fractions(const BinaryFraction& a, const BinaryFraction& b);

}  // namespace tove
