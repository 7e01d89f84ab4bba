#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/frontend.h"

using namespace tove;

namespace {

TEST(Lexical, ClassesMatchTheirCharacterLists) {
  std::string word, digit, punctuation, absorbing, unary;
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<unsigned char>(c);
    if (is_word_char(b)) word.push_back(static_cast<char>(c));
    if (is_digit_char(b)) digit.push_back(static_cast<char>(c));
    if (is_punctuation(b)) punctuation.push_back(static_cast<char>(c));
    if (is_absorbing(b)) absorbing.push_back(static_cast<char>(c));
    if (is_unary_char(b)) unary.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(word, "_abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(digit, "0123456789");
  EXPECT_EQ(punctuation, "\n !\"#$%&'()*+,-./:;<=>?@[\\]^`{|}~");
  EXPECT_EQ(absorbing, "\n #%&'*+,-./:;<=>?@\\^|");
  EXPECT_EQ(unary, "!\"$`~");
}

TEST(Lexical, NormaliseCollapsesAndDropsWhitespace) {
  EXPECT_EQ(normalise_text("g  x"), "g x");
  EXPECT_EQ(normalise_text("g \n\n x"), "g\nx");
  EXPECT_EQ(normalise_text("a + b"), "a+b");
  EXPECT_EQ(normalise_text("g ( x )"), "g (x)");
  EXPECT_EQ(normalise_text(" \n \n"), "");
  EXPECT_EQ(normalise_text("[a  b]"), "[a  b]");
  EXPECT_EQ(normalise_text("\n  f [a \n [b  c]]  x \n"), "f [a \n [b  c]] x");
  EXPECT_EQ(normalise_text("k { v } y"), "k{v}y");
  EXPECT_EQ(normalise_text("! x"), "! x");
  // Tab and carriage return are ordinary characters, never whitespace.
  EXPECT_EQ(normalise_text("a\r\n b"), "a\r\nb");
  EXPECT_EQ(normalise_text("a\r\n+b"), "a\r+b");
  EXPECT_EQ(normalise_text("\ta \t"), "\ta \t");
}

TEST(Lexical, SkipGroupMatchesBothWays) {
  const std::string text = "f(a[)]{b})[x[y]]";
  EXPECT_EQ(skip_group(text, 1), 9u);
  EXPECT_EQ(skip_group(text, 9), 1u);
  EXPECT_EQ(skip_group(text, 3), 5u);
  EXPECT_EQ(skip_group(text, 5), 3u);
  EXPECT_EQ(skip_group(text, 6), 8u);
  EXPECT_EQ(skip_group(text, 10), 15u);
  EXPECT_EQ(skip_group(text, 15), 10u);
  EXPECT_EQ(skip_group(text, 0), 0u);
}

TEST(Lexical, SeparatorsAreFoundOutsideGroupsOnly) {
  EXPECT_EQ(find_separators("a,(b,c),[d,e],g", ","), (std::vector<size_t>{1, 7, 13}));
  EXPECT_EQ(find_separators("k{a;b};c", ";{"), (std::vector<size_t>{1, 6}));
  EXPECT_TRUE(find_separators("", ",").empty());
  EXPECT_TRUE(find_separators("(a,b)", ",").empty());
}

TEST(Lexical, FindUnarySkipsGroupsAndLiterals) {
  EXPECT_EQ(find_unary("a(!b)!c", 0), 5);
  EXPECT_EQ(find_unary("a[(!]~", 0), 5);
  EXPECT_EQ(find_unary("!a!", 1), 2);
  EXPECT_EQ(find_unary("a{b!}[!]", 0), -1);
}

TEST(Lexical, TokenStartRule) {
  using Tokens = std::vector<std::string_view>;
  EXPECT_EQ(split_tokens("Kab_c12(x)[y]Z"), (Tokens{"K", "ab_c", "12", "(x)", "[y]", "Z"}));
  EXPECT_EQ(split_tokens("x1"), (Tokens{"x", "1"}));
  EXPECT_EQ(split_tokens("(a)(b,c)K,,d"), (Tokens{"(a)", "(b,c)", "K,,", "d"}));
  EXPECT_EQ(split_tokens("[a]b,"), (Tokens{"[a]", "b,"}));
  EXPECT_EQ(split_tokens("\x01\xff\t"), (Tokens{"\x01", "\xff", "\t"}));
}

TEST(Lexical, NestingDepthIgnoresTextLiterals) {
  EXPECT_EQ(nesting_depth(""), 0u);
  EXPECT_EQ(nesting_depth("a(b{c}(d))"), 2u);
  EXPECT_EQ(nesting_depth("a(b{c(d)})"), 3u);
  EXPECT_EQ(nesting_depth("[((((]()"), 1u);
  EXPECT_EQ(find_too_deep("a(b{c(d)})", 2), 5);
  EXPECT_EQ(find_too_deep("a(b{c(d)})", 3), -1);
  EXPECT_EQ(find_too_deep("[(]((", 1), 4);
}

}  // namespace
