// Run-time loading of program text: a text's definitions join the
// definition table while the program runs, and its main expression comes
// back ready to evaluate.
//
// The text goes through the program reader's bracket, depth and definition
// rules and a reduced compile on a table private to the call (no quote or
// pair-let expansion, no layout definition, no sharing pass):
// definitions that depend on undefined names are dropped, then binders,
// letters and parameter counts are checked, the definitions are merged, and
// last the bodies are checked for unbound locals. Definitions merged before
// a failing unbound-local check stay merged. A loaded text never redefines
// a name the table already holds. Library definitions (compiler/library.h)
// that the text needs and the program lacks join the text's own.
//
// Ownership: the private table owns the parsed bodies until the merge,
// which shares them into the definition table; the caller owns the
// returned main expression.
#pragma once

#include <string_view>

#include "cells/cell.h"
#include "cells/report.h"
#include "cells/tables.h"

namespace tove {

enum class LoadShape : uint8_t {
  // The first piece is the main expression, as in a program file; a
  // definition that depends on an undefined name is dropped when the main
  // expression does not need it.
  main_and_definitions,
  // Every piece is a definition, and each must be complete: a definition
  // that depends on an undefined name fails the load.
  definitions_only,
};

// Loads a program text. Returns the main expression (the atom "I" for a
// text of definitions only), or an empty reference with the report filled.
CellRef load_program_text(std::string_view text, ErrorReport& report,
                          LoadShape shape = LoadShape::main_and_definitions);

}  // namespace tove
