#include "platform/platform.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>

namespace tove::platform {

void set_default_binary_mode() {}

int start_socket_library() { return 0; }

size_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<size_t>(pages) * static_cast<size_t>(page_size);
}

size_t address_space_limit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return static_cast<size_t>(limit.rlim_cur);
}

// ---- fault signals -------------------------------------------------------------------
//
// A fault comes from the program's own use of raw addresses (the memory
// primitives do not check them, as in C), so it stays the signal it is; the
// line only tells the user which one it was.

namespace {

struct FaultSignal {
  int number;
  const char* line;
};

constexpr FaultSignal kFaultSignals[] = {
    {SIGSEGV, "tove: the program ended with signal SIGSEGV (an access to memory it does not own)\n"},
    {SIGBUS, "tove: the program ended with signal SIGBUS (an access to memory it does not own)\n"},
    {SIGILL, "tove: the program ended with signal SIGILL (an illegal instruction)\n"},
    {SIGFPE, "tove: the program ended with signal SIGFPE (an arithmetic fault)\n"},
};

constexpr size_t kSignalStackSize = 64 * 1024;
alignas(16) char g_signal_stack[kSignalStackSize];

size_t text_length(const char* text) {
  size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

// Async-signal-safe: one write, then the default action of the same signal,
// raised again when the handler returns.
void on_fault(int signal_number) {
  const char* line = fault_message(signal_number);
  ssize_t ignored = write(STDERR_FILENO, line, text_length(line));
  (void)ignored;
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

const char* fault_message(int signal_number) {
  for (const FaultSignal& fault : kFaultSignals) {
    if (fault.number == signal_number) return fault.line;
  }
  return "";
}

void install_fault_messages() {
  stack_t stack{};
  stack.ss_sp = g_signal_stack;
  stack.ss_size = kSignalStackSize;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_handler = on_fault;
  action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (const FaultSignal& fault : kFaultSignals) sigaction(fault.number, &action, nullptr);
}

}  // namespace tove::platform
