// The rebuilding rewrites of definition bodies: quote expansion, pair-pattern
// lets and the renaming of local names.
//
// Every walk iterates with an explicit stack, so bodies of any depth are
// safe. A walk returns a new reference to the rewritten body and borrows its
// argument; every unchanged sub-expression is kept as the very same cell,
// and a cell held more than once is rewritten once, so shared
// sub-expressions stay shared.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cells/cell.h"

namespace tove {

// Every (` a) becomes ((V t) a'), t the text literal of the printed a.
CellRef expand_quotes(Cell* body);
// Every let whose key is a pair of two definable names (k1 k2) becomes three
// nested lets binding k2 to the value, k1 to its first component and k2 to
// its second.
CellRef expand_pair_lets(Cell* body);

// A long local name and the letter 'a' .. 'z' it becomes.
using LetterRename = std::pair<std::string, char>;

// Every binder key becomes its normalized name, or `letter` when that is
// the normalized `name`; every atom whose text is `name` becomes the atom of
// `letter`, and so does the bare operator of a bracketed `name` ("+" for
// "[+]"), which is what such a binder binds. Scopes are not looked at.
// `letter` must be 'a' .. 'z'.
CellRef rename_local(Cell* body, std::string_view name, char letter);
// rename_local of every name of `renames` in one pass; the names are
// distinct.
CellRef rename_locals(Cell* body, const std::vector<LetterRename>& renames);

}  // namespace tove
