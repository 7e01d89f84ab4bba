// Name lists and the names of binders, which the rewrites, the letter
// assignment and the whole-program checks work with.
//
// A name list is a sorted list of names held in cells: "()" is the empty
// list, a non-empty list is (first-name-atom rest). Names ascend in byte
// order (shorter first on a common prefix) and never repeat. Every list
// operation returns a new list and leaves its arguments as they are; lists
// may share their tails.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cells/cell.h"
#include "cells/tables.h"

namespace tove {

// ---- name lists ---------------------------------------------------------------

inline constexpr std::string_view kEmptyListText = "()";

CellRef empty_name_list();
bool is_empty_name_list(const Cell* list);
CellRef name_list_singleton(std::string_view name);
CellRef name_list_union(Cell* a, Cell* b);
bool name_list_contains(const Cell* list, std::string_view name);
CellRef name_list_insert(Cell* list, std::string_view name);
CellRef name_list_remove(Cell* list, std::string_view name);
size_t name_list_length(const Cell* list);
// The list of a set of names, and the names of a list in order.
CellRef name_list_of(const NameSet& names);
NameSet name_list_names(const Cell* list);

// ---- names of binders ---------------------------------------------------------------

// The text of a binder atom as a local name: "[+]" stands for "+", every other
// definable name for itself. A pair (a malformed binder) binds no name, which
// the binder check reports.
std::string binder_name(const Cell* key);
// A binder the checks accept: an atom whose text is a definable name.
bool is_definable_binder(const Cell* key);

// Names bound by the binder pairs ({ k) and (\ k) of a body: the long ones
// (anything but a single lower-case letter) and the short ones. The walk
// uses an explicit stack, so bodies of any depth are safe.
CellRef long_binders(Cell* body);
CellRef short_binders(Cell* body);

}  // namespace tove
