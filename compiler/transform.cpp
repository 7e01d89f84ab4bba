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
#include "cells/analysis.h"
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

}  // namespace tove
