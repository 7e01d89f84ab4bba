#include "driver/driver.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <stdexcept>

#include "clib/family.h"
#include "compiler/library.h"
#include "driver/command_line.h"
#include "driver/library.h"
#include "eval/eval.h"
#include "eval/load.h"
#include "eval/run.h"
#include "eval/watch.h"
#include "frontend/frontend.h"
#include "numbers/family.h"
#include "numbers/numbers.h"
#include "platform/platform.h"
#include "prims/family.h"

namespace tove {

// ---- report text -------------------------------------------------------------------

std::string format_report(const ErrorReport& report) {
  if (!report.failed()) return "No errors.\n";
  std::string text = "Error.\n Type: " + report.type_word + "\n";
  if (!report.location.empty()) text += " Name: " + report.location + "\n";
  text += report.message;
  text += "\n\\/\n";
  return text;
}

namespace {

enum class Shade : uint8_t { Plain, Green, Red };

struct Glyph {
  Shade shade;
  char shown;
};

// How each byte of a report shows on a terminal: printable ASCII and the
// newline as themselves, every other byte as a printable stand-in in colour.
constexpr std::array<Glyph, 256> make_glyphs() {
  std::array<Glyph, 256> glyphs{};
  constexpr std::string_view kControlsLow = "JABCDEFGHI";                // 0x00-0x09
  constexpr std::string_view kControlsHigh = "KLMNOPQRSTUVWXYZ(){}[";    // 0x0B-0x1F
  constexpr std::string_view kOperators = "~!@#$%^&*<>-|+/=\\.`'\":;?";  // 0x7F-0x96
  constexpr std::string_view kDigits = "012345678";                      // 0x97-0x9F
  static_assert(kControlsLow.size() == 10 && kControlsHigh.size() == 21);
  static_assert(kOperators.size() == 24 && kDigits.size() == 9);
  for (unsigned b = 0; b < 256; ++b) {
    if (b == 0x0A || (b >= 0x20 && b <= 0x7E)) {
      glyphs[b] = {Shade::Plain, static_cast<char>(b)};
    } else if (b <= 0x09) {
      glyphs[b] = {Shade::Green, kControlsLow[b]};
    } else if (b <= 0x1F) {
      glyphs[b] = {Shade::Green, kControlsHigh[b - 0x0B]};
    } else if (b <= 0x96) {
      glyphs[b] = {Shade::Green, kOperators[b - 0x7F]};
    } else if (b <= 0x9F) {
      glyphs[b] = {Shade::Green, kDigits[b - 0x97]};
    } else if (b <= 0xFE) {
      // 0xA0 joins the red range as a space, so no text can stop the report.
      glyphs[b] = {Shade::Red, static_cast<char>(b - 0x80)};
    } else {
      glyphs[b] = {Shade::Green, ']'};
    }
  }
  return glyphs;
}

constexpr std::array<Glyph, 256> kGlyphs = make_glyphs();
static_assert(kGlyphs[0x7F].shown == '~' && kGlyphs[0x96].shown == '?');
static_assert(kGlyphs[0x1F].shown == '[' && kGlyphs[0x9F].shown == '8');

const char* shade_code(Shade shade) {
  switch (shade) {
    case Shade::Green: return "\033[32m";
    case Shade::Red: return "\033[31m";
    case Shade::Plain: break;
  }
  return "\033[m";
}

}  // namespace

std::string colour_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  Shade current = Shade::Plain;
  for (char c : text) {
    const Glyph& glyph = kGlyphs[static_cast<unsigned char>(c)];
    if (glyph.shade != current) {
      out += shade_code(glyph.shade);
      current = glyph.shade;
    }
    out += glyph.shown;
  }
  if (current != Shade::Plain) out += shade_code(Shade::Plain);
  return out;
}

std::string escape_name(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F || b == '[' || b == ']') {
      out += '[';
      out += kHex[b >> 4];
      out += kHex[b & 15];
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> read_program_stream(std::FILE* file) {
  std::string text;
  char buffer[4096];
  for (;;) {
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    if (n == 0) break;
    text.append(buffer, n);
  }
  // A read error (a folder, a failing device) must not pass for a short
  // program: the caller reports the file as unreadable.
  if (std::ferror(file) != 0) return std::nullopt;
  return text;
}

std::optional<std::string> read_program_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::optional<std::string> text = read_program_stream(file);
  TOVE_ASSERT(std::fclose(file) == 0);
  return text;
}

// ---- the memory ceiling -------------------------------------------------------------

