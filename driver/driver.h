// The process entry and the error report's printed form.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cells/memory.h"
#include "cells/report.h"
#include "platform/platform.h"

namespace tove {

// Announces every family of built-in primitives to the registry, once.
void announce_families();

// The whole run: start-up, read, compile, evaluate; returns the exit status.
// The status is final only once the output is checked (platform::finish_output).
int run_driver(int argc, char** argv);

// The interactive session (driver/repl.cpp): `program_path` names a program
// whose definitions the session starts with, or is null. Returns the exit
// status.
int run_session(const char* program_path);
// `tove -e EXPR`: evaluates one session line and prints its value; returns
// 0, or the failure status after printing the report.
int run_expression(std::string_view line);

// The note: lines of --explain (driver/explain.cpp), on standard error.
// `source` is the program text the report's positions refer to.
void explain_failure(const ErrorReport& report, std::string_view source);
// The first primitive that answered Z, when one did, and how many did.
void explain_refusals(std::string_view source);

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

// The program file name that stands for standard input.
inline constexpr std::string_view kStdinName = "-";

// A POSIX status keeps 8 bits, so every reported failure exits with 128.
inline constexpr int kFailureStatus = platform::kFailureStatus;

// ---- the memory ceiling ------------------------------------------------------------

// SIZE of the option: decimal digits with an optional binary suffix K, M, G
// or T (upper or lower case); nullopt for anything else or a size past 2^64.
std::optional<size_t> parse_memory_size(std::string_view text);
// Three quarters of the physical memory, or of the address-space limit when
// that is lower; no ceiling when neither can be told.
size_t default_memory_ceiling();
// The out-of-memory report for the phase the interpreter was in.
ErrorReport space_report(MemoryPhase phase);

}  // namespace tove
