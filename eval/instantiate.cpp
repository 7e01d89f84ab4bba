#include "eval/instantiate.h"

#include <algorithm>
#include <array>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "cells/analysis.h"
#include "cells/encoding.h"
#include "eval/engine.h"
#include "eval/names.h"
#include "eval/watch.h"

namespace tove {

namespace {

constexpr size_t kMaxParameters = 16;

std::unordered_map<Cell*, InstantiationPlan>& plans() {
  static std::unordered_map<Cell*, InstantiationPlan> table;
  return table;
}

// Every plan made, by number.
std::vector<const InstantiationPlan*>& numbered_plans() {
  static std::vector<const InstantiationPlan*> table;
  return table;
}

// Lambda nodes among the shared cells of planned bodies, each with its
// plan once made.
std::unordered_map<Cell*, const InstantiationPlan*>& known_lambdas() {
  static std::unordered_map<Cell*, const InstantiationPlan*> table;
  return table;
}

// A sieve over the addresses of the known lambda nodes: a node whose bit
// is clear is known to no plan. The lambda nodes that calls build, which
// no plan knows, are so turned away without a search of the table.
constinit std::array<uint64_t, 1024> g_known_sieve{};

std::pair<size_t, uint64_t> sieve_place(const Cell* c) {
  const auto bit = static_cast<size_t>((reinterpret_cast<uintptr_t>(c) >> 3) * 0x9E3779B97F4A7C15u >> 48);
  return {bit >> 6, uint64_t{1} << (bit & 63)};
}

void register_lambdas(Cell* root) {
  std::vector<Cell*> stack{root};
  while (!stack.empty()) {
    Cell* c = stack.back();
    stack.pop_back();
    if (is_atom(c) || is_data(c)) continue;
    if (is_lambda_node(c)) {
      if (!known_lambdas().emplace(c, nullptr).second) continue;
      const auto [word, bit] = sieve_place(c);
      g_known_sieve[word] |= bit;
    }
    stack.push_back(pair_left(c));
    stack.push_back(pair_right(c));
  }
}

// The leading lambda nodes of a body: their letters in order, and the rest.
Cell* strip_parameters(Cell* body, std::array<char, kMaxParameters>& letters, size_t& count) {
  count = 0;
  while (is_lambda_node(body)) {
    TOVE_ASSERT(count < kMaxParameters);
    letters[count++] = static_cast<char>(head_char(pair_right(pair_left(body))));
    body = pair_right(body);
  }
  return body;
}

void collect_cells(Cell* root, std::unordered_set<Cell*>& cells) {
  std::vector<Cell*> stack{root};
  while (!stack.empty()) {
    Cell* c = stack.back();
    stack.pop_back();
    if (!cells.insert(c).second || is_atom(c)) continue;
    stack.push_back(pair_left(c));
    stack.push_back(pair_right(c));
  }
}

// The new pair c of the stand-in result is plain for every argument when
// the cells its analysis reads for a binder shape (its left part, the left
// part of that, and the left part of that) are no stand-ins, and make no
// binder shape themselves.
bool builds_plain_pair(Cell* c, const std::vector<Cell*>& stand_ins) {
  auto stand_in = [&](Cell* x) {
    return std::find(stand_ins.begin(), stand_ins.end(), x) != stand_ins.end();
  };
  Cell* left = pair_left(c);
  if (stand_in(left)) return false;
  if (is_pair(left)) {
    Cell* inner = pair_left(left);
    if (stand_in(inner) || (is_pair(inner) && stand_in(pair_left(inner)))) return false;
  }
  return !makes_binder(left);
}

// Reads the plan's steps off `result`, the literal rewrite of its body on
// stand-in arguments (`raw`, atoms ")0", ")1", ... that are closed and
// belong to no body): each of `body_cells` is shared, each stand-in is an
// argument, and every other cell is a new pair.
void read_steps(InstantiationPlan& plan, Cell* result, const std::vector<Cell*>& raw,
                const std::unordered_set<Cell*>& body_cells) {
  std::unordered_set<Cell*> built;
  // Post-order: a cell is visited, then (for a new pair) built once both of
  // its parts are on the result stack.
  struct Task {
    Cell* cell;
    bool build;
  };
  std::vector<Task> tasks{{result, false}};
  while (!tasks.empty()) {
    Task task = tasks.back();
    tasks.pop_back();
    Cell* c = task.cell;
    if (task.build) {
      // The stand-ins are closed, as the arguments are.
      plan.steps.push_back(
          {InstantiationPlan::Build, 0, builds_plain_pair(c, raw), false, {node_mask(c)}, {nullptr}});
      plan.steps.back().call = 0;  // the member a Build reads
      continue;
    }
    bool argument = false;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == c) {
        plan.steps.push_back(
            {InstantiationPlan::Argument, static_cast<uint8_t>(i), false, false, {}, {nullptr}});
        argument = true;
        break;
      }
    }
    if (argument) continue;
    if (body_cells.count(c) != 0) {
      const bool operator_head = is_atom(c) && done_constant_of_head(c) != nullptr;
      plan.steps.push_back({InstantiationPlan::Share, 0, false, operator_head, {}, {c}});
      plan.steps.back().evaluation = 0;  // the member a Share reads
      continue;
    }
    // A new pair; the literal rewrite makes each one for a single place, so
    // meeting one twice means the plan cannot describe the result.
    TOVE_ASSERT(is_pair(c));
    if (!built.insert(c).second) {
      plan.literal_only = true;
      plan.steps.clear();
      return;
    }
    tasks.push_back({c, true});
    tasks.push_back({pair_right(c), false});
    tasks.push_back({pair_left(c), false});
  }
}

bool is_binder(const Cell* c) {
  if (!is_atom(c)) return false;
  const unsigned char first = head_char(c);
  return (first == '\\' || first == '{') && atom_chars(c)[1] == '\0';
}

}  // namespace

// They are the backslash atom and "{", pairs whose left part is one, and
// the partial let (({ k) y). A lambda node is none of these.
bool shapes_binders(const Cell* c) {
  if (is_binder(c)) return true;
  if (is_atom(c)) return false;
  const Cell* left = pair_left(c);
  if (is_binder(left)) return true;
  return is_pair(left) && is_atom(pair_left(left)) && head_char(pair_left(left)) == '{' &&
         atom_chars(pair_left(left))[1] == '\0';
}

CellRef substitute_parameters(Cell* body, Cell* const* arguments, size_t count) {
  std::array<char, kMaxParameters> letters{};
  size_t params = 0;
  Cell* rest = strip_parameters(body, letters, params);
  TOVE_ASSERT(params == count);
  CellRef e = CellRef::retained(rest);
  for (size_t i = params; i-- > 0;) e = substitute(e.get(), letters[i], arguments[i]);
  return e;
}

