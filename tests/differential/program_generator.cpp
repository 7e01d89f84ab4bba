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
constexpr const char* kOperators[] = {"+", "-", "*", "/", "%", "<", ">", "=",
                                      "#", "&", "|", ".", "@", "?", ":", ";"};
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

std::string ProgramGenerator::free_program() {
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

std::string ProgramGenerator::fill(const std::string& text, std::initializer_list<std::string> pieces) {
  // Pieces go in first, so a piece may name globals of the shape too.
  std::string with_pieces;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '@' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const size_t index = static_cast<size_t>(text[i + 1] - '1');
      with_pieces += index < pieces.size() ? pieces.begin()[index] : std::string();
      ++i;
    } else {
      with_pieces += text[i];
    }
  }
  std::string out;
  for (size_t i = 0; i < with_pieces.size(); ++i) {
    if (with_pieces[i] != '@') {
      out += with_pieces[i];
      continue;
    }
    size_t end = i + 1;
    while (end < with_pieces.size() &&
           ((with_pieces[end] >= 'a' && with_pieces[end] <= 'z') || with_pieces[end] == '_'))
      ++end;
    out += with_pieces.substr(i + 1, end - i - 1) + suffix_;
    i = end - 1;
  }
  return out;
}

void ProgramGenerator::define(const std::string& text, std::initializer_list<std::string> pieces) {
  const std::string filled = fill(text, pieces);
  size_t at = 0;
  while (at < filled.size() && ((filled[at] >= 'a' && filled[at] <= 'z') || filled[at] == '_')) ++at;
  Definition definition{filled.substr(0, at), 0};
  // A parameter is a letter between two backslashes; the body starts at
  // the first backslash followed by anything else.
  while (at + 2 < filled.size() && filled[at] == '\\' && filled[at + 1] >= 'a' && filled[at + 1] <= 'z' &&
         filled[at + 2] == '\\') {
    ++definition.parameters;
    at += 2;
  }
  definitions_.push_back(definition);
  shaped_text_ += "," + filled;
}

std::string ProgramGenerator::truth(const std::string& condition) {
  if (chance(30)) return condition;
  return "((" + condition + ")(" + number(1, 9) + ")(" + number(0, 9) + "))";
}

