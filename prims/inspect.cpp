// Value inspection: taking trees apart, both as data nodes and in the
// wrapped form V (X J) c that programs build, and looking at any value's
// kind, identity as a cell, address and printed form.
#include <cstdint>

#include "cells/print.h"
#include "cells/sharing.h"
#include "numbers/numbers.h"
#include "numbers/trees.h"
#include "prims/family.h"

namespace tove {

namespace {

enum class Side { leading, last };

// The leading or last part of a tree: of a data node, or of a wrapped form
// V (X J) ((J l) r) as the wrapped form of l or r.
CellRef tree_part(CellRef redex, Side side) {
  auto [x] = redex_arguments<1>(redex.get());
  if (classify_kind(x) == ValueKind::data) {
    if (tree_is_empty(x)) return make_refusal();
    return side == Side::leading ? tree_leading(x) : tree_last(x);
  }
  Cell* contents = wrapped_contents(x);
  if (contents == nullptr || !is_pair(contents)) return make_refusal();
  Cell* inner = pair_left(contents);
  if (!is_pair(inner) || head_char(pair_left(inner)) != 'J') return make_refusal();
  Cell* part = side == Side::leading ? pair_right(inner) : pair_right(contents);
  return make_pair(pair_left(x), part);
}

const char* kind_name(ValueKind kind) {
  switch (kind) {
    case ValueKind::bytes: return "[post]";
    case ValueKind::real: return "[real]";
    case ValueKind::integer: return "[hint]";
    case ValueKind::fraction: return "[numb]";
    case ValueKind::data: return "[zits]";
    case ValueKind::other: break;
  }
  return "[void]";
}

}  // namespace

// leaf x: whether the tree x is empty.
static CellRef prim_leaf(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  if (classify_kind(x) == ValueKind::data) return make_truth(tree_is_empty(x));
  Cell* contents = wrapped_contents(x);
  if (contents == nullptr) return make_refusal();
  return make_truth(is_atom(contents) && head_char(contents) == 'K');
}

static CellRef prim_left(CellRef redex) { return tree_part(std::move(redex), Side::leading); }

static CellRef prim_rght(CellRef redex) { return tree_part(std::move(redex), Side::last); }

// type x: a text naming the kind of x, the same cell for every equal name.
static CellRef prim_type(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  return share_value(make_atom(kind_name(classify_kind(x))));
}

// tern x: the one shared cell equal to x.
static CellRef prim_tern(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  return share_value(CellRef::retained(x));
}

// leak x: the address of x's cell.
static CellRef prim_leak(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  return integer_from_uint64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(x)));
}

// raws x y: whether x and y are the very same cell.
static CellRef prim_raws(CellRef redex) {
  auto [x, y] = redex_arguments<2>(redex.get());
  return make_truth(x == y);
}

// lisp x: the printed form of x as a text literal.
static CellRef prim_lisp(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  return text_literal_atom(print_expression(x));
}

// ---- members --------------------------------------------------------------------------

std::span<const BuiltinSpec> inspection_members() {
  static constexpr BuiltinSpec kMembers[] = {
      {"leaf", 1, prim_leaf}, {"leak", 1, prim_leak}, {"left", 1, prim_left}, {"lisp", 1, prim_lisp},
      {"raws", 2, prim_raws}, {"rght", 1, prim_rght}, {"tern", 1, prim_tern}, {"type", 1, prim_type},
  };
  return kMembers;
}

}  // namespace tove
