#include "cells/analysis.h"

#include <array>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "cells/encoding.h"
#include "cells/tables.h"

namespace tove {

namespace {

constexpr std::array<bool, 256> make_class(std::string_view members) {
  std::array<bool, 256> table{};
  for (char c : members) table[static_cast<unsigned char>(c)] = true;
  return table;
}

constexpr std::array<bool, 256> kWordChar = make_class("_abcdefghijklmnopqrstuvwxyz");
// The ASCII punctuation characters that name operators: all 32 but the two
// parentheses, the two square brackets and the underscore.
constexpr std::array<bool, 256> kOperatorChar = make_class("!\"#$%&'*+,-./:;<=>?@\\^`{|}~");

bool is_name_char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 1 && c <= 31) || c >= 127 || kOperatorChar[c];
}

uint8_t encode_arity(int arity, bool pending) {
  TOVE_ASSERT(arity >= kArityFloor && arity <= kArityUnbounded);
  return static_cast<uint8_t>((arity + kArityBias) | (pending ? kTagPending : 0));
}

bool is_analysed(const Cell* c) { return analysis_bits(c) != 0; }

// Leading lambda nodes of a definition body, counted down its right spine.
int leading_lambdas(Cell* body) {
  int count = 0;
  while (count < kArityUnbounded && is_lambda_node(body)) {
    ++count;
    body = pair_right(body);
  }
  return count;
}

void analyse_atom(Cell* atom) {
  // Numbers, byte strings, reals and markers (the atoms made at run time)
  // are no name tokens: their first bytes are no name characters. A text
  // literal is data.
  const AtomKind kind = atom_kind(atom);
  switch (kind) {
    case AtomKind::number:
    case AtomKind::bytes:
    case AtomKind::real:
    case AtomKind::update:
    case AtomKind::undefined: set_analysis_bits(atom, encode_arity(1, false)); return;
    case AtomKind::text: set_analysis_bits(atom, kTagData); return;
    case AtomKind::name:
    case AtomKind::pair: break;
  }
  const char* chars = atom_chars(atom);
  const unsigned char first = static_cast<unsigned char>(chars[0]);
  if (first != 0 && chars[1] == '\0' && is_name_char(first)) {
    // A one-character name: the combinators and operators, and the fresh
    // "K" and "H" that comparisons answer.
    if (CellRef* body = definitions().find(std::string_view(chars, 1))) {
      set_analysis_bits(atom, encode_arity(leading_lambdas(body->get()), false));
      return;
    }
  }
  const std::string_view text = atom_text(atom);
  if (is_name_token(text)) {
    if (CellRef* body = definitions().find(text)) {
      set_analysis_bits(atom, encode_arity(leading_lambdas(body->get()), false));
      return;
    }
    // A name with no definition can only be a local variable.
    TOVE_ASSERT(text.size() == 1 && first >= 'a' && first <= 'z');
    set_payload(atom, uint64_t{1} << (first - 'a'));
    set_analysis_bits(atom, encode_arity(kArityUnbounded, false));
    return;
  }
  set_analysis_bits(atom, encode_arity(1, false));
}

bool is_binder_atom(const Cell* c, unsigned char binder) { return is_atom(c) && head_char(c) == binder; }

}  // namespace

