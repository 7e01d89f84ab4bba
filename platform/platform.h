// The operating-system layer: the few start-up steps and interfaces the
// interpreter expects from its original platform, given over POSIX.
#pragma once

#include <string>

namespace tove::platform {

// Makes binary the default mode of every file opened afterwards. POSIX has
// no text mode, so there is nothing to change; the step stays named so the
// start-up sequence reads in its own order.
void set_default_binary_mode();

// Starts the socket library (version 2.2 requested); returns 0 on success
// or the library's error code. POSIX sockets need no start-up; the step
// ignores SIGPIPE, so writing to a closed connection answers -1 as a call
// of the socket library does.
int start_socket_library();

}  // namespace tove::platform