std::string ProgramGenerator::stream_shape() {
  // The producer. Every tail is an application still one argument short:
  // a partial application of the producer itself, or a lambda. Forcing a
  // tail supplies that argument; the stepping producer uses it as the
  // step, the others ignore it.
  int step = 1;
  std::string force = one_of({"I", "0", "K", "[a]", "(x\\x)", "1"});
  const int first = between(0, 5);
  std::string stream;
  switch (below(4)) {
    case 0:
      define(one_of({"@from\\n\\u\\V n (@from(n+1))", "@from\\n\\u\\(V n)(@from(1+n))",
                     "@from\\n\\u\\V(n)(@from(n+1))"}));
      stream = chance(50) ? fill("@from(@1)(@2)", {std::to_string(first), force})
                          : fill("(@from @1 @2)", {std::to_string(first), force});
      break;
    case 1:
      step = between(1, 3);
      force = std::to_string(step);
      define("@from\\n\\d\\V n (@from(n+d))");
      stream = fill("@from(@1,@2)", {std::to_string(first), force});
      break;
    case 2:
      define(one_of({"@from\\n\\V n (x\\@from(n+1))", "@from\\n\\V n (u\\@from(n+1))"}));
      stream = fill("@from(@1)", {std::to_string(first)});
      break;
    default:
      step = between(1, 3);
      define("@from\\n\\m\\u\\V n (@from(n+m)(m))");
      stream = fill("@from(@1)(@2)(@3)", {std::to_string(first), std::to_string(step), force});
      break;
  }
  define(one_of({"@hd\\s\\s K", "@hd\\s\\s(p\\q\\p)", "@hd\\s\\(x y){s}x", "@hd\\s\\K.s", "@hd\\s\\s?K",
                 "@hd\\s\\s(K)"}));
  define(one_of({"@tl\\s\\s H @1", "@tl\\s\\(s H)(@1)", "@tl\\s\\s(p\\q\\q @1)", "@tl\\s\\(x y){s}y(@1)",
                 "@tl\\s\\(@1).(s H)", "@tl\\s\\s H?@1"}),
         {force});

  // Up to two stages between producer and consumer. A filter by p stays
  // productive as long as p does not divide the step; the sieve needs the
  // integers from 2 on.
  bool has_keep = false;
  auto define_keep = [&] {
    if (has_keep) return;
    has_keep = true;
    define(one_of({"@keep\\p\\s\\((@hd s)%p=0)(@keep p (@tl s))(V (@hd s) (@rest p s))",
                   "@keep\\p\\s\\(@hd(s)%p#0)(V (@hd s) (@rest p s))(@keep p (@tl s))",
                   "@keep\\p\\s\\(@hd s)%p=0?@keep p (@tl s)?V (@hd s) (@rest p s)"}));
    define(one_of({"@rest\\p\\s\\u\\@keep p (@tl s)", "@rest\\p\\s\\u\\@keep(p,@tl(s))"}));
  };
  bool has_square = false;
  const int stages = below(3);
  for (int i = 0; i < stages; ++i) {
    const int stage = below(3);
    if (stage == 0 && i == 0 && step == 1 && first >= 2) {
      define_keep();
      define("@sieve\\s\\V (@hd s) (@sift s)");
      define("@sift\\s\\u\\@sieve(@keep (@hd s) (@tl s))");
      stream = fill("@sieve(@1)", {stream});
    } else if (stage == 1 && !has_square) {
      has_square = true;
      define(one_of({"@sq\\s\\V ((@hd s)*(@hd s)) (@sqs s)", "@sq\\s\\V (@hd(s)*@hd(s)) (@sqs s)"}));
      define("@sqs\\s\\u\\@sq(@tl s)");
      stream = fill("@sq(@1)", {stream});
    } else {
      constexpr int kPrimes[] = {2, 3, 5};
      int p = kPrimes[below(3)];
      if (p == step) p = 5;
      define_keep();
      stream = fill("@keep(@1)(@2)", {std::to_string(p), stream});
    }
  }

  const std::string count = number(0, 6);
  switch (below(4)) {
    case 0:
      define(one_of({"@nth\\n\\s\\(n<1)(@hd s)(@nth(n-1)(@tl s))", "@nth\\n\\s\\n<1?@hd s?@nth(n-1)(@tl s)",
                     "@nth\\n\\s\\(0<n)(@nth(n-1)(s H @1))(s K)"}),
             {force});
      return fill("@nth(@1)(@2)", {count, stream});
    case 1:
      define(one_of({"@total\\n\\s\\(n<1)(0)((@hd s)+@total(n-1)(@tl s))",
                     "@total\\n\\s\\n<1?0?(s K)+@total(n-1)(s H @1)"}),
             {force});
      return fill("@total(@1,@2)", {count, stream});
    case 2:
      define(one_of({"@take\\n\\s\\(n<1)(K 0)(V (@hd s) (@take(n-1)(@tl s)))",
                     "@take\\n\\s\\(n>1)(V (@hd s) (@take(n-1)(@tl s)))(K 0)"}));
      define(one_of({"@sm\\l\\l(h\\t\\h+@sm(t))", "@sm\\l\\(h\\t\\@sm(t)+h).l"}));
      return fill("@sm(@take(@1)(@2))", {count, stream});
    default: {
      std::string text = stream;
      for (int i = below(5); i > 0; --i) text = fill("@tl(@1)", {text});
      return fill("@hd(@1)", {text});
    }
  }
}

std::string ProgramGenerator::vpair_tree(int depth) {
  if (depth <= 0 || chance(25)) return "(K " + number(0, 9) + ")";
  return "(V " + vpair_tree(depth - 1) + " " + vpair_tree(depth - 1) + ")";
}

