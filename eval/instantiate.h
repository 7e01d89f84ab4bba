// Instantiation plans: a global's body with its parameters replaced by the
// arguments of a call, built in one walk.
//
// A plan is made once per definition body by running the literal rewrite
// (one substitution per parameter, from the last parameter down) on stand-in
// arguments, and reading off which cells of the result are parts of the
// body (shared), which are arguments and which are new pairs. Running the
// plan builds exactly those new pairs, in post-order, each analysed as it is
// made from its already analysed parts.
//
// Ownership: a plan holds one count on the body it was made from, so the
// cells it names stay alive and the body's address identifies the plan.
#pragma once

#include <cstdint>
#include <vector>

#include "cells/cell.h"

namespace tove {

struct InstantiationPlan {
  enum Op : uint8_t { Share, Argument, Build };
  struct Step {
    Op op;
    uint8_t argument;  // Argument: the index of the argument, a1 first
    Cell* cell;        // Share: the body cell, borrowed from `body`
  };
  CellRef body;          // the whole definition body, lambda nodes included
  size_t parameters = 0;
  std::vector<Step> steps;
  size_t depth = 0;      // the most parts waiting at once while building
  // Some bodies, with some arguments, take a shape the stand-ins cannot
  // show; those calls are rewritten literally.
  bool literal_only = false;
};

// The plan of a definition body (made on first use, then cached).
const InstantiationPlan& plan_for(Cell* body);
// The body instantiated with `arguments` (a1 first, borrowed); when the plan
// cannot stand for these arguments, the literal rewrite gives the result.
CellRef instantiate(const InstantiationPlan& plan, Cell* const* arguments);
// The literal rewrite: substitute the arguments for the parameters, starting
// from the last, into the body stripped of its lambda nodes.
CellRef substitute_parameters(Cell* body, Cell* const* arguments, size_t count);
// Drops every cached plan and the counts it holds.
void forget_plans();

}  // namespace tove
