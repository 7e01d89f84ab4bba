#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "cells/cell.h"
#include "cells/encoding.h"
#include "cells/print.h"
#include "cells/tables.h"
#include "leak_check.h"
#include "numbers/numbers.h"
#include "prims/family.h"
#include "sexpr.h"

using namespace tove;
using test_support::sexpr;

namespace {

class Memory : public LeakCheck {};

// The family's handler for `name`.
BuiltinHandler handler_of(std::string_view name) {
  for (const BuiltinSpec& member : structure_family()) {
    if (member.name == name) return member.handler;
  }
  ADD_FAILURE() << "no handler for " << name;
  return answer_z;
}

// The family's handler for `name` applied to the arguments.
template <class... Args>
CellRef call(std::string_view name, Args&&... args) {
  CellRef redex = make_atom(name);
  ((redex = make_pair(std::move(redex), std::forward<Args>(args))), ...);
  for (const BuiltinSpec& member : structure_family()) {
    if (member.name != name) continue;
    EXPECT_EQ(member.arity, sizeof...(args)) << name;
    return member.handler(std::move(redex));
  }
  ADD_FAILURE() << "no handler for " << name;
  return make_atom("?");
}

std::string show(const CellRef& c) { return print_expression(c.get()); }
CellRef atom(std::string_view text) { return make_atom(text); }
CellRef num(int64_t value) { return integer_from_int64(value); }

CellRef bytes(std::string_view b) { return byte_string_atom(b); }

// The decimal integer of a machine address.
CellRef address_of(const void* p) {
  return integer_from_uint64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)));
}

uint64_t pattern_of(const CellRef& real) {
  uint64_t pattern;
  std::memcpy(&pattern, atom_text(real.get()).data() + 1, 8);
  return pattern;
}

TEST_F(Memory, ReadsEveryWidthAndSign) {
  alignas(8) unsigned char buffer[16];
  for (unsigned i = 0; i < sizeof buffer; ++i) buffer[i] = static_cast<unsigned char>(0xF0 + i);
  // One byte in, so reads of every width are unaligned.
  const unsigned char* p = buffer + 1;
  EXPECT_EQ(show(call("getx", address_of(p))), "241");
  EXPECT_EQ(show(call("gety", address_of(p))), "015");
  EXPECT_EQ(show(call("gett", address_of(p))), std::to_string(0xF2F1));
  EXPECT_EQ(show(call("getv", address_of(p))), "0" + std::to_string(0x10000 - 0xF2F1));
  EXPECT_EQ(show(call("getu", address_of(p))), std::to_string(0xF4F3F2F1u));
  EXPECT_EQ(show(call("gets", address_of(p))), "0" + std::to_string(0x100000000ull - 0xF4F3F2F1u));
  EXPECT_EQ(show(call("getw", address_of(p))), std::to_string(0xF8F7F6F5F4F3F2F1ull));
  EXPECT_EQ(show(call("getz", address_of(p))), "0" + std::to_string(0ull - 0xF8F7F6F5F4F3F2F1ull));

  buffer[5] = 0x7F;
  EXPECT_EQ(show(call("gety", address_of(buffer + 5))), "127");
  // The sign of a reading address is ignored.
  std::string negative = "0" + show(address_of(buffer + 5));
  EXPECT_EQ(show(call("getx", atom(negative))), "127");
}

TEST_F(Memory, WritesExactlyTheirWidth) {
  struct Case {
    const char* name;
    int64_t value;
    size_t width;
  };
  for (const Case& c :
       {Case{"setx", 0x1FF, 1}, Case{"sett", -2, 2}, Case{"setu", 0x123456789, 4}, Case{"setw", -3, 8}}) {
    unsigned char buffer[12];
    std::memset(buffer, 0xAA, sizeof buffer);
    EXPECT_EQ(show(call(c.name, address_of(buffer + 3), num(c.value))), "I") << c.name;
    unsigned char expected[12];
    std::memset(expected, 0xAA, sizeof expected);
    // Native byte order: the low bytes of the value first.
    for (size_t i = 0; i < c.width; ++i) {
      expected[3 + i] = static_cast<unsigned char>(static_cast<uint64_t>(c.value) >> (8 * i));
    }
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0) << c.name;
  }
}

