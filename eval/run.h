// The program run: compile every definition, evaluate the main program
// applied to the address of the argument strings, check the result.
#pragma once

#include <cstdint>

#include "frontend/tables.h"

namespace tove {

// On success the integer result is stored as the main program's entry
// (the empty name); on failure the report is filled.
void run_program(ErrorReport& report, int64_t argument_address);

}  // namespace tove
