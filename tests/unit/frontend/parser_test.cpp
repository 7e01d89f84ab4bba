#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/frontend.h"
#include "leak_check.h"
#include "show.h"

using namespace tove;
using frontend_test::show;

namespace {

class Parser : public LeakCheck {
 protected:
  static std::string parse(std::string_view text) { return show(parse_expression(text)); }
};

TEST_F(Parser, BinaryLevelsAndAssociativity) {
  EXPECT_EQ(parse("a b c"), "((a b) c)");
  EXPECT_EQ(parse("g x+1"), "(g ((+ x) 1))");
  EXPECT_EQ(parse("a=b c"), "((= a) (b c))");
  EXPECT_EQ(parse("a-b-c"), "((- ((- a) b)) c)");
  EXPECT_EQ(parse("a^b^c"), "((^ a) ((^ b) c))");
  EXPECT_EQ(parse("a&b|c"), "((& a) ((| b) c))");
  EXPECT_EQ(parse("a+b*c"), "((+ a) ((* b) c))");
  EXPECT_EQ(parse("x.g"), "((. x) g)");
  EXPECT_EQ(parse("a<b#c"), "((< a) ((# b) c))");
  EXPECT_EQ(parse("a@b c"), "(((@ a) b) c)");
  EXPECT_EQ(parse("a:b'c"), "((: a) ((' b) c))");
  EXPECT_EQ(parse("a;b\\c"), "((; a) ((\\ b) c))");
}

TEST_F(Parser, LambdasLetsAndLines) {
  EXPECT_EQ(parse("x\\x+1"), "((\\ x) ((+ x) 1))");
  EXPECT_EQ(parse("a\\b\\c"), "((\\ a) ((\\ b) c))");
  EXPECT_EQ(parse("k{v}b"), "((({ k) v) b)");
  EXPECT_EQ(parse("k{p,q}b"), "((({ k) ((, p) q)) b)");
  EXPECT_EQ(parse("k{v}"), "((({ k) v) })");
  EXPECT_EQ(parse("k{v}x\\y"), "((({ k) v) ((\\ x) y))");
  EXPECT_EQ(parse("a{p,q,r}b{c}d"), "((({ a) ((, p) ((, q) r))) ((({ b) c) d))");
  EXPECT_EQ(parse("a\nb\nc"), "(c (b a))");
  EXPECT_EQ(parse("a?b?c"), "((? ((? a) b)) c)");
}

TEST_F(Parser, EmptyOperandsAndUnaryCharacters) {
  EXPECT_EQ(parse(""), "}");
  EXPECT_EQ(parse("-x"), "((- }) x)");
  EXPECT_EQ(parse(";x"), "((; }) x)");
  EXPECT_EQ(parse("!x"), "(! x)");
  EXPECT_EQ(parse("x!"), "(! x)");
  EXPECT_EQ(parse("!x!"), "(! (! x))");
  EXPECT_EQ(parse("!!"), "(! (! }))");
  EXPECT_EQ(parse("~!x$`"), "(` ($ (~ (! x))))");
  EXPECT_EQ(parse("g!x"), "(g (! x))");
  EXPECT_EQ(parse("a~b~c"), "((a (~ b)) (~ c))");
  EXPECT_EQ(parse("a!~b"), "(a (! (~ b)))");
  EXPECT_EQ(parse("f(!x)!y"), "((f (! x)) (! y))");
}

TEST_F(Parser, TightRunsAndCallLists) {
  EXPECT_EQ(parse("g(x,y)"), "((g x) y)");
  EXPECT_EQ(parse("g(x)(y)"), "((g x) y)");
  EXPECT_EQ(parse("g()"), "(g })");
  EXPECT_EQ(parse("g(,)"), "((g }) })");
  EXPECT_EQ(parse("(g)(x)"), "(g x)");
  EXPECT_EQ(parse("(a b)c"), "((a b) c)");
  EXPECT_EQ(parse("KSx"), "((K S) x)");
  EXPECT_EQ(parse("Kab"), "(K ab)");
  EXPECT_EQ(parse("x1"), "(x 1)");
  EXPECT_EQ(parse("12"), "12");
  EXPECT_EQ(parse("[a b]"), "[a b]");
  EXPECT_EQ(parse("f[a(]x"), "((f [a(]) x)");
  EXPECT_EQ(parse("g(h(x),[y,z])"), "((g (h x)) [y,z])");
}

TEST_F(Parser, TextLiteralAtomRecordsItsLength) {
  CellRef literal = parse_expression("[a b]");
  ASSERT_TRUE(is_atom(literal.get()));
  EXPECT_EQ(payload(literal.get()), 5u);
}

TEST_F(Parser, ZeroByteIsTheNewlineAtom) {
  CellRef zero = parse_expression(std::string_view("K\0", 2));
  ASSERT_TRUE(is_pair(zero.get()));
  EXPECT_EQ(atom_text(pair_right(zero.get())), "\n");
}

// A comma can reach the tight level inside a group the bracket check takes
// for a call list; it stays attached to the token before it.
TEST_F(Parser, CommaAtTheTightLevelStaysInItsToken) {
  EXPECT_EQ(parse("(a,b)"), "(a, b)");
  EXPECT_EQ(parse("(K,b)"), "(K, b)");
  EXPECT_EQ(parse("(12,,K)"), "(12,, K)");
  EXPECT_EQ(parse("(,b)"), "(, b)");
  EXPECT_EQ(parse("(,,)"), ",,");
  CellRef number = parse_expression("1,");
  EXPECT_EQ(atom_text(number.get()), "1,");
}

TEST_F(Parser, CommaListsNestToTheRight) {
  EXPECT_EQ(show(parse_comma_list("a,b c,d")), "((, a) ((, (b c)) d))");
  EXPECT_EQ(show(parse_comma_list("a")), "a");
  EXPECT_EQ(show(parse_comma_list(",")), "((, }) })");
  EXPECT_EQ(show(parse_comma_list("f(x,y),[,]")), "((, ((f x) y)) [,])");
}

constexpr size_t kMillion = 1000000;

// The depth of a chain that continues through `step` (left or right part).
template <class Step>
size_t chain_length(const Cell* c, Step step) {
  size_t n = 0;
  while (is_pair(c)) {
    c = step(c);
    ++n;
  }
  return n;
}

TEST_F(Parser, MillionUnaryCharactersBuildIteratively) {
  CellRef prefix = parse_expression(std::string(kMillion, '!') + "x");
  EXPECT_EQ(chain_length(prefix.get(), pair_right), kMillion);
  EXPECT_EQ(show(pair_left(prefix.get())), "!");

  CellRef postfix = parse_expression("x" + std::string(kMillion, '~'));
  EXPECT_EQ(chain_length(postfix.get(), pair_right), kMillion);

  CellRef bare = parse_expression(std::string(kMillion, '$'));
  EXPECT_EQ(chain_length(bare.get(), pair_right), kMillion);

  CellRef infix = parse_expression("a" + std::string(kMillion, '`') + "b");
  ASSERT_TRUE(is_pair(infix.get()));
  EXPECT_EQ(chain_length(pair_right(infix.get()), pair_right), kMillion);
}

TEST_F(Parser, MillionOperandsBuildIteratively) {
  std::string sum = "1";
  std::string lambdas;
  std::string lines = "a";
  std::string calls = "g";
  for (size_t i = 1; i < kMillion; ++i) {
    sum += "+1";
    lambdas += "x\\";
    lines += "\nb";
    calls += "(1)";
  }
  lambdas += "x";
  // ((+ ((+ ... 1) 1)) 1): every step goes through the operator node.
  CellRef left = parse_expression(sum);
  EXPECT_EQ(chain_length(left.get(), [](const Cell* c) { return pair_right(pair_left(c)); }), kMillion - 1);
  CellRef right = parse_expression(lambdas);
  EXPECT_EQ(chain_length(right.get(), pair_right), kMillion - 1);
  CellRef line = parse_expression(lines);
  EXPECT_EQ(chain_length(line.get(), pair_right), kMillion - 1);
  CellRef call = parse_expression(calls);
  EXPECT_EQ(chain_length(call.get(), pair_left), kMillion - 1);
}

// Groups are parsed innermost first without native recursion, so nesting
// far beyond what the reader accepts parses on an ordinary stack.
TEST_F(Parser, DeepNestingParsesWithoutRecursion) {
  std::string text = std::string(kMillion, '(') + "z" + std::string(kMillion, ')');
  CellRef plain = parse_expression(text);
  EXPECT_EQ(show(plain), "z");

  // Every group passes through all twelve levels, a call list and a let.
  const size_t depth = 100000;
  text.clear();
  for (size_t i = 0; i < depth; ++i) text += "a;b?c&d=e@f+g*h^!i!~j(k{(";
  text += "z";
  for (size_t i = 0; i < depth; ++i) text += ")}k)";
  CellRef mixed = parse_expression(text);
  size_t lets = 0;
  std::vector<const Cell*> work{mixed.get()};
  while (!work.empty()) {
    const Cell* c = work.back();
    work.pop_back();
    if (is_atom(c)) continue;
    if (atom_is(pair_left(c), "{")) ++lets;
    work.push_back(pair_left(c));
    work.push_back(pair_right(c));
  }
  EXPECT_EQ(lets, depth);
}

// A group read as a parenthesised expression whose contents hold top-level
// commas gets a parse of its own, inside call lists and out.
TEST_F(Parser, CommaGroupsInsideGroups) {
  EXPECT_EQ(parse("f((a,(b)c))"), "(f ((a, b) c))");
  EXPECT_EQ(parse("f(((a,b)),x)"), "((f (a, b)) x)");
  EXPECT_EQ(parse("((g(x,y),K))"), "((((g x) y) ,) K)");
}

}  // namespace