TEST_F(Memory, StoredValuesReadBack) {
  alignas(8) unsigned char buffer[8] = {};
  CellRef where = address_of(buffer);
  call("setw", where.share(), num(-1));
  EXPECT_EQ(show(call("getw", where.share())), "18446744073709551615");
  EXPECT_EQ(show(call("getz", where.share())), "01");
  // The value's signed 64-bit conversion keeps the low 64 bits.
  call("setw", where.share(), atom("18446744073709551621"));
  EXPECT_EQ(show(call("getz", where.share())), "5");
  call("sett", where.share(), num(-2));
  EXPECT_EQ(show(call("gett", where.share())), "65534");
  EXPECT_EQ(show(call("getv", where.share())), "02");
  // A list form is an integer too.
  call("setx", where.share(), sexpr("(J K (J K (J K (J H K))))"));
  EXPECT_EQ(show(call("getx", where.share())), "5");
}

TEST_F(Memory, AddressesAndStoredValuesMustBeIntegers) {
  unsigned char buffer[8] = {};
  for (const char* name : {"getx", "gety", "gett", "getv", "getu", "gets", "getw", "getz"}) {
    EXPECT_EQ(show(call(name, atom("[a]"))), "Z") << name;
    EXPECT_EQ(show(call(name, atom("003"))), "Z") << name;
    EXPECT_EQ(show(call(name, atom("K"))), "Z") << name;
  }
  for (const char* name : {"setx", "sett", "setu", "setw"}) {
    EXPECT_EQ(show(call(name, atom("[a]"), num(1))), "Z") << name;
    EXPECT_EQ(show(call(name, address_of(buffer), atom("003"))), "Z") << name;
    EXPECT_EQ(show(call(name, address_of(buffer), sexpr("(J K (J X K))"))), "Z") << name;
  }
  EXPECT_EQ(show(call("copy", atom("[ab]"), atom("[a]"))), "Z");
  unsigned char zero[8] = {};
  EXPECT_EQ(std::memcmp(buffer, zero, sizeof buffer), 0);
}

TEST_F(Memory, CopyStoresRawBytesWithoutTerminator) {
  auto copied = [](CellRef value) {
    char buffer[32];
    std::memset(buffer, '~', sizeof buffer);
    std::string result = show(call("copy", std::move(value), address_of(buffer)));
    size_t n = 0;
    while (n < sizeof buffer && buffer[n] != '~') ++n;
    return result + ":" + std::string(buffer, n);
  };
  EXPECT_EQ(copied(bytes(std::string("a\0b", 3))), std::string("I:a\0b", 5));
  EXPECT_EQ(copied(bytes("")), "I:");
  EXPECT_EQ(copied(atom("[a[bc]]")), "I:a[bc]");
  EXPECT_EQ(copied(sexpr("([a] [bc])")), "I:a[bc]");
  // Numbers are written as their decimal text, not as machine integers.
  EXPECT_EQ(copied(num(-1234)), "I:01234");
  EXPECT_EQ(copied(atom("003")), "I:003");
  EXPECT_EQ(copied(sexpr("(J K (J H K))")), "I:01");
  EXPECT_EQ(copied(atom("K")), "Z:");
  EXPECT_EQ(copied(sexpr("(J K (J X K))")), "Z:");

  char buffer[9] = {};
  CellRef real = make_real(-2.5);
  EXPECT_EQ(show(call("copy", real.share(), address_of(buffer))), "I");
  double back;
  std::memcpy(&back, buffer, 8);
  EXPECT_EQ(back, -2.5);
}

TEST_F(Memory, CorkOnByteStrings) {
  EXPECT_EQ(show(call("cork", bytes("abcd"), num(-1), num(120))), "cape[abcx]");
  EXPECT_EQ(show(call("cork", bytes("abcd"), num(0), num(300))), "cape[,bcd]");
  EXPECT_EQ(show(call("cork", bytes("abcd"), num(4), num(120))), "Z");
  EXPECT_EQ(show(call("cork", bytes("abcd"), num(-5), num(120))), "Z");
  EXPECT_EQ(show(call("cork", bytes("abcd"), atom("99999999999999999999"), num(120))), "Z");
  EXPECT_EQ(show(call("cork", bytes("abcd"), num(1), atom("K"))), "Z");
  EXPECT_EQ(show(call("cork", bytes("abcd"), atom("[a]"), num(1))), "Z");
  EXPECT_EQ(show(call("cork", bytes(""), num(0), num(1))), "Z");
}

