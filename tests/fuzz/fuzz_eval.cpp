// A whole bounded run: read, compile and evaluate the main program applied
// to an empty argument list, as the driver does, then print a result that
// is not an integer.
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
    tove::ErrorReport report;
    tove::read_program(report, text);
    if (report.failed()) return;
    tove::run_program(report, static_cast<int64_t>(reinterpret_cast<intptr_t>(g_no_arguments)));
  });
  return 0;
}
