// The front end: character classes and whitespace normalisation, the
// expression parser, the bracket check, the program reader, the prelude and
// the built-in registry (its tables live in cells/tables.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cells/cell.h"
#include "cells/report.h"
#include "cells/tables.h"

namespace tove {

// ---- lexical structure ----------------------------------------------------------

bool is_word_char(unsigned char c);    // "_" and a-z
bool is_digit_char(unsigned char c);   // 0-9
bool is_punctuation(unsigned char c);  // the 33 punctuation characters
bool is_absorbing(unsigned char c);    // whitespace next to them is dropped
bool is_unary_char(unsigned char c);   // ~ ! " $ `
// True when `current` starts a new token in a tight run after `previous`.
bool starts_token(unsigned char previous, unsigned char current);

std::string normalise_text(std::string_view text);
// For an opener, its matching closer; for a closer, its matching opener;
// otherwise the same position.
size_t skip_group(std::string_view text, size_t position);
// The position just past the "[" group that starts at `start`, or the end of
// the text when the group never closes (so an unbalanced text is safe).
size_t literal_end(std::string_view text, size_t start);
std::vector<size_t> find_separators(std::string_view text, std::string_view set);
// The next top-level unary character at or after start, or -1.
long find_unary(std::string_view text, size_t start);
// Cuts a tight run into tokens by the token start rule.
std::vector<std::string_view> split_tokens(std::string_view text);

// ---- parser -----------------------------------------------------------------------

// The reader refuses texts whose "(" and "{" groups nest deeper than this
// with a "Depth" report, so every later stage can rely on the bound. The
// parser itself uses no native stack per group.
inline constexpr size_t kMaxNesting = 4000;

CellRef parse_expression(std::string_view text);
CellRef parse_comma_list(std::string_view text);
// The deepest nesting of "(" and "{" groups outside text literals.
size_t nesting_depth(std::string_view text);
// The position of the first "(" or "{" that opens a group nested deeper than
// `limit` (outside text literals), or -1.
long find_too_deep(std::string_view text, size_t limit);

// ---- bracket check ------------------------------------------------------------------

bool check_brackets(std::string_view text, ErrorReport& report);
std::string encode_position(uint64_t n);
// encode_position of an offset into a text; offsets past 0x40000000 (texts
// of a gigabyte and more) are written as that limit, "!!!!!".
std::string encode_offset(size_t offset);
// A failure found at an offset of a text before it is parsed: the message
// opens with the type word and the encoded offset, as in
// "Match[____a]Left dangling parenthesis.".
void fail_at_offset(ErrorReport& report, std::string_view type_word, size_t offset, std::string_view text);

// ---- program reader -------------------------------------------------------------------

// Definable names and their normalized form ("[+]" -> "+").
bool is_definable_name(std::string_view name);
std::string normalized_name(std::string_view name);

// Texts nested deeper than kMaxNesting groups fill the report with "Depth".
bool check_depth(std::string_view text, ErrorReport& report);

// One comma-separated piece of a normalised program text: the main program
// first, then one piece per top-level comma. `position` is the offset of
// the piece's first byte; the views point into the text.
struct ProgramPiece {
  size_t position;
  std::string_view text;
};
std::vector<ProgramPiece> split_program(std::string_view normal);

// A piece written as a definition: «name\body» (plain) or «name()\body»
// (uncached). The name is as written (not yet checked or normalized); the
// body is the parse after the name's backslash, and the form decides how it
// is stored.
struct Definition {
  std::string name;
  CellRef body;
  bool uncached = false;
};
// The definition a piece writes, or nullopt when its shape is not one.
std::optional<Definition> parse_definition(std::string_view piece);
// A single lower-case letter: a local variable, never a global name.
bool is_local_letter(std::string_view key);
// The refusals of a definition's normalized name `key`, which run-time
// loading shares with the reader: "Lower" for a local letter, "Built" for a
// built-in name (or the backslash or "{").
void fail_local_letter(ErrorReport& report, std::string_view key, int64_t position);
void fail_builtin_name(ErrorReport& report, std::string_view key, std::string location, int64_t position);
// Stores a definition under its normalized name `key`: a plain body as it
// is, an uncached one as (I body), keeping `uncached` in step.
void store_definition(DefinitionTable& table, NameSet& uncached, std::string_view key, Definition definition);

// The body of a built-in's placeholder definition: one lambda node per
// argument around "Z", with the binders a, b, c, ...
CellRef placeholder(unsigned arity);

ErrorReport& read_program(ErrorReport& report, std::string_view text);

// ---- prelude ---------------------------------------------------------------------------

extern const std::string_view kPreludeText;
void load_prelude();

}  // namespace tove
