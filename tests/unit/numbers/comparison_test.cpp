// The comparison primitives on hand-built redexes (random large operands
// are checked against the reference in arithmetic_test.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "calls.h"

namespace tove {
namespace {

using testing::atom;
using testing::call;
using testing::cons;
using testing::text;

class Comparison : public testing::PrimitiveLeakCheck {};

std::string ask(std::string_view op, std::string_view a, std::string_view b) { return text(call(op, a, b)); }
std::string ask(std::string_view op, CellRef a, CellRef b) {
  return text(call(op, std::move(a), std::move(b)));
}

// The answers of less, gteq, same and diff, in that order.
std::string all_four(std::string_view a, std::string_view b) {
  return ask("less", a, b) + ask("gteq", a, b) + ask("same", a, b) + ask("diff", a, b);
}

TEST_F(Comparison, Integers) {
  EXPECT_EQ(ask("less", "3", "5"), "K");
  EXPECT_EQ(ask("less", "05", "03"), "K");
  EXPECT_EQ(ask("less", "0", "01"), "H");
  EXPECT_EQ(ask("gteq", "5", "5"), "K");
  EXPECT_EQ(all_four("123456789012345678901", "123456789012345678902"), "KHHK");
  EXPECT_EQ(all_four("0123456789012345678901", "0123456789012345678902"), "HKHK");
  EXPECT_EQ(all_four("99", "100"), "KHHK");
  EXPECT_EQ(all_four("099", "0100"), "HKHK");
  EXPECT_EQ(all_four("7", "7"), "HKKH");
  // A list-form integer equals the decimal atom of its value.
  EXPECT_EQ(ask("same", cons("K", cons("H", atom("K"))), atom("01")), "K");
  EXPECT_EQ(ask("less", cons("K", cons("H", atom("K"))), atom("0")), "K");
}

TEST_F(Comparison, BinaryFractions) {
  EXPECT_EQ(ask("less", "002", "003"), "K");
  EXPECT_EQ(ask("less", "000", "00"), "K");
  EXPECT_EQ(ask("less", "0000", "000"), "H");
  EXPECT_EQ(all_four("0032", "002"), "KHHK");  // 1/8 < 1/2
  EXPECT_EQ(all_four("00", "00"), "HKKH");
  EXPECT_EQ(ask("same", cons("H", cons("K", atom("K"))), atom("001")), "K");
}

TEST_F(Comparison, KindsOrderByLetter) {
  CellRef one_and_half = make_real(1.5);
  EXPECT_EQ(ask("less", atom("1"), one_and_half.share()), "H");
  EXPECT_EQ(ask("less", one_and_half.share(), atom("1")), "K");
  EXPECT_EQ(ask("same", "1", "001"), "H");
  EXPECT_EQ(ask("diff", "1", "001"), "K");
  EXPECT_EQ(ask("same", atom("1"), make_real(1.0)), "H");
  EXPECT_EQ(ask("less", atom("(a)z"), make_real(-1e300)), "K");
  EXPECT_EQ(ask("less", "999", "0000"), "K");
  EXPECT_EQ(ask("gteq", "[]", "00123"), "K");
}

TEST_F(Comparison, Reals) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CellRef x = make_real(nan);
  EXPECT_EQ(ask("less", x.share(), x.share()), "H");
  EXPECT_EQ(ask("gteq", x.share(), x.share()), "H");
  EXPECT_EQ(ask("same", x.share(), x.share()), "H");
  EXPECT_EQ(ask("diff", x.share(), x.share()), "K");
  EXPECT_EQ(ask("gteq", make_real(1.0), x.share()), "H");
  EXPECT_EQ(ask("same", make_real(0.0), make_real(-0.0)), "K");
  EXPECT_EQ(ask("less", make_real(-0.5), make_real(0.25)), "K");
  EXPECT_EQ(ask("gteq", make_real(-0.5), make_real(0.25)), "H");
}

TEST_F(Comparison, ByteStringsAndTexts) {
  EXPECT_EQ(ask("less", "[ab]", "[abc]"), "K");
  EXPECT_EQ(ask("less", "()", "(a)x"), "K");
  EXPECT_EQ(all_four("(b)ab", "(b)ab"), "HKKH");
  // Bytes compare unsigned: 0xFF comes after "a".
  EXPECT_EQ(ask("less", atom("(a)a"), atom(std::string("(a)\xFF"))), "K");
  EXPECT_EQ(ask("less", atom(std::string_view("(b)a\0", 5)), atom("(a)a")), "H");
  // A data pair compares by its written text.
  CellRef pair = make_pair(atom("[a]"), atom("[[]]"));
  EXPECT_EQ(ask("same", pair.share(), atom("[a[[]]]")), "K");
  EXPECT_EQ(ask("less", atom("[a]"), pair.share()), "K");
}

TEST_F(Comparison, RefusedArguments) {
  for (std::string_view op : {"less", "gteq", "same", "diff"}) {
    for (std::string_view odd : {"K", "H", "Z"}) {
      EXPECT_EQ(ask(op, odd, "1"), "Z") << op << " " << odd;
      EXPECT_EQ(ask(op, "[a]", odd), "Z") << op << " " << odd;
    }
    EXPECT_EQ(ask(op, atom("1"), make_pair(atom("S"), atom("K"))), "Z") << op;
  }
}

TEST_F(Comparison, StructuralOrder) {
  EXPECT_EQ(ask("cmpr", "2", "10"), "01");
  EXPECT_EQ(ask("cmpr", "[ab]", "[abc]"), "1");
  EXPECT_EQ(ask("cmpr", "ab", "a"), "01");
  EXPECT_EQ(ask("cmpr", "K", "Z"), "1");
  EXPECT_EQ(ask("cmpr", "Z", "Z"), "0");
  CellRef c = make_pair(atom("S"), atom("K"));
  EXPECT_EQ(ask("cmpr", c.share(), c.share()), "0");
  EXPECT_EQ(ask("cmpr", atom("S"), c.share()), "1");
  EXPECT_EQ(ask("cmpr", c.share(), atom("S")), "01");
  // Left parts first, then right parts.
  EXPECT_EQ(ask("cmpr", make_pair(atom("A"), atom("Z")), make_pair(atom("B"), atom("A"))), "1");
  EXPECT_EQ(ask("cmpr", make_pair(atom("A"), atom("Z")), make_pair(atom("A"), atom("Y"))), "01");
  // Reals compare over all nine bytes, zeros included.
  EXPECT_EQ(ask("cmpr", make_real(0.0), make_real(-0.0)), "1");
  // Byte strings compare over their whole text, so different contents of
  // one length never read as identical.
  EXPECT_EQ(ask("cmpr", "(c)abc", "(c)abd"), "1");
  EXPECT_EQ(ask("cmpr", "(c)abc", "(c)abc"), "0");
  // Any cells are accepted.
  EXPECT_EQ(ask("cmpr", "K", "1"), "01");
}

TEST_F(Comparison, StructuralOrderOfDeepCells) {
  // Two separately built chains a million pairs deep.
  CellRef a = atom("x");
  CellRef b = atom("x");
  for (int i = 0; i < 1000000; ++i) {
    a = make_pair(std::move(a), atom("y"));
    b = make_pair(std::move(b), atom("y"));
  }
  EXPECT_EQ(ask("cmpr", a.share(), b.share()), "0");
  b = make_pair(std::move(b), atom("z"));
  a = make_pair(std::move(a), atom("y"));
  EXPECT_EQ(ask("cmpr", std::move(a), std::move(b)), "1");
}

}  // namespace
}  // namespace tove
