#include "platform/platform.h"

#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace tove::platform {

void set_default_binary_mode() {}

// A write to a connection or pipe the peer has closed fails with -1 on the
// platform the language comes from; the host would end the process with
// SIGPIPE instead, so the signal is ignored from start-up on.
int start_socket_library() {
  std::signal(SIGPIPE, SIG_IGN);
  return 0;
}

std::optional<std::string> read_c_string(uint64_t address) {
  if (address == 0) return std::nullopt;
  // The kernel copies the memory and reports an unmapped page as an error
  // rather than a fault; reading up to page ends never touches a page past
  // the one holding the NUL.
  constexpr uint64_t kPage = 4096;
  std::string text;
  char chunk[kPage];
  for (uint64_t at = address;;) {
    const uint64_t size = kPage - at % kPage;
    struct iovec local {chunk, size};
    struct iovec remote {reinterpret_cast<void*>(static_cast<uintptr_t>(at)), size};
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(size)) return std::nullopt;
    if (const void* nul = std::memchr(chunk, 0, size)) {
      text.append(chunk, static_cast<const char*>(nul) - chunk);
      return text;
    }
    text.append(chunk, size);
    at += size;
  }
}

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
