#include "cells/sharing.h"

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cells/analysis.h"

namespace tove {

// Keys are structural: a cell's hash is computed from its atom texts and its
// shape, and cells with the same hash are told apart by compare_cells.
// Sharing works bottom-up, so the parts of a cell being shared are members
// already, and a member equal to it normally holds those very parts: lookups
// compare pointers and fall back to compare_cells only on a hash collision or
// for a member whose parts were pruned. (An order-based set would compare
// deep, nearly equal chains over and over, at a cost that grows with the
// square of their depth.)

namespace {

struct Member {
  uint64_t hash;
  CellRef cell;  // the set's own count
};

struct SharingSet {
  std::unordered_map<const Cell*, Member> members;
  // One member per hash; members whose hash was taken first by another
  // member wait in `overflow`.
  std::unordered_map<uint64_t, Cell*> by_hash;
  std::unordered_multimap<uint64_t, Cell*> overflow;
};

SharingSet& sharing_set() {
  static SharingSet* set = new SharingSet;  // lives to the exit
  return *set;
}

uint64_t mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return x;
}

// The bytes that compare_cells looks at decide an atom's key.
uint64_t atom_hash(const Cell* atom) {
  const std::string_view text(atom_chars(atom), atom_weight(atom));
  return mix(std::hash<std::string_view>{}(text) ^ 0x9e3779b97f4a7c15ULL);
}

uint64_t pair_hash(uint64_t left, uint64_t right) {
  return mix(left * 0x9e3779b97f4a7c15ULL + mix(right + 0x632be59bd9b4e019ULL));
}

// Equality with a member: for a pair, given by its (already shared) parts.
struct Probe {
  const Cell* atom;  // nullptr for a pair
  const Cell* left;
  const Cell* right;

  bool matches(const Cell* member) const {
    if (atom) return compare_cells(member, atom) == 0;
    if (!is_pair(member)) return false;
    if (pair_left(member) == left && pair_right(member) == right) return true;
    return compare_cells(pair_left(member), left) == 0 && compare_cells(pair_right(member), right) == 0;
  }
};

// The member equal to the probe, or `make()` inserted as a new member.
template <class Make>
Cell* intern(SharingSet& set, uint64_t hash, const Probe& probe, Make make) {
  auto [slot, fresh] = set.by_hash.try_emplace(hash, nullptr);
  if (!fresh) {
    if (probe.matches(slot->second)) return slot->second;
    auto [first, last] = set.overflow.equal_range(hash);
    for (auto it = first; it != last; ++it)
      if (probe.matches(it->second)) return it->second;
  }
  CellRef cell = make();
  Cell* raw = cell.get();
  if (fresh) {
    slot->second = raw;
  } else {
    set.overflow.emplace(hash, raw);
  }
  set.members.emplace(raw, Member{hash, std::move(cell)});
  return raw;
}

void forget(SharingSet& set, const Cell* cell, uint64_t hash) {
  auto slot = set.by_hash.find(hash);
  TOVE_ASSERT(slot != set.by_hash.end());
  if (slot->second != cell) {
    auto [first, last] = set.overflow.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      if (it->second == cell) {
        set.overflow.erase(it);
        return;
      }
    }
    TOVE_ASSERT(false);
  }
  // The first waiting member of the same hash takes the freed place.
  if (auto waiting = set.overflow.find(hash); waiting != set.overflow.end()) {
    slot->second = waiting->second;
    set.overflow.erase(waiting);
  } else {
    set.by_hash.erase(slot);
  }
}

