#include "platform/platform.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

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
    {SIGABRT,
     "tove: the program ended with signal SIGABRT (an abort, as the C library raises on a double free or a "
     "corrupted heap)\n"},
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

// ---- the native stack ---------------------------------------------------------------

namespace {

// The lowest address of the current thread's stack, 0 when the system does
// not tell it. The main thread's stack may still grow down to there.
uintptr_t stack_floor() {
  thread_local const uintptr_t floor = [] {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return uintptr_t{0};
    void* lowest = nullptr;
    size_t size = 0;
    const bool told = pthread_attr_getstack(&attributes, &lowest, &size) == 0;
    pthread_attr_destroy(&attributes);
    return told ? reinterpret_cast<uintptr_t>(lowest) : uintptr_t{0};
  }();
  return floor;
}

}  // namespace

size_t native_stack_left() {
  const uintptr_t floor = stack_floor();
  if (floor == 0) return SIZE_MAX;
  const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  return here > floor ? here - floor : 0;
}

// ---- the end of the output ------------------------------------------------------------

namespace {

// Whether `descriptor` is a pipe or socket whose reader has gone: poll
// shows it an error or a hang-up.
bool reader_gone(int descriptor) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)))
    return false;
  struct pollfd probe {
    descriptor, POLLOUT, 0
  };
  return ::poll(&probe, 1, 0) == 1 && (probe.revents & (POLLERR | POLLHUP)) != 0;
}

// The cause of a failed write on `stream`, or nullopt when everything it
// was given has been written. A failure noticed during the run has lost its
// errno, so the descriptor is asked again: an empty write fails on a closed
// one (EBADF), and poll tells a reader that has gone (EPIPE); 0 stands for
// a cause no longer known.
std::optional<int> flush_failure(std::FILE* stream) {
  errno = 0;
  const bool flushed = std::fflush(stream) == 0;
  if (flushed && std::ferror(stream) == 0) return std::nullopt;
  if (!flushed && errno != 0) return errno;
  const int descriptor = fileno(stream);
  if (descriptor < 0) return 0;
  if (::write(descriptor, "", 0) < 0) return errno;
  if (reader_gone(descriptor)) return EPIPE;
  return 0;
}

void say_write_error(const char* what, int cause) {
  std::fprintf(stderr, "tove: error writing %s", what);
  if (cause != 0) std::fprintf(stderr, ": %s", std::strerror(cause));
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

int finish_output(int status) {
  const std::optional<int> output = flush_failure(stdout);
  const std::optional<int> errors = flush_failure(stderr);
  errno = 0;
  const bool others = std::fflush(nullptr) == 0;
  const int others_cause = errno;
  if (output == EPIPE) {
    std::signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
    return kFailureStatus;  // the signal is blocked: still quiet
  }
  if (output) {
    say_write_error("standard output", *output);
    return kFailureStatus;
  }
  if (errors) return kFailureStatus;  // nowhere left to say it
  if (!others) {
    say_write_error("a stream the program left open", others_cause);
    return kFailureStatus;
  }
  return status;
}

}  // namespace tove::platform