std::optional<size_t> parse_memory_size(std::string_view text) {
  size_t i = 0;
  uint64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++i;
  }
  if (i == 0) return std::nullopt;
  unsigned shift = 0;
  if (i + 1 == text.size()) {
    switch (text[i]) {
      case 'K':
      case 'k': shift = 10; break;
      case 'M':
      case 'm': shift = 20; break;
      case 'G':
      case 'g': shift = 30; break;
      case 'T':
      case 't': shift = 40; break;
      default: return std::nullopt;
    }
  } else if (i != text.size()) {
    return std::nullopt;
  }
  if (value > (UINT64_MAX >> shift)) return std::nullopt;
  return static_cast<size_t>(value << shift);
}

size_t default_memory_ceiling() {
  size_t limit = platform::physical_memory();
  const size_t address_space = platform::address_space_limit();
  if (limit == 0 || address_space < limit) limit = address_space;
  if (limit == SIZE_MAX) return kNoMemoryCeiling;
  return limit / 4 * 3;
}

ErrorReport space_report(MemoryPhase phase) {
  std::string_view task;
  switch (phase) {
    case MemoryPhase::reading: task = "reading the program"; break;
    case MemoryPhase::compiling: task = "compiling the program"; break;
    case MemoryPhase::evaluating: task = "evaluating the program"; break;
    case MemoryPhase::printing: task = "printing the result"; break;
  }
  ErrorReport report;
  fail(report, "Space", "Memory ran out while " + std::string(task) + ".");
  return report;
}

// ---- the run --------------------------------------------------------------------------

namespace {

constexpr const char* kVersionText = "tove " TOVE_VERSION "\n";

constexpr const char* kHelpText =
    "Usage: tove file arg0 arg1 arg2 ...\n"
    "       tove [options] file arg0 arg1 arg2 ...\n"
    "       tove [options] - arg0 arg1 arg2 ...\n"
    "       tove [options] -c TEXT arg0 arg1 arg2 ...\n"
    "       tove [options] -e EXPR\n"
    "       tove [options] -i [file]\n"
    "       tove --help | --version\n"
    "\n"
    "Reads the program in file, applies its main expression to the address of\n"
    "the arguments arg0 arg1 ... and exits with the low 8 bits of the integer\n"
    "it yields. A failure is reported on standard error and exits with 128.\n"
    "\n"
    "Options, all before the program file; a value follows the option after\n"
    "'=' or as the next word:\n"
    "  -                  read the program from standard input\n"
    "  -c TEXT            run TEXT as the program file\n"
    "  -e EXPR            evaluate the expression EXPR (definitions may follow\n"
    "                     after commas) and print its value, as a session does\n"
    "  -i [file]          start an interactive session, with the definitions\n"
    "                     of file when given: each line is a definition\n"
    "                     name\\body or an expression whose value is printed\n"
    "  -l NAME, -L DIR    link the library NAME.tv; search DIR first (docs/library.md)\n"
    "  --max-memory=SIZE  set the memory ceiling (default three quarters of\n"
    "                     physical memory); SIZE in bytes with an optional\n"
    "                     K, M, G or T suffix\n"
    "  --max-depth=FRAMES set the bound on an evaluation's depth (default\n"
    "                     16M frames, 0 for none): a recursion that never\n"
    "                     ends stops there with a Space report\n"
    "  --explain          after a failure, or a run in which a primitive\n"
    "                     answered Z, add note: lines saying where and why\n"
    "  --stats            after the run, one line with the steps, the cells\n"
    "                     built, the peak memory, the CPU and the wall time\n"
    "  --profile[=FILE]   count expansions, steps and cells per definition;\n"
    "                     print the top 20 at exit, write all to FILE as CSV\n"
    "  --trace[=N]        print the first N rewrites (default 200) as\n"
    "                     before => after\n"
    "  --                 end the options: the next word is the program file\n"
    "  -h, --help         print this help and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "Exit status: the program's result (low 8 bits); 1 when no program file\n"
    "is given or the command line is wrong; 128 for every reported failure.\n"
    "Documentation: man tove, and the docs folder of the installation\n"
    "(debugging.md for the options that explain, count and trace a run).\n";

}  // namespace

// A program file that cannot be read is reported before any colour is set:
// the report's first line goes to standard output, the rest to standard
// error.
int report_unreadable(const std::string& path) {
  ErrorReport report;
  fail(report, "Start", "Could not read program file.", "\"" + escape_name(path) + "\"");
  const std::string text = format_report(report);
  const size_t head = text.find('\n') + 1;
  std::fwrite(text.data(), 1, head, stdout);
  std::fflush(stdout);
  std::fwrite(text.data() + head, 1, text.size() - head, stderr);
  return kFailureStatus;
}

