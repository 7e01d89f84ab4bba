#include "prims/family.h"

#include <vector>

#include "numbers/numbers.h"
#include "numbers/trees.h"

namespace tove {

std::span<const BuiltinSpec> structure_family() {
  static const std::vector<BuiltinSpec> members =
      join_members({memory_members(), kind_conversion_members(), inspection_members()});
  return members;
}

// ---- decoders ------------------------------------------------------------------------------

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
