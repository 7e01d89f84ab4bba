// The arithmetic primitives on hand-built redexes, and on large random
// operands against Python's exact numbers (arith_reference.py).
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "calls.h"

namespace tove {
namespace {

using testing::atom;
using testing::call;
using testing::cons;
using testing::real_result;
using testing::text;

class Arithmetic : public testing::PrimitiveLeakCheck {};

std::string ask(std::string_view op, std::string_view a, std::string_view b) { return text(call(op, a, b)); }

// A row's word rule answers two short integers as its handler does, or
// leaves them to the handler: for every row that has one, on operands
// about zero, at seven digits, past them and at the ends of a word.
TEST_F(Arithmetic, WordRulesAnswerAsTheirHandlersDo) {
  const int64_t values[] = {0,          1,           -1,        2,         -7,
                            37,         9999999,     -9999999,  10000000,  123456789,
                            3037000499, -3037000500, INT64_MAX, INT64_MIN, INT64_MAX - 1};
  for (const BuiltinSpec& row : number_family()) {
    if (row.words == nullptr) continue;
    const bool divides = row.name == "over" || row.name == "cent";
    for (int64_t x : values) {
      for (int64_t y : values) {
        CellRef answer = row.words(x, y);
        // Operands of seven digits always have a word answer, but for a
        // divisor of zero.
        const bool small = x > -10000000 && x < 10000000 && y > -10000000 && y < 10000000;
        if (small) {
          EXPECT_EQ(static_cast<bool>(answer), !(divides && y == 0)) << row.name << " " << x << " " << y;
        }
        // A value rule gives the word the word rule answers.
        if (row.values != nullptr) {
          int64_t word = 0;
          ASSERT_EQ(row.values(x, y, &word), static_cast<bool>(answer)) << row.name << " " << x << " " << y;
          if (answer) {
            EXPECT_EQ(text(answer), text(small_integer_atom(word))) << row.name;
          }
        }
        // A truth rule says which truth the word rule answers.
        if (row.truths != nullptr) {
          EXPECT_EQ(text(answer), row.truths(x, y) ? "K" : "H") << row.name << " " << x << " " << y;
        }
        if (!answer) continue;
        EXPECT_EQ(text(answer), text(call(row.name, small_integer_atom(x), small_integer_atom(y))))
            << row.name << " " << x << " " << y;
      }
    }
  }
}

TEST_F(Arithmetic, FloorQuotientAndSignRuleRemainder) {
  EXPECT_EQ(ask("over", "7", "2"), "3");
  EXPECT_EQ(ask("over", "07", "2"), "04");
  EXPECT_EQ(ask("over", "7", "02"), "04");
  EXPECT_EQ(ask("over", "07", "02"), "3");
  EXPECT_EQ(ask("over", "6", "03"), "02");
  EXPECT_EQ(ask("cent", "7", "02"), "1");
  EXPECT_EQ(ask("cent", "07", "2"), "1");
  EXPECT_EQ(ask("cent", "07", "02"), "1");
  // The sign rule, not the Euclidean remainder: equal signs keep |a| mod |b|.
  EXPECT_EQ(ask("cent", "07", "04"), "3");
  EXPECT_EQ(ask("cent", "7", "04"), "1");
  EXPECT_EQ(ask("cent", "08", "4"), "0");
  EXPECT_EQ(ask("over", "5", "0"), "Z");
  EXPECT_EQ(ask("cent", "5", "0"), "Z");
  EXPECT_EQ(ask("over", "0", "05"), "0");
}

TEST_F(Arithmetic, SumsDifferencesAndProducts) {
  EXPECT_EQ(ask("dash", "3", "5"), "02");
  EXPECT_EQ(ask("dash", "5", "5"), "0");
  EXPECT_EQ(ask("mult", "05", "02"), "10");
  EXPECT_EQ(ask("mult", "05", "0"), "0");
  EXPECT_EQ(ask("plus", "05", "5"), "0");
  EXPECT_EQ(ask("plus", "99999999999999999999", "1"), "100000000000000000000");
  EXPECT_EQ(ask("dash", "0100000000000000000000", "01"), "099999999999999999999");
}

TEST_F(Arithmetic, MachineWordEdges) {
  const std::string max = "9223372036854775807";
  const std::string min = "09223372036854775808";
  EXPECT_EQ(ask("plus", max, "1"), "9223372036854775808");
  EXPECT_EQ(ask("dash", min, "1"), "09223372036854775809");
  EXPECT_EQ(ask("mult", min, "01"), "9223372036854775808");
  EXPECT_EQ(ask("over", min, "01"), "9223372036854775808");
  EXPECT_EQ(ask("cent", min, "01"), "0");
  EXPECT_EQ(ask("mult", "4294967296", "4294967296"), "18446744073709551616");
  EXPECT_EQ(ask("dash", "9223372036854775808", "1"), max);
}

TEST_F(Arithmetic, IntegerPowers) {
  EXPECT_EQ(ask("powa", "2", "10"), "1024");
  EXPECT_EQ(ask("powa", "02", "3"), "08");
  EXPECT_EQ(ask("powa", "02", "2"), "4");
  EXPECT_EQ(ask("powa", "0", "0"), "1");
  EXPECT_EQ(ask("powa", "2", "01"), "0");
  EXPECT_EQ(ask("powa", "1", "01"), "0");
  EXPECT_EQ(ask("powa", "2", "64"), "18446744073709551616");
  EXPECT_EQ(ask("powa", "10", "40"), "1" + std::string(40, '0'));
  // Exponents past a machine word: only 0, 1 and -1 have such powers.
  EXPECT_EQ(ask("powa", "01", "100000000000000000000"), "1");
  EXPECT_EQ(ask("powa", "01", "100000000000000000001"), "01");
  EXPECT_EQ(ask("powa", "0", "100000000000000000001"), "0");
  EXPECT_EQ(ask("powa", "2", "100000000000000000001"), "Z");
  EXPECT_EQ(ask("powa", "10", "10000000000"), "Z");
}

TEST_F(Arithmetic, BinaryFractions) {
  EXPECT_EQ(ask("plus", "001", "001"), "004");
  EXPECT_EQ(ask("plus", "1", "002"), "003");
  EXPECT_EQ(ask("plus", "002", "0000"), "00");
  EXPECT_EQ(ask("dash", "00", "003"), "0001");  // -3/2
  EXPECT_EQ(ask("mult", "0000", "0000"), "008");
  EXPECT_EQ(ask("mult", "003", "0"), "00");
  EXPECT_EQ(ask("over", "002", "002"), "Z");
  EXPECT_DOUBLE_EQ(real_result(call("over", "1", "002")), 2.0);
  EXPECT_EQ(ask("powa", "004", "03"), "0032");
  EXPECT_EQ(ask("powa", "004", "0"), "001");
  EXPECT_EQ(ask("powa", "003", "2"), "0012");
  EXPECT_EQ(ask("powa", "003", "0"), "001");
  EXPECT_EQ(ask("powa", "003", "01"), "Z");
  EXPECT_EQ(ask("powa", "000", "3"), "000");
  EXPECT_EQ(ask("powa", "00", "5"), "00");
  EXPECT_EQ(ask("cent", "003", "001"), "002");
  EXPECT_EQ(ask("cent", "003", "000"), "002");
  EXPECT_EQ(ask("cent", "0006", "001"), "0010");  // -13/4 % 1 is 3/4
  EXPECT_EQ(ask("cent", "003", "00"), "Z");
  EXPECT_EQ(ask("cent", "7", "004"), "001");
}

TEST_F(Arithmetic, PowersOfTwoAsFractions) {
  // 2^b exactly, as one coefficient, for a negative b as well.
  EXPECT_EQ(ask("powa", "004", "1"), "004");
  EXPECT_EQ(ask("powa", "004", "01"), "002");
  EXPECT_EQ(ask("powa", "004", "06"), "002048");
  // Exponents with 61 and more elements are refused.
  EXPECT_EQ(ask("powa", "004", "576460752303423488"), "Z");
  EXPECT_EQ(ask("powa", "004", "100000000000000000000"), "Z");
  // A list-form exponent must be a well-formed bit list.
  EXPECT_EQ(text(call("powa", atom("004"), cons("K", cons("K", atom("K"))))), "004");
  EXPECT_EQ(text(call("powa", atom("004"), cons("K", cons("X", atom("K"))))), "Z");
  EXPECT_EQ(text(call("powa", atom("003"), cons("K", make_pair(atom("S"), atom("K"))))), "Z");
  EXPECT_EQ(text(call("powa", atom("003"), cons("K", cons("K", atom("K"))))), "003");
}

TEST_F(Arithmetic, Reals) {
  EXPECT_DOUBLE_EQ(real_result(call("plus", atom("1"), make_real(0.5))), 1.5);
  EXPECT_DOUBLE_EQ(real_result(call("dash", atom("003"), make_real(0.5))), 1.0);
  EXPECT_DOUBLE_EQ(real_result(call("mult", make_real(2.5), atom("04"))), -10.0);
  EXPECT_DOUBLE_EQ(real_result(call("cent", make_real(7.5), atom("2"))), 1.5);
  EXPECT_DOUBLE_EQ(real_result(call("powa", atom("2"), make_real(0.5))), std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(real_result(call("powa", atom("4"), atom("002"))), 2.0);
  EXPECT_EQ(real_result(call("over", atom("1"), atom("00"))), std::numeric_limits<double>::infinity())
      << "an integer and a binary fraction divide as reals";
  EXPECT_EQ(text(call("over", atom("1"), atom("0"))), "Z");
  EXPECT_TRUE(std::isinf(real_result(call("over", make_real(1.0), make_real(0.0)))));
  EXPECT_TRUE(std::isnan(real_result(call("dash", make_real(INFINITY), make_real(INFINITY)))));
}

// "+" onto a byte string extends it in place only when the redex holds the
// only reference: a string the program still holds keeps its bytes, and
// a chain of appends of strings and numbers spells what was appended.
TEST_F(Arithmetic, JoiningOntoAByteStringLeavesEveryHeldStringAlone) {
  CellRef held = atom("(c)abc");
  CellRef joined = call("plus", held.share(), atom("(a)d"));
  EXPECT_EQ(text(joined), "(d)abcd");
  EXPECT_EQ(text(held), "(c)abc");
  EXPECT_NE(joined.get(), held.get());

  std::string expected = "start";
  std::string snapshot;
  CellRef built = call("plus", atom("(e)start"), atom("()"));
  for (int i = 0; i < 3000; ++i) {
    if (i % 2 == 0) {
      built = call("plus", std::move(built), atom("(b)xy"));
      expected += "xy";
    } else {
      built = call("plus", std::move(built), atom(std::to_string(i)));
      expected += std::to_string(i);
    }
    if (i == 1500) {
      // Held here too: the next append must copy it.
      held = built.share();
      snapshot = expected;
    }
  }
  EXPECT_EQ(text(built), byte_string_text(expected));
  EXPECT_EQ(text(held), byte_string_text(snapshot));
}

TEST_F(Arithmetic, ByteStringsAndTexts) {
  EXPECT_EQ(ask("plus", "(c)abc", "1"), "(d)abc1");
  EXPECT_EQ(ask("plus", "05", "(b)xy"), "(d)05xy");
  EXPECT_EQ(ask("plus", "(b)xy", "003"), "(e)xy003");
  EXPECT_EQ(text(call("plus", atom("(a)x"), make_real(1.5))), "(m)x1.500000e+00");
  EXPECT_EQ(ask("plus", "(a)x", "(b)yz"), "(c)xyz");
  EXPECT_EQ(ask("dash", "(c)abc", "1"), "(b)bc");
  EXPECT_EQ(ask("dash", "(c)abc", "01"), "(b)ab");
  EXPECT_EQ(ask("dash", "(c)abc", "0"), "(c)abc");
  EXPECT_EQ(ask("dash", "(c)abc", "3"), "()");
  EXPECT_EQ(ask("dash", "(c)abc", "03"), "()");
  EXPECT_EQ(ask("dash", "(c)abc", "4"), "Z");
  EXPECT_EQ(ask("dash", "(c)abc", "100000000000000000000"), "Z");
  EXPECT_EQ(ask("dash", "1", "(c)abc"), "Z");
  EXPECT_EQ(ask("mult", "2", "(b)ab"), "(d)abab");
  EXPECT_EQ(ask("mult", "(b)ab", "3"), "(f)ababab");
  EXPECT_EQ(ask("mult", "(b)ab", "0"), "()");
  EXPECT_EQ(ask("mult", "(b)ab", "01"), "Z");
  EXPECT_EQ(ask("mult", "(b)ab", "100000000000000000000"), "Z");
  EXPECT_EQ(ask("mult", "()", "100000000000000000000"), "()");
  EXPECT_EQ(ask("mult", "(b)ab", "(b)ab"), "Z");
  EXPECT_EQ(ask("over", "(b)ab", "1"), "Z");
  // 64 bytes take two length digits.
  EXPECT_EQ(text(call("mult", atom("(a)q"), atom("64"))), "(a_)" + std::string(64, 'q'));

  EXPECT_EQ(ask("plus", "[ab]", "3"), "[ab3]");
  EXPECT_EQ(ask("plus", "05", "[ab]"), "[05ab]");
  EXPECT_EQ(ask("plus", "[ab]", "[c[d]]"), "[abc[d]]");
  EXPECT_EQ(ask("plus", "[ab]", "(a)x"), "Z");
  EXPECT_EQ(ask("mult", "[ab]", "0"), "[]");
  EXPECT_EQ(ask("mult", "3", "[ab]"), "[ababab]");
  EXPECT_EQ(ask("dash", "[abc]", "2"), "[c]");
  EXPECT_EQ(ask("dash", "[abc]", "02"), "[a]");
  EXPECT_EQ(ask("dash", "[abc]", "3"), "[]");
  EXPECT_EQ(ask("mult", "[ab]", "[ab]"), "Z");
  CellRef a = atom("[ab]");
  CellRef b = atom("[cd]");
  CellRef applied = call("dash", a.share(), b.share());
  ASSERT_TRUE(is_pair(applied.get()));
  EXPECT_EQ(pair_left(applied.get()), a.get());
  EXPECT_EQ(pair_right(applied.get()), b.get());
  // A data pair joins by its written text.
  EXPECT_EQ(text(call("plus", std::move(applied), atom("1"))), "[ab[cd]1]");
}

TEST_F(Arithmetic, RefusedArguments) {
  for (std::string_view op : {"plus", "dash", "mult", "over", "cent", "powa"}) {
    for (std::string_view odd : {"K", "H", "Z", "plus"}) {
      EXPECT_EQ(ask(op, odd, "1"), "Z") << op << " " << odd;
      EXPECT_EQ(ask(op, "(a)x", odd), "Z") << op << " " << odd;
    }
    EXPECT_EQ(text(call(op, make_pair(atom("S"), atom("K")), atom("1"))), "Z") << op;
  }
  EXPECT_EQ(text(call("wave", atom("K"))), "Z");
  EXPECT_EQ(text(call("wave", atom("Z"))), "Z");
  EXPECT_EQ(text(call("wave", atom("()"))), "Z");
  EXPECT_EQ(text(call("wave", atom("[]"))), "Z");
}

TEST_F(Arithmetic, Wave) {
  EXPECT_EQ(text(call("wave", atom("5"))), "05");
  EXPECT_EQ(text(call("wave", atom("05"))), "5");
  EXPECT_EQ(text(call("wave", atom("0"))), "0");
  EXPECT_EQ(text(call("wave", atom("002"))), "0000");
  EXPECT_EQ(text(call("wave", atom("0000"))), "002");
  EXPECT_EQ(text(call("wave", atom("00"))), "00");
  EXPECT_EQ(text(call("wave", atom("0032"))), "00000000");  // -1/8
  EXPECT_DOUBLE_EQ(real_result(call("wave", make_real(2.5))), -2.5);
  EXPECT_TRUE(std::signbit(real_result(call("wave", make_real(0.0)))));
  EXPECT_EQ(text(call("wave", atom("(c)abc"))), "(b)bc");
  EXPECT_EQ(text(call("wave", atom("[a[bc]]"))), "[bc]");
  // A list form headed by K gives its rest, unchanged.
  CellRef rest = cons("H", atom("K"));
  CellRef negated = call("wave", cons("K", rest.share()));
  EXPECT_EQ(negated.get(), rest.get());
}

TEST_F(Arithmetic, ListFormOperands) {
  // ((J K) ((J H) K)) is -1; ((J K) "5") is the bits of 5 after a leading 1.
  EXPECT_EQ(text(call("plus", cons("K", cons("H", atom("K"))), atom("3"))), "2");
  EXPECT_EQ(text(call("mult", cons("K", cons("H", atom("K"))), atom("123456789012345678901234567890"))),
            "0123456789012345678901234567890");
  EXPECT_EQ(text(call("plus", cons("H", cons("K", atom("K"))), atom("1"))), "004");
  // An odd element ends the list where it stands.
  EXPECT_EQ(text(call("plus", cons("K", cons("X", atom("K"))), atom("3"))), "3");
}

TEST_F(Arithmetic, BigResultsFedBackAsOperands) {
  // The same running product, once through the result cells themselves and
  // once through fresh atoms of their texts.
  CellRef kept = atom("1");
  CellRef fresh = atom("1");
  for (int i = 1; i <= 400; ++i) {
    const std::string factor = (i % 3 == 0 ? "0" : "") + std::to_string(i);
    kept = call("mult", std::move(kept), atom(factor));
    fresh = call("mult", atom(text(fresh)), atom(factor));
  }
  ASSERT_GT(text(kept).size(), 800u);
  EXPECT_EQ(text(kept), text(fresh));
  CellRef sum = call("plus", kept.share(), kept.share());
  EXPECT_EQ(text(call("dash", sum.share(), kept.share())), text(kept));
  EXPECT_EQ(text(call("over", sum.share(), kept.share())), "2");
  EXPECT_EQ(text(call("cent", sum.share(), atom("3"))), text(call("cent", atom(text(sum)), atom("3"))));
  EXPECT_EQ(text(call("less", kept.share(), sum.share())),
            text(call("less", atom(text(kept)), atom(text(sum)))));
}

// ---- against the reference ---------------------------------------------------------------

namespace fs = std::filesystem;

std::string reference_script() {
  const fs::path relative = "tests/unit/numbers/arith_reference.py";
  std::error_code ec;
  fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  for (; !dir.empty(); dir = dir.parent_path()) {
    if (fs::exists(dir / relative)) return (dir / relative).string();
    std::ifstream cache(dir / "CMakeCache.txt");
    const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    for (std::string line; std::getline(cache, line);) {
      if (line.rfind(key, 0) == 0 && fs::exists(fs::path(line.substr(key.size())) / relative)) {
        return (fs::path(line.substr(key.size())) / relative).string();
      }
    }
    if (dir == dir.root_path()) break;
  }
  return "";
}

// One reference answer per "OP A B" line.
std::vector<std::string> reference(const std::vector<std::string>& ops) {
  const std::string script = reference_script();
  if (script.empty()) {
    ADD_FAILURE() << "arith_reference.py not found";
    return {};
  }
  char path[] = "/tmp/tove_arith_ops_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    ADD_FAILURE() << "no temporary file";
    return {};
  }
  std::string input;
  for (const std::string& op : ops) input += op + "\n";
  const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
  close(fd);
  std::string out;
  if (written) {
    const std::string command = "python3 '" + script + "' < '" + path + "'";
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[65536];
      for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
      if (pclose(pipe) != 0) ADD_FAILURE() << "the reference failed; python3 is needed";
    }
  }
  unlink(path);
  std::vector<std::string> lines;
  for (size_t start = 0; start < out.size();) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct Generator {
  std::mt19937_64 random{20240611};

  std::string digits(size_t n) {
    std::string s(n, '0');
    s[0] = static_cast<char>('1' + random() % 9);
    for (size_t i = 1; i < n; ++i) s[i] = static_cast<char>('0' + random() % 10);
    return s;
  }
  // Sizes spread over machine words, schoolbook and the faster products.
  size_t size(size_t most) {
    const size_t pick = random() % 4;
    const size_t limit = pick == 0 ? 19 : pick == 1 ? 40 : pick == 2 ? 800 : most;
    return 1 + random() % limit;
  }
  std::string integer(size_t most) {
    if (random() % 16 == 0) return "0";
    const std::string magnitude = digits(size(most));
    return random() % 2 ? magnitude : "0" + magnitude;
  }
  std::string fraction(size_t most) {
    if (random() % 16 == 0) return "00";
    std::string text = "00" + std::string(random() % 3, '0');
    return text + digits(size(most));
  }
};

void check_against_reference(const std::vector<std::string>& ops) {
  std::vector<std::string> mine;
  for (const std::string& op : ops) {
    const size_t first = op.find(' ');
    const size_t second = op.find(' ', first + 1);
    mine.push_back(ask(op.substr(0, first), op.substr(first + 1, second - first - 1), op.substr(second + 1)));
  }
  const std::vector<std::string> expected = reference(ops);
  ASSERT_EQ(expected.size(), ops.size());
  size_t failures = 0;
  for (size_t i = 0; i < ops.size() && failures < 5; ++i) {
    if (mine[i] != expected[i]) {
      ++failures;
      ADD_FAILURE() << ops[i].substr(0, 200) << "\n  mine:     " << mine[i].substr(0, 200)
                    << "\n  expected: " << expected[i].substr(0, 200);
    }
  }
}

TEST_F(Arithmetic, RandomIntegersAgreeWithReference) {
  Generator g;
  std::vector<std::string> ops;
  for (int i = 0; i < 200; ++i) {
    for (std::string_view op : {"plus", "dash", "mult", "over", "cent", "less", "gteq", "same"}) {
      ops.push_back(std::string(op) + " " + g.integer(3000) + " " + g.integer(1500));
    }
    ops.push_back("powa " + g.integer(60) + " " + std::to_string(g.random() % 100));
  }
  // Equal operands, and dividends that are exact multiples.
  const std::string x = g.integer(2000);
  ops.push_back("same " + x + " " + x);
  ops.push_back("dash " + x + " " + x);
  ops.push_back("cent " + text(call("mult", x, "07")) + " " + x);
  check_against_reference(ops);
}

TEST_F(Arithmetic, HugeIntegersAgreeWithReference) {
  Generator g;
  const std::string a = g.digits(100000);
  const std::string b = "0" + g.digits(60000);
  check_against_reference(
      {"mult " + a + " " + b, "over " + a + " " + b, "cent " + a + " " + b, "powa 07 20001"});
}

TEST_F(Arithmetic, RandomFractionsAgreeWithReference) {
  Generator g;
  std::vector<std::string> ops;
  for (int i = 0; i < 300; ++i) {
    for (std::string_view op : {"plus", "dash", "mult", "cent", "less", "gteq", "same"}) {
      ops.push_back(std::string(op) + " " + g.fraction(300) + " " + g.fraction(300));
    }
    // Integers mix in as exact fractions.
    ops.push_back("plus " + g.integer(100) + " " + g.fraction(100));
    ops.push_back("cent " + g.fraction(100) + " " + g.integer(30));
    ops.push_back("mult " + g.fraction(100) + " " + g.integer(100));
    ops.push_back("powa " + g.fraction(20) + " " + std::to_string(g.random() % 12));
    ops.push_back("powa 004 " + text(call("dash", atom(std::to_string(g.random() % 400)), atom("200"))));
  }
  // Magnitudes long enough for the subquadratic product.
  for (int i = 0; i < 6; ++i) {
    const std::string a = "00" + g.digits(3000 + g.random() % 3000);
    const std::string b = "00" + std::string(i % 3, '0') + g.digits(3000 + g.random() % 3000);
    for (std::string_view op : {"plus", "mult", "cent", "less"})
      ops.push_back(std::string(op) + " " + a + " " + b);
  }
  check_against_reference(ops);
}

}  // namespace
}  // namespace tove