namespace {

using Range = InstantiationPlan::Range;

// The left spine of the subtree whose steps end just before `end`: the
// range of each level's argument, outermost first. `end` becomes the end of
// the spine's bottom cell, a single step.
std::vector<Range> spine_levels(const InstantiationPlan& plan, const std::vector<uint32_t>& start,
                                uint32_t& end) {
  const auto& steps = plan.steps;
  std::vector<Range> levels;
  // Each level's argument ends just before the level's Build step, and its
  // function part just before that.
  while (steps[end - 1].op == InstantiationPlan::Build) {
    const uint32_t argument_end = end - 1;
    const uint32_t argument_begin = start[argument_end - 1];
    levels.push_back({argument_begin, argument_end});
    end = argument_begin;
  }
  return levels;
}

// The arguments of the over-applied levels of the subtree whose steps end
// just before `end`, outermost first, when its head is a cell of the body
// whose arity makes two or more levels over-applied whatever the
// arguments are; `focus_end` becomes the end of the steps that build the
// rest. Empty for any other subtree.
std::vector<Range> negative_levels(const InstantiationPlan& plan, const std::vector<uint32_t>& start,
                                   uint32_t end, uint32_t& focus_end) {
  std::vector<Range> levels = spine_levels(plan, start, end);
  const InstantiationPlan::Step& bottom = plan.steps[end - 1];
  if (bottom.op != InstantiationPlan::Share || levels.size() < 2 || is_data(bottom.cell)) return {};
  // Level j (j arguments applied) has the arity of the head decreased j
  // times, except that the unbounded arity and the floor stay.
  int arity = node_arity(bottom.cell);
  std::vector<int> level_arity(levels.size() + 1);
  for (size_t j = 1; j <= levels.size(); ++j) {
    if (arity != kArityUnbounded && arity > kArityFloor) --arity;
    level_arity[j] = arity;
  }
  // The innermost level (h a1) stays a pair: the machine rewrites an
  // operator head in place there. An operator (a constant whose body is a
  // done value, as "<" names `less`) goes in place over a whole spine of
  // done arguments at once, so the levels its value takes stay with it when
  // their arguments are single cells: the call is then rewritten at once,
  // not rebuilt level by level from frames. How many levels stay is only a
  // choice of how much to do at once, so an operator defined again later
  // changes nothing a program can see.
  size_t kept = 1;
  if (Cell* value = done_constant_of_head(bottom.cell)) {
    // A done value takes one argument or more.
    const int takes = node_arity(value);
    auto single = [&](size_t j) {
      return levels[levels.size() - j].end - levels[levels.size() - j].begin == 1;
    };
    if (takes != kArityUnbounded && single(1)) {
      while (kept < static_cast<size_t>(takes) && kept < levels.size() && single(kept + 1)) ++kept;
    }
  }
  std::vector<Range> negative;
  for (size_t j = levels.size(); j > kept && level_arity[j] < 0; --j) {
    negative.push_back(levels[levels.size() - j]);
    focus_end = levels[levels.size() - j].begin;
  }
  return negative;
}

// The start of the subtree that ends at each step.
std::vector<uint32_t> subtree_starts(const std::vector<InstantiationPlan::Step>& steps) {
  std::vector<uint32_t> start(steps.size());
  std::vector<uint32_t> open;  // starts of the subtrees waiting to be joined
  for (uint32_t i = 0; i < steps.size(); ++i) {
    if (steps[i].op == InstantiationPlan::Build) {
      open.pop_back();
      start[i] = open.back();
    } else {
      start[i] = i;
      open.push_back(i);
    }
  }
  return start;
}

// From the starts of the subtrees, the ranges of the arguments of the
// body's negative top levels, and of the negative top levels of those
// arguments in turn.
void read_top_levels(InstantiationPlan& plan) {
  const auto& steps = plan.steps;
  if (plan.literal_only || steps.empty()) return;
  const std::vector<uint32_t> start = subtree_starts(steps);
  uint32_t end = static_cast<uint32_t>(steps.size());
  const std::vector<Range> levels = spine_levels(plan, start, end);
  const InstantiationPlan::Step& bottom = steps[end - 1];
  if (bottom.op == InstantiationPlan::Argument && !levels.empty()) {
    bool simple = true;
    for (const Range& level : levels) simple = simple && level.end - level.begin == 1;
    if (simple) {
      plan.head_argument = bottom.argument;
      for (size_t j = levels.size(); j-- > 0;) plan.head_spine.push_back(steps[levels[j].begin]);
    }
  }
  plan.frame_arguments = negative_levels(plan, start, static_cast<uint32_t>(steps.size()), plan.focus_end);
  plan.top_parts = static_cast<uint32_t>(plan.frame_arguments.size());
  if (bottom.op == InstantiationPlan::Argument && plan.head_argument < 0 && !levels.empty() &&
      levels.size() <= kMaxSpine) {
    plan.applied_argument = bottom.argument;
    for (size_t j = levels.size(); j-- > 0;) {
      if (levels[j].end - levels[j].begin > 1) plan.applied_built |= 1u << plan.head_spine.size();
      plan.head_spine.push_back(steps[levels[j].begin]);
    }
    plan.frame_arguments = levels;
  }
  // A Deferred frame names its part in 16 bits.
  constexpr size_t kMostParts = size_t{UINT16_MAX} + 1;
  for (size_t i = 0; i < plan.frame_arguments.size(); ++i) {
    const Range part = plan.frame_arguments[i];
    if (part.end - part.begin < 2) continue;
    uint32_t focus_end = 0;
    std::vector<Range> inner = negative_levels(plan, start, part.end, focus_end);
    // Only a part of two arguments or more can be a choice that drops one,
    // and parts that are atoms or arguments save nothing unbuilt.
    bool saves = false;
    for (const Range& range : inner) saves = saves || range.end - range.begin > 1;
    if (inner.size() < 2 || !saves || plan.frame_arguments.size() + inner.size() > kMostParts) continue;
    Range& described = plan.frame_arguments[i];
    described.inner_first = static_cast<uint32_t>(plan.frame_arguments.size());
    described.inner_count = static_cast<uint32_t>(inner.size());
    described.inner_focus_end = focus_end;
    plan.frame_arguments.insert(plan.frame_arguments.end(), inner.begin(), inner.end());
  }
}

// An atom that may name a definition: a name, no data, no binder.
[[gnu::always_inline]] inline bool names_a_rule(Cell* c) {
  return is_atom(c) && !is_data(c) && atom_kind(c) == AtomKind::name && !is_binder(c);
}

// A head whose spine the machine evaluates the first `arity` arguments
// of, each before any rewrite: the name of a built-in or of a definition,
// of bounded arity one or more, with no lazy letter, no binder. The
// analysis of a body cell never changes, so neither does the answer.
bool evaluates_arguments(Cell* head, int* arity) {
  if (!names_a_rule(head) || is_lazy_head_atom(head)) return false;
  const Resolved& name = resolve(head);
  if (name.builtin == nullptr && name.slot == nullptr) return false;
  *arity = arity_of_bits(analysed_bits(head));
  return *arity >= 1 && *arity < kArityUnbounded;
}

// The step shares a cell of the body that is not done, as (cape [x]) in
// s + cape[x] is: the machine evaluates it first, and it is never a short
// integer.
bool is_pending_cell(const InstantiationPlan::Step& step) {
  return step.op == InstantiationPlan::Share && !is_done(step.cell);
}

// The subtree whose steps end at `root` is a call (f a b) of a built-in
// with a word rule (or an operator naming one), a and b single steps: one
// likely to be answered as it is built; not one with an operand that is
// a cell of the body not done.
bool answered_at_once(const InstantiationPlan& plan, uint32_t root) {
  const auto& steps = plan.steps;
  using Op = InstantiationPlan::Op;
  if (root < 4 || steps[root].op != Op::Build || steps[root - 1].op == Op::Build ||
      steps[root - 2].op != Op::Build || steps[root - 3].op == Op::Build || steps[root - 4].op != Op::Share) {
    return false;
  }
  return !is_pending_cell(steps[root - 1]) && !is_pending_cell(steps[root - 3]) &&
         word_rule_of_head(steps[root - 4].cell) != nullptr;
}

// The spine whose steps end at `root`: the root of each level's argument,
// outermost first, into `arguments`, and the step of its head.
uint32_t spine_arguments(const InstantiationPlan& plan, const std::vector<uint32_t>& start, uint32_t root,
                         std::vector<uint32_t>& arguments) {
  uint32_t node = root;
  while (plan.steps[node].op == InstantiationPlan::Build) {
    arguments.push_back(node - 1);
    node = start[node - 1] - 1;
  }
  return node;
}

// The longest spine of a body cell read through at the head of a spine
// the plan builds.
constexpr size_t kLongestSharedSpine = 4;

// The head atom of `cell`, a closed cell of the body at the head of a
// spine, (g c1 ... cm) with every ci done, and m in *levels; nullptr for
// any other cell.
Cell* shared_spine_head(Cell* cell, size_t* levels) {
  if (node_mask(cell) != 0) return nullptr;
  size_t m = 0;
  Cell* c = cell;
  for (; is_pair(c); c = pair_left(c)) {
    if (++m > kLongestSharedSpine || !is_done(pair_right(c))) return nullptr;
  }
  *levels = m;
  return c;
}

// The head atom of `cell`, a closed cell of the body at the head of a
// spine, (g c1 ... cm) with some ci not done, and m in *levels; one more
// than the index of the first such ci in *held. nullptr for any other
// cell. The machine, descending, evaluates that ci first, each cell
// after it waiting in an apply frame and (g c1 ... ci-1) in a function
// frame: all cells of the body, the same at every call.
Cell* held_spine_head(Cell* cell, size_t* levels, uint32_t* held) {
  if (node_mask(cell) != 0) return nullptr;
  size_t m = 0;
  size_t first = 0;
  Cell* c = cell;
  for (; is_pair(c) && !is_data(c); c = pair_left(c)) {
    if (++m > kLongestSharedSpine) return nullptr;
    if (!is_done(pair_right(c))) first = m;
  }
  if (first == 0 || !is_atom(c)) return nullptr;
  *levels = m;
  *held = static_cast<uint32_t>(m - first + 1);
  return c;
}

// Word trees nest no deeper than this, so that working one out takes
// little native stack.
constexpr uint8_t kDeepestWordTree = 8;
// Nor do descents inside descents, which are built by recursion too.
constexpr uint32_t kDeepestDescent = 8;
constexpr uint32_t kNoEntry = UINT32_MAX;

// A name defined, for now, as \v (v c) with c a name, or \v ((v c) x)
// with x an atom: a helper that may take a part from a pair, or apply the
// part to x, as tl\s\s H I does (see part_selected_by_helper and
// part_applied_by_helper, which ask its plan whenever it is called).
bool may_select(Cell* name) {
  if (!names_a_rule(name)) return false;
  const Resolved& entry = resolve(name);
  if (entry.builtin != nullptr || entry.slot == nullptr) return false;
  Cell* body = entry.slot->get();
  if (!is_lambda_node(body)) return false;
  Cell* inner = pair_right(body);
  if (is_pair(inner) && is_pair(pair_left(inner)) && is_atom(pair_right(inner))) inner = pair_left(inner);
  return is_pair(inner) && is_atom(pair_left(inner)) && !is_data(pair_left(inner)) &&
         atom_text(pair_left(inner)) == atom_text(pair_right(pair_left(body))) &&
         names_a_rule(pair_right(inner));
}

// Marks the steps [begin, end) when they build (s K) or (hd s), s an
// argument (see InstantiationPlan::Step::evaluation).
bool mark_selection(InstantiationPlan& plan, uint32_t begin, uint32_t end) {
  auto& steps = plan.steps;
  using Op = InstantiationPlan::Op;
  // ((s c) x), as s H I forces a stream's tail: the part, applied to x;
  // and a chain (((s c1) c2) c3), as m H H K reads a field of a record
  // made of pairs: each selector after the first takes a part of the part
  // before where it can, and is applied to it otherwise.
  if (end - begin >= 5 && (end - begin) % 2 == 1 && steps[begin + 2].op == Op::Build) {
    for (uint32_t level = begin + 3; level < end; level += 2) {
      if (steps[level].op == Op::Build || steps[level + 1].op != Op::Build) return false;
    }
    return mark_selection(plan, begin, begin + 3);
  }
  if (end - begin != 3) return false;
  if (steps[begin].op == Op::Argument && steps[begin + 1].op == Op::Share &&
      names_a_rule(steps[begin + 1].cell)) {
    steps[begin].evaluation = InstantiationPlan::kSelected;
    return true;
  }
  if (steps[begin].op == Op::Share && steps[begin + 1].op == Op::Argument && may_select(steps[begin].cell)) {
    steps[begin + 1].evaluation = InstantiationPlan::kSelectedByHelper;
    return true;
  }
  return false;
}

// Marks the word trees among the calls from `first` on (see
// InstantiationPlan::Evaluation). A call is marked after the calls inside
// it, which find_evaluations_in marks later.
void find_word_trees(InstantiationPlan& plan, const std::vector<uint32_t>& start, size_t first) {
  auto& steps = plan.steps;
  // The depth of the word tree the operand whose steps end at `root`
  // makes: 0 for a single step, -1 when it is no word tree.
  auto operand_depth = [&](uint32_t root) -> int {
    if (steps[root].op != InstantiationPlan::Build) return 0;
    if (start[root] + 2 == root && mark_selection(plan, root - 2, root + 1)) return 0;
    const InstantiationPlan::Step& head = steps[start[root]];
    if (head.op != InstantiationPlan::Share || head.evaluation == 0) return -1;
    const InstantiationPlan::Evaluation& call = plan.evaluations[head.evaluation - 1];
    return call.word_depth != 0 && call.end == root + 1 ? call.word_depth : -1;
  };
  for (size_t i = plan.evaluations.size(); i-- > first;) {
    InstantiationPlan::Evaluation& call = plan.evaluations[i];
    if (call.single) {
      call.word_depth = call.values != nullptr ? 1 : 0;
      continue;
    }
    const uint32_t second_root = call.end - 2;
    const int a = call.prefixed ? 0 : operand_depth(start[second_root] - 2);
    const int b = operand_depth(second_root);
    const int depth = 1 + std::max(a, b);
    if (a < 0 || b < 0 || depth > kDeepestWordTree) continue;
    steps[call.head].evaluation = static_cast<uint32_t>(i) + 1;
    if (call.values != nullptr) call.word_depth = static_cast<uint8_t>(depth);
  }
}

// Marks the calls of the focus whose steps are [begin, end) that the
// machine evaluates at once (see InstantiationPlan::evaluations). From its
// root down, a spine in such a place has each argument its head evaluates
// in such a place too; an operator head answers for its value, and the
// path below it holds only while the operator names that value. Answers
// the focus's descent (see InstantiationPlan::descents).
uint32_t find_evaluations_in(InstantiationPlan& plan, const std::vector<uint32_t>& start, uint32_t begin,
                             uint32_t end) {
  uint32_t descent = 0;
  const size_t first_evaluation = plan.evaluations.size();
  struct Place {
    uint32_t root;
    std::vector<const CellRef*> guards;  // the slots of the operators above
    // The entry of `descent_arguments` this place is, when the spine
    // around it has a descent, and how many descents are around it.
    uint32_t entry = kNoEntry;
    uint32_t nesting = 0;
  };
  auto& steps = plan.steps;
  std::vector<Place> places{{end - 1, {}}};
  while (!places.empty()) {
    Place place = std::move(places.back());
    places.pop_back();
    // The spine's levels, outermost first, each by the root of its argument.
    std::vector<uint32_t> arguments;
    const uint32_t node = spine_arguments(plan, start, place.root, arguments);
    TOVE_ASSERT(node >= begin);
    InstantiationPlan::Step& head = steps[node];
    if (head.op != InstantiationPlan::Share) continue;
    // A head cell that is a spine itself gives the spine's first levels
    // (see InstantiationPlan::Descent).
    Cell* named = head.cell;
    size_t shared = 0;
    uint32_t held = 0;
    if (is_pair(named)) {
      named = shared_spine_head(head.cell, &shared);
      if (named == nullptr && (named = held_spine_head(head.cell, &shared, &held)) == nullptr) continue;
    }
    // The focus's own spine has a descent; so has a spine that is an
    // argument in a descent (to kDeepestDescent), which becomes the focus
    // when it is built not done: the arithmetic, comparisons and calls
    // nested in a call, and the parts of a pair.
    const bool descends =
        place.root == end - 1 || (place.entry != kNoEntry && place.nesting < kDeepestDescent);
    // A partial application of a lazy head, as V x y, is taken apart in
    // the same way when no apply frame waits above it, and the machine
    // then evaluates its arguments too, any call they are descended into
    // as well. Else it rewrites them unevaluated: the focus is built with
    // none of their calls evaluated (see run_focus_steps). Inside a
    // descent the frame above is the function frame of the spine around
    // it. Its first levels may be a done cell of the body, as (V H) is in
    // V H (V x y), which the machine keeps as it stands.
    //
    // At the root a part built is worth descending to; inside a descent,
    // only a part not answered as it is built, the machine's next focus.
    auto worth_descending = [&](uint32_t root) {
      if (place.root == end - 1) return steps[root].op == InstantiationPlan::Build;
      return !answered_at_once(plan, root) &&
             (steps[root].op == InstantiationPlan::Build || is_pending_cell(steps[root]));
    };
    if (held == 0 && is_lazy_head_atom(named)) {
      const size_t levels = arguments.size();
      const int arity = arity_of_bits(analysed_bits(named));
      if (descends && levels >= 1 && shared + levels < static_cast<size_t>(arity) &&
          arity < kArityUnbounded && std::any_of(arguments.begin(), arguments.end(), worth_descending)) {
        const auto index = static_cast<uint32_t>(plan.descents.size()) + 1;
        if (place.root == end - 1) {
          descent = index;
        } else {
          plan.descent_arguments[place.entry].descent = index;
        }
        const auto first_entry = static_cast<uint32_t>(plan.descent_arguments.size());
        plan.descents.push_back({node, first_entry, static_cast<uint32_t>(levels),
                                 static_cast<uint32_t>(plan.guards.size()), 0, static_cast<uint32_t>(shared),
                                 false, true});
        for (size_t j = 1; j <= levels; ++j) {
          const uint32_t root = arguments[levels - j];
          plan.descent_arguments.push_back({start[root], root + 1});
          plan.descent_arguments.back().selection = mark_selection(plan, start[root], root + 1);
        }
        for (size_t j = 1; j <= levels; ++j) {
          places.push_back(
              {arguments[levels - j], {}, first_entry + static_cast<uint32_t>(j - 1), place.nesting + 1});
        }
      }
      continue;
    }
    Cell* value = done_constant_of_head(named);
    if (held != 0 && value != nullptr) continue;
    if (value != nullptr) {
      if (shared != 0 && shapes_binders(value)) continue;
      place.guards.push_back(resolve(named).slot);
      named = value;
    } else if (held == 0 && shared != 0 && !is_done(head.cell)) {
      continue;
    }
    int arity = 0;
    if (!evaluates_arguments(named, &arity) || static_cast<size_t>(arity) <= shared) continue;
    const size_t levels = arguments.size();
    const size_t evaluated = std::min(levels, static_cast<size_t>(arity) - shared);
    const WordRule rule = word_rule_of(named);
    // Whether an argument is done is known only once it is built; one of
    // the call's arguments is, and so is a call likely answered as it is
    // built.
    auto maybe_pending = [&](uint32_t root) {
      const InstantiationPlan::Step& step = steps[root];
      if (step.op == InstantiationPlan::Argument ||
          (step.op == InstantiationPlan::Share && is_done(step.cell))) {
        return false;
      }
      return !answered_at_once(plan, root);
    };
    uint32_t first_entry = kNoEntry;
    if (descends && levels >= 1 && levels == evaluated && !answered_at_once(plan, place.root) &&
        (held != 0 || std::any_of(arguments.begin(), arguments.end(), maybe_pending))) {
      const auto index = static_cast<uint32_t>(plan.descents.size()) + 1;
      if (place.root == end - 1) {
        descent = index;
      } else {
        plan.descent_arguments[place.entry].descent = index;
      }
      first_entry = static_cast<uint32_t>(plan.descent_arguments.size());
      plan.descents.push_back({node, first_entry, static_cast<uint32_t>(levels),
                               static_cast<uint32_t>(plan.guards.size()),
                               static_cast<uint32_t>(place.guards.size()), static_cast<uint32_t>(shared),
                               value != nullptr, false, held});
      for (const CellRef* slot : place.guards) plan.guards.push_back({slot, slot->share()});
      for (size_t j = 1; j <= levels; ++j) {
        const uint32_t root = arguments[levels - j];
        plan.descent_arguments.push_back({start[root], root + 1});
        plan.descent_arguments.back().selection = mark_selection(plan, start[root], root + 1);
      }
    }
    for (size_t j = 1; j <= evaluated; ++j) {
      const uint32_t entry = first_entry == kNoEntry ? kNoEntry : first_entry + static_cast<uint32_t>(j - 1);
      places.push_back({arguments[levels - j], place.guards, entry, place.nesting + 1});
    }
    // (f a b): with a and b single steps, its two levels are the steps
    // after f's; else the pairs that a's steps and b's end in. With (f a)
    // one cell, its one level is the pair b's steps end in.
    if (rule == nullptr || held != 0 || arity != 2 || shared + levels < 2 || shared > 1) continue;
    // An operand that is a cell of the body not done is no short integer:
    // the call is descended instead.
    if (std::any_of(arguments.begin(), arguments.end(),
                    [&](uint32_t root) { return is_pending_cell(steps[root]); })) {
      continue;
    }
    const auto marked = static_cast<uint32_t>(plan.evaluations.size()) + 1;
    const uint32_t second = arguments[levels - 2 + shared];
    const bool single =
        shared != 0 ? second == node + 1 : arguments[levels - 1] == node + 1 && second == node + 3;
    if (single) {
      head.evaluation = marked;
    } else {
      if (shared == 0) steps[arguments[levels - 1] + 1].call = InstantiationPlan::kJoinsHead;
      steps[second + 1].call = marked;
    }
    const BuiltinEntry* builtin = binary_builtin_of(named);
    plan.evaluations.push_back(
        {rule, builtin->truths, builtin->values, static_cast<uint32_t>(plan.guards.size()),
         static_cast<uint32_t>(place.guards.size()), node, start[second], second + 2, single, shared != 0});
    for (const CellRef* slot : place.guards) plan.guards.push_back({slot, slot->share()});
  }
  find_word_trees(plan, start, first_evaluation);
  return descent;
}

// The call the whole body is, (f a b) of a built-in with a word rule (or
// an operator naming one), a and b single steps or calls of value rules
// in words (or (f a) one cell of the body): its mark as an evaluation,
// or 0. A call over-applied through its operator, whose second operand is
// a part of the top levels, is marked here alone: no step names it, and
// only the body as a whole is asked for it.
uint32_t whole_call(InstantiationPlan& plan, const std::vector<uint32_t>& start) {
  const auto& steps = plan.steps;
  const auto all = static_cast<uint32_t>(steps.size());
  std::vector<uint32_t> arguments;
  const uint32_t node = spine_arguments(plan, start, all - 1, arguments);
  const InstantiationPlan::Step& head = steps[node];
  if (head.op != InstantiationPlan::Share) return 0;
  if (head.evaluation != 0) return plan.evaluations[head.evaluation - 1].end == all ? head.evaluation : 0;
  Cell* named = head.cell;
  size_t shared = 0;
  if (is_pair(named) && (named = shared_spine_head(head.cell, &shared)) == nullptr) return 0;
  if (arguments.empty() || shared + arguments.size() != 2) return 0;
  const CellRef* guard = nullptr;
  if (Cell* value = done_constant_of_head(named)) {
    guard = resolve(named).slot;
    named = value;
  }
  const BuiltinEntry* builtin = binary_builtin_of(named);
  if (builtin == nullptr || builtin->words == nullptr) return 0;
  // An operand in words: a single step, or a call of a value rule whose
  // steps it is.
  auto in_words = [&](uint32_t root) {
    if (steps[root].op != InstantiationPlan::Build) return true;
    const InstantiationPlan::Step& inner = steps[start[root]];
    if (inner.op != InstantiationPlan::Share || inner.evaluation == 0) return false;
    const InstantiationPlan::Evaluation& call = plan.evaluations[inner.evaluation - 1];
    return call.word_depth != 0 && call.end == root + 1;
  };
  const uint32_t second = arguments[0];
  if (!in_words(second) || (shared == 0 && !in_words(arguments[1]))) return 0;
  const bool single = steps[second].op != InstantiationPlan::Build &&
                      (shared != 0 || steps[arguments[1]].op != InstantiationPlan::Build);
  plan.evaluations.push_back({builtin->words, builtin->truths, builtin->values,
                              static_cast<uint32_t>(plan.guards.size()), guard != nullptr ? 1u : 0u, node,
                              start[second], all, single, shared != 0});
  if (guard != nullptr) plan.guards.push_back({guard, guard->share()});
  return static_cast<uint32_t>(plan.evaluations.size());
}

// The foci a plan builds: the body's, or what its top levels leave of it,
// and each frame argument's, or what its own top levels leave of it. They
// share no step.
void find_evaluations(InstantiationPlan& plan) {
  // The least call has three steps: (f a) one cell of the body, and b.
  if (plan.literal_only || plan.steps.size() < 3) return;
  const std::vector<uint32_t> start = subtree_starts(plan.steps);
  const auto all = static_cast<uint32_t>(plan.steps.size());
  plan.focus_descent = find_evaluations_in(plan, start, 0, plan.top_parts != 0 ? plan.focus_end : all);
  for (Range& range : plan.frame_arguments) {
    range.descent = find_evaluations_in(plan, start, range.begin,
                                        range.inner_count != 0 ? range.inner_focus_end : range.end);
    // A part that is a selection, m H H K, is built evaluated only as the
    // focus it becomes: the part it selects is taken then.
    if (range.inner_count == 0) mark_selection(plan, range.begin, range.end);
  }
  // The calls marked inside the levels of a body that applies an argument
  // are evaluated at once only where a level becomes the focus: the body
  // as a whole is built valued, by a lazy descent that never descends.
  if (plan.applied_argument >= 0 && plan.focus_descent == 0) {
    plan.descents.push_back({0, 0, 0, 0, 0, 0, false, true});
    plan.focus_descent = static_cast<uint32_t>(plan.descents.size());
  }
  // An argument the plan works out in words is built so, never descended.
  for (InstantiationPlan::Steps& argument : plan.descent_arguments) {
    if (argument.descent != 0 && plan.steps[plan.descents[argument.descent - 1].head].evaluation != 0) {
      argument.descent = 0;
    }
  }
  // A body that is one comparison, or one call of a value rule, in words.
  if (const uint32_t root = whole_call(plan, start)) {
    const InstantiationPlan::Evaluation& call = plan.evaluations[root - 1];
    if (call.truth != nullptr) plan.truth_root = root;
    if (call.values != nullptr) plan.value_root = root;
  }
}

// Takes the rewrites of lazy heads that a settled plan has taken (see
// InstantiationPlan::settled) in the literal rewrite of a body on
// stand-ins. Cells of the lazy heads' bodies join `body_cells`, and the
// names read go into `guards`.
class Settler {
 public:
  Settler(const std::vector<Cell*>& stand_ins, std::unordered_set<Cell*>& body_cells,
          std::vector<InstantiationPlan::Guard>& guards)
      : stand_ins_(stand_ins), body_cells_(body_cells), guards_(guards) {}