TEST_F(Memory, CorkChangesInPlaceOnlyWhatNobodyElseHolds) {
  for (bool text : {false, true}) {
    // Held only by the redex: the very cell comes back, changed.
    CellRef value = text ? atom("[abc]") : bytes("abc");
    Cell* original = value.get();
    CellRef changed = call("cork", std::move(value), num(1), num(120));
    EXPECT_EQ(changed.get(), original);
    EXPECT_EQ(show(changed), text ? "[axc]" : "cape[axc]");

    // Held elsewhere too: a new cell, and the original is untouched.
    CellRef kept = text ? atom("[abc]") : bytes("abc");
    CellRef copy = call("cork", kept.share(), num(1), num(120));
    EXPECT_NE(copy.get(), kept.get());
    EXPECT_EQ(show(copy), text ? "[axc]" : "cape[axc]");
    EXPECT_EQ(show(kept), text ? "[abc]" : "cape[abc]");

    // A redex held elsewhere (or a spine pair of it) also forces a copy.
    CellRef lone = text ? atom("[abc]") : bytes("abc");
    CellRef redex = make_pair(make_pair(make_pair(atom("cork"), std::move(lone)), num(0)), num(120));
    CellRef spine = left_of(redex.get());
    Cell* inner = pair_right(pair_left(spine.get()));
    CellRef result = handler_of("cork")(std::move(redex));
    EXPECT_NE(result.get(), inner);
    EXPECT_EQ(show(result), text ? "[xbc]" : "cape[xbc]");
    EXPECT_EQ(print_expression(inner), text ? "[abc]" : "cape[abc]");
  }
}

TEST_F(Memory, CorkOnRealsSetsBitsOfThePattern) {
  CellRef one = make_real(1.0);
  const uint64_t bits = std::bit_cast<uint64_t>(1.0);
  EXPECT_EQ(pattern_of(call("cork", one.share(), num(-64), atom("K"))), bits | 1);
  EXPECT_EQ(pattern_of(call("cork", one.share(), num(63), atom("K"))), bits | (uint64_t{1} << 63));
  EXPECT_EQ(pattern_of(call("cork", one.share(), num(-12), atom("H"))), bits & ~(uint64_t{1} << 52));
  // Only the first character of the element decides.
  EXPECT_EQ(pattern_of(call("cork", one.share(), num(0), atom("Kx"))), bits | 1);
  // A signalling NaN keeps every bit.
  CellRef nan =
      call("cork", make_real(std::bit_cast<double>(uint64_t{0x7FF0000000000000})), num(0), atom("K"));
  EXPECT_EQ(pattern_of(nan), 0x7FF0000000000001u);
  EXPECT_EQ(show(call("cork", one.share(), num(64), atom("K"))), "Z");
  EXPECT_EQ(show(call("cork", one.share(), num(-65), atom("K"))), "Z");
  EXPECT_EQ(show(call("cork", one.share(), num(0), num(1))), "Z");
  EXPECT_EQ(show(call("cork", one.share(), num(0), sexpr("(K K)"))), "Z");
}

