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
#include "cells/tables.h"

namespace tove {

// Each source file owns the rows of its members (name, arity, handler),
// written beside the handlers.
std::span<const BuiltinSpec> arithmetic_members();       // plus dash mult over cent powa wave
std::span<const BuiltinSpec> comparison_members();       // less gteq same diff cmpr
std::span<const BuiltinSpec> real_conversion_members();  // real rank buck

// All fifteen, for add_builtin_family.
std::span<const BuiltinSpec> number_family();

}  // namespace tove
