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

// The same check on the accessors every rewrite runs many times (a pair's
// parts, a count that must be live), made only by the checking builds
// (TOVE_CHECKING, which the sanitizer and fuzz builds set too), where freed
// cells are poisoned and such a slip shows at once. The checks that guard
// against what a program can cause, such as a count that would overflow,
// stay TOVE_ASSERT.
#if defined(TOVE_CHECKING)
#define TOVE_CHECK(cond) TOVE_ASSERT(cond)
#else
#define TOVE_CHECK(cond) \
  do {                   \
  } while (0)
#endif