namespace analysis_detail {

// The partial let ({ k) y or the let node ((({ k) y) z) whose left part is
// `left`: the mask that the key does not enter; `fallback` for any other
// pair.
uint32_t let_mask(Cell* left, uint32_t left_mask, uint32_t right_mask, uint32_t fallback) {
  Cell* inner = static_cast<Pair*>(left)->left;
  if (is_binder_atom(inner, '{')) return right_mask;  // ({ k) y: the key is not counted
  if (is_pair(inner) && is_binder_atom(static_cast<Pair*>(inner)->left, '{')) {
    Cell* key = static_cast<Pair*>(inner)->right;
    return (right_mask & ~node_mask(key)) | left_mask;
  }
  return fallback;
}

// A pair with a data part: a data pair when both are, else as a pair of
// other parts with the data part counting as arity 1, mask 0 and never
// pending.
void analyse_pair_with_data(Cell* node, uint64_t left_header, uint64_t right_header) {
  Cell* left = static_cast<Pair*>(node)->left;
  const uint8_t left_bits = static_cast<uint8_t>(left_header >> kTagShift) & kTagAnalysis;
  const uint8_t right_bits = static_cast<uint8_t>(right_header >> kTagShift) & kTagAnalysis;
  const bool left_data = left_bits == kTagData;
  const bool right_data = right_bits == kTagData;
  uint64_t header = node->header & ~(kPayloadMask | kTagMask);
  if (left_data && right_data) {
    const uint64_t a = (left_header & kPayloadMask) >> kPayloadShift;
    const uint64_t b = (right_header & kPayloadMask) >> kPayloadShift;
    if (a >= 2 && b >= 2 && a + b < kPayloadLimit) header |= (a + b) << kPayloadShift;
    else header |= node->header & kPayloadMask;
    node->header = header | (uint64_t{kTagData} << kTagShift);
    return;
  }
  int arity = 0;
  if (!left_data) {
    const int l = static_cast<int>(left_bits & kTagArityMask) - kArityBias;
    arity = (l == kArityUnbounded || l <= kArityFloor) ? l : l - 1;
  }
  const uint32_t left_mask = left_data ? 0 : mask_of_header(left_header);
  const uint32_t right_mask = right_data ? 0 : mask_of_header(right_header);
  uint32_t mask = left_mask | right_mask;
  bool pending;
  if (is_pair(left) && is_binder_atom(static_cast<Pair*>(left)->left, '\\')) {
    mask = right_mask & ~left_mask;
    pending = false;
  } else {
    const int right_arity = right_data ? 1 : static_cast<int>(right_bits & kTagArityMask) - kArityBias;
    pending = (!left_data && (left_bits & kTagPending) != 0) ||
              (!right_data && (right_bits & kTagPending) != 0) || right_arity < 1;
    if (is_pair(left)) mask = let_mask(left, left_mask, right_mask, mask);
  }
  node->header =
      header | (uint64_t{mask} << kPayloadShift) | (uint64_t{encode_arity(arity, pending)} << kTagShift);
}

}  // namespace analysis_detail

bool is_name_token(std::string_view text) {
  if (text.empty()) return false;
  if (text.size() == 1 && is_name_char(static_cast<unsigned char>(text[0]))) return true;
  for (char c : text) {
    if (!kWordChar[static_cast<unsigned char>(c)]) return false;
  }
  return true;
}

void analyse_node(Cell* root) {
  if (is_analysed(root)) return;
  if (is_atom(root)) {
    analyse_atom(root);
    return;
  }
  if (is_analysed(pair_left(root)) && is_analysed(pair_right(root))) {
    analysis_detail::analyse_built_pair(root);
    return;
  }
  // Post-order over the unanalysed part of the graph; analysed cells (and
  // so everything below them) are never entered again. Analysing a pair
  // only reads its analysed parts, so the walk never re-enters itself and
  // one stack serves every call.
  static std::vector<Cell*> stack;
  stack.clear();
  stack.push_back(root);
  while (!stack.empty()) {
    Cell* top = stack.back();
    if (is_analysed(top)) {
      stack.pop_back();
      continue;
    }
    if (is_atom(top)) {
      analyse_atom(top);
      stack.pop_back();
      continue;
    }
    Cell* left = pair_left(top);
    Cell* right = pair_right(top);
    if (!is_analysed(left)) {
      stack.push_back(left);
      continue;
    }
    if (!is_analysed(right)) {
      stack.push_back(right);
      continue;
    }
    analysis_detail::analyse_built_pair(top);
    stack.pop_back();
  }
}

// ---- substitution -------------------------------------------------------------

