#include <gtest/gtest.h>

#include <array>
#include <string>

#include "frontend/frontend.h"

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

TEST(Builtins, TableHoldsEveryNameWithItsArity) {
  builtin_table().clear();
  register_builtins();
  const BuiltinTable& table = builtin_table();
  EXPECT_EQ(table.size(), 223u);
  unsigned largest = 0;
  std::string largest_name;
  std::array<int, 8> by_arity{};
  for (const auto& [name, entry] : table) {
    ASSERT_LT(entry.arity, by_arity.size()) << name;
    ++by_arity[entry.arity];
    if (entry.arity > largest) {
      largest = entry.arity;
      largest_name = name;
    }
  }
  EXPECT_EQ(largest_name, "getnameinfo");
  EXPECT_EQ(by_arity, (std::array<int, 8>{30, 103, 55, 24, 7, 1, 2, 1}));
  EXPECT_EQ(find_builtin("plus")->arity, 2);
  EXPECT_EQ(find_builtin("abort")->arity, 0);
  EXPECT_EQ(find_builtin("strtok_r")->arity, 3);
  EXPECT_EQ(find_builtin("Plus"), nullptr);
  EXPECT_EQ(find_builtin("plu"), nullptr);
  EXPECT_EQ(find_builtin("pluss"), nullptr);
  EXPECT_EQ(answer_of("abs"), "Z");

  register_builtins();
  EXPECT_EQ(builtin_table().size(), 223u);
}

TEST(Builtins, FamiliesAreInstalledWhateverTheOrderOfStartUp) {
  static constexpr BuiltinSpec kEarly[] = {{"tern", 1, answer_k}, {"sock_stream", 0, answer_k}};
  static constexpr BuiltinSpec kLate[] = {{"rank", 1, answer_h}};

  builtin_table().clear();
  add_builtin_family(kEarly);
  EXPECT_TRUE(builtin_table().empty());
  register_builtins();
  EXPECT_EQ(answer_of("tern"), "K");
  EXPECT_EQ(answer_of("sock_stream"), "K");
  EXPECT_EQ(answer_of("rank"), "Z");

  add_builtin_family(kLate);
  EXPECT_EQ(answer_of("rank"), "H");

  // A refilled table gets every announced family again.
  load_prelude();
  EXPECT_EQ(answer_of("tern"), "K");
  EXPECT_EQ(answer_of("rank"), "H");
  EXPECT_EQ(builtin_table().size(), 223u);
}

TEST(BuiltinsDeathTest, FamilyMustMatchTheRegistry) {
  static constexpr BuiltinSpec kWrongArity[] = {{"plus", 3, answer_k}};
  static constexpr BuiltinSpec kUnknown[] = {{"plux", 2, answer_k}};
  register_builtins();
  EXPECT_DEATH(add_builtin_family(kWrongArity), "ASSERTION FAILED");
  EXPECT_DEATH(add_builtin_family(kUnknown), "ASSERTION FAILED");
}

}  // namespace
