// Definition transformations: the rewrites that prepare every definition
// body before it can run, the sorted name lists they work with, and the
// process-wide sharing set.
//
// Every walk here iterates with an explicit stack, so bodies of any depth
// are safe. Walks that rebuild an expression keep every unchanged
// sub-expression as the very same cell.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cells/cell.h"
#include "cells/tables.h"

namespace tove {

// ---- name lists ---------------------------------------------------------------
//
// A sorted list of names held in cells: "()" is the empty list, a non-empty
// list is (first-name-atom rest). Names ascend in byte order (shorter first
// on a common prefix) and never repeat.

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

// ---- the transformations --------------------------------------------------------------

// The layout text of the C records the library binding exchanges, the body
// of the definition "_".
std::string build_layout_text();

// Every (` a) becomes ((V t) a'), t the text literal of the printed a.
CellRef expand_quotes(Cell* body);
// Every let whose key is a pair of two definable names (k1 k2) becomes three
// nested lets binding k2 to the value, k1 to its first component and k2 to
// its second.
CellRef expand_pair_lets(Cell* body);

// Names bound by the binder pairs ({ k) and (\ k) of a body: the long ones
// (anything but a single lower-case letter) and the short ones.
CellRef long_binders(Cell* body);
CellRef short_binders(Cell* body);

// Every binder key becomes its normalized name, or `letter` when that is
// the normalized `name`; every atom whose text is `name` becomes the atom of
// `letter`, and so does the bare operator of a bracketed `name` ("+" for
// "[+]"), which is what such a binder binds. Scopes are not looked at.
// `letter` must be 'a' .. 'z'.
CellRef rename_local(Cell* body, std::string_view name, char letter);

// The compiler's log file and its line writer. The file is opened for
// appending (never through a symbolic link) and closed for each line; a line
// that cannot be written is dropped.
inline constexpr const char* kLogPath = "/tmp/redv.log";
void append_log_line(const char* path, std::string_view line);

enum class LetterLog { write, skip };
// Gives every long local name of a definition the first letter no binder of
// it uses, in the names' byte order, and logs the body first when it has a
// long name. False, with the body unchanged, when the definition needs more
// than 26 letters.
bool assign_letters(std::string_view name, CellRef& body, LetterLog log = LetterLog::write);

}  // namespace tove