void print_report(const ErrorReport& report) {
  std::fflush(stdout);
  std::string text = "\033[m" + colour_text(format_report(report));
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void announce_families() {
  static const bool announced = [] {
    add_builtin_family(number_family());
    add_builtin_family(structure_family());
    add_builtin_family(load_family());
    add_builtin_family(clib::c_library_family());
    return true;
  }();
  (void)announced;
}

namespace {

// Out of memory: the reserve pays for the report, and the process ends at
// once. An allocation can fail halfway through building a structure, so
// what the heap holds then is abandoned as it is, not unwound.
[[noreturn]] void report_out_of_memory() {
  spend_memory_reserve();
  print_report(space_report(memory_phase()));
  std::_Exit(platform::finish_output(kFailureStatus));
}

// An allocation that fails where no exception may pass (a destructor, a
// noexcept function) ends in std::terminate; it is still out of memory.
[[noreturn]] void on_terminate() {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::bad_alloc&) {
      report_out_of_memory();
    } catch (const std::length_error&) {
      report_out_of_memory();
    } catch (...) {
    }
  }
  std::abort();
}

// A command line without a program file: the report, uncoloured.
int usage() {
  ErrorReport report;
  fail(report, "Usage", "Usage: tove file arg0 arg1 arg2 ...");
  const std::string text = format_report(report);
  std::fwrite(text.data(), 1, text.size(), stderr);
  return 1;
}

// A command line that is wrong: what is wrong, and how it should look.
int wrong_command_line(const std::string& complaint) {
  const std::string text = "tove: " + complaint +
                           "\nUsage: tove [options] file arg0 arg1 arg2 ...\n"
                           "Try 'tove --help' for the options.\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  return 1;
}

// What --explain, --profile and --trace ask of the run, and --stats'
// clocks.
struct RunWatch {
  const CommandLine& line;
  std::chrono::steady_clock::time_point wall_start = std::chrono::steady_clock::now();
  std::clock_t cpu_start = std::clock();
};

void write_error_text(const std::string& text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// The width a traced line is cut to: the terminal's, or 80 off a terminal.
size_t trace_width() {
  const size_t columns = platform::terminal_columns(2);
  return columns >= 20 ? columns - 1 : 79;
}

void print_stats(const RunWatch& watch) {
  const double cpu = static_cast<double>(std::clock() - watch.cpu_start) / CLOCKS_PER_SEC;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - watch.wall_start).count();
  char text[200];
  std::snprintf(text, sizeof text, "stats: %llu steps, %llu cells, %.1f MiB peak, %.3f s cpu, %.3f s wall\n",
                static_cast<unsigned long long>(total_steps()), static_cast<unsigned long long>(cells_made()),
                static_cast<double>(memory_peak()) / (1024.0 * 1024.0), cpu, wall);
  write_error_text(text);
}

constexpr size_t kProfileTop = 20;

// The profile table on standard error (the top rows), and all rows to the
// profile file as comma-separated values.
int print_profile(const CommandLine& line) {
  const std::vector<ProfileRow> rows = profile_rows();
  std::string text = "profile: definition            expansions          steps          cells\n";
  for (size_t i = 0; i < rows.size() && i < kProfileTop; ++i) {
    char row[160];
    std::snprintf(row, sizeof row, "profile: %-20s %14llu %14llu %14llu\n", rows[i].name.c_str(),
                  static_cast<unsigned long long>(rows[i].expansions),
                  static_cast<unsigned long long>(rows[i].steps),
                  static_cast<unsigned long long>(rows[i].cells));
    text += row;
  }
  write_error_text(text);
  if (line.profile_file.empty()) return 0;
  std::FILE* file = std::fopen(line.profile_file.c_str(), "wb");
  if (file == nullptr) {
    write_error_text("tove: cannot write the profile to " + line.profile_file + "\n");
    return 1;
  }
  std::string csv = "definition,expansions,steps,cells\n";
  for (const ProfileRow& row : rows) {
    // A name is a word, a letter or one character; a quote or a comma is
    // quoted as CSV quotes it.
    std::string name = row.name;
    if (name.find_first_of(",\"\n\r") != std::string::npos) {
      std::string quoted = "\"";
      for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
      name = quoted + "\"";
    }
    csv += name + "," + std::to_string(row.expansions) + "," + std::to_string(row.steps) + "," +
           std::to_string(row.cells) + "\n";
  }
  const bool written = std::fwrite(csv.data(), 1, csv.size(), file) == csv.size();
  if (std::fclose(file) != 0 || !written) {
    write_error_text("tove: cannot write the profile to " + line.profile_file + "\n");
    return 1;
  }
  return 0;
}

