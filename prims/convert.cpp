// Conversions between value kinds, and slices: `zits` makes a text literal,
// `init` a byte string, `lots` the cell form that programs take apart,
// `lits` the compact form, and `trim` cuts a slice out of a byte string or
// a text. Every walk over a value of unbounded depth uses an explicit stack.
#include <cmath>
#include <vector>

#include "numbers/numbers.h"
#include "numbers/trees.h"
#include "prims/family.h"

namespace tove {

namespace {

// ---- byte lists -----------------------------------------------------------------------------
//
// A byte list is the atom "K" (no bytes), the bit tree of one byte, or
// ((J a) b) with byte lists a and b. The bit tree of a byte is
//   r (J (J b0 b1) (J b2 b3)) (J (J b4 b5) (J b6 b7))
// with leaves "I" (set) or "H" (clear), b0 the least significant bit, and
// a root r beginning with "J" or with "V" (the evaluator opens a one-byte
// string into the "V" form).

// An inner node ((j l) r) whose j begins with one of `heads`.
bool is_node(const Cell* c, std::string_view heads) {
  if (!is_pair(c) || !is_pair(pair_left(c))) return false;
  const Cell* j = pair_left(pair_left(c));
  return is_atom(j) && heads.find(static_cast<char>(head_char(j))) != std::string_view::npos;
}

// The bits below a node of a bit tree, `levels` levels above its leaves,
// lowest bit leftmost.
std::optional<unsigned> tree_bits(const Cell* c, int levels, std::string_view heads) {
  if (levels == 0) {
    if (!is_atom(c)) return std::nullopt;
    switch (head_char(c)) {
      case 'I': return 1u;
      case 'H': return 0u;
      default: return std::nullopt;
    }
  }
  if (!is_node(c, heads)) return std::nullopt;
  std::optional<unsigned> low = tree_bits(pair_right(pair_left(c)), levels - 1, "J");
  std::optional<unsigned> high = tree_bits(pair_right(c), levels - 1, "J");
  if (!low || !high) return std::nullopt;
  return *low | (*high << (1u << (levels - 1)));
}

std::optional<std::string> byte_list_bytes(Cell* list) {
  std::string bytes;
  std::vector<Cell*> pending{list};
  while (!pending.empty()) {
    Cell* c = pending.back();
    pending.pop_back();
    if (atom_is(c, "K")) continue;
    if (std::optional<unsigned> byte = tree_bits(c, 3, "JV")) {
      bytes += static_cast<char>(*byte);
      continue;
    }
    if (!is_node(c, "J")) return std::nullopt;
    pending.push_back(pair_right(c));
    pending.push_back(pair_right(pair_left(c)));
  }
  return bytes;
}

// ---- the cell form --------------------------------------------------------------------------

CellRef element_atom(bool set) { return make_atom(set ? "K" : "H"); }

// J b0 (J b1 (... (J b63 K))), least significant bit first.
CellRef real_to_list(const Cell* real) {
  const uint64_t pattern = real_pattern(real);
  CellRef j = make_atom("J");
  CellRef list = make_atom("K");
  for (int i = 63; i >= 0; --i) {
    list = make_pair(make_pair(j.share(), element_atom((pattern >> i) & 1)), std::move(list));
  }
  return list;
}

// The bit list of raw value 2^t (2B + 1): t the number of trailing zero
// bytes, B the natural number of the leading bytes, little-endian.
CellRef bytes_to_list(std::string_view bytes) {
  size_t kept = bytes.size();
  while (kept > 0 && bytes[kept - 1] == '\0') --kept;
  const uint64_t zeros = bytes.size() - kept;
  const uint64_t shift = zeros + 1;
  BitList bits;
  bits.bytes.assign(shift / 8 + kept + 1, '\0');
  for (size_t i = 0; i < kept; ++i) {
    const unsigned moved = static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) << (shift % 8);
    const size_t at = shift / 8 + i;
    bits.bytes[at] = static_cast<char>(static_cast<unsigned char>(bits.bytes[at]) | (moved & 0xFF));
    bits.bytes[at + 1] = static_cast<char>(moved >> 8);
  }
  bit_set(bits, zeros, true);
  bit_list_trim(bits);
  return bits_to_list_form(bits);
}

// The tree of a text as nested data pairs. A list whose last element is a
// character's tree stays as its text; any other non-empty list becomes the
// pair of its converted leading part and its converted last part. Elements
// are found from the end, as the tree decomposition finds them: a closing
// bracket together with the bracket that balances it, or one character.
CellRef text_to_cells(std::string_view inner) {
  constexpr size_t kNone = static_cast<size_t>(-1);
  // The "[" that balances each "]", scanning from the end.
  std::vector<size_t> opener(inner.size(), kNone);
  std::vector<size_t> closers;
  for (size_t i = inner.size(); i-- > 0;) {
    if (inner[i] == ']') {
      closers.push_back(i);
    } else if (inner[i] == '[' && !closers.empty()) {
      opener[closers.back()] = i;
      closers.pop_back();
    }
  }

  struct Task {
    enum Kind : uint8_t { List, Empty, Join } kind;
    size_t begin;
    size_t end;
  };
  std::vector<Task> tasks{{Task::List, 0, inner.size()}};
  std::vector<CellRef> results;
  auto split = [&](size_t begin, size_t middle, Task last) {
    tasks.push_back({Task::Join, 0, 0});
    tasks.push_back(last);
    tasks.push_back({Task::List, begin, middle});
  };
  while (!tasks.empty()) {
    const Task task = tasks.back();
    tasks.pop_back();
    if (task.kind == Task::Join) {
      CellRef last = std::move(results.back());
      results.pop_back();
      results.back() = make_pair(std::move(results.back()), std::move(last));
      continue;
    }
    if (task.kind == Task::Empty || task.begin == task.end) {
      results.push_back(make_atom("[]"));
      continue;
    }
    const size_t end = task.end;
    const size_t group = inner[end - 1] == ']' ? opener[end - 1] : kNone;
    if (group == kNone) {
      if (!character_tree(static_cast<unsigned char>(inner[end - 1])).empty()) {
        results.push_back(text_literal_atom(inner.substr(task.begin, end - task.begin)));
      } else {
        split(task.begin, end - 1, {Task::Empty, 0, 0});
      }
      continue;
    }
    TOVE_ASSERT(group >= task.begin);
    if (tree_character(inner.substr(group, end - group)) >= 0) {
      results.push_back(text_literal_atom(inner.substr(task.begin, end - task.begin)));
    } else {
      split(task.begin, group, {Task::List, group + 1, end - 1});
    }
  }
  TOVE_ASSERT(results.size() == 1);
  return std::move(results.back());
}

CellRef to_cell_form(Cell* x);

// A number's list form: a list form keeps its elements and has its tail
// converted; a decimal atom becomes the list form of its bit list.
CellRef number_to_list(Cell* x) {
  if (is_atom(x)) return bits_to_list_form(value_to_bits(x));
  std::vector<Cell*> links;
  Cell* c = x;
  while (is_list_form(c) && truth_argument(pair_right(pair_left(c)))) {
    links.push_back(c);
    c = pair_right(c);
  }
  CellRef tail = to_cell_form(c);
  if (atom_is(tail.get(), "Z")) return tail;
  if (tail.get() == c) return CellRef::retained(x);
  for (size_t i = links.size(); i-- > 0;) tail = make_pair(left_of(links[i]), std::move(tail));
  return tail;
}

CellRef to_cell_form(Cell* x) {
  switch (classify_kind(x)) {
    case ValueKind::real: return real_to_list(x);
    case ValueKind::integer:
    case ValueKind::fraction: return number_to_list(x);
    case ValueKind::data: {
      std::string storage;
      return text_to_cells(data_text_view(x, storage));
    }
    case ValueKind::bytes: return bytes_to_list(byte_string_contents(x));
    case ValueKind::other: break;
  }
  if (is_atom(x) && head_char(x) == 'K') return CellRef::retained(x);
  return make_refusal();
}

// ---- text literals ------------------------------------------------------------------------

// The written form of a tree form: "[]" for "K", and for ((J l) r) the
// text of l with the text of r appended as its last element, abbreviated
// to its character when it has one. None for any other shape.
std::optional<std::string> form_text(Cell* form) {
  std::string out;
  struct Frame {
    Cell* node;
    int stage;
    size_t mark;  // where the text of the last part begins
  };
  std::vector<Frame> stack;
  auto visit = [&](Cell* c) {
    if (is_atom(c) && head_char(c) == 'K') {
      out += "[]";
      return true;
    }
    if (!is_node(c, "J")) return false;
    stack.push_back({c, 0, 0});
    return true;
  };
  if (!visit(form)) return std::nullopt;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    Cell* node = frame.node;
    if (frame.stage == 0) {
      frame.stage = 1;
      if (!visit(pair_right(pair_left(node)))) return std::nullopt;
    } else if (frame.stage == 1) {
      TOVE_ASSERT(!out.empty() && out.back() == ']');
      out.pop_back();
      frame.stage = 2;
      frame.mark = out.size();
      if (!visit(pair_right(node))) return std::nullopt;
    } else {
      const size_t mark = frame.mark;
      stack.pop_back();
      const int byte = tree_character(std::string_view(out).substr(mark));
      if (byte >= 0) {
        out.resize(mark);
        out += static_cast<char>(byte);
      }
      out += ']';
    }
  }
  return out;
}

