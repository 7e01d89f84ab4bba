// The operating-system layer: the few start-up steps and interfaces the
// interpreter expects from its original platform, given over POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tove::platform {

// The exit status of every failure the interpreter reports: a POSIX status
// keeps 8 bits.
inline constexpr int kFailureStatus = 128;

// Makes binary the default mode of every file opened afterwards. POSIX has
// no text mode, so there is nothing to change; the step stays named so the
// start-up sequence reads in its own order.
void set_default_binary_mode();

// Starts the socket library (version 2.2 requested); returns 0 on success
// or the library's error code. POSIX sockets need no start-up; the step
// ignores SIGPIPE, so writing to a closed connection answers -1 as a call
// of the socket library does.
int start_socket_library();

// The NUL-terminated string at a machine address of this process, copied;
// nullopt when the address is null or the memory up to the NUL cannot be
// read. A bad address never ends the process.
std::optional<std::string> read_c_string(uint64_t address);

// True when standard input is a terminal (someone typing), not a pipe or a
// file.
bool input_is_terminal();
// The width in columns of the terminal on file descriptor `fd`; 0 when it
// is not a terminal or its width cannot be told.
size_t terminal_columns(int fd);

// From now on an interrupt from the terminal (Ctrl-C) calls `handler`,
// which must be safe to run in a signal handler, instead of ending the
// process. A blocking read that the interrupt breaks into returns early
// with an error rather than carrying on.
void on_terminal_interrupt(void (*handler)());

// The absolute path of the running interpreter's executable file, symbolic
// links resolved; nullopt when the system cannot tell it.
std::optional<std::string> executable_path();

// The machine's physical memory in bytes (0 when it cannot be told).
size_t physical_memory();
// The process's soft address-space limit in bytes (SIZE_MAX when none).
size_t address_space_limit();

// A fault signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE) or an abort (SIGABRT, as
// the C library raises on a double free or a corrupted heap) first writes
// one line on standard error naming the signal, then ends the process with
// that same signal. The handler runs on its own stack, so it works whatever
// the state of the native stack. A fatal assertion writes its own line and
// ends without this one.
void install_fault_messages();
// The line written for a fault signal ("" for any other signal).
const char* fault_message(int signal_number);

// The bytes of native stack left below the caller's frame on the current
// thread, as far as the system tells the stack's extent (SIZE_MAX when it
// cannot tell). A recursion that re-enters deep code checks it before each
// level.
size_t native_stack_left();

// The end of the process's output: flushes standard output, standard error
// and every stream the program left open, and answers the exit status.
// `status` stands when every stream took all it was given. When standard
// output could not be written, one line on standard error says why
// ("tove: error writing standard output: No space left on device") and the
// answer is kFailureStatus; a failure on another stream answers
// kFailureStatus as well, with its own line. A reader that went away (a
// broken pipe on standard output) ends the process quietly with SIGPIPE, as
// the other tools of a pipeline end.
int finish_output(int status);

}  // namespace tove::platform
