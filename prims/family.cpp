#include "prims/family.h"

#include <array>
#include <limits>

#include "numbers/numbers.h"
#include "numbers/trees.h"

namespace tove {

namespace {

constexpr std::array<BuiltinSpec, 29> kStructureFamily = {{
    // raw memory and byte-level editing
    {"cape", 1, prim_cape},
    {"copy", 2, prim_copy},
    {"cork", 3, prim_cork},
    {"gets", 1, prim_gets},
    {"gett", 1, prim_gett},
    {"getu", 1, prim_getu},
    {"getv", 1, prim_getv},
    {"getw", 1, prim_getw},
    {"getx", 1, prim_getx},
    {"gety", 1, prim_gety},
    {"getz", 1, prim_getz},
    {"look", 2, prim_look},
    {"sett", 2, prim_sett},
    {"setu", 2, prim_setu},
    {"setw", 2, prim_setw},
    {"setx", 2, prim_setx},
    // conversions between value kinds, and slices
    {"init", 1, prim_init},
    {"lits", 1, prim_lits},
    {"lots", 1, prim_lots},
    {"trim", 3, prim_trim},
    {"zits", 1, prim_zits},
    // value inspection
    {"leaf", 1, prim_leaf},
    {"leak", 1, prim_leak},
    {"left", 1, prim_left},
    {"lisp", 1, prim_lisp},
    {"raws", 2, prim_raws},
    {"rght", 1, prim_rght},
    {"tern", 1, prim_tern},
    {"type", 1, prim_type},
}};

// Integers of a signed 64-bit value have at most 20 characters ("0" and 19
// digits) and at most 65 elements in their bit list.
constexpr size_t kLongestMachineIntegerText = 20;
constexpr uint64_t kLongestMachineIntegerList = 65;

bool readable_integer(Cell* value) {
  return classify_kind(value) == ValueKind::integer && is_readable_number(value);
}

}  // namespace

std::span<const BuiltinSpec> structure_family() { return kStructureFamily; }

// ---- decoders ------------------------------------------------------------------------------

bool held_only_by_redex(const Cell* redex, size_t arity, size_t index) {
  TOVE_ASSERT(index < arity);
  const Cell* c = redex;
  for (size_t k = arity; k-- > index;) {
    if (ref_count(c) != 1) return false;
    if (k == index) return ref_count(pair_right(c)) == 1;
    c = pair_left(c);
  }
  return false;
}

bool is_readable_number(Cell* value) {
  const ValueKind kind = classify_kind(value);
  if (kind != ValueKind::integer && kind != ValueKind::fraction) return false;
  return is_atom(value) || is_well_formed_bit_list(value);
}

std::optional<int64_t> wrapped_integer(Cell* value) {
  if (!readable_integer(value)) return std::nullopt;
  return integer_to_int64(value);
}

std::optional<int64_t> exact_integer(Cell* value) {
  if (!readable_integer(value)) return std::nullopt;
  if (is_atom(value) ? atom_text(value).size() > kLongestMachineIntegerText
                     : bit_list_length(value) > kLongestMachineIntegerList) {
    return std::nullopt;
  }
  const int64_t n = integer_to_int64(value);
  if (number_text(value) != decimal_from_int64(n)) return std::nullopt;
  return n;
}

std::optional<int64_t> position_argument(Cell* value) {
  if (!readable_integer(value)) return std::nullopt;
  if (std::optional<int64_t> exact = exact_integer(value)) return exact;
  return is_non_negative(value) ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

std::optional<bool> truth_argument(const Cell* value) {
  switch (head_char(value)) {
    case 'K': return true;
    case 'H': return false;
    default: return std::nullopt;
  }
}

uint64_t real_pattern(const Cell* real) {
  TOVE_ASSERT(is_atom(real) && head_char(real) == ' ');
  const char* text = atom_chars(real);
  uint64_t pattern = 0;
  for (int i = 8; i >= 1; --i) pattern = (pattern << 8) | static_cast<unsigned char>(text[i]);
  return pattern;
}

CellRef real_from_pattern(uint64_t pattern) {
  char text[9];
  text[0] = ' ';
  for (int i = 0; i < 8; ++i) text[1 + i] = static_cast<char>((pattern >> (8 * i)) & 0xFF);
  return make_atom(std::string_view(text, sizeof text));
}

std::string_view data_text_view(const Cell* node, std::string& storage) {
  std::string_view text;
  if (is_atom(node)) {
    text = atom_text(node);
  } else {
    storage = tree_text(node);
    text = storage;
  }
  TOVE_ASSERT(!text.empty() && text.front() == '[');
  text.remove_prefix(1);
  if (!text.empty() && text.back() == ']') text.remove_suffix(1);
  return text;
}

Cell* wrapped_contents(Cell* value) {
  if (!is_pair(value)) return nullptr;
  Cell* inner = pair_left(value);
  if (!is_pair(inner) || head_char(pair_left(inner)) != 'V') return nullptr;
  Cell* tag = pair_right(inner);
  if (!is_pair(tag) || head_char(pair_left(tag)) != 'X' || head_char(pair_right(tag)) != 'J') return nullptr;
  return pair_right(value);
}

bool brackets_balanced(std::string_view text) {
  int64_t depth = 0;
  for (char c : text) {
    if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (--depth < 0) return false;
    }
  }
  return depth == 0;
}

}  // namespace tove
