#include <gtest/gtest.h>

#include <string>

#include "cells/interrupt.h"
#include "cells/print.h"
#include "compiler/compile.h"
#include "compiler/load.h"
#include "frontend/frontend.h"
#include "frontend/show.h"
#include "stand_in_rows.h"

using namespace tove;
using frontend_test::show;

namespace {

class Load : public ::testing::Test {
 protected:
  // A compiled program whose definitions the loaded texts meet.
  void SetUp() override {
    load_prelude();
    ErrorReport report;
    read_program(report, "a\\gg a,gg\\x\\x*2,cc\\7");
    ASSERT_FALSE(report.failed()) << report.message;
    compile_program(report);
    ASSERT_FALSE(report.failed()) << report.message;
  }

  // The printed main expression of a load, or the failure's type word and
  // message.
  std::string load(std::string_view text, LoadShape shape = LoadShape::main_and_definitions) {
    ErrorReport report;
    CellRef main = load_program_text(text, report, shape);
    if (!main) {
      EXPECT_TRUE(report.failed());
      return report.type_word + ": " + report.message;
    }
    EXPECT_FALSE(report.failed()) << report.message;
    return show(main);
  }

  static std::string body_of(std::string_view name) {
    CellRef* slot = definitions().find(name);
    return slot ? show(*slot) : "missing";
  }
};

TEST_F(Load, MainExpressionComesBackAndAddsNothing) {
  const size_t before = definitions().size();
  EXPECT_EQ(load("1"), "1");
  EXPECT_EQ(definitions().size(), before);
}

TEST_F(Load, DefinitionsJoinTheTable) {
  EXPECT_EQ(load("hh 3,hh\\x\\gg(x)+cc"), "(hh 3)");
  EXPECT_EQ(body_of("hh"), "((\\ x) ((+ (gg x)) cc))");
  EXPECT_EQ(uncached_names().count("hh"), 0u);
  // A later load sees the new name.
  EXPECT_EQ(load("hh 4"), "(hh 4)");
}

TEST_F(Load, UncachedDefinitionsJoinTheUncachedNames) {
  EXPECT_EQ(load("0,uu()\\cc"), "0");
  EXPECT_EQ(body_of("uu"), "(I cc)");
  EXPECT_EQ(uncached_names().count("uu"), 1u);
  // Within one text a later plain definition wins over an uncached one.
  EXPECT_EQ(load("0,vv()\\1,vv\\2"), "0");
  EXPECT_EQ(body_of("vv"), "2");
  EXPECT_EQ(uncached_names().count("vv"), 0u);
}

TEST_F(Load, GlobalsAndBuiltinsCannotBeRedefined) {
  EXPECT_EQ(load("0,gg\\5"), "Taken: Function [gg] is already defined and cannot be re-defined.");
  EXPECT_EQ(load("0,plus\\x\\x"), "Built: Built in function [plus] cannot be re-defined.");
  EXPECT_EQ(load("0,[+]\\x\\x"), "Taken: Function [+] is already defined and cannot be re-defined.");
  EXPECT_EQ(body_of("gg"), "((\\ x) ((* x) 2))");
  // A refused text merges nothing, not even its harmless definitions.
  EXPECT_EQ(load("0,new\\1,cc\\2"), "Taken: Function [cc] is already defined and cannot be re-defined.");
  EXPECT_EQ(body_of("new"), "missing");
}

TEST_F(Load, NamesFollowTheReaderRules) {
  EXPECT_EQ(load("0,x\\5"), "Lower: Single lowercase letters (x) cannot be defined as global variables.");
  EXPECT_EQ(load("0,[\\]\\5"), "Built: Built in function [\\] cannot be re-defined.");
  EXPECT_EQ(load("0,[{]\\5"), "Built: Built in function [{] cannot be re-defined.");
  EXPECT_EQ(load("0,1\\5"), "Funky: Funky name [1] in a definition.");
  // Pieces that are not definitions are skipped.
  EXPECT_EQ(load("0,1+2,G"), "0");
}

TEST_F(Load, BracketAndDepthFailures) {
  EXPECT_EQ(load("(").substr(0, 6), "Match:");
  std::string deep(kMaxNesting + 1, '(');
  deep += "1" + std::string(kMaxNesting + 1, ')');
  EXPECT_EQ(load(deep).substr(0, 6), "Depth:");
  std::string allowed(kMaxNesting, '(');
  allowed += "1" + std::string(kMaxNesting, ')');
  EXPECT_EQ(load(allowed), "1");
}

TEST_F(Load, UnneededDefinitionsOnUndefinedNamesAreDropped) {
  EXPECT_EQ(load("kk,hh\\nosuch,kk\\7,mm\\hh"), "kk");
  EXPECT_EQ(body_of("kk"), "7");
  EXPECT_EQ(body_of("hh"), "missing");
  EXPECT_EQ(body_of("mm"), "missing");
}

TEST_F(Load, MainOnAnUndefinedNameFails) {
  EXPECT_EQ(load("hh,hh\\nosuch"), "Alive: Alive function [hh] references undefined [nosuch].");
  EXPECT_EQ(load("nosuch 1"), "Alive: Alive function [TOP] references undefined [nosuch].");
  EXPECT_EQ(body_of("hh"), "missing");
}

TEST_F(Load, DefinitionsOnlyMustBeComplete) {
  EXPECT_EQ(load("hh\\nosuch", LoadShape::definitions_only),
            "Alive: Alive function [hh] references undefined [nosuch].");
  EXPECT_EQ(load("hh\\x\\x+cc,kk\\hh 1", LoadShape::definitions_only), "I");
  EXPECT_EQ(body_of("kk"), "(hh 1)");
}

TEST_F(Load, CompileChecksRunOnTheLoadedBodies) {
  EXPECT_EQ(load("0,ff\\x\\(1\\x)"), "Funky: Funky key in expression \\1x in function ff.");
  EXPECT_EQ(load("0,ff\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\a"),
            "Arity: Arity of function ff may not exceed ten.");
  std::string lets;
  for (int i = 0; i < 27; ++i)
    lets += std::string("v") + static_cast<char>('a' + i % 26) + (i < 26 ? "" : "x") + "{1}";
  EXPECT_EQ(load("0,ff\\" + lets + "1"), "Place: Place error in function ff.");
  EXPECT_EQ(body_of("ff"), "missing");
  // Backquotes are not expanded: a reference to an undefined name.
  EXPECT_EQ(load("`cc").substr(0, 6), "Alive:");
}

TEST_F(Load, DefinitionsStayMergedWhenALocalIsUnbound) {
  // Letter assignment turns the outer rr into a free letter.
  EXPECT_EQ(load("0,pp\\5,rr\\1,qq\\y\\(rr\\rr) rr"), "Local: Local variable a unbound in function [qq].");
  EXPECT_EQ(body_of("pp"), "5");
  EXPECT_EQ(body_of("rr"), "1");
  // The unbound one keeps its parameter but can never run its body.
  EXPECT_EQ(body_of("qq"), "((\\ a) Z)");
}

}  // namespace

