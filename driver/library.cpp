#include "driver/library.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "cells/memory.h"
#include "compiler/library.h"
#include "driver/driver.h"
#include "platform/platform.h"

namespace tove {

namespace {

struct LibraryOptions {
  std::vector<std::string> names;
  std::vector<std::string> folders;
};

LibraryOptions& library_options() {
  static LibraryOptions options;
  return options;
}

// The operand of «-X operand» or «-Xoperand»; nullopt when it is missing.
std::optional<std::string> operand(int argc, char** argv, int& index) {
  const std::string_view option(argv[index]);
  ++index;
  if (option.size() > 2) return std::string(option.substr(2));
  if (index == argc) return std::nullopt;
  return std::string(argv[index++]);
}

// The folder holding folder/name, without the last separator; "." for a bare name.
std::string parent_folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int library_line(const std::string& line) {
  std::fflush(stdout);
  const std::string text = "tove: " + line + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  return 1;
}

}  // namespace

LibraryOption take_library_option(int argc, char** argv, int& index) {
  const std::string_view option(argv[index]);
  if (!option.starts_with("-l") && !option.starts_with("-L")) return LibraryOption::none;
  const bool folder = option[1] == 'L';
  std::optional<std::string> value = operand(argc, argv, index);
  if (!value || value->empty()) return LibraryOption::bad;
  (folder ? library_options().folders : library_options().names).push_back(std::move(*value));
  return LibraryOption::taken;
}

std::vector<std::string> library_folders() {
  std::vector<std::string> folders = library_options().folders;
  if (std::optional<std::string> executable = platform::executable_path()) {
    folders.push_back(parent_folder(parent_folder(*executable)) + "/" TOVE_DATA_LIB_DIR);
  }
  folders.push_back(TOVE_SOURCE_LIB_DIR);
  return folders;
}

int link_libraries() {
  if (library_options().names.empty()) return 0;
  set_memory_phase(MemoryPhase::reading);
  const std::vector<std::string> folders = library_folders();
  for (const std::string& name : library_options().names) {
    std::optional<std::string> found;
    for (const std::string& folder : folders) {
      const std::string path = folder + "/" + name + ".tv";
      if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
        found = path;
        break;
      }
    }
    if (!found) return library_line("no library " + name + ".tv in the -L folders or the library folders");
    std::optional<std::string> text = read_program_file(*found);
    if (!text) return library_line("cannot read library file " + *found);
    ErrorReport report;
    if (!read_library(*found, *text, report)) {
      print_report(report);
      return kFailureStatus;
    }
  }
  return 0;
}

}  // namespace tove
