// The error report: the one record through which every stage of the
// pipeline (the reader, the bracket check, the compiler, the loader, the
// run and the driver) says that the program failed and why.
//
// Fields: the name the failure concerns (empty for none), the offset into
// the program text where it was found (-1 for none), the five-letter type
// word ("Empty" while the report holds no failure) and the message shown to
// the user. The report is a plain value owned by whoever made it; a stage
// fills it once, with `fail`, and the first failure ends the pipeline.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tove {

inline constexpr std::string_view kEmptyType = "Empty";

struct ErrorReport {
  std::string location;               // definition or other name concerned
  int64_t position = -1;              // offset into the program text, -1 for none
  std::string type_word{kEmptyType};  // five letters; "Empty" means no failure
  std::string message;

  void reset() { *this = ErrorReport{}; }
  bool failed() const { return type_word != kEmptyType; }
};

// Fills every field of the report with one failure.
void fail(ErrorReport& report, std::string_view type_word, std::string message, std::string location = {},
          int64_t position = -1);

}  // namespace tove