  // The tree c, a place the machine evaluates at once, with those rewrites
  // taken in it; `depth` places are around it. Places nested deeper keep
  // their rewrites for the machine, so that the native stack this takes
  // stays small however deep the body is.
  CellRef settle(Cell* c, int depth = 0) {
    CellRef tree = CellRef::retained(c);
    if (depth == kDeepestPlace) return tree;
    while (rewrites_left_ > 0) {
      CellRef rewritten = rewrite_lazy_head(tree.get());
      if (!rewritten) break;
      tree = std::move(rewritten);
      --rewrites_left_;
    }
    // The arguments a strict head evaluates are such places too.
    std::vector<Cell*> arguments;
    Cell* head = spine_of(tree.get(), arguments);
    const CellRef* operator_slot = nullptr;
    Cell* named = named_by(head, &operator_slot);
    int arity = 0;
    if (arguments.empty() || !evaluates_arguments(named, &arity)) return tree;
    std::vector<CellRef> parts;
    size_t first_changed = arguments.size();
    for (size_t i = 0; i < arguments.size(); ++i) {
      parts.push_back(i < static_cast<size_t>(arity) ? settle(arguments[i], depth + 1)
                                                     : CellRef::retained(arguments[i]));
      if (parts.back().get() != arguments[i] && first_changed == arguments.size()) first_changed = i;
    }
    if (first_changed == arguments.size()) return tree;
    if (operator_slot != nullptr) guards_.push_back({operator_slot, operator_slot->share()});
    // The machine keeps the spine below the first argument it evaluates
    // to something else, and builds each level from there up as the
    // values return: a level below may be a cell of the body, which a
    // result can share.
    Cell* below = tree.get();
    for (size_t i = arguments.size(); i > first_changed; --i) below = pair_left(below);
    CellRef rebuilt = CellRef::retained(below);
    for (size_t i = first_changed; i < parts.size(); ++i) {
      rebuilt = make_analysed_pair(std::move(rebuilt), std::move(parts[i]));
    }
    return rebuilt;
  }

  // Some stand-in is an argument of a rewrite taken, or reaches the
  // binder shape of one: the real argument's shape must be looked at.
  bool arguments_lead() const { return arguments_lead_; }

 private:
  bool is_stand_in(Cell* c) const {
    return std::find(stand_ins_.begin(), stand_ins_.end(), c) != stand_ins_.end();
  }
  bool is_new_pair(Cell* c) const { return is_pair(c) && body_cells_.count(c) == 0 && !is_stand_in(c); }

  // What a head stands for: the value of an operator, whose slot goes in
  // `*operator_slot`, or the head itself.
  static Cell* named_by(Cell* head, const CellRef** operator_slot) {
    Cell* value = done_constant_of_head(head);
    if (value == nullptr) return head;
    *operator_slot = resolve(head).slot;
    return value;
  }

  // The spine of c, as walk_spine reads it: its head, and its arguments,
  // a1 first. Its levels may be cells of the body: the machine reads them
  // and builds new ones.
  static Cell* spine_of(Cell* c, std::vector<Cell*>& arguments) {
    arguments.clear();
    while (is_pair(c) && !is_data(c) && arguments.size() < kMaxSpine) {
      arguments.push_back(pair_right(c));
      c = pair_left(c);
    }
    std::reverse(arguments.begin(), arguments.end());
    return c;
  }

  // (L a1 ... ak) rewritten to (body[a1 ... ap] a(p+1) ... ak), or empty
  // when the spine's head is no lazy-head global that the rewrite can be
  // taken for.
  CellRef rewrite_lazy_head(Cell* c) {
    std::vector<Cell*> arguments;
    Cell* head = spine_of(c, arguments);
    if (arguments.empty() || !is_atom(head) || atom_kind(head) != AtomKind::name) return {};
    const CellRef* operator_slot = nullptr;
    Cell* named = named_by(head, &operator_slot);
    if (!is_lazy_head_atom(named) || atom_kind(named) != AtomKind::name) return {};
    const Resolved& name = resolve(named);
    if (name.builtin != nullptr || name.slot == nullptr) return {};
    Cell* body = name.slot->get();
    size_t p = 0;
    for (Cell* rest = body; is_lambda_node(rest); rest = pair_right(rest)) ++p;
    if (p == 0 || p > arguments.size() || node_arity(named) != static_cast<int>(p)) return {};
    bool lead = false;
    for (size_t i = 0; i < p; ++i) {
      Cell* a = arguments[i];
      // A binder shape among the arguments could make the rewrite walk
      // the body otherwise; a stand-in may stand for one.
      if (!is_stand_in(a) && shapes_binders(a)) return {};
      lead = lead || is_stand_in(a) ||
             (is_pair(a) &&
              (is_stand_in(pair_left(a)) || (is_pair(pair_left(a)) && is_stand_in(pair_left(pair_left(a))))));
    }
    CellRef result = substitute_parameters(body, arguments.data(), p);
    // A new pair put in two places would be one cell shared, where the
    // plan builds one cell per place.
    for (size_t i = 0; i < p; ++i) {
      if (is_new_pair(arguments[i]) && occurrences(result.get(), arguments[i]) > 1) return {};
    }
    arguments_lead_ = arguments_lead_ || lead;
    if (operator_slot != nullptr) guards_.push_back({operator_slot, operator_slot->share()});
    guards_.push_back({name.slot, name.slot->share()});
    std::array<char, kMaxParameters> letters{};
    size_t count = 0;
    collect_cells(strip_parameters(body, letters, count), body_cells_);
    for (size_t i = p; i < arguments.size(); ++i) {
      result = make_analysed_pair(std::move(result), CellRef::retained(arguments[i]));
    }
    return result;
  }

  // How often `part`, a new pair, occurs in the tree c. Only new pairs
  // hold it, and they share no part but the body's cells and the
  // stand-ins, so the walk is as long as the tree.
  size_t occurrences(Cell* c, Cell* part) const {
    size_t found = 0;
    std::vector<Cell*> stack{c};
    while (!stack.empty()) {
      Cell* x = stack.back();
      stack.pop_back();
      if (x == part) {
        ++found;
      } else if (is_new_pair(x)) {
        stack.push_back(pair_left(x));
        stack.push_back(pair_right(x));
      }
    }
    return found;
  }

