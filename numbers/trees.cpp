#include "numbers/trees.h"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "cells/encoding.h"

namespace tove {

namespace {

// ---- tree numbering ---------------------------------------------------------------

// tree(a) = "[" + tree(y) + tree(x) without its first character, with x and
// y below a; so one pass upwards builds every tree from smaller ones.
std::vector<std::string> build_numbered_trees() {
  std::vector<std::string> trees(kMaxTreeNumber + 1);
  trees[0] = "[]";
  for (unsigned a = 1; a <= kMaxTreeNumber; ++a) {
    unsigned s = 0;
    while ((s + 1) * (s + 1) <= a - 1) ++s;
    unsigned x = (a % 2 != s % 2) ? s : (a - s * s - 2) / 2;
    unsigned d = a - s * s - 1;
    unsigned y = (d % 2 == 1) ? s : d / 2;
    TOVE_ASSERT(x < a && y < a);
    trees[a] = "[" + trees[y];
    trees[a].append(trees[x], 1);
  }
  return trees;
}

// ---- the character table -------------------------------------------------------------

constexpr unsigned kFirstCharacterTree = 145;

// Position i holds the byte that abbreviates tree(i + 145).
constexpr std::array<unsigned char, 256> kCharacterPositions = {
    0x97, 0x98, 0x99, 0x9a, 0x9b, 0x9c, 0x9d, 0x9e, 0x9f, 0xa0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
    0x07, 0x08, 0x09, 0x00, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x15, 0x13, 0x14, 0x16,
    0x17, 0x1a, 0x18, 0x19, 0x7f, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a,
    0x8b, 0x8c, 0x8d, 0x8e, 0x20, 0x5f, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a,
    0x6b, 0x6c, 0x6d, 0x6e, 0x6f, 0x70, 0x71, 0x72, 0x75, 0x73, 0x74, 0x76, 0x77, 0x7a, 0x78, 0x79,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46,
    0x47, 0x48, 0x49, 0x4a, 0x4b, 0x4c, 0x4d, 0x4e, 0x4f, 0x50, 0x51, 0x52, 0x55, 0x53, 0x54, 0x56,
    0x57, 0x5a, 0x58, 0x59, 0x7e, 0x21, 0x40, 0x23, 0x24, 0x25, 0x5e, 0x26, 0x2a, 0x3c, 0x3e, 0x2d,
    0x7c, 0x2b, 0x2f, 0x3d, 0x5c, 0x2e, 0x60, 0x27, 0x22, 0x3a, 0x3b, 0x3f, 0x28, 0x29, 0x7b, 0x7d,
    0x2c, 0xdf, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xeb, 0xec, 0xed, 0xee,
    0xef, 0xf0, 0xf1, 0xf2, 0xf5, 0xf3, 0xf4, 0xf6, 0xf7, 0xfa, 0xf8, 0xf9, 0xb0, 0xb1, 0xb2, 0xb3,
    0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xc1, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xcb, 0xcc, 0xcd, 0xce, 0xcf, 0xd0, 0xd1, 0xd2, 0xd5, 0xd3, 0xd4, 0xd6, 0xd7, 0xda, 0xd8, 0xd9,
    0xfe, 0xa1, 0xc0, 0xa3, 0xa4, 0xa5, 0xde, 0xa6, 0xaa, 0xbc, 0xbe, 0xad, 0xfc, 0xab, 0xaf, 0xbd,
    0xdc, 0xae, 0xe0, 0xa7, 0xa2, 0xba, 0xbb, 0xbf, 0xa8, 0xa9, 0xfb, 0xfd, 0xac, 0xdb, 0xdd, 0x1f,
    0xff, 0x1b, 0x1c, 0x1d, 0x1e, 0x0a, 0x5b, 0x5d, 0x8f, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
};

constexpr bool every_byte_once(const std::array<unsigned char, 256>& positions) {
  std::array<bool, 256> seen{};
  for (unsigned char byte : positions) {
    if (seen[byte]) return false;
    seen[byte] = true;
  }
  return true;
}
static_assert(every_byte_once(kCharacterPositions), "the table must hold every byte exactly once");

// These bytes shape text literals and so never abbreviate a tree.
bool is_reserved_byte(unsigned char byte) { return !escape_of(byte).empty(); }

// The longest tree text the table holds.
constexpr size_t kLongestCharacterTree = 24;

struct CharacterTable {
  std::array<std::string, 256> tree_of_byte;  // empty for the reserved bytes
  std::unordered_map<std::string_view, unsigned char> byte_of_tree;
};

void fill_character_table(CharacterTable& table) {
  for (unsigned position = 0; position < kCharacterPositions.size(); ++position) {
    unsigned char byte = kCharacterPositions[position];
    if (is_reserved_byte(byte)) continue;
    const std::string& tree = numbered_tree(position + kFirstCharacterTree);
    TOVE_ASSERT(tree.size() <= kLongestCharacterTree);
    table.tree_of_byte[byte] = tree;
  }
  // The views point into the strings, which stay where they are from here on.
  for (unsigned byte = 0; byte < 256; ++byte) {
    const std::string& tree = table.tree_of_byte[byte];
    if (tree.empty()) continue;
    bool added = table.byte_of_tree.emplace(tree, static_cast<unsigned char>(byte)).second;
    TOVE_ASSERT(added);
  }
}

const CharacterTable& character_table() {
  static CharacterTable table;
  static const bool filled = (fill_character_table(table), true);
  TOVE_ASSERT(filled);
  return table;
}

// ---- text literals ---------------------------------------------------------------------

// The text between the brackets of a literal. A literal whose text does not
// end in "]" is read as if it did.
std::string_view literal_inner(std::string_view text) {
  TOVE_ASSERT(!text.empty() && text.front() == '[');
  text.remove_prefix(1);
  if (!text.empty() && text.back() == ']') text.remove_suffix(1);
  return text;
}

// Where the last element of a non-empty inner text begins: at the "[" that
// balances a closing "]" at the end, else at the last character.
size_t last_element_start(std::string_view inner) {
  TOVE_ASSERT(!inner.empty());
  const size_t last = inner.size() - 1;
  if (inner[last] != ']') return last;
  int64_t depth = 0;
  for (size_t i = inner.size(); i-- > 0;) {
    if (inner[i] == ']') ++depth;
    else if (inner[i] == '[') --depth;
    if (depth == 0) return i;
  }
  return last;
}

// The tree a single character stands for: its table entry, or the empty
// tree for a byte that abbreviates nothing.
std::string_view single_character_tree(unsigned char byte) {
  std::string_view tree = character_tree(byte);
  return tree.empty() ? std::string_view("[]") : tree;
}

// For each position of an inner text, whether it is a bracket balanced by
// another one; brackets that nothing balances are ordinary characters.
std::vector<bool> balanced_brackets(std::string_view inner) {
  std::vector<bool> balanced(inner.size(), false);
  std::vector<size_t> open;
  for (size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '[') {
      open.push_back(i);
    } else if (inner[i] == ']' && !open.empty()) {
      balanced[open.back()] = true;
      balanced[i] = true;
      open.pop_back();
    }
  }
  return balanced;
}

// ---- tree forms --------------------------------------------------------------------------

// The atoms every form shares, and the form of each character once made.
struct FormParts {
  CellRef j = make_atom("J");
  CellRef k = make_atom("K");
  std::array<CellRef, 256> character_forms;
};

CellRef form_node(FormParts& parts, CellRef leading, CellRef last) {
  return make_pair(make_pair(parts.j.share(), std::move(leading)), std::move(last));
}

CellRef character_form(FormParts& parts, unsigned char byte);

// The literal is read from the front: every element extends the list built
// so far as its last part, and a group opens a new list of its own.
CellRef literal_form(FormParts& parts, std::string_view text) {
  std::string_view inner = literal_inner(text);
  std::vector<bool> balanced = balanced_brackets(inner);
  std::vector<CellRef> lists;
  lists.push_back(parts.k.share());
  for (size_t i = 0; i < inner.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(inner[i]);
    if (balanced[i] && byte == '[') {
      lists.push_back(parts.k.share());
      continue;
    }
    CellRef element;
    if (balanced[i]) {
      element = std::move(lists.back());
      lists.pop_back();
    } else {
      element = character_form(parts, byte);
    }
    lists.back() = form_node(parts, std::move(lists.back()), std::move(element));
  }
  TOVE_ASSERT(lists.size() == 1);
  return std::move(lists.back());
}

CellRef character_form(FormParts& parts, unsigned char byte) {
  CellRef& form = parts.character_forms[byte];
  if (!form) {
    // Tree texts hold brackets only, so this reads no further characters.
    form = literal_form(parts, single_character_tree(byte));
  }
  return form.share();
}

}  // namespace

