// The interactive session: `tove -i [file]`. Each line is either
// definitions (its first piece is written «name\body» or «name()\body»),
// which join the program as run-time loading adds them, or an expression,
// maybe followed by definitions it uses, which is evaluated and printed
// with the expression printer. A failing line prints its report and the
// session goes on; Ctrl-C ends a long evaluation and returns to the prompt;
// the end of input (Ctrl-D) leaves.
//
// On a terminal the prompt is "tove> ", and lines are edited and kept in a
// history through libedit when the build found it. From a pipe or a file
// there is no prompt and no editing: standard output holds only the values.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "cells/print.h"
#include "compiler/compile.h"
#include "compiler/library.h"
#include "compiler/load.h"
#include "driver/driver.h"
#include "eval/eval.h"
#include "eval/run.h"
#include "frontend/frontend.h"
#include "platform/platform.h"

#if defined(TOVE_HAVE_LIBEDIT)
#include <editline/readline.h>
#endif

namespace tove {

namespace {

constexpr const char* kPrompt = "tove> ";
// The program a session without a program file starts from: no
// definitions, and a main program that the session never runs.
constexpr std::string_view kNoProgram = "I";

void interrupt_evaluation() { request_interrupt(); }

enum class LineStatus : uint8_t { line, interrupted, end };

#if defined(TOVE_HAVE_LIBEDIT)
LineStatus read_edited_line(std::string& line) {
  char* text = readline(kPrompt);
  if (text == nullptr) return interrupt_requested() ? LineStatus::interrupted : LineStatus::end;
  line = text;
  if (text[0] != '\0') add_history(text);
  std::free(text);
  return LineStatus::line;
}
#endif

// One line without its line end. Ctrl-C while the line is being typed
// drops it.
LineStatus read_plain_line(std::string& line, bool terminal) {
  if (terminal) {
    std::fputs(kPrompt, stdout);
    std::fflush(stdout);
  }
  line.clear();
  for (;;) {
    const int c = std::fgetc(stdin);
    if (c == EOF) {
      if (std::ferror(stdin) && errno == EINTR) {
        std::clearerr(stdin);
        return LineStatus::interrupted;
      }
      return line.empty() ? LineStatus::end : LineStatus::line;
    }
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return LineStatus::line;
}

LineStatus read_line(std::string& line, bool terminal) {
#if defined(TOVE_HAVE_LIBEDIT)
  if (terminal) return read_edited_line(line);
#endif
  return read_plain_line(line, terminal);
}

// A line whose first piece is a definition holds definitions only. A
// lambda on a local letter («x\x+1») is an expression, and a line with
// unbalanced brackets is left to the loader to report.
LoadShape line_shape(std::string_view line) {
  ErrorReport brackets;
  if (!check_brackets(line, brackets)) return LoadShape::main_and_definitions;
  const std::string normal = normalise_text(line);
  const std::optional<Definition> first = parse_definition(split_program(normal)[0].text);
  if (!first) return LoadShape::main_and_definitions;
  if (is_definable_name(first->name) && is_local_letter(normalized_name(first->name))) {
    return LoadShape::main_and_definitions;
  }
  return LoadShape::definitions_only;
}

void print_value(const Cell* value) {
  std::string text = print_expression(value);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Evaluates one line and prints its value; false when it failed.
bool run_line(std::string_view line) {
  if (line.find_first_not_of(" \t") == std::string_view::npos) return true;
  clear_interrupt();
  ErrorReport report;
  const LoadShape shape = line_shape(line);
  CellRef main = load_program_text(line, report, shape);
  if (!main) {
    print_report(report);
    return false;
  }
  if (shape == LoadShape::definitions_only) return true;
  CellRef value = evaluate(std::move(main));
  if (interrupt_requested()) {
    clear_interrupt();
    std::fflush(stdout);
    std::fputs("Interrupted.\n", stderr);
    std::fflush(stderr);
    return false;
  }
  if (report_cycle(value.get(), report)) {
    print_report(report);
    return false;
  }
  print_value(value.get());
  return true;
}

// The session's definitions: those of the program file, or none.
bool start_session(std::string text) {
  load_prelude();
  ErrorReport report;
  read_program(report, text);
  if (!report.failed()) {
    join_library_into_program();
    compile_program(report);
  }
  if (!report.failed()) return true;
  print_report(report);
  return false;
}

}  // namespace

int run_session(const char* program_path) {
  std::string text(kNoProgram);
  if (program_path != nullptr) {
    std::optional<std::string> file = read_program_file(program_path);
    if (!file) return report_unreadable(program_path);
    text = std::move(*file);
  }
  if (!start_session(std::move(text))) return kFailureStatus;

  const bool terminal = platform::input_is_terminal();
  platform::on_terminal_interrupt(interrupt_evaluation);
  std::string line;
  for (;;) {
    const LineStatus status = read_line(line, terminal);
    if (status == LineStatus::end) break;
    if (status == LineStatus::interrupted) {
      if (terminal) std::fputs("\n", stdout);
      continue;
    }
    run_line(line);
  }
  if (terminal) std::fputs("\n", stdout);
  std::fflush(stdout);
  return 0;
}

int run_expression(std::string_view line) {
  if (!start_session(std::string(kNoProgram))) return kFailureStatus;
  platform::on_terminal_interrupt(interrupt_evaluation);
  return run_line(line) ? 0 : kFailureStatus;
}

}  // namespace tove