std::string ProgramGenerator::tree_shape() {
  // The second subtree's size, from the parameter d of a builder: complete,
  // Fibonacci-shaped or lopsided trees.
  const char* smaller = one_of({"d-1", "d-2", "d/2"});
  const std::string depth = number(0, 5);
  switch (below(4)) {
    case 0: {  // V pairs with K leaves: a leaf applied to a selector is its value
      std::string tree;
      if (chance(20)) {
        tree = vpair_tree(3);
      } else {
        define(one_of({"@grow\\d\\(d<1)(K @1)(V (@grow(d-1)) (@grow(@2)))",
                       "@grow\\d\\d<1?K @1?V (@grow(d-1)) (@grow(@2))",
                       "@grow\\d\\(0<d)(V (@grow(@2)) (@grow(d-1)))(K @1)"}),
               {one_of({"1", "d", "(d+1)"}), smaller});
        tree = fill("@grow(@1)", {depth});
      }
      switch (below(4)) {
        case 0:
          define(one_of({"@cnt\\t\\t(l\\r\\(@cnt l)+(@cnt r)+1)", "@cnt\\t\\(l\\r\\@cnt(l)+@cnt(r)+1).t",
                         "@cnt\\t\\T(l\\r\\@cnt(l)+@cnt(r)+1)(t)"}));
          return fill("@cnt(@1)", {tree});
        case 1: define("@sl\\t\\t(l\\r\\@sl(l)*2+@sl(r))"); return fill("@sl(@1)", {tree});
        case 2:
          define("@dp\\t\\t(l\\r\\(m{@dp l}(k{@dp r}((m<k)(k+1)(m+1)))))");
          return fill("@dp(@1)", {tree});
        default:
          define("@mx\\t\\t(l\\r\\(a b){V (@mx l) (@mx r)}(a<b)(b)(a))");
          define("@sl\\t\\t(l\\r\\@sl(l)*2+@sl(r))");
          return fill("(t{@1}(@mx(t))+(@sl(t)))", {tree});
      }
    }
    case 1: {  // tagged V pairs: V K value for a leaf, V H (V left right) for a node
      define(one_of({"@tg\\d\\(d<1)(V K @1)(V H (V (@tg(d-1)) (@tg(@2))))",
                     "@tg\\d\\d<1?V K @1?V H (V (@tg(d-1)) (@tg(@2)))"}),
             {one_of({"d", "1", "(d*d)"}), smaller});
      const std::string tree = fill("@tg(@1)", {depth});
      define(one_of({"@lin\\t\\(t K)(t H)((@lin(t H K))*3+(@lin(t H H)))",
                     "@lin\\t\\t K?t H?(t H)(p\\q\\@lin(p)*3+@lin(q))"}));
      switch (below(3)) {
        case 0:
          define(one_of({"@cnt\\t\\(t K)(1)(@cnt(t H K)+@cnt(t H H)+1)",
                         "@cnt\\t\\t K?1?(t H)(p\\q\\@cnt(p)+@cnt(q)+1)",
                         "@cnt\\t\\(x y){t}x(1)(@cnt(y K)+@cnt(y H)+1)"}));
          return fill("(@cnt(@1))*100+@lin(@1)", {tree});
        case 1:
          define("@mir\\t\\(t K)(t)(V H (V (@mir(t H H)) (@mir(t H K))))");
          return fill("@lin(@mir(@1))", {tree});
        default:
          define("@mir\\t\\(t K)(t)(V H (V (@mir(t H H)) (@mir(t H K))))");
          return fill("(u{@1}(@lin(@mir(@mir(u))))-(@lin(u)))", {tree});
      }
    }
    default: {  // data: pairs of text literals built afresh, or a text literal read as a tree
      std::string tree;
      std::string expected;  // the written form, for complete trees of empty leaves
      if (chance(25)) {
        tree = one_of({"[ab]", "[[]]", "[a[bc]]", "[[[]][]]", "[x[y[z]]]", "[[a][b][c]]"});
        if (chance(50)) tree = "lots(" + tree + ")";
      } else {
        const char* leaf = one_of({"[]", "[]", "[a]", "[[]]", "[bc]"});
        switch (below(3)) {
          case 0: define("@gt\\d\\(d<1)(@1)((@gt(d-1))(@gt(@2)))", {leaf, smaller}); break;
          case 1: define("@gt\\d\\(d<1)(@1)(k{@gt(d-1)}k(@gt(@2)))", {leaf, smaller}); break;
          default:
            define("@gt\\d\\(d<1)(@1)(k{@gt(d-1)}k k)", {leaf});
            if (leaf[1] == ']') {
              expected = "[]";
              for (int i = std::stoi(depth); i > 0; --i)
                expected = expected.substr(0, expected.size() - 1) + expected + "]";
            }
            break;
        }
        // A leaf other than the empty tree ends in a character, whose own
        // tree a fold walks too.
        tree = fill("@gt(@1)", {leaf[1] == ']' ? depth : number(0, 3)});
      }
      if (!expected.empty() && chance(50)) return truth(fill("zits(@1)=@2", {tree, expected}));
      switch (below(4)) {
        case 0:
          define(one_of({"@ct\\t\\(t=[])(1)(@ct($t)+@ct(~t)+1)", "@ct\\t\\(t#[])(@ct($t)+@ct(~t)+1)(1)"}));
          return fill("@ct(@1)", {tree});
        case 1: define("@ct\\t\\(t=[])(0)(t G (l\\r\\@ct(l)+@ct(r)+1))"); return fill("@ct(@1)", {tree});
        case 2: return fill("rank(@1)+rank(zits(@1))", {tree});
        default: return fill("look(@1,@2)", {tree, number(0, 2)});
      }
    }
  }
}

