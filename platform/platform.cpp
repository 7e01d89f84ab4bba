#include "platform/platform.h"

#include <signal.h>
#include <unistd.h>

namespace tove::platform {

void set_default_binary_mode() {}

int start_socket_library() { return 0; }

bool input_is_terminal() { return isatty(STDIN_FILENO) == 1; }

namespace {

void (*g_interrupt_handler)() = nullptr;

void forward_interrupt(int) { g_interrupt_handler(); }

}  // namespace

void on_terminal_interrupt(void (*handler)()) {
  g_interrupt_handler = handler;
  struct sigaction action {};
  action.sa_handler = forward_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read in progress ends with EINTR
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace tove::platform
