#include "eval/run.h"

#include <string>

#include "cells/encoding.h"
#include "cells/memory.h"
#include "cells/print.h"
#include "compiler/compile.h"
#include "eval/eval.h"
#include "numbers/numbers.h"

namespace tove {

namespace {

constexpr size_t kLocationLimit = 56;

}  // namespace

void report_runaway(const RunawayEvaluation& runaway, ErrorReport& report) {
  std::string message = "Evaluation deeper than " + std::to_string(runaway.frames) + " frames";
  if (!runaway.name.empty()) message += " in function [" + runaway.name + "]";
  fail(report, "Space", message + ".", runaway.name);
}

bool report_cycle(const Cell* result, ErrorReport& report) {
  if (!is_update_marker(result)) return false;
  std::string name(marker_name(result));
  fail(report, "Cycle", "Cycle detected on function [" + name + "].", name);
  return true;
}

void run_program(ErrorReport& report, int64_t argument_address) {
  set_memory_phase(MemoryPhase::compiling);
  compile_program(report);
  if (report.failed()) return;

  CellRef* main = definitions().find("");
  TOVE_ASSERT(main != nullptr);
  set_memory_phase(MemoryPhase::evaluating);
  CellRef result;
  try {
    result = evaluate(make_pair(main->share(), integer_from_int64(argument_address)));
  } catch (const RunawayEvaluation& runaway) {
    // The machine has let go of its frames: there is memory for the report.
    report_runaway(runaway, report);
    return;
  }
  set_memory_phase(MemoryPhase::printing);
  Cell* r = result.get();

  if (report_cycle(r, report)) return;
  if (is_integer(r)) {
    definitions().set("", std::move(result));
    return;
  }
  std::string printed = print_expression(r);
  std::string location = printed.size() <= kLocationLimit ? printed : printed.substr(0, 53) + "...";
  fail(report, "Range", "The program must return an integer. Instead we encountered:\n" + printed,
       std::move(location));
}

}  // namespace tove
