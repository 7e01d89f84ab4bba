#include "cells/report.h"

#include <utility>

#include "cells/fatal.h"

namespace tove {

void fail(ErrorReport& report, std::string_view type_word, std::string message, std::string location,
          int64_t position) {
  TOVE_ASSERT(type_word.size() == 5 && type_word != kEmptyType);
  report.location = std::move(location);
  report.position = position;
  report.type_word = std::string(type_word);
  report.message = std::move(message);
}

}  // namespace tove
