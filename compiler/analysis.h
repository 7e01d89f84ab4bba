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

void analyse_node(Cell* c);
// 1 for a data node, else the stored remaining arity.
int node_arity(Cell* c);
bool is_data(Cell* c);
bool is_pending(Cell* c);  // a redex sits in an argument position
bool is_done(Cell* c);     // data, or not pending and arity >= 1
uint32_t node_mask(Cell* c);

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