  static constexpr int kDeepestPlace = 32;
  const std::vector<Cell*>& stand_ins_;
  std::unordered_set<Cell*>& body_cells_;
  std::vector<InstantiationPlan::Guard>& guards_;
  // A lazy head whose rewrite is a spine of itself again would rewrite for
  // ever; a body takes this many rewrites at most.
  int rewrites_left_ = 64;
  bool arguments_lead_ = false;
};

void find_choices(InstantiationPlan& plan, const std::vector<Cell*>& raw,
                  const std::unordered_set<Cell*>& body_cells, uint32_t nesting);
void find_lets(InstantiationPlan& plan, const std::vector<Cell*>& raw,
               const std::unordered_set<Cell*>& body_cells, uint32_t nesting);

// The rule shapes of a plan (see InstantiationPlan::pair_rule).
void read_rule_shape(InstantiationPlan& plan) {
  using Op = InstantiationPlan::Op;
  if (plan.literal_only) return;
  const auto& spine = plan.head_spine;
  plan.pair_rule = plan.parameters == 3 && plan.head_argument == 2 && spine.size() == 2 &&
                   spine[0].op == Op::Argument && spine[0].argument == 0 && spine[1].op == Op::Argument &&
                   spine[1].argument == 1;
  if (plan.steps.size() != 1) return;
  const InstantiationPlan::Step& only = plan.steps[0];
  if (plan.parameters == 2 && only.op == Op::Argument) plan.selects = static_cast<int8_t>(only.argument);
  plan.gives_name = plan.parameters == 1 && only.op == Op::Share && names_a_rule(only.cell);
  plan.gives_own = plan.parameters == 1 && only.op == Op::Argument;
}

// Fills the plan of `plan.body` from `result`, its literal rewrite on the
// stand-ins `raw` (see read_steps).
void read_plan(InstantiationPlan& plan, Cell* result, const std::vector<Cell*>& raw,
               const std::unordered_set<Cell*>& body_cells, uint32_t nesting = 0) {
  read_steps(plan, result, raw, body_cells);
  read_top_levels(plan);
  find_evaluations(plan);
  for (const InstantiationPlan::Step& step : plan.steps) {
    if (step.op == InstantiationPlan::Share) register_lambdas(step.cell);
  }
  // Where each argument lands: a part is an argument, or a new pair whose
  // left part is one.
  struct Part {
    bool argument;
    bool left_argument;
  };
  std::vector<Part> parts;
  for (const InstantiationPlan::Step& step : plan.steps) {
    if (step.op != InstantiationPlan::Build) {
      parts.push_back({step.op == InstantiationPlan::Argument, false});
      continue;
    }
    parts.pop_back();
    const Part left = parts.back();
    if (left.argument || left.left_argument) plan.arguments_lead = true;
    parts.back() = {false, left.argument};
  }
  size_t waiting = 0;
  for (const InstantiationPlan::Step& step : plan.steps) {
    waiting = step.op == InstantiationPlan::Build ? waiting - 1 : waiting + 1;
    if (waiting > plan.depth) plan.depth = waiting;
  }
  // A call being evaluated may keep its head and first argument apart, one
  // part more waiting for each call inside its second argument.
  plan.depth += plan.evaluations.size();
  read_rule_shape(plan);
  if (!plan.literal_only && !g_watching) {
    find_choices(plan, raw, body_cells, nesting);
    find_lets(plan, raw, body_cells, nesting);
  }
}

void number_plan(InstantiationPlan& plan) {
  plan.number = static_cast<uint32_t>(numbered_plans().size());
  numbered_plans().push_back(&plan);
}

// The plan of `result`, the body's literal rewrite on the stand-ins `raw`
// with the rewrites of lazy heads taken (see InstantiationPlan::settled),
// or nullptr when it takes none, or one whose result could depend on the
// arguments' shapes in a way its steps cannot show.
std::unique_ptr<InstantiationPlan> settled_plan(const InstantiationPlan& plan, Cell* result,
                                                const std::vector<Cell*>& raw,
                                                std::unordered_set<Cell*>& body_cells) {
  std::vector<InstantiationPlan::Guard> guards;
  Settler settler(raw, body_cells, guards);
  const CellRef settled = settler.settle(result);
  if (settled.get() == result) return nullptr;
  auto other = std::make_unique<InstantiationPlan>();
  other->body = plan.body.share();
  other->parameters = plan.parameters;
  read_plan(*other, settled.get(), raw, body_cells);
  other->arguments_lead = other->arguments_lead || settler.arguments_lead();
  // A result of one step is taken whatever the arguments are, so it may
  // not depend on their shapes.
  if (other->literal_only || (other->steps.size() == 1 && other->arguments_lead)) return nullptr;
  other->read_through = std::move(guards);
  number_plan(*other);
  return other;
}

// The tree the steps [begin, end) build, of new pairs over the cells they
// share and the stand-ins `raw`.
CellRef tree_of_steps(const InstantiationPlan& plan, uint32_t begin, uint32_t end,
                      const std::vector<Cell*>& raw) {
  std::vector<CellRef> parts;
  for (uint32_t i = begin; i < end; ++i) {
    const InstantiationPlan::Step& step = plan.steps[i];
    if (step.op == InstantiationPlan::Build) {
      CellRef right = std::move(parts.back());
      parts.pop_back();
      parts.back() = make_analysed_pair(std::move(parts.back()), std::move(right));
    } else {
      parts.push_back(
          CellRef::retained(step.op == InstantiationPlan::Share ? step.cell : raw[step.argument]));
    }
  }
  TOVE_ASSERT(parts.size() == 1);
  return std::move(parts.back());
}

// The steps [begin, end) of a descent's argument build a choice ((c x) y)
// whose test c may be answered as the argument is reached: a comparison
// marked as a call the plan works out in words, or a call of a named
// global on single steps, which may be a predicate. The test's steps are
// [begin, *test_end), x's [x->begin, x->end) and y's after.
bool reads_as_choice(const InstantiationPlan& plan, const std::vector<uint32_t>& start, uint32_t begin,
                     uint32_t end, uint32_t* test_end, InstantiationPlan::Steps* x,
                     InstantiationPlan::Steps* y) {
  using Op = InstantiationPlan::Op;
  const auto& steps = plan.steps;
  if (end - begin < 5 || steps[end - 1].op != Op::Build) return false;
  const uint32_t inner = start[end - 2] - 1;  // (c x)
  if (inner <= begin || steps[inner].op != Op::Build || start[inner] != begin) return false;
  const uint32_t x_begin = start[inner - 1];
  if (x_begin <= begin || start[x_begin - 1] != begin) return false;
  const InstantiationPlan::Step& head = steps[begin];
  if (head.op != Op::Share) return false;
  bool test = false;
  if (head.evaluation != 0) {
    const InstantiationPlan::Evaluation& call = plan.evaluations[head.evaluation - 1];
    test = call.truth != nullptr && call.end == x_begin;
  } else if (is_atom(head.cell) && atom_kind(head.cell) == AtomKind::name) {
    const uint32_t count = (x_begin - begin) / 2;
    test = count != 0 && x_begin - begin == 1 + 2 * count;
  }
  if (!test) return false;
  *test_end = x_begin;
  *x = {x_begin, inner};
  *y = {start[end - 2], end - 1};
  return true;
}

// Marks the choices among the plan's descent arguments and makes the
// plans of their parts (see InstantiationPlan::Steps::choice). The plan
// of a part is one of choices nested `nesting` deep; past the depth that
// descents reach, a part would never be taken.
void find_choices(InstantiationPlan& plan, const std::vector<Cell*>& raw,
                  const std::unordered_set<Cell*>& body_cells, uint32_t nesting) {
  if (plan.descent_arguments.empty() || nesting >= kDeepestDescent) return;
  const std::vector<uint32_t> start = subtree_starts(plan.steps);
  for (InstantiationPlan::Steps& argument : plan.descent_arguments) {
    uint32_t test_end = 0;
    InstantiationPlan::Steps x{}, y{};
    if (argument.descent != 0 ||
        !reads_as_choice(plan, start, argument.begin, argument.end, &test_end, &x, &y)) {
      continue;
    }
    InstantiationPlan::Choice choice{test_end, {}};
    bool any = false;
    for (size_t i = 0; i < 2; ++i) {
      const InstantiationPlan::Steps& side = i == 0 ? x : y;
      const CellRef tree = tree_of_steps(plan, side.begin, side.end, raw);
      auto part = std::make_unique<InstantiationPlan>();
      part->body = plan.body.share();
      part->parameters = plan.parameters;
      read_plan(*part, tree.get(), raw, body_cells, nesting + 1);
      if (part->literal_only || part->top_parts != 0) continue;
      number_plan(*part);
      choice.parts[i] = std::move(part);
      any = true;
    }
    if (!any) continue;
    plan.choices.push_back(std::move(choice));
    argument.choice = static_cast<uint32_t>(plan.choices.size());
  }
}

// The steps [begin, end) build a let node ((({ x) y) z), ({ x) one cell
// of the body: y's steps are [begin + 1, *z_begin - 1) and z's
// [*z_begin, end - 1).
bool reads_as_let(const InstantiationPlan& plan, const std::vector<uint32_t>& start, uint32_t begin,
                  uint32_t end, uint32_t* z_begin) {
  using Op = InstantiationPlan::Op;
  const auto& steps = plan.steps;
  if (end - begin < 5 || steps[end - 1].op != Op::Build) return false;
  const uint32_t left = start[end - 2] - 1;  // (({ x) y)
  if (left <= begin || steps[left].op != Op::Build || start[left] != begin || start[left - 1] != begin + 1) {
    return false;
  }
  const InstantiationPlan::Step& binder = steps[begin];
  if (binder.op != Op::Share || !is_pair(binder.cell) || !is_binder_text(pair_left(binder.cell), '{') ||
      !is_atom(pair_right(binder.cell))) {
    return false;
  }
  *z_begin = left + 1;
  return true;
}

// Gives each focus of the plan that is a let node its let (see
// InstantiationPlan::Let): the descent of its bound, and the plan of its
// body on one more parameter. A let plan's call is a spine of the
// arguments with the values of the lets around it after them, at most
// kMaxSpine long with the two levels of a lambda node's call; past
// kDeepestDescent lets inside lets, a let is built as written.
void find_lets(InstantiationPlan& plan, const std::vector<Cell*>& raw,
               const std::unordered_set<Cell*>& body_cells, uint32_t nesting) {
  if (nesting >= kDeepestDescent || raw.size() + 3 > kMaxSpine) return;
  const std::vector<uint32_t> start = subtree_starts(plan.steps);
  const auto all = static_cast<uint32_t>(plan.steps.size());
  auto give_let = [&](uint32_t begin, uint32_t end, uint32_t& descent) {
    uint32_t z_begin = 0;
    if (descent != 0 || plan.lets.size() > UINT16_MAX || !reads_as_let(plan, start, begin, end, &z_begin)) {
      return;
    }
    const char letter = static_cast<char>(head_char(pair_right(plan.steps[begin].cell)));
    const CellRef z = tree_of_steps(plan, z_begin, end - 1, raw);
    const CellRef value = make_update_marker(std::to_string(raw.size()));
    std::vector<Cell*> with_value = raw;
    with_value.push_back(value.get());
    const CellRef body = substitute(z.get(), letter, value.get());
    auto own = std::make_unique<InstantiationPlan>();
    own->body = plan.body.share();
    own->parameters = with_value.size();
    read_plan(*own, body.get(), with_value, body_cells, nesting + 1);
    if (own->literal_only) return;
    number_plan(*own);
    const size_t marked = plan.evaluations.size();
    const uint32_t bound_descent = find_evaluations_in(plan, start, begin + 1, z_begin - 1);
    plan.depth += plan.evaluations.size() - marked;
    plan.lets.push_back({begin + 1, z_begin - 1, bound_descent, z_begin, end - 1, letter, std::move(own)});
    plan.descents.push_back({begin, 0, 0, 0, 0, 0, false, true, 0, static_cast<uint32_t>(plan.lets.size())});
    descent = static_cast<uint32_t>(plan.descents.size());
  };
  give_let(0, plan.top_parts != 0 ? plan.focus_end : all, plan.focus_descent);
  for (Range& range : plan.frame_arguments) {
    give_let(range.begin, range.inner_count != 0 ? range.inner_focus_end : range.end, range.descent);
  }
}

// Settles the plan's parts that a rewrite may make the focus (see
// InstantiationPlan::settled_parts).
void settle_parts(InstantiationPlan& plan, const std::vector<Cell*>& raw,
                  std::unordered_set<Cell*>& body_cells) {
  for (size_t i = 0; i < plan.frame_arguments.size(); ++i) {
    const Range range = plan.frame_arguments[i];
    if (range.inner_count != 0 || range.end - range.begin < 3) continue;
    const CellRef part = tree_of_steps(plan, range.begin, range.end, raw);
    std::unique_ptr<InstantiationPlan> settled = settled_plan(plan, part.get(), raw, body_cells);
    if (settled == nullptr) continue;
    plan.settled_parts.push_back(std::move(settled));
    plan.frame_arguments[i].settled_part = static_cast<uint32_t>(plan.settled_parts.size());
  }
}

}  // namespace

const InstantiationPlan& plan_for(Cell* body) {
  auto [it, fresh] = plans().try_emplace(body);
  InstantiationPlan& plan = it->second;
  if (!fresh) return plan;
  plan.body = CellRef::retained(body);
  number_plan(plan);
  std::array<char, kMaxParameters> letters{};
  Cell* rest = strip_parameters(body, letters, plan.parameters);
  std::vector<CellRef> stand_ins;
  std::vector<Cell*> raw;
  for (size_t i = 0; i < plan.parameters; ++i) {
    stand_ins.push_back(make_update_marker(std::to_string(i)));
    raw.push_back(stand_ins.back().get());
  }
  const CellRef result = substitute_parameters(body, raw.data(), plan.parameters);
  std::unordered_set<Cell*> body_cells;
  collect_cells(rest, body_cells);
  read_plan(plan, result.get(), raw, body_cells);
  if (plan.literal_only || g_watching) return plan;
  settle_parts(plan, raw, body_cells);
  plan.settled = settled_plan(plan, result.get(), raw, body_cells);
  if (plan.settled != nullptr) settle_parts(*plan.settled, raw, body_cells);
  return plan;
}

