// Node analysis: the remaining arity, data marker, pending flag and
// free-variable mask of every cell, computed once and cached in the cell's
// header word; substitution of a value for a local variable; the total
// order on cells.
//
// Shapes: a lambda node is ((\ v) body); a let node is ((({ k) y) z).
// All operations iterate with explicit stacks, so expressions of any depth
// are safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "cells/cell.h"

namespace tove {

// Fills the analysis of a cell and of every unanalysed cell below it.
void analyse_node(Cell* c);

// The readers below analyse the cell first when needed; afterwards each is
// one read of the header word.
inline uint8_t analysed_bits(Cell* c) {
  uint8_t bits = analysis_bits(c);
  if (__builtin_expect(bits == 0, 0)) {
    analyse_node(c);
    bits = analysis_bits(c);
  }
  return bits;
}
// 1 for a data node, else the stored remaining arity.
inline int node_arity(Cell* c) {
  const uint8_t bits = analysed_bits(c);
  return bits == kTagData ? 1 : static_cast<int>(bits & kTagArityMask) - kArityBias;
}
inline bool is_data(Cell* c) { return analysed_bits(c) == kTagData; }
// A redex sits in an argument position.
inline bool is_pending(Cell* c) {
  const uint8_t bits = analysed_bits(c);
  return bits != kTagData && (bits & kTagPending) != 0;
}
// Data, or not pending with a remaining arity of at least 1.
inline bool is_done(Cell* c) {
  const uint8_t bits = analysed_bits(c);
  if (bits == kTagData) return true;
  return (bits & kTagPending) == 0 && static_cast<int>(bits & kTagArityMask) - kArityBias >= 1;
}
// The free-variable mask: 0 for data and for atoms that record a length.
inline uint32_t node_mask(Cell* c) {
  const uint8_t bits = analysed_bits(c);
  if (bits == kTagData) return 0;
  if (is_atom(c)) {
    const unsigned char first = head_char(c);
    if ((first >= '0' && first <= '9') || first == '[') return 0;
  }
  return payload(c);
}

// A new pair (left right) with its analysis filled in at once from the
// analysis of its parts, which are analysed first if they are not yet.
CellRef make_analysed_pair(CellRef left, CellRef right);
// The same from two counts the caller hands over; the result owns one count.
Cell* new_analysed_pair(Cell* left, Cell* right);

// A new expression with `value` for every free occurrence of local variable
// `letter` ('a' .. 'z'); unchanged paths are shared.
CellRef substitute(Cell* expr, char letter, Cell* value);

// +1 when a comes first, -1 when b comes first, 0 when equal.
int compare_cells(const Cell* a, const Cell* b);
size_t atom_weight(const Cell* c);

// A non-empty lower-case word, or one name character (upper-case letter,
// control byte 1-31, byte 0x7F and up, or one of the 27 operator characters).
bool is_name_token(std::string_view text);

bool is_lambda_node(const Cell* c);  // ((\ v) body), binder text exactly "\"
bool is_let_node(const Cell* c);     // ((({ k) y) z), binder text exactly "{"

}  // namespace tove
