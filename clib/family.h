// The C-library binding: every C function a program can call, as built-in
// primitives of the same names. Each source file owns the rows of its
// members (clib/bind.h makes a row from a C call); c_library_family() is all
// of them, for add_builtin_family.
#pragma once

#include <span>

#include "cells/tables.h"

namespace tove::clib {

std::span<const BuiltinSpec> process_members();    // constants, process, characters, conversions, mathematics
std::span<const BuiltinSpec> stream_members();     // streams, files and descriptors
std::span<const BuiltinSpec> text_members();       // NUL-terminated text
std::span<const BuiltinSpec> memory_members();     // memory blocks and calendar time
std::span<const BuiltinSpec> directory_members();  // opendir, readdir, closedir
std::span<const BuiltinSpec> socket_members();     // sockets and name resolution

std::span<const BuiltinSpec> c_library_family();

}  // namespace tove::clib
