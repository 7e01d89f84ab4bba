#include "compiler/compile.h"

#include <map>
#include <utility>
#include <vector>

#include "cells/analysis.h"
#include "cells/print.h"
#include "cells/sharing.h"
#include "compiler/layout.h"
#include "compiler/letters.h"
#include "compiler/names.h"
#include "compiler/rewrite.h"

namespace tove {

namespace {

// A reference: a name token that is not one of the binder atoms.
bool is_reference_atom(const Cell* atom) {
  const unsigned char first = head_char(atom);
  return first != '{' && first != '\\' && is_name_token(atom_text(atom));
}

}  // namespace

NameSet global_references(Cell* body) {
  NameSet references;
  std::map<std::string, size_t, std::less<>> bound;  // name -> enclosing binders
  // Work items: visit a cell, or open or close the scope of a binder name.
  enum class Action { visit, bind, unbind };
  struct Item {
    Action action;
    Cell* cell;
    std::string name;
  };
  std::vector<Item> work;
  work.push_back({Action::visit, body, {}});
  while (!work.empty()) {
    Item item = std::move(work.back());
    work.pop_back();
    if (item.action == Action::bind) {
      ++bound[item.name];
      continue;
    }
    if (item.action == Action::unbind) {
      auto it = bound.find(item.name);
      if (--it->second == 0) bound.erase(it);
      continue;
    }
    Cell* cell = item.cell;
    if (is_atom(cell)) {
      const std::string_view text = atom_text(cell);
      if (is_reference_atom(cell) && !bound.count(text) && !references.count(text)) references.emplace(text);
    } else if (is_lambda_node(cell)) {
      std::string name = binder_name(pair_right(pair_left(cell)));
      work.push_back({Action::unbind, nullptr, name});
      work.push_back({Action::visit, pair_right(cell), {}});
      work.push_back({Action::bind, nullptr, std::move(name)});
    } else if (is_let_node(cell)) {
      Cell* binding = pair_left(cell);
      std::string name = binder_name(pair_right(pair_left(binding)));
      work.push_back({Action::unbind, nullptr, name});
      work.push_back({Action::visit, pair_right(cell), {}});
      work.push_back({Action::bind, nullptr, std::move(name)});
      work.push_back({Action::visit, pair_right(binding), {}});
    } else {
      work.push_back({Action::visit, pair_right(cell), {}});
      work.push_back({Action::visit, pair_left(cell), {}});
    }
  }
  return references;
}

Cell* find_funky_node(Cell* body) {
  std::vector<Cell*> work{body};
  while (!work.empty()) {
    Cell* cell = work.back();
    work.pop_back();
    if (is_atom(cell)) continue;
    if (is_lambda_node(cell)) {
      if (!is_definable_binder(pair_right(pair_left(cell)))) return cell;
      work.push_back(pair_right(cell));
    } else if (is_let_node(cell)) {
      Cell* binding = pair_left(cell);
      if (!is_definable_binder(pair_right(pair_left(binding)))) return cell;
      work.push_back(pair_right(cell));
      work.push_back(pair_right(binding));
    } else {
      work.push_back(pair_right(cell));
      work.push_back(pair_left(cell));
    }
  }
  return nullptr;
}

size_t count_parameters(Cell* body) {
  size_t count = 0;
  for (Cell* cell = body; is_pair(cell); cell = pair_right(cell)) {
    Cell* head = pair_left(cell);
    if (!is_pair(head) || head_char(pair_left(head)) != '\\') break;
    ++count;
  }
  return count;
}

bool check_binders(DefinitionTable& table, ErrorReport& report) {
  for (auto& [name, body] : table) {
    Cell* node = find_funky_node(body.get());
    if (!node) continue;
    std::string message = "Funky key in expression " + print_expression(node);
    message += name.empty() ? "." : " in function " + name + ".";
    fail(report, "Funky", std::move(message));
    return false;
  }
  return true;
}

bool check_reachable(DefinitionTable& table, ErrorReport& report) {
  return check_reachable_from(
      table, NameSet{std::string()}, [](std::string_view) { return false; }, report);
}

bool check_reachable_from(DefinitionTable& table, const NameSet& roots,
                          const std::function<bool(std::string_view)>& defined_elsewhere,
                          ErrorReport& report) {
  std::map<std::string, std::string, std::less<>> pending;
  for (const std::string& root : roots) pending.emplace(root, "nowhere");
  NameSet visited;
  while (!pending.empty()) {
    auto first = pending.begin();
    const std::string name = first->first;
    const std::string referrer = first->second;
    pending.erase(first);
    visited.insert(name);
    CellRef* body = table.find(name);
    if (!body && defined_elsewhere(name)) continue;
    if (!body) {
      TOVE_ASSERT(!name.empty() && table.contains(referrer));
      const std::string_view shown = referrer.empty() ? kMainReferrer : std::string_view(referrer);
      fail(report, "Alive",
           "Alive function [" + std::string(shown) + "] references undefined [" + name + "].", name);
      return false;
    }
    for (const std::string& reference : global_references(body->get())) {
      if (!visited.count(reference)) pending[reference] = name;
    }
  }
  return true;
}

NameSet caller_closure(DefinitionTable& table, const std::function<bool(std::string_view)>& is_defined) {
  std::map<std::string, std::vector<std::string>, std::less<>> callers;
  NameSet closure;
  std::vector<std::string> newest;
  for (auto& [name, body] : table) {
    bool seed = false;
    for (const std::string& reference : global_references(body.get())) {
      callers[reference].push_back(name);
      if (!is_defined(reference)) seed = true;
    }
    if (seed && closure.insert(name).second) newest.push_back(name);
  }
  while (!newest.empty()) {
    const std::string callee = std::move(newest.back());
    newest.pop_back();
    auto it = callers.find(callee);
    if (it == callers.end()) continue;
    for (const std::string& caller : it->second)
      if (closure.insert(caller).second) newest.push_back(caller);
  }
  return closure;
}

bool assign_all_letters(DefinitionTable& table, ErrorReport& report, LetterLog log) {
  for (auto& [name, body] : table) {
    if (assign_letters(name, body, log)) continue;
    fail(report, "Place", name.empty() ? "Place error." : "Place error in function " + name + ".", name);
    return false;
  }
  return true;
}

bool check_arity(DefinitionTable& table, ErrorReport& report) {
  for (auto& [name, body] : table) {
    if (count_parameters(body.get()) <= 10) continue;
    fail(report, "Arity", "Arity of function " + name + " may not exceed ten.", name);
    return false;
  }
  return true;
}

bool check_locals(DefinitionTable& table, ErrorReport& report) {
  for (auto& [name, body] : table) {
    const uint32_t mask = node_mask(body.get());
    if (mask == 0) continue;
    const std::string letter(1, static_cast<char>('a' + __builtin_ctz(mask)));
    if (name.empty()) {
      fail(report, "Local", "Local variable " + letter + " unbound.");
    } else {
      fail(report, "Local", "Local variable " + letter + " unbound in function [" + name + "].", name);
    }
    return false;
  }
  return true;
}

namespace {

// Drops every definition that depends on an undefined name: a Prelude name
// gets its Prelude body back, any other name goes. The prelude snapshot has
// served its purpose afterwards and is emptied.
void prune_undefined(DefinitionTable& table) {
  DefinitionTable& snapshot = prelude_snapshot();
  const NameSet doomed = caller_closure(table, [&](std::string_view name) { return table.contains(name); });
  TOVE_ASSERT(!doomed.count(std::string_view()));
  for (const std::string& name : doomed) {
    if (CellRef* original = snapshot.find(name)) {
      table.set(name, original->share());
    } else {
      table.erase(name);
    }
    uncached_names().erase(name);
  }
  snapshot.clear();
}

}  // namespace

void compile_program(ErrorReport& report) {
  report.reset();
  DefinitionTable& table = definitions();
  table.set("_", make_atom(build_layout_text()));
  for (auto& [name, body] : table) body = expand_quotes(body.get());
  for (auto& [name, body] : table) body = expand_pair_lets(body.get());
  if (!check_binders(table, report)) return;
  if (!check_reachable(table, report)) return;
  prune_undefined(table);
  if (!assign_all_letters(table, report, LetterLog::write)) return;
  if (!check_arity(table, report)) return;
  clear_sharing_set();
  for (auto& [name, body] : table) body = share_body(body.get());
  prune_sharing_set();
  if (!check_locals(table, report)) return;
  for (auto& [name, body] : table) analyse_node(body.get());
}

}  // namespace tove
