// Process-wide tables shared by the front end, the compiler and the
// evaluator: the definition table, the uncached names, the prelude snapshot,
// the built-in table and the sandbox switch. The error report that every
// stage fills is in cells/report.h.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
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
// A built-in of two arguments may also answer two short integers from their
// values alone: the very answer its handler gives them, or an empty
// reference where the handler must be asked (a result past a machine
// word, a divisor of zero). Such a rule never fails and has no effect, so
// the evaluator may ask it as soon as both values are known.
using WordRule = CellRef (*)(int64_t x, int64_t y);
// A comparison's word rule answers a fresh truth atom, K or H; its truth
// rule says which (true for K), so that an evaluator that only takes a
// choice on the answer need not make the atom.
using TruthRule = bool (*)(int64_t x, int64_t y);
// An arithmetic word rule answers the integer atom of a machine word; its
// value rule gives that word in *r, or false where the word rule answers
// nothing, so that an evaluator that hands the answer straight on to
// another rule need not make the atom.
using ValueRule = bool (*)(int64_t x, int64_t y, int64_t* r);

struct BuiltinEntry {
  uint8_t arity;
  BuiltinHandler handler;
  WordRule words = nullptr;
  TruthRule truths = nullptr;
  ValueRule values = nullptr;
};

// Whether a handler stays among the interpreter's own values or reaches
// outside them: machine memory at an address, a C function, program text
// loaded at run time. A sandboxed process refuses every outside row.
enum class Reach : uint8_t { inside, outside };

// One row of a family: the built-in's name, arity, handler and reach. The
// rows the families announce are the registry; nothing else lists names.
struct BuiltinSpec {
  std::string_view name;
  uint8_t arity;
  BuiltinHandler handler;
  Reach reach = Reach::inside;
  WordRule words = nullptr;
  TruthRule truths = nullptr;
  ValueRule values = nullptr;
};

using BuiltinTable = std::map<std::string, BuiltinEntry, std::less<>>;
// The announced rows by name; a row's name views the family's own storage,
// which lives to the exit.
using BuiltinRows = std::map<std::string_view, BuiltinSpec, std::less<>>;

BuiltinTable& builtin_table();
// The entry of a built-in name, or nullptr.
const BuiltinEntry* find_builtin(std::string_view name);
const BuiltinRows& builtin_rows();

// A family announces its rows here, in any order with register_builtins:
// they join the rows at once and the table too. Every row has a handler and
// a name no other row has; the same family may be announced again.
void add_builtin_family(std::span<const BuiltinSpec> family);
// The rows of several parts of a family, in order, as one family.
std::vector<BuiltinSpec> join_members(std::initializer_list<std::span<const BuiltinSpec>> parts);
// Gives the table every announced row it lacks: an emptied table is filled
// again, a filled one is unchanged.
void register_builtins();

// The handler of an outside row in a sandboxed process: it answers "Z".
CellRef answer_z(CellRef redex);

// ---- sandbox ----------------------------------------------------------------------

// A sandboxed process (the fuzz harnesses) keeps programs inside the
// interpreter: every outside row answers "Z" without doing anything, and the
// compiler writes no log line. Off unless set; switching it changes the
// handlers of a filled table at once.
bool sandboxed();
void set_sandboxed(bool on);

}  // namespace tove
