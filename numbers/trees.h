// Data trees: binary trees written as text literals and data pairs.
//
// A text literal "[" e1 ... en "]" is the tree whose leading part is the
// list e1 ... e(n-1) and whose last part is the tree of en; "[]" is the
// empty tree. An element is a bracketed group (a nested literal) or one
// character that abbreviates a fixed tree (the character table). A data
// pair (p q) is the tree with leading part p and last part q.
//
// Texts that break the rules still decompose without failing, and always
// into smaller parts: a "]" or "[" that no bracket balances is a character
// of its own, and a character that abbreviates nothing (newline, "[", "]")
// stands for the empty tree.
//
// Every walk here uses explicit stacks, so data of any depth is safe.
#pragma once

#include <string>
#include <string_view>

#include "cells/cell.h"

namespace tove {

inline constexpr unsigned kMaxTreeNumber = 676;

// The written form of tree number `number` (0 .. 676; more is a fatal
// assertion): tree(0) is "[]", tree(1) "[[]]", tree(2) "[[][]]".
const std::string& numbered_tree(unsigned number);

// The character table: byte at position i abbreviates tree(i + 145).
// The tree text a byte abbreviates, empty for newline, "[" and "]".
std::string_view character_tree(unsigned char byte);
// The byte that abbreviates a tree text, or -1.
int tree_character(std::string_view tree);

// A text literal with nothing between its brackets.
bool tree_is_empty(const Cell* node);
// The leading and last parts of a non-empty data node (a data pair or a
// text literal); an empty tree is a fatal assertion.
CellRef tree_leading(Cell* node);
CellRef tree_last(Cell* node);
// K for the empty tree, ((J l) r) for a node with the forms l and r of its
// leading and last parts.
CellRef tree_form(Cell* node);
// The written form of any data node as one text literal.
std::string tree_text(const Cell* node);

}  // namespace tove
