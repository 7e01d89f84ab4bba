// The interactive session: `tove -i [file]`. Each input is either
// definitions (its first piece is written «name\body» or «name()\body»),
// which join the program as run-time loading adds them, an expression,
// maybe followed by definitions it uses, which is evaluated and printed
// with the expression printer, or a command (a line starting with ":").
//
// The session survives every line: a failing line prints its report, memory
// running out prints the Space report and gives the line's memory back, and
// Ctrl-C ends the evaluation or primitive in progress with "Interrupted.".
// The definitions the session held before a line are kept through all of
// these. Unlike `load` in a program, a definition of a name the session or
// its file defined replaces the old one for the inputs that follow (the
// prelude's names and the built-ins stay refused).
//
// An input whose brackets are still open at the end of a line goes on to
// the next line, after a continuation prompt on a terminal; the lines are
// joined with a line end between them, as in a program file.
//
// On a terminal the prompt is "tove> ", and lines are edited, kept in a
// history file in the home folder and completed (names of definitions,
// built-ins and commands) through libedit when the build found it. From a
// pipe or a file there is no prompt and no editing: standard output holds
// only the values, and every message goes to standard error.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cells/analysis.h"
#include "cells/memory.h"
#include "cells/print.h"
#include "cells/report.h"
#include "compiler/compile.h"
#include "compiler/library.h"
#include "compiler/load.h"
#include "driver/driver.h"
#include "eval/eval.h"
#include "eval/run.h"
#include "frontend/frontend.h"
#include "platform/platform.h"

#if defined(TOVE_HAVE_LIBEDIT)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <editline/readline.h>
#endif

