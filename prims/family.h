// The structural primitives: raw memory and byte-level editing, conversions
// between value kinds and slices, and value inspection. structure_family()
// is the one array of their names, arities and handlers that the driver
// hands to add_builtin_family.
//
// Every handler takes the saturated redex (((name a1) a2) ... an), whose
// arguments are done values, and reads the same way: collect the arguments
// from the spine, decode them or answer "Z", compute, build the result. The
// decoders they share are declared here; the builders of results (and the
// byte-string reader) are the numbers subsystem's, shared by every family.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cells/cell.h"
#include "cells/encoding.h"
#include "cells/tables.h"
#include "numbers/args.h"

namespace tove {

// Each source file owns the rows of its members (name, arity, handler),
// written beside the handlers.
std::span<const BuiltinSpec> memory_members();           // raw memory and byte-level editing
std::span<const BuiltinSpec> kind_conversion_members();  // conversions between kinds, slices
std::span<const BuiltinSpec> inspection_members();       // value inspection

// All twenty-nine, for add_builtin_family.
std::span<const BuiltinSpec> structure_family();

// ---- shared decoders ------------------------------------------------------------------

// The text between the outer brackets of a data node's written form: a view
// into the atom for a text literal, or into `storage`, which receives the
// written form of a data pair.
std::string_view data_text_view(const Cell* node, std::string& storage);

// The wrapped form V (X J) c of a tree: the contents c, or nullptr for any
// other shape. Only the first character of each atom is looked at.
Cell* wrapped_contents(Cell* value);

// True when no prefix of the text closes more brackets than it opened and
// the whole text closes all it opened.
bool brackets_balanced(std::string_view text);

}  // namespace tove
