// The reader on any bytes: bracket check, normalisation, parsing and the
// definition table.
#include "tests/fuzz/harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tove::fuzz::set_up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tove::fuzz::run_bounded(data, size, [](std::string_view text) {
    tove::ErrorReport report;
    tove::read_program(report, text);
  });
  return 0;
}