TEST_F(Memory, CorkOnBitLists) {
  // 5 is [1, 1, 1, 0].
  EXPECT_EQ(show(call("cork", num(5), num(3), atom("K"))), "7");
  EXPECT_EQ(show(call("cork", num(5), num(1), atom("H"))), "05");
  // A first element 0 makes a binary fraction: [0, 1, 1, 0] has N = 11.
  EXPECT_EQ(show(call("cork", num(5), num(0), atom("H"))), "005");
  EXPECT_EQ(show(call("cork", num(5), num(-4), atom("H"))), "005");
  EXPECT_EQ(show(call("cork", num(5), num(-5), atom("H"))), "Z");
  // At or beyond the end the list grows, with 0 elements in between:
  // [1, 1, 1, 0, 0] is 9, [1, 1, 1, 0, 0, 0, 1] is 49.
  EXPECT_EQ(show(call("cork", num(5), num(4), atom("H"))), "9");
  EXPECT_EQ(show(call("cork", num(5), num(6), atom("K"))), "49");
  EXPECT_EQ(show(call("cork", atom("003"), num(3), atom("H"))), "005");
  // A list form is read through, and the result is the compact atom.
  EXPECT_EQ(show(call("cork", sexpr("(J K (J K K))"), num(2), atom("K"))), "3");
  EXPECT_EQ(show(call("cork", sexpr("(J K (J X K))"), num(0), atom("K"))), "Z");
  EXPECT_EQ(show(call("cork", num(5), num(0), num(1))), "Z");
  // A position no list can grow to.
  EXPECT_EQ(show(call("cork", num(5), atom("99999999999999999999"), atom("K"))), "Z");
}

TEST_F(Memory, CorkOnTexts) {
  EXPECT_EQ(show(call("cork", atom("[abc]"), num(-1), num(120))), "[abx]");
  EXPECT_EQ(show(call("cork", atom("[a[b]]"), num(2), num(120))), "[a[x]]");
  EXPECT_EQ(show(call("cork", sexpr("([a] [b])"), num(0), num(120))), "[x[b]]");
  // Brackets are never replaced, and never written.
  EXPECT_EQ(show(call("cork", atom("[a[b]]"), num(1), num(120))), "Z");
  EXPECT_EQ(show(call("cork", atom("[a[b]]"), num(2), num(']'))), "Z");
  EXPECT_EQ(show(call("cork", atom("[abc]"), num(0), num('['))), "Z");
  EXPECT_EQ(show(call("cork", atom("[abc]"), num(0), num('\n'))), "Z");
  EXPECT_EQ(show(call("cork", atom("[abc]"), num(3), num(120))), "Z");
  EXPECT_EQ(show(call("cork", atom("[]"), num(0), num(120))), "Z");
  EXPECT_EQ(show(call("cork", atom("K"), num(0), num(120))), "Z");
}

TEST_F(Memory, LookReadsEveryKind) {
  EXPECT_EQ(show(call("look", bytes(std::string("\xff\0b", 3)), num(0))), "255");
  EXPECT_EQ(show(call("look", bytes("abc"), num(-1))), "99");
  EXPECT_EQ(show(call("look", bytes("abc"), num(3))), "Z");
  EXPECT_EQ(show(call("look", bytes("abc"), num(-4))), "Z");

  CellRef minus_one = make_real(-1.0);  // sign and exponent bits 52-61 set
  EXPECT_EQ(show(call("look", minus_one.share(), num(0))), "H");
  EXPECT_EQ(show(call("look", minus_one.share(), num(52))), "K");
  EXPECT_EQ(show(call("look", minus_one.share(), num(62))), "H");
  EXPECT_EQ(show(call("look", minus_one.share(), num(-1))), "K");
  EXPECT_EQ(show(call("look", minus_one.share(), num(-64))), "H");
  EXPECT_EQ(show(call("look", minus_one.share(), num(64))), "H");
  EXPECT_EQ(show(call("look", minus_one.share(), num(65))), "Z");
  EXPECT_EQ(show(call("look", minus_one.share(), num(-65))), "Z");

  // 5 is [1, 1, 1, 0]; beyond the end every element reads as 0.
  EXPECT_EQ(show(call("look", num(5), num(0))), "K");
  EXPECT_EQ(show(call("look", num(5), num(3))), "H");
  EXPECT_EQ(show(call("look", num(5), num(-4))), "K");
  EXPECT_EQ(show(call("look", num(5), num(-5))), "Z");
  EXPECT_EQ(show(call("look", num(5), num(1000))), "H");
  EXPECT_EQ(show(call("look", num(5), atom("99999999999999999999999"))), "H");
  EXPECT_EQ(show(call("look", num(5), atom("099999999999999999999999"))), "Z");
  EXPECT_EQ(show(call("look", atom("00"), num(0))), "H");
  EXPECT_EQ(show(call("look", sexpr("(J K (J H 5))"), num(3))), "K");

  EXPECT_EQ(show(call("look", atom("[a[b]]"), num(1))), "91");
  EXPECT_EQ(show(call("look", sexpr("([a] [b])"), num(-1))), "93");
  EXPECT_EQ(show(call("look", atom("[ab]"), num(2))), "Z");
  EXPECT_EQ(show(call("look", atom("K"), num(0))), "Z");
  EXPECT_EQ(show(call("look", atom("[ab]"), atom("001"))), "Z");
}

