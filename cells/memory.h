// Memory accounting: the one place where the interpreter takes memory.
//
// Every block comes from the C allocator through `allocate_counted`: the pair
// chunks and atoms of the cell store directly, and every container, string
// and number buffer through the replaced global operator new. The count is
// the allocator's usable size of each live block, in bytes. A request that
// would take the count past the ceiling, or that the C allocator refuses, is
// out of memory: it throws std::bad_alloc (operator new's own contract), so
// the owning references unwind and the driver writes the "Space" report.
//
// The report itself must never be the allocation that fails, so a reserve
// block is taken at start-up and given back, with the ceiling lifted, just
// before the report is written (`spend_memory_reserve`).
//
// Ownership: blocks from `allocate_counted` are freed with `free_counted`;
// the reserve belongs to this module. The counters are atomic only so that
// a helper thread of a test runner or fuzzer cannot tear them; the
// interpreter itself is single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tove {

inline constexpr size_t kNoMemoryCeiling = SIZE_MAX;
// Enough for the report text, its coloured form and the stream buffers.
inline constexpr size_t kMemoryReserve = size_t{1} << 20;

// A block of at least `bytes` bytes, aligned for any scalar; never null.
// Throws std::bad_alloc when the ceiling or the C allocator refuses it.
void* allocate_counted(size_t bytes);
// As above with the given power-of-two alignment.
void* allocate_counted_aligned(size_t bytes, size_t alignment);
void free_counted(void* block);  // null is allowed

size_t memory_in_use();
// The most memory_in_use has been since start-up.
size_t memory_peak();
size_t memory_ceiling();
void set_memory_ceiling(size_t bytes);

// Takes the report's reserve block (once; later calls do nothing).
void take_memory_reserve();
// Gives the reserve back to the C allocator and lifts the ceiling, so the
// out-of-memory report can be formatted and written.
void spend_memory_reserve();

// What the interpreter was doing, named in the out-of-memory report.
enum class MemoryPhase : uint8_t { reading, compiling, evaluating, printing };
void set_memory_phase(MemoryPhase phase);
MemoryPhase memory_phase();

}  // namespace tove