namespace {

bool needs_literal_rewrite(const InstantiationPlan& plan, Cell* const* arguments) {
  if (plan.literal_only) return true;
  if (!plan.arguments_lead) return false;
  for (size_t i = 0; i < plan.parameters; ++i) {
    if (shapes_binders(arguments[i])) return true;
  }
  return false;
}

// The settled plan of the part `range` of `plan` (see
// InstantiationPlan::settled_parts), to build it as the evaluated focus
// from `arguments`; nullptr when there is none, when a name it was read
// through has another body, or when an argument's shape may change it.
const InstantiationPlan* settled_part(const InstantiationPlan& plan, const Range& range,
                                      Cell* const* arguments) {
  if (range.settled_part == 0) [[likely]]
    return nullptr;
  const InstantiationPlan& part = *plan.settled_parts[range.settled_part - 1];
  return names_hold(part) && !needs_literal_rewrite(part, arguments) ? &part : nullptr;
}

// Every operator the guards [first, first + count) name still has the
// body it had when the plan read through it.
bool guards_hold(const InstantiationPlan& plan, uint32_t first, uint32_t count) {
  for (uint32_t g = first; g < first + count; ++g) {
    const InstantiationPlan::Guard& guard = plan.guards[g];
    if (guard.slot->get() != guard.body.get()) return false;
  }
  return true;
}
// The same for the path of the marked call `call`.
bool guards_hold(const InstantiationPlan& plan, const InstantiationPlan::Evaluation& call) {
  return guards_hold(plan, call.first_guard, call.guard_count);
}

// The parts waiting while a plan runs. Plans never run inside one another,
// so one stack serves every call; each entry owns one count.
constinit std::vector<Cell*> g_plan_stack;

// The answer of the call (f a b) marked `marked` in the plan, with one
// count: the word rule's, when a and b are short integers and the
// operators on its path still have their bodies. nullptr when the call is
// to be built.
//
// The machine would evaluate the call before any rewrite of the focus: it
// lies in a function part or in an argument a strict head evaluates, all
// the way up, and Apply frames return plainly (the caller's condition). It
// would call the built-in's handler on (f a b) and put the answer in the
// call's place, each pair above it built again as the answer returns
// through the frames. The rule gives the handler's answer and neither
// fails nor has an effect, so asking it now reaches the same cells.
Cell* evaluated_call(const InstantiationPlan& plan, uint32_t marked, Cell* a, Cell* b) {
  int64_t x, y;
  if (!read_short_integer(a, &x) || !read_short_integer(b, &y)) return nullptr;
  const InstantiationPlan::Evaluation& call = plan.evaluations[marked - 1];
  if (!guards_hold(plan, call)) return nullptr;
  return answer_by_words(call.rule, x, y).leak();
}

// The same for a call marked `marked` whose (f a) is the body cell
// `shared`; on an answer the counts on `shared` and b are given up.
[[gnu::noinline]] Cell* evaluated_prefixed_call(const InstantiationPlan& plan, uint32_t marked, Cell* shared,
                                                Cell* b) {
  Cell* answer = evaluated_call(plan, marked, pair_right(shared), b);
  if (answer != nullptr) {
    release(shared);
    release(b);
  }
  return answer;
}

bool tree_operands(const InstantiationPlan& plan, uint32_t at, Cell* const* arguments, int64_t* x,
                   int64_t* y);

// The operands of a call of single steps whose (f a) is the body cell
// the step at `at` shares, as call_operands.
[[gnu::noinline]] bool prefixed_operands(const InstantiationPlan& plan, uint32_t at, Cell* const* arguments,
                                         int64_t* x, int64_t* y) {
  const InstantiationPlan::Step& b = plan.steps[at + 1];
  return read_short_integer(pair_right(plan.steps[at].cell), x) &&
         read_short_integer(step_cell(b, arguments), y);
}

// The operands of the call the step at `at` heads, as words, when its
// operators still have their bodies. Inline for a call of single steps,
// the most of them.
[[gnu::always_inline]] inline bool call_operands(const InstantiationPlan& plan, uint32_t at,
                                                 Cell* const* arguments, int64_t* x, int64_t* y) {
  const InstantiationPlan::Evaluation& call = plan.evaluations[plan.steps[at].evaluation - 1];
  if (!call.single) return tree_operands(plan, at, arguments, x, y);
  if (!guards_hold(plan, call)) return false;
  auto part = [&](const InstantiationPlan::Step& step) { return step_cell(step, arguments); };
  if (call.prefixed) [[unlikely]]
    return prefixed_operands(plan, at, arguments, x, y);
  return read_short_integer(part(plan.steps[at + 1]), x) && read_short_integer(part(plan.steps[at + 3]), y);
}

// A pair's rule, V x y c = c x y: its body applies its third parameter
// to the other two.
bool is_pair_rule(const InstantiationPlan* rule) { return rule != nullptr && rule->pair_rule; }

// The part, 0 or 1, of two done parts that `selector`, a name, takes: as
// K x y = x does by its own rule, or as H x = I with I y = y does through
// another; -1 for none. The slots of the names read go into `read`.
int selector_part(Cell* selector, std::array<const CellRef*, 2>* read) {
  const Resolved& name = resolve(selector);
  const InstantiationPlan* taker = current_plan_of(name);
  if (taker == nullptr) return -1;
  (*read)[0] = name.slot;
  if (taker->selects >= 0) return taker->selects;
  if (!taker->gives_name) return -1;
  const Resolved& given = resolve(taker->steps[0].cell);
  const InstantiationPlan* next = current_plan_of(given);
  (*read)[1] = given.slot;
  return next != nullptr && next->gives_own ? 1 : -1;
}

Cell* part_taken_by_selector(const std::array<Cell*, 2>& parts, Cell* selector) {
  std::array<const CellRef*, 2> read{};
  const int part = selector_part(selector, &read);
  return part >= 0 ? parts[part] : nullptr;
}

// The bodies the definitions `slots` held when an answer was read from
// their plans: the answer holds while each slot still holds its body. The
// counts on the bodies keep any other body from taking their addresses.
template <size_t N>
struct BodiesRead {
  std::array<const CellRef*, N> slots{};
  std::array<CellRef, N> bodies;
  void keep(const std::array<const CellRef*, N>& read) {
    for (size_t i = 0; i < N; ++i) {
      if (read[i] == nullptr) continue;
      slots[i] = read[i];
      bodies[i] = read[i]->share();
    }
  }
  [[gnu::always_inline]] bool hold() const {
    bool holds = true;
    for (size_t i = 0; i < N; ++i)
      holds = holds && (slots[i] == nullptr || slots[i]->get() == bodies[i].get());
    return holds;
  }
};

// The parts that selectors took from pairs of the heads a pair's rule
// names, each remembered by the two atoms, whose counts it holds so that
// no other atom takes their addresses, with the bodies of the names read.
// The two atoms choose a pair of places, the newer entry first, the one
// it displaced second. Dropped with the plans.
struct SelectionPart {
  CellRef head;
  CellRef selector;
  BodiesRead<3> read;
  int part = -1;
};
constinit std::array<SelectionPart, 16> g_selection_parts{};

size_t selection_place(const Cell* head, const Cell* selector) {
  const uintptr_t mixed =
      (reinterpret_cast<uintptr_t>(head) >> 4) ^ (reinterpret_cast<uintptr_t>(selector) >> 5);
  return static_cast<size_t>(mixed % (g_selection_parts.size() / 2)) * 2;
}

[[gnu::always_inline]] inline bool selection_holds(const SelectionPart& kept, Cell* head, Cell* selector) {
  return kept.head.get() == head && kept.selector.get() == selector && kept.read.hold();
}

// The part selector takes from a pair of the head `head`, worked out and
// kept first in its places; -1 when none is. Each name's entry is read before
// the next is resolved, which may take its place.
[[gnu::noinline]] int work_out_selection(Cell* head, Cell* selector) {
  if (!names_a_rule(selector) || !names_a_rule(head)) return -1;
  const Resolved& rule = resolve(head);
  if (!is_pair_rule(current_plan_of(rule))) return -1;
  const CellRef* rule_slot = rule.slot;
  std::array<const CellRef*, 2> read{};
  const int part = selector_part(selector, &read);
  if (part < 0) return -1;
  const size_t place = selection_place(head, selector);
  SelectionPart& kept = g_selection_parts[place];
  g_selection_parts[place + 1] = std::move(kept);
  kept = SelectionPart{};
  kept.head = CellRef::retained(head);
  kept.selector = CellRef::retained(selector);
  kept.read.keep({rule_slot, read[0], read[1]});
  kept.part = part;
  return part;
}

// The part `selector` takes from `pair`, borrowed: the pair a done partial
// application ((h x) y) of a definition whose body applies its third
// parameter to the other two (V x y s = s x y, or a program's own), and
// the selector a definition whose body gives one of its two parameters
// (K x y = x) or, with one, a definition that gives its own (H x = I,
// I y = y). Every part is done, so the machine rewrites (pair selector)
// at once, lazy heads or not, through those plans, to the very cell x or
// y; nullptr for anything else, while a plan is not made, or while
// watched.
[[gnu::noinline]] Cell* selected_part(Cell* pair, Cell* selector) {
  if (g_watching || !is_pair(pair) || is_data(pair) || !is_done(pair) || !is_pair(pair_left(pair)) ||
      is_data(pair_left(pair))) {
    return nullptr;
  }
  Cell* head = pair_left(pair_left(pair));
  const size_t place = selection_place(head, selector);
  int part;
  if (selection_holds(g_selection_parts[place], head, selector)) {
    part = g_selection_parts[place].part;
  } else if (selection_holds(g_selection_parts[place + 1], head, selector)) {
    part = g_selection_parts[place + 1].part;
  } else {
    part = work_out_selection(head, selector);
  }
  if (part < 0) return nullptr;
  return part == 0 ? pair_right(pair_left(pair)) : pair_right(pair);
}

}  // namespace

Cell* part_taken_by_pair_rule(const InstantiationPlan& rule, Cell* const* arguments) {
  if (!names_a_rule(arguments[2]) || g_watching || !is_pair_rule(&rule) || !is_done(arguments[0]) ||
      !is_done(arguments[1])) {
    return nullptr;
  }
  return part_taken_by_selector({arguments[0], arguments[1]}, arguments[2]);
}

Cell* part_selected_from(Cell* pair, Cell* selector) { return selected_part(pair, selector); }

Cell* part_selected_by_plan(const InstantiationPlan& plan, Cell* const* arguments) {
  const auto& steps = plan.steps;
  if (steps.size() != 3 || plan.literal_only || steps[0].op != InstantiationPlan::Argument ||
      steps[1].op != InstantiationPlan::Share) {
    return nullptr;
  }
  return selected_part(arguments[steps[0].argument], steps[1].cell);
}