TEST_F(Memory, CapeConvertsBetweenBytesAndTexts) {
  EXPECT_EQ(show(call("cape", bytes("[x]"))), "[[q]x[r]]");
  EXPECT_EQ(show(call("cape", atom("[[q]x[r]]"))), "cape[[q]x[r]]");
  EXPECT_EQ(atom_text(call("cape", atom("[[q]x[r]]")).get()), "(c)[x]");
  EXPECT_EQ(atom_text(call("cape", atom("[[p]]")).get()), "(a)\n");
  // Newlines are written as themselves.
  EXPECT_EQ(atom_text(call("cape", bytes("a\nb")).get()), "[a\nb]");
  EXPECT_EQ(atom_text(call("cape", atom("[]")).get()), "()");
  EXPECT_EQ(atom_text(call("cape", atom("[ab c]")).get()), "(d)ab c");
  EXPECT_EQ(atom_text(call("cape", sexpr("([a] [b])")).get()), "Z");
  for (const char* bad : {"[a]b]", "[[x]]", "[[]]", "[a[q]", "[a[q]b[]"}) {
    EXPECT_EQ(show(call("cape", atom(bad))), "Z") << bad;
  }
  EXPECT_EQ(show(call("cape", num(5))), "Z");

  // Every byte survives the way there and back.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  CellRef text = call("cape", bytes(all));
  CellRef back = call("cape", text.share());
  EXPECT_EQ(atom_text(back.get()), atom_text(bytes(all).get()));
  EXPECT_EQ(atom_text(call("cape", back.share()).get()), atom_text(text.get()));
}

TEST_F(Memory, LeakedAddressesReachAValuesOwnBytes) {
  CellRef text = atom("[ab]");
  // An atom's text follows its 8-byte header word.
  CellRef where = integer_from_uint64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text.get())) + 8);
  EXPECT_EQ(show(call("getx", where.share())), "91");
  call("setx", integer_from_uint64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text.get())) + 9),
       num('z'));
  EXPECT_EQ(show(text), "[zb]");
  CellRef leaked = call("leak", text.share());
  EXPECT_EQ(show(leaked), show(address_of(text.get())));
}

}  // namespace

namespace {

// The family's primitive `name` applied to the arguments, through the
// built-in table as a program reaches it.
template <class... Args>
CellRef call_installed(std::string_view name, Args&&... args) {
  add_builtin_family(structure_family());
  CellRef redex = make_atom(name);
  ((redex = make_pair(std::move(redex), std::forward<Args>(args))), ...);
  const BuiltinEntry* entry = find_builtin(name);
  if (entry == nullptr) {
    ADD_FAILURE() << "no built-in " << name;
    return make_atom("?");
  }
  return entry->handler(std::move(redex));
}

TEST_F(Memory, ASandboxRefusesEveryAddressWithoutTouchingIt) {
  unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  set_sandboxed(true);
  for (const char* reader : {"getx", "gety", "gett", "getv", "getu", "gets", "getw", "getz"}) {
    EXPECT_EQ(show(call_installed(reader, address_of(buffer))), "Z") << reader;
    EXPECT_EQ(show(call_installed(reader, num(0))), "Z") << reader;
  }
  for (const char* writer : {"setx", "sett", "setu", "setw"}) {
    EXPECT_EQ(show(call_installed(writer, address_of(buffer), num(0))), "Z") << writer;
    EXPECT_EQ(show(call_installed(writer, num(0), num(0))), "Z") << writer;
  }
  EXPECT_EQ(show(call_installed("copy", num(77), address_of(buffer))), "Z");
  EXPECT_EQ(show(call_installed("copy", num(77), num(0))), "Z");
  set_sandboxed(false);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[7], 8);
  EXPECT_EQ(show(call_installed("getx", address_of(buffer + 2))), "3");
}

}  // namespace
