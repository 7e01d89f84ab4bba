#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "cells/cell.h"
#include "cells/memory.h"
#include "leak_check.h"

using namespace tove;

namespace {

// Sets a ceiling a little above what is in use now, and lifts it again.
class Ceiling : public LeakCheck {
 protected:
  void SetUp() override {
    LeakCheck::SetUp();
    set_memory_ceiling(memory_in_use() + kHeadroom);
  }
  void TearDown() override {
    set_memory_ceiling(kNoMemoryCeiling);
    LeakCheck::TearDown();
  }
  static constexpr size_t kHeadroom = size_t{4} << 20;
};

TEST_F(Ceiling, CountedBlocksAreCountedAndGivenBack) {
  const size_t before = memory_in_use();
  void* block = allocate_counted(1000);
  EXPECT_GE(memory_in_use(), before + 1000);
  free_counted(block);
  EXPECT_EQ(memory_in_use(), before);
}

TEST_F(Ceiling, ARequestPastTheCeilingThrowsAndCountsNothing) {
  const size_t before = memory_in_use();
  EXPECT_THROW(allocate_counted(kHeadroom + 1), std::bad_alloc);
  EXPECT_THROW(allocate_counted_aligned(kHeadroom + 1, 64), std::bad_alloc);
  EXPECT_EQ(memory_in_use(), before);
}

TEST_F(Ceiling, OperatorNewIsUnderTheSameCeiling) {
  // Direct calls, which a compiler may not elide as it may a new-expression.
  void* fits = ::operator new(kHeadroom / 2);
  auto take = [](size_t n) { ::operator delete(::operator new(n)); };
  auto take_array = [](size_t n) { ::operator delete[](::operator new[](n)); };
  EXPECT_THROW(take(kHeadroom), std::bad_alloc);
  EXPECT_THROW(take_array(kHeadroom), std::bad_alloc);
  EXPECT_EQ(::operator new(kHeadroom, std::nothrow), nullptr);
  ::operator delete(fits);
}

TEST_F(Ceiling, AnAtomPastTheCeilingLeavesNoCell) {
  const std::string text(kHeadroom / 2, 'a');  // counted as well
  set_memory_ceiling(memory_in_use() + 1024);
  bool refused = false;
  try {
    make_atom(text);
  } catch (const std::bad_alloc&) {
    refused = true;
  }
  set_memory_ceiling(kNoMemoryCeiling);
  EXPECT_TRUE(refused);
  // LeakCheck finds an atom counted as live but never made.
}

TEST_F(Ceiling, APairPastTheCeilingKeepsItsPartsCounts) {
  CellRef left = make_atom("x");
  CellRef chain = make_atom("y");
  // Pairs come from the pool's spare pairs until a new chunk is needed,
  // which the ceiling refuses.
  set_memory_ceiling(memory_in_use() + 64);
  uint32_t made = 0;
  bool refused = false;
  while (!refused) {
    try {
      chain = make_pair(left.get(), chain.get());
      ++made;
    } catch (const std::bad_alloc&) {
      refused = true;
    }
  }
  set_memory_ceiling(kNoMemoryCeiling);
  EXPECT_EQ(ref_count(left.get()), 1u + made);
  EXPECT_EQ(ref_count(chain.get()), 1u);
}

TEST(MemoryReserve, SpendingItLiftsTheCeiling) {
  take_memory_reserve();
  set_memory_ceiling(memory_in_use());
  EXPECT_THROW(allocate_counted(16), std::bad_alloc);
  spend_memory_reserve();
  EXPECT_EQ(memory_ceiling(), kNoMemoryCeiling);
  free_counted(allocate_counted(16));
}

TEST(MemoryPhase, IsKeptUntilChanged) {
  set_memory_phase(MemoryPhase::printing);
  EXPECT_EQ(memory_phase(), MemoryPhase::printing);
  set_memory_phase(MemoryPhase::reading);
  EXPECT_EQ(memory_phase(), MemoryPhase::reading);
}

}  // namespace
