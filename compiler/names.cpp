#include "compiler/names.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "frontend/frontend.h"

namespace tove {

// ---- name lists -------------------------------------------------------------------

namespace {

// The name atoms of a list, in order.
std::vector<Cell*> list_atoms(const Cell* list) {
  std::vector<Cell*> atoms;
  while (is_pair(list)) {
    atoms.push_back(pair_left(list));
    list = pair_right(list);
  }
  TOVE_ASSERT(atom_is(list, kEmptyListText));
  return atoms;
}

// A list of the given name atoms (already sorted and distinct).
CellRef list_from_atoms(const std::vector<Cell*>& atoms) {
  CellRef list = empty_name_list();
  for (size_t i = atoms.size(); i-- > 0;) list = make_pair(CellRef::retained(atoms[i]), std::move(list));
  return list;
}

}  // namespace

CellRef empty_name_list() { return make_atom(kEmptyListText); }

bool is_empty_name_list(const Cell* list) { return atom_is(list, kEmptyListText); }

CellRef name_list_singleton(std::string_view name) { return make_pair(make_atom(name), empty_name_list()); }

CellRef name_list_union(Cell* a, Cell* b) {
  const std::vector<Cell*> left = list_atoms(a);
  const std::vector<Cell*> right = list_atoms(b);
  std::vector<Cell*> merged;
  merged.reserve(left.size() + right.size());
  size_t i = 0, j = 0;
  while (i < left.size() || j < right.size()) {
    if (j == right.size()) {
      merged.push_back(left[i++]);
    } else if (i == left.size()) {
      merged.push_back(right[j++]);
    } else {
      const int order = atom_text(left[i]).compare(atom_text(right[j]));
      if (order <= 0) {
        merged.push_back(left[i++]);
        if (order == 0) ++j;
      } else {
        merged.push_back(right[j++]);
      }
    }
  }
  return list_from_atoms(merged);
}

bool name_list_contains(const Cell* list, std::string_view name) {
  for (; is_pair(list); list = pair_right(list)) {
    const int order = atom_text(pair_left(list)).compare(name);
    if (order == 0) return true;
    if (order > 0) return false;
  }
  return false;
}

CellRef name_list_insert(Cell* list, std::string_view name) {
  CellRef single = name_list_singleton(name);
  return name_list_union(list, single.get());
}

CellRef name_list_remove(Cell* list, std::string_view name) {
  std::vector<Cell*> atoms = list_atoms(list);
  std::erase_if(atoms, [&](Cell* atom) { return atom_text(atom) == name; });
  return list_from_atoms(atoms);
}

size_t name_list_length(const Cell* list) {
  size_t length = 0;
  for (; is_pair(list); list = pair_right(list)) ++length;
  return length;
}

CellRef name_list_of(const NameSet& names) {
  CellRef list = empty_name_list();
  for (auto it = names.rbegin(); it != names.rend(); ++it) list = make_pair(make_atom(*it), std::move(list));
  return list;
}

NameSet name_list_names(const Cell* list) {
  NameSet names;
  for (Cell* atom : list_atoms(list)) names.emplace(atom_text(atom));
  return names;
}

// ---- names of binders -------------------------------------------------------------------

std::string binder_name(const Cell* key) {
  if (!is_atom(key)) return std::string();
  return normalized_name(atom_text(key));
}

bool is_definable_binder(const Cell* key) { return is_atom(key) && is_definable_name(atom_text(key)); }

// ---- binder lists -------------------------------------------------------------------------

namespace {

// The binder pairs ({ k) and (\ k) with an atom key, wherever they stand.
bool is_binder_pair(const Cell* cell) {
  if (!is_pair(cell)) return false;
  const Cell* open = pair_left(cell);
  return (head_char(open) == '{' || head_char(open) == '\\') && is_atom(pair_right(cell));
}

CellRef collect_binders(Cell* body, bool want_short) {
  NameSet names;
  std::vector<Cell*> work{body};
  std::unordered_map<const Cell*, bool> seen;  // cells held more than once
  while (!work.empty()) {
    Cell* cell = work.back();
    work.pop_back();
    if (is_atom(cell)) continue;
    if (ref_count(cell) > 1 && !seen.emplace(cell, true).second) continue;
    if (is_binder_pair(cell)) {
      const std::string_view name = atom_text(pair_right(cell));
      if (is_local_letter(name) == want_short) names.emplace(name);
      continue;
    }
    work.push_back(pair_left(cell));
    work.push_back(pair_right(cell));
  }
  return name_list_of(names);
}

}  // namespace

CellRef long_binders(Cell* body) { return collect_binders(body, false); }

CellRef short_binders(Cell* body) { return collect_binders(body, true); }

}  // namespace tove
