// A whole bounded run: read, compile and evaluate the main program applied
// to an empty argument list, as the driver does, then print a result that
// is not an integer. Unlike the sandbox elsewhere, `load` works here: a
// loaded text is read and compiled as the program is, and loads inside
// loads re-enter the evaluator, a path no other input takes.
#include <string>

#include "eval/load.h"
#include "eval/run.h"
#include "tests/fuzz/harness.h"

namespace {

char* g_no_arguments[] = {nullptr};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tove::fuzz::set_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tove::fuzz::run_bounded(data, size, [](std::string_view text) {
    const tove::BuiltinSpec& load = tove::load_family()[0];
    tove::builtin_table().insert_or_assign(std::string(load.name),
                                           tove::BuiltinEntry{load.arity, load.handler});
    tove::ErrorReport report;
    tove::read_program(report, text);
    if (report.failed()) return;
    tove::run_program(report, static_cast<int64_t>(reinterpret_cast<intptr_t>(g_no_arguments)));
  });
  return 0;
}