const std::string& numbered_tree(unsigned number) {
  static const std::vector<std::string> trees = build_numbered_trees();
  TOVE_ASSERT(number <= kMaxTreeNumber);
  return trees[number];
}

std::string_view character_tree(unsigned char byte) { return character_table().tree_of_byte[byte]; }

int tree_character(std::string_view tree) {
  if (tree.size() > kLongestCharacterTree) return -1;
  const auto& map = character_table().byte_of_tree;
  auto found = map.find(tree);
  return found == map.end() ? -1 : found->second;
}

bool tree_is_empty(const Cell* node) {
  return is_atom(node) && head_char(node) == '[' && literal_inner(atom_text(node)).empty();
}

CellRef tree_leading(Cell* node) {
  if (is_pair(node)) return left_of(node);
  TOVE_ASSERT(!tree_is_empty(node));
  std::string_view inner = literal_inner(atom_text(node));
  std::string text = "[";
  text.append(inner.substr(0, last_element_start(inner)));
  text += ']';
  return make_atom(text);
}

CellRef tree_last(Cell* node) {
  if (is_pair(node)) return right_of(node);
  TOVE_ASSERT(!tree_is_empty(node));
  std::string_view inner = literal_inner(atom_text(node));
  std::string_view element = inner.substr(last_element_start(inner));
  if (element.size() == 1) return make_atom(single_character_tree(static_cast<unsigned char>(element[0])));
  return make_atom(element);
}

