#include "compiler/transform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cells/print.h"
#include "compiler/analysis.h"
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
  for (size_t i = atoms.size(); i-- > 0;) list = make_pair(CellRef::borrow(atoms[i]), std::move(list));
  return list;
}

}  // namespace

CellRef empty_name_list() { return make_atom(kEmptyListText); }

bool is_empty_name_list(const Cell* list) { return atom_is(list, kEmptyListText); }

CellRef name_list_singleton(std::string_view name) {
  return make_pair(make_atom(name), empty_name_list());
}

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

bool is_definable_binder(const Cell* key) {
  return is_atom(key) && is_definable_name(atom_text(key));
}

// ---- layout text ----------------------------------------------------------------------------

namespace {

struct Segment {
  std::string label;  // empty for a gap
  size_t size;
};

struct Field {
  std::string_view name;
  size_t width;
  size_t offset;
};

struct Record {
  std::string_view name;
  size_t size;
  std::vector<Field> fields;  // in the order they are placed
};

void place_field(std::vector<Segment>& segments, const Field& field) {
  size_t start = 0;
  for (auto it = segments.begin(); it != segments.end(); ++it) {
    const size_t end = start + it->size;
    if (end <= field.offset) {
      start = end;
      continue;
    }
    TOVE_ASSERT(it->label.empty() && field.offset >= start && field.offset + field.width <= end);
    std::vector<Segment> replacement;
    if (field.offset > start) replacement.push_back({std::string(), field.offset - start});
    replacement.push_back({std::string(field.name), field.width});
    if (end > field.offset + field.width) replacement.push_back({std::string(), end - field.offset - field.width});
    it = segments.erase(it);
    segments.insert(it, replacement.begin(), replacement.end());
    return;
  }
  TOVE_ASSERT(false);
}

std::string describe_record(const Record& record) {
  std::vector<Segment> segments{{std::string(), record.size}};
  for (const Field& field : record.fields) place_field(segments, field);
  std::string text = "[";
  text.append(record.name);
  for (const Segment& segment : segments) {
    text.append("[").append(segment.label).append("[").append(std::to_string(segment.size)).append("]]");
  }
  text.append("]");
  return text;
}

}  // namespace

std::string build_layout_text() {
  const Record records[] = {
      {"addrinfo",
       48,
       {{"ai_flags", 4, 0},
        {"ai_family", 4, 4},
        {"ai_socktype", 4, 8},
        {"ai_protocol", 4, 12},
        {"ai_addrlen", 8, 16},
        {"ai_addr", 8, 32},
        {"ai_canonname", 8, 24},
        {"ai_next", 8, 40}}},
      {"dirent",
       296,
       {{"d_ino", 4, 0},
        {"d_off", 4, 4},
        {"d_namlen", 8, 16},
        {"d_reclen", 2, 8},
        {"d_type", 4, 24},
        {"d_name", 261, 28}}},
      {"fd_set", 520, {}},
      {"size_t", 8, {}},
      {"socklen_t", 4, {}},
      {"time_t", 8, {}},
  };
  std::string text = "[";
  for (const Record& record : records) text += describe_record(record);
  return text + "]";
}

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
  if (parts[0].get() == pair_left(cell) && parts[1].get() == pair_right(cell)) return CellRef::borrow(cell);
  return make_pair(std::move(parts[0]), std::move(parts[1]));
}

Step split_pair(Cell* cell) {
  Step s;
  if (is_atom(cell)) {
    s.done = CellRef::borrow(cell);
  } else {
    s.parts[0] = pair_left(cell);
    s.parts[1] = pair_right(cell);
    s.count = 2;
  }
  return s;
}

bool is_backquote_node(const Cell* cell) {
  return is_pair(cell) && head_char(pair_left(cell)) == '`';
}

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

// ---- binder lists -------------------------------------------------------------------------

