// The note: lines of --explain. They follow the report and say where in
// the program text the failure lies (line and column, columns in bytes from
// 1, the source line and a caret), and, for a run, which primitive first
// answered Z and with what.
//
// Positions are found again in the raw program text: the bracket check's
// offsets are raw already; the reader's refer to the normalised text, whose
// top-level commas are those of the raw text, so the definition is found by
// its place among them; the compiler's reports name a definition, which is
// found by its name.
#include <string>
#include <string_view>
#include <vector>

#include "cells/encoding.h"
#include "cells/print.h"
#include "driver/driver.h"
#include "eval/watch.h"
#include "frontend/frontend.h"
#include "numbers/numbers.h"

namespace tove {

namespace {

constexpr size_t kArgumentWidth = 60;

void note(const std::string& text) {
  const std::string line = "note: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

bool is_blank(char c) { return c == ' ' || c == '\n'; }
bool is_word_char(char c) { return (c >= 'a' && c <= 'z') || c == '_'; }

// Offsets where each top-level piece of the text begins (the main program
// first, then each definition after its comma).
std::vector<size_t> piece_starts(std::string_view text) {
  std::vector<size_t> starts{0};
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '[') {
      i = literal_end(text, i) - 1;
    } else if (c == '(' || c == '{') {
      ++depth;
    } else if (c == ')' || c == '}') {
      --depth;
    } else if (c == ',' && depth <= 0) {
      starts.push_back(i + 1);
    }
  }
  return starts;
}

size_t skip_blanks(std::string_view text, size_t i) {
  while (i < text.size() && is_blank(text[i])) ++i;
  return i;
}

// The name a piece defines, as the reader's table keys it ("[+]" keys "+").
std::string piece_name(std::string_view text, size_t start) {
  size_t i = skip_blanks(text, start);
  if (i + 2 < text.size() && text[i] == '[' && text[i + 2] == ']') return std::string(1, text[i + 1]);
  const size_t begin = i;
  while (i < text.size() && text[i] != '\\' && text[i] != '(' && !is_blank(text[i]) && text[i] != ',') ++i;
  return std::string(text.substr(begin, i - begin));
}

// Where the definition `name` begins ("" is the main program); npos when
// no piece defines it.
size_t definition_start(std::string_view text, std::string_view name) {
  const std::vector<size_t> starts = piece_starts(text);
  if (name.empty()) return skip_blanks(text, 0);
  size_t found = std::string_view::npos;
  for (size_t k = 1; k < starts.size(); ++k) {
    if (piece_name(text, starts[k]) == name) found = skip_blanks(text, starts[k]);
  }
  return found;  // a later definition replaces an earlier one
}

// The first use of `name` as a token at or after `from`, outside text
// literals; npos when there is none.
size_t first_use(std::string_view text, std::string_view name, size_t from) {
  const bool word = is_word_char(name.front());
  for (size_t i = from; i < text.size(); ++i) {
    if (text[i] == '[' && name != "[") {
      i = literal_end(text, i) - 1;
      continue;
    }
    if (text.substr(i, name.size()) != name) continue;
    if (!word) return i;
    const bool before = i > 0 && is_word_char(text[i - 1]);
    const bool after = i + name.size() < text.size() && is_word_char(text[i + name.size()]);
    if (!before && !after) return i;
  }
  return std::string_view::npos;
}

struct Place {
  size_t line;
  size_t column;
  std::string_view text;  // the whole source line, without its line end
};

Place place_of(std::string_view source, size_t offset) {
  const size_t line_start = source.rfind('\n', offset == 0 ? 0 : offset - 1);
  const size_t begin = offset == 0 || line_start == std::string_view::npos ? 0 : line_start + 1;
  size_t end = source.find('\n', offset);
  if (end == std::string_view::npos) end = source.size();
  if (end > begin && source[end - 1] == '\r') --end;
  size_t line = 1;
  for (size_t i = 0; i < begin; ++i) line += source[i] == '\n';
  return {line, offset - begin + 1, source.substr(begin, end - begin)};
}

std::string at(const Place& place) {
  return "line " + std::to_string(place.line) + ", column " + std::to_string(place.column);
}

// The source line and a caret under the column; tabs stay tabs, so the
// caret lines up on a terminal.
void show_place(const Place& place) {
  note(std::string(place.text));
  std::string caret;
  for (size_t i = 0; i + 1 < place.column && i < place.text.size(); ++i)
    caret += place.text[i] == '\t' ? '\t' : ' ';
  note(caret + "^");
}

// A byte the report's colour form shows as a letter or a sign.
std::string shown_byte(unsigned char b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string code = "(0x";
  code += kHex[b >> 4];
  code += kHex[b & 15];
  code += ")";
  switch (b) {
    case '\t': return "a tab character " + code;
    case '\r': return "a carriage return " + code;
    case '\f': return "a form feed " + code;
    case '\v': return "a vertical tab " + code;
    default: return "the byte " + code.substr(1, 4);
  }
}

bool shows_as_stand_in(std::string_view name) {
  if (name.size() != 1) return false;
  const auto b = static_cast<unsigned char>(name[0]);
  return (b < 0x20 && b != '\n') || b >= 0x7F;
}

void explain_definition(std::string_view source, std::string_view name) {
  const size_t start = definition_start(source, name);
  if (start == std::string_view::npos || start >= source.size()) return;
  const Place place = place_of(source, start);
  note((name.empty() ? std::string("the main program") : "the definition of " + std::string(name)) +
       " begins at " + at(place));
  show_place(place);
}

// The text between `open` and the next "]" after it in the message.
std::string between(const std::string& message, std::string_view open) {
  const size_t from = message.find(open);
  if (from == std::string::npos) return {};
  const size_t begin = from + open.size();
  const size_t end = message.find("]", begin);
  return end == std::string::npos ? std::string() : message.substr(begin, end - begin);
}

void explain_undefined(const ErrorReport& report, std::string_view source) {
  const std::string& name = report.location;
  if (name.empty()) return;
  std::string referrer = between(report.message, "Alive function [");
  if (referrer == "TOP") referrer.clear();
  size_t from = definition_start(source, referrer);
  if (from == std::string_view::npos) from = 0;
  size_t use = first_use(source, name, from);
  if (use == std::string_view::npos) use = first_use(source, name, 0);
  if (use == std::string_view::npos) return;
  const Place place = place_of(source, use);
  if (shows_as_stand_in(name)) {
    note(shown_byte(static_cast<unsigned char>(name[0])) + " at " + at(place) +
         " is not a blank in this language; the report shows it as a letter");
  } else {
    note("the first use of " + name + " is at " + at(place));
  }
  show_place(place);
}

std::string kind_name(Cell* value) {
  if (is_atom(value) && atom_text(value) == "Z") return "the refusal Z";
  switch (classify_kind(value)) {
    case ValueKind::bytes: return "a byte string";
    case ValueKind::real: return "a real";
    case ValueKind::integer: return "an integer";
    case ValueKind::fraction: return "a binary fraction";
    case ValueKind::data: return "a text";
    case ValueKind::other: break;
  }
  return "a function";
}

std::string cut(std::string text) {
  if (text.size() <= kArgumentWidth) return text;
  text.resize(kArgumentWidth - 3);
  return text + "...";
}

}  // namespace

