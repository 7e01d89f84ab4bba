// The fatal assertion: a broken internal invariant ends the process at once,
// in every build. It writes "ASSERTION FAILED:" + source path + ":" + line and
// a newline on standard error and aborts. The build maps __FILE__ to a path
// relative to the project root.
#pragma once

namespace tove {

[[noreturn]] void fatal_assertion(const char* file, int line);

}  // namespace tove

#define TOVE_ASSERT(cond)                                                          \
  do {                                                                             \
    if (__builtin_expect(!(cond), 0)) ::tove::fatal_assertion(__FILE__, __LINE__); \
  } while (0)