namespace {

// Definition bodies are shallow: most substitutions finish within this depth
// on the native stack; deeper ones start again on the explicit stacks.
constexpr int kShallowDepth = 64;

// The substitution of a sub-expression that holds the variable, or an empty
// reference when the expression is deeper than the shallow limit. `Join`
// makes each new pair from its two parts.
template <CellRef (*Join)(CellRef, CellRef)>
CellRef substitute_shallow(Cell* c, uint32_t bit, char letter, Cell* value, int depth) {
  if (is_atom(c)) return CellRef::retained(value);
  if (depth == 0) return {};
  auto part = [&](Cell* sub) -> CellRef {
    if ((node_mask(sub) & bit) == 0) return CellRef::retained(sub);
    // An atom that holds the letter is the variable itself.
    if (is_atom(sub)) return CellRef::retained(value);
    return substitute_shallow<Join>(sub, bit, letter, value, depth - 1);
  };
  if (is_lambda_node(c)) {
    CellRef body = part(pair_right(c));
    if (!body) return {};
    return Join(CellRef::retained(pair_left(c)), std::move(body));
  }
  if (is_let_node(c)) {
    Cell* binder = pair_left(pair_left(c));
    CellRef bound = part(pair_right(pair_left(c)));
    if (!bound) return {};
    const bool shadowed = head_char(pair_right(binder)) == static_cast<unsigned char>(letter);
    CellRef body = shadowed ? CellRef::retained(pair_right(c)) : part(pair_right(c));
    if (!body) return {};
    return Join(Join(CellRef::retained(binder), std::move(bound)), std::move(body));
  }
  CellRef left = part(pair_left(c));
  if (!left) return {};
  CellRef right = part(pair_right(c));
  if (!right) return {};
  return Join(std::move(left), std::move(right));
}

CellRef join_plain(CellRef left, CellRef right) { return make_pair(std::move(left), std::move(right)); }

// The parts of an analysed expression are analysed already, the values
// put in it are analysed before the walk, and so every pair built from
// them has analysed parts.
[[gnu::always_inline]] inline CellRef join_analysed(CellRef left, CellRef right) {
  Cell* l = left.leak();
  return CellRef::adopt(new_pair_of_analysed(l, right.leak()));
}

// The bit of the local letter a binder binds; 0 for any other atom.
uint32_t bound_bit(const Cell* variable) {
  const unsigned char v = head_char(variable);
  return v >= 'a' && v <= 'z' ? uint32_t{1} << (v - 'a') : 0;
}

// Both substitutions of substitute_two_analysed in one walk: `live` holds
// the letters still replaced below c (a binder of one of them stops it), an
// atom reached is one of the two variables, and each new pair is analysed
// as it is made. An empty reference when c is deeper than the shallow
// limit.
CellRef substitute_two_shallow(Cell* c, uint32_t live, uint32_t first_bit, Cell* first_value,
                               Cell* second_value, int depth) {
  if (is_atom(c)) return CellRef::retained((node_mask(c) & first_bit) != 0 ? first_value : second_value);
  if (depth == 0) return {};
  auto part = [&](Cell* sub, uint32_t letters) -> CellRef {
    const uint32_t mask = node_mask(sub);
    if ((mask & letters) == 0) return CellRef::retained(sub);
    if (is_atom(sub)) return CellRef::retained((mask & first_bit) != 0 ? first_value : second_value);
    return substitute_two_shallow(sub, letters, first_bit, first_value, second_value, depth - 1);
  };
  if (is_lambda_node(c)) {
    CellRef body = part(pair_right(c), live & ~bound_bit(pair_right(pair_left(c))));
    if (!body) return {};
    return join_analysed(CellRef::retained(pair_left(c)), std::move(body));
  }
  if (is_let_node(c)) {
    Cell* binder = pair_left(pair_left(c));
    CellRef bound = part(pair_right(pair_left(c)), live);
    if (!bound) return {};
    CellRef body = part(pair_right(c), live & ~bound_bit(pair_right(binder)));
    if (!body) return {};
    return join_analysed(join_analysed(CellRef::retained(binder), std::move(bound)), std::move(body));
  }
  CellRef left = part(pair_left(c), live);
  if (!left) return {};
  CellRef right = part(pair_right(c), live);
  if (!right) return {};
  return join_analysed(std::move(left), std::move(right));
}

}  // namespace

