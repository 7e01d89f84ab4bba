#include "numbers/args.h"

#include <limits>

#include "cells/encoding.h"
#include "numbers/numbers.h"

namespace tove {

namespace {

// Integers of a signed 64-bit value have at most 20 characters ("0" and 19
// digits) and at most 65 elements in their bit list.
constexpr size_t kLongestMachineIntegerText = 20;
constexpr uint64_t kLongestMachineIntegerList = 65;

bool readable_integer(Cell* value) {
  return classify_kind(value) == ValueKind::integer && is_readable_number(value);
}

}  // namespace

// ---- roles --------------------------------------------------------------------------------

bool is_readable_number(Cell* value) {
  const ValueKind kind = classify_kind(value);
  if (kind != ValueKind::integer && kind != ValueKind::fraction) return false;
  return is_atom(value) || is_well_formed_bit_list(value);
}

// A short integer in canonical form, the common argument, is read straight
// from its digits, with no look at its kind first.
std::optional<int64_t> wrapped_integer(Cell* value) {
  if (int64_t n; read_short_integer(value, &n)) return n;
  if (!readable_integer(value)) return std::nullopt;
  return integer_to_int64(value);
}

std::optional<int64_t> exact_integer(Cell* value) {
  if (int64_t n; read_short_integer(value, &n)) return n;
  if (!readable_integer(value)) return std::nullopt;
  if (is_atom(value) ? atom_text(value).size() > kLongestMachineIntegerText
                     : bit_list_length(value) > kLongestMachineIntegerList) {
    return std::nullopt;
  }
  const int64_t n = integer_to_int64(value);
  if (number_text(value) != decimal_from_int64(n)) return std::nullopt;
  return n;
}

std::optional<int64_t> position_argument(Cell* value) {
  if (std::optional<int64_t> exact = exact_integer(value)) return exact;
  if (!readable_integer(value)) return std::nullopt;
  return is_non_negative(value) ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

std::optional<int32_t> int32_argument(Cell* value) {
  std::optional<int64_t> n = wrapped_integer(value);
  if (!n) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(*n));
}

std::optional<uint64_t> address_argument(Cell* value) {
  // The lowest mappable address of the host (its default mmap_min_addr),
  // and the kernel's half of the address space.
  constexpr uint64_t kLowestMapped = uint64_t{64} << 10;
  std::optional<int64_t> n = wrapped_integer(value);
  if (!n) return std::nullopt;
  if (*n < 0) return std::nullopt;
  const auto address = static_cast<uint64_t>(*n);
  if (address != 0 && address < kLowestMapped) return std::nullopt;
  return address;
}

std::optional<CountedString> counted_string_argument(Cell* value) {
  if (is_atom(value)) {
    switch (atom_kind(value)) {
      case AtomKind::bytes:
        return CountedString{byte_string_start(value), byte_string_contents(value).size()};
      case AtomKind::text: return CountedString{atom_chars(value), atom_text(value).size()};
      default: break;
    }
  }
  std::optional<uint64_t> address = address_argument(value);
  if (!address) return std::nullopt;
  return CountedString{reinterpret_cast<const char*>(static_cast<uintptr_t>(*address)), SIZE_MAX};
}

std::optional<const char*> string_argument(Cell* value) {
  std::optional<CountedString> string = counted_string_argument(value);
  if (!string) return std::nullopt;
  return string->text;
}

std::optional<double> real_argument(const Cell* value) {
  if (atom_kind(value) != AtomKind::real) return std::nullopt;
  return real_value(value);
}

std::optional<bool> truth_argument(const Cell* value) {
  switch (head_char(value)) {
    case 'K': return true;
    case 'H': return false;
    default: return std::nullopt;
  }
}

// ---- results ------------------------------------------------------------------------------

CellRef make_refusal() { return make_atom("Z"); }

CellRef make_identity() { return make_atom("I"); }

CellRef make_truth(bool value) { return make_atom(value ? std::string_view("K") : std::string_view("H")); }

}  // namespace tove
