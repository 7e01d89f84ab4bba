// Letter assignment: every long local name of a definition becomes a single
// lower-case letter, the form the engine substitutes, and the compiler's log
// records each definition that had one.
#pragma once

#include <string_view>

#include "cells/cell.h"

namespace tove {

// The compiler's log file and its line writer. The file is opened for
// appending (never through a symbolic link) and closed for each line; a line
// that cannot be written is dropped. A new file gets mode 0600.
inline constexpr const char* kLogPath = "/tmp/redv.log";
void append_log_line(const char* path, std::string_view line);

enum class LetterLog { write, skip };
// Gives every long local name of a definition the first letter no binder of
// it uses, in the names' byte order, and logs the body first when it has a
// long name. False, with the body unchanged, when the definition needs more
// than 26 letters.
bool assign_letters(std::string_view name, CellRef& body, LetterLog log = LetterLog::write);

}  // namespace tove
