#include "compiler/library.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compiler/compile.h"
#include "frontend/frontend.h"

namespace tove {

namespace {

// Normalized name -> the definition piece, normalised, as the library wrote it.
using LibraryTable = std::map<std::string, std::string, std::less<>>;

LibraryTable& library_table() {
  static LibraryTable table;
  return table;
}

void fail(ErrorReport& report, std::string_view source, size_t position, std::string_view word,
          std::string message) {
  report.location = std::string(source);
  report.position = static_cast<int64_t>(position);
  report.type_word = std::string(word);
  report.message = std::move(message);
}

}  // namespace

bool read_library(std::string_view source, std::string_view text, ErrorReport& report) {
  report.reset();
  if (!check_brackets(text, report) || !check_depth(text, report)) {
    report.location = std::string(source);
    return false;
  }
  register_builtins();
  const std::string normal = normalise_text(text);
  const std::vector<ProgramPiece> pieces = split_program(normal);
  LibraryTable read;
  for (size_t k = 1; k < pieces.size(); ++k) {
    std::optional<Definition> definition = parse_definition(pieces[k].text);
    if (!definition || !is_definable_name(definition->name)) continue;
    const std::string key = normalized_name(definition->name);
    if (is_local_letter(key)) {
      fail(report, source, pieces[k].position, "Lower",
           "Single lowercase letters (" + key + ") cannot be defined as global variables.");
      return false;
    }
    if (key == "\\" || key == "{" || find_builtin(key) != nullptr) {
      fail(report, source, pieces[k].position, "Built",
           "Built in function [" + key + "] cannot be re-defined.");
      return false;
    }
    read.insert_or_assign(key, std::string(pieces[k].text));
  }
  for (auto& [name, piece] : read) library_table().insert_or_assign(name, std::move(piece));
  return true;
}

bool libraries_linked() { return !library_table().empty(); }

void join_library(DefinitionTable& table, NameSet& uncached,
                  const std::function<bool(std::string_view)>& defined) {
  if (!libraries_linked()) return;
  std::vector<Cell*> unsearched;
  for (auto& [name, body] : table) unsearched.push_back(body.get());
  NameSet joined;
  while (!unsearched.empty()) {
    Cell* body = unsearched.back();
    unsearched.pop_back();
    for (const std::string& reference : global_references(body)) {
      if (joined.count(reference) != 0 || defined(reference)) continue;
      auto piece = library_table().find(reference);
      if (piece == library_table().end()) continue;
      std::optional<Definition> definition = parse_definition(piece->second);
      TOVE_ASSERT(definition.has_value());
      joined.insert(reference);
      store_definition(table, uncached, reference, std::move(*definition));
      unsearched.push_back(table.find(reference)->get());
    }
  }
}

void join_library_into_program() {
  join_library(definitions(), uncached_names(),
               [](std::string_view name) { return definitions().contains(name); });
}

}  // namespace tove