std::string ProgramGenerator::byte_string_shape() {
  // A piece may be the string itself: then one cell is both operands.
  const char* piece = one_of({"cape[x]", "cape[ab]", "init(n)", "init(n+96)", "n", "cork(cape[ ],0,n+97)",
                              "cape[[q]]", "(cape[yz]-1)", "s"});
  std::string start = one_of({"cape[]", "cape[a]", "init(65)", "(cape[abc]-1)", "@base"});
  if (start == "@base") define(one_of({"@base\\cape[pq]+cape[rs]", "@base\\cape[ba]*2"}));
  int most = 8;
  switch (below(6)) {
    case 0: define("@app\\s\\n\\(n<1)(s)(@app(s+@1)(n-1))", {piece}); break;
    case 1: define("@app\\s\\n\\n<1?s?@app(s+@1)(n-1)", {piece}); break;
    case 2: define("@app\\s\\n\\(0<n)(@app(@1+s)(n-1))(s)", {piece}); break;
    case 3:  // the string appended to is also the right operand
      most = 4;
      define("@app\\s\\n\\(n<1)(s)(@app(s+@1+s)(n-1))", {piece});
      break;
    case 4:  // the intermediate string is kept and appended to again after the recursion
      most = 5;
      define("@app\\s\\n\\(n<1)(s)(@two(s+@1)(n-1))", {piece});
      define(one_of({"@two\\t\\n\\(@app(t+cape[b])(n))+t", "@two\\t\\n\\t+(@app(t+cape[b])(n))"}));
      break;
    default:  // non-tail recursion: the pieces are appended as the calls return, the first call's last
      define("@app\\s\\n\\(n<1)(s)(@app(s)(n-1)+@1)", {piece});
      break;
  }
  const std::string grown = fill("@app(@1)(@2)", {start, number(0, most)});
  auto read = [&](const std::string& s) -> std::string {
    switch (below(10)) {
      case 0: return "rank(" + s + ")";
      case 1: return "look(" + s + "," + one_of({"0", "1", "2", "01", "02", "5"}) + ")";
      case 2: return "trim(" + s + "," + one_of({"0,1", "1,3", "0,01", "01,0"}) + ")";
      case 3: return "cape(" + s + ")";
      case 4: return std::string(one_of({"$", "~"})) + "(" + s + ")";
      case 5: return "(" + s + ")-" + one_of({"1", "01", "2"});
      case 6: return "lits(trim(" + s + ",0,1))";
      case 7: return "zits(" + s + ")";
      case 8:
        return truth("(" + s + ")" + one_of({"<", "=", "#", ">"}) + "(" +
                     one_of({"cape[ax]", "cape[]", "init(65)"}) + ")");
      default: return "cmpr(" + s + "," + s + "+cape[c])";
    }
  };
  switch (below(4)) {
    case 0: return read(grown);
    case 1:  // the grown string is read twice, once after a further append
      return fill("(u{@1}((@2)+(@3)))", {grown, "rank(u+cape[d])", read("u")});
    case 2:
      return fill("(u{@1}(@2))",
                  {grown, truth(std::string("(u+cape[b])") + one_of({"<", "=", "#", ">"}) + "(u+cape[c])")});
    default:
      if (start == "@base") return fill("rank(@1)+rank(@base)", {grown});
      return truth(fill("(@1)@2(@3)",
                        {grown, one_of({"<", "=", "#"}), fill("@app(@1)(@2)", {start, number(0, most)})}));
  }
}

