#include "cells/cell.h"

#include <malloc.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "cells/encoding.h"
#include "cells/interrupt.h"
#include "cells/memory.h"

namespace tove {

// ---- fatal assertion ----------------------------------------------------------

void fatal_assertion(const char* file, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "ASSERTION FAILED:%s:%d\n", file, line);
  std::fflush(stderr);
  // The line above says what happened; the note a signal handler may add
  // for an abort the C library raises would only blame the program.
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

// ---- allocators ---------------------------------------------------------------
//
// Pairs come from a pool of 24-byte blocks: a free list threaded through the
// left field of free blocks, refilled a chunk at a time. Short atoms share
// the pool; longer atoms are single blocks from the general allocator. All
// memory comes through the counted allocator, so running out throws
// std::bad_alloc before any count changes. Both counters are always kept; a
// checking build also poisons freed cells and gives every cell its own
// block, so a sanitizer sees each use after free.

constinit PairPool g_pair_pool{};

namespace {

constexpr size_t kPairsPerChunk = 1 << 16;
constexpr unsigned char kPoison = 0xDB;

// A 24-byte block from the pool's free list, refilled a chunk at a time.
Pair* take_block() {
  PairPool& p = g_pair_pool;
  if (p.free_list == nullptr) {
    // Chunks are never returned: blocks are recycled through the free list.
    auto* chunk = static_cast<Pair*>(allocate_counted(sizeof(Pair) * kPairsPerChunk));
    for (size_t i = 0; i < kPairsPerChunk; ++i) {
      chunk[i].left = (i + 1 < kPairsPerChunk) ? &chunk[i + 1] : nullptr;
    }
    p.free_list = chunk;
  }
  Pair* block = p.free_list;
  p.free_list = static_cast<Pair*>(block->left);
  return block;
}

inline void give_block(Pair* block) {
  block->left = g_pair_pool.free_list;
  g_pair_pool.free_list = block;
}

Pair* allocate_pair() {
  Pair* pair;
  if constexpr (kCheckingBuild) {
    pair = static_cast<Pair*>(allocate_counted(sizeof(Pair)));
  } else {
    pair = take_block();
  }
  ++g_pair_pool.live_pairs;
  ++g_pair_pool.made_cells;
  return pair;
}

inline void free_pair(Pair* pair) {
  --g_pair_pool.live_pairs;
  if constexpr (kCheckingBuild) {
    std::memset(static_cast<void*>(pair), kPoison, sizeof(Pair));
    free_counted(pair);
    return;
  }
  give_block(pair);
}

// A block for a text of `text_length` bytes with room for `room` >= that
// many; the text length alone decides the source, as free_atom expects.
Atom* allocate_atom(size_t text_length, size_t room) {
  TOVE_ASSERT(room >= text_length);
  if (room > SIZE_MAX - kAtomOverhead) throw std::bad_alloc();
  void* block = !kCheckingBuild && text_length <= kPooledTextLimit ? static_cast<void*>(take_block())
                                                                   : allocate_counted(room + kAtomOverhead);
  ++g_pair_pool.live_atoms;
  ++g_pair_pool.made_cells;
  return static_cast<Atom*>(block);
}

// Outside the checking builds an atom lives in a pool block exactly when
// its text is at most kPooledTextLimit bytes long (allocate_atom's choice;
// a pooled atom grows only within its block). A text that records its
// length says so in its header; any other text is that short exactly when
// a zero byte ends it within the first kPooledTextLimit + 1 bytes, which
// every atom's block holds, so the test reads no further than those.
bool in_pool_block(const Atom* atom) {
  if (records_length(static_cast<unsigned char>(atom->text[0]))) {
    const size_t n = payload(atom);
    return n != 0 && n <= kPooledTextLimit;
  }
  static_assert(kPooledTextLimit + 1 == 2 * sizeof(uint64_t));
  uint64_t words[2];
  std::memcpy(words, atom->text, sizeof words);
  constexpr uint64_t kLow = 0x0101010101010101;
  constexpr uint64_t kHigh = 0x8080808080808080;
  auto has_zero_byte = [](uint64_t w) { return ((w - kLow) & ~w & kHigh) != 0; };
  return has_zero_byte(words[0]) || has_zero_byte(words[1]);
}

void free_atom(Atom* atom) {
  --g_pair_pool.live_atoms;
  if constexpr (kCheckingBuild) {
    // The whole block is poisoned, its length from the text rules: numbers,
    // text literals and byte strings record it.
    size_t n = records_length(static_cast<unsigned char>(atom->text[0])) ? payload(atom) : 0;
    if (n == 0) n = atom_text(atom).size();
    std::memset(static_cast<void*>(atom), kPoison, n + kAtomOverhead);
    free_counted(atom);
  } else if (in_pool_block(atom)) {
    give_block(reinterpret_cast<Pair*>(atom));
  } else {
    free_counted(atom);
  }
}

}  // namespace

CellCounts live_cells() { return {g_pair_pool.live_pairs, g_pair_pool.live_atoms}; }

// ---- release --------------------------------------------------------------------

namespace {

// Dead pairs whose parts still await their release are kept on a stack
// threaded through their own header words, so freeing needs no native
// recursion and no extra memory whatever the depth of the graph. The walk
// is a function apart from the atoms' short path, which so needs none of
// the registers the walk keeps.
[[gnu::noinline]] void destroy_pairs(Pair* stack) {
  stack->header = 0;  // end of the stack
  while (stack != nullptr) {
    Pair* pair = stack;
    stack = reinterpret_cast<Pair*>(static_cast<uintptr_t>(pair->header));
    Cell* parts[2] = {pair->left, pair->right};
    TOVE_CHECK(parts[0] != nullptr && parts[1] != nullptr);
    free_pair(pair);
    for (Cell* part : parts) {
      uint64_t count = part->header & kCountMask;
      TOVE_CHECK(count != 0);
      part->header -= 1;
      if (count != 1) continue;
      if (is_atom(part)) {
        free_atom(static_cast<Atom*>(part));
      } else {
        auto* dead = static_cast<Pair*>(part);
        dead->header = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(stack));
        stack = dead;
      }
    }
  }
}

}  // namespace