int report_failure(const ErrorReport& report, const CommandLine& line, std::string_view source) {
  print_report(report);
  if (line.explain) explain_failure(report, source);
  return kFailureStatus;
}

// Reads, compiles and runs the program `text`; `arguments` are the argument
// strings after it, ended by a null entry.
int run_text(const std::string& text, char** arguments, const CommandLine& line) {
  load_prelude();
  ErrorReport report;
  read_program(report, text);
  if (report.failed()) return report_failure(report, line, text);
  join_library_into_program();

  run_program(report, static_cast<int64_t>(reinterpret_cast<intptr_t>(arguments)));
  if (report.failed()) return report_failure(report, line, text);
  if (line.explain) explain_refusals(text);

  CellRef* result = definitions().find("");
  TOVE_ASSERT(result != nullptr);
  const int64_t value = integer_to_int64(result->get());
  std::fflush(stdout);
  // The program's low 32 bits, of which a POSIX status keeps the low 8.
  return static_cast<int>(static_cast<uint32_t>(value) & 0xFF);
}

int run_file(const std::string& path, char** arguments, const CommandLine& line) {
  set_memory_phase(MemoryPhase::reading);
  std::optional<std::string> text;
  if (path == kStdinName) {
    text = read_program_stream(stdin);
  } else if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
    std::fclose(probe);
    text = read_program_file(path);
  } else {
    return report_unreadable(path);
  }
  if (!text) return report_unreadable(path);
  return run_text(*text, arguments, line);
}

int run_source(const CommandLine& line, char** argv) {
  if (int status = link_libraries(); status != 0) return status;
  char** arguments = argv + line.first_argument;
  switch (line.source) {
    case CommandLine::Source::session:
      return run_session(line.program.empty() ? nullptr : line.program.c_str());
    case CommandLine::Source::expression: return run_expression(line.program);
    case CommandLine::Source::text: return run_text(line.program, arguments, line);
    case CommandLine::Source::standard_input: return run_file(std::string(kStdinName), arguments, line);
    case CommandLine::Source::file: break;
  }
  return run_file(line.program, arguments, line);
}

}  // namespace

int run_driver(int argc, char** argv) {
  announce_families();
  platform::set_default_binary_mode();
  if (int code = platform::start_socket_library(); code != 0) {
    std::printf("WSAStartup failed: %d\n", code);
    return -1;
  }
  TOVE_ASSERT(argc >= 1);
  const CommandLine line = read_command_line(argc, argv);
  switch (line.action) {
    case CommandLine::Action::help: std::fputs(kHelpText, stdout); return 0;
    case CommandLine::Action::version: std::fputs(kVersionText, stdout); return 0;
    case CommandLine::Action::usage: return usage();
    case CommandLine::Action::wrong: return wrong_command_line(line.complaint);
    case CommandLine::Action::run: break;
  }
  platform::install_fault_messages();
  std::set_terminate(on_terminate);

  WatchSettings watch;
  watch.explain = line.explain;
  watch.profile = line.profile;
  watch.trace_steps = line.trace_steps;
  if (line.trace_steps > 0) watch.trace_width = trace_width();
  set_watch(watch);
  const RunWatch clocks{line};
  if (line.depth_limit_given) set_depth_limit(line.depth_limit == 0 ? SIZE_MAX : line.depth_limit);

  take_memory_reserve();
  set_memory_ceiling(line.memory_ceiling_given ? line.memory_ceiling : default_memory_ceiling());
  try {
    int status = run_source(line, argv);
    if (line.profile && print_profile(line) != 0 && status == 0) status = 1;
    if (line.stats) print_stats(clocks);
    return status;
  } catch (const RunawayEvaluation& runaway) {
    // An evaluation the run did not catch itself (a session's line): the
    // heap is whole, so the report needs no reserve.
    ErrorReport report;
    report_runaway(runaway, report);
    print_report(report);
    return kFailureStatus;
  } catch (const std::bad_alloc&) {
    report_out_of_memory();
  } catch (const std::length_error&) {
    // A size past what any allocation could give.
    report_out_of_memory();
  }
}

}  // namespace tove
