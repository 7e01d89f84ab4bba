// Linked libraries: program text whose definitions join a program only where
// the program uses them.
//
// A library text has the form of a program file; its main piece (before the
// first comma) is not used, and pieces that are not definitions are skipped,
// so a library can carry remarks as `H[...]` pieces. Its definitions go to
// the library table, a process-wide map from normalized name to the piece
// that defines it (a later library replaces an earlier one's definition of a
// name). Nothing is parsed for good until a definition joins: joining parses
// the piece again into fresh cells, so every table that receives it owns
// cells of its own.
//
// Joining: starting from the bodies of a table, every global name mentioned
// that the table does not define and the library table holds joins, and its
// own body is searched the same way. A name the table defines is never
// replaced, so a program's own definitions win, also where library
// definitions mention them.
//
// Ownership: the library table owns its piece texts for the whole run; the
// joined bodies belong to the receiving table.
#pragma once

#include <functional>
#include <string_view>

#include "cells/report.h"
#include "cells/tables.h"

namespace tove {

// Reads the definitions of a library text into the library table, with the
// program reader's rules (bracket and depth check, no single lower-case
// letters, no built-in names). A failure fills the report as the program
// reader would, its location naming `source`, and stores nothing.
bool read_library(std::string_view source, std::string_view text, ErrorReport& report);

// True when some library was read.
bool libraries_linked();

// Joins into `table` (and `uncached`, for definitions written N()\body) the
// library definitions its bodies need, transitively. `defined` tells which
// names already have a definition (the table's own, and for run-time loading
// the program's).
void join_library(DefinitionTable& table, NameSet& uncached,
                  const std::function<bool(std::string_view)>& defined);

// join_library on the program's definition table, after it is read.
void join_library_into_program();

}  // namespace tove
