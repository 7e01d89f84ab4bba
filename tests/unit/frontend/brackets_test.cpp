#include <gtest/gtest.h>

#include <string>

#include "frontend/frontend.h"

using namespace tove;

namespace {

// The report of a failing check, as "position type message".
std::string failure(std::string_view text) {
  ErrorReport report;
  if (check_brackets(text, report)) return "passes";
  EXPECT_TRUE(report.location.empty());
  EXPECT_EQ(report.type_word, report.message.substr(0, 5));
  return std::to_string(report.position) + " " + report.type_word + " " + report.message;
}

TEST(Brackets, EncodePositionUsesFiveDigits) {
  EXPECT_EQ(encode_position(0), "_____");
  EXPECT_EQ(encode_position(1), "____a");
  EXPECT_EQ(encode_position(64), "___a_");
  EXPECT_EQ(encode_position(0x3FFFFFFF), "~~~~~");
  EXPECT_EQ(encode_position(0x40000000), "!!!!!");
  EXPECT_EQ(encode_position(18 * 64 * 64 + 19), "__r_u");
  // Offsets past the limit are written as the limit instead of failing.
  EXPECT_EQ(encode_offset(3), "____c");
  EXPECT_EQ(encode_offset(0x40000005), "!!!!!");
}

TEST(Brackets, PairingFailures) {
  EXPECT_EQ(failure("(a"), "0 Match Match[_____]Right dangling parenthesis.");
  EXPECT_EQ(failure("a)"), "1 Match Match[____a]Left dangling parenthesis.");
  EXPECT_EQ(failure("(a]"), "0 Match Match[_____]Doesn't fit ']' at [____b].");
  EXPECT_EQ(failure("a}"), "1 Match Match[____a]Left dangling wing.");
  EXPECT_EQ(failure("]"), "0 Match Match[_____]Left dangling bracket.");
  EXPECT_EQ(failure("x{(}"), "2 Match Match[____b]Doesn't fit '}' at [____c].");
  // The innermost group still open is the one reported.
  EXPECT_EQ(failure("({[a"), "2 Match Match[____b]Right dangling bracket.");
  EXPECT_EQ(failure("f({a}"), "1 Match Match[____a]Right dangling parenthesis.");
}

TEST(Brackets, TextLiteralsCountOnlySquareBrackets) {
  EXPECT_EQ(failure("[(]"), "passes");
  EXPECT_EQ(failure("[a[b]c]"), "passes");
  EXPECT_EQ(failure("g([,(],x)"), "passes");
  EXPECT_EQ(failure("([)]"), "0 Match Match[_____]Right dangling parenthesis.");
}

TEST(Brackets, CommasOnlyInCallListsBracesAndTopLevel) {
  EXPECT_EQ(failure("g (a,b)"),
            "4 Comma Comma[____d]Comma encountered in parenthesization which is not a call list.");
  for (const char* text : {"g(a,b)", "{a,b}", "a,b", "g(x)(a,b)", "[x](a,b)", "((a,b))", "f(g(a,b),c)",
                           "k{(x),y}", "!(a,b)", "[(a,b)]"}) {
    EXPECT_EQ(failure(text), "passes") << text;
  }
  EXPECT_EQ(failure("(a,b)"),
            "2 Comma Comma[____b]Comma encountered in parenthesization which is not a call list.");
  EXPECT_EQ(failure("x+(a,b)"),
            "4 Comma Comma[____d]Comma encountered in parenthesization which is not a call list.");
  // The leftmost comma of the group is reported.
  EXPECT_EQ(failure("x (a,b,c)"),
            "4 Comma Comma[____d]Comma encountered in parenthesization which is not a call list.");
  EXPECT_EQ(failure("f(x,(a,b))"),
            "6 Comma Comma[____f]Comma encountered in parenthesization which is not a call list.");
}

TEST(Brackets, DeepUnbalancedTextIsReportedWithoutRecursion) {
  const std::string text(1000000, '(');
  EXPECT_EQ(failure(text), "999999 Match Match[_cPh~]Right dangling parenthesis.");
}

}  // namespace
