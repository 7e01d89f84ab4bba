#include <gtest/gtest.h>

#include <string>

#include "cells/cell.h"
#include "cells/print.h"
#include "cells/sharing.h"
#include "leak_check.h"
#include "numbers/numbers.h"
#include "numbers/trees.h"
#include "prims/family.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

// The sharing set keeps what `type` and `tern` hand out; it is emptied
// around every test so that the cell count compares like with like.
class Inspect : public LeakCheck {
 protected:
  void SetUp() override {
    clear_sharing_set();
    LeakCheck::SetUp();
  }
  void TearDown() override {
    clear_sharing_set();
    LeakCheck::TearDown();
  }
};

template <class... Args>
CellRef call(std::string_view name, Args&&... args) {
  CellRef redex = make_atom(name);
  ((redex = make_pair(std::move(redex), std::forward<Args>(args))), ...);
  for (const BuiltinSpec& member : structure_family()) {
    if (member.name != name) continue;
    EXPECT_EQ(member.arity, sizeof...(args)) << name;
    return member.handler(std::move(redex));
  }
  ADD_FAILURE() << "no handler for " << name;
  return make_atom("?");
}

std::string show(const CellRef& c) { return print_expression(c.get()); }
std::string text(const CellRef& c) { return std::string(atom_text(c.get())); }
CellRef atom(std::string_view t) { return make_atom(t); }

CellRef wrapped(CellRef contents) { return make_pair(sexpr("(V (X J))"), std::move(contents)); }

TEST_F(Inspect, FamilyCoversEveryStructuralName) {
  std::string names;
  for (const BuiltinSpec& member : structure_family())
    names += std::string(member.name) + std::to_string(member.arity) + " ";
  EXPECT_EQ(names,
            "cape1 copy2 cork3 gets1 gett1 getu1 getv1 getw1 getx1 gety1 getz1 look2 sett2 setu2 setw2 setx2 "
            "init1 lits1 lots1 trim3 zits1 leaf1 leak1 left1 lisp1 raws2 rght1 tern1 type1 ");
}

TEST_F(Inspect, LeafTellsEmptyTrees) {
  EXPECT_EQ(show(call("leaf", atom("[]"))), "K");
  EXPECT_EQ(show(call("leaf", atom("[a]"))), "H");
  EXPECT_EQ(show(call("leaf", sexpr("([] [])"))), "H");
  EXPECT_EQ(show(call("leaf", wrapped(atom("K")))), "K");
  EXPECT_EQ(show(call("leaf", wrapped(sexpr("(J K K)")))), "H");
  EXPECT_EQ(show(call("leaf", make_pair(sexpr("(Vee (Xx Jay))"), atom("Kay")))), "K");
  EXPECT_EQ(show(call("leaf", atom("5"))), "Z");
  EXPECT_EQ(show(call("leaf", make_pair(sexpr("(V (J X))"), atom("K")))), "Z");
  EXPECT_EQ(show(call("leaf", make_pair(sexpr("(W (X J))"), atom("K")))), "Z");
}

TEST_F(Inspect, LeftAndRightOfDataNodes) {
  EXPECT_EQ(text(call("left", atom("[ab]"))), "[a]");
  EXPECT_EQ(text(call("rght", atom("[ab]"))), numbered_tree(200));
  EXPECT_EQ(text(call("left", atom("[a[bc]]"))), "[a]");
  EXPECT_EQ(text(call("rght", atom("[a[bc]]"))), "[bc]");
  CellRef data = sexpr("([a] [b])");
  EXPECT_EQ(call("rght", data.share()).get(), pair_right(data.get()));
  EXPECT_EQ(call("left", data.share()).get(), pair_left(data.get()));
  EXPECT_EQ(show(call("left", atom("[]"))), "Z");
  EXPECT_EQ(show(call("rght", atom("[]"))), "Z");
  EXPECT_EQ(show(call("left", atom("5"))), "Z");
}

TEST_F(Inspect, LeftAndRightOfWrappedForms) {
  CellRef tree = wrapped(sexpr("(J (J K K) K)"));
  CellRef left = call("left", tree.share());
  EXPECT_EQ(show(left), show(wrapped(sexpr("(J K K)"))));
  // The tag V (X J) is shared, not made again.
  EXPECT_EQ(pair_left(left.get()), pair_left(tree.get()));
  EXPECT_EQ(show(call("rght", tree.share())), show(wrapped(atom("K"))));
  EXPECT_EQ(show(call("leaf", call("rght", tree.share()))), "K");
  EXPECT_EQ(show(call("left", wrapped(atom("K")))), "Z");
  EXPECT_EQ(show(call("rght", wrapped(atom("K")))), "Z");
  EXPECT_EQ(show(call("left", wrapped(sexpr("(V K K)")))), "Z");
  EXPECT_EQ(show(call("rght", wrapped(sexpr("(J K)")))), "Z");
}

TEST_F(Inspect, TypeNamesKindsAsSharedTexts) {
  EXPECT_EQ(text(call("type", atom("(b)xy"))), "[post]");
  EXPECT_EQ(text(call("type", make_real(2.0))), "[real]");
  EXPECT_EQ(text(call("type", atom("05"))), "[hint]");
  EXPECT_EQ(text(call("type", sexpr("(J K K)"))), "[hint]");
  EXPECT_EQ(text(call("type", atom("003"))), "[numb]");
  EXPECT_EQ(text(call("type", atom("[]"))), "[zits]");
  EXPECT_EQ(text(call("type", sexpr("([a] [b])"))), "[zits]");
  EXPECT_EQ(text(call("type", sexpr("((\\ x) x)"))), "[void]");
  EXPECT_EQ(text(call("type", atom("plus"))), "[void]");
  EXPECT_EQ(text(call("type", atom("K"))), "[void]");
  // A text literal applied to a variable is not data.
  EXPECT_EQ(text(call("type", sexpr("([a] x)"))), "[void]");

  CellRef first = call("type", atom("[a]"));
  CellRef second = call("type", atom("[bc]"));
  EXPECT_EQ(first.get(), second.get());
  EXPECT_TRUE(sharing_set_holds(first.get()));
}

TEST_F(Inspect, RawsAndTernCompareIdentity) {
  CellRef one = sexpr("(f [a] 12)");
  CellRef other = sexpr("(f [a] 12)");
  EXPECT_EQ(show(call("raws", one.share(), one.share())), "K");
  EXPECT_EQ(show(call("raws", one.share(), other.share())), "H");
  CellRef shared_one = call("tern", one.share());
  CellRef shared_other = call("tern", other.share());
  EXPECT_EQ(show(call("raws", std::move(shared_one), std::move(shared_other))), "K");
  EXPECT_EQ(show(call("raws", call("tern", atom("[x]")), call("tern", atom("[y]")))), "H");
}

TEST_F(Inspect, LeakGivesTheCellsAddress) {
  CellRef value = atom("[a]");
  EXPECT_EQ(text(call("leak", value.share())),
            std::to_string(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value.get()))));
}

TEST_F(Inspect, LispPrintsIntoAText) {
  EXPECT_EQ(text(call("lisp", sexpr("(plus x y)"))), "[(plus x y)]");
  EXPECT_EQ(text(call("lisp", atom("(c)a\n["))), "[cape[a[p][q]]]");
  EXPECT_EQ(text(call("lisp", sexpr("(S K K)"))), "[SKK]");
  EXPECT_EQ(text(call("lisp", atom("[ab]"))), "[[ab]]");
}

}  // namespace
