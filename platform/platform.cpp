#include "platform/platform.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
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
    struct iovec local {
      chunk, size
    };
    struct iovec remote {
      reinterpret_cast<void*>(static_cast<uintptr_t>(at)), size
    };
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(size))
      return std::nullopt;
    if (const void* nul = std::memchr(chunk, 0, size)) {
      text.append(chunk, static_cast<const char*>(nul) - chunk);
      return text;
    }
    text.append(chunk, size);
    at += size;
  }
}

bool input_is_terminal() { return isatty(STDIN_FILENO) == 1; }

size_t terminal_columns(int fd) {
  struct winsize size {};
  if (isatty(fd) != 1 || ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

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

std::optional<std::string> executable_path() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return std::nullopt;
  path.resize(static_cast<size_t>(length));
  return path;
}

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

constexpr size_t kSignalStackSize = size_t{64} * 1024;
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
