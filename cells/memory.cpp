#include "cells/memory.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace tove {

namespace {

std::atomic<size_t> g_in_use{0};
std::atomic<size_t> g_ceiling{kNoMemoryCeiling};
std::atomic<size_t> g_peak{0};
void* g_reserve = nullptr;
MemoryPhase g_phase = MemoryPhase::reading;

// Counts a block the C allocator gave, or gives it back and throws when the
// count would pass the ceiling.
void* admit(void* block) {
  if (block == nullptr) throw std::bad_alloc();
  const size_t size = malloc_usable_size(block);
  const size_t before = g_in_use.fetch_add(size, std::memory_order_relaxed);
  if (before + size > g_ceiling.load(std::memory_order_relaxed) || before + size < before) {
    g_in_use.fetch_sub(size, std::memory_order_relaxed);
    std::free(block);
    throw std::bad_alloc();
  }
  if (before + size > g_peak.load(std::memory_order_relaxed))
    g_peak.store(before + size, std::memory_order_relaxed);
  return block;
}

// A request that alone passes the ceiling is refused before the C allocator
// is asked, so a huge size never reaches the machine.
void refuse_oversized(size_t bytes) {
  if (bytes > g_ceiling.load(std::memory_order_relaxed)) throw std::bad_alloc();
}

}  // namespace

void* allocate_counted(size_t bytes) {
  refuse_oversized(bytes);
  return admit(std::malloc(bytes == 0 ? 1 : bytes));
}

void* allocate_counted_aligned(size_t bytes, size_t alignment) {
  refuse_oversized(bytes);
  void* block = nullptr;
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  if (posix_memalign(&block, alignment, bytes == 0 ? 1 : bytes) != 0) block = nullptr;
  return admit(block);
}

void free_counted(void* block) {
  if (block == nullptr) return;
  g_in_use.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
  std::free(block);
}

size_t memory_in_use() { return g_in_use.load(std::memory_order_relaxed); }
size_t memory_peak() { return g_peak.load(std::memory_order_relaxed); }
size_t memory_ceiling() { return g_ceiling.load(std::memory_order_relaxed); }
void set_memory_ceiling(size_t bytes) { g_ceiling.store(bytes, std::memory_order_relaxed); }

void take_memory_reserve() {
  if (g_reserve == nullptr) g_reserve = std::malloc(kMemoryReserve);
}

void spend_memory_reserve() {
  std::free(g_reserve);
  g_reserve = nullptr;
  set_memory_ceiling(kNoMemoryCeiling);
}

void set_memory_phase(MemoryPhase phase) { g_phase = phase; }
MemoryPhase memory_phase() { return g_phase; }

}  // namespace tove

// ---- the global allocation functions ------------------------------------------------
//
// Replacing them here puts every container of the process under the same
// count and ceiling as the cells. The nothrow forms answer null instead.

void* operator new(size_t bytes) { return tove::allocate_counted(bytes); }
void* operator new[](size_t bytes) { return tove::allocate_counted(bytes); }
void* operator new(size_t bytes, std::align_val_t alignment) {
  return tove::allocate_counted_aligned(bytes, static_cast<size_t>(alignment));
}
void* operator new[](size_t bytes, std::align_val_t alignment) {
  return tove::allocate_counted_aligned(bytes, static_cast<size_t>(alignment));
}

void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return tove::allocate_counted(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return tove::allocate_counted(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void operator delete(void* block) noexcept { tove::free_counted(block); }
void operator delete[](void* block) noexcept { tove::free_counted(block); }
void operator delete(void* block, size_t) noexcept { tove::free_counted(block); }
void operator delete[](void* block, size_t) noexcept { tove::free_counted(block); }
void operator delete(void* block, std::align_val_t) noexcept { tove::free_counted(block); }
void operator delete[](void* block, std::align_val_t) noexcept { tove::free_counted(block); }
void operator delete(void* block, size_t, std::align_val_t) noexcept { tove::free_counted(block); }
void operator delete[](void* block, size_t, std::align_val_t) noexcept { tove::free_counted(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { tove::free_counted(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { tove::free_counted(block); }
