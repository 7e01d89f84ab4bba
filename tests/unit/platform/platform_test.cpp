#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>

using namespace tove::platform;

namespace {

// The stack left below a frame `depth` levels deeper, each holding a 4 KiB
// buffer the compiler cannot drop.
[[gnu::noinline]] size_t stack_left_below(int depth) {
  volatile char buffer[4096];
  buffer[0] = static_cast<char>(depth);
  const size_t left = depth == 0 ? native_stack_left() : stack_left_below(depth - 1);
  return left + static_cast<size_t>(buffer[0] - depth);
}

TEST(NativeStack, WhatIsLeftShrinksAsFramesAreAddedAndStaysWithinTheLimit) {
  const size_t here = native_stack_left();
  ASSERT_NE(here, SIZE_MAX);  // the system tells the main thread's stack
  struct rlimit limit {};
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &limit), 0);
  if (limit.rlim_cur != RLIM_INFINITY) {
    EXPECT_LT(here, static_cast<size_t>(limit.rlim_cur));
  }
  const size_t deeper = stack_left_below(16);
  EXPECT_LE(deeper + 16 * 4096, here);
  EXPECT_GT(deeper, 0u);
}

TEST(FaultMessages, AnAbortHasItsLineAndOtherSignalsNone) {
  const std::string abort_line = fault_message(SIGABRT);
  EXPECT_EQ(abort_line.rfind("tove: the program ended with signal SIGABRT (", 0), 0u);
  EXPECT_NE(abort_line.find("double free"), std::string::npos);
  EXPECT_EQ(abort_line.back(), '\n');
  EXPECT_STREQ(fault_message(SIGINT), "");
  EXPECT_STREQ(fault_message(SIGPIPE), "");
}

TEST(FinishOutput, WrittenOutputKeepsTheStatus) {
  EXPECT_EQ(finish_output(7), 7);
  EXPECT_EQ(finish_output(0), 0);
}

}  // namespace
