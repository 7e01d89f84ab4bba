#include "cells/tables.h"

#include <vector>

namespace tove {

CellRef* DefinitionTable::find(std::string_view name) {
  if (name.size() == 1) return single_[static_cast<unsigned char>(name[0])];
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : it->second;
}

CellRef& DefinitionTable::entry(std::string_view name) {
  if (CellRef* slot = find(name)) return *slot;
  auto [it, inserted] = map_.emplace(std::string(name), make_atom(std::string_view{}));
  TOVE_ASSERT(inserted);
  index_.emplace(std::string_view(it->first), &it->second);
  if (name.size() == 1) single_[static_cast<unsigned char>(name[0])] = &it->second;
  return it->second;
}

void DefinitionTable::set(std::string_view name, CellRef body) {
  TOVE_ASSERT(body);
  entry(name) = std::move(body);
}

bool DefinitionTable::erase(std::string_view name) {
  auto it = map_.find(name);
  if (it == map_.end()) return false;
  index_.erase(std::string_view(it->first));
  if (name.size() == 1) single_[static_cast<unsigned char>(name[0])] = nullptr;
  map_.erase(it);
  return true;
}

void DefinitionTable::clear() {
  single_.fill(nullptr);
  index_.clear();
  map_.clear();
}

void DefinitionTable::copy_from(const DefinitionTable& other) {
  clear();
  for (const auto& [name, body] : other) set(name, body.share());
}

DefinitionTable& definitions() {
  static DefinitionTable* table = new DefinitionTable;  // lives to the exit
  return *table;
}

DefinitionTable& prelude_snapshot() {
  static DefinitionTable* table = new DefinitionTable;
  return *table;
}

NameSet& uncached_names() {
  static NameSet* names = new NameSet;
  return *names;
}

BuiltinTable& builtin_table() {
  static BuiltinTable* table = new BuiltinTable;
  return *table;
}

const BuiltinEntry* find_builtin(std::string_view name) {
  const BuiltinTable& table = builtin_table();
  auto it = table.find(name);
  return it == table.end() ? nullptr : &it->second;
}

std::vector<BuiltinSpec> join_members(std::initializer_list<std::span<const BuiltinSpec>> parts) {
  std::vector<BuiltinSpec> all;
  for (std::span<const BuiltinSpec> part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

CellRef answer_z(CellRef redex) {
  redex.reset();
  return make_atom("Z");
}

namespace {

bool g_sandboxed = false;

BuiltinRows& rows() {
  static BuiltinRows* announced = new BuiltinRows;  // lives to the exit
  return *announced;
}

// The one place the sandbox refuses: an outside row's entry answers "Z".
BuiltinEntry entry_of(const BuiltinSpec& row) {
  const bool refused = g_sandboxed && row.reach == Reach::outside;
  if (refused) return {row.arity, answer_z};
  return {row.arity, row.handler, row.words, row.truths, row.values};
}

// Entries are replaced in place, so a pointer to one stays good.
void install(const BuiltinSpec& row) {
  builtin_table().insert_or_assign(std::string(row.name), entry_of(row));
}

}  // namespace

const BuiltinRows& builtin_rows() { return rows(); }

void add_builtin_family(std::span<const BuiltinSpec> family) {
  for (const BuiltinSpec& row : family) {
    TOVE_ASSERT(!row.name.empty() && row.handler != nullptr);
    auto [it, added] = rows().emplace(row.name, row);
    // A name has one row: announcing a family again adds nothing.
    TOVE_ASSERT(added || (it->second.arity == row.arity && it->second.handler == row.handler &&
                          it->second.reach == row.reach && it->second.words == row.words &&
                          it->second.truths == row.truths && it->second.values == row.values));
    install(row);
  }
}

void register_builtins() {
  for (const auto& [name, row] : rows()) builtin_table().emplace(std::string(name), entry_of(row));
}

bool sandboxed() { return g_sandboxed; }

void set_sandboxed(bool on) {
  g_sandboxed = on;
  if (builtin_table().empty()) return;
  for (const auto& [name, row] : rows()) {
    if (row.reach == Reach::outside) install(row);
  }
}

}  // namespace tove