// The structural hash of any cell, computed bottom-up with an explicit stack.
uint64_t structural_hash(Cell* root) {
  SharingSet& set = sharing_set();
  std::unordered_map<const Cell*, uint64_t> known;  // cells held more than once
  std::vector<std::pair<Cell*, bool>> work{{root, false}};
  std::vector<uint64_t> results;
  while (!work.empty()) {
    auto [cell, expanded] = work.back();
    work.pop_back();
    const bool shared = ref_count(cell) > 1;
    if (!expanded && shared) {
      if (auto it = set.members.find(cell); it != set.members.end()) {
        results.push_back(it->second.hash);
        continue;
      }
      if (auto it = known.find(cell); it != known.end()) {
        results.push_back(it->second);
        continue;
      }
    }
    uint64_t hash;
    if (is_atom(cell)) {
      hash = atom_hash(cell);
    } else if (!expanded) {
      work.push_back({cell, true});
      work.push_back({pair_right(cell), false});
      work.push_back({pair_left(cell), false});
      continue;
    } else {
      const uint64_t right = results.back();
      results.pop_back();
      const uint64_t left = results.back();
      results.pop_back();
      hash = pair_hash(left, right);
    }
    if (shared) known.emplace(cell, hash);
    results.push_back(hash);
  }
  TOVE_ASSERT(results.size() == 1);
  return results.back();
}

}  // namespace

void clear_sharing_set() {
  SharingSet& set = sharing_set();
  set.by_hash.clear();
  set.overflow.clear();
  set.members.clear();
}

CellRef share_body(Cell* body) {
  SharingSet& set = sharing_set();
  struct Shared {
    Cell* member;
    uint64_t hash;
  };
  // A cell held once is reached once; only cells held more than once can be
  // members already or be met again.
  std::unordered_map<const Cell*, Shared> memo;
  std::vector<std::pair<Cell*, bool>> work{{body, false}};
  std::vector<Shared> results;
  while (!work.empty()) {
    Cell* const cell = work.back().first;
    const bool expanded = work.back().second;
    work.pop_back();
    const bool shared = ref_count(cell) > 1;
    if (!expanded && shared) {
      if (auto it = set.members.find(cell); it != set.members.end()) {
        results.push_back({cell, it->second.hash});
        continue;
      }
      if (auto it = memo.find(cell); it != memo.end()) {
        results.push_back(it->second);
        continue;
      }
    }
    Shared result;
    if (is_atom(cell)) {
      result.hash = atom_hash(cell);
      result.member =
          intern(set, result.hash, Probe{cell, nullptr, nullptr}, [&] { return CellRef::retained(cell); });
    } else if (!expanded) {
      work.push_back({cell, true});
      work.push_back({pair_right(cell), false});
      work.push_back({pair_left(cell), false});
      continue;
    } else {
      const Shared right = results.back();
      results.pop_back();
      const Shared left = results.back();
      results.pop_back();
      result.hash = pair_hash(left.hash, right.hash);
      result.member = intern(set, result.hash, Probe{nullptr, left.member, right.member}, [&] {
        if (left.member == pair_left(cell) && right.member == pair_right(cell))
          return CellRef::retained(cell);
        return make_pair(left.member, right.member);
      });
    }
    if (shared) memo.emplace(cell, result);
    results.push_back(result);
  }
  TOVE_ASSERT(results.size() == 1);
  return CellRef::retained(results.back().member);
}

void prune_sharing_set() {
  SharingSet& set = sharing_set();
  // Released after the walk, so no cell is freed while the maps change.
  std::vector<CellRef> dropped;
  for (auto it = set.members.begin(); it != set.members.end();) {
    if (is_done(it->second.cell.get())) {
      ++it;
      continue;
    }
    forget(set, it->first, it->second.hash);
    dropped.push_back(std::move(it->second.cell));
    it = set.members.erase(it);
  }
}

CellRef share_value(CellRef value) {
  SharingSet& set = sharing_set();
  if (set.members.count(value.get())) return value;
  const uint64_t hash = structural_hash(value.get());
  const Probe probe = is_atom(value.get()) ? Probe{value.get(), nullptr, nullptr}
                                           : Probe{nullptr, pair_left(value.get()), pair_right(value.get())};
  return CellRef::retained(intern(set, hash, probe, [&] { return value.share(); }));
}

size_t sharing_set_size() { return sharing_set().members.size(); }

bool sharing_set_holds(const Cell* c) { return sharing_set().members.count(c) != 0; }

}  // namespace tove
