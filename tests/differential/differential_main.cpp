// Differential test of the two evaluation engines: every generated program
// is read, compiled and evaluated once by the reference engine and once by
// the fast engine, and the two runs must leave byte-for-byte the same
// account: the failure report, the result and every definition table entry
// afterwards (so memoised constants and black holes count too), written with
// the full text of every atom and with sharing made visible, so a cell that
// one engine shares and the other copies is a difference.
//
//     tove_differential [--seed N] [--count N] [--budget STEPS] [--show]
//
// --show prints every program before it runs, and marks those skipped.
//
// A program whose reference run needs more than the step budget is skipped
// (counted, not compared). The exit status is 1 at the first difference,
// after printing the program and both accounts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "cells/cell.h"
#include "cells/memory.h"
#include "cells/print.h"
#include "compiler/compile.h"
#include "eval/eval.h"
#include "frontend/frontend.h"
#include "numbers/family.h"
#include "prims/family.h"
#include "program_generator.h"

using namespace tove;

namespace {

// Writes cells as "(l r)" and atoms as their escaped text, numbering every
// cell met a second time: "#n=" marks the first visit, "#n" a later one.
class SharingWriter {
 public:
  void write(const Cell* root) {
    struct Task {
      const Cell* cell;
      int state;  // 0 open, 1 between parts, 2 close
    };
    std::vector<Task> tasks{{root, 0}};
    while (!tasks.empty()) {
      Task task = tasks.back();
      tasks.pop_back();
      if (task.state == 1) {
        out_ += ' ';
        continue;
      }
      if (task.state == 2) {
        out_ += ')';
        continue;
      }
      auto [it, fresh] = seen_.try_emplace(task.cell, 0);
      if (!fresh) {
        out_ += "#" + std::to_string(number(it->second));
        continue;
      }
      if (is_atom(task.cell)) {
        for (unsigned char c : atom_text(task.cell)) {
          if (c < 0x20 || c >= 0x7F || c == '\\' || c == '(' || c == ')' || c == '#' || c == ' ') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\%02x", c);
            out_ += hex;
          } else {
            out_ += static_cast<char>(c);
          }
        }
        continue;
      }
      out_ += '(';
      tasks.push_back({nullptr, 2});
      tasks.push_back({pair_right(task.cell), 0});
      tasks.push_back({nullptr, 1});
      tasks.push_back({pair_left(task.cell), 0});
    }
  }
  void text(const std::string& s) { out_ += s; }
  const std::string& result() const { return out_; }

 private:
  // Cells get numbers in the order they are met again; the first visit is
  // not marked, which keeps the account stable however the cells were made.
  int number(int& slot) {
    if (slot == 0) slot = ++next_;
    return slot;
  }
  std::unordered_map<const Cell*, int> seen_;
  int next_ = 0;
  std::string out_;
};

struct Account {
  bool over_budget = false;
  // The run, or the writing of its account, reached the memory ceiling.
  // How near the ceiling a run starts depends on what the process keeps
  // from earlier programs (the cell pool keeps its chunks), so such a run
  // proves nothing either way.
  bool out_of_memory = false;
  std::string text;
};

Account run(const std::string& program, Engine engine, uint64_t budget) {
  Account account;
  set_engine(engine);
  load_prelude();
  ErrorReport report;
  read_program(report, program);
  if (!report.failed()) compile_program(report);
  if (report.failed()) {
    account.text = "report " + report.type_word + " [" + report.location + "] " + report.message;
    return account;
  }
  CellRef result;
  try {
    result = evaluate_within(definitions().find("")->share(), budget);
  } catch (const std::bad_alloc&) {
    account.out_of_memory = true;
    return account;
  }
  if (!result) {
    account.over_budget = true;
    return account;
  }
  // The printed form spells out every shared cell each time it is met, so
  // a small graph can print past the memory ceiling (the interpreter then
  // reports "Space"); the sharing account below still holds all of it.
  try {
    std::string printed;
    try {
      printed = print_expression(result.get());
    } catch (const std::bad_alloc&) {
      printed = "(too large to print)";
    }
    SharingWriter writer;
    writer.text("printed ");
    writer.text(printed);
    printed.clear();
    printed.shrink_to_fit();
    writer.text("\nresult ");
    writer.write(result.get());
    result.reset();
    for (auto& [name, body] : definitions()) {
      if (name == "_") continue;  // the record layout text, the same for every program
      writer.text("\n" + name + " = ");
      writer.write(body.get());
    }
    account.text = writer.result();
  } catch (const std::bad_alloc&) {
    account.out_of_memory = true;
  }
  return account;
}

uint64_t number_argument(const char* text) { return std::strtoull(text, nullptr, 10); }

}  // namespace

int main(int argc, char** argv) {
  uint64_t seed = 1, count = 1000, budget = 20000;
  bool show = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--show") {
      show = true;
    } else if (i + 1 < argc && arg == "--seed") {
      seed = number_argument(argv[++i]);
    } else if (i + 1 < argc && arg == "--count") {
      count = number_argument(argv[++i]);
    } else if (i + 1 < argc && arg == "--budget") {
      budget = number_argument(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: tove_differential [--seed N] [--count N] [--budget STEPS] [--show]\n");
      return 2;
    }
  }
  // Numbers and structures compute for real; the C library and loading
  // stay out of generated programs.
  add_builtin_family(number_family());
  add_builtin_family(structure_family());
  set_memory_ceiling(memory_in_use() + (size_t{1} << 30));
  tove_test::ProgramGenerator generator(seed);
  uint64_t compared = 0, skipped = 0, reported = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const std::string program = generator.program();
    if (show) std::printf("%llu: %s\n", static_cast<unsigned long long>(i), program.c_str());
    const Account reference = run(program, Engine::Reference, budget);
    if (reference.over_budget || reference.out_of_memory) {
      if (show) std::printf("%llu: over the budget\n", static_cast<unsigned long long>(i));
      ++skipped;
      continue;
    }
    // The fast engine counts the same transitions but checks its budget
    // between more of them; a margin keeps it from stopping just short.
    const Account fast = run(program, Engine::Fast, 2 * budget + 100);
    if (fast.out_of_memory) {
      ++skipped;
      continue;
    }
    if (fast.over_budget || fast.text != reference.text) {
      std::printf("DIFFERENCE in program %llu of seed %llu:\n%s\n--- reference:\n%s\n--- fast:\n%s\n",
                  static_cast<unsigned long long>(i), static_cast<unsigned long long>(seed), program.c_str(),
                  reference.text.c_str(), fast.over_budget ? "(over the step budget)" : fast.text.c_str());
      return 1;
    }
    ++compared;
    if (reference.text.compare(0, 7, "report ") == 0) ++reported;
  }
  std::printf("%llu programs compared (%llu of them failed to read or compile), %llu over the budget\n",
              static_cast<unsigned long long>(compared), static_cast<unsigned long long>(reported),
              static_cast<unsigned long long>(skipped));
  return 0;
}
