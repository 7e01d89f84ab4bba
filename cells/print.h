// The printed form of any cell: one line of program-like text, used for
// diagnostics, the compiler's log, quoting and the `lisp` primitive.
//
// Atoms print as their text, except the markers (empty text, or a text that
// begins with ")" or "]"), which print as "()"; reals, which print as
// "real[" + "%e" formatting + "]"; and byte strings, which print as "cape["
// + the bytes with newline, "[" and "]" escaped as "[p]", "[q]", "[r]" + "]".
// Pairs print by the juxtaposition rules: an open call "(f a)" is extended
// to "(f a b)", a text argument that is one bracket group and a single
// token argument are joined directly unless the joint would merge two words
// or two numbers, and anything else is parenthesised.
//
// The printer reads cells only. It walks the expression with explicit
// stacks and writes every byte of the result once, so expressions of any
// depth print in time proportional to the printed length.
#pragma once

#include <string>

#include "cells/cell.h"

namespace tove {

std::string print_expression(const Cell* c);

}  // namespace tove