void explain_failure(const ErrorReport& report, std::string_view source) {
  std::fflush(stdout);
  const std::string& type = report.type_word;
  if (type == "Match" || type == "Comma") {
    const Place place = place_of(source, static_cast<size_t>(report.position));
    note("at " + at(place));
    show_place(place);
  } else if (type == "Lower" || type == "Built") {
    // The reader's position counts in the normalised text; the piece is
    // the same in the raw text.
    const std::vector<size_t> starts = piece_starts(source);
    const std::string normal = normalise_text(source);
    const std::vector<size_t> normal_starts = piece_starts(normal);
    size_t k = 0;
    while (k + 1 < normal_starts.size() && normal_starts[k + 1] <= static_cast<size_t>(report.position)) ++k;
    if (k < starts.size()) {
      const Place place = place_of(source, skip_blanks(source, starts[k]));
      note("the definition is at " + at(place));
      show_place(place);
    }
  } else if (type == "Alive") {
    explain_undefined(report, source);
  } else if (type == "Cycle") {
    const std::vector<std::string>& chain = explain_record().cycle;
    if (!chain.empty()) {
      std::string text = "each value needs the next: ";
      for (size_t i = 0; i < chain.size(); ++i) text += (i ? " -> " : "") + chain[i];
      note(text);
    }
    explain_definition(source, report.location);
  } else if (type == "Place" || type == "Arity" || type == "Local") {
    explain_definition(source, report.location);
  }
  if (type == "Range" || type == "Cycle") explain_refusals(source);
  std::fflush(stderr);
}

void explain_refusals(std::string_view source) {
  const ExplainRecord& record = explain_record();
  if (record.refusals == 0) return;
  std::fflush(stdout);
  const Refusal& first = record.first;
  const size_t n = first.arguments.size();
  note("the first primitive to answer Z was " + first.primitive + ", given " + std::to_string(n) +
       (n == 1 ? " argument" : " arguments") + (n == 0 ? "" : ":"));
  for (size_t i = 0; i < n; ++i) {
    Cell* argument = first.arguments[i].get();
    note("  " + std::to_string(i + 1) + ": " + kind_name(argument) + ", " + cut(print_expression(argument)));
  }
  if (!first.within.empty()) {
    std::string text = "it was called while reducing the body of " + first.within;
    const size_t start = definition_start(source, first.within);
    if (start != std::string_view::npos && start < source.size())
      text += " (line " + std::to_string(place_of(source, start).line) + ")";
    note(text);
  } else {
    note("it was called from the main program");
  }
  note(std::to_string(record.refusals) + (record.refusals == 1 ? " primitive answer" : " primitive answers") +
       " of Z in all");
  std::fflush(stderr);
}

}  // namespace tove
