// The comparison primitives: less, gteq, same and diff order two values of
// one kind by value (and values of different kinds by their kind letters);
// cmpr orders any two cells by structure.
#include <cmath>
#include <string>
#include <string_view>

#include "cells/analysis.h"
#include "numbers/family.h"
#include "numbers/numbers.h"

namespace tove {

namespace {

enum class Order { less, equal, greater, unordered };

Order order_of(int c) { return c < 0 ? Order::less : c > 0 ? Order::greater : Order::equal; }
Order order_of_words(int64_t x, int64_t y) {
  return x < y ? Order::less : x > y ? Order::greater : Order::equal;
}

// What each comparison answers "K" to.
bool is_less(Order order) { return order == Order::less; }
bool is_greater_or_equal(Order order) { return order == Order::greater || order == Order::equal; }
bool is_equal(Order order) { return order == Order::equal; }
bool is_unequal(Order order) { return order != Order::equal; }

// Byte-wise, unsigned; a proper prefix comes first.
Order order_texts(std::string_view a, std::string_view b) { return order_of(a.compare(b)); }

// Canonical integer texts: the sign, then the magnitude's length, then its
// digits.
Order order_integers(Cell* a, Cell* b) {
  int64_t x_small, y_small;
  if (is_atom(a) && is_atom(b) && atom_text(a).size() <= 20 && atom_text(b).size() <= 20 &&
      small_from_tove_text(atom_text(a), &x_small) && small_from_tove_text(atom_text(b), &y_small)) {
    return x_small < y_small ? Order::less : x_small > y_small ? Order::greater : Order::equal;
  }
  std::string sa, sb;
  std::string_view x = canonical_number_text(a, sa);
  std::string_view y = canonical_number_text(b, sb);
  const SignedDigits xs = split_integer_sign(x);
  const SignedDigits ys = split_integer_sign(y);
  const bool x_negative = xs.negative;
  if (x_negative != ys.negative) return x_negative ? Order::less : Order::greater;
  x = xs.digits;
  y = ys.digits;
  int c = x.size() != y.size() ? (x.size() < y.size() ? -1 : 1) : x.compare(y);
  return order_of(x_negative ? -c : c);
}

Order order_same_kind(Cell* a, Cell* b, ValueKind kind) {
  switch (kind) {
    case ValueKind::bytes: return order_texts(byte_string_contents(a), byte_string_contents(b));
    case ValueKind::real: {
      const double x = real_value(a), y = real_value(b);
      if (std::isnan(x) || std::isnan(y)) return Order::unordered;
      return x < y ? Order::less : x > y ? Order::greater : Order::equal;
    }
    case ValueKind::integer: return order_integers(a, b);
    case ValueKind::fraction: return order_of(compare_fractions(read_fraction(a), read_fraction(b)));
    case ValueKind::data: return order_texts(data_text(a), data_text(b));
    case ValueKind::other: break;
  }
  TOVE_ASSERT(false);
  return Order::unordered;
}

// The order of two values; values of different kinds by their kind letters.
// False for an argument of kind `w`.
bool order_values(const CellRef& redex, Order* order) {
  auto [a, b] = redex_arguments<2>(redex.get());
  int64_t x, y;
  if (read_short_integer(a, &x) && read_short_integer(b, &y)) {
    *order = order_of_words(x, y);
    return true;
  }
  const ValueKind ka = classify_kind(a);
  const ValueKind kb = classify_kind(b);
  if (ka == ValueKind::other || kb == ValueKind::other) return false;
  if (ka != kb) {
    *order = static_cast<char>(ka) < static_cast<char>(kb) ? Order::less : Order::greater;
    return true;
  }
  *order = order_same_kind(a, b, ka);
  return true;
}

// A comparison's handler, and its truth and word rules: two short
// integers are ordered by value.
template <bool (*answers_k)(Order)>
CellRef comparison_handler(CellRef redex) {
  Order order;
  if (!order_values(redex, &order)) return make_refusal();
  return make_truth(answers_k(order));
}
template <bool (*answers_k)(Order)>
bool comparison_truth(int64_t x, int64_t y) {
  return answers_k(order_of_words(x, y));
}
template <bool (*answers_k)(Order)>
CellRef comparison_words(int64_t x, int64_t y) {
  return make_truth(comparison_truth<answers_k>(x, y));
}

}  // namespace

static CellRef cmpr_handler(CellRef redex) {
  auto [a, b] = redex_arguments<2>(redex.get());
  return make_integer(static_cast<int64_t>(compare_cells(a, b)));
}

// ---- members --------------------------------------------------------------------------

std::span<const BuiltinSpec> comparison_members() {
  static constexpr BuiltinSpec kMembers[] = {
      {"less", 2, comparison_handler<is_less>, Reach::inside, comparison_words<is_less>,
       comparison_truth<is_less>},
      {"gteq", 2, comparison_handler<is_greater_or_equal>, Reach::inside,
       comparison_words<is_greater_or_equal>, comparison_truth<is_greater_or_equal>},
      {"same", 2, comparison_handler<is_equal>, Reach::inside, comparison_words<is_equal>,
       comparison_truth<is_equal>},
      {"diff", 2, comparison_handler<is_unequal>, Reach::inside, comparison_words<is_unequal>,
       comparison_truth<is_unequal>},
      {"cmpr", 2, cmpr_handler},
  };
  return kMembers;
}

}  // namespace tove
