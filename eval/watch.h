// Watching evaluations: what --explain, --profile and --trace report. None
// of it is recorded unless the driver asks for it; the evaluator reaches
// these hooks only behind `g_watching`, one flag tested on the paths of a
// primitive's call, a global's expansion and a rewrite, so a plain run pays
// one predictable branch on each of them.
//
// Ownership: the records hold counts on the cells they keep (the arguments
// of the first refusal, the atom of the global expanded last); they live
// until the process ends or `forget_watch_records` drops them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cells/cell.h"

namespace tove {

struct Machine;
struct Spine;

// Which records are kept; all false by default.
struct WatchSettings {
  bool explain = false;
  bool profile = false;
  uint64_t trace_steps = 0;  // rewrites still to trace
  size_t trace_width = 80;   // a traced line is cut to this many bytes
};

// True when any record is kept; the evaluator's hooks test only this.
extern bool g_watching;
void set_watch(const WatchSettings& settings);
const WatchSettings& watch_settings();

// ---- --explain ---------------------------------------------------------------

// The first primitive that answered "Z": its name, its arguments in
// application order, and the global whose expansion was the last before the
// call (empty when none was expanded yet).
struct Refusal {
  std::string primitive;
  std::vector<CellRef> arguments;
  std::string within;
};

struct ExplainRecord {
  uint64_t refusals = 0;  // primitives that answered "Z", in all
  Refusal first;          // meaningful when refusals > 0
  // The constants whose values were being computed when one of them was
  // demanded again, from that one inwards, ending with it once more.
  std::vector<std::string> cycle;
};
const ExplainRecord& explain_record();

// ---- --profile ---------------------------------------------------------------

// Each machine step and each cell built is charged to the global whose
// expansion came last before it: a flat profile by expansion, not a call
// tree. A global that returns to its caller's work without a new expansion
// keeps being charged until the next one.
struct ProfileRow {
  std::string name;  // "TOP" for the main program's own steps
  uint64_t expansions = 0;
  uint64_t steps = 0;
  uint64_t cells = 0;
};
// Every global expanded so far, with the work charged up to now; sorted by
// steps, most first.
std::vector<ProfileRow> profile_rows();

// ---- hooks the evaluator calls while g_watching ---------------------------------

// A built-in named by the spine's head answered `result` to the spine's
// arguments.
void watch_builtin_answer(const Spine& spine, const Cell* result);
// The global named by `head` is expanded.
void watch_expansion(const Machine& m, Cell* head);
// The constant `name` was demanded while its value was being computed; the
// machine's frames still hold the constants in progress.
void watch_cycle(const Machine& m, std::string_view name);
// One rewrite of the focus, with tracing on: prints it, and answers whether
// the rewrite has been done (false once the traced rewrites are spent).
bool watch_traced_rewrite(Machine& m);

}  // namespace tove
