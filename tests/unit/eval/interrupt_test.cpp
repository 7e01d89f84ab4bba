#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "cells/analysis.h"
#include "cells/print.h"
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

// The text of a string argument, or "none".
std::string text_of(CellRef value) {
  std::string storage;
  std::optional<std::string_view> text = load_text_argument(value.get(), storage);
  return text ? std::string(*text) : "none";
}

CellRef address_of(const void* p) {
  return integer_from_int64(static_cast<int64_t>(reinterpret_cast<intptr_t>(p)));
}

TEST(LoadArgument, StringRoles) {
  EXPECT_EQ(text_of(make_atom("[1+2]")), "1+2");
  EXPECT_EQ(text_of(byte_string_atom("6*7")), "6*7");
  EXPECT_EQ(text_of(address_of("gg 1")), "gg 1");
  EXPECT_EQ(text_of(make_atom("0")), "none");  // the null address
  EXPECT_EQ(text_of(make_atom("K")), "none");  // zero as the empty list
  EXPECT_EQ(text_of(make_real(1.5)), "none");
  EXPECT_EQ(text_of(make_atom("001")), "none");  // a binary fraction
  EXPECT_EQ(text_of(make_atom("gg")), "none");
}

// A sandboxed process loads nothing: the program's definitions stay as they
// are, whether the sandbox was switched before the program was read or after.
TEST(LoadSandboxed, LoadsNothing) {
  prepare("0,gg\\x\\x");
  CellRef loading = make_pair(make_atom("load"), make_atom("[hh,hh\\7]"));
  set_sandboxed(true);
  EXPECT_EQ(print_expression(evaluate(loading.share()).get()), "Z");
  EXPECT_EQ(definitions().find("hh"), nullptr);
  prepare("0,gg\\x\\x");
  EXPECT_EQ(print_expression(evaluate(loading.share()).get()), "Z");
  EXPECT_EQ(definitions().find("hh"), nullptr);
  set_sandboxed(false);
  EXPECT_EQ(print_expression(evaluate(loading.share()).get()), "7");
  ASSERT_NE(definitions().find("hh"), nullptr);
}

TEST(LoadArgument, UnreadableAddressesAreRefused) {
  EXPECT_EQ(text_of(make_atom("1")), "none");
  EXPECT_EQ(text_of(make_atom("05")), "none");  // -5, the top of the address space
  // A string that runs up to the end of a readable page and on into an
  // unmapped one has no end that can be read.
  const long page = sysconf(_SC_PAGESIZE);
  char* pages =
      static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(munmap(pages + page, page), 0);
  std::memset(pages, 'x', page);
  EXPECT_EQ(text_of(address_of(pages + page - 3)), "none");
  // Ended before the page does, it reads, across a page boundary too.
  pages[page - 1] = '\0';
  EXPECT_EQ(text_of(address_of(pages + page - 3)), "xx");
  std::string long_text(10000, 'y');
  EXPECT_EQ(text_of(address_of(long_text.c_str())), long_text);
  munmap(pages, page);
}

}  // namespace

namespace {

// Random texts loaded inside an evaluation that an interrupt request bounds:
// no text may end the process, every evaluation ends done, and the endless
// constant cc is always given back rather than left as a black hole.
TEST(LoadRandomText, LoadsEndDoneAndGiveConstantsBack) {
  prepare("0,gg\\x\\x,cc\\M M,dd\\1");
  InterruptGuard guard;
  request_interrupt();
  constexpr std::array<std::string_view, 22> kTokens = {"x", "y", "gg", "cc",   "dd",   "hh", "\\", "(",
                                                        ")", ",", "K",  "S",    "I",    "M",  "Y",  "1",
                                                        " ", "{", "}",  "load", "[cc]", "`"};
  uint64_t state = 0x2545F4914F6CDD1Du;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  const uint64_t before = total_steps();
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t length = 1 + next() % 12;
    for (size_t i = 0; i < length; ++i) text += kTokens[next() % kTokens.size()];
    CellRef result = evaluate(make_pair(make_atom("load"), byte_string_atom(text)));
    ASSERT_TRUE(is_done(result.get())) << text;
    ASSERT_FALSE(atom_is(definitions().find("cc")->get(), ")")) << text;
  }
  // Some texts ran until the interrupt ended them.
  EXPECT_GT(total_steps() - before, 100000u);
}

}  // namespace
