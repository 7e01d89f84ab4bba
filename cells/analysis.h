// Node analysis: the remaining arity, data marker, pending flag and
// free-variable mask of every cell, computed once and cached in the cell's
// header word; substitution of a value for a local variable; the total
// order on cells.
//
// Shapes: a lambda node is ((\ v) body); a let node is ((({ k) y) z).
// All operations iterate with explicit stacks, so expressions of any depth
// are safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "cells/cell.h"

namespace tove {

// Fills the analysis of a cell and of every unanalysed cell below it.
void analyse_node(Cell* c);

// The readers below analyse the cell first when needed; afterwards each is
// one read of the header word.
inline uint8_t analysed_bits(Cell* c) {
  uint8_t bits = analysis_bits(c);
  if (__builtin_expect(bits == 0, 0)) {
    analyse_node(c);
    bits = analysis_bits(c);
  }
  return bits;
}
// The same questions of analysis bits already read, for a loop that
// classifies a cell once and asks several.
inline int arity_of_bits(uint8_t bits) {
  return bits == kTagData ? 1 : static_cast<int>(bits & kTagArityMask) - kArityBias;
}
inline bool pending_of_bits(uint8_t bits) { return bits != kTagData && (bits & kTagPending) != 0; }
namespace analysis_detail {
constexpr bool done_by_rule(uint8_t bits) {
  if (bits == kTagData) return true;
  return (bits & kTagPending) == 0 && static_cast<int>(bits & kTagArityMask) - kArityBias >= 1;
}
// The rule looked up for every value of the seven analysis bits: the
// machine asks it of the focus on every transition, and the lookup is one
// load where the rule is several tests.
constexpr auto make_done_table() {
  struct Table {
    bool done[kTagAnalysis + 1];
  } table{};
  for (unsigned bits = 0; bits <= kTagAnalysis; ++bits)
    table.done[bits] = done_by_rule(static_cast<uint8_t>(bits));
  return table;
}
inline constexpr auto kDoneTable = make_done_table();
}  // namespace analysis_detail
inline bool done_of_bits(uint8_t bits) {
  TOVE_CHECK(bits <= kTagAnalysis);
  return analysis_detail::kDoneTable.done[bits];
}
// 1 for a data node, else the stored remaining arity.
inline int node_arity(Cell* c) { return arity_of_bits(analysed_bits(c)); }
inline bool is_data(Cell* c) { return analysed_bits(c) == kTagData; }
// A redex sits in an argument position.
inline bool is_pending(Cell* c) { return pending_of_bits(analysed_bits(c)); }
// Data, or not pending with a remaining arity of at least 1.
inline bool is_done(Cell* c) { return done_of_bits(analysed_bits(c)); }
// The free-variable mask: 0 for data and for atoms that record a length.
inline uint32_t node_mask(Cell* c) {
  const uint8_t bits = analysed_bits(c);
  if (bits == kTagData) return 0;
  if (is_atom(c) && records_length(head_char(c))) return 0;
  return payload(c);
}

// Analysis of a pair from its analysed parts, inline because the evaluator
// analyses every pair it builds: each part's header is read once and the
// pair's header is written once. The rarer shapes (a data part, a let key)
// take the out-of-line paths.
namespace analysis_detail {
void analyse_pair_with_data(Cell* node, uint64_t left_header, uint64_t right_header);
uint32_t let_mask(Cell* left, uint32_t left_mask, uint32_t right_mask, uint32_t fallback);

// The free-variable mask of an analysed cell that is not data, from its
// header word. Of the atoms only a local variable has a mask, and only a
// local variable (or a global of more than ten parameters, whose payload is
// empty) has the unbounded arity; the payload of any other atom is empty or
// a recorded length.
inline uint32_t mask_of_header(uint64_t header) {
  const uint32_t payload_bits = static_cast<uint32_t>((header & kPayloadMask) >> kPayloadShift);
  if (static_cast<int64_t>(header) >= 0) return payload_bits;
  const uint8_t field = static_cast<uint8_t>(header >> kTagShift) & kTagArityMask;
  return field == kArityUnbounded + kArityBias ? payload_bits : 0;
}

// What the pair's maker knows of it:
//   any     nothing
//   plain   it is no lambda node, let node or partial let (shapes read
//           from its left part's own parts), and its free-variable mask is
//           `plain_mask` unless a part is data
//   closed  both parts are closed, so the pair is too: only a lambda node,
//           which is never pending, needs its left part's parts read
enum class PairKnown : uint8_t { any, plain, closed };
template <PairKnown kKnown>
[[gnu::always_inline]] inline void analyse_pair_of_parts(Cell* node, uint32_t plain_mask) {
  Cell* left = static_cast<Pair*>(node)->left;
  Cell* right = static_cast<Pair*>(node)->right;
  const uint64_t left_header = left->header;
  const uint64_t right_header = right->header;
  const uint8_t left_bits = static_cast<uint8_t>(left_header >> kTagShift) & kTagAnalysis;
  const uint8_t right_bits = static_cast<uint8_t>(right_header >> kTagShift) & kTagAnalysis;
  if (__builtin_expect(left_bits == kTagData || right_bits == kTagData, 0)) {
    analyse_pair_with_data(node, left_header, right_header);
    return;
  }
  // The arity field holds arity + 52; 11 (unbounded, field 63) and the
  // floor (fields 0 and 1) are never decremented.
  const uint8_t left_field = left_bits & kTagArityMask;
  const uint8_t field = (left_field == kArityUnbounded + kArityBias || left_field <= kArityFloor + kArityBias)
                            ? left_field
                            : static_cast<uint8_t>(left_field - 1);
  // Pending: a part is pending, or the right part is a redex (arity < 1).
  bool pending =
      ((left_bits | right_bits) & kTagPending) != 0 || (right_bits & kTagArityMask) < 1 + kArityBias;
  uint32_t mask = plain_mask;
  if constexpr (kKnown == PairKnown::closed) {
    mask = 0;
    if (static_cast<int64_t>(left_header) >= 0 && head_char(static_cast<Pair*>(left)->left) == '\\') {
      pending = false;
    }
  } else if constexpr (kKnown == PairKnown::any) {
    const uint32_t left_mask = mask_of_header(left_header);
    const uint32_t right_mask = mask_of_header(right_header);
    mask = left_mask | right_mask;
    if (static_cast<int64_t>(left_header) >= 0) {
      Cell* inner = static_cast<Pair*>(left)->left;
      if (is_atom(inner)) {
        const unsigned char binder = head_char(inner);
        if (binder == '\\') {
          // Lambda node: the bound variable leaves the mask; bodies are
          // never pending.
          mask = right_mask & ~left_mask;
          pending = false;
        } else if (binder == '{') {
          mask = let_mask(left, left_mask, right_mask, mask);
        }
      } else if (head_char(static_cast<Pair*>(inner)->left) == '{') {
        // Only a let node has "{" two levels down its left side.
        mask = let_mask(left, left_mask, right_mask, mask);
      }
    }
  }
  node->header = (node->header & ~(kPayloadMask | kTagMask)) | (uint64_t{mask} << kPayloadShift) |
                 (uint64_t{static_cast<uint8_t>(field | (pending ? kTagPending : 0))} << kTagShift);
}

[[gnu::always_inline]] inline void analyse_built_pair(Cell* node) {
  analyse_pair_of_parts<PairKnown::any>(node, 0);
}
// For a pair its maker knows to be no lambda node, let node or partial
// let, of the free-variable mask `mask` when no part is data: the reads of
// its left part's parts and of the parts' masks are spared.
inline void analyse_plain_pair(Cell* node, uint32_t mask) {
  analyse_pair_of_parts<PairKnown::plain>(node, mask);
}
}  // namespace analysis_detail

// A value v that makes (v x) a lambda node, a partial let or a let node,
// the shapes the analysis of a pair treats apart.
inline bool makes_binder(const Cell* v) {
  if (is_atom(v)) return false;
  const Cell* left = pair_left(v);
  if (is_atom(left)) return head_char(left) == '\\' || head_char(left) == '{';
  return is_atom(pair_left(left)) && head_char(pair_left(left)) == '{';
}

// A number or a byte string atom is no name: remaining arity 1, never
// pending, no variables. The builders of integers and byte strings, which
// the primitives call on every operation, analyse each one at once, so the
// machine's first look at a primitive's answer is one read.
inline void analyse_value_atom(Cell* atom) {
  TOVE_CHECK(atom_kind(atom) == AtomKind::number || atom_kind(atom) == AtomKind::bytes);
  set_analysis_bits(atom, static_cast<uint8_t>(1 + kArityBias));
}

// A new pair (left right) from two counts the caller hands over, with its
// analysis filled in at once from the analysis of its parts, which are
// analysed first if they are not yet. The result owns one count.
inline Cell* new_analysed_pair(Cell* left, Cell* right) {
  analysed_bits(left);
  analysed_bits(right);
  Cell* pair = new_pair(left, right);
  analysis_detail::analyse_built_pair(pair);
  return pair;
}
// The same, for parts known to be analysed already (the cells of a
// definition body, and the arguments of a redex, which its own analysis
// covered): the checking builds make sure.
[[gnu::always_inline]] inline Cell* new_pair_of_analysed(Cell* left, Cell* right) {
  TOVE_CHECK(analysis_bits(left) != 0 && analysis_bits(right) != 0);
  Cell* pair = new_pair(left, right);
  analysis_detail::analyse_built_pair(pair);
  return pair;
}
// The same, for a pair its maker knows to be no lambda node, let node or
// partial let, of the free-variable mask `mask` unless a part is data.
[[gnu::always_inline]] inline Cell* new_plain_pair_of_analysed(Cell* left, Cell* right, uint32_t mask) {
  TOVE_CHECK(analysis_bits(left) != 0 && analysis_bits(right) != 0);
  Cell* pair = new_pair(left, right);
  analysis_detail::analyse_plain_pair(pair, mask);
  TOVE_CHECK(analysis_bits(pair) == kTagData || payload(pair) == (node_mask(left) | node_mask(right)));
  return pair;
}
// The same, for two closed parts known to be analysed (a done value of the
// machine and a part of one of its frames).
inline Cell* new_closed_pair_of_analysed(Cell* left, Cell* right) {
  TOVE_CHECK(analysis_bits(left) != 0 && analysis_bits(right) != 0);
  TOVE_CHECK(node_mask(left) == 0 && node_mask(right) == 0);
  Cell* pair = new_pair(left, right);
  analysis_detail::analyse_pair_of_parts<analysis_detail::PairKnown::closed>(pair, 0);
  return pair;
}
// The same as new_analysed_pair, consuming two references.
inline CellRef make_analysed_pair(CellRef left, CellRef right) {
  Cell* l = left.leak();
  return CellRef::adopt(new_analysed_pair(l, right.leak()));
}

// A new expression with `value` for every free occurrence of local variable
// `letter` ('a' .. 'z'); unchanged paths are shared.
CellRef substitute(Cell* expr, char letter, Cell* value);
// The same expression, with each new pair of a shallow expression analysed
// as it is built.
CellRef substitute_analysed(Cell* expr, char letter, Cell* value);

// expr[first := first_value][second := second_value] for two different
// letters, in one walk, each new pair analysed as it is built. The values
// must be closed and make no binder shape where they land (no "\" or
// "{" atom, no pair with one on its left, no partial let), so that the
// first substitution cannot change how the second one walks: then both at
// once give the same cells, new and shared, as one after the other.
CellRef substitute_two_analysed(Cell* expr, char first, Cell* first_value, char second, Cell* second_value);

// +1 when a comes first, -1 when b comes first, 0 when equal.
int compare_cells(const Cell* a, const Cell* b);
size_t atom_weight(const Cell* c);

// A non-empty lower-case word, or one name character (upper-case letter,
// control byte 1-31, byte 0x7F and up, or one of the 27 operator characters).
bool is_name_token(std::string_view text);

// The atom whose whole text is the one character `binder`.
inline bool is_binder_text(const Cell* c, char binder) {
  return is_atom(c) && atom_chars(c)[0] == binder && atom_chars(c)[1] == '\0';
}
// ((\ v) body), binder text exactly "\"
inline bool is_lambda_node(const Cell* c) {
  return is_pair(c) && is_pair(pair_left(c)) && is_binder_text(pair_left(pair_left(c)), '\\');
}
// ((({ k) y) z), binder text exactly "{"
inline bool is_let_node(const Cell* c) {
  if (!is_pair(c) || !is_pair(pair_left(c))) return false;
  Cell* inner = pair_left(pair_left(c));
  return is_pair(inner) && is_binder_text(pair_left(inner), '{');
}

}  // namespace tove