namespace {

// The part the call (helper pair) takes, borrowed, for a helper of one
// parameter whose body is such a part (hd\l\l K); nullptr otherwise.
Cell* part_selected_by_helper(Cell* helper, Cell* pair) {
  if (!names_a_rule(helper)) return nullptr;
  const InstantiationPlan* plan = current_plan_of_head(helper);
  return plan != nullptr && plan->parameters == 1 ? part_selected_by_plan(*plan, &pair) : nullptr;
}

// The part the call (helper pair) applies to a cell of its body, borrowed,
// into *part, and that cell into *applied, for a helper of one parameter
// whose body is ((l c) x) (tl\s\s H I); false otherwise.
bool part_applied_by_helper(Cell* helper, Cell* pair, Cell** part, Cell** applied) {
  using Op = InstantiationPlan::Op;
  if (!names_a_rule(helper)) return false;
  const InstantiationPlan* plan = current_plan_of_head(helper);
  if (plan == nullptr || plan->parameters != 1 || plan->literal_only || plan->steps.size() != 5) return false;
  const auto& steps = plan->steps;
  if (steps[0].op != Op::Argument || steps[1].op != Op::Share || steps[2].op != Op::Build ||
      steps[3].op != Op::Share || steps[4].op != Op::Build) {
    return false;
  }
  *part = selected_part(pair, steps[1].cell);
  *applied = steps[3].cell;
  return *part != nullptr;
}

// The part a call (helper pair) takes, or the part applied as its body
// says, with one count; nullptr, with nothing built, for neither.
Cell* taken_by_helper(Cell* helper, Cell* pair) {
  if (Cell* part = part_selected_by_helper(helper, pair)) {
    retain(part);
    return part;
  }
  Cell* part;
  Cell* applied;
  if (!part_applied_by_helper(helper, pair, &part, &applied)) return nullptr;
  retain(part);
  retain(applied);
  return new_pair_of_analysed(part, applied);
}

// The argument whose steps [begin, begin + length) build (s c) or
// (hd s), marked so, as the part taken, one count; or, when they build
// ((s c) x ...) or a call of a helper whose body is one, with each x
// after it taking a part of that part in turn, or applied to it where it
// takes none: the rewrites of the pair and the selector would end there,
// and the pairs they rewrite are never built. nullptr, with nothing
// built, when no part is taken.
[[gnu::noinline]] Cell* selected_from_steps(const InstantiationPlan& plan, uint32_t begin, uint32_t length,
                                            Cell* const* arguments) {
  using Op = InstantiationPlan::Op;
  const InstantiationPlan::Step& first = plan.steps[begin];
  const InstantiationPlan::Step& second = plan.steps[begin + 1];
  Cell* part;
  if (first.op == Op::Share) {
    part = taken_by_helper(first.cell, arguments[second.argument]);
  } else if ((part = selected_part(arguments[first.argument], second.cell)) != nullptr) {
    retain(part);
  }
  if (part == nullptr) return nullptr;
  for (uint32_t level = begin + 3; level < begin + length; level += 2) {
    const InstantiationPlan::Step& applied = plan.steps[level];
    Cell* x = applied.op == Op::Share ? applied.cell : arguments[applied.argument];
    if (applied.op == Op::Share) {
      if (Cell* next = selected_part(part, x)) {
        retain(next);
        release(part);
        part = next;
        continue;
      }
    }
    retain(x);
    part = new_pair_of_analysed(part, x);
  }
  return part;
}

// The word of the operand whose steps start at `at`: a single step's short
// integer, or the value rule's answer to a call the step heads (see
// InstantiationPlan::Evaluation). False where a leaf is no short integer,
// a rule answers nothing or an answer is past the short integers.
bool word_of_steps(const InstantiationPlan& plan, uint32_t at, Cell* const* arguments, int64_t* out) {
  const InstantiationPlan::Step& step = plan.steps[at];
  if (step.op == InstantiationPlan::Argument) {
    Cell* operand = arguments[step.argument];
    if (step.evaluation != 0) [[unlikely]]
      operand = selected_part(operand, plan.steps[at + 1].cell);
    return operand != nullptr && read_short_integer(operand, out);
  }
  TOVE_ASSERT(step.op == InstantiationPlan::Share);
  if (step.evaluation == 0) {
    const InstantiationPlan::Step& next = plan.steps[at + 1];
    if (next.op == InstantiationPlan::Argument && next.evaluation == InstantiationPlan::kSelectedByHelper)
        [[unlikely]] {
      Cell* part = part_selected_by_helper(step.cell, arguments[next.argument]);
      return part != nullptr && read_short_integer(part, out);
    }
    return read_short_integer(step.cell, out);
  }
  const InstantiationPlan::Evaluation& call = plan.evaluations[step.evaluation - 1];
  int64_t x, y;
  return call.values != nullptr && call_operands(plan, at, arguments, &x, &y) && call.values(x, y, out) &&
         is_short_integer_value(*out);
}

// The operands of the call `call` as words, each a single step or a call
// of a value rule in words, when its operators still have their bodies:
// a word tree's, and the call a whole body is (see whole_call).
bool operands_in_words(const InstantiationPlan& plan, const InstantiationPlan::Evaluation& call,
                       Cell* const* arguments, int64_t* x, int64_t* y) {
  if (!guards_hold(plan, call)) return false;
  const bool first = call.prefixed ? read_short_integer(pair_right(plan.steps[call.head].cell), x)
                                   : word_of_steps(plan, call.head + 1, arguments, x);
  return first && word_of_steps(plan, call.second, arguments, y);
}

// The operands of a word tree, as call_operands.
[[gnu::noinline]] bool tree_operands(const InstantiationPlan& plan, uint32_t at, Cell* const* arguments,
                                     int64_t* x, int64_t* y) {
  return operands_in_words(plan, plan.evaluations[plan.steps[at].evaluation - 1], arguments, x, y);
}

// The answer of the call the step at `at` heads, a call of single steps or
// a word tree, as evaluated_call, and the step past the call in *end;
// nullptr when it is to be built.
Cell* evaluated_operands(const InstantiationPlan& plan, uint32_t at, Cell* const* arguments, uint32_t* end) {
  int64_t x, y;
  if (!call_operands(plan, at, arguments, &x, &y)) return nullptr;
  const InstantiationPlan::Evaluation& call = plan.evaluations[plan.steps[at].evaluation - 1];
  *end = call.end;
  return answer_by_words(call.rule, x, y).leak();
}

// The chain of selectors (see mark_selection) whose part so far, *top
// (borrowed), the steps up to `at` have taken: each selector after it
// takes a part of the part before while it can. Answers the step the
// last part taken stands for.
[[gnu::noinline]] uint32_t selected_along_chain(const InstantiationPlan& plan, uint32_t at, uint32_t end,
                                                Cell** top) {
  const auto& steps = plan.steps;
  while (at + 2 < end && steps[at + 1].op == InstantiationPlan::Share &&
         steps[at + 2].op == InstantiationPlan::Build && steps[at + 2].call == 0) {
    Cell* next = selected_part(*top, steps[at + 1].cell);
    if (next == nullptr) break;
    *top = next;
    at += 2;
  }
  return at;
}

// Runs the steps [begin, end), which build one cell, and answers it with
// one count. The newest part stays in `top`, out of the stack: a Build
// reads from memory only the part below it, stored steps before, and never
// one stored a moment ago, which the processor would make it wait for.
//
// A `head` other than nullptr takes the place of the cell that the first
// step shares, the head of the spine the steps build. With `Evaluates`, a
// call the plan marks is evaluated in place when it can be: one of single
// steps as its head is met, any other as its second argument is built,
// its head and first argument waiting apart until then.
template <bool Evaluates = false>
Cell* run_steps(const InstantiationPlan& plan, uint32_t begin, uint32_t end, Cell* const* arguments,
                Cell* head = nullptr) {
  if (g_plan_stack.size() < plan.depth) g_plan_stack.resize(plan.depth);
  Cell** const bottom = g_plan_stack.data();
  Cell** below = bottom;  // the first push stores the empty `top`
  Cell* top = nullptr;
  const InstantiationPlan::Step* steps = plan.steps.data();
  uint32_t i = begin;
  if (head != nullptr) {
    TOVE_ASSERT(steps[begin].op == InstantiationPlan::Share);
    uint32_t past = 0;
    Cell* answer = Evaluates && steps[begin].evaluation != 0
                       ? evaluated_operands(plan, begin, arguments, &past)
                       : nullptr;
    *below++ = top;
    if (answer != nullptr) {
      top = answer;
      i = past;
    } else {
      top = head;
      retain(top);
      ++i;
    }
  }
  for (; i < end; ++i) {
    const InstantiationPlan::Step& step = steps[i];
    switch (step.op) {
      case InstantiationPlan::Share:
        *below++ = top;
        if constexpr (Evaluates) {
          if (step.evaluation != 0) {
            uint32_t past;
            if (Cell* answer = evaluated_operands(plan, i, arguments, &past)) {
              top = answer;
              i = past - 1;
              break;
            }
          }
        }
        top = step.cell;
        retain(top);
        break;
      case InstantiationPlan::Argument:
        *below++ = top;
        top = arguments[step.argument];
        if constexpr (Evaluates) {
          // (s c), marked a part to take: the machine would rewrite it to
          // that very cell when it evaluates it.
          if (step.evaluation == InstantiationPlan::kSelected) [[unlikely]] {
            if (Cell* part = selected_part(top, steps[i + 1].cell)) {
              top = part;
              i += 2;
              // A marked (s c) anywhere but at the head of a chain is an
              // argument, its parent's Build next.
              if (i + 2 < end && steps[i + 1].op == InstantiationPlan::Share) [[unlikely]]
                i = selected_along_chain(plan, i, end, &top);
            }
          } else if (step.evaluation == InstantiationPlan::kSelectedByHelper) [[unlikely]] {
            // (hd s) or (tl s), the helper below: the part, or the part
            // applied to the cell the helper's body gives it.
            if (Cell* part = taken_by_helper(below[-1], top)) {
              release(below[-1]);
              --below;
              top = part;
              ++i;
              break;
            }
          }
        }
        retain(top);
        break;
      case InstantiationPlan::Build:
        if constexpr (Evaluates) {
          if (step.call != 0) [[unlikely]] {
            if (step.call == InstantiationPlan::kJoinsHead) break;
            if (plan.evaluations[step.call - 1].prefixed) {
              // below[-1] is (f a), a cell of the body, top is b.
              if (Cell* answer = evaluated_prefixed_call(plan, step.call, below[-1], top)) {
                --below;
                top = answer;
                break;
              }
            } else {
              // below[-2] is f, below[-1] is a, top is b.
              if (Cell* answer = evaluated_call(plan, step.call, below[-1], top)) {
                release(below[-2]);
                release(below[-1]);
                release(top);
                below -= 2;
                top = answer;
                break;
              }
              --below;
              *(below - 1) = new_pair_of_analysed(*(below - 1), *below);
            }
          }
        }
        --below;
        top = step.plain ? new_plain_pair_of_analysed(*below, top, step.mask)
                         : new_pair_of_analysed(*below, top);
        break;
    }
  }
  TOVE_ASSERT(below == bottom + 1 && top != nullptr);
  return top;
}

}  // namespace

CellRef instantiate(const InstantiationPlan& plan, Cell* const* arguments) {
  // A result that is one argument or one cell of the body (K, I, H and
  // their kind) builds nothing, whatever the arguments are.
  if (plan.steps.size() == 1) {
    const InstantiationPlan::Step& only = plan.steps[0];
    return CellRef::retained(step_cell(only, arguments));
  }
  if (needs_literal_rewrite(plan, arguments)) {
    return substitute_parameters(plan.body.get(), arguments, plan.parameters);
  }
  return CellRef::adopt(run_steps(plan, 0, static_cast<uint32_t>(plan.steps.size()), arguments));
}

namespace {

// The parts [first, first + count) of a plan, outermost first, as frames:
// a part that needs new pairs waits in a Deferred frame when there is a
// call to build it from, and the others are built at once.
void push_parts(const InstantiationPlan& plan, uint32_t first, uint32_t count, Cell* const* arguments,
                Cell* call, std::vector<Frame>& frames) {
  for (uint32_t i = first; i < first + count; ++i) {
    const Range& range = plan.frame_arguments[i];
    // A Deferred frame names its part in 16 bits; a part past them is built.
    if (range.end - range.begin == 1) {
      // An argument or a cell of the body, built by no step.
      const InstantiationPlan::Step& only = plan.steps[range.begin];
      Cell* part = step_cell(only, arguments);
      frames.emplace_back(Frame::Apply, CellRef::retained(part));
    } else if (call != nullptr && i <= UINT16_MAX) {
      frames.emplace_back(plan.number, static_cast<uint16_t>(i), range.inner_count != 0,
                          CellRef::retained(call));
    } else {
      frames.emplace_back(Frame::Apply, CellRef::adopt(run_steps(plan, range.begin, range.end, arguments)));
    }
  }
}

}  // namespace

void push_applied_levels(const InstantiationPlan& plan, size_t from, Cell* const* arguments, Cell* call,
                         std::vector<Frame>& frames) {
  push_parts(plan, 0, static_cast<uint32_t>(plan.head_spine.size() - from), arguments, call, frames);
}