namespace {

// Random short texts built from the characters that matter to the reader and
// the checks: every load either gives a main expression with an empty report
// or fails with a report, and never ends the process.
TEST(LoadRandomText, EveryTextLoadsOrReports) {
  load_prelude();
  ErrorReport start;
  read_program(start, "0,gg\\x\\x,cc\\1");
  ASSERT_FALSE(start.failed());
  compile_program(start);
  ASSERT_FALSE(start.failed());
  constexpr std::string_view kAlphabet = "abxyggcchh \\(){}[],+*`K0123Z_\n";
  uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  size_t loaded = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const size_t length = next() % 24;
    for (size_t i = 0; i < length; ++i) text += kAlphabet[next() % kAlphabet.size()];
    for (LoadShape shape : {LoadShape::main_and_definitions, LoadShape::definitions_only}) {
      ErrorReport report;
      CellRef main = load_program_text(text, report, shape);
      ASSERT_EQ(static_cast<bool>(main), !report.failed()) << text << ": " << report.message;
      if (main) ++loaded;
    }
  }
  // The alphabet makes both outcomes common.
  EXPECT_GT(loaded, 1000u);
  EXPECT_LT(loaded, 39000u) << loaded;
}

}  // namespace

namespace {

// An interrupt requested while a large text is read stops the load before
// the definition table changes; the same text loads once the request is gone.
TEST_F(Load, InterruptStopsALargeTextBeforeAnyDefinitionJoins) {
  // Names of lower-case letters only: "lo" + k written in the letters a-j.
  auto name = [](int k) {
    std::string word = "lo";
    for (char digit : std::to_string(k)) word += static_cast<char>('a' + (digit - '0'));
    return word;
  };
  std::string text = name(7999) + " 1";
  for (int k = 0; k < 8000; ++k) text += "," + name(k) + "\\x\\x+" + std::to_string(k);
  const size_t before = definitions().size();
  request_interrupt();
  ErrorReport report;
  EXPECT_THROW(load_program_text(text, report, LoadShape::main_and_definitions), Interrupted);
  clear_interrupt();
  EXPECT_EQ(definitions().size(), before);
  EXPECT_FALSE(definitions().contains(name(0)));
  EXPECT_EQ(load(text), "(" + name(7999) + " 1)");
  EXPECT_TRUE(definitions().contains(name(7999)));
}

}  // namespace
