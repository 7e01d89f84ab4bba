#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cells/print.h"
#include "clib/family.h"
#include "frontend/frontend.h"
#include "leak_check.h"
#include "numbers/numbers.h"
#include "platform/crt.h"

using namespace tove;

namespace {

class Binding : public LeakCheck {};

// The C member `name` applied to the arguments, through its handler.
template <class... Args>
CellRef call(std::string_view name, Args&&... args) {
  CellRef redex = make_atom(name);
  ((redex = make_pair(std::move(redex), std::forward<Args>(args))), ...);
  for (const BuiltinSpec& row : clib::c_library_family()) {
    if (row.name != name) continue;
    EXPECT_EQ(row.arity, sizeof...(args)) << name;
    return row.handler(std::move(redex));
  }
  ADD_FAILURE() << "no C member " << name;
  return make_atom("?");
}

CellRef num(int64_t n) { return integer_from_int64(n); }
CellRef address(const void* p) { return num(static_cast<int64_t>(reinterpret_cast<uintptr_t>(p))); }
CellRef text(std::string_view t) { return text_literal_atom(t); }
CellRef bytes(std::string_view b) { return byte_string_atom(b); }
std::string show(const CellRef& c) { return print_expression(c.get()); }
int64_t integer(const CellRef& c) {
  EXPECT_TRUE(is_integer(c.get())) << show(c);
  return integer_to_int64(c.get());
}
template <class T>
T* pointer(const CellRef& c) {
  return reinterpret_cast<T*>(static_cast<uintptr_t>(integer(c)));
}

TEST(BindingRows, EveryRowMatchesTheRegistry) {
  register_builtins();
  for (const BuiltinSpec& row : clib::c_library_family()) {
    const BuiltinEntry* entry = find_builtin(row.name);
    ASSERT_NE(entry, nullptr) << row.name;
    EXPECT_EQ(entry->arity, row.arity) << row.name;
  }
}

TEST_F(Binding, RolesAreCheckedInOrderBeforeAnythingIsCalled) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  // The stream is given as a byte string: refused, nothing written.
  EXPECT_EQ(show(call("fputc", num(65), bytes("x"))), "Z");
  EXPECT_EQ(show(call("fwrite", bytes("abc"), num(1), num(-1), address(file))), "Z");
  EXPECT_EQ(show(call("fwrite", bytes("abc"), num(1), make_atom("H"), address(file))), "Z");
  EXPECT_EQ(std::ftell(file), 0);
  EXPECT_EQ(integer(call("fwrite", bytes("abc"), num(1), num(3), address(file))), 3);
  EXPECT_EQ(std::ftell(file), 3);
  // fputs takes an address, not a string: a byte string is refused.
  EXPECT_EQ(show(call("fputs", bytes("abc"), address(file))), "Z");
  EXPECT_EQ(std::ftell(file), 3);
  std::fclose(file);

  // Reals only: an integer is not converted.
  EXPECT_EQ(show(call("sin", num(1))), "Z");
  EXPECT_DOUBLE_EQ(real_value(call("sin", make_real(1.0)).get()), std::sin(1.0));
  EXPECT_EQ(show(call("pow", make_real(2.0), num(3))), "Z");
  EXPECT_EQ(show(call("assert", num(1))), "Z");
  EXPECT_EQ(show(call("assert", make_atom("K"))), "I");
}

TEST_F(Binding, ASandboxedProcessCallsNothing) {
  char block[4] = {'a', 'b', 'c', 0};
  set_sandboxed(true);
  EXPECT_EQ(show(call("memset", address(block), num(65), num(3))), "Z");
  EXPECT_EQ(show(call("strlen", address(block))), "Z");
  set_sandboxed(false);
  EXPECT_STREQ(block, "abc");
  EXPECT_EQ(integer(call("strlen", address(block))), 3);
}

TEST_F(Binding, CountsThatDoNotFitAreRefusedNotTruncated) {
  char block[8];
  std::memset(block, 'q', sizeof block);
  EXPECT_EQ(show(call("malloc", num(-1))), "Z");
  CellRef huge = make_atom("1180591620717411303424");  // 2^70, whose low 64 bits are 0
  EXPECT_EQ(show(call("malloc", huge.share())), "Z");
  EXPECT_EQ(show(call("memset", address(block), num(65), num(-1))), "Z");
  EXPECT_EQ(show(call("memset", address(block), num(65), huge.share())), "Z");
  EXPECT_EQ(show(call("strnlen", text("abc"), num(-1))), "Z");
  EXPECT_EQ(show(call("fgets", address(block), num(int64_t{1} << 31), num(0))), "Z");
  EXPECT_EQ(block[0], 'q');
  EXPECT_EQ(pointer<char>(call("memset", address(block), num(65), num(8))), block);
  EXPECT_EQ(block[7], 'A');
}

TEST_F(Binding, StringsAreReadInPlace) {
  // A text literal is read from its opening bracket, a byte string from its
  // first content byte, an integer as an address.
  EXPECT_EQ(integer(call("strlen", text("abc"))), 5);
  EXPECT_EQ(integer(call("strlen", bytes("abc"))), 3);
  const char* c_text = "hello";
  EXPECT_EQ(integer(call("strlen", address(c_text))), 5);
  EXPECT_EQ(integer(call("atoi", text("12"))), 0);
  EXPECT_EQ(integer(call("atoi", bytes("12"))), 12);
  EXPECT_EQ(integer(call("strtol", bytes("ff"), num(0), num(16))), 255);

  // A pointer into a string argument points into the cell holding it.
  CellRef literal = text("abcb");
  CellRef found = call("strchr", literal.share(), num('b'));
  EXPECT_EQ(pointer<const char>(found), atom_chars(literal.get()) + 2);
  EXPECT_EQ(pointer<const char>(call("strrchr", literal.share(), num('b'))), atom_chars(literal.get()) + 4);
  EXPECT_EQ(integer(call("strchr", literal.share(), num('z'))), 0);

  char* end = nullptr;
  CellRef digits = bytes("42rest");
  EXPECT_EQ(integer(call("strtol", digits.share(), address(&end), num(10))), 42);
  EXPECT_STREQ(end, "rest");
}