CellRef substitute(Cell* expr, char letter, Cell* value) {
  TOVE_ASSERT(letter >= 'a' && letter <= 'z');
  const uint32_t bit = uint32_t{1} << (letter - 'a');
  if ((node_mask(expr) & bit) == 0) return CellRef::retained(expr);
  if (CellRef quick = substitute_shallow<join_plain>(expr, bit, letter, value, kShallowDepth)) return quick;

  // Tasks run last-in first-out; each Visit leaves one result on `results`,
  // each Build combines the results of its parts.
  enum class Op : uint8_t { Visit, Keep, BuildPair, BuildLambda, BuildLet };
  struct Task {
    Op op;
    Cell* cell;
  };
  // Substitution never re-enters itself, so one pair of stacks serves all.
  static std::vector<Task> tasks;
  static std::vector<CellRef> results;
  tasks.clear();
  results.clear();
  tasks.push_back({Op::Visit, expr});
  while (!tasks.empty()) {
    Task task = tasks.back();
    tasks.pop_back();
    Cell* c = task.cell;
    switch (task.op) {
      case Op::Visit:
        if ((node_mask(c) & bit) == 0) {
          results.push_back(CellRef::retained(c));
        } else if (is_atom(c)) {
          results.push_back(CellRef::retained(value));
        } else if (is_lambda_node(c)) {
          tasks.push_back({Op::BuildLambda, pair_left(c)});
          tasks.push_back({Op::Visit, pair_right(c)});
        } else if (is_let_node(c)) {
          Cell* binder = pair_left(pair_left(c));  // ({ k)
          Cell* bound = pair_right(pair_left(c));  // y
          Cell* body = pair_right(c);              // z
          tasks.push_back({Op::BuildLet, binder});
          const bool shadowed = head_char(pair_right(binder)) == static_cast<unsigned char>(letter);
          tasks.push_back({shadowed ? Op::Keep : Op::Visit, body});
          tasks.push_back({Op::Visit, bound});
        } else {
          tasks.push_back({Op::BuildPair, nullptr});
          tasks.push_back({Op::Visit, pair_right(c)});
          tasks.push_back({Op::Visit, pair_left(c)});
        }
        break;
      case Op::Keep: results.push_back(CellRef::retained(c)); break;
      case Op::BuildPair: {
        CellRef right = std::move(results.back());
        results.pop_back();
        CellRef left = std::move(results.back());
        results.back() = make_pair(std::move(left), std::move(right));
        break;
      }
      case Op::BuildLambda: {
        CellRef body = std::move(results.back());
        results.back() = make_pair(CellRef::retained(c), std::move(body));
        break;
      }
      case Op::BuildLet: {
        CellRef body = std::move(results.back());
        results.pop_back();
        CellRef bound = std::move(results.back());
        results.back() = make_pair(make_pair(CellRef::retained(c), std::move(bound)), std::move(body));
        break;
      }
    }
  }
  TOVE_ASSERT(results.size() == 1);
  CellRef result = std::move(results.back());
  results.clear();
  return result;
}

CellRef substitute_analysed(Cell* expr, char letter, Cell* value) {
  TOVE_ASSERT(letter >= 'a' && letter <= 'z');
  const uint32_t bit = uint32_t{1} << (letter - 'a');
  if ((node_mask(expr) & bit) == 0) return CellRef::retained(expr);
  analysed_bits(value);
  if (CellRef quick = substitute_shallow<join_analysed>(expr, bit, letter, value, kShallowDepth)) {
    return quick;
  }
  return substitute(expr, letter, value);
}

