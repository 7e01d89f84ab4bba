#include "compiler/load.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cells/analysis.h"
#include "cells/interrupt.h"
#include "compiler/compile.h"
#include "compiler/library.h"
#include "frontend/frontend.h"

namespace tove {

namespace {

// Texts from this size on look at the interrupt request while they are read.
constexpr size_t kLargeLoadText = size_t{1} << 16;

// Stores the definitions of the pieces from `first` on in the private
// table; false with the report filled when a name may not be defined.
bool read_definitions(const std::vector<ProgramPiece>& pieces, size_t first, DefinitionTable& local,
                      NameSet& local_uncached, bool interruptible, ErrorReport& report) {
  for (size_t k = first; k < pieces.size(); ++k) {
    if (interruptible) stop_if_interrupted();
    std::optional<Definition> definition = parse_definition(pieces[k].text);
    if (!definition) continue;
    const auto position = static_cast<int64_t>(pieces[k].position);
    if (!is_definable_name(definition->name)) {
      fail(report, "Funky", "Funky name [" + definition->name + "] in a definition.", {}, position);
      return false;
    }
    const std::string key = normalized_name(definition->name);
    if (is_local_letter(key)) {
      fail_local_letter(report, key, position);
      return false;
    }
    if (key == "\\" || key == "{") {
      fail_builtin_name(report, key, {}, position);
      return false;
    }
    store_definition(local, local_uncached, key, std::move(*definition));
  }
  return true;
}

// A loaded text adds names; it never replaces one the program has.
bool check_new_names(DefinitionTable& local, ErrorReport& report) {
  for (const auto& [name, body] : local) {
    if (name.empty() || !definitions().contains(name)) continue;
    if (find_builtin(name) != nullptr) {
      fail_builtin_name(report, name, name, -1);
    } else {
      fail(report, "Taken", "Function [" + name + "] is already defined and cannot be re-defined.", name);
    }
    return false;
  }
  return true;
}

// Drops the definitions that depend on names neither table defines. The
// main expression, and with definitions only every definition, must not be
// among them: that fails with the reachability report.
bool prune_undefined(DefinitionTable& local, NameSet& local_uncached, LoadShape shape, ErrorReport& report) {
  auto defined_globally = [](std::string_view name) { return definitions().contains(name); };
  const NameSet doomed = caller_closure(
      local, [&](std::string_view name) { return local.contains(name) || defined_globally(name); });
  if (doomed.empty()) return true;
  NameSet roots;
  if (shape == LoadShape::main_and_definitions) {
    if (doomed.count(std::string_view()) == 0) {
      for (const std::string& name : doomed) {
        local.erase(name);
        local_uncached.erase(name);
      }
      return true;
    }
    roots.insert(std::string());
  } else {
    for (const auto& [name, body] : local) roots.insert(name);
  }
  const bool reachable = check_reachable_from(local, roots, defined_globally, report);
  TOVE_ASSERT(!reachable);
  return false;
}

// A merged definition that uses a local variable unbound could never run
// (a rewrite needs a closed focus), yet other definitions may already name
// it: it stays defined with its parameters, answering "Z".
void disarm_unbound(DefinitionTable& local) {
  for (auto& [name, body] : local) {
    if (name.empty() || node_mask(body.get()) == 0) continue;
    definitions().set(name, placeholder(static_cast<unsigned>(count_parameters(body.get()))));
  }
}

}  // namespace

CellRef load_program_text(std::string_view text, ErrorReport& report, LoadShape shape) {
  report.reset();
  // A large text takes a while to read: an interrupt is looked at between
  // the passes over it and between its definitions, and before the
  // definition table changes. A short one is read in microseconds, and the
  // evaluation that loads it looks at the request itself.
  const bool large = text.size() >= kLargeLoadText;
  if (!check_brackets(text, report) || !check_depth(text, report)) return {};
  if (large) stop_if_interrupted();
  const std::string normal = normalise_text(text);
  if (large) stop_if_interrupted();
  const std::vector<ProgramPiece> pieces = split_program(normal);
  if (large) stop_if_interrupted();
  DefinitionTable local;
  NameSet local_uncached;
  size_t first_definition = 0;
  if (shape == LoadShape::main_and_definitions) {
    local.set("", parse_expression(pieces[0].text));
    first_definition = 1;
  }
  if (!read_definitions(pieces, first_definition, local, local_uncached, large, report)) return {};
  join_library(local, local_uncached,
               [&](std::string_view name) { return local.contains(name) || definitions().contains(name); });
  if (!check_new_names(local, report)) return {};
  if (!prune_undefined(local, local_uncached, shape, report)) return {};
  if (!check_binders(local, report)) return {};
  if (!assign_all_letters(local, report, LetterLog::skip)) return {};
  if (!check_arity(local, report)) return {};
  if (large) stop_if_interrupted();

  for (auto& [name, body] : local) {
    if (!name.empty()) definitions().set(name, body.share());
  }
  for (const std::string& name : local_uncached) uncached_names().insert(name);

  if (!check_locals(local, report)) {
    disarm_unbound(local);
    return {};
  }
  CellRef* main = local.find("");
  return main ? main->share() : make_atom("I");
}

}  // namespace tove
