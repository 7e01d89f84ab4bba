#include "eval/watch.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "cells/encoding.h"
#include "cells/print.h"
#include "eval/eval.h"

namespace tove {

bool g_watching = false;

namespace {

WatchSettings g_settings;
ExplainRecord g_explain;
// The atom of the global expanded last, for the refusal's "within".
CellRef g_last_expansion;

struct ProfileState {
  std::unordered_map<std::string, ProfileRow> rows;
  ProfileRow* current = nullptr;  // charged with the work since `steps_mark`
  uint64_t steps_mark = 0;
  uint64_t cells_mark = 0;
};
ProfileState g_profile;

ProfileRow& profile_row(std::string_view name) {
  auto [it, fresh] = g_profile.rows.try_emplace(std::string(name));
  if (fresh) it->second.name = name.empty() ? std::string("TOP") : std::string(name);
  return it->second;
}

// Charges the work since the last mark to the current row. A nested
// evaluation (a load) counts its steps from zero, so a clock that went back
// charges nothing and starts again.
void charge(uint64_t steps_now) {
  if (g_profile.current == nullptr) g_profile.current = &profile_row("");
  const uint64_t cells_now = cells_made();
  if (steps_now >= g_profile.steps_mark) g_profile.current->steps += steps_now - g_profile.steps_mark;
  if (cells_now >= g_profile.cells_mark) g_profile.current->cells += cells_now - g_profile.cells_mark;
  g_profile.steps_mark = steps_now;
  g_profile.cells_mark = cells_now;
}

// A printed expression cut to `width` bytes, "..." marking the cut.
std::string cut(std::string text, size_t width) {
  if (text.size() <= width) return text;
  if (width < 3) return text.substr(0, width);
  text.resize(width - 3);
  return text + "...";
}

}  // namespace

void set_watch(const WatchSettings& settings) {
  g_settings = settings;
  g_watching = settings.explain || settings.profile || settings.trace_steps > 0;
  if (settings.profile) g_profile.cells_mark = cells_made();
}

const WatchSettings& watch_settings() { return g_settings; }

const ExplainRecord& explain_record() { return g_explain; }

std::vector<ProfileRow> profile_rows() {
  if (g_settings.profile) charge(total_steps());
  std::vector<ProfileRow> rows;
  rows.reserve(g_profile.rows.size());
  for (const auto& [name, row] : g_profile.rows) rows.push_back(row);
  std::sort(rows.begin(), rows.end(), [](const ProfileRow& a, const ProfileRow& b) {
    if (a.steps != b.steps) return a.steps > b.steps;
    return a.name < b.name;
  });
  return rows;
}

void watch_builtin_answer(const Spine& spine, const Cell* result) {
  if (!g_settings.explain || !is_atom(result) || atom_text(result) != "Z") return;
  if (g_explain.refusals++ > 0) return;
  g_explain.first.primitive = std::string(spine.text());
  for (size_t i = 0; i < spine.count; ++i)
    g_explain.first.arguments.push_back(CellRef::retained(spine.args[i]));
  if (g_last_expansion) g_explain.first.within = std::string(atom_text(g_last_expansion.get()));
}

void watch_expansion(const Machine& m, Cell* head) {
  if (g_settings.explain) g_last_expansion = CellRef::retained(head);
  if (g_settings.profile) {
    charge(total_steps() + m.steps);
    g_profile.current = &profile_row(atom_text(head));
    ++g_profile.current->expansions;
  }
}

void watch_cycle(const Machine& m, std::string_view name) {
  if (!g_settings.explain || !g_explain.cycle.empty()) return;
  std::vector<std::string> open;
  for (const Frame& frame : m.frames) {
    if (frame.kind == Frame::Function && is_update_marker(frame.first.get())) {
      open.emplace_back(marker_name(frame.first.get()));
    }
  }
  auto first = std::find(open.begin(), open.end(), name);
  g_explain.cycle.assign(first, open.end());
  g_explain.cycle.emplace_back(name);
}

bool watch_traced_rewrite(Machine& m) {
  if (g_settings.trace_steps == 0) return false;
  --g_settings.trace_steps;
  std::string line = print_expression(m.focus.get());
  reduce_spine(m, walk_spine(m.focus.get()));
  line += " => ";
  line += print_expression(m.focus.get());
  line = cut(std::move(line), g_settings.trace_width);
  line += '\n';
  std::fflush(stdout);
  std::fwrite(line.data(), 1, line.size(), stderr);
  return true;
}

}  // namespace tove
