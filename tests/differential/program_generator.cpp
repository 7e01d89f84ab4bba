#include "program_generator.h"

namespace tove_test {

namespace {

constexpr const char* kNumbers[] = {"0",
                                    "1",
                                    "2",
                                    "3",
                                    "5",
                                    "7",
                                    "10",
                                    "16",
                                    "255",
                                    "05",
                                    "012",
                                    "123456789012345678901234567890",
                                    "0987654321987654321"};
constexpr const char* kTexts[] = {"[]", "[a]", "[ab]", "[a[b]]", "[[]]", "[xyz]"};
// Every combinator letter, the copying ones (M, S, W, Y, ...) included.
constexpr const char* kCombinators = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr const char* kOperators[] = {"+", "-", "*", "/", "%", "<", ">", "=", "#", "&", "|", ".", "@"};
constexpr const char* kBuiltins[] = {"plus", "dash", "less", "same", "mult"};

template <size_t N>
const char* pick(const char* const (&items)[N], uint64_t r) {
  return items[r % N];
}

}  // namespace

std::string ProgramGenerator::leaf(const std::string& scope) {
  const int kind = below(100);
  if (kind < 25 && !scope.empty())
    return std::string(1, scope[static_cast<size_t>(below(static_cast<int>(scope.size())))]);
  if (kind < 45) return pick(kNumbers, rng_());
  if (kind < 75) return std::string(1, kCombinators[below(26)]);
  if (kind < 82) return pick(kTexts, rng_());
  if (kind < 88) return pick(kBuiltins, rng_());
  if (kind < 97 && !definitions_.empty())
    return definitions_[static_cast<size_t>(below(static_cast<int>(definitions_.size())))].name;
  if (kind < 98) return "nowhere";  // defined nowhere
  return "1";
}

std::string ProgramGenerator::call(const Definition& callee, int depth, const std::string& scope) {
  // Too few, exactly enough or too many arguments.
  int count = callee.parameters + below(3) - 1;
  if (count < 0) count = 0;
  std::string text = callee.name;
  if (count == 0) return text;
  text += "(";
  for (int i = 0; i < count; ++i) {
    if (i) text += ",";
    text += expression(depth - 1, scope);
  }
  return text + ")";
}

std::string ProgramGenerator::expression(int depth, const std::string& scope) {
  if (depth <= 0 || chance(20)) return leaf(scope);
  switch (below(12)) {
    case 0:
    case 1:  // application
      return "(" + expression(depth - 1, scope) + ")(" + expression(depth - 1, scope) + ")";
    case 2: {  // a combinator with arguments of its own
      std::string text(1, kCombinators[below(26)]);
      const int count = 1 + below(4);
      for (int i = 0; i < count; ++i) text += "(" + expression(depth - 1, scope) + ")";
      return text;
    }
    case 3: {  // binary operator
      const char* op = pick(kOperators, rng_());
      return "((" + expression(depth - 1, scope) + ")" + op + "(" + expression(depth - 1, scope) + "))";
    }
    case 4: {  // lambda, sometimes shadowing a letter already bound
      const char v = letter();
      return "(" + std::string(1, v) + "\\(" + expression(depth - 1, scope + v) + "))";
    }
    case 5: {  // let
      const char k = letter();
      return "(" + std::string(1, k) + "{" + expression(depth - 1, scope) + "}(" +
             expression(depth - 1, scope + k) + "))";
    }
    case 6:
    case 7:
      if (!definitions_.empty()) {
        return call(definitions_[static_cast<size_t>(below(static_cast<int>(definitions_.size())))], depth,
                    scope);
      }
      return leaf(scope);
    case 8:  // a small power, negation or comparison chain
      switch (below(3)) {
        case 0: return "(" + std::to_string(below(10)) + "^" + std::to_string(below(12)) + ")";
        case 1: return "(!(" + expression(depth - 1, scope) + "))";
        default: return "((" + expression(depth - 1, scope) + ")<(" + leaf(scope) + "))";
      }
    case 9:  // a comparison choosing one of two branches
      return "(((" + expression(depth - 1, scope) + ")<(" + expression(depth - 1, scope) + "))(" +
             expression(depth - 1, scope) + ")(" + expression(depth - 1, scope) + "))";
    case 10: {  // a pair taken apart by a selector of two parameters, now and then with one more argument
      const char p = letter();
      const char q = letter();
      std::string text = "((V(" + expression(depth - 1, scope) + ")(" + expression(depth - 1, scope) + "))(" +
                         std::string(1, p) + "\\" + std::string(1, q) + "\\(" +
                         expression(depth - 1, scope + p + q) + ")))";
      if (chance(30)) text = "(" + text + "(" + expression(depth - 1, scope) + "))";
      return text;
    }
    default: return leaf(scope);
  }
}

std::string ProgramGenerator::program() {
  definitions_.clear();
  const int count = below(6);
  std::vector<int> kinds;
  for (int i = 0; i < count; ++i) {
    const int kind = below(10);  // 0-5 function, 6-7 constant, 8 uncached, 9 self-dependent
    kinds.push_back(kind);
    std::string name = "f";
    name += static_cast<char>('a' + i);
    definitions_.push_back({name, kind <= 5 ? 1 + below(3) : 0});
  }
  std::string text = expression(4, "");
  for (int i = 0; i < count; ++i) {
    const Definition& d = definitions_[static_cast<size_t>(i)];
    std::string scope;
    text += "," + d.name;
    if (kinds[static_cast<size_t>(i)] == 8) text += "()";
    for (int p = 0; p < d.parameters; ++p) {
      // Now and then a letter repeats: the last of its arguments binds it.
      const char v = (p > 0 && chance(10)) ? scope.back() : static_cast<char>('a' + p);
      scope += v;
      text += "\\" + std::string(1, v);
    }
    if (kinds[static_cast<size_t>(i)] == 9) {
      text += "\\I(" + d.name + ")";
    } else {
      text += "\\" + expression(3, scope);
    }
  }
  return text;
}

}  // namespace tove_test
