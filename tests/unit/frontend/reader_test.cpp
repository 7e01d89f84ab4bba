#include <gtest/gtest.h>

#include <string>

#include "frontend/frontend.h"
#include "show.h"
#include "stand_in_rows.h"

using namespace tove;
using frontend_test::show;

namespace {

// The body stored under a name, written out, or "missing".
std::string body_of(std::string_view name) {
  CellRef* slot = definitions().find(name);
  return slot ? show(*slot) : "missing";
}

class Reader : public ::testing::Test {
 protected:
  void SetUp() override { load_prelude(); }

  ErrorReport read(std::string_view text) {
    ErrorReport report;
    read_program(report, text);
    return report;
  }
};

TEST_F(Reader, MainProgramAndDefinitions) {
  ErrorReport report = read("main,gg\\x\\x");
  EXPECT_FALSE(report.failed());
  EXPECT_EQ(report.position, -1);
  EXPECT_EQ(body_of(""), "main");
  EXPECT_EQ(body_of("gg"), "((\\ x) x)");
}

TEST_F(Reader, TextIsNormalisedBeforeItIsCut) {
  EXPECT_FALSE(read("\n a \\ f  x ,\n gg \\ x  + 1 \n").failed());
  EXPECT_EQ(body_of(""), "((\\ a) (f x))");
  EXPECT_EQ(body_of("gg"), "((+ x) 1)");
}

TEST_F(Reader, EmptyAndCommaFreePrograms) {
  EXPECT_FALSE(read("").failed());
  EXPECT_EQ(body_of(""), "}");
  const size_t before = definitions().size();
  EXPECT_FALSE(read("f(a,b)").failed());
  EXPECT_EQ(body_of(""), "((f a) b)");
  EXPECT_EQ(definitions().size(), before);
}

TEST_F(Reader, UncachedDefinitionsAndTheirReplacement) {
  EXPECT_FALSE(read("0,gg()\\plus(1,2)").failed());
  EXPECT_EQ(body_of("gg"), "(I ((plus 1) 2))");
  EXPECT_TRUE(uncached_names().contains("gg"));

  load_prelude();
  EXPECT_FALSE(read("0,gg()\\plus(1,2),gg\\5").failed());
  EXPECT_EQ(body_of("gg"), "5");
  EXPECT_FALSE(uncached_names().contains("gg"));
}

TEST_F(Reader, LaterDefinitionsReplaceEarlierOnes) {
  EXPECT_FALSE(read("0,gg\\1,gg\\2").failed());
  EXPECT_EQ(body_of("gg"), "2");
  EXPECT_FALSE(read("0,[+]\\x\\y\\x").failed());
  EXPECT_EQ(body_of("+"), "((\\ x) ((\\ y) x))");
  EXPECT_FALSE(read("0,K\\I,_\\1").failed());
  EXPECT_EQ(body_of("K"), "I");
  EXPECT_EQ(body_of("_"), "1");
}

TEST_F(Reader, TextsThatAreNotDefinitionsAreSkipped) {
  // The prelude, the built-in placeholders and the main program.
  const size_t before = definitions().size() + builtin_table().size() + 1;
  EXPECT_FALSE(read("0,1+2,G,12\\x,gg(x)\\y,,[a]\\b,aA\\c,\\x").failed());
  EXPECT_EQ(definitions().size(), before);
}

TEST_F(Reader, SingleLowerCaseLettersAreRefused) {
  ErrorReport report = read("0,gg\\1,x\\1,hh\\2");
  EXPECT_EQ(report.type_word, "Lower");
  EXPECT_EQ(report.message, "Single lowercase letters (x) cannot be defined as global variables.");
  EXPECT_EQ(report.position, 7);
  EXPECT_TRUE(report.location.empty());
  // Definitions before the failure stay; the reading stops at it.
  EXPECT_EQ(body_of("gg"), "1");
  EXPECT_EQ(body_of("hh"), "missing");

  report = read("0,\n  y()\\1");
  EXPECT_EQ(report.type_word, "Lower");
  EXPECT_EQ(report.position, 2);
}

TEST_F(Reader, BuiltInsAndBindersAreRefused) {
  ErrorReport report = read("0,plus\\x\\x");
  EXPECT_EQ(report.type_word, "Built");
  EXPECT_EQ(report.message, "Built in function [plus] cannot be re-defined.");
  EXPECT_EQ(report.position, 2);
  report = read("0,[\\]\\1");
  EXPECT_EQ(report.type_word, "Built");
  EXPECT_EQ(report.message, "Built in function [\\] cannot be re-defined.");
  report = read("0,[{]\\1");
  EXPECT_EQ(report.message, "Built in function [{] cannot be re-defined.");
  report = read("0,abort()\\1");
  EXPECT_EQ(report.message, "Built in function [abort] cannot be re-defined.");
}

TEST_F(Reader, BracketFailuresStoreNothing) {
  definitions().erase("abs");
  ErrorReport report = read("main,gg\\(x");
  EXPECT_EQ(report.type_word, "Match");
  EXPECT_EQ(report.position, 8);
  EXPECT_EQ(body_of("gg"), "missing");
  EXPECT_EQ(body_of("abs"), "missing");
}

TEST_F(Reader, EveryBuiltInGetsAPlaceholder) {
  EXPECT_FALSE(read("0").failed());
  for (const auto& [name, entry] : builtin_table()) {
    CellRef* placeholder = definitions().find(name);
    ASSERT_NE(placeholder, nullptr) << name;
    // One parameter per argument, then the body Z.
    Cell* body = placeholder->get();
    for (unsigned k = 0; k < entry.arity; ++k) {
      ASSERT_TRUE(is_pair(body)) << name;
      body = pair_right(body);
    }
    EXPECT_EQ(show(body), "Z") << name;
  }
  EXPECT_EQ(body_of("abs"), "((\\ a) Z)");
  EXPECT_EQ(body_of("cork"), "((\\ a) ((\\ b) ((\\ c) Z)))");
  EXPECT_EQ(body_of("abort"), "Z");
  EXPECT_EQ(body_of("getnameinfo"), "((\\ a) ((\\ b) ((\\ c) ((\\ d) ((\\ e) ((\\ f) ((\\ g) Z)))))))");
  EXPECT_EQ(definitions().size(), prelude_snapshot().size() + builtin_table().size() + 1u);
}

TEST_F(Reader, ReportResetsBeforeReading) {
  ErrorReport report;
  report.location = "old";
  report.type_word = "Cycle";
  read_program(report, "0");
  EXPECT_FALSE(report.failed());
  EXPECT_TRUE(report.location.empty());
  EXPECT_EQ(report.position, -1);
  EXPECT_TRUE(report.message.empty());
}

TEST_F(Reader, DeepNestingIsRefusedWithAReport) {
  const size_t depth = 1000000;
  const std::string text = "gg\\" + std::string(depth, '(') + "0" + std::string(depth, ')');
  ErrorReport report = read(text);
  EXPECT_EQ(report.type_word, "Depth");
  EXPECT_EQ(report.position, static_cast<int64_t>(3 + kMaxNesting));
  EXPECT_EQ(report.message, "Depth[" + encode_position(3 + kMaxNesting) + "]Expression nested deeper than " +
                                std::to_string(kMaxNesting) + " groups.");
  EXPECT_EQ(body_of(""), "missing");

  // Braces count too; text literals do not.
  const std::string braces =
      "0,gg\\k{" + std::string(kMaxNesting, '(') + "1" + std::string(kMaxNesting, ')') + "}k";
  EXPECT_EQ(read(braces).type_word, "Depth");
  const std::string literal = "[" + std::string(depth, '(') + "]";
  EXPECT_FALSE(read(literal).failed());
  EXPECT_EQ(atom_text(definitions().find("")->get()).size(), depth + 2);
}

TEST_F(Reader, DefinableNames) {
  for (const char* name :
       {"g", "_", "a_b", "K", "\x01", "\x1f", "\x7f", "\xff", "[+]", "[{]", "[}]", "[,]", "[\\]", "[`]"}) {
    EXPECT_TRUE(is_definable_name(name)) << name;
  }
  for (const char* name : {"", "1", "a1", " ", "(", "[", "[(]", "[ ]", "[+", "KK", "Ab", "[++]"}) {
    EXPECT_FALSE(is_definable_name(name)) << name;
  }
  EXPECT_EQ(normalized_name("[+]"), "+");
  EXPECT_EQ(normalized_name("gg"), "gg");
}

TEST(Prelude, TextHasItsFixedLength) {
  EXPECT_EQ(kPreludeText.size(), 554u);
  EXPECT_EQ(kPreludeText.front(), ',');
}

TEST(Prelude, TableHoldsTheCombinatorsAndOperators) {
  load_prelude();
  ASSERT_EQ(definitions().size(), 51u);
  std::string keys;
  for (const auto& [name, body] : definitions()) keys += name;
  EXPECT_EQ(keys, "!\"#$%&'*+,-./:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ\\^{|~");
  EXPECT_EQ(body_of("B"), "((\\ a) ((\\ b) ((\\ c) (a (b c)))))");
  EXPECT_EQ(body_of("!"), "((V H) K)");
  EXPECT_EQ(body_of("+"), "plus");
  EXPECT_EQ(body_of("G"), "((\\ a) ((V Z) ((((((B W) (B C)) D) D) V) (V (X J)))))");
  EXPECT_EQ(body_of("&"), "((\\ q) ((\\ r) ((q r) H)))");
  EXPECT_EQ(body_of(","), "I");
  std::string letters = "A";
  for (char c = 'B'; c <= 'Z'; ++c) letters = "(" + letters + " " + c + ")";
  EXPECT_EQ(body_of("\\"), "((\\ a) ((\\ b) ((\\ c) " + letters + ")))");
  EXPECT_TRUE(uncached_names().empty());

  // The snapshot is a copy: the same bodies under the same names.
  ASSERT_EQ(prelude_snapshot().size(), 51u);
  for (const auto& [name, body] : definitions()) {
    CellRef* copy = prelude_snapshot().find(name);
    ASSERT_NE(copy, nullptr) << name;
    EXPECT_EQ(copy->get(), body.get()) << name;
  }
}

TEST(Prelude, LoadingAgainResetsEveryTable) {
  load_prelude();
  std::string first;
  for (const auto& [name, body] : definitions()) first += name + "=" + show(body) + "\n";
  ErrorReport report;
  read_program(report, "0,gg()\\1,K\\I");
  ASSERT_FALSE(report.failed());
  const size_t builtins = builtin_table().size();
  builtin_table().erase("plus");

  load_prelude();
  std::string second;
  for (const auto& [name, body] : definitions()) second += name + "=" + show(body) + "\n";
  EXPECT_EQ(first, second);
  EXPECT_TRUE(uncached_names().empty());
  EXPECT_EQ(prelude_snapshot().size(), 51u);
  EXPECT_EQ(builtin_table().size(), builtins);
  EXPECT_NE(find_builtin("plus"), nullptr);
}

}  // namespace

