// The program run: compile every definition, evaluate the main program
// applied to the address of the argument strings, check the result.
#pragma once

#include <cstdint>

#include "cells/cell.h"
#include "cells/report.h"

namespace tove {

// On success the integer result is stored as the main program's entry
// (the empty name); on failure the report is filled.
void run_program(ErrorReport& report, int64_t argument_address);

struct RunawayEvaluation;
// Fills the report of an evaluation stopped at the bound on its depth
// (eval.h): "Space", naming the definition it was expanding when known.
void report_runaway(const RunawayEvaluation& runaway, ErrorReport& report);

// An evaluation's result that is the cycle marker ")name" fills the report
// with "Cycle"; false for any other result.
bool report_cycle(const Cell* result, ErrorReport& report);

}  // namespace tove