// A position counted from the end when negative.
int64_t from_end(int64_t position, size_t length) {
  return position < 0 ? position + static_cast<int64_t>(length) : position;
}

}  // namespace

// ---- handlers ----------------------------------------------------------------------------------

// zits x: x as a text literal.
static CellRef prim_zits(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  switch (classify_kind(x)) {
    case ValueKind::bytes: {
      std::string_view bytes = byte_string_contents(x);
      if (bytes.find('\n') != std::string_view::npos || !brackets_balanced(bytes)) return make_refusal();
      return text_literal_atom(bytes);
    }
    case ValueKind::real: return text_literal_atom(format_real(real_value(x)));
    case ValueKind::integer: {
      std::optional<int64_t> value = wrapped_integer(x);
      if (!value) return make_refusal();
      // A newline stays as it is in a one-character literal.
      return byte_literal(static_cast<unsigned char>(*value & 0xFF), false);
    }
    case ValueKind::fraction: return make_refusal();
    case ValueKind::data:
      if (is_atom(x)) return CellRef::retained(x);
      return make_atom(tree_text(x));
    case ValueKind::other: break;
  }
  Cell* contents = wrapped_contents(x);
  if (contents == nullptr) return make_refusal();
  std::optional<std::string> text = form_text(contents);
  if (!text) return make_refusal();
  return make_atom(*text);
}