namespace {

TEST(Definitions, PlainAndUncachedShapes) {
  std::optional<Definition> plain = parse_definition("gg\\x\\x");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->name, "gg");
  EXPECT_FALSE(plain->uncached);
  EXPECT_EQ(show(plain->body), "((\\ x) x)");

  std::optional<Definition> uncached = parse_definition("ff()\\plus(1,2)");
  ASSERT_TRUE(uncached);
  EXPECT_EQ(uncached->name, "ff");
  EXPECT_TRUE(uncached->uncached);
  EXPECT_EQ(show(uncached->body), "((plus 1) 2)");

  std::optional<Definition> bracketed = parse_definition("[+]\\x\\y\\x");
  ASSERT_TRUE(bracketed);
  EXPECT_EQ(bracketed->name, "[+]");
}

TEST(Definitions, OtherShapesAreNoDefinitions) {
  EXPECT_FALSE(parse_definition("1+2"));
  EXPECT_FALSE(parse_definition("G"));
  EXPECT_FALSE(parse_definition("(f g)\\x"));  // a binder pair not ending in "()"
  EXPECT_FALSE(parse_definition(""));
}

TEST(Definitions, NamesAreNotCheckedByTheParser) {
  std::optional<Definition> number = parse_definition("1\\5");
  ASSERT_TRUE(number);
  EXPECT_EQ(number->name, "1");
  EXPECT_FALSE(is_definable_name(number->name));
}

TEST(Definitions, SplitProgramKeepsPositions) {
  const std::vector<ProgramPiece> pieces = split_program("main,gg\\1,[,]\\2");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].text, "main");
  EXPECT_EQ(pieces[0].position, 0u);
  EXPECT_EQ(pieces[1].text, "gg\\1");
  EXPECT_EQ(pieces[1].position, 5u);
  EXPECT_EQ(pieces[2].text, "[,]\\2");
  EXPECT_EQ(pieces[2].position, 10u);
  EXPECT_EQ(split_program("").size(), 1u);
}

TEST(Definitions, StoreKeepsTheUncachedSetInStep) {
  DefinitionTable table;
  NameSet uncached;
  store_definition(table, uncached, "gg", *parse_definition("gg()\\5"));
  EXPECT_EQ(show(*table.find("gg")), "(I 5)");
  EXPECT_EQ(uncached.count("gg"), 1u);
  store_definition(table, uncached, "gg", *parse_definition("gg\\6"));
  EXPECT_EQ(show(*table.find("gg")), "6");
  EXPECT_EQ(uncached.count("gg"), 0u);
}

}  // namespace
