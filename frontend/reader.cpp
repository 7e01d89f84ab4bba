// The program reader: the main program and the definitions of a program text
// into the definition table.
#include <string>
#include <string_view>
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

// The body of a built-in's placeholder: one lambda per argument around "Z",
// with the binders a, b, c, ...
CellRef placeholder(unsigned arity) {
  TOVE_ASSERT(arity <= 26);
  CellRef body = make_atom("Z");
  for (unsigned k = arity; k-- > 0;) {
    const char binder = static_cast<char>('a' + k);
    body = make_pair(make_pair(make_atom("\\"), make_atom(std::string_view(&binder, 1))),
                     std::move(body));
  }
  return body;
}

void fail(ErrorReport& report, size_t position, std::string_view word, std::string message) {
  report.position = static_cast<int64_t>(position);
  report.type_word = std::string(word);
  report.message = std::move(message);
}

// Reads one definition text at `position` of the normalised text. Texts that
// are not definitions are skipped; a forbidden name fills the report.
void read_definition(ErrorReport& report, std::string_view text, size_t position) {
  CellRef parsed = parse_expression(text);
  if (!is_lambda(parsed.get())) return;
  const Cell* binder = pair_right(pair_left(parsed.get()));
  std::string name;
  bool uncached = false;
  if (is_atom(binder)) {
    name = atom_text(binder);
  } else if (is_atom(pair_right(binder)) && head_char(pair_right(binder)) == '}') {
    name = atom_text(pair_left(binder));  // empty when that part is a pair
    uncached = true;
  } else {
    return;
  }
  if (!is_definable_name(name)) return;
  const std::string key = normalized_name(name);
  if (key.size() == 1 && key[0] >= 'a' && key[0] <= 'z') {
    return fail(report, position, "Lower",
                "Single lowercase letters (" + key + ") cannot be defined as global variables.");
  }
  if (key == "\\" || key == "{" || find_builtin(key) != nullptr) {
    return fail(report, position, "Built", "Built in function [" + key + "] cannot be re-defined.");
  }
  CellRef body = right_of(parsed.get());
  if (uncached) {
    definitions().set(key, make_pair(make_atom("I"), std::move(body)));
    uncached_names().insert(key);
  } else {
    definitions().set(key, std::move(body));
    uncached_names().erase(key);
  }
}

}  // namespace

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

ErrorReport& read_program(ErrorReport& report, std::string_view text) {
  report.reset();
  if (!check_brackets(text, report)) return report;
  if (const long deep = find_too_deep(text, kMaxNesting); deep >= 0) {
    const size_t position = static_cast<size_t>(deep);
    fail(report, position, "Depth",
         "Depth[" + encode_offset(position) +
             "]Expression nested deeper than " + std::to_string(kMaxNesting) + " groups.");
    return report;
  }

  for (const auto& [name, entry] : builtin_table()) definitions().set(name, placeholder(entry.arity));

  const std::string normal = normalise_text(text);
  const std::string_view program(normal);
  const std::vector<size_t> commas = find_separators(program, ",");
  const size_t main_end = commas.empty() ? program.size() : commas[0];
  definitions().set("", parse_expression(program.substr(0, main_end)));
  for (size_t k = 0; k < commas.size(); ++k) {
    const size_t begin = commas[k] + 1;
    const size_t end = k + 1 < commas.size() ? commas[k + 1] : program.size();
    read_definition(report, program.substr(begin, end - begin), begin);
    if (report.failed()) break;
  }
  return report;
}

}  // namespace tove