namespace {

bool is_local_letter(std::string_view name) {
  return name.size() == 1 && name[0] >= 'a' && name[0] <= 'z';
}

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

// Renames every long name of `renames` in one pass. A bracketed binder such
// as "[+]" binds the operator "+" (that is the name the reference walk takes
// as bound), so both spellings of such a name take its letter; otherwise a
// key "+" would be left that no substitution can replace.
CellRef rename_all(Cell* body, const std::vector<std::pair<std::string, char>>& renames) {
  std::vector<std::pair<std::string, char>> spellings;
  for (const auto& [from, letter] : renames) {
    spellings.emplace_back(from, letter);
    if (std::string normal = normalized_name(from); normal != from) spellings.emplace_back(std::move(normal), letter);
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
    if (normal == atom_text(key)) return CellRef::borrow(key);
    return make_atom(normal);
  };
  auto step = [&](Cell* cell) {
    Step s;
    if (is_atom(cell)) {
      const char letter = letter_for(atom_text(cell));
      s.done = letter ? make_atom(std::string_view(&letter, 1)) : CellRef::borrow(cell);
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
      CellRef head = key.get() == pair_right(binder) ? CellRef::borrow(binder)
                                                     : make_pair(left_of(binder), std::move(key));
      if (head.get() == binder && parts[0].get() == pair_right(cell)) return CellRef::borrow(cell);
      return make_pair(std::move(head), std::move(parts[0]));
    }
    if (is_let_node(cell)) {
      Cell* binding = pair_left(cell);
      Cell* open = pair_left(binding);
      CellRef key = new_key(pair_right(open));
      if (key.get() == pair_right(open) && parts[0].get() == pair_right(binding) &&
          parts[1].get() == pair_right(cell))
        return CellRef::borrow(cell);
      return make_pair(make_pair(make_pair(left_of(open), std::move(key)), std::move(parts[0])),
                       std::move(parts[1]));
    }
    return repair(cell, parts);
  };
  return rebuild(body, step, combine);
}

}  // namespace

CellRef long_binders(Cell* body) { return collect_binders(body, false); }

CellRef short_binders(Cell* body) { return collect_binders(body, true); }

CellRef rename_local(Cell* body, std::string_view name, char letter) {
  TOVE_ASSERT(letter >= 'a' && letter <= 'z');
  return rename_all(body, {{std::string(name), letter}});
}

// ---- letter assignment --------------------------------------------------------------------

// The log is shared with whoever else can write to /tmp, so the line goes
// only to a regular file reached without a symbolic link; a FIFO, a device
// or a folder in its place is skipped, and nothing here ever waits.
void append_log_line(const char* path, std::string_view line) {
  const int fd =
      ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return;
  }
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    data += written;
    left -= static_cast<size_t>(written);
  }
  TOVE_ASSERT(::close(fd) == 0);
}

bool assign_letters(std::string_view name, CellRef& body, LetterLog log) {
  CellRef long_list = long_binders(body.get());
  CellRef short_list = short_binders(body.get());
  const size_t long_count = name_list_length(long_list.get());
  if (long_count == 0) return true;
  if (log == LetterLog::write && !sandboxed()) {
    append_log_line(kLogPath, "First " + std::string(name) + ": " + print_expression(body.get()) + "\n");
  }
  if (long_count + name_list_length(short_list.get()) > 26) return false;
  bool used[26] = {};
  for (const Cell* rest = short_list.get(); is_pair(rest); rest = pair_right(rest))
    used[atom_text(pair_left(rest))[0] - 'a'] = true;
  std::vector<std::pair<std::string, char>> renames;
  for (const Cell* rest = long_list.get(); is_pair(rest); rest = pair_right(rest)) {
    int letter = 0;
    while (used[letter]) ++letter;
    used[letter] = true;
    renames.emplace_back(std::string(atom_text(pair_left(rest))), static_cast<char>('a' + letter));
  }
  body = rename_all(body.get(), renames);
  return true;
}

// ---- the sharing set ------------------------------------------------------------------------
//
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

CellRef share(Cell* body) {
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
      result.member = intern(set, result.hash, Probe{cell, nullptr, nullptr}, [&] { return CellRef::borrow(cell); });
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
        if (left.member == pair_left(cell) && right.member == pair_right(cell)) return CellRef::borrow(cell);
        return make_pair(left.member, right.member);
      });
    }
    if (shared) memo.emplace(cell, result);
    results.push_back(result);
  }
  TOVE_ASSERT(results.size() == 1);
  return CellRef::borrow(results.back().member);
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
  return CellRef::borrow(intern(set, hash, probe, [&] { return value.share(); }));
}

size_t sharing_set_size() { return sharing_set().members.size(); }

bool sharing_set_holds(const Cell* c) { return sharing_set().members.count(c) != 0; }

}  // namespace tove
