#include "eval/instantiate.h"

#include <array>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "compiler/analysis.h"

namespace tove {

namespace {

constexpr size_t kMaxParameters = 16;

std::unordered_map<Cell*, InstantiationPlan>& plans() {
  static std::unordered_map<Cell*, InstantiationPlan> table;
  return table;
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

// Reads the plan off the literal rewrite of the body on stand-in arguments:
// atoms ")0", ")1", ... that are closed and belong to no body.
void read_plan(InstantiationPlan& plan, Cell* rest) {
  std::vector<CellRef> stand_ins;
  std::vector<Cell*> raw;
  for (size_t i = 0; i < plan.parameters; ++i) {
    stand_ins.push_back(make_atom(")" + std::to_string(i)));
    raw.push_back(stand_ins.back().get());
  }
  CellRef result = substitute_parameters(plan.body.get(), raw.data(), plan.parameters);
  std::unordered_set<Cell*> body_cells;
  collect_cells(rest, body_cells);
  std::unordered_set<Cell*> built;
  // Post-order: a cell is visited, then (for a new pair) built once both of
  // its parts are on the result stack.
  struct Task {
    Cell* cell;
    bool build;
  };
  std::vector<Task> tasks{{result.get(), false}};
  while (!tasks.empty()) {
    Task task = tasks.back();
    tasks.pop_back();
    Cell* c = task.cell;
    if (task.build) {
      plan.steps.push_back({InstantiationPlan::Build, 0, nullptr});
      continue;
    }
    bool argument = false;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == c) {
        plan.steps.push_back({InstantiationPlan::Argument, static_cast<uint8_t>(i), nullptr});
        argument = true;
        break;
      }
    }
    if (argument) continue;
    if (body_cells.count(c) != 0) {
      plan.steps.push_back({InstantiationPlan::Share, 0, c});
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

// Arguments of these shapes can make a new lambda or let node out of the
// pair of the body they are put in (as its left part, or as the left part
// of its left part), which changes how the later substitutions walk it; the
// stand-ins cannot show that. They are the backslash atom and "{", pairs
// whose left part is one, and the partial let (({ k) y). A lambda node is
// none of these.
bool shapes_binders(const Cell* c) {
  if (is_binder(c)) return true;
  if (is_atom(c)) return false;
  const Cell* left = pair_left(c);
  if (is_binder(left)) return true;
  return is_pair(left) && is_atom(pair_left(left)) && head_char(pair_left(left)) == '{' &&
         atom_chars(pair_left(left))[1] == '\0';
}

}  // namespace

CellRef substitute_parameters(Cell* body, Cell* const* arguments, size_t count) {
  std::array<char, kMaxParameters> letters{};
  size_t params = 0;
  Cell* rest = strip_parameters(body, letters, params);
  TOVE_ASSERT(params == count);
  CellRef e = CellRef::borrow(rest);
  for (size_t i = params; i-- > 0;) e = substitute(e.get(), letters[i], arguments[i]);
  return e;
}

const InstantiationPlan& plan_for(Cell* body) {
  auto [it, fresh] = plans().try_emplace(body);
  InstantiationPlan& plan = it->second;
  if (!fresh) return plan;
  plan.body = CellRef::borrow(body);
  std::array<char, kMaxParameters> letters{};
  Cell* rest = strip_parameters(body, letters, plan.parameters);
  read_plan(plan, rest);
  size_t waiting = 0;
  for (const InstantiationPlan::Step& step : plan.steps) {
    waiting = step.op == InstantiationPlan::Build ? waiting - 1 : waiting + 1;
    if (waiting > plan.depth) plan.depth = waiting;
  }
  return plan;
}

CellRef instantiate(const InstantiationPlan& plan, Cell* const* arguments) {
  // A result that is one argument or one cell of the body (K, I, H and
  // their kind) builds nothing, whatever the arguments are.
  if (plan.steps.size() == 1) {
    const InstantiationPlan::Step& only = plan.steps[0];
    return CellRef::borrow(only.op == InstantiationPlan::Share ? only.cell : arguments[only.argument]);
  }
  bool literal = plan.literal_only;
  for (size_t i = 0; i < plan.parameters && !literal; ++i) literal = shapes_binders(arguments[i]);
  if (literal) return substitute_parameters(plan.body.get(), arguments, plan.parameters);
  // Plans never run inside one another, so one stack serves every call.
  // Each entry owns one count.
  static std::vector<Cell*> stack;
  if (stack.size() < plan.depth) stack.resize(plan.depth);
  Cell** top = stack.data();
  for (const InstantiationPlan::Step& step : plan.steps) {
    switch (step.op) {
      case InstantiationPlan::Share:
        retain(step.cell);
        *top++ = step.cell;
        break;
      case InstantiationPlan::Argument:
        retain(arguments[step.argument]);
        *top++ = arguments[step.argument];
        break;
      case InstantiationPlan::Build:
        --top;
        top[-1] = new_analysed_pair(top[-1], *top);
        break;
    }
  }
  TOVE_ASSERT(top == stack.data() + 1);
  return CellRef::adopt(stack[0]);
}

void forget_plans() { plans().clear(); }

}  // namespace tove
