#include "driver/command_line.h"

#include <optional>
#include <string_view>

#include "driver/driver.h"
#include "driver/library.h"

namespace tove {

namespace {

struct Reader {
  int argc;
  char** argv;
  int index = 1;
  CommandLine line;

  // Keeps the first complaint; later words are still read for --help and
  // --version.
  void complain(std::string text) {
    if (line.complaint.empty()) line.complaint = std::move(text);
  }

  // The value of a long option: after "=" in the same word, else the next
  // word. nullopt when there is none.
  std::optional<std::string> value(std::optional<std::string_view> joined) {
    if (joined) return std::string(*joined);
    if (index == argc) return std::nullopt;
    return std::string(argv[index++]);
  }

  void read_long(std::string_view word) {
    const size_t equals = word.find('=');
    const std::string_view name = word.substr(0, equals);
    const std::optional<std::string_view> joined =
        equals == std::string_view::npos ? std::nullopt : std::optional(word.substr(equals + 1));
    const std::string option(name);
    if (name == "--help") {
      line.action = CommandLine::Action::help;
    } else if (name == "--version") {
      if (line.action != CommandLine::Action::help) line.action = CommandLine::Action::version;
    } else if (name == "--explain" || name == "--stats") {
      if (joined) return complain(option + " takes no value, not '" + std::string(*joined) + "'");
      (name == "--explain" ? line.explain : line.stats) = true;
    } else if (name == "--trace") {
      // The value only after "=": the next word is the program file.
      line.trace_steps = kDefaultTraceSteps;
      if (!joined) return;
      std::optional<size_t> n = parse_count(*joined);
      if (!n || *n == 0) {
        return complain("--trace wants a number of rewrites such as 200, not '" + std::string(*joined) + "'");
      }
      line.trace_steps = *n;
    } else if (name == "--profile") {
      line.profile = true;
      if (!joined) return;
      if (joined->empty()) return complain("--profile= wants a file name");
      line.profile_file = std::string(*joined);
    } else if (name == "--max-memory") {
      std::optional<std::string> size = value(joined);
      if (!size) return complain("--max-memory wants a size such as 512M");
      std::optional<size_t> bytes = parse_memory_size(*size);
      if (!bytes) return complain("--max-memory wants a size such as 512M, not '" + *size + "'");
      line.memory_ceiling_given = true;
      line.memory_ceiling = *bytes;
    } else if (name == "--max-depth") {
      std::optional<std::string> count = value(joined);
      if (!count) return complain("--max-depth wants a number of frames such as 16M");
      std::optional<size_t> frames = parse_memory_size(*count);
      if (!frames) return complain("--max-depth wants a number of frames such as 16M, not '" + *count + "'");
      line.depth_limit_given = true;
      line.depth_limit = *frames;
    } else {
      complain("unknown option '" + option + "'");
    }
  }

  // Reads options up to the program; answers false once the program and
  // its arguments are found.
  bool read_option() {
    const std::string_view word(argv[index]);
    if (word == "--") {
      ++index;
      if (index < argc) program(CommandLine::Source::file, argv[index], index + 1);
      return false;
    }
    if (word == kStdinName) {
      program(CommandLine::Source::standard_input, "", index + 1);
      return false;
    }
    if (word.size() < 2 || word[0] != '-') {
      program(CommandLine::Source::file, word, index + 1);
      return false;
    }
    if (word.starts_with("--")) {
      ++index;
      read_long(word);
      return true;
    }
    switch (word[1]) {
      case 'h':
        ++index;
        if (word.size() == 2) {
          line.action = CommandLine::Action::help;
        } else {
          complain("unknown option '" + std::string(word) + "'");
        }
        return true;
      case 'l':
      case 'L': {
        const bool folder = word[1] == 'L';
        if (take_library_option(argc, argv, index) == LibraryOption::bad) {
          complain(folder ? "-L wants a folder" : "-l wants a library name");
        }
        return true;
      }
      case 'e':
      case 'c': {
        const bool expression = word[1] == 'e';
        ++index;
        std::optional<std::string> text =
            word.size() > 2 ? std::optional(std::string(word.substr(2))) : value(std::nullopt);
        if (!text) {
          complain(expression ? "-e wants an expression" : "-c wants program text");
          return true;
        }
        if (!expression) {
          program(CommandLine::Source::text, *text, index);
          return false;
        }
        // Options may still follow the expression; nothing else may.
        program(CommandLine::Source::expression, *text, index);
        while (index < argc) {
          const std::string_view next(argv[index]);
          if (!next.starts_with("--") || next == "--") {
            complain("-e EXPR takes no program file or arguments, not '" + std::string(next) + "'");
            ++index;
            continue;
          }
          ++index;
          read_long(next);
        }
        return false;
      }
      case 'i':
        if (word.size() == 2) {
          program(CommandLine::Source::session, index + 1 < argc ? argv[index + 1] : "", argc);
          return false;
        }
        break;
      default: break;
    }
    ++index;
    complain("unknown option '" + std::string(word) + "'");
    return true;
  }

  void program(CommandLine::Source source, std::string_view text, int first_argument) {
    if (line.action == CommandLine::Action::usage) line.action = CommandLine::Action::run;
    line.source = source;
    line.program = std::string(text);
    line.first_argument = first_argument;
  }
};

}  // namespace

std::optional<size_t> parse_count(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  size_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  return n;
}

CommandLine read_command_line(int argc, char** argv) {
  Reader reader{argc, argv, 1, {}};
  while (reader.index < argc && reader.read_option()) {
  }
  CommandLine& line = reader.line;
  if (line.action == CommandLine::Action::help || line.action == CommandLine::Action::version) return line;
  if (!line.complaint.empty()) line.action = CommandLine::Action::wrong;
  return line;
}

}  // namespace tove
