// What the three fuzz harnesses share: the interpreter set up once, as the
// driver sets it up, but sandboxed (no primitive reaches memory by address,
// the C library or, but in the eval harness, program loading, and no log
// line is written), and each
// input run under a memory ceiling and, when it is evaluated, a step limit.
//
// Running out of memory and running out of steps are expected outcomes of a
// hostile input, not findings: both end the input quietly. Anything else
// (a sanitizer report, a fatal assertion, a crash, a leak, a hang) is one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "cells/memory.h"
#include "cells/tables.h"
#include "driver/driver.h"
#include "eval/eval.h"
#include "frontend/frontend.h"

namespace tove::fuzz {

// Memory one input may take beyond what the process holds before it.
inline constexpr size_t kInputMemory = size_t{32} << 20;
// Machine steps one input may take.
inline constexpr uint64_t kInputSteps = 200000;

inline void set_up() {
  announce_families();
  set_sandboxed(true);
}

// Runs `work` on the input's text with the ceiling and step limit in force,
// and lifts both again so the fuzzer's own allocations are never refused.
template <class Work>
void run_bounded(const uint8_t* data, size_t size, Work work) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  set_memory_ceiling(memory_in_use() + kInputMemory);
  set_step_limit(total_steps() + kInputSteps);
  try {
    load_prelude();
    work(text);
  } catch (const std::bad_alloc&) {
  } catch (const StepLimitReached&) {
  }
  set_step_limit(UINT64_MAX);
  set_memory_ceiling(kNoMemoryCeiling);
}

}  // namespace tove::fuzz