namespace {

// The value the machine would put in the place of the head of the spine
// that the steps [begin, end) build, once that spine is its focus: an
// operator's value, when the head is an operator (a constant whose body is
// a done value, as "<" names `less`), the spine one new pair or more, and
// the value no binder shape, so that the pairs the steps know to be plain
// stay plain. nullptr when the head stays. Only a head that was an
// operator when the plan was made is asked: one that became an operator
// later only misses the short cut.
//
// The machine would put it there at its next transition, in place, the
// spine being the focus's own (or, where an argument is a redex, at the
// transition that makes the head the focus): building the spine with it
// reaches the same cells one transition sooner.
Cell* focus_head_value(const InstantiationPlan& plan, uint32_t begin, uint32_t end) {
  const InstantiationPlan::Step& first = plan.steps[begin];
  if (!first.operator_head || end - begin < 3) return nullptr;
  Cell* value = done_constant_of_head(first.cell);
  if (value == nullptr || shapes_binders(value)) return nullptr;
  analysed_bits(value);
  return value;
}

// The new pair of a level of a spine the plan builds: `step` is the
// level's Build.
[[gnu::always_inline]] inline Cell* join_level(const InstantiationPlan::Step& step, Cell* function,
                                               Cell* argument) {
  return step.plain ? new_plain_pair_of_analysed(function, argument, step.mask)
                    : new_pair_of_analysed(function, argument);
}

// The spine a descent builds over an operator's value when its head is
// the body cell `cell`, a spine of `prefix` levels (see
// InstantiationPlan::Descent): new pairs, as the machine makes them when
// it takes the cell apart, with one count.
[[gnu::noinline]] Cell* valued_spine(Cell* cell, uint32_t prefix) {
  std::array<Cell*, kLongestSharedSpine> levels;
  Cell* head = cell;
  for (uint32_t i = prefix; i-- > 0; head = pair_left(head)) levels[i] = pair_right(head);
  Cell* spine = done_constant_of_head(head);
  analysed_bits(spine);
  retain(spine);
  for (uint32_t i = 0; i < prefix; ++i) {
    retain(levels[i]);
    spine = new_pair_of_analysed(spine, levels[i]);
  }
  return spine;
}

// Where a descent stops: at `argument`, the first of its spine's
// arguments that is not done, `spine` (one count) the levels before it.
struct DescentStop {
  const InstantiationPlan* plan;
  const InstantiationPlan::Descent* descent;
  Cell* spine;
  uint32_t argument;
};

Cell* descend_nested(const InstantiationPlan& plan, const InstantiationPlan::Descent& descent,
                     Cell* const* arguments, DescentStop* stops, const DescentStop* last, size_t* depth);
Cell* chosen_argument(const InstantiationPlan& plan, const InstantiationPlan::Steps& choice,
                      Cell* const* arguments, DescentStop* stops, const DescentStop* last, size_t* depth);
inline int part_taken_by_comparison(const InstantiationPlan& plan, uint32_t begin, uint32_t end,
                                    Cell* const* arguments);
int part_taken_by_predicate(const InstantiationPlan& plan, uint32_t begin, uint32_t end,
                            Cell* const* arguments);

// A stop before every argument the steps build (see Descent::held); one
// more is 0.
constexpr uint32_t kHeldArgument = UINT32_MAX;

// The argument a descent with a held level stops at, one count, with the
// stop in stops[0]: the cell's levels below it wait in the stop's spine.
// nullptr, with nothing built, when an operator on its path has another
// body.
[[gnu::noinline]] Cell* held_argument(const InstantiationPlan& plan,
                                      const InstantiationPlan::Descent& descent, DescentStop* stops,
                                      size_t* depth) {
  if (!guards_hold(plan, descent.first_guard, descent.guard_count)) return nullptr;
  Cell* level = plan.steps[descent.head].cell;
  for (uint32_t i = descent.prefix; i > descent.held; --i) level = pair_left(level);
  Cell* argument = pair_right(level);
  retain(argument);
  retain(pair_left(level));
  stops[0] = {&plan, &descent, pair_left(level), kHeldArgument};
  *depth = 1;
  return argument;
}

// The levels of a held descent's cell after the one held, in apply
// frames, outermost first, as the machine takes the cell apart.
[[gnu::noinline]] void push_held_levels(const InstantiationPlan& plan,
                                        const InstantiationPlan::Descent& descent,
                                        std::vector<Frame>& frames) {
  Cell* level = plan.steps[descent.head].cell;
  for (uint32_t i = descent.prefix; i > descent.held; --i, level = pair_left(level)) {
    frames.emplace_back(Frame::Apply, CellRef::retained(pair_right(level)));
  }
}

// The spine of the descent `descent` built up to its first argument not
// done, which is answered: that argument, with the stop in stops[0] and,
// when the argument is a strict head's spine with a descent of its own,
// or a choice taking a part that has one, the stops inside it after,
// *depth in all; else the spine, built from its parts (*depth 0).
// nullptr, with nothing built, when an operator head has another body.
[[gnu::always_inline]] inline Cell* descend_to(const InstantiationPlan& plan,
                                               const InstantiationPlan::Descent& descent,
                                               Cell* const* arguments, DescentStop* stops,
                                               const DescentStop* last, size_t* depth) {
  if (!guards_hold(plan, descent.first_guard, descent.guard_count)) return nullptr;
  // An operator's value is where the machine would put it first.
  Cell* spine = plan.steps[descent.head].cell;
  if (descent.valued && descent.prefix != 0) {
    spine = valued_spine(spine, descent.prefix);
  } else {
    if (descent.valued) spine = done_constant_of_head(spine);
    retain(spine);
  }
  const InstantiationPlan::Steps* parts = &plan.descent_arguments[descent.first];
  for (uint32_t j = 0; j < descent.count; ++j) {
    // An argument with a descent of its own is built as far as that
    // descent goes, and a choice as far as the part it takes goes.
    size_t inner = 0;
    Cell* argument = nullptr;
    if ((parts[j].descent | parts[j].choice) != 0 && stops < last) [[unlikely]] {
      argument = parts[j].descent != 0 ? descend_nested(plan, plan.descents[parts[j].descent - 1], arguments,
                                                        stops + 1, last, &inner)
                                       : chosen_argument(plan, parts[j], arguments, stops + 1, last, &inner);
    }
    // An argument (s K) or (hd s), s an argument of the call, may be a
    // part to take, one (s H I) a part to apply, and one (m H K) a part
    // of a part.
    const uint32_t length = parts[j].end - parts[j].begin;
    if (argument == nullptr && parts[j].selection) {
      argument = selected_from_steps(plan, parts[j].begin, length, arguments);
    }
    if (argument == nullptr && length == 1) {
      // An argument or a cell of the body is built by no step.
      const InstantiationPlan::Step& only = plan.steps[parts[j].begin];
      argument = step_cell(only, arguments);
      retain(argument);
    }
    if (argument == nullptr) argument = run_steps<true>(plan, parts[j].begin, parts[j].end, arguments);
    if (inner != 0 || !is_done(argument)) {
      stops[0] = {&plan, &descent, spine, j};
      *depth = inner + 1;
      return argument;
    }
    // The spine may be a call to evaluate, now that its arguments are
    // built (see run_steps).
    const uint32_t call = plan.steps[parts[j].end].call;
    if (call != 0 && call != InstantiationPlan::kJoinsHead) {
      if (Cell* answer = evaluated_call(plan, call, pair_right(spine), argument)) {
        release(spine);
        release(argument);
        *depth = 0;
        return answer;
      }
    }
    spine = join_level(plan.steps[parts[j].end], spine, argument);
  }
  *depth = 0;
  return spine;
}

// descend_to for a descent inside another, or held_argument for a held
// one; recursive, to as many levels as the stops have room for.
[[gnu::noinline]] Cell* descend_nested(const InstantiationPlan& plan,
                                       const InstantiationPlan::Descent& descent, Cell* const* arguments,
                                       DescentStop* stops, const DescentStop* last, size_t* depth) {
  if (descent.held != 0) return held_argument(plan, descent, stops, depth);
  // A let's focus is its bound, which only the focus it is may build; a
  // descent of no arguments never descends.
  if (descent.let != 0 || descent.count == 0) return nullptr;
  return descend_to(plan, descent, arguments, stops, last, depth);
}

// The part a descent's argument `choice` takes (see
// InstantiationPlan::Steps::choice), built by its plan as that plan's
// focus, evaluated, any stops inside it from stops[0] and *depth in all;
// nullptr, with nothing built, when the test's truth is not known yet or
// that part has no plan.
[[gnu::noinline]] Cell* chosen_argument(const InstantiationPlan& plan, const InstantiationPlan::Steps& choice,
                                        Cell* const* arguments, DescentStop* stops, const DescentStop* last,
                                        size_t* depth) {
  if (g_watching) return nullptr;
  const InstantiationPlan::Choice& parts = plan.choices[choice.choice - 1];
  int taken = part_taken_by_comparison(plan, choice.begin, parts.test_end, arguments);
  if (taken < 0) taken = part_taken_by_predicate(plan, choice.begin, parts.test_end, arguments);
  if (taken < 0 || parts.parts[taken] == nullptr) return nullptr;
  const InstantiationPlan& part = *parts.parts[taken];
  const auto all = static_cast<uint32_t>(part.steps.size());
  if (part.focus_descent != 0) {
    const InstantiationPlan::Descent& own = part.descents[part.focus_descent - 1];
    if (part.steps[own.head].evaluation == 0) {
      if (Cell* built = descend_nested(part, own, arguments, stops, last, depth)) return built;
    }
  }
  if (part.applied_argument >= 0) return run_steps(part, 0, all, arguments);
  return run_steps<true>(part, 0, all, arguments);
}

Cell* let_focus(const InstantiationPlan& plan, uint32_t let, Cell* const* arguments, Cell* call,
                std::vector<Frame>& frames);

// The focus with the descent `descent` (see InstantiationPlan::descents),
// evaluated: the first argument not done, with the frames the machine
// would push as it descended to it, at each stop the arguments after it
// in Apply frames, outermost first, and the spine before it in a Function
// frame; else the spine. nullptr, with nothing built, when an operator
// head has another body. A let's focus is its bound (see let_focus), kept
// with `call`, the redex the arguments were read from, or nullptr.
Cell* descended_focus(const InstantiationPlan& plan, const InstantiationPlan::Descent& descent,
                      Cell* const* arguments, std::vector<Frame>& frames, Cell* call) {
  if (descent.lazy) [[unlikely]] {
    if (descent.let != 0) return let_focus(plan, descent.let - 1, arguments, call, frames);
    if (descent.count == 0 || (!frames.empty() && applies_an_argument(frames.back()))) return nullptr;
  }
  std::array<DescentStop, kDeepestDescent + 1> stops;
  size_t depth = 0;
  Cell* focus;
  if (descent.held != 0) [[unlikely]] {
    focus = held_argument(plan, descent, stops.data(), &depth);
  } else {
    focus = descend_to(plan, descent, arguments, stops.data(), &stops.back(), &depth);
  }
  for (size_t d = 0; d < depth; ++d) {
    const DescentStop& stop = stops[d];
    const InstantiationPlan::Steps* parts = &stop.plan->descent_arguments[stop.descent->first];
    // A held stop's argument is one before the first: every one is later.
    for (uint32_t later = stop.descent->count; later-- > stop.argument + 1;) {
      // An argument or a cell of the body is built by no step.
      const InstantiationPlan::Steps& part = parts[later];
      const InstantiationPlan::Step& only = stop.plan->steps[part.begin];
      frames.emplace_back(Frame::Apply,
                          part.end - part.begin == 1
                              ? CellRef::retained(step_cell(only, arguments))
                              : CellRef::adopt(run_steps<true>(*stop.plan, part.begin, part.end, arguments)));
    }
    if (stop.argument == kHeldArgument) [[unlikely]]
      push_held_levels(*stop.plan, *stop.descent, frames);
    frames.emplace_back(Frame::Function, CellRef::adopt(stop.spine));
  }
  return focus;
}

// The steps [begin, end) built as the machine's new focus; `descent` is
// the focus's (0 for none), and the frames it pushes go onto `frames`;
// `call` is the redex the arguments were read from, or nullptr.
// Forced inline: each caller passes its own head and descent.
[[gnu::always_inline]] inline Cell* run_focus_steps(const InstantiationPlan& plan, uint32_t begin,
                                                    uint32_t end, Cell* const* arguments, FocusHead head,
                                                    uint32_t descent, std::vector<Frame>& frames,
                                                    Cell* call) {
  if (head == FocusHead::evaluated && descent != 0) {
    const InstantiationPlan::Descent& spine = plan.descents[descent - 1];
    if (Cell* focus = descended_focus(plan, spine, arguments, frames, call)) return focus;
    if (spine.lazy) head = FocusHead::valued;
  }
  switch (head) {
    case FocusHead::as_written: break;
    case FocusHead::valued: return run_steps(plan, begin, end, arguments, focus_head_value(plan, begin, end));
    case FocusHead::evaluated:
      return run_steps<true>(plan, begin, end, arguments, focus_head_value(plan, begin, end));
  }
  return run_steps(plan, begin, end, arguments);
}

// A focus that is the let `let` of the plan (see InstantiationPlan::Let):
// its bound as the focus, above a Let frame holding `call`; a bound done
// at once is substituted at once, as the machine would. nullptr, with
// nothing built, when there is no call to keep or the run is watched.
Cell* let_focus(const InstantiationPlan& plan, uint32_t let, Cell* const* arguments, Cell* call,
                std::vector<Frame>& frames) {
  if (call == nullptr || g_watching) return nullptr;
  const InstantiationPlan::Let& own = plan.lets[let];
  frames.emplace_back(plan.number, static_cast<uint16_t>(let), false, CellRef::retained(call));
  frames.back().kind = Frame::Let;
  Cell* bound = run_focus_steps(plan, own.bound_begin, own.bound_end, arguments, FocusHead::evaluated,
                                own.bound_descent, frames, call);
  if (!is_done(bound)) return bound;
  TOVE_ASSERT(frames.back().kind == Frame::Let);
  const Frame kept = std::move(frames.back());
  frames.pop_back();
  return let_value_focus(kept, CellRef::adopt(bound), frames, FocusHead::evaluated).leak();
}

// The part of a choice (c x y) that the answer c takes, 0 for x and 1 for
// y, when c is a lazy head atom whose rewrite takes one of them, or gives
// another such head that takes the other: K x y = x; H x = I and I y = y.
// -1 for any other answer, or while a head's plan is not made yet.
//
// `rule` and `bits` are the plan and the analysis of the answer's head,
// and `slot` its definition. The slots of the heads it reads go into
// `read`, at most two: each takes one argument or more.
int part_taken(const InstantiationPlan* rule, uint8_t bits, const CellRef* slot,
               std::array<const CellRef*, 2>* read = nullptr) {
  size_t taken = 0;
  for (;;) {
    if (rule == nullptr || rule->steps.size() != 1 || rule->parameters == 0 ||
        static_cast<size_t>(arity_of_bits(bits)) != rule->parameters || taken + rule->parameters > 2) {
      return -1;
    }
    if (read != nullptr) (*read)[taken] = slot;
    const InstantiationPlan::Step& only = rule->steps[0];
    if (only.op == InstantiationPlan::Argument) {
      return taken + rule->parameters == 2 ? static_cast<int>(taken + only.argument) : -1;
    }
    taken += rule->parameters;
    if (taken == 2) return -1;
    Cell* head = only.cell;
    if (!is_atom(head) || !is_lazy_head_atom(head)) return -1;
    const Resolved& name = resolve(head);
    rule = current_plan_of(name);
    bits = analysed_bits(head);
    slot = name.slot;
  }
}
int chosen_part(Cell* answer) {
  if (!is_atom(answer) || !is_lazy_head_atom(answer)) return -1;
  const Resolved& name = resolve(answer);
  return part_taken(current_plan_of(name), analysed_bits(answer), name.slot);
}

// The part each fresh truth atom takes (see part_taken_by_truth), kept
// with the bodies of the heads that decided it. Dropped with the plans.
struct TruthPart {
  int part = -1;
  BodiesRead<2> read;
};
constinit std::array<TruthPart, 2> g_truth_parts{};

[[gnu::noinline]] int work_out_truth_part(bool truth) {
  const Resolved& answer = resolve_single(truth ? 'K' : 'H');
  const uint8_t bits = known_fresh_name_bits(answer);
  if (bits == 0) return -1;
  TruthPart& kept = g_truth_parts[truth];
  kept = TruthPart{};
  std::array<const CellRef*, 2> read{};
  const int part = part_taken(current_plan_of(answer), bits, answer.slot, &read);
  if (part < 0) return -1;
  kept.read.keep(read);
  kept.part = part;
  return part;
}

// part_taken_by_truth, inline for the plans' own choices.
[[gnu::always_inline]] inline int truth_part(bool truth) {
  const TruthPart& kept = g_truth_parts[truth];
  if (kept.part >= 0 && kept.read.hold()) [[likely]]
    return kept.part;
  return work_out_truth_part(truth);
}

// The part of the choice (c x y) that the answer c takes, when the steps
// [begin, end) build c as a comparison of short integers, or a word tree
// whose root is one, that its truth rule answers: the atom the word rule
// would make, a fresh K or H taken apart at once, is never made. -1 when
// the steps build something else, or as part_taken_by_truth.
[[gnu::always_inline]] inline int part_taken_by_comparison(const InstantiationPlan& plan, uint32_t begin,
                                                           uint32_t end, Cell* const* arguments) {
  const InstantiationPlan::Step& head = plan.steps[begin];
  if (head.op != InstantiationPlan::Share || head.evaluation == 0) return -1;
  const InstantiationPlan::Evaluation& call = plan.evaluations[head.evaluation - 1];
  int64_t x, y;
  if (call.truth == nullptr || call.end != end || !call_operands(plan, begin, arguments, &x, &y)) return -1;
  return truth_part(call.truth(x, y));
}

// The steps one operand of a word tree spans from `at`: a single step, a
// part taken (s K) or (hd s), or a marked call.
uint32_t operand_length(const InstantiationPlan& plan, uint32_t at) {
  const InstantiationPlan::Step& step = plan.steps[at];
  if (step.op == InstantiationPlan::Argument) return step.evaluation != 0 ? 3 : 1;
  if (step.evaluation != 0) return plan.evaluations[step.evaluation - 1].end - at;
  const InstantiationPlan::Step& next = plan.steps[at + 1];
  return next.op == InstantiationPlan::Argument && next.evaluation == InstantiationPlan::kSelectedByHelper
             ? 3
             : 1;
}

// The same for a choice whose test is written (f a) b with b a short
// integer in the top part nearest the focus, as (s K)%p=0 is ((= a) 0)
// while a is no single cell: the steps [begin, end) build (f a), f a
// comparison or an operator naming one, a an operand in words. The
// machine would evaluate a, return it to f, build the call over b and
// answer it; `b` is that part's range.
int part_taken_by_split_comparison(const InstantiationPlan& plan, uint32_t begin, uint32_t end,
                                   const Range& b, Cell* const* arguments) {
  const InstantiationPlan::Step& head = plan.steps[begin];
  if (b.end - b.begin != 1 || head.op != InstantiationPlan::Share || end - begin < 3 ||
      operand_length(plan, begin + 1) != end - begin - 2) {
    return -1;
  }
  const InstantiationPlan::Step& second = plan.steps[b.begin];
  int64_t x, y;
  if (!read_short_integer(step_cell(second, arguments), &y)) {
    return -1;
  }
  const BuiltinEntry* builtin = binary_builtin_of(head.cell);
  if (builtin == nullptr) {
    Cell* value = done_constant_of_head(head.cell);
    builtin = value != nullptr ? binary_builtin_of(value) : nullptr;
  }
  if (builtin == nullptr || builtin->truths == nullptr || !word_of_steps(plan, begin + 1, arguments, &x)) {
    return -1;
  }
  return truth_part(builtin->truths(x, y));
}

// The same for a focus (g a1 ... ak) of single steps, each a done value,
// where g is a predicate: a global of k parameters whose body is one
// comparison the plan works out in words (InstantiationPlan::truth_root).
// The machine would rewrite g, answer the comparison and take the part;
// none of the cells between can be seen.
int part_taken_by_predicate(const InstantiationPlan& plan, uint32_t begin, uint32_t end,
                            Cell* const* arguments) {
  const InstantiationPlan::Step& head = plan.steps[begin];
  const uint32_t count = (end - begin) / 2;
  if (head.op != InstantiationPlan::Share || !is_atom(head.cell) || count == 0 || count > kMaxSpine ||
      end - begin != 1 + 2 * count || atom_kind(head.cell) != AtomKind::name) {
    return -1;
  }
  const InstantiationPlan* predicate = current_plan_of(resolve(head.cell));
  if (predicate == nullptr || predicate->truth_root == 0 || predicate->parameters != count) return -1;
  std::array<Cell*, kMaxSpine> given;
  for (uint32_t i = 0; i < count; ++i) {
    const InstantiationPlan::Step& step = plan.steps[begin + 1 + 2 * i];
    if (step.op == InstantiationPlan::Build || plan.steps[begin + 2 + 2 * i].op != InstantiationPlan::Build) {
      return -1;
    }
    given[i] = step_cell(step, arguments);
    if (!is_done(given[i])) return -1;
  }
  const InstantiationPlan& evaluated = evaluated_plan(*predicate);
  if (evaluated.truth_root == 0) return -1;
  const int truth = truth_of_plan(evaluated, given.data());
  return truth < 0 ? -1 : truth_part(truth != 0);
}

// The steps [begin, focus_end) built as the machine's focus, with the
// parts [first, first + count) as its frames, as push_parts makes them.
// When the focus is evaluated and answers a choice between two parts, the
// machine would return the answer to their frames and rewrite it at once,
// taking one part as its focus and dropping the other unbuilt: the part
// taken is built as that focus straight away, and so on while it is a
// choice itself. Nothing is watched meanwhile: a watched run keeps the
// literal rewrites, which count the expansions of K, H and I.
Cell* focus_and_parts(const InstantiationPlan& plan, uint32_t begin, uint32_t focus_end, uint32_t descent,
                      uint32_t first, uint32_t count, Cell* const* arguments, Cell* call,
                      std::vector<Frame>& frames, FocusHead head) {
  for (;;) {
    // A test written with its second operand in the part nearest the
    // focus: the parts are then (y x b).
    int chosen = head == FocusHead::evaluated && count == 3 && !g_watching
                     ? part_taken_by_split_comparison(plan, begin, focus_end, plan.frame_arguments[first + 2],
                                                      arguments)
                     : -1;
    // A descent's frames go above the parts'; its focus answers no choice.
    if (chosen < 0 && head == FocusHead::evaluated && descent != 0) {
      push_parts(plan, first, count, arguments, call, frames);
      return run_focus_steps(plan, begin, focus_end, arguments, head, descent, frames, call);
    }
    const bool chooses = head == FocusHead::evaluated && count == 2 && !g_watching;
    if (chooses) {
      chosen = part_taken_by_comparison(plan, begin, focus_end, arguments);
      if (chosen < 0) chosen = part_taken_by_predicate(plan, begin, focus_end, arguments);
    }
    if (chosen < 0) {
      Cell* focus = run_focus_steps(plan, begin, focus_end, arguments, head, descent, frames, call);
      chosen = chooses && is_atom(focus) ? chosen_part(focus) : -1;
      if (chosen < 0) {
        push_parts(plan, first, count, arguments, call, frames);
        return focus;
      }
      release(focus);
    }
    // The parts are outermost first: x is the second.
    const Range& part = plan.frame_arguments[first + 1 - static_cast<uint32_t>(chosen)];
    if (part.end - part.begin == 1) {
      const InstantiationPlan::Step& only = plan.steps[part.begin];
      Cell* cell = step_cell(only, arguments);
      retain(cell);
      return cell;
    }
    if (part.inner_count == 0) {
      if (const InstantiationPlan* settled = settled_part(plan, part, arguments)) {
        return instantiate_into_frames(*settled, arguments, call, frames, head).leak();
      }
      return run_focus_steps(plan, part.begin, part.end, arguments, head, part.descent, frames, call);
    }
    begin = part.begin;
    focus_end = part.inner_focus_end;
    descent = part.descent;
    first = part.inner_first;
    count = part.inner_count;
  }
}

}  // namespace

