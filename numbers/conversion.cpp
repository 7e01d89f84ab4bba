// The unary primitives real, rank and buck, and the operand readers and
// result builders that every number primitive shares.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cells/analysis.h"
#include "numbers/family.h"
#include "numbers/numbers.h"
#include "numbers/trees.h"

namespace tove {

// ---- shared operands and results ----------------------------------------------------------

std::string data_text(const Cell* node) {
  if (is_atom(node)) {
    std::string_view text = atom_text(node);
    TOVE_ASSERT(text.size() >= 2);
    return std::string(text.substr(1, text.size() - 2));
  }
  std::string text = tree_text(node);
  TOVE_ASSERT(text.size() >= 2);
  return text.substr(1, text.size() - 2);
}

std::string_view canonical_number_text(const Cell* number, std::string& storage) {
  if (is_atom(number)) {
    std::string_view text = atom_text(number);
    if (!text.empty() && all_decimal_digits(text)) return text;
  }
  storage = number_text(number);
  return storage;
}

namespace {

// ---- real -------------------------------------------------------------------------------------

// A complete tree six levels deep of ((V l) r) nodes over 64 leaves "K"
// (a set bit) and "H" (a clear one), bit 0 leftmost: the bit pattern it
// spells, or false for any other shape.
bool read_bit_tree(Cell* tree, uint64_t* pattern) {
  struct Item {
    Cell* node;
    int depth;
  };
  std::vector<Item> pending{{tree, 0}};
  uint64_t bits = 0;
  int next_bit = 0;
  while (!pending.empty()) {
    Item item = pending.back();
    pending.pop_back();
    if (item.depth == 6) {
      const unsigned char h = head_char(item.node);
      if (!is_atom(item.node) || (h != 'K' && h != 'H')) return false;
      if (h == 'K') bits |= uint64_t{1} << next_bit;
      ++next_bit;
      continue;
    }
    if (!is_pair(item.node)) return false;
    Cell* left = pair_left(item.node);
    if (!is_pair(left) || !is_atom(pair_left(left)) || head_char(pair_left(left)) != 'V') return false;
    pending.push_back({pair_right(item.node), item.depth + 1});
    pending.push_back({pair_right(left), item.depth + 1});
  }
  *pattern = bits;
  return true;
}

// ---- rank -------------------------------------------------------------------------------------

// The written length of a data node taken apart without abbreviating: a
// text literal's own length, a data pair the sum of its parts'. Node
// analysis records the sum in a data pair's payload while it is small;
// larger sums are added up here, once per shared node.
BigInt written_length(Cell* node) {
  std::unordered_map<Cell*, BigInt> done;
  std::vector<Cell*> pending{node};
  auto known = [&](Cell* c, BigInt* out) {
    if (is_atom(c)) {
      *out = BigInt::from_uint64(atom_text(c).size());
      return true;
    }
    if (is_data(c) && payload(c) >= 2) {
      *out = BigInt::from_uint64(payload(c));
      return true;
    }
    auto it = done.find(c);
    if (it == done.end()) return false;
    *out = it->second;
    return true;
  };
  BigInt result;
  while (!pending.empty()) {
    Cell* c = pending.back();
    if (known(c, &result)) {
      pending.pop_back();
      continue;
    }
    BigInt left, right;
    const bool have_left = known(pair_left(c), &left);
    const bool have_right = known(pair_right(c), &right);
    if (have_left && have_right) {
      done.emplace(c, add(left, right));
      pending.pop_back();
      continue;
    }
    if (!have_left) pending.push_back(pair_left(c));
    if (!have_right) pending.push_back(pair_right(c));
  }
  TOVE_ASSERT(known(node, &result));
  return result;
}

}  // namespace

// ---- handlers ------------------------------------------------------------------------------------

static CellRef real_handler(CellRef redex) {
  auto [a] = redex_arguments<1>(redex.get());
  switch (classify_kind(a)) {
    case ValueKind::real: return CellRef::retained(a);
    case ValueKind::integer: return make_real(integer_to_double(a));
    case ValueKind::fraction: return make_real(fraction_to_double(a));
    case ValueKind::bytes: {
      // Read as a C string: up to the first zero byte.
      const std::string contents(byte_string_contents(a));
      return make_real(std::strtod(contents.c_str(), nullptr));
    }
    case ValueKind::data: return make_real(std::atof(data_text(a).c_str()));
    case ValueKind::other: {
      uint64_t pattern;
      if (!read_bit_tree(a, &pattern)) return make_refusal();
      return make_real(std::bit_cast<double>(pattern));
    }
  }
  return make_refusal();
}

static CellRef rank_handler(CellRef redex) {
  auto [a] = redex_arguments<1>(redex.get());
  switch (classify_kind(a)) {
    case ValueKind::bytes: return make_integer(static_cast<int64_t>(byte_string_contents(a).size()));
    case ValueKind::real: return make_integer(int64_t{8});
    case ValueKind::integer:
    case ValueKind::fraction: {
      std::string storage;
      return make_integer(static_cast<int64_t>(canonical_number_text(a, storage).size()));
    }
    case ValueKind::data:
      if (is_atom(a)) return make_integer(static_cast<int64_t>(atom_text(a).size()) - 2);
      return make_integer(subtract(written_length(a), BigInt::from_int64(2)));
    case ValueKind::other: break;
  }
  return make_refusal();
}

static CellRef buck_handler(CellRef redex) {
  auto [a] = redex_arguments<1>(redex.get());
  switch (classify_kind(a)) {
    case ValueKind::real: return make_truth(!(real_value(a) < 0.0));
    case ValueKind::integer: return make_truth(is_non_negative(a));
    case ValueKind::fraction: return make_truth(bit_get(value_to_bits(a), 1));  // bit 0 of N
    case ValueKind::bytes: {
      std::string_view contents = byte_string_contents(a);
      if (contents.empty()) return make_refusal();
      return byte_literal(static_cast<unsigned char>(contents[0]));
    }
    case ValueKind::data:
      if (tree_is_empty(a)) return make_refusal();
      return tree_leading(a);
    case ValueKind::other: break;
  }
  return make_refusal();
}

// ---- members --------------------------------------------------------------------------

std::span<const BuiltinSpec> real_conversion_members() {
  static constexpr BuiltinSpec kMembers[] = {
      {"real", 1, real_handler},
      {"rank", 1, rank_handler},
      {"buck", 1, buck_handler},
  };
  return kMembers;
}

}  // namespace tove
