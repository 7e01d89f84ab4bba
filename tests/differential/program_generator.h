// A seeded generator of small random programs in the language's own text,
// for the differential test of the two evaluation engines. The same seed
// gives the same sequence of programs.
//
// About half of the programs are free-form: a main expression and up to
// five definitions: functions of one to three parameters (sometimes
// repeating a letter), constants, uncached names "name()\body", and now and
// then a constant that depends on itself. Expressions mix the prelude's
// combinators, operators, lets, lambdas, calls with too few, exactly enough
// and too many arguments, integers (negative and long ones too), texts,
// built-in names and, rarely, a name that nothing defines, comparisons
// choosing between branches, and pairs taken apart by two-parameter
// selectors. Every composite is written with explicit parentheses, so the
// parser's precedence rules never decide the shape.
//
// The other half are shaped like the programs people write, each spelled in
// one of several equivalent ways (selectors as K/H, as lambdas, as a
// destructuring let, through "." and "?"; conditions with "<", ">", "=",
// "|" and "?" chains), sized so that they finish within a small step budget:
//   - lazy streams whose tails are partial applications of globals (or
//     lambdas) waiting for one argument, forced with I or with another
//     value, read by nth/total/take and passed through filters, a map and
//     a sieve;
//   - binary trees built afresh by recursive globals, complete or of
//     irregular shape, as V pairs (plain or tagged), as data pairs of text
//     literals, or read from a text literal, then counted and folded;
//   - byte strings grown by "+" one piece at a time, sometimes keeping the
//     intermediate string and using it twice (or appending to a memoised
//     constant), so an append made in place would show, then read back by
//     rank, look, trim, comparisons and conversions;
//   - nfib, the sum of a list built by non-tail recursion, and loops whose
//     next call is chosen by a chain of conditions.
// One or two of these make up the main expression, now and then combined
// with a free-form expression that may call the shaped definitions.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace tove_test {

class ProgramGenerator {
 public:
  explicit ProgramGenerator(uint64_t seed) : rng_(seed) {}
  // The whole program text: the main expression, then ",name\body" parts.
  std::string program();

 private:
  struct Definition {
    std::string name;
    int parameters;  // 0 for constants and uncached names
  };

  std::string free_program();
  std::string shaped_program();
  std::string expression(int depth, const std::string& scope);
  std::string leaf(const std::string& scope);
  std::string call(const Definition& callee, int depth, const std::string& scope);

  // Each shape adds its definitions to shaped_text_ and returns the part of
  // the main expression that uses them.
  std::string stream_shape();
  std::string tree_shape();
  std::string byte_string_shape();
  std::string recursion_shape();
  std::string vpair_tree(int depth);
  // A comparison, most of the time turned into one of two integers by the
  // truth value choosing between them, so that it can take part in sums.
  std::string truth(const std::string& condition);

  // A template is program text in which "@word" names a global of the
  // shape (the fragment's suffix is appended, so two fragments of one
  // program never share a name) and "@1" .. "@9" stand for the pieces.
  std::string fill(const std::string& text, std::initializer_list<std::string> pieces = {});
  // Fills a definition template, appends it to the program and records its
  // name and the number of parameters it binds.
  void define(const std::string& text, std::initializer_list<std::string> pieces = {});

  int below(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  int between(int low, int high) { return low + below(high - low + 1); }
  std::string number(int low, int high) { return std::to_string(between(low, high)); }
  bool chance(int percent) { return below(100) < percent; }
  char letter() { return static_cast<char>('p' + below(10)); }  // p .. y
  const char* one_of(std::initializer_list<const char*> items) {
    return items.begin()[below(static_cast<int>(items.size()))];
  }

  std::mt19937_64 rng_;
  std::vector<Definition> definitions_;
  std::string shaped_text_;  // the ",name\body" parts of a shaped program
  std::string suffix_;       // appended to the global names of the current fragment
};

}  // namespace tove_test