// Frees a cell whose count has reached zero, and every part whose count falls
// to zero with it.
void destroy_cell(Cell* c) {
  if (is_atom(c)) return free_atom(static_cast<Atom*>(c));
  destroy_pairs(static_cast<Pair*>(c));
}

void assign(CellRef& slot, Cell* cell) {
  TOVE_ASSERT(cell != nullptr);
  if (slot.get() == cell) return;
  slot = CellRef::retained(cell);
}

// ---- making cells -----------------------------------------------------------------

// A text of gigabytes takes a noticeable time to copy, so a long one goes
// in blocks with a look at the interrupt request between them; a copy
// stopped that way gives the atom's block back before it throws.
constexpr size_t kCopyBlock = size_t{1} << 20;

void copy_text(Atom* atom, std::string_view text) {
  for (size_t at = 0; at < text.size(); at += kCopyBlock) {
    if (at != 0 && interrupt_requested()) {
      --g_pair_pool.live_atoms;
      free_counted(atom);  // far longer than a pooled text
      throw Interrupted{};
    }
    std::memcpy(atom->text + at, text.data() + at, std::min(kCopyBlock, text.size() - at));
  }
}

namespace {

Atom* make_raw_atom_with_room(std::string_view text, size_t room) {
  const size_t n = text.size();
  Atom* atom = allocate_atom(n, room);
  copy_text(atom, text);
  atom->text[n] = '\0';
  atom->header = uint64_t{kTagAtom} << kTagShift;
  const unsigned char first = n ? static_cast<unsigned char>(text[0]) : 0;
  if (records_length(first) && n < kRecordedLengthLimit) set_payload(atom, n);
  note_number_word(atom, first, n);
  return atom;
}

}  // namespace

Atom* make_raw_atom(std::string_view text) { return make_raw_atom_with_room(text, text.size()); }

CellRef make_atom_with_room(std::string_view text, size_t room) {
  Atom* atom = make_raw_atom_with_room(text, room < text.size() ? text.size() : room);
  retain(atom);
  return CellRef::adopt(atom);
}

size_t atom_room(const Cell* atom) {
  TOVE_ASSERT(is_atom(atom));
  if (!kCheckingBuild && in_pool_block(static_cast<const Atom*>(atom))) return kPooledTextLimit;
  return malloc_usable_size(const_cast<Cell*>(atom)) - kAtomOverhead;
}

CellRef make_atom_from_allocator(std::string_view text) {
  Atom* atom = make_raw_atom(text);
  retain(atom);
  return CellRef::adopt(atom);
}

CellRef make_atom(const char* text) {
  TOVE_ASSERT(text != nullptr);
  return make_atom(std::string_view(text));
}

