// The whole-program compile: every definition is prepared by the
// rewrites of compiler/rewrite.h and compiler/letters.h and the program is
// checked.
//
// Each check is a function over a definition table, so that run-time loading
// of program text can run the same checks on a table of its own. Checks
// visit the definitions in ascending name order, stop at the first failure
// and fill the report; a report that stays "Empty" means the table passed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "cells/cell.h"
#include "cells/report.h"
#include "cells/tables.h"
#include "compiler/letters.h"

namespace tove {

// How the main program (the entry with the empty name) is shown as a referrer.
inline constexpr std::string_view kMainReferrer = "TOP";

// The global names an expression mentions: name-token atoms (other than the
// binder atoms "{" and "\") that no enclosing lambda or let binds. An unbound
// single lower-case letter is among them.
NameSet global_references(Cell* body);

// The first lambda or let node, in search order, whose binder is not a
// definable name; nullptr when there is none.
Cell* find_funky_node(Cell* body);
// The number of leading lambda nodes down the body's right spine.
size_t count_parameters(Cell* body);

// "Funky": every binder is a definable name.
bool check_binders(DefinitionTable& table, ErrorReport& report);
// "Alive": every name reachable from the main program is defined.
bool check_reachable(DefinitionTable& table, ErrorReport& report);
// "Alive" from the given roots (names the table holds), where a name that
// `defined_elsewhere` accepts counts as defined and is not entered.
bool check_reachable_from(DefinitionTable& table, const NameSet& roots,
                          const std::function<bool(std::string_view)>& defined_elsewhere,
                          ErrorReport& report);
// The definitions that mention a name `is_defined` refuses, closed over their
// callers.
NameSet caller_closure(DefinitionTable& table, const std::function<bool(std::string_view)>& is_defined);
// "Place": long local names get letters; false when a definition needs more
// than 26.
bool assign_all_letters(DefinitionTable& table, ErrorReport& report, LetterLog log);
// "Arity": no definition has more than ten parameters.
bool check_arity(DefinitionTable& table, ErrorReport& report);
// "Local": no definition uses a local variable unbound.
bool check_locals(DefinitionTable& table, ErrorReport& report);

// Prepares and checks the process-wide definition table: stores the layout
// definition "_", expands quotes and pair lets, checks binders and
// reachability, drops what depends on undefined names (restoring Prelude
// definitions from the prelude snapshot, which is then emptied), assigns
// letters, checks arity, shares all bodies, checks for unbound locals and
// analyses every body.
void compile_program(ErrorReport& report);

}  // namespace tove
