// Cells: the one value store of the interpreter.
//
// Every program text, prepared definition, intermediate expression and value
// is a graph of cells. A cell is an Atom (a text) or a Pair (the application
// of its left part to its right part). Every cell starts with one 64-bit
// header word:
//
//   bits  0-29  (30)  reference count, 1 .. 0x3FFFFFFF while the cell lives
//   bits 30-55  (26)  payload: the text length of an atom whose text starts
//                     with a digit, "[" or "(" (0 when the length is 2^26
//                     or more); otherwise the free-variable mask or
//                     data-pair sum written by node analysis
//   bits 56-63  ( 8)  tag byte: bit 7 (the sign bit of the word) marks an
//                     Atom; bits 0-6 hold the cached node analysis, all
//                     clear while the cell is unanalysed
//
// Because the atom bit is the sign bit, a cell is an atom exactly when its
// header read as a signed number is negative.
//
// A Pair is three words: header, left, right; both parts are owning
// references and never null. An Atom is one block of at least (text length
// + 9) bytes: the header, the text, and a terminating zero byte. The text
// may hold zero bytes (byte strings, reals); its length then comes from the
// rules of atom_text, never from scanning. Bytes of the block past the
// terminator are room to grow (atom_room) or a short number's word (see
// below), invisible to every reader of the text.
//
// Ownership: a CellRef owns exactly one count and is move-only. A function
// that takes a CellRef by value consumes that count; a raw `const Cell*` or
// `Cell*` borrows and never changes the count. Copying a reference is the
// explicit `share()` (one retain). Releasing never recurses on the native
// stack, so graphs of any depth are freed safely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "cells/fatal.h"

