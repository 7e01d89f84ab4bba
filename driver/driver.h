// The process entry and the error report's printed form.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "frontend/tables.h"

namespace tove {

// Announces every family of built-in primitives to the registry, once.
void announce_families();

// The whole run: start-up, read, compile, evaluate; returns the exit status.
int run_driver(int argc, char** argv);

// The interactive session (driver/repl.cpp): `program_path` names a program
// whose definitions the session starts with, or is null. Returns the exit
// status.
int run_session(const char* program_path);

std::string format_report(const ErrorReport& report);
// Reports a program file that cannot be read; returns the failure status.
int report_unreadable(const std::string& path);
// Writes a failed report to standard error in its coloured form.
void print_report(const ErrorReport& report);
std::string colour_text(std::string_view text);
std::string escape_name(std::string_view name);
// The whole file, zero bytes included; nullopt when it cannot be read.
std::optional<std::string> read_program_file(const std::string& path);
// Everything left on an open stream (standard input for the file name "-").
std::optional<std::string> read_program_stream(std::FILE* file);

// A POSIX status keeps 8 bits, so every reported failure exits with 128.
inline constexpr int kFailureStatus = 128;

}  // namespace tove