namespace tove {

namespace {

constexpr const char* kPrompt = "tove> ";
constexpr const char* kContinuationPrompt = "....> ";
// The program a session without a program file starts from: no
// definitions, and a main program that the session never runs.
constexpr std::string_view kNoProgram = "I";

constexpr const char* kHelpText =
    "Inputs:\n"
    "  EXPR                 evaluate EXPR and print its value\n"
    "  name\\body            define name (a definition of a name the session\n"
    "                       already has replaces it)\n"
    "  EXPR,name\\body,...   evaluate EXPR with the definitions that follow it\n"
    "  an input with brackets still open goes on to the next line\n"
    "Commands:\n"
    "  :help                this text\n"
    "  :quit                leave the session (so does Ctrl-D)\n"
    "  :load FILE           start again from the definitions of FILE\n"
    "  :reload              read the last loaded file again\n"
    "  :browse              the session's definitions and their parameter counts\n"
    "  :type EXPR           the kind of EXPR's value and its remaining arity\n"
    "  :set +s              after each value, show steps, live cells, memory and time\n"
    "  :set +t              after each value, show its kind and arity\n"
    "  :unset +s | +t       stop showing them\n"
    "Ctrl-C interrupts an evaluation; the session goes on.\n";

struct Settings {
  bool statistics = false;  // :set +s
  bool types = false;       // :set +t
};

struct Session {
  bool terminal = false;
  std::optional<std::string> file;  // the last file loaded, for :reload
  Settings settings;
  bool quit = false;
};

void interrupt_evaluation() { request_interrupt(); }

// The names the prelude defines, and the layout definition the compiler
// adds: no input replaces them, and :browse leaves them out.
NameSet g_prelude_names;

void start_from_prelude() {
  load_prelude();
  g_prelude_names.clear();
  for (const auto& [name, body] : definitions()) g_prelude_names.insert(name);
  g_prelude_names.insert("_");
}

// A name the session or its file defined.
bool is_session_name(std::string_view name) {
  return !g_prelude_names.contains(name) && find_builtin(name) == nullptr && is_definable_name(name);
}

// Messages of the session itself (not values) go to standard error, so that
// a piped session's standard output holds the values alone.
void note(std::string_view text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

// The interrupt is taken back before it is acknowledged, so that a Ctrl-C
// that comes after the message is kept for the next input.
void note_interrupted() {
  clear_interrupt();
  note("Interrupted.");
}

// ---- reading inputs --------------------------------------------------------------------

enum class LineStatus : uint8_t { line, interrupted, end };

#if defined(TOVE_HAVE_LIBEDIT)
// The command words, for completion.
constexpr std::string_view kCommands[] = {":help",   ":quit", ":load", ":reload",
                                          ":browse", ":type", ":set",  ":unset"};

// The history file keeps the last kHistoryLines inputs of every session.
constexpr int kHistoryLines = 1000;
constexpr const char* kHistoryName = ".tove_history";

std::optional<std::string> history_path() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return std::nullopt;
  return std::string(home) + "/" + kHistoryName;
}

// Completion offers the names of definitions, built-ins and commands that
// start with the word being typed.
std::vector<std::string> g_candidates;
size_t g_next_candidate = 0;

char* next_completion(const char* word, int state) {
  if (state == 0) {
    g_candidates.clear();
    g_next_candidate = 0;
    const std::string_view prefix(word);
    auto offer = [&](std::string_view name) {
      if (name.starts_with(prefix) && !name.empty()) g_candidates.emplace_back(name);
    };
    if (prefix.starts_with(":")) {
      for (std::string_view command : kCommands) offer(command);
    } else {
      for (const auto& [name, body] : definitions()) {
        if (is_definable_name(name)) offer(name);
      }
      for (const auto& [name, entry] : builtin_table()) offer(name);
    }
  }
  if (g_next_candidate >= g_candidates.size()) return nullptr;
  return strdup(g_candidates[g_next_candidate++].c_str());
}

char** complete_word(const char* word, int, int) {
  rl_attempted_completion_over = 1;  // never fall back to file names
  return rl_completion_matches(word, next_completion);
}

void start_line_editor() {
  rl_readline_name = "tove";
  rl_attempted_completion_function = complete_word;
  // A word ends at anything that is no name character, so that the name
  // after an operator or a bracket completes alone.
  static char breaks[] = " \t\n()[]{},\\+-*/=<>!&|^~%#$@?;'\"`.";
  rl_basic_word_break_characters = breaks;
  using_history();
  stifle_history(kHistoryLines);
  if (std::optional<std::string> path = history_path()) read_history(path->c_str());
}

void save_history() {
  std::optional<std::string> path = history_path();
  if (!path) return;
  // Created for its owner alone: the history may hold anything typed.
  const int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0) return;
  fchmod(fd, 0600);
  close(fd);
  write_history(path->c_str());
  history_truncate_file(path->c_str(), kHistoryLines);
}

LineStatus read_edited_line(std::string& line, const char* prompt) {
  char* text = readline(prompt);
  if (text == nullptr) return interrupt_requested() ? LineStatus::interrupted : LineStatus::end;
  line = text;
  std::free(text);
  return LineStatus::line;
}
#endif

// One line without its line end. Ctrl-C while the line is being typed
// drops it.
LineStatus read_plain_line(std::string& line, bool terminal, const char* prompt) {
  if (terminal) {
    std::fputs(prompt, stdout);
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

LineStatus read_line(std::string& line, bool terminal, const char* prompt) {
#if defined(TOVE_HAVE_LIBEDIT)
  if (terminal) return read_edited_line(line, prompt);
#endif
  return read_plain_line(line, terminal, prompt);
}

// Whether an input still has a bracket open at its end: "(" and "{" outside
// texts, or a text "[" not yet closed. A closing bracket with nothing open
// is no open bracket; the loader reports it.
bool brackets_open(std::string_view text) {
  long groups = 0;
  long texts = 0;
  for (char c : text) {
    if (c == '[') {
      ++texts;
    } else if (c == ']') {
      if (texts == 0) return false;
      --texts;
    } else if (texts == 0 && (c == '(' || c == '{')) {
      ++groups;
    } else if (texts == 0 && (c == ')' || c == '}')) {
      if (groups == 0) return false;
      --groups;
    }
  }
  return groups > 0 || texts > 0;
}

// One input: a line, and the lines after it while its brackets are open.
LineStatus read_input(std::string& input, bool terminal) {
  std::string line;
  LineStatus status = read_line(line, terminal, kPrompt);
  if (status != LineStatus::line) return status;
  input = line;
  while (!input.starts_with(":") && brackets_open(input)) {
    status = read_line(line, terminal, kContinuationPrompt);
    if (status == LineStatus::interrupted) return status;
    if (status == LineStatus::end) break;
    input += '\n';
    input += line;
  }
#if defined(TOVE_HAVE_LIBEDIT)
  if (terminal && input.find_first_not_of(" \t\n") != std::string::npos) add_history(input.c_str());
#endif
  return LineStatus::line;
}

// ---- evaluating inputs --------------------------------------------------------------------

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

// The normalized names a line of definitions defines.
std::vector<std::string> defined_names(std::string_view line) {
  std::vector<std::string> names;
  const std::string normal = normalise_text(line);
  for (const ProgramPiece& piece : split_program(normal)) {
    std::optional<Definition> definition = parse_definition(piece.text);
    if (definition && is_definable_name(definition->name)) names.push_back(normalized_name(definition->name));
  }
  return names;
}

// The parameter count a body gives its name: its leading lambda nodes.
int parameter_count(Cell* body) {
  int count = 0;
  while (is_lambda_node(body)) {
    ++count;
    body = pair_right(body);
  }
  return count;
}

// A definition other than `name` itself that mentions `name`. Bodies
// share their parts, so each cell is looked at once.
std::optional<std::string> user_of(std::string_view name) {
  std::unordered_set<const Cell*> seen;
  for (const auto& [other, body] : definitions()) {
    // The file's main expression is never run in a session.
    if (other == name || other.empty()) continue;
    std::vector<Cell*> work{body.get()};
    while (!work.empty()) {
      Cell* c = work.back();
      work.pop_back();
      if (!seen.insert(c).second) continue;
      if (is_atom(c)) {
        if (atom_text(c) == name) return other;
      } else {
        work.push_back(pair_left(c));
        work.push_back(pair_right(c));
      }
    }
  }
  return std::nullopt;
}

// A definition the session replaces, held until the new one is in.
struct Replaced {
  std::string name;
  CellRef body;
  bool uncached;
};

// Takes out of the table each name of `names` that the session or its file
// defined, so that the line's definition of it goes in as a new one. The
// prelude's names and the built-ins stay, and `load` refuses them as it
// does in a program.
std::vector<Replaced> take_out_replaced(const std::vector<std::string>& names) {
  std::vector<Replaced> replaced;
  for (const std::string& name : names) {
    CellRef* slot = definitions().find(name);
    if (slot == nullptr || !is_session_name(name)) continue;
    replaced.push_back({name, std::move(*slot), uncached_names().contains(name)});
    definitions().erase(name);
    uncached_names().erase(name);
  }
  return replaced;
}

void put_back(std::vector<Replaced>& replaced) {
  for (Replaced& old : replaced) {
    definitions().set(old.name, std::move(old.body));
    if (old.uncached) {
      uncached_names().insert(old.name);
    } else {
      uncached_names().erase(old.name);
    }
  }
}

// A replacement that changes a name's parameter count while another
// definition uses the name is refused: the users were checked and analysed
// for the old count. The message names the first user found.
std::optional<std::string> refuse_new_arity(const std::vector<Replaced>& replaced) {
  for (const Replaced& old : replaced) {
    CellRef* slot = definitions().find(old.name);
    if (slot == nullptr) continue;
    const int before = parameter_count(old.body.get());
    const int after = parameter_count(slot->get());
    if (before == after) continue;
    if (std::optional<std::string> user = user_of(old.name)) {
      return "Not redefined: [" + old.name + "] would take " + std::to_string(after) +
             " parameters instead of " + std::to_string(before) + ", and [" + *user +
             "] uses it; give the new definition another name.";
    }
  }
  return std::nullopt;
}

void print_value(const Cell* value) {
  std::string text = print_expression(value);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// The kind of a value as `type` names it, and its remaining arity.
std::string describe(CellRef value) {
  const int arity = node_arity(value.get());
  CellRef kind = evaluate(make_pair(make_atom("type"), std::move(value)));
  std::string text = ":: " + print_expression(kind.get());
  if (arity > 0 && arity < kArityUnbounded) text += ", arity " + std::to_string(arity);
  return text;
}

// Evaluates a line's expression and prints its value; false when it was
// interrupted.
bool evaluate_and_print(CellRef main, const Session& session, bool describe_only) {
  const auto start = std::chrono::steady_clock::now();
  const uint64_t steps_before = total_steps();
  set_memory_phase(MemoryPhase::evaluating);
  CellRef value = evaluate(std::move(main));
  if (interrupt_requested()) return false;
  ErrorReport report;
  if (report_cycle(value.get(), report)) {
    print_report(report);
    return true;
  }
  set_memory_phase(MemoryPhase::printing);
  if (describe_only) {
    std::string text = describe(std::move(value));
    if (interrupt_requested()) return false;
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return true;
  }
  print_value(value.get());
  if (session.settings.types) {
    std::string text = describe(std::move(value));
    if (interrupt_requested()) return false;
    note(text);
  }
  if (session.settings.statistics) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const CellCounts cells = live_cells();
    char text[160];
    std::snprintf(text, sizeof text, "(%llu steps, %llu cells, %zu bytes in use, %.3f s)",
                  static_cast<unsigned long long>(total_steps() - steps_before),
                  static_cast<unsigned long long>(cells.pairs + cells.atoms), memory_in_use(), seconds);
    note(text);
  }
  return true;
}

// Runs one input of definitions or an expression; false when interrupted.
bool run_program_line(std::string_view line, const Session& session, bool describe_only) {
  ErrorReport report;
  const LoadShape shape = describe_only ? LoadShape::main_and_definitions : line_shape(line);
  std::vector<Replaced> replaced;
  if (shape == LoadShape::definitions_only) replaced = take_out_replaced(defined_names(line));
  set_memory_phase(MemoryPhase::reading);
  CellRef main = load_program_text(line, report, shape);
  if (interrupt_requested()) {
    put_back(replaced);
    return false;
  }
  if (!main) {
    put_back(replaced);
    print_report(report);
    return true;
  }
  if (shape == LoadShape::definitions_only) {
    if (std::optional<std::string> refusal = refuse_new_arity(replaced)) {
      put_back(replaced);
      note(*refusal);
      return true;
    }
    if (!replaced.empty()) {
      std::string text = "Redefined";
      for (size_t i = 0; i < replaced.size(); ++i) text += (i == 0 ? " [" : ", [") + replaced[i].name + "]";
      note(text + ".");
    }
    return true;
  }
  return evaluate_and_print(std::move(main), session, describe_only);
}

// Reads, checks and compiles a program file as the session's start; on a
// failure the report is printed and the definitions stay as they were.
bool load_file(const std::string& path) {
  std::optional<std::string> text = read_program_file(path);
  if (!text) {
    report_unreadable(path);
    return false;
  }
  DefinitionTable kept;
  kept.copy_from(definitions());
  const NameSet kept_uncached = uncached_names();
  set_memory_phase(MemoryPhase::reading);
  const NameSet kept_prelude = g_prelude_names;
  start_from_prelude();
  ErrorReport report;
  read_program(report, *text);
  if (!report.failed()) {
    join_library_into_program();
    set_memory_phase(MemoryPhase::compiling);
    compile_program(report);
  }
  if (!report.failed()) return true;
  print_report(report);
  definitions().clear();
  definitions().copy_from(kept);
  uncached_names() = kept_uncached;
  g_prelude_names = kept_prelude;
  return false;
}

void browse() {
  std::string text;
  for (const auto& [name, body] : definitions()) {
    if (!is_session_name(name)) continue;
    const int count = parameter_count(body.get());
    text += name + (uncached_names().contains(name) ? "()" : "") + "  " + std::to_string(count) +
            (count == 1 ? " parameter\n" : " parameters\n");
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\n");
  return text.substr(first, last - first + 1);
}

bool set_option(std::string_view argument, Settings& settings, bool on) {
  if (argument == "+s") {
    settings.statistics = on;
  } else if (argument == "+t") {
    settings.types = on;
  } else {
    return false;
  }
  return true;
}

// A command line; false when interrupted.
bool run_command(std::string_view line, Session& session) {
  const size_t end = line.find_first_of(" \t");
  const std::string_view word = line.substr(0, end);
  const std::string_view argument =
      end == std::string_view::npos ? std::string_view{} : trimmed(line.substr(end));
  if (word == ":help" || word == ":h" || word == ":?") {
    std::fputs(kHelpText, stdout);
    std::fflush(stdout);
  } else if (word == ":quit" || word == ":q") {
    session.quit = true;
  } else if (word == ":load" || word == ":l") {
    if (argument.empty()) {
      note(":load needs a file name.");
    } else if (load_file(std::string(argument))) {
      session.file = std::string(argument);
      note("Loaded " + *session.file + ".");
    }
  } else if (word == ":reload" || word == ":r") {
    if (!session.file) {
      note("No file to reload: start with tove -i FILE or use :load FILE.");
    } else if (load_file(*session.file)) {
      note("Reloaded " + *session.file + ".");
    }
  } else if (word == ":browse" || word == ":b") {
    browse();
  } else if (word == ":type" || word == ":t") {
    if (argument.empty()) {
      note(":type needs an expression.");
    } else {
      return run_program_line(argument, session, true);
    }
  } else if (word == ":set" || word == ":unset") {
    if (!set_option(argument, session.settings, word == ":set")) note(std::string(word) + " takes +s or +t.");
  } else {
    note("Unknown command " + std::string(word) + "; :help lists the commands.");
  }
  return true;
}

// One input; whatever fails, the session goes on. Memory running out
// unwinds the input's references, which gives its memory back, and the
// definitions are put back as they were before the input, since the
// constants it was computing were left unfinished.
void run_input(std::string_view input, Session& session) {
  const std::string_view line = trimmed(input);
  if (line.empty()) return;
  // A Ctrl-C pressed after the line was read and before its evaluation
  // starts is kept: it interrupts that evaluation at once.
  DefinitionTable before;
  before.copy_from(definitions());
  const NameSet before_uncached = uncached_names();
  try {
    try {
      const bool finished =
          line.starts_with(":") ? run_command(line, session) : run_program_line(line, session, false);
      // A Ctrl-C that comes once the line's work is done is kept for the
      // next input.
      if (!finished) note_interrupted();
    } catch (const Interrupted&) {
      note_interrupted();
    }
  } catch (const std::bad_alloc&) {
    const MemoryPhase phase = memory_phase();
    const size_t ceiling = memory_ceiling();
    definitions().clear();
    definitions().copy_from(before);
    uncached_names() = before_uncached;
    spend_memory_reserve();
    print_report(space_report(phase));
    take_memory_reserve();
    set_memory_ceiling(ceiling);
  } catch (const std::length_error&) {
    const MemoryPhase phase = memory_phase();
    definitions().clear();
    definitions().copy_from(before);
    uncached_names() = before_uncached;
    print_report(space_report(phase));
  }
}

// The session's starting definitions: the prelude's and those of the
// program text; false, with the report printed, when the text fails.
bool start_definitions(const std::string& text) {
  start_from_prelude();
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

// -e EXPR: the expression's value printed as a session line prints it.
int run_expression_line(std::string_view line) {
  ErrorReport report;
  const LoadShape shape = line_shape(line);
  set_memory_phase(MemoryPhase::reading);
  CellRef main = load_program_text(line, report, shape);
  if (!main) {
    print_report(report);
    return kFailureStatus;
  }
  if (shape == LoadShape::definitions_only) return 0;
  set_memory_phase(MemoryPhase::evaluating);
  CellRef value = evaluate(std::move(main));
  if (interrupt_requested()) {
    note_interrupted();
    return kFailureStatus;
  }
  if (report_cycle(value.get(), report)) {
    print_report(report);
    return kFailureStatus;
  }
  set_memory_phase(MemoryPhase::printing);
  print_value(value.get());
  return 0;
}

}  // namespace

int run_session(const char* program_path) {
  Session session;
  std::string text(kNoProgram);
  if (program_path != nullptr) {
    std::optional<std::string> file = read_program_file(program_path);
    if (!file) return report_unreadable(program_path);
    text = std::move(*file);
    session.file = program_path;
  }
  if (!start_definitions(text)) return kFailureStatus;

  session.terminal = platform::input_is_terminal();
#if defined(TOVE_HAVE_LIBEDIT)
  if (session.terminal) start_line_editor();
#endif
  platform::on_terminal_interrupt(interrupt_evaluation);
  std::string input;
  while (!session.quit) {
    const LineStatus status = read_input(input, session.terminal);
    if (status == LineStatus::end) break;
    if (status == LineStatus::interrupted) {
      clear_interrupt();
      if (session.terminal) std::fputs("\n", stdout);
      continue;
    }
    run_input(input, session);
  }
  if (session.terminal) std::fputs("\n", stdout);
  std::fflush(stdout);
#if defined(TOVE_HAVE_LIBEDIT)
  if (session.terminal) save_history();
#endif
  return 0;
}

int run_expression(std::string_view line) {
  if (!start_definitions(std::string(kNoProgram))) return kFailureStatus;
  platform::on_terminal_interrupt(interrupt_evaluation);
  try {
    return run_expression_line(line);
  } catch (const Interrupted&) {
    note_interrupted();
    return kFailureStatus;
  }
}

}  // namespace tove