namespace tove {

// ---- header word layout ---------------------------------------------------

inline constexpr unsigned kCountBits = 30;
inline constexpr uint64_t kCountMask = (uint64_t{1} << kCountBits) - 1;  // 0x3FFFFFFF, the largest count

inline constexpr unsigned kPayloadShift = 30;
inline constexpr unsigned kPayloadBits = 26;
inline constexpr uint64_t kPayloadLimit = uint64_t{1} << kPayloadBits;  // 2^26
inline constexpr uint64_t kPayloadMask = (kPayloadLimit - 1) << kPayloadShift;

inline constexpr unsigned kTagShift = 56;
inline constexpr uint64_t kTagMask = uint64_t{0xFF} << kTagShift;
inline constexpr uint8_t kTagAtom = 0x80;       // bit 7: the cell is an atom
inline constexpr uint8_t kTagAnalysis = 0x7F;   // bits 0-6: node analysis
inline constexpr uint8_t kTagData = 0x40;       // analysis == 0x40: data node
inline constexpr uint8_t kTagPending = 0x40;    // otherwise bit 6: pending flag
inline constexpr uint8_t kTagArityMask = 0x3F;  // otherwise bits 0-5: arity+52
inline constexpr int kArityBias = 52;
inline constexpr int kArityUnbounded = 11;  // never decremented
inline constexpr int kArityFloor = -51;     // never decremented further

// Atoms whose text starts with a digit, "[" or "(" record their length in
// the payload when it is below this limit.
inline constexpr size_t kRecordedLengthLimit = kPayloadLimit;

struct Cell {
  uint64_t header;
};

struct Pair : Cell {
  Cell* left;
  Cell* right;
};

struct Atom : Cell {
  char text[1];  // really text length + 1 bytes (text and terminating zero)
};

static_assert(sizeof(uint64_t) == 8);
static_assert(sizeof(Cell) == 8, "a cell header is one 64-bit word");
static_assert(sizeof(Pair) == 24, "a pair is exactly three words");
static_assert(sizeof(Atom) == 16 && alignof(Atom) == 8, "atom text follows the header word");
inline constexpr size_t kAtomOverhead = 9;  // header + terminating zero

// ---- header access ----------------------------------------------------------

inline bool is_atom(const Cell* c) { return static_cast<int64_t>(c->header) < 0; }
inline bool is_pair(const Cell* c) { return !is_atom(c); }

inline uint32_t ref_count(const Cell* c) { return static_cast<uint32_t>(c->header & kCountMask); }
inline uint8_t tag_byte(const Cell* c) { return static_cast<uint8_t>(c->header >> kTagShift); }
inline uint8_t analysis_bits(const Cell* c) { return tag_byte(c) & kTagAnalysis; }
inline void set_analysis_bits(Cell* c, uint8_t bits) {
  TOVE_ASSERT((bits & kTagAtom) == 0);
  c->header = (c->header & ~(uint64_t{kTagAnalysis} << kTagShift)) | (uint64_t{bits} << kTagShift);
}
inline uint32_t payload(const Cell* c) {
  return static_cast<uint32_t>((c->header & kPayloadMask) >> kPayloadShift);
}
inline void set_payload(Cell* c, uint64_t value) {
  TOVE_ASSERT(value < kPayloadLimit);
  c->header = (c->header & ~kPayloadMask) | (value << kPayloadShift);
}

// Borrowed parts of a pair (no count change). Asserts the cell is a pair.
inline Cell* pair_left(const Cell* c) {
  TOVE_CHECK(is_pair(c));
  return static_cast<const Pair*>(c)->left;
}
inline Cell* pair_right(const Cell* c) {
  TOVE_CHECK(is_pair(c));
  return static_cast<const Pair*>(c)->right;
}

// ---- atom kinds ---------------------------------------------------------------
// The kind of an atom, decided by the first byte of its text alone (the
// encodings of each kind are in cells/encoding.h):
//   "0".."9" number, "[" text literal, " " real, "(" byte string,
//   ")" black hole, cycle or update marker, "]" undefined-name marker,
//   anything else (the empty text too) a name.
// A pair has no text and is a kind of its own.
enum class AtomKind : uint8_t { pair, name, number, text, real, bytes, update, undefined };

constexpr AtomKind atom_kind_of_byte(unsigned char first) {
  if (first >= '0' && first <= '9') return AtomKind::number;
  switch (first) {
    case '[': return AtomKind::text;
    case ' ': return AtomKind::real;
    case '(': return AtomKind::bytes;
    case ')': return AtomKind::update;
    case ']': return AtomKind::undefined;
    default: return AtomKind::name;
  }
}
namespace cell_detail {
constexpr auto make_atom_kinds() {
  struct Table {
    AtomKind kinds[256];
  } table{};
  for (unsigned b = 0; b < 256; ++b) table.kinds[b] = atom_kind_of_byte(static_cast<unsigned char>(b));
  return table;
}
inline constexpr auto kAtomKinds = make_atom_kinds();
}  // namespace cell_detail

inline AtomKind atom_kind(const Cell* c) {
  return is_atom(c) ? cell_detail::kAtomKinds.kinds[static_cast<const Atom*>(c)->text[0] & 0xFF]
                    : AtomKind::pair;
}
// Numbers, text literals and byte strings record their text length in the
// payload: the kinds whose length would otherwise take a scan.
constexpr bool records_length(unsigned char first) {
  const AtomKind kind = atom_kind_of_byte(first);
  return kind == AtomKind::number || kind == AtomKind::text || kind == AtomKind::bytes;
}

// ---- counting ---------------------------------------------------------------

void destroy_cell(Cell* c);  // frees a cell whose count reached zero

// The count is the low field, so adding one to the whole word adds one to
// it; the largest count would carry into the payload, and is refused.
inline void retain(Cell* c) {
  TOVE_CHECK(c != nullptr);
  const uint64_t header = c->header + 1;
  TOVE_ASSERT((header & kCountMask) != 0);
  c->header = header;
}

inline void release(Cell* c) {
  TOVE_CHECK(c != nullptr);
  const uint64_t header = c->header;
  TOVE_CHECK((header & kCountMask) != 0);
  c->header = header - 1;
  if ((header & kCountMask) == 1) destroy_cell(c);
}

// ---- owning reference -------------------------------------------------------

class CellRef {
 public:
  CellRef() = default;
  // Takes over one count that the caller already owns.
  static CellRef adopt(Cell* c) { return CellRef(c); }
  // Retains the borrowed cell and owns the new count.
  static CellRef retained(Cell* c) {
    retain(c);
    return CellRef(c);
  }
  CellRef(const CellRef&) = delete;
  CellRef& operator=(const CellRef&) = delete;
  CellRef(CellRef&& other) noexcept : cell_(std::exchange(other.cell_, nullptr)) {}
  CellRef& operator=(CellRef&& other) noexcept {
    if (this != &other) {
      Cell* old = std::exchange(cell_, std::exchange(other.cell_, nullptr));
      if (old) release(old);
    }
    return *this;
  }
  ~CellRef() {
    if (cell_) release(cell_);
  }

