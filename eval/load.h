// The run-time loading primitive: load x reads the program text x, merges
// its definitions into the program's (compiler/load.h) and answers the
// value of its main expression, or "Z" when anything is wrong with the text.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cells/cell.h"
#include "cells/tables.h"

namespace tove {

// The one-member family of `load`, for add_builtin_family.
std::span<const BuiltinSpec> load_family();

// The program text a `load` argument stands for: the bytes of a byte string, the
// NUL-terminated string at the address an integer holds (none when that
// memory cannot be read, the null address among it), or a text literal's
// text without its brackets. The view points into the argument's cell, or
// into `storage`, which receives a copy of the addressed string.
std::optional<std::string_view> load_text_argument(Cell* value, std::string& storage);

}  // namespace tove