int part_taken_by_truth(bool truth) { return truth_part(truth); }

bool value_of_plan(const InstantiationPlan& plan, Cell* const* arguments, int64_t* value) {
  const InstantiationPlan::Evaluation& call = plan.evaluations[plan.value_root - 1];
  int64_t x, y;
  return operands_in_words(plan, call, arguments, &x, &y) && call.values(x, y, value) &&
         is_short_integer_value(*value);
}

int truth_of_plan(const InstantiationPlan& plan, Cell* const* arguments) {
  const InstantiationPlan::Evaluation& call = plan.evaluations[plan.truth_root - 1];
  int64_t x, y;
  if (!operands_in_words(plan, call, arguments, &x, &y)) return -1;
  return call.truth(x, y) ? 1 : 0;
}

CellRef instantiate_into_frames(const InstantiationPlan& plan, Cell* const* arguments, Cell* call,
                                std::vector<Frame>& frames, FocusHead head) {
  if (plan.steps.size() == 1 || needs_literal_rewrite(plan, arguments)) return instantiate(plan, arguments);
  if (plan.top_parts == 0) {
    return CellRef::adopt(run_focus_steps(plan, 0, static_cast<uint32_t>(plan.steps.size()), arguments, head,
                                          plan.focus_descent, frames, call));
  }
  return CellRef::adopt(focus_and_parts(plan, 0, plan.focus_end, plan.focus_descent, 0, plan.top_parts,
                                        arguments, call, frames, head));
}

namespace {

// What a Deferred frame's part is built by: the plan of the call the frame
// holds, whose arguments are the last of its spine (a global's call has
// no others; a lambda node's has the binder's letter and body first), and
// the part's range of steps.
struct DeferredPart {
  const InstantiationPlan& plan;
  const Range& range;
  Spine call;
  Cell* const* arguments() const { return call.args.data() + (call.count - plan.parameters); }
};
[[gnu::always_inline]] inline DeferredPart deferred_part(const Frame& frame) {
  TOVE_ASSERT(frame.kind == Frame::Deferred);
  const InstantiationPlan& plan = *numbered_plans()[frame.plan];
  return {plan, plan.frame_arguments[frame.part], walk_spine(frame.first.get())};
}

}  // namespace

void build_deferred_argument(Frame& frame) {
  const DeferredPart part = deferred_part(frame);
  frame.first = CellRef::adopt(run_steps(part.plan, part.range.begin, part.range.end, part.arguments()));
  frame.kind = Frame::Apply;
  frame.over_applied = false;
}

CellRef deferred_into_frames(const Frame& frame, std::vector<Frame>& frames, FocusHead head) {
  const DeferredPart part = deferred_part(frame);
  const Range& range = part.range;
  TOVE_ASSERT(frame.over_applied && range.inner_count != 0);
  return CellRef::adopt(focus_and_parts(part.plan, range.begin, range.inner_focus_end, range.descent,
                                        range.inner_first, range.inner_count, part.arguments(),
                                        frame.first.get(), frames, head));
}

namespace {

// The part `range` of a plan built from `arguments` as the machine's new
// focus, by its settled plan where it has one; `call` is the redex the
// arguments were read from, or nullptr.
CellRef part_as_focus(const InstantiationPlan& plan, const Range& range, Cell* const* arguments, Cell* call,
                      std::vector<Frame>& frames, FocusHead head) {
  if (head == FocusHead::evaluated) {
    if (const InstantiationPlan* settled = settled_part(plan, range, arguments)) {
      return instantiate_into_frames(*settled, arguments, call, frames, head);
    }
  }
  return CellRef::adopt(
      run_focus_steps(plan, range.begin, range.end, arguments, head, range.descent, frames, call));
}

}  // namespace

CellRef valued_deferred_focus(const Frame& frame, std::vector<Frame>& frames, FocusHead head) {
  const DeferredPart part = deferred_part(frame);
  return part_as_focus(part.plan, part.range, part.arguments(), frame.first.get(), frames, head);
}

namespace {

// What a Let frame's body is built by: the plan that holds the let, and
// its arguments, the last of the frame's spine.
struct LetBody {
  const InstantiationPlan& owner;
  const InstantiationPlan::Let& let;
  Spine call;
  Cell* const* arguments() const { return call.args.data() + (call.count - owner.parameters); }
};
LetBody let_body(const Frame& frame) {
  TOVE_ASSERT(frame.kind == Frame::Let);
  const InstantiationPlan& owner = *numbered_plans()[frame.plan];
  return {owner, owner.lets[frame.part], walk_spine(frame.first.get())};
}

}  // namespace

CellRef let_body_as_written(const Frame& frame, char* letter) {
  const LetBody body = let_body(frame);
  *letter = body.let.letter;
  return CellRef::adopt(run_steps(body.owner, body.let.body_begin, body.let.body_end, body.arguments()));
}

CellRef let_value_focus(const Frame& frame, CellRef value, std::vector<Frame>& frames, FocusHead head) {
  const LetBody body = let_body(frame);
  const InstantiationPlan& plan = *body.let.body;
  std::array<Cell*, kMaxSpine> joined;
  std::copy(body.arguments(), body.arguments() + body.owner.parameters, joined.begin());
  joined[body.owner.parameters] = value.get();
  if (needs_literal_rewrite(plan, joined.data())) {
    char letter = 0;
    const CellRef written = let_body_as_written(frame, &letter);
    return substitute_analysed(written.get(), letter, value.get());
  }
  // The body's own frames may wait for parts to build: the call they are
  // built from is the arguments' spine with the value after them.
  const CellRef call = CellRef::adopt(new_closed_pair_of_analysed(frame.first.share().leak(), value.leak()));
  return instantiate_into_frames(plan, joined.data(), call.get(), frames, head);
}

CellRef applied_level_focus(const InstantiationPlan& plan, size_t level, Cell* const* arguments, Cell* call,
                            std::vector<Frame>& frames, FocusHead head) {
  const Range& range = plan.frame_arguments[plan.head_spine.size() - 1 - level];
  return part_as_focus(plan, range, arguments, call, frames, head);
}

namespace {

// Lambda nodes asked about lately, with their plans, placed by address: a
// fold asks about the same node at every level. A node lives as long as
// the plan whose body holds it, so both are dropped with the plans.
struct RecentLambda {
  Cell* lambda = nullptr;
  const InstantiationPlan* plan = nullptr;
};
constinit std::array<RecentLambda, 8> g_recent_lambdas{};

}  // namespace

const InstantiationPlan* known_lambda_plan(Cell* lambda) {
  // Pairs are three words: their addresses in words choose the place.
  RecentLambda& recent =
      g_recent_lambdas[(reinterpret_cast<uintptr_t>(lambda) >> 3) % g_recent_lambdas.size()];
  if (recent.lambda == lambda) return recent.plan;
  if (const auto [word, bit] = sieve_place(lambda); (g_known_sieve[word] & bit) == 0) return nullptr;
  auto it = known_lambdas().find(lambda);
  if (it == known_lambdas().end()) return nullptr;
  // Making the plan registers the lambdas of its body, which may rehash
  // the table: the entry is held by reference, which outlives that.
  const InstantiationPlan*& plan = it->second;
  if (plan == nullptr) plan = &plan_for(lambda);
  recent = {lambda, plan};
  return plan;
}

void forget_plans() {
  g_recent_lambdas = {};
  g_known_sieve = {};
  g_truth_parts = {};
  g_selection_parts = {};
  numbered_plans().clear();
  known_lambdas().clear();
  plans().clear();
}

}  // namespace tove