TEST_F(Binding, ResultsFollowTheThirtyTwoBitConventions) {
  EXPECT_EQ(integer(call("labs", num(4294967295))), 1);
  EXPECT_EQ(integer(call("abs", num(4294967295))), 4294967295);
  EXPECT_EQ(integer(call("abs", num(-5))), 5);
  EXPECT_EQ(integer(call("abs", num(INT64_MIN))), INT64_MIN);
  EXPECT_EQ(integer(call("labs", num(-2147483647 - 1))), -2147483647 - 1);
  // An integer in its list form is an integer too.
  EXPECT_EQ(integer(call("abs", bits_to_list_form(value_to_bits(make_atom("07").get())))), 7);

  EXPECT_EQ(integer(call("strtol", bytes("99999999999"), num(0), num(10))), 2147483647);
  EXPECT_EQ(integer(call("errno")), 34);
  EXPECT_EQ(integer(call("strtoul", bytes("-1"), num(0), num(10))), 4294967295);
  EXPECT_EQ(integer(call("atol", bytes("-99999999999"))), -2147483647 - 1);

  EXPECT_EQ(integer(call("htonl", num(1))), 16777216);
  EXPECT_EQ(integer(call("htonl", num(128))), -2147483647 - 1);
  EXPECT_EQ(integer(call("ntohl", num(128))), 2147483648);
  EXPECT_EQ(integer(call("htons", num(1))), 256);
  EXPECT_EQ(integer(call("ntohs", num(0x1234 + 0x10000))), 0x3412);

  EXPECT_EQ(show(call("isdigit", num(55))), "K");
  EXPECT_EQ(show(call("isdigit", num(65))), "H");
  EXPECT_EQ(show(call("isalpha", num(65 + 256))), "H") << "outside -1 .. 255 nothing is a letter";
  EXPECT_EQ(integer(call("toupper", num(1000))), 1000);
  EXPECT_EQ(integer(call("toupper", num('q'))), 'Q');
  EXPECT_EQ(show(call("isascii", num(-1))), "H");
  EXPECT_EQ(integer(call("toascii", num(200))), 72);

  EXPECT_EQ(integer(call("strcmp", bytes("abd"), bytes("abc"))), 1);
  EXPECT_EQ(integer(call("strcmp", bytes("a"), bytes("z"))), -1);
  EXPECT_EQ(integer(call("strcasecmp", bytes("ABC"), bytes("abc"))), 0);

  EXPECT_EQ(integer(call("rand_max")), 32767);
  EXPECT_EQ(show(call("srand", num(1))), "I");
  EXPECT_EQ(integer(call("rand")), 41);
  EXPECT_EQ(integer(call("rand")), 18467);
  EXPECT_EQ(integer(call("rand")), 6334);
}

TEST_F(Binding, ErrnoUsesTheRuntimeNumbering) {
  EXPECT_EQ(integer(call("fopen", bytes("/nonexistent/folder/file"), bytes("rb"))), 0);
  EXPECT_EQ(integer(call("errno")), 2);
  const std::string long_name(300, 'a');
  EXPECT_EQ(integer(call("fopen", bytes(long_name), bytes("rb"))), 0);
  EXPECT_EQ(integer(call("errno")), 38);
  EXPECT_STREQ(pointer<const char>(call("strerror", num(38))), std::strerror(ENAMETOOLONG));
}

TEST_F(Binding, TimeRecordsAreTheRuntimesOwn) {
  const int64_t when = 86400 * 365;
  CellRef tm = call("gmtime", address(&when));
  auto* record = pointer<platform::CrtTm>(tm);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->tm_year, 71);
  EXPECT_STREQ(pointer<const char>(call("asctime", tm.share())), "Fri Jan 01 00:00:00 1971\n");
  char out[16];
  EXPECT_EQ(integer(call("strftime", address(out), num(sizeof out), bytes("%d.%m.%Y"), tm.share())), 10);
  EXPECT_STREQ(out, "01.01.1971");

  int64_t stored = -1;
  const int64_t now = integer(call("time", address(&stored)));
  EXPECT_EQ(stored, now);
  EXPECT_GE(integer(call("time", num(0))), now);
  EXPECT_DOUBLE_EQ(real_value(call("difftime", num(10), num(4)).get()), 6.0);
}

TEST_F(Binding, MemoryBlocksRoundTrip) {
  CellRef block = call("malloc", num(16));
  ASSERT_NE(integer(block), 0);
  EXPECT_EQ(integer(call("memset", block.share(), num(65), num(16))), integer(block));
  EXPECT_EQ(integer(call("strnlen", block.share(), num(16))), 16);
  CellRef copy = call("strdup", bytes("xyz"));
  EXPECT_STREQ(pointer<const char>(copy), "xyz");
  EXPECT_EQ(show(call("free", copy.share())), "I");
  EXPECT_EQ(show(call("free", block.share())), "I");
}

TEST(BindingDeathTest, ProcessEndings) {
  EXPECT_EXIT(call("exit", num(3 + 256)), ::testing::ExitedWithCode(3), "");
  EXPECT_DEATH(call("assert", make_atom("H")), "^ASSERTION FAILED:l:242\n$");
  EXPECT_DEATH(call("abort"), "");
}

}  // namespace
