#include <gtest/gtest.h>

#include <string>

#include "cells/print.h"
#include "compiler/analysis.h"
#include "compiler/compile.h"
#include "eval/eval.h"
#include "eval/load.h"
#include "frontend/frontend.h"
#include "numbers/numbers.h"

using namespace tove;

namespace {

void prepare(std::string_view program) {
  load_prelude();
  ErrorReport report;
  read_program(report, program);
  ASSERT_FALSE(report.failed()) << report.message;
  compile_program(report);
  ASSERT_FALSE(report.failed()) << report.message;
}

// Clears the request however the test ends.
struct InterruptGuard {
  ~InterruptGuard() { clear_interrupt(); }
};

TEST(Interrupt, EndsAnEndlessEvaluationWithZ) {
  prepare("0,spin\\x\\spin(x+1)");
  InterruptGuard guard;
  request_interrupt();
  const uint64_t before = total_steps();
  CellRef result = evaluate(make_pair(make_atom("spin"), make_atom("1")));
  EXPECT_EQ(print_expression(result.get()), "Z");
  EXPECT_LE(total_steps() - before, 10000u);
  EXPECT_TRUE(interrupt_requested());
}

TEST(Interrupt, ConstantsBeingComputedAreGivenBack) {
  // cc is being computed (a black hole) when the interrupt arrives, inside
  // dd, itself being computed.
  prepare("0,spin\\x\\spin(x+1),cc\\spin 1,dd\\1+cc");
  InterruptGuard guard;
  request_interrupt();
  CellRef result = evaluate(make_atom("dd"));
  EXPECT_EQ(print_expression(result.get()), "Z");
  for (const char* name : {"cc", "dd"}) {
    Cell* body = definitions().find(name)->get();
    EXPECT_FALSE(atom_is(body, ")")) << name << " left as a black hole";
    EXPECT_EQ(node_mask(body), 0u) << name;
  }
  // Without the request the constants compute again rather than report a
  // cycle: dd's body still needs cc, and cc still spins.
  clear_interrupt();
  Machine m;
  m.focus = make_atom("dd");
  for (int i = 0; i < 20000; ++i) {
    ASSERT_FALSE(m.frames.empty() && is_done(m.focus.get())) << print_expression(m.focus.get());
    machine_step(m);
  }
}

TEST(LoadArgument, StringRoles) {
  EXPECT_EQ(string_argument(make_atom("[1+2]").get()), "1+2");
  EXPECT_EQ(string_argument(byte_string_atom("6*7").get()), "6*7");
  const char* text = "gg 1";
  CellRef address = integer_from_int64(static_cast<int64_t>(reinterpret_cast<intptr_t>(text)));
  ASSERT_TRUE(string_argument(address.get()));
  EXPECT_EQ(*string_argument(address.get()), "gg 1");
  EXPECT_FALSE(string_argument(make_atom("0").get()));  // the null address
  EXPECT_FALSE(string_argument(make_atom("K").get()));  // zero as the empty list
  EXPECT_FALSE(string_argument(make_real(1.5).get()));
  EXPECT_FALSE(string_argument(make_atom("001").get()));  // a binary fraction
  EXPECT_FALSE(string_argument(make_atom("gg").get()));
}

}  // namespace
