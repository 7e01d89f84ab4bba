// The program reader: the main program and the definitions of a program text
// into the definition table.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/frontend.h"

namespace tove {

namespace {

// The punctuation that may stand bracketed as a name: the braces, the comma
// and the 24 operator characters.
constexpr std::string_view kBracketedNameChars = "{},~!@#$%^&*<>-|+/=\\.`'\":;?";
static_assert(kBracketedNameChars.size() == 27);

bool is_bracketed_name(std::string_view name) {
  return name.size() == 3 && name[0] == '[' && name[2] == ']' &&
         kBracketedNameChars.find(name[1]) != std::string_view::npos;
}

// ((\\ x) body): a pair whose left part is a pair whose left part is the
// atom of exactly one backslash.
bool is_lambda(const Cell* c) {
  return is_pair(c) && is_pair(pair_left(c)) && atom_is(pair_left(pair_left(c)), "\\");
}

// Reads one definition piece at `position` of the normalised text. Pieces
// that are not definitions are skipped; a forbidden name fills the report.
void read_definition(ErrorReport& report, std::string_view piece, size_t position) {
  std::optional<Definition> definition = parse_definition(piece);
  if (!definition || !is_definable_name(definition->name)) return;
  const std::string key = normalized_name(definition->name);
  const auto at = static_cast<int64_t>(position);
  if (is_local_letter(key)) return fail_local_letter(report, key, at);
  if (key == "\\" || key == "{" || find_builtin(key) != nullptr)
    return fail_builtin_name(report, key, {}, at);
  store_definition(definitions(), uncached_names(), key, std::move(*definition));
}

}  // namespace

CellRef placeholder(unsigned arity) {
  TOVE_ASSERT(arity <= 26);
  CellRef body = make_atom("Z");
  for (unsigned k = arity; k-- > 0;) {
    const char binder = static_cast<char>('a' + k);
    body = make_pair(make_pair(make_atom("\\"), make_atom(std::string_view(&binder, 1))), std::move(body));
  }
  return body;
}

bool is_definable_name(std::string_view name) {
  if (name.empty()) return false;
  if (name.size() == 1) {
    const auto c = static_cast<unsigned char>(name[0]);
    if ((c >= 'A' && c <= 'Z') || (c >= 1 && c <= 31) || c >= 0x7F) return true;
  }
  if (is_bracketed_name(name)) return true;
  for (char c : name) {
    if (!is_word_char(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string normalized_name(std::string_view name) {
  if (is_bracketed_name(name)) return std::string(1, name[1]);
  return std::string(name);
}

bool check_depth(std::string_view text, ErrorReport& report) {
  const long deep = find_too_deep(text, kMaxNesting);
  if (deep < 0) return true;
  fail_at_offset(report, "Depth", static_cast<size_t>(deep),
                 "Expression nested deeper than " + std::to_string(kMaxNesting) + " groups.");
  return false;
}

std::vector<ProgramPiece> split_program(std::string_view normal) {
  const std::vector<size_t> commas = find_separators(normal, ",");
  std::vector<ProgramPiece> pieces;
  pieces.reserve(commas.size() + 1);
  size_t begin = 0;
  for (size_t comma : commas) {
    pieces.push_back({begin, normal.substr(begin, comma - begin)});
    begin = comma + 1;
  }
  pieces.push_back({begin, normal.substr(begin)});
  return pieces;
}

std::optional<Definition> parse_definition(std::string_view piece) {
  CellRef parsed = parse_expression(piece);
  if (!is_lambda(parsed.get())) return std::nullopt;
  const Cell* binder = pair_right(pair_left(parsed.get()));
  Definition definition;
  if (is_atom(binder)) {
    definition.name = atom_text(binder);
  } else if (is_atom(pair_right(binder)) && head_char(pair_right(binder)) == '}') {
    // «N()»: the name is N's text, empty when that part is a pair.
    definition.name = atom_text(pair_left(binder));
    definition.uncached = true;
  } else {
    return std::nullopt;
  }
  definition.body = right_of(parsed.get());
  return definition;
}

bool is_local_letter(std::string_view key) { return key.size() == 1 && key[0] >= 'a' && key[0] <= 'z'; }

void fail_local_letter(ErrorReport& report, std::string_view key, int64_t position) {
  fail(report, "Lower",
       "Single lowercase letters (" + std::string(key) + ") cannot be defined as global variables.", {},
       position);
}

void fail_builtin_name(ErrorReport& report, std::string_view key, std::string location, int64_t position) {
  fail(report, "Built", "Built in function [" + std::string(key) + "] cannot be re-defined.",
       std::move(location), position);
}

void store_definition(DefinitionTable& table, NameSet& uncached, std::string_view key,
                      Definition definition) {
  if (definition.uncached) {
    table.set(key, make_pair(make_atom("I"), std::move(definition.body)));
    uncached.emplace(key);
  } else {
    table.set(key, std::move(definition.body));
    uncached.erase(std::string(key));
  }
}

ErrorReport& read_program(ErrorReport& report, std::string_view text) {
  report.reset();
  if (!check_brackets(text, report)) return report;
  if (!check_depth(text, report)) return report;

  for (const auto& [name, entry] : builtin_table()) definitions().set(name, placeholder(entry.arity));

  const std::string normal = normalise_text(text);
  const std::vector<ProgramPiece> pieces = split_program(normal);
  definitions().set("", parse_expression(pieces[0].text));
  for (size_t k = 1; k < pieces.size(); ++k) {
    read_definition(report, pieces[k].text, pieces[k].position);
    if (report.failed()) break;
  }
  return report;
}

}  // namespace tove
