#include <gtest/gtest.h>

#include <string>

#include "frontend/frontend.h"
#include "stand_in_rows.h"

using namespace tove;

namespace {

CellRef answer_k(CellRef redex) {
  redex.reset();
  return make_atom("K");
}

CellRef answer_h(CellRef redex) {
  redex.reset();
  return make_atom("H");
}

// The atom a built-in's handler gives for the bare name.
std::string answer_of(std::string_view name) {
  const BuiltinEntry* entry = find_builtin(name);
  if (entry == nullptr) return "missing";
  CellRef result = entry->handler(make_atom(name));
  return std::string(atom_text(result.get()));
}

// The table holds exactly the announced rows, each with its arity and handler.
void expect_table_is_the_rows() {
  const BuiltinTable& table = builtin_table();
  EXPECT_EQ(table.size(), builtin_rows().size());
  for (const auto& [name, row] : builtin_rows()) {
    const BuiltinEntry* entry = find_builtin(name);
    ASSERT_NE(entry, nullptr) << name;
    EXPECT_EQ(entry->arity, row.arity) << name;
    EXPECT_EQ(entry->handler, row.handler) << name;
  }
}

TEST(Builtins, TableHoldsEveryRowWithItsArity) {
  builtin_table().clear();
  register_builtins();
  expect_table_is_the_rows();
  EXPECT_EQ(find_builtin("plus")->arity, 2);
  EXPECT_EQ(find_builtin("abort")->arity, 0);
  // Names are matched exactly, byte by byte.
  EXPECT_EQ(find_builtin("Plus"), nullptr);
  EXPECT_EQ(find_builtin("plu"), nullptr);
  EXPECT_EQ(find_builtin("pluss"), nullptr);
  EXPECT_EQ(answer_of("abs"), "Z");

  // Filling a filled table changes nothing.
  register_builtins();
  expect_table_is_the_rows();
}

TEST(Builtins, FamiliesAreInstalledWhateverTheOrderOfStartUp) {
  static constexpr BuiltinSpec kEarly[] = {{"tern", 1, answer_k}, {"sock_stream", 0, answer_k}};
  static constexpr BuiltinSpec kLate[] = {{"rank", 1, answer_h}};

  builtin_table().clear();
  add_builtin_family(kEarly);
  register_builtins();
  EXPECT_EQ(answer_of("tern"), "K");
  EXPECT_EQ(answer_of("sock_stream"), "K");
  EXPECT_EQ(answer_of("rank"), "missing");
  expect_table_is_the_rows();

  add_builtin_family(kLate);
  EXPECT_EQ(answer_of("rank"), "H");

  // A family announced again changes nothing; a refilled table gets every
  // announced row again.
  add_builtin_family(kEarly);
  load_prelude();
  EXPECT_EQ(answer_of("tern"), "K");
  EXPECT_EQ(answer_of("rank"), "H");
  expect_table_is_the_rows();
}

CellRef answer_refused(CellRef redex) {
  redex.reset();
  return make_atom("refused");
}

// The sandbox refuses exactly the outside rows, whether it is switched before
// or after the table is filled, and switching it off gives the handlers back.
TEST(Builtins, TheSandboxRefusesOutsideRowsOnly) {
  static constexpr BuiltinSpec kMixed[] = {{"peek", 1, answer_refused, Reach::outside},
                                           {"pure", 1, answer_k}};
  add_builtin_family(kMixed);
  load_prelude();
  set_sandboxed(true);
  EXPECT_EQ(answer_of("peek"), "Z");
  EXPECT_EQ(answer_of("pure"), "K");

  load_prelude();
  EXPECT_EQ(answer_of("peek"), "Z");
  EXPECT_EQ(answer_of("pure"), "K");

  set_sandboxed(false);
  EXPECT_EQ(answer_of("peek"), "refused");
  load_prelude();
  EXPECT_EQ(answer_of("peek"), "refused");
  expect_table_is_the_rows();
}

CellRef answer_other(CellRef redex) {
  redex.reset();
  return make_atom("other");
}

TEST(BuiltinsDeathTest, ANameHasOneRowAndEveryRowAHandler) {
  static constexpr BuiltinSpec kWrongArity[] = {{"plus", 3, answer_z}};
  static constexpr BuiltinSpec kOtherHandler[] = {{"plus", 2, answer_other}};
  static constexpr BuiltinSpec kOtherReach[] = {{"plus", 2, answer_z, Reach::outside}};
  static constexpr BuiltinSpec kNoHandler[] = {{"plux", 2, nullptr}};
  static constexpr BuiltinSpec kNoName[] = {{"", 2, answer_z}};
  ASSERT_NE(find_builtin("plus"), nullptr);
  EXPECT_DEATH(add_builtin_family(kWrongArity), "ASSERTION FAILED");
  EXPECT_DEATH(add_builtin_family(kOtherHandler), "ASSERTION FAILED");
  EXPECT_DEATH(add_builtin_family(kOtherReach), "ASSERTION FAILED");
  EXPECT_DEATH(add_builtin_family(kNoHandler), "ASSERTION FAILED");
  EXPECT_DEATH(add_builtin_family(kNoName), "ASSERTION FAILED");
}

}  // namespace
