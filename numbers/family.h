// The number primitives: arithmetic (plus, dash, mult, over, cent, powa,
// wave), comparison (less, gteq, same, diff, cmpr) and conversion to real,
// size and sign (real, rank, buck).
//
// Each handler takes the saturated application, reads its arguments off
// the left spine, dispatches on their value kinds and answers a fresh
// value, or "Z" for a combination it does not accept.
#pragma once

#include <span>

#include "cells/cell.h"
#include "frontend/tables.h"

namespace tove {

// Name, arity and handler of all fifteen, for add_builtin_family.
std::span<const BuiltinSpec> number_family();

CellRef plus_handler(CellRef redex);
CellRef dash_handler(CellRef redex);
CellRef mult_handler(CellRef redex);
CellRef over_handler(CellRef redex);
CellRef cent_handler(CellRef redex);
CellRef powa_handler(CellRef redex);
CellRef wave_handler(CellRef redex);

CellRef less_handler(CellRef redex);
CellRef gteq_handler(CellRef redex);
CellRef same_handler(CellRef redex);
CellRef diff_handler(CellRef redex);
CellRef cmpr_handler(CellRef redex);

CellRef real_handler(CellRef redex);
CellRef rank_handler(CellRef redex);
CellRef buck_handler(CellRef redex);

}  // namespace tove
