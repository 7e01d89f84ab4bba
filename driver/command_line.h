// The command line: options first, then the program (a file, "-" for
// standard input, -c TEXT, -e EXPR or -i [file]), then the program's own
// arguments. An option's value follows it after "=" or as the next word
// (short options also take it joined: -lNAME); "--" ends the options.
// --help and --version win wherever they stand among the options, even
// after a wrong one.
//
// Ownership: the result keeps copies of the strings it needs; the library
// options -l and -L are recorded where driver/library.h keeps them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tove {

struct CommandLine {
  enum class Action : uint8_t {
    run,      // run `program` as `source` says
    help,     // print the help
    version,  // print the version
    usage,    // no program given: the usage report
    wrong,    // `complaint` says what is wrong with the command line
  };
  enum class Source : uint8_t { file, standard_input, text, expression, session };

  Action action = Action::usage;
  std::string complaint;
  Source source = Source::file;
  // The file name, the -c TEXT, the -e EXPR, or the session's file ("" for none).
  std::string program;
  int first_argument = 0;  // index in argv of the program's first argument

  bool memory_ceiling_given = false;
  size_t memory_ceiling = 0;
  bool depth_limit_given = false;
  size_t depth_limit = 0;  // frames; 0 for no bound
  bool explain = false;
  bool stats = false;
  uint64_t trace_steps = 0;  // 0: no trace
  bool profile = false;
  std::string profile_file;  // empty: the table on standard error only
};

inline constexpr uint64_t kDefaultTraceSteps = 200;

CommandLine read_command_line(int argc, char** argv);

// A decimal count of at most 18 digits; nullopt for anything else.
std::optional<size_t> parse_count(std::string_view text);

}  // namespace tove
