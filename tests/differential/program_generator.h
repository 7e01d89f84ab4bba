// A seeded generator of small random programs in the language's own text,
// for the differential test of the two evaluation engines.
//
// A program is a main expression and up to five definitions: functions of
// one to three parameters (sometimes repeating a letter), constants,
// uncached names "name()\body", and now and then a constant that depends on
// itself. Expressions mix the prelude's combinators, operators, lets,
// lambdas, calls with too few, exactly enough and too many arguments,
// integers (negative and long ones too), texts, built-in names and, rarely,
// a name that nothing defines, comparisons choosing between branches, and
// pairs taken apart by two-parameter selectors. Every composite is written with explicit
// parentheses, so the parser's precedence rules never decide the shape.
#pragma once

#include <cstdint>
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

  std::string expression(int depth, const std::string& scope);
  std::string leaf(const std::string& scope);
  std::string call(const Definition& callee, int depth, const std::string& scope);
  int below(int n) { return static_cast<int>(rng_() % static_cast<uint64_t>(n)); }
  bool chance(int percent) { return below(100) < percent; }
  char letter() { return static_cast<char>('p' + below(10)); }  // p .. y

  std::mt19937_64 rng_;
  std::vector<Definition> definitions_;
};

}  // namespace tove_test
