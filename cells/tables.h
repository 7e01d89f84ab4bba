// Process-wide tables shared by the front end, the compiler and the
// evaluator: the definition table, the uncached names, the prelude snapshot,
// the built-in table and the sandbox switch. The error report that every
// stage fills is in cells/report.h.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <initializer_list>
#include <vector>

#include "cells/cell.h"

namespace tove {

// ---- definition table -----------------------------------------------------------

// Name to body, ordered by bytes (shorter first on a common prefix). The main
// program is the entry with the empty name. A hash index beside the ordered
// map finds a name without walking the map on every evaluation step.
class DefinitionTable {
 public:
  using Map = std::map<std::string, CellRef, std::less<>>;

  // The body slot of a name, or nullptr when the name has no entry.
  CellRef* find(std::string_view name);
  // The body slot of a name, created holding a fresh empty-text atom when
  // missing.
  CellRef& entry(std::string_view name);
  // Stores a body under a name (adding or replacing the entry).
  void set(std::string_view name, CellRef body);
  bool erase(std::string_view name);
  void clear();
  size_t size() const { return map_.size(); }
  bool contains(std::string_view name) const { return map_.find(name) != map_.end(); }

  Map::iterator begin() { return map_.begin(); }
  Map::iterator end() { return map_.end(); }
  Map::const_iterator begin() const { return map_.begin(); }
  Map::const_iterator end() const { return map_.end(); }

  // A copy of every entry; bodies are shared, not copied.
  void copy_from(const DefinitionTable& other);

 private:
  Map map_;
  std::unordered_map<std::string_view, CellRef*> index_;
  // Single-character names (the combinators and operators met on almost
  // every evaluation step) are found by their byte alone.
  std::array<CellRef*, 256> single_{};
};

using NameSet = std::set<std::string, std::less<>>;

DefinitionTable& definitions();       // the program's definitions
DefinitionTable& prelude_snapshot();  // the table right after the prelude
NameSet& uncached_names();            // names defined as N()\body

// ---- built-in table -------------------------------------------------------------

// A handler receives the saturated application (((name a1) a2) ... an), or
// the bare name atom for arity 0, owns it, and returns a new reference to
// its result; "Z" for arguments it does not accept.
using BuiltinHandler = CellRef (*)(CellRef redex);

struct BuiltinEntry {
  uint8_t arity;
  BuiltinHandler handler;
};

// One entry of a family's export array.
struct BuiltinSpec {
  std::string_view name;
  uint8_t arity;
  BuiltinHandler handler;
};

using BuiltinTable = std::map<std::string, BuiltinEntry, std::less<>>;

BuiltinTable& builtin_table();
// The entry of a built-in name, or nullptr.
const BuiltinEntry* find_builtin(std::string_view name);

// Families of primitives announce their handlers here before the table is
// filled; register_builtins then installs them over the registry's
// "answer Z" default. A family entry must name a registered built-in with
// its registered arity.
void add_builtin_family(std::span<const BuiltinSpec> family);
// The rows of several parts of a family, in order, as one family.
std::vector<BuiltinSpec> join_members(std::initializer_list<std::span<const BuiltinSpec>> parts);
// Fills an empty table with all 223 built-ins; a filled table is unchanged.
void register_builtins();

// The handler of built-ins whose family is not installed: it answers "Z".
CellRef answer_z(CellRef redex);

// ---- sandbox ----------------------------------------------------------------------

// A sandboxed process (the fuzz harnesses) keeps programs inside the
// interpreter: every primitive that reads or writes machine memory at an
// address, reaches the C library or loads program text answers "Z" without
// doing anything, and the compiler writes no log line. Off unless set.
bool sandboxed();
void set_sandboxed(bool on);

}  // namespace tove