CellRef make_pair(CellRef left, CellRef right) {
  TOVE_ASSERT(left && right);
  Pair* pair = allocate_pair();
  pair->header = 1;  // count 1, payload 0, tag 0
  pair->left = left.leak();
  pair->right = right.leak();
  return CellRef::adopt(pair);
}

Cell* new_pair_refilling(Cell* left, Cell* right) {
  TOVE_ASSERT(left != nullptr && right != nullptr);
  Pair* pair = allocate_pair();
  pair->header = 1;
  pair->left = left;
  pair->right = right;
  return pair;
}

void free_pair_block(Pair* pair) { free_pair(pair); }

CellRef make_pair(Cell* left, Cell* right) {
  TOVE_ASSERT(left != nullptr && right != nullptr);
  Pair* pair = allocate_pair();
  retain(left);
  retain(right);
  pair->header = 1;
  pair->left = left;
  pair->right = right;
  return CellRef::adopt(pair);
}

CellRef make_pair(CellRef a, CellRef b, CellRef c) {
  return make_pair(make_pair(std::move(a), std::move(b)), std::move(c));
}

CellRef make_pair(CellRef a, CellRef b, CellRef c, CellRef d) {
  return make_pair(make_pair(std::move(a), std::move(b), std::move(c)), std::move(d));
}

// ---- atom text ----------------------------------------------------------------------

namespace {

size_t bracket_group_length(const char* text) {
  size_t depth = 1;
  size_t i = 1;
  for (;; ++i) {
    if (text[i] == '[') ++depth;
    else if (text[i] == ']' && --depth == 0) return i + 1;
  }
}

}  // namespace

std::string_view atom_text(const Cell* c) {
  if (is_pair(c)) return {};
  const char* text = static_cast<const Atom*>(c)->text;
  switch (atom_kind(c)) {
    case AtomKind::number: {
      size_t n = payload(c);
      if (n == 0) {
        n = std::strlen(text);
        TOVE_ASSERT(n >= kRecordedLengthLimit);
      }
      return {text, n};
    }
    case AtomKind::text: {
      size_t n = payload(c);
      if (n == 0) {
        n = bracket_group_length(text);
        TOVE_ASSERT(n >= kRecordedLengthLimit);
      }
      return {text, n};
    }
    case AtomKind::real: return {text, kRealTextLength};
    case AtomKind::bytes: {
      const size_t n = payload(c);
      return {text, n != 0 ? n : byte_string_text_length(text)};
    }
    default: return {text, std::strlen(text)};
  }
}

bool atom_is(const Cell* c, std::string_view text) {
  if (!is_atom(c)) return false;
  const char* chars = atom_chars(c);
  switch (atom_kind(c)) {
    case AtomKind::number:
    case AtomKind::text:
    case AtomKind::real:
    case AtomKind::bytes: return atom_text(c) == text;  // texts that may hold zero bytes
    default: break;
  }
  // A name ends at its zero byte: compare up to it without measuring first.
  for (size_t i = 0; i < text.size(); ++i) {
    if (chars[i] != text[i] || chars[i] == '\0') return false;
  }
  return chars[text.size()] == '\0';
}

// ---- base-64 digits ---------------------------------------------------------------

namespace {

constexpr std::array<int8_t, 256> make_digit_values() {
  std::array<int8_t, 256> values{};
  for (auto& v : values) v = -1;
  for (size_t i = 0; i < kDigitAlphabet.size(); ++i) {
    values[static_cast<unsigned char>(kDigitAlphabet[i])] = static_cast<int8_t>(i);
  }
  return values;
}

constexpr std::array<int8_t, 256> kDigitValues = make_digit_values();
static_assert(kDigitAlphabet.size() == 64);
static_assert(kDigitValues['_'] == 0 && kDigitValues['r'] == 18 && kDigitValues['u'] == 19 &&
              kDigitValues['x'] == 25 && kDigitValues['~'] == 63);

}  // namespace

unsigned base64_digit_value(unsigned char c) {
  const int8_t v = kDigitValues[c];
  TOVE_ASSERT(v >= 0);
  return static_cast<uint8_t>(v);
}

uint64_t base64_decode(std::string_view digits) {
  uint64_t value = 0;
  for (char d : digits) value = value * 64 + base64_digit_value(static_cast<unsigned char>(d));
  return value;
}

}  // namespace tove
