#include <gtest/gtest.h>

#include <string>

#include "cells/tables.h"
#include "driver/driver.h"

using namespace tove;

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    announce_families();
    builtin_table().clear();
    register_builtins();
  }
  void TearDown() override { set_sandboxed(false); }
};

// The table is the announced rows, and every name of the language's library
// has its family's handler: none answers "Z" for want of one.
TEST_F(Registry, EveryRowIsInstalledWithItsHandler) {
  ASSERT_FALSE(builtin_rows().empty());
  EXPECT_EQ(builtin_table().size(), builtin_rows().size());
  std::string unhandled;
  for (const auto& [name, row] : builtin_rows()) {
    const BuiltinEntry* entry = find_builtin(name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->arity, row.arity) << name;
    EXPECT_EQ(entry->handler, row.handler) << name;
    if (row.handler == answer_z) unhandled += std::string(name) + " ";
  }
  EXPECT_EQ(unhandled, "");
}

// A program reaches a built-in by writing its name, so every name is a word
// the reader takes as one name: two or more lower-case letters, digits or
// underscores, beginning with a letter.
TEST_F(Registry, EveryNameIsAWordAProgramCanWrite) {
  for (const auto& [name, row] : builtin_rows()) {
    EXPECT_GE(name.size(), 2u) << name;
    EXPECT_TRUE(name[0] >= 'a' && name[0] <= 'z') << name;
    for (char c : name) {
      EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') << name;
    }
  }
}

// What reaches outside the process: raw memory at an address, every C
// function, and loading program text. The C library's constants stay
// inside, and so do the primitives that work on a value's own cells.
TEST_F(Registry, RowsSayWhetherTheyReachOutside) {
  auto reach_of = [](std::string_view name) {
    auto it = builtin_rows().find(name);
    EXPECT_NE(it, builtin_rows().end()) << name;
    return it == builtin_rows().end() ? Reach::inside : it->second.reach;
  };
  for (const char* outside : {"getx", "getz", "setw", "copy", "load", "strlen", "fopen", "malloc", "socket",
                              "opendir", "exit", "sin", "errno"}) {
    EXPECT_EQ(reach_of(outside), Reach::outside) << outside;
  }
  for (const char* inside : {"plus", "less", "real", "cork", "look", "cape", "leak", "type", "lits", "trim",
                             "eacces", "sock_stream", "rand_max"}) {
    EXPECT_EQ(reach_of(inside), Reach::inside) << inside;
  }
}

// A sandboxed table refuses every outside row and keeps every inside one,
// whether the sandbox is switched before the table is filled or after.
TEST_F(Registry, TheSandboxRefusesExactlyTheOutsideRows) {
  auto expect_refusals = [](bool sandbox) {
    for (const auto& [name, row] : builtin_rows()) {
      const bool refused = sandbox && row.reach == Reach::outside;
      EXPECT_EQ(find_builtin(name)->handler, refused ? answer_z : row.handler) << name;
    }
  };
  set_sandboxed(true);
  expect_refusals(true);
  builtin_table().clear();
  register_builtins();
  expect_refusals(true);
  set_sandboxed(false);
  expect_refusals(false);
}

}  // namespace
