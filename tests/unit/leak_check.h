// A fixture that fails a test when it ends with more or fewer live cells than
// it began with. Tests that fill the process-wide tables use plain TEST.
#pragma once

#include <gtest/gtest.h>

#include "cells/cell.h"

class LeakCheck : public ::testing::Test {
 protected:
  void SetUp() override { before_ = tove::live_cells(); }
  void TearDown() override {
    tove::CellCounts after = tove::live_cells();
    EXPECT_EQ(before_.pairs, after.pairs) << "pairs leaked or freed twice";
    EXPECT_EQ(before_.atoms, after.atoms) << "atoms leaked or freed twice";
  }

 private:
  tove::CellCounts before_{};
};
