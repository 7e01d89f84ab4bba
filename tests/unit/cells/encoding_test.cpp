#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "cells/analysis.h"
#include "cells/cell.h"
#include "cells/encoding.h"
#include "leak_check.h"

using namespace tove;

namespace {

class Encoding : public LeakCheck {};

std::string bytes_of(std::string_view text) { return std::string(text); }

// ---- atom kinds ------------------------------------------------------------------------

TEST_F(Encoding, EveryFirstByteHasExactlyTheKindItsEncodingNames) {
  for (unsigned b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    AtomKind expected = AtomKind::name;
    if (byte >= '0' && byte <= '9') expected = AtomKind::number;
    if (byte == '[') expected = AtomKind::text;
    if (byte == ' ') expected = AtomKind::real;
    if (byte == '(') expected = AtomKind::bytes;
    if (byte == ')') expected = AtomKind::update;
    if (byte == ']') expected = AtomKind::undefined;
    EXPECT_EQ(atom_kind_of_byte(byte), expected) << b;
    EXPECT_EQ(records_length(byte),
              expected == AtomKind::number || expected == AtomKind::text || expected == AtomKind::bytes)
        << b;
  }
}

TEST_F(Encoding, CellKindReadsTheFirstByteAndKnowsPairs) {
  CellRef pair = make_pair(make_atom("K"), make_atom("1"));
  EXPECT_EQ(atom_kind(pair.get()), AtomKind::pair);
  EXPECT_EQ(atom_kind(make_atom("").get()), AtomKind::name);
  EXPECT_EQ(atom_kind(make_atom("0").get()), AtomKind::number);
  EXPECT_EQ(atom_kind(make_atom("[ab]").get()), AtomKind::text);
  EXPECT_EQ(atom_kind(make_real(1.0).get()), AtomKind::real);
  EXPECT_EQ(atom_kind(byte_string_atom("x").get()), AtomKind::bytes);
  // A byte above 127 is a name, not a negative index into the table.
  EXPECT_EQ(atom_kind(make_atom("\xff"
                                "a")
                          .get()),
            AtomKind::name);
}

// ---- integers' text -------------------------------------------------------------------

TEST_F(Encoding, MachineIntegersRoundTripThroughTheirText) {
  const std::vector<int64_t> values = {0,
                                       1,
                                       -1,
                                       9,
                                       10,
                                       -10,
                                       99,
                                       100,
                                       -100,
                                       12345,
                                       std::numeric_limits<int64_t>::max(),
                                       std::numeric_limits<int64_t>::min(),
                                       std::numeric_limits<int64_t>::min() + 1,
                                       999999999999999999,
                                       -1000000000000000000};
  for (int64_t v : values) {
    const std::string text = small_to_tove_text(v);
    EXPECT_LE(text.size(), kLongestSmallIntegerText);
    int64_t back = 42;
    ASSERT_TRUE(small_from_tove_text(text, &back)) << text;
    EXPECT_EQ(back, v) << text;
    EXPECT_EQ(decimal_from_int64(v), text);
    CellRef atom = make_atom(text);
    int64_t quick = 42;
    // The short reader takes at most 18 magnitude digits and leaves the
    // rest to the general reading.
    const size_t digits = text.size() - (v < 0 ? 1 : 0);
    if (digits <= 18) {
      ASSERT_TRUE(read_short_integer(atom.get(), &quick)) << text;
      EXPECT_EQ(quick, v);
    } else {
      EXPECT_FALSE(read_short_integer(atom.get(), &quick)) << text;
    }
  }
  EXPECT_EQ(small_to_tove_text(-5), "05");
  EXPECT_EQ(small_to_tove_text(std::numeric_limits<int64_t>::min()), "09223372036854775808");
}

TEST_F(Encoding, TextsThatAreNoMachineIntegerAreRefused) {
  int64_t out = 7;
  for (std::string_view text : {"", "00", "001", "007", "12a", "a1", "-5", "9223372036854775808",
                                "018446744073709551616", "09223372036854775809", "99999999999999999999"}) {
    EXPECT_FALSE(small_from_tove_text(text, &out)) << text;
  }
  EXPECT_EQ(out, 7);
  for (std::string_view text : {"00", "007", "K", "[12]", "1a"}) {
    EXPECT_FALSE(read_short_integer(make_atom(text).get(), &out)) << text;
  }
  CellRef pair = make_pair(make_atom("1"), make_atom("2"));
  EXPECT_FALSE(read_short_integer(pair.get(), &out));
}

// Arithmetic reads a short number from the word its maker keeps beside the
// text. Each maker must write it, over whatever the block held before: the
// pool hands out blocks of freed fifteen-byte names first.
TEST_F(Encoding, ShortNumbersReadTheValueOfTheirTextWhicheverMakerMadeThem) {
  auto reuse_dirty_blocks = [] {
    std::vector<CellRef> names;
    for (int i = 0; i < 8; ++i) names.push_back(make_atom("abcdefghijklmno"));
  };
  auto expect_reads_as_text = [](const CellRef& atom) {
    const std::string_view text = atom_text(atom.get());
    int64_t expected = 0;
    int64_t read = 0;
    const bool is_short = short_integer_of_text(text.data(), text.size(), &expected);
    ASSERT_EQ(read_short_integer(atom.get(), &read), is_short) << text;
    if (is_short) {
      EXPECT_EQ(read, expected) << text;
    }
  };
  for (std::string_view text : {"0", "7", "05", "42", "1234567", "0123456", "9999999", "12345678", "00",
                                "007", "0000000", "12a", "1a"}) {
    reuse_dirty_blocks();
    expect_reads_as_text(make_atom(text));
    reuse_dirty_blocks();
    expect_reads_as_text(make_atom(std::string(text).c_str()));
    reuse_dirty_blocks();
    expect_reads_as_text(make_atom_with_room(text, 12));
    reuse_dirty_blocks();
    expect_reads_as_text(make_atom_from_allocator(text));
  }
  std::vector<int64_t> values{0, 9, 10, 99, 100, 101, 999, 1000, 12345, 999999, 1000000, 9999999, 10000000};
  for (int64_t value :
       {int64_t{123456789}, int64_t{INT32_MAX}, int64_t{UINT32_MAX} + 1, int64_t{999999999999999999}}) {
    values.push_back(value);
  }
  for (size_t i = 0, count = values.size(); i < count; ++i) values.push_back(-values[i]);
  for (int64_t value = -1100; value <= 1100; ++value) values.push_back(value);
  for (int64_t value : values) {
    reuse_dirty_blocks();
    CellRef atom = small_integer_atom(value);
    int64_t read = 0;
    ASSERT_TRUE(read_short_integer(atom.get(), &read)) << value;
    EXPECT_EQ(read, value);
    EXPECT_EQ(atom_text(atom.get()), small_to_tove_text(value));
  }
}

// The text word of a short integer is its text's bytes with zeros after,
// and longer texts (a negative one spends a byte on its "0") have none.
TEST_F(Encoding, ShortIntegerTextWordsHoldTheTextAndZeros) {
  for (int64_t value : {int64_t{0}, int64_t{7}, int64_t{-7}, int64_t{42}, int64_t{-42}, int64_t{305},
                        int64_t{9999999}, int64_t{-999999}, int64_t{10000000}, int64_t{-1000000}}) {
    uint64_t word = 0;
    size_t n = 0;
    const std::string text = small_to_tove_text(value);
    const bool fits = text.size() <= kNumberWordTextLimit;
    ASSERT_EQ(short_integer_text_word(value, &word, &n), fits) << value;
    if (!fits) continue;
    char chars[sizeof word];
    std::memcpy(chars, &word, sizeof word);
    EXPECT_EQ(n, text.size()) << value;
    EXPECT_EQ(std::string(chars, sizeof word), text + std::string(sizeof word - text.size(), '\0')) << value;
  }
}

// Texts of eight digits or more are read eight at a time: a byte that is no
// digit refuses the text wherever it stands, in a group of eight or after.
TEST_F(Encoding, LongDigitTextsAreReadEightAtATime) {
  for (std::string_view text : {"12345678", "123456789", "1234567890123456", "123456789012345678",
                                "099999999", "0100000000000000000", "20000000", "10000001"}) {
    int64_t slow = 0;
    const bool negative = text[0] == '0';
    for (char c : text.substr(negative ? 1 : 0)) slow = slow * 10 + (c - '0');
    if (negative) slow = -slow;
    int64_t read = 0;
    ASSERT_TRUE(short_integer_of_text(text.data(), text.size(), &read)) << text;
    EXPECT_EQ(read, slow) << text;
  }
  for (std::string_view text :
       {"1234567a", "a2345678", "12345678a", "1234567:9", "123456789012345/7", "12345678 0123456"}) {
    int64_t read = 7;
    EXPECT_FALSE(short_integer_of_text(text.data(), text.size(), &read)) << text;
  }
}

TEST_F(Encoding, DigitTestSeesEveryByteAcrossWordBoundaries) {
  const std::string digits = "0123456789012345678901234";
  EXPECT_TRUE(all_decimal_digits(digits));
  EXPECT_TRUE(all_decimal_digits(""));
  for (size_t i = 0; i < digits.size(); ++i) {
    for (char bad : {'/', ':', 'a', '\0', '\x80', static_cast<char>('0' + 0x10)}) {
      std::string text = digits;
      text[i] = bad;
      EXPECT_FALSE(all_decimal_digits(text)) << i << " " << int(bad);
    }
  }
}

TEST_F(Encoding, SignAndNegation) {
  EXPECT_FALSE(split_integer_sign("0").negative);
  EXPECT_EQ(split_integer_sign("0").digits, "0");
  EXPECT_TRUE(split_integer_sign("012").negative);
  EXPECT_EQ(split_integer_sign("012").digits, "12");
  EXPECT_EQ(split_integer_sign("12").digits, "12");
  EXPECT_EQ(negated_integer_text("0"), "0");
  EXPECT_EQ(negated_integer_text("12"), "012");
  EXPECT_EQ(negated_integer_text("012"), "12");
  EXPECT_EQ(negated_integer_text(negated_integer_text("123456789012345678901234567890")),
            "123456789012345678901234567890");
}

TEST_F(Encoding, FractionTextsStartWithTwoZeros) {
  EXPECT_TRUE(is_fraction_text("00"));
  EXPECT_TRUE(is_fraction_text("0071"));
  EXPECT_FALSE(is_fraction_text("0"));
  EXPECT_FALSE(is_fraction_text("05"));
  EXPECT_FALSE(is_fraction_text("10"));
}

// ---- reals -------------------------------------------------------------------------------

TEST_F(Encoding, RealsKeepEveryBitOfTheirPattern) {
  const std::vector<uint64_t> patterns = {
      0,                      // +0
      uint64_t{1} << 63,      // -0
      0x7FF0000000000000ull,  // +inf
      0xFFF0000000000000ull,  // -inf
      0x7FF8000000000000ull,  // quiet NaN
      0x7FF9000000000000ull,  // the NaN of out-of-range fractions
      0x7FF0000000000001ull,  // signalling NaN payload
      0xFFFFFFFFFFFFFFFFull,  // negative NaN, all payload bits
      0x0000000000000001ull,  // smallest subnormal
      0x3FF8000000000000ull,  // 1.5
      0x0100000000000000ull,  // zero bytes below a non-zero top byte
      0x00000000000000FFull,
  };
  for (uint64_t p : patterns) {
    CellRef real = real_from_pattern(p);
    EXPECT_EQ(atom_text(real.get()).size(), kRealTextLength);
    EXPECT_EQ(atom_chars(real.get())[0], ' ');
    EXPECT_EQ(real_pattern(real.get()), p) << std::hex << p;
    EXPECT_EQ(real_text_pattern(atom_text(real.get())), p);
    EXPECT_EQ(std::bit_cast<uint64_t>(real_value(real.get())), p);
  }
  // Little-endian bytes after the blank.
  CellRef one = make_real(1.0);
  const std::string text = bytes_of(atom_text(one.get()));
  EXPECT_EQ(text, std::string(" \0\0\0\0\0\0\xf0\x3f", 9));
  CellRef negative_zero = make_real(-0.0);
  EXPECT_TRUE(std::signbit(real_value(negative_zero.get())));
  EXPECT_EQ(real_value(negative_zero.get()), 0.0);
}

TEST_F(Encoding, RealsFormatWithTheCLibrary) {
  EXPECT_EQ(format_real(1.5), "1.500000e+00");
  EXPECT_EQ(format_real(-0.0), "-0.000000e+00");
  EXPECT_EQ(format_real(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(format_real(1e300), "1.000000e+300");
}

// ---- byte strings ------------------------------------------------------------------------

TEST_F(Encoding, ByteStringLengthFieldAtItsDigitBoundaries) {
  struct Case {
    size_t length;
    std::string_view digits;
  };
  const std::vector<Case> cases = {{0, ""},    {1, "a"},   {18, "r"},    {19, "u"},    {63, "~"},
                                   {64, "a_"}, {65, "aa"}, {4095, "~~"}, {4096, "a__"}};
  for (const Case& c : cases) {
    std::string contents(c.length, '\0');
    for (size_t i = 0; i < c.length; ++i) contents[i] = static_cast<char>(i * 37 + 1);
    if (c.length > 2) contents[1] = ')';  // a ")" in the data is data
    const std::string text = byte_string_text(contents);
    EXPECT_EQ(text.substr(0, c.digits.size() + 2), "(" + std::string(c.digits) + ")") << c.length;
    CellRef atom = byte_string_atom(contents);
    EXPECT_EQ(atom_text(atom.get()), text) << c.length;
    EXPECT_EQ(byte_string_text_length(atom_chars(atom.get())), text.size());
    EXPECT_EQ(byte_string_header_length(atom_chars(atom.get())), c.digits.size() + 2);
    EXPECT_EQ(byte_string_contents(atom.get()), contents) << c.length;
    EXPECT_EQ(byte_string_bytes(text), contents);
    EXPECT_EQ(std::string_view(byte_string_start(atom.get()), c.length), contents);
  }
}

TEST_F(Encoding, ByteStringsHoldZeroBytesAndAreNotCutByThem) {
  const std::string contents("a\0b\0\0", 5);
  CellRef atom = byte_string_atom(contents);
  EXPECT_EQ(byte_string_contents(atom.get()), contents);
  EXPECT_TRUE(atom_is(atom.get(), std::string("(e)") + contents));
  EXPECT_FALSE(atom_is(atom.get(), "(e)a"));
}

// Appending to a string nothing else holds, a byte at a time across the
// length field's digit boundaries (64 and 4096, where the data moves up):
// every step reads as the string the bytes spell, and the atom is made
// again only a logarithmic number of times.
TEST_F(Encoding, AppendsToALoneByteStringGrowItWhereItStands) {
  std::string expected;
  CellRef grown = byte_string_atom("");
  size_t moves = 0;
  for (size_t i = 0; i < 5000; ++i) {
    const char byte = static_cast<char>(i % 7 == 0 ? 0 : (i % 3 == 0 ? ')' : 'a' + i % 26));
    expected += byte;
    const Cell* before = grown.get();
    CellRef longer = byte_string_appended(grown.get(), std::string_view(&byte, 1), true);
    if (longer.get() != before) ++moves;
    grown = std::move(longer);
    ASSERT_EQ(atom_text(grown.get()), byte_string_text(expected)) << i;
    ASSERT_EQ(atom_chars(grown.get())[atom_text(grown.get()).size()], '\0') << i;
  }
  EXPECT_EQ(ref_count(grown.get()), 1u);
  EXPECT_LE(moves, 16u);
}

// Appends of many bytes at once carry through several length digits.
TEST_F(Encoding, AppendsOfManyBytesCountTheLengthUp) {
  std::string expected;
  CellRef grown = byte_string_atom("x");
  expected = "x";
  for (size_t i = 0; expected.size() < 300000; ++i) {
    const std::string more(1 + (i * 37) % 4100, static_cast<char>('a' + i % 26));
    expected += more;
    grown = byte_string_appended(grown.get(), more, true);
    ASSERT_EQ(atom_text(grown.get()), byte_string_text(expected)) << i;
  }
}

// A string someone else holds is never changed: the result is a new exact
// atom, and the original reads as before.
TEST_F(Encoding, AppendsToASharedByteStringCopyIt) {
  CellRef shared = byte_string_atom(std::string(100, 'q'));
  CellRef longer = byte_string_appended(shared.get(), "rs", false);
  EXPECT_NE(longer.get(), shared.get());
  EXPECT_EQ(byte_string_contents(shared.get()), std::string(100, 'q'));
  EXPECT_EQ(byte_string_contents(longer.get()), std::string(100, 'q') + "rs");
  // A string joined to itself is read before anything is written.
  CellRef twice = byte_string_appended(shared.get(), byte_string_contents(shared.get()), false);
  EXPECT_EQ(byte_string_contents(twice.get()), std::string(200, 'q'));
}

// The primitives' integers and byte strings come analysed, with the very
// bits and payload the generic analysis gives an atom of the same text.
TEST_F(Encoding, MadeIntegersAndByteStringsComeAnalysedAsTheWalkWouldAnalyseThem) {
  auto expect_analysed = [](const CellRef& made) {
    ASSERT_NE(analysis_bits(made.get()), 0) << atom_text(made.get());
    CellRef fresh = make_atom(atom_text(made.get()));
    analyse_node(fresh.get());
    EXPECT_EQ(analysis_bits(made.get()), analysis_bits(fresh.get())) << atom_text(made.get());
    EXPECT_EQ(payload(made.get()), payload(fresh.get())) << atom_text(made.get());
  };
  for (int64_t value : {int64_t{0}, int64_t{7}, int64_t{-7}, std::numeric_limits<int64_t>::max(),
                        std::numeric_limits<int64_t>::min()}) {
    expect_analysed(small_integer_atom(value));
  }
  for (size_t length : {0, 1, 31, 32, 33, 100}) expect_analysed(byte_string_atom(std::string(length, ')')));
  CellRef grown = byte_string_atom("ab");
  for (int i = 0; i < 40; ++i) {
    grown = byte_string_appended(grown.get(), "cd", true);
    expect_analysed(grown);
  }
  expect_analysed(byte_string_appended(grown.get(), "ef", false));
}

// ---- text-literal escapes ---------------------------------------------------------------

TEST_F(Encoding, EscapesRoundTripEveryByte) {
  std::string all;
  for (unsigned b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string escaped;
  append_escaped(escaped, all);
  EXPECT_EQ(escaped.size(), all.size() + 3 * 2);  // three bytes grow from 1 to 3
  EXPECT_EQ(escaped.find('\n'), std::string::npos);
  std::string back;
  ASSERT_TRUE(unescape(escaped, back));
  EXPECT_EQ(back, all);

  std::string kept;
  append_escaped(kept, "a\n[b]", false);
  EXPECT_EQ(kept, "a\n[q]b[r]");
  std::string both;
  append_escaped(both, "a\n[b]");
  EXPECT_EQ(both, "a[p][q]b[r]");
}

TEST_F(Encoding, OnlyTheThreeEscapesAreBytes) {
  EXPECT_EQ(escaped_byte("[p]"), '\n');
  EXPECT_EQ(escaped_byte("[q]"), '[');
  EXPECT_EQ(escaped_byte("[r]"), ']');
  for (std::string_view text : {"[s]", "[P]", "[]", "[pp]", "p", "[p", "(p)", ""}) {
    EXPECT_EQ(escaped_byte(text), -1) << text;
  }
  std::string bytes;
  for (std::string_view text : {"]", "a]", "[", "ab[", "[p", "[x]", "[[q]]", "[]", "[pq]"}) {
    EXPECT_FALSE(unescape(text, bytes)) << text;
  }
  ASSERT_TRUE(unescape("", bytes));
  EXPECT_EQ(bytes, "");
  ASSERT_TRUE(unescape("x[p][q][r]y", bytes));
  EXPECT_EQ(bytes, "x\n[]y");
}

TEST_F(Encoding, LiteralsOfBytesAreOneBalancedGroup) {
  EXPECT_EQ(atom_text(byte_literal('a').get()), "[a]");
  EXPECT_EQ(atom_text(byte_literal('[').get()), "[[q]]");
  EXPECT_EQ(atom_text(byte_literal(']').get()), "[[r]]");
  EXPECT_EQ(atom_text(byte_literal('\n').get()), "[[p]]");
  EXPECT_EQ(atom_text(byte_literal('\n', false).get()), "[\n]");
  EXPECT_EQ(atom_text(byte_literal('\0').get()), std::string("[\0]", 3));
  CellRef literal = escaped_literal("]][[");
  EXPECT_EQ(atom_text(literal.get()), "[[r][r][q][q]]");
  EXPECT_EQ(atom_text(text_literal_atom("ab").get()), "[ab]");
  EXPECT_EQ(atom_kind(literal.get()), AtomKind::text);
}

// ---- the markers ---------------------------------------------------------------------------

TEST_F(Encoding, MarkersCarryTheirNameAndAreToldApart) {
  CellRef hole = make_black_hole();
  CellRef update = make_update_marker("count");
  CellRef undefined = make_undefined_marker("missing");
  EXPECT_TRUE(is_black_hole(hole.get()));
  EXPECT_FALSE(is_black_hole(update.get()));
  EXPECT_TRUE(is_update_marker(hole.get()));
  EXPECT_TRUE(is_update_marker(update.get()));
  EXPECT_FALSE(is_update_marker(undefined.get()));
  for (const CellRef* m : {&hole, &update, &undefined}) EXPECT_TRUE(is_marker(m->get()));
  EXPECT_EQ(marker_name(update.get()), "count");
  EXPECT_EQ(marker_name(undefined.get()), "missing");
  EXPECT_EQ(marker_name(hole.get()), "");
  EXPECT_EQ(atom_text(undefined.get()), "]missing");

  CellRef name = make_atom("count");
  CellRef pair = make_pair(update.share(), name.share());
  EXPECT_FALSE(is_marker(name.get()));
  EXPECT_FALSE(is_marker(pair.get()));
  EXPECT_FALSE(is_update_marker(pair.get()));
  EXPECT_FALSE(is_black_hole(pair.get()));
}

TEST_F(Encoding, MarkersAndTheEmptyTextPrintWithoutTheirName) {
  EXPECT_TRUE(prints_as_marker(""));
  EXPECT_TRUE(prints_as_marker(")"));
  EXPECT_TRUE(prints_as_marker(")name"));
  EXPECT_TRUE(prints_as_marker("]name"));
  EXPECT_FALSE(prints_as_marker("(a)x"));
  EXPECT_FALSE(prints_as_marker("[]"));
  EXPECT_FALSE(prints_as_marker("name)"));
}

}  // namespace