std::string ProgramGenerator::recursion_shape() {
  const std::string size = number(0, 10);
  switch (below(4)) {
    case 3:  // a loop whose next call is chosen by a chain of conditions
      define(one_of({"@ch\\n\\a\\(n<1)(a)((n%3=0)(@ch(n-1)(a+1))((n%5=0)(@ch(n-1)(a+2))(@ch(n-1)(a))))",
                     "@ch\\n\\a\\n<1?a?((n%3=0)?@ch(n-1)(a+1)?((n%5=0)?@ch(n-1)(a+2)?@ch(n-1)(a)))",
                     "@ch\\n\\a\\(n<1)(a)((n%2=0)(@ch(n-1,a*3%101))(@ch(n-1,a+n)))",
                     "@ch\\n\\a\\(0<n)((n%3=1)((n%2=0)(@ch(n-1)(V n a))(@ch(n-1)(a)))(@ch(n-1)(a)))(a)",
                     "@ch\\n\\a\\(n<1)(a)((n=1)(K a)((n=2)(a+1)(@ch(n-3)(@ch(n-1)(a)))))"}));
      return fill("@ch(@1)(@2)", {number(0, 30), number(0, 9)});
    case 0: {  // nfib
      const char* sum = one_of({"@nf(n-1)+@nf(n-2)+1", "(@nf(n-1))+(@nf(n-2))+1", "1+@nf(n-2)+@nf(n-1)",
                                "@add(@nf(n-1),@nf(n-2))", "@nf(n-1)+@nf(n-2)"});
      if (std::string(sum).find("@add") != std::string::npos) define("@add\\x\\y\\x+y+1");
      define(one_of({"@nf\\n\\(n<2)(1)(@1)", "@nf\\n\\n<2?1?@1", "@nf\\n\\(n>2)(@1)(1)",
                     "@nf\\n\\(1<n)(@1)(1)", "@nf\\n\\((n=0)|(n=1))(1)(@1)", "@nf\\n\\n<2?1;@1"}),
             {sum});
      return fill("@nf(@1)", {size});
    }
    case 1:
      if (chance(50)) return "Y(f\\n\\(n<2)(1)(f(n-1)+f(n-2)+1))(" + size + ")";
      define("@count\\n\\(n<1)(0)(V n (@count(n-1)))");
      define(one_of(
          {"@total\\n\\l\\(n<1)(0)((l K)+@total(n-1)(l H))", "@total\\n\\l\\n<1?0?(l K)+@total(n-1)(l H)"}));
      return fill("@total(@1)(@count(@1))", {number(0, 30)});
    default:
      define(one_of({"@bl\\n\\(n<1)(K 0)(V @1 (@bl(n-1)))", "@bl\\n\\n<1?K 0?V @1 (@bl(n-1))",
                     "@bl\\n\\(0<n)(V @1 (@bl(n-1)))(K 0)"}),
             {one_of({"n", "(n*n)", "(n%3)"})});
      define(one_of({"@sm\\l\\l(h\\t\\h+@sm(t))", "@sm\\l\\(h\\t\\@sm(t)+h).l",
                     "@sm\\l\\l(h\\t\\(m{@sm(t)}(h<m)(m+1)(h)))"}));
      return fill("@sm(@bl(@1))", {number(0, 30)});
  }
}

std::string ProgramGenerator::shaped_program() {
  shaped_text_.clear();
  std::string text;
  const int fragments = chance(25) ? 2 : 1;
  for (int i = 0; i < fragments; ++i) {
    suffix_ = i == 0 ? "" : "b";
    std::string fragment;
    switch (below(4)) {
      case 0: fragment = stream_shape(); break;
      case 1: fragment = tree_shape(); break;
      case 2: fragment = byte_string_shape(); break;
      default: fragment = recursion_shape(); break;
    }
    if (i == 0) text = fragment;
    else if (chance(25)) text = "V (" + text + ") (" + fragment + ")";
    else text = "(" + text + ")" + one_of({"+", "*", "-", "=", "<", "#"}) + "(" + fragment + ")";
  }
  suffix_.clear();
  if (chance(15)) text = "(" + text + ")" + pick(kOperators, rng_()) + "(" + expression(2, "") + ")";
  return text + shaped_text_;
}

std::string ProgramGenerator::program() {
  definitions_.clear();
  return chance(50) ? free_program() : shaped_program();
}

}  // namespace tove_test