// init x: x as a byte string.
static CellRef prim_init(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  switch (classify_kind(x)) {
    case ValueKind::bytes: return CellRef::retained(x);
    case ValueKind::real: return byte_string_atom(atom_text(x).substr(1));
    case ValueKind::integer:
      // ((J K) ...) reads as an integer first, and as a byte list only when
      // its elements do not make one.
      if (std::optional<int64_t> value = wrapped_integer(x)) {
        const char byte = static_cast<char>(*value & 0xFF);
        return byte_string_atom(std::string_view(&byte, 1));
      }
      break;
    case ValueKind::fraction: return make_refusal();
    case ValueKind::data: {
      std::string storage;
      return byte_string_atom(data_text_view(x, storage));
    }
    case ValueKind::other: break;
  }
  std::optional<std::string> bytes = byte_list_bytes(x);
  if (!bytes) return make_refusal();
  return byte_string_atom(*bytes);
}

// lots x: the cell form of x.
static CellRef prim_lots(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  return to_cell_form(x);
}

// lits x: the compact form of x.
static CellRef prim_lits(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  switch (classify_kind(x)) {
    case ValueKind::data: {
      std::string storage;
      std::string_view text = data_text_view(x, storage);
      if (text.size() == 1) return integer_from_int64(static_cast<unsigned char>(text[0]));
      // The bracket escapes stand for their byte; "[p]" is no character.
      const int byte = escaped_byte(text);
      if (byte == '[' || byte == ']') return integer_from_int64(byte);
      return make_refusal();
    }
    case ValueKind::bytes: {
      std::string_view bytes = byte_string_contents(x);
      if (bytes.size() != 1) return make_refusal();
      return integer_from_int64(static_cast<unsigned char>(bytes[0]));
    }
    case ValueKind::real: {
      const double value = real_value(x);
      if (!std::isfinite(value)) return make_refusal();
      return double_to_fraction(value);
    }
    case ValueKind::integer:
    case ValueKind::fraction:
      if (!is_readable_number(x)) return make_refusal();
      if (is_atom(x)) return CellRef::retained(x);
      return bits_to_value(value_to_bits(x));
    case ValueKind::other: break;
  }
  return make_refusal();
}

// trim x s e: the part of x from position s up to, not including, e.
static CellRef prim_trim(CellRef redex) {
  auto [x, s, e] = redex_arguments<3>(redex.get());
  std::optional<int64_t> start = position_argument(s);
  std::optional<int64_t> end = position_argument(e);
  if (!start || !end) return make_refusal();
  const ValueKind kind = classify_kind(x);
  std::string storage;
  std::string_view text;
  if (kind == ValueKind::bytes) {
    text = byte_string_contents(x);
  } else if (kind == ValueKind::data) {
    text = data_text_view(x, storage);
  } else {
    return make_refusal();
  }
  const int64_t from = from_end(*start, text.size());
  const int64_t to = from_end(*end, text.size());
  if (from < 0 || to < from || to > static_cast<int64_t>(text.size())) return make_refusal();
  std::string_view slice = text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
  if (kind == ValueKind::bytes) return byte_string_atom(slice);
  if (!brackets_balanced(slice)) return make_refusal();
  return text_literal_atom(slice);
}

// ---- members --------------------------------------------------------------------------

std::span<const BuiltinSpec> kind_conversion_members() {
  static constexpr BuiltinSpec kMembers[] = {
      {"init", 1, prim_init}, {"lits", 1, prim_lits}, {"lots", 1, prim_lots},
      {"trim", 3, prim_trim}, {"zits", 1, prim_zits},
  };
  return kMembers;
}

}  // namespace tove