CellRef tree_form(Cell* node) {
  FormParts parts;
  if (is_atom(node)) return literal_form(parts, atom_text(node));
  // Data pairs: post-order over the pairs with the forms on a stack.
  struct Frame {
    const Cell* pair;
    int stage;
  };
  std::vector<Frame> stack{{node, 0}};
  std::vector<CellRef> forms;
  auto visit = [&](const Cell* c) {
    if (is_atom(c)) {
      forms.push_back(literal_form(parts, atom_text(c)));
    } else {
      stack.push_back({c, 0});
    }
  };
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const Cell* pair = frame.pair;
    if (frame.stage == 0) {
      frame.stage = 1;
      visit(pair_left(pair));
    } else if (frame.stage == 1) {
      frame.stage = 2;
      visit(pair_right(pair));
    } else {
      stack.pop_back();
      CellRef last = std::move(forms.back());
      forms.pop_back();
      forms.back() = form_node(parts, std::move(forms.back()), std::move(last));
    }
  }
  TOVE_ASSERT(forms.size() == 1);
  return std::move(forms.back());
}

std::string tree_text(const Cell* node) {
  std::string out;
  struct Frame {
    const Cell* pair;
    int stage;
    size_t mark;  // where the written form of the last part begins
  };
  std::vector<Frame> stack;
  auto visit = [&](const Cell* c) {
    if (is_atom(c)) {
      out.append(atom_text(c));
    } else {
      stack.push_back({c, 0, 0});
    }
  };
  visit(node);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const Cell* pair = frame.pair;
    if (frame.stage == 0) {
      frame.stage = 1;
      visit(pair_left(pair));
    } else if (frame.stage == 1) {
      // The last part becomes the final element of the leading part.
      if (!out.empty() && out.back() == ']') out.pop_back();
      frame.stage = 2;
      frame.mark = out.size();
      visit(pair_right(pair));
    } else {
      const size_t mark = frame.mark;
      stack.pop_back();
      int byte = tree_character(std::string_view(out).substr(mark));
      if (byte >= 0) {
        out.resize(mark);
        out += static_cast<char>(byte);
      }
      out += ']';
    }
  }
  return out;
}

}  // namespace tove
