#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cells/cell.h"
#include "leak_check.h"

using namespace tove;

namespace {

class Cells : public LeakCheck {};

TEST_F(Cells, AtomHeaderRecordsLengthOnlyForDigitsAndBrackets) {
  CellRef number = make_atom("123");
  EXPECT_EQ(tag_byte(number.get()), 0x80);
  EXPECT_EQ(payload(number.get()), 3u);
  EXPECT_EQ(ref_count(number.get()), 1u);
  EXPECT_TRUE(is_atom(number.get()));

  CellRef name = make_atom("abc");
  EXPECT_EQ(payload(name.get()), 0u);
  EXPECT_EQ(atom_text(name.get()), "abc");

  CellRef text = make_atom("[a b]");
  EXPECT_EQ(payload(text.get()), 5u);
}

TEST_F(Cells, LongTextLiteralFindsLengthFromBracketGroup) {
  // "[" followed by 0x4000000 more bytes, the last of them the closer.
  std::string text = "[" + std::string(0x4000000 - 1, 'x') + "]";
  ASSERT_EQ(text.size(), 0x4000001u);
  CellRef big = make_atom(text);
  EXPECT_EQ(payload(big.get()), 0u);
  EXPECT_EQ(atom_text(big.get()).size(), text.size());
}

TEST_F(Cells, RealAndByteStringLengthsIgnoreZeroBytes) {
  std::string real(" \0\0\0\0\0\0\xF0?", 9);
  CellRef r = make_atom(real);
  EXPECT_EQ(atom_text(r.get()).size(), 9u);

  std::string bytes("(c)a\0b", 6);
  CellRef b = make_atom(bytes);
  EXPECT_EQ(atom_text(b.get()), bytes);

  std::string wide = "(a_)" + std::string(64, '\0');
  CellRef w = make_atom(wide);
  EXPECT_EQ(atom_text(w.get()).size(), 68u);

  CellRef empty = make_atom("()");
  EXPECT_EQ(atom_text(empty.get()), "()");
}

// Short atoms live in the pairs' blocks and long ones in blocks of their
// own; freeing one gives its block back where it came from, whatever its
// kind says of measuring its text. A block given back to the wrong place
// takes the process down, or is handed out twice, and then one text
// overwrites another.
TEST_F(Cells, AtomsAtThePoolBoundGoBackWhereTheyCameFrom) {
  const std::string real(" \0\0\0\0\0\0\xF0?", 9);
  auto texts = [&](char letter) {
    std::vector<std::string> all;
    for (size_t n = 13; n <= 18; ++n) {
      all.emplace_back(n, letter);                                                  // a name
      all.push_back(std::string(1, '1') + std::string(n - 1, '0'));                 // a number
      all.push_back("(" + std::to_string(n - 4) + ")" + std::string(n - 4, '\0'));  // bytes
    }
    all.push_back(real);
    return all;
  };
  std::vector<CellRef> first;
  for (const std::string& text : texts('q')) first.push_back(make_atom(text));
  first.push_back(make_atom_with_room("(1)a", 64));
  for (const CellRef& atom : first) {
    const size_t length = atom_text(atom.get()).size();
    const size_t room = atom_room(atom.get());
    EXPECT_GE(room, length);
    if (!kCheckingBuild) {
      EXPECT_EQ(room == kPooledTextLimit, length <= kPooledTextLimit) << length;
    }
  }
  first.clear();
  std::vector<CellRef> second;
  const std::vector<std::string> expected = texts('w');
  for (int copy = 0; copy < 2; ++copy) {
    for (const std::string& text : expected) second.push_back(make_atom(text));
  }
  for (size_t i = 0; i < second.size(); ++i)
    EXPECT_EQ(atom_text(second[i].get()), expected[i % expected.size()]);
}

TEST_F(Cells, PairsShareAndReleaseParts) {
  CellRef left = make_atom("f");
  CellRef right = make_atom("x");
  {
    CellRef app = make_pair(left.get(), right.get());
    EXPECT_EQ(ref_count(left.get()), 2u);
    EXPECT_EQ(atom_text(app.get()), "");
    EXPECT_EQ(head_char(app.get()), 0);
    EXPECT_EQ(pair_left(app.get()), left.get());
    EXPECT_TRUE(is_pair(app.get()));
  }
  EXPECT_EQ(ref_count(left.get()), 1u);
  EXPECT_EQ(ref_count(right.get()), 1u);
}

TEST_F(Cells, ThreeAndFourPartPairsNestToTheLeft) {
  CellRef abc = make_pair(make_atom("a"), make_atom("b"), make_atom("c"));
  EXPECT_EQ(atom_text(pair_right(abc.get())), "c");
  EXPECT_EQ(atom_text(pair_left(pair_left(abc.get()))), "a");
  CellRef abcd = make_pair(make_atom("a"), make_atom("b"), make_atom("c"), make_atom("d"));
  EXPECT_EQ(atom_text(pair_right(pair_left(abcd.get()))), "c");
}

TEST_F(Cells, AssignKeepsTheSameCellAndSwapsOthers) {
  CellRef slot = make_atom("old");
  Cell* old = slot.get();
  assign(slot, old);
  EXPECT_EQ(slot.get(), old);
  EXPECT_EQ(ref_count(old), 1u);
  CellRef fresh = make_atom("new");
  assign(slot, fresh.get());
  EXPECT_EQ(slot.get(), fresh.get());
  EXPECT_EQ(ref_count(fresh.get()), 2u);
}

TEST_F(Cells, ReleasingLongChainsNeedsNoNativeRecursion) {
  constexpr int kLength = 10'000'000;
  CellRef left_deep = make_atom("x");
  for (int i = 0; i < kLength; ++i) left_deep = make_pair(std::move(left_deep), make_atom("y"));
  EXPECT_EQ(live_cells().pairs >= kLength, true);
  left_deep.reset();

  CellRef right_deep = make_atom("x");
  CellRef shared = make_atom("s");
  for (int i = 0; i < kLength; ++i) right_deep = make_pair(shared.share(), std::move(right_deep));
  right_deep.reset();
  EXPECT_EQ(ref_count(shared.get()), 1u);
}

TEST_F(Cells, Base64DigitsFollowTheAlphabet) {
  auto base64_encode = [](uint64_t n) {
    char room[kLongestBase64Digits];
    const char* start = write_base64(n, room + sizeof room);
    return std::string(start, static_cast<size_t>(room + sizeof room - start));
  };
  EXPECT_EQ(base64_encode(0), "");
  EXPECT_EQ(base64_encode(3), "c");
  EXPECT_EQ(base64_encode(64), "a_");
  EXPECT_EQ(base64_encode(UINT64_MAX).size(), kLongestBase64Digits);
  EXPECT_EQ(base64_digit_value('r'), 18u);
  EXPECT_EQ(base64_digit_value('u'), 19u);
  EXPECT_EQ(base64_digit_value('~'), 63u);
  EXPECT_EQ(base64_decode(base64_encode(123456789)), 123456789u);
}

TEST(CellsDeath, BrokenCountsEndTheProcess) {
  // A count that would pass its largest value ends the process in every build.
  EXPECT_DEATH(
      {
        CellRef c = make_atom("x");
        c->header |= kCountMask;
        retain(c.get());
      },
      "ASSERTION FAILED:cells/cell.h:");
  EXPECT_DEATH(base64_digit_value('!'), "ASSERTION FAILED:cells/cell.cpp:");
  // Releasing a dead cell and reading a part of an atom are checked by the
  // checking builds, off the path of every rewrite in the others.
  if (kCheckingBuild) {
    EXPECT_DEATH(
        {
          Cell* c = make_raw_atom("x");
          release(c);
        },
        "ASSERTION FAILED:cells/cell.h:");
    EXPECT_DEATH(pair_left(make_atom("a").get()), "ASSERTION FAILED:cells/cell.h:");
  }
}

}  // namespace
