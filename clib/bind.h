// How a C function becomes a built-in primitive.
//
// A member is one row: its name and a function whose parameter types name
// the argument roles and whose result type names the result form, e.g.
//
//   member<+[](Str s) { return std::strlen(s); }>("strlen")
//
// The arity is the number of parameters, so it cannot disagree with the
// signature. The generated handler collects the arguments, decodes each in
// order by its role and answers "Z" at the first mismatch, before anything
// is called; then it calls the function once and builds the result. Every
// member reaches outside the process, so a sandboxed one refuses it.
//
// Parameter types and their roles (numbers/args.h):
//   int64_t        integer, its low 64 bits
//   int32_t        integer truncated to a C `int` or 32-bit `long`
//   uint32_t       integer truncated to 32 bits, unsigned
//   Size           a count or size for memory: an integer from 0 to 2^63-1;
//                  anything else is refused rather than truncated into a
//                  count that would reach past the memory meant
//   Count          the same for a C `int` count: 0 to 2^31-1
//   T*             address, the integer taken as a pointer (0 is null)
//   Str            string: an address, a byte string or a text literal
//   Bytes          the same, read by count: it also carries the number of
//                  bytes the argument's cell stores, so a member refuses a
//                  count past them (an address carries no bound: what it
//                  points to is the program's responsibility, as in C)
//   double         real
//   bool           truth
// Result types and their forms:
//   void           "I"
//   bool           "K" or "H"
//   double         a real
//   signed         an integer (a 32-bit result is sign-extended)
//   unsigned       an integer from the unsigned value
//   T*             the address as an integer (null is 0)
//   CellRef        as built by the function
//   std::optional  "Z" for nullopt, otherwise the value's form: a member
//                  refuses a combination of arguments before it calls C
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "cells/cell.h"
#include "cells/tables.h"
#include "numbers/args.h"

namespace tove::clib {

// ---- role types ---------------------------------------------------------------------------

struct Str {
  const char* text;
  operator const char*() const { return text; }
};

struct Bytes {
  const char* text;
  size_t stored;  // SIZE_MAX for an address
  // Whether `count` items of `size` bytes lie within the stored bytes.
  bool holds(size_t size, size_t count) const {
    if (stored == SIZE_MAX) return true;
    size_t total = 0;
    return !__builtin_mul_overflow(size, count, &total) && total <= stored;
  }
};

struct Size {
  size_t value;
  operator size_t() const { return value; }
};

struct Count {
  int value;
  operator int() const { return value; }
};

template <typename T>
struct Role;

template <>
struct Role<int64_t> {
  static std::optional<int64_t> decode(Cell* c) { return wrapped_integer(c); }
};
template <>
struct Role<int32_t> {
  static std::optional<int32_t> decode(Cell* c) { return int32_argument(c); }
};
template <>
struct Role<uint32_t> {
  static std::optional<uint32_t> decode(Cell* c) {
    std::optional<int64_t> n = wrapped_integer(c);
    if (!n) return std::nullopt;
    return static_cast<uint32_t>(*n);
  }
};
template <>
struct Role<Size> {
  static std::optional<Size> decode(Cell* c) {
    std::optional<int64_t> n = exact_integer(c);
    if (!n || *n < 0) return std::nullopt;
    return Size{static_cast<size_t>(*n)};
  }
};
template <>
struct Role<Count> {
  static std::optional<Count> decode(Cell* c) {
    std::optional<int64_t> n = exact_integer(c);
    if (!n || *n < 0 || *n > INT32_MAX) return std::nullopt;
    return Count{static_cast<int>(*n)};
  }
};
template <typename T>
struct Role<T*> {
  static std::optional<T*> decode(Cell* c) {
    std::optional<uint64_t> address = address_argument(c);
    if (!address) return std::nullopt;
    return reinterpret_cast<T*>(static_cast<uintptr_t>(*address));
  }
};
template <>
struct Role<Str> {
  static std::optional<Str> decode(Cell* c) {
    std::optional<const char*> text = string_argument(c);
    if (!text) return std::nullopt;
    return Str{*text};
  }
};
template <>
struct Role<Bytes> {
  static std::optional<Bytes> decode(Cell* c) {
    std::optional<CountedString> string = counted_string_argument(c);
    if (!string) return std::nullopt;
    return Bytes{string->text, string->stored};
  }
};
template <>
struct Role<double> {
  static std::optional<double> decode(Cell* c) { return real_argument(c); }
};
template <>
struct Role<bool> {
  static std::optional<bool> decode(Cell* c) { return truth_argument(c); }
};

// ---- result forms --------------------------------------------------------------------------

template <typename R>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename R>
CellRef result_form(R value) {
  if constexpr (IsOptional<R>::value) {
    if (!value) return make_refusal();
    return result_form(std::move(*value));
  } else if constexpr (std::is_same_v<R, CellRef>) {
    return value;
  } else if constexpr (std::is_same_v<R, bool>) {
    return make_truth(value);
  } else if constexpr (std::is_floating_point_v<R>) {
    return make_real(static_cast<double>(value));
  } else if constexpr (std::is_pointer_v<R>) {
    return integer_from_int64(static_cast<int64_t>(reinterpret_cast<uintptr_t>(value)));
  } else if constexpr (std::is_integral_v<R> && std::is_signed_v<R>) {
    return integer_from_int64(static_cast<int64_t>(value));
  } else {
    static_assert(std::is_integral_v<R> && std::is_unsigned_v<R>, "no result form for this type");
    return integer_from_uint64(static_cast<uint64_t>(value));
  }
}

// ---- the handler ----------------------------------------------------------------------------

template <auto Fn>
struct Binding;

template <typename R, typename... A, R (*Fn)(A...)>
struct Binding<Fn> {
  static constexpr uint8_t arity = sizeof...(A);

  static CellRef handle(CellRef redex) {
    const auto cells = redex_arguments<sizeof...(A)>(redex.get());
    std::tuple<std::optional<std::decay_t<A>>...> decoded;
    const bool accepted = [&]<size_t... I>(std::index_sequence<I...>) {
      return ((std::get<I>(decoded) = Role<std::decay_t<A>>::decode(cells[I]),
               std::get<I>(decoded).has_value()) &&
              ...);
    }
    (std::index_sequence_for<A...>{});
    if (!accepted) return make_refusal();
    return [&]<size_t... I>(std::index_sequence<I...>) {
      if constexpr (std::is_void_v<R>) {
        Fn(*std::get<I>(decoded)...);
        return make_identity();
      } else {
        return result_form<R>(Fn(*std::get<I>(decoded)...));
      }
    }
    (std::index_sequence_for<A...>{});
  }
};

template <auto Fn>
constexpr BuiltinSpec member(std::string_view name) {
  return {name, Binding<Fn>::arity, &Binding<Fn>::handle, Reach::outside};
}

// A constant of arity 0.
template <int64_t Value>
CellRef constant_handler(CellRef redex) {
  return integer_from_int64(Value);
}
template <int64_t Value>
constexpr BuiltinSpec constant(std::string_view name) {
  return {name, 0, &constant_handler<Value>};
}

}  // namespace tove::clib
