#include "platform/platform.h"

#include <csignal>

namespace tove::platform {

void set_default_binary_mode() {}

// A write to a connection or pipe the peer has closed fails with -1 on the
// platform the language comes from; the host would end the process with
// SIGPIPE instead, so the signal is ignored from start-up on.
int start_socket_library() {
  std::signal(SIGPIPE, SIG_IGN);
  return 0;
}

}  // namespace tove::platform
