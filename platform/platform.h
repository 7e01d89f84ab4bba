// The operating-system layer: the few start-up steps and interfaces the
// interpreter expects from its original platform, given over POSIX.
#pragma once

#include <cstddef>
#include <string>

namespace tove::platform {

// Makes binary the default mode of every file opened afterwards. POSIX has
// no text mode, so there is nothing to change; the step stays named so the
// start-up sequence reads in its own order.
void set_default_binary_mode();

// Starts the socket library (version 2.2 requested); returns 0 on success
// or the library's error code. POSIX sockets need no start-up.
int start_socket_library();

// The machine's physical memory in bytes (0 when it cannot be told).
size_t physical_memory();
// The process's soft address-space limit in bytes (SIZE_MAX when none).
size_t address_space_limit();

// A fault signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE) first writes one line on
// standard error naming the signal, then ends the process with that same
// signal. The handler runs on its own stack, so it works whatever the state
// of the native stack.
void install_fault_messages();
// The line written for a fault signal ("" for any other signal).
const char* fault_message(int signal_number);

}  // namespace tove::platform