  Cell* get() const { return cell_; }
  Cell* operator->() const { return cell_; }
  explicit operator bool() const { return cell_ != nullptr; }
  // An explicit copy: one more count on the same cell.
  CellRef share() const {
    TOVE_ASSERT(cell_ != nullptr);
    return retained(cell_);
  }
  // Gives up ownership of the count without releasing it.
  Cell* leak() { return std::exchange(cell_, nullptr); }
  void reset() {
    if (Cell* old = std::exchange(cell_, nullptr)) release(old);
  }

 private:
  explicit CellRef(Cell* c) : cell_(c) {}
  Cell* cell_ = nullptr;
};

// Replaces the cell held by a slot; nothing happens when it is that very cell.
void assign(CellRef& slot, Cell* cell);

// ---- the pair pool ------------------------------------------------------------

// The pair pool: 24-byte blocks on a free list threaded through the `left`
// field of free blocks, refilled a chunk at a time. The evaluator makes and
// takes apart pairs on every step, so the common path of both is inline; a
// checking build gives every cell its own block and always goes through the
// out-of-line path, where freed cells are poisoned.
#if defined(TOVE_CHECKING)
inline constexpr bool kCheckingBuild = true;
#else
inline constexpr bool kCheckingBuild = false;
#endif
struct PairPool {
  Pair* free_list = nullptr;
  int64_t live_pairs = 0;
  int64_t live_atoms = 0;
  uint64_t made_cells = 0;  // pairs and atoms made since start-up
};
extern constinit PairPool g_pair_pool;
Cell* new_pair_refilling(Cell* left, Cell* right);  // the free list is empty
void free_pair_block(Pair* pair);                   // the out-of-line free

// (left right) from two counts the caller hands over: count 1, unanalysed.
inline Cell* new_pair(Cell* left, Cell* right) {
  Pair* block = g_pair_pool.free_list;
  if (kCheckingBuild || __builtin_expect(block == nullptr, 0)) return new_pair_refilling(left, right);
  g_pair_pool.free_list = static_cast<Pair*>(block->left);
  ++g_pair_pool.live_pairs;
  ++g_pair_pool.made_cells;
  block->header = 1;  // count 1, payload 0, tag 0
  block->left = left;
  block->right = right;
  return block;
}

// ---- making cells -----------------------------------------------------------

// An atom whose block fits in a pair's 24 bytes (a text of up to 15 bytes:
// names, truth values, small numbers, reals) takes a pair's place in the
// pool; longer ones come from the general allocator. The block size follows
// from the text, so freeing finds the same source.
inline constexpr size_t kPooledTextLimit = sizeof(Pair) - kAtomOverhead;
static_assert(kPooledTextLimit == 15);

// ---- a short number's word ------------------------------------------------------
// A number atom of a text of at most kNumberWordTextLimit bytes, in a pool
// block, keeps a word at text + 8, past its terminating zero: the value its
// encoding reads from the text as a signed 64-bit integer, or kNoNumberWord
// for a text that is no short integer (a binary fraction). Arithmetic reads
// the word instead of the digits. The encoding works it out
// (number_word_of_text, cells/encoding.cpp); both makers of pooled atoms
// write it, and the text of a number atom never changes, so the word holds
// for the atom's life. Checking builds give every atom a block of its
// exact size, and keep no word.
inline constexpr size_t kNumberWordTextLimit = 7;
inline constexpr size_t kNumberWordOffset = 8;  // from the text's start
inline constexpr int64_t kNoNumberWord = INT64_MIN;
static_assert(kNumberWordTextLimit < kNumberWordOffset && kNumberWordOffset + 8 == kPooledTextLimit + 1);
int64_t number_word_of_text(const char* text, size_t n);

// Whether a number atom of text length n keeps its word (the length is its
// recorded one, which is 0 only for texts too long to record).
inline bool keeps_number_word(size_t n) { return !kCheckingBuild && n != 0 && n <= kNumberWordTextLimit; }
inline void write_number_word(Atom* atom, int64_t word) {
  __builtin_memcpy(atom->text + kNumberWordOffset, &word, sizeof word);
}
// A new atom's word, when it is a number that keeps one; its text is
// written already.
inline void note_number_word(Atom* atom, unsigned char first, size_t n) {
  if (atom_kind_of_byte(first) == AtomKind::number && keeps_number_word(n)) {
    write_number_word(atom, number_word_of_text(atom->text, n));
  }
}
inline int64_t number_word(const Cell* atom) {
  int64_t word;
  __builtin_memcpy(&word, static_cast<const Atom*>(atom)->text + kNumberWordOffset, sizeof word);
  return word;
}

// A pool block for a new atom, counted as made; nullptr when the free list
// is empty or the build is a checking one, and the allocator must serve.
inline Atom* take_pooled_atom_block() {
  Pair* block = g_pair_pool.free_list;
  if (kCheckingBuild || __builtin_expect(block == nullptr, 0)) return nullptr;
  g_pair_pool.free_list = static_cast<Pair*>(block->left);
  ++g_pair_pool.live_atoms;
  ++g_pair_pool.made_cells;
  return reinterpret_cast<Atom*>(block);
}

CellRef make_atom_from_allocator(std::string_view text);
inline CellRef make_atom(std::string_view text) {
  const size_t n = text.size();
  Atom* atom = n > kPooledTextLimit ? nullptr : take_pooled_atom_block();
  if (atom == nullptr) return make_atom_from_allocator(text);
  // Count 1, the atom tag, and the recorded length of a number or text.
  uint64_t header = (uint64_t{kTagAtom} << kTagShift) | 1;
  const unsigned char first = n ? static_cast<unsigned char>(text[0]) : 0;
  if (records_length(first)) header |= uint64_t{n} << kPayloadShift;
  atom->header = header;
  if (n) __builtin_memcpy(atom->text, text.data(), n);
  atom->text[n] = '\0';
  note_number_word(atom, first, n);
  return CellRef::adopt(atom);
}
// A number atom of a text of at most kNumberWordTextLimit bytes, whose
// word the caller knows already. `text` holds the text's bytes as they lie
// in memory, zero past them, and is written as one word, the terminator
// with it.
inline CellRef make_short_number_atom(uint64_t text, size_t n, int64_t word) {
  TOVE_CHECK(n != 0 && n <= kNumberWordTextLimit &&
             atom_kind_of_byte(static_cast<unsigned char>(text & 0xFF)) == AtomKind::number);
  Atom* atom = take_pooled_atom_block();
  if (atom == nullptr) [[unlikely]] {
    char chars[sizeof text];
    __builtin_memcpy(chars, &text, sizeof text);
    return make_atom_from_allocator(std::string_view(chars, n));
  }
  atom->header = (uint64_t{kTagAtom} << kTagShift) | (uint64_t{n} << kPayloadShift) | 1;
  __builtin_memcpy(atom->text, &text, sizeof text);
  write_number_word(atom, word);
  return CellRef::adopt(atom);
}
CellRef make_atom(const char* text);
// An atom whose block can hold at least `room` text bytes, so that its text
// can later grow where it stands (a byte string extended by appends). A text
// short enough for the pool gets a pooled block, whose room is the pool's.
CellRef make_atom_with_room(std::string_view text, size_t room);
// How many text bytes the atom's block can hold, its length included. Only
// a cell nothing else can see may have its text grown up to this: the text
// keeps its terminating zero, and the block stays of the source its length
// names (a pooled text never grows past the pool's limit).
size_t atom_room(const Cell* atom);
// The raw constructor: count 0, tag 0x80 and the payload rule; the caller
// retains it at once.
Atom* make_raw_atom(std::string_view text);

// (left right), consuming both references.
CellRef make_pair(CellRef left, CellRef right);

// Takes apart a pair that has exactly one reference, which the caller gives
// up: the counts the pair held on its parts pass to the caller, and the pair
// is freed.
inline void dismantle_pair(Cell* pair, Cell** left, Cell** right) {
  TOVE_CHECK(is_pair(pair) && ref_count(pair) == 1);
  Pair* p = static_cast<Pair*>(pair);
  *left = p->left;
  *right = p->right;
  if (kCheckingBuild) return free_pair_block(p);
  --g_pair_pool.live_pairs;
  p->left = g_pair_pool.free_list;
  g_pair_pool.free_list = p;
}
// (left right), retaining both borrowed parts.
CellRef make_pair(Cell* left, Cell* right);
CellRef make_pair(CellRef a, CellRef b, CellRef c);             // ((a b) c)
CellRef make_pair(CellRef a, CellRef b, CellRef c, CellRef d);  // (((a b) c) d)

inline CellRef left_of(const Cell* c) { return CellRef::retained(pair_left(c)); }
inline CellRef right_of(const Cell* c) { return CellRef::retained(pair_right(c)); }

// ---- atom text --------------------------------------------------------------

// The whole text of an atom by the length rules of its kind; empty for a pair.
std::string_view atom_text(const Cell* c);
// The first byte of an atom's text; 0 for a pair.
inline unsigned char head_char(const Cell* c) {
  return is_atom(c) ? static_cast<unsigned char>(static_cast<const Atom*>(c)->text[0]) : 0;
}

// Raw text pointer of an atom (zero-terminated, may hold further zeros).
inline const char* atom_chars(const Cell* c) {
  TOVE_CHECK(is_atom(c));
  return static_cast<const Atom*>(c)->text;
}
inline char* atom_chars_mutable(Cell* c) {
  TOVE_CHECK(is_atom(c));
  return static_cast<Atom*>(c)->text;
}
// True when c is an atom whose whole text equals `text`.
bool atom_is(const Cell* c, std::string_view text);

// ---- base-64 digits -----------------------------------------------------------

inline constexpr std::string_view kDigitAlphabet =
    "_abcdefghijklmnopqrustvwzxy0123456789ABCDEFGHIJKLMNOPQRUSTVWZXY~";
// Value of one digit; a character outside the alphabet is a fatal assertion.
unsigned base64_digit_value(unsigned char c);
// The digits of n, most significant first, with no digits for 0, written
// backwards ending at `end`, which must have kLongestBase64Digits bytes of
// room before it; returns where they start.
inline constexpr size_t kLongestBase64Digits = 11;
inline char* write_base64(uint64_t n, char* end) {
  char* at = end;
  while (n != 0) {
    *--at = kDigitAlphabet[n % 64];
    n /= 64;
  }
  return at;
}
// Decodes a run of digits (most significant first).
uint64_t base64_decode(std::string_view digits);

// ---- memory accounting --------------------------------------------------------

struct CellCounts {
  int64_t pairs;
  int64_t atoms;
};
// Cells currently alive (made and not yet freed).
CellCounts live_cells();
// Cells made since start-up, freed or not.
inline uint64_t cells_made() { return g_pair_pool.made_cells; }

}  // namespace tove