CellRef substitute_two_analysed(Cell* expr, char first, Cell* first_value, char second, Cell* second_value) {
  TOVE_ASSERT(first >= 'a' && first <= 'z' && second >= 'a' && second <= 'z' && first != second);
  const uint32_t first_bit = uint32_t{1} << (first - 'a');
  const uint32_t both = first_bit | uint32_t{1} << (second - 'a');
  if ((node_mask(expr) & both) == 0) return CellRef::retained(expr);
  analysed_bits(first_value);
  analysed_bits(second_value);
  if (CellRef quick =
          substitute_two_shallow(expr, both, first_bit, first_value, second_value, kShallowDepth)) {
    return quick;
  }
  CellRef once = substitute_analysed(expr, first, first_value);
  return substitute_analysed(once.get(), second, second_value);
}

// ---- order on cells ---------------------------------------------------------------

size_t atom_weight(const Cell* c) {
  if (is_pair(c)) return 0;
  const AtomKind kind = atom_kind(c);
  if (kind == AtomKind::real) return kRealTextLength;
  if ((kind == AtomKind::number || kind == AtomKind::text) && payload(c) != 0) return payload(c);
  if (kind == AtomKind::bytes) return atom_text(c).size();
  return std::strlen(atom_chars(c));
}

namespace {

int compare_atoms(const Cell* x, const Cell* y) {
  const size_t wx = atom_weight(x), wy = atom_weight(y);
  const int order = std::memcmp(atom_chars(x), atom_chars(y), wx < wy ? wx : wy);
  if (order != 0) return order < 0 ? 1 : -1;
  if (wx != wy) return wx < wy ? 1 : -1;
  return 0;
}

}  // namespace

// Two pairs are compared left first, then right, on an explicit stack. A
// value that shares its parts (k{...} k k, forty levels deep) has few
// distinct cells but exponentially many paths, so every pair of cells found
// equal is remembered for the rest of this comparison and not walked again:
// the cost is linear in the number of distinct pairs of cells visited. Small
// comparisons, the usual case, finish before the memo is ever made.
namespace {

constexpr size_t kStepsBeforeMemo = 64;

struct CellPairHash {
  size_t operator()(const std::pair<const Cell*, const Cell*>& p) const {
    const auto x = reinterpret_cast<uintptr_t>(p.first);
    const auto y = reinterpret_cast<uintptr_t>(p.second);
    return static_cast<size_t>((x * 0x9E3779B97F4A7C15ull) ^ (y + (y >> 17)));
  }
};

// One entry of the walk: the two cells, and whether their parts are already
// pushed (then reaching the entry again means the parts were equal).
struct Comparison {
  const Cell* x;
  const Cell* y;
  bool parts_pushed;
};

}  // namespace

int compare_cells(const Cell* a, const Cell* b) {
  if (a == b) return 0;
  if (is_atom(a) && is_atom(b)) return compare_atoms(a, b);
  std::vector<Comparison> stack{{a, b, false}};
  std::unordered_set<std::pair<const Cell*, const Cell*>, CellPairHash> equal;
  size_t steps = 0;
  while (!stack.empty()) {
    const Comparison top = stack.back();
    stack.pop_back();
    const Cell* x = top.x;
    const Cell* y = top.y;
    if (top.parts_pushed) {
      equal.insert({x, y});
      continue;
    }
    if (x == y) continue;
    const bool x_atom = is_atom(x), y_atom = is_atom(y);
    if (x_atom != y_atom) return x_atom ? 1 : -1;
    if (x_atom) {
      if (int order = compare_atoms(x, y); order != 0) return order;
      continue;
    }
    if (++steps > kStepsBeforeMemo) {
      if (equal.contains({x, y})) continue;
      stack.push_back({x, y, true});
    }
    stack.push_back({pair_right(x), pair_right(y), false});
    stack.push_back({pair_left(x), pair_left(y), false});
  }
  return 0;
}

}  // namespace tove
