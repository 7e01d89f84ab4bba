#include "compiler/rewrite.h"

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cells/analysis.h"
#include "cells/print.h"
#include "compiler/names.h"
#include "frontend/frontend.h"

namespace tove {

// ---- rebuilding walks ------------------------------------------------------------------------

namespace {

// How a rebuilding walk treats one cell: either it answers at once (`done`
// holds the result), or it names up to three sub-cells whose results the
// walk's combine step receives in order.
struct Step {
  CellRef done;
  Cell* parts[3] = {nullptr, nullptr, nullptr};
  int count = 0;
};

// Bottom-up rebuild with an explicit stack. `step` decides what to do with a
// cell; `combine` builds a cell's result from its parts' results. Cells held
// more than once are rebuilt once, so shared sub-expressions stay shared.
template <class StepFn, class CombineFn>
CellRef rebuild(Cell* root, StepFn step, CombineFn combine) {
  struct Frame {
    Cell* cell;
    int count;  // -1 while the cell has not been looked at
  };
  std::vector<Frame> work{{root, -1}};
  std::vector<CellRef> results;
  std::unordered_map<Cell*, CellRef> memo;
  while (!work.empty()) {
    const Frame frame = work.back();
    work.pop_back();
    Cell* cell = frame.cell;
    const bool shared = ref_count(cell) > 1;
    if (frame.count < 0) {
      if (shared) {
        if (auto hit = memo.find(cell); hit != memo.end()) {
          results.push_back(hit->second.share());
          continue;
        }
      }
      Step s = step(cell);
      if (s.done) {
        if (shared) memo.emplace(cell, s.done.share());
        results.push_back(std::move(s.done));
        continue;
      }
      TOVE_ASSERT(s.count >= 1 && s.count <= 3);
      work.push_back({cell, s.count});
      for (int i = s.count; i-- > 0;) work.push_back({s.parts[i], -1});
      continue;
    }
    const size_t base = results.size() - static_cast<size_t>(frame.count);
    CellRef result = combine(cell, &results[base]);
    results.resize(base);
    if (shared) memo.emplace(cell, result.share());
    results.push_back(std::move(result));
  }
  TOVE_ASSERT(results.size() == 1);
  return std::move(results.back());
}

// (l r) again when both parts came back unchanged, else a new pair.
CellRef repair(Cell* cell, CellRef* parts) {
  if (parts[0].get() == pair_left(cell) && parts[1].get() == pair_right(cell)) return CellRef::retained(cell);
  return make_pair(std::move(parts[0]), std::move(parts[1]));
}

Step split_pair(Cell* cell) {
  Step s;
  if (is_atom(cell)) {
    s.done = CellRef::retained(cell);
  } else {
    s.parts[0] = pair_left(cell);
    s.parts[1] = pair_right(cell);
    s.count = 2;
  }
  return s;
}

bool is_backquote_node(const Cell* cell) { return is_pair(cell) && head_char(pair_left(cell)) == '`'; }

}  // namespace

CellRef expand_quotes(Cell* body) {
  auto step = [](Cell* cell) {
    if (!is_backquote_node(cell)) return split_pair(cell);
    Step s;
    s.parts[0] = pair_right(cell);
    s.count = 1;
    return s;
  };
  auto combine = [](Cell* cell, CellRef* parts) {
    if (!is_backquote_node(cell)) return repair(cell, parts);
    std::string text = "[";
    text.append(print_expression(pair_right(cell))).append("]");
    CellRef source = make_atom(text);
    return make_pair(make_pair(make_atom("V"), std::move(source)), std::move(parts[0]));
  };
  return rebuild(body, step, combine);
}

CellRef expand_pair_lets(Cell* body) {
  auto combine = [](Cell* cell, CellRef* parts) {
    CellRef node = repair(cell, parts);
    if (!is_let_node(node.get())) return node;
    Cell* binding = pair_left(node.get());  // (({ k) y)
    Cell* key = pair_right(pair_left(binding));
    if (!is_pair(key)) return node;
    Cell* first = pair_left(key);
    Cell* second = pair_right(key);
    if (!is_definable_binder(first) || !is_definable_binder(second)) return node;
    Cell* open = pair_left(pair_left(binding));  // the "{" atom
    const std::string pair_name = normalized_name(atom_text(second));
    auto let = [&](Cell* k, CellRef value, CellRef scope) {
      return make_pair(make_pair(make_pair(open, k), std::move(value)), std::move(scope));
    };
    CellRef inner = let(second, make_pair(make_atom(pair_name), make_atom("H")), right_of(node.get()));
    CellRef middle = let(first, make_pair(make_atom(pair_name), make_atom("K")), std::move(inner));
    return let(second, right_of(binding), std::move(middle));
  };
  return rebuild(body, split_pair, combine);
}

// ---- renaming ------------------------------------------------------------------------------

// A bracketed binder such as "[+]" binds the operator "+" (that is the name
// the reference walk takes as bound), so both spellings of such a name take
// its letter; otherwise a key "+" would be left that no substitution can
// replace.
CellRef rename_locals(Cell* body, const std::vector<LetterRename>& renames) {
  std::vector<LetterRename> spellings;
  for (const auto& [from, letter] : renames) {
    spellings.emplace_back(from, letter);
    if (std::string normal = normalized_name(from); normal != from)
      spellings.emplace_back(std::move(normal), letter);
  }
  auto letter_for = [&](std::string_view name) -> char {
    for (const auto& [from, letter] : spellings)
      if (from == name) return letter;
    return 0;
  };
  auto new_key = [&](Cell* key) {
    TOVE_ASSERT(is_atom(key));
    const std::string normal = normalized_name(atom_text(key));
    if (const char letter = letter_for(normal)) return make_atom(std::string_view(&letter, 1));
    if (normal == atom_text(key)) return CellRef::retained(key);
    return make_atom(normal);
  };
  auto step = [&](Cell* cell) {
    Step s;
    if (is_atom(cell)) {
      const char letter = letter_for(atom_text(cell));
      s.done = letter ? make_atom(std::string_view(&letter, 1)) : CellRef::retained(cell);
    } else if (is_lambda_node(cell)) {
      s.parts[0] = pair_right(cell);
      s.count = 1;
    } else if (is_let_node(cell)) {
      s.parts[0] = pair_right(pair_left(cell));
      s.parts[1] = pair_right(cell);
      s.count = 2;
    } else {
      s.parts[0] = pair_left(cell);
      s.parts[1] = pair_right(cell);
      s.count = 2;
    }
    return s;
  };
  auto combine = [&](Cell* cell, CellRef* parts) {
    if (is_lambda_node(cell)) {
      Cell* binder = pair_left(cell);
      CellRef key = new_key(pair_right(binder));
      CellRef head = key.get() == pair_right(binder) ? CellRef::retained(binder)
                                                     : make_pair(left_of(binder), std::move(key));
      if (head.get() == binder && parts[0].get() == pair_right(cell)) return CellRef::retained(cell);
      return make_pair(std::move(head), std::move(parts[0]));
    }
    if (is_let_node(cell)) {
      Cell* binding = pair_left(cell);
      Cell* open = pair_left(binding);
      CellRef key = new_key(pair_right(open));
      if (key.get() == pair_right(open) && parts[0].get() == pair_right(binding) &&
          parts[1].get() == pair_right(cell))
        return CellRef::retained(cell);
      return make_pair(make_pair(make_pair(left_of(open), std::move(key)), std::move(parts[0])),
                       std::move(parts[1]));
    }
    return repair(cell, parts);
  };
  return rebuild(body, step, combine);
}

CellRef rename_local(Cell* body, std::string_view name, char letter) {
  TOVE_ASSERT(letter >= 'a' && letter <= 'z');
  return rename_locals(body, {{std::string(name), letter}});
}

}  // namespace tove
