// The interrupt request (Ctrl-C in a session): one process-wide flag, set
// from a signal handler and read by every long-running loop of the
// interpreter. The evaluation machine looks at it between stretches of
// steps; a long primitive (big-number arithmetic, decimal conversion,
// comparison, printing, reading a large text) looks at it through
// `stop_if_interrupted` once per block of work small enough that the whole
// primitive stops within milliseconds, and large enough that the look costs
// nothing measurable.
//
// A primitive stopped that way throws `Interrupted`; whoever called the
// primitive on behalf of an evaluation catches it and answers "Z", and the
// evaluation then ends as every interrupted evaluation does. Everything a
// primitive owns is held by owning references and containers, so the throw
// gives its memory back on the way out.
#pragma once

#include <atomic>

namespace tove {

struct Interrupted {};

namespace interrupt_detail {
// Lock-free, so that a signal handler may set it.
inline std::atomic<bool> flag{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace interrupt_detail

// May be called from a signal handler. The request stays until
// clear_interrupt, so enclosing evaluations end as well.
inline void request_interrupt() { interrupt_detail::flag.store(true, std::memory_order_relaxed); }
inline bool interrupt_requested() { return interrupt_detail::flag.load(std::memory_order_relaxed); }
inline void clear_interrupt() { interrupt_detail::flag.store(false, std::memory_order_relaxed); }

// Throws Interrupted when an interrupt is requested.
inline void stop_if_interrupted() {
  if (interrupt_requested()) [[unlikely]]
    throw Interrupted{};
}

}  // namespace tove
