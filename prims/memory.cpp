// Raw memory and byte-level editing: reading and writing machine memory at
// an integer address, storing a value's raw bytes, reading and changing one
// element of a byte string, real, bit list or text, and the conversion
// between byte strings and text literals.
//
// Memory is read and written byte by byte in the exact width each primitive
// names, in the machine's byte order and with no alignment requirement.
// Addresses are not checked: like the C library these primitives mirror,
// they trust the program to pass memory it owns. A sandboxed process
// refuses them all.
#include <cstring>
#include <type_traits>

#include "cells/tables.h"
#include "numbers/numbers.h"
#include "prims/family.h"

namespace tove {

namespace {

// A list may grow to this many elements through one `cork`; a position
// further out would ask for more memory than any number deserves.
constexpr int64_t kLongestCorkedList = int64_t{1} << 30;

// What a store answers: I, the identity.
CellRef store_answer() { return make_atom("I"); }

void* address_pointer(uint64_t address) { return reinterpret_cast<void*>(static_cast<uintptr_t>(address)); }

// Copies bytes to or from an address the program named. Such an address is
// the program's business, as in C: a sanitized build must not report it as
// the interpreter's fault, so the copy is a plain byte loop kept out of the
// sanitizers' sight, and a bad address faults as it would in any build.
__attribute__((no_sanitize("address", "undefined"))) void copy_raw(void* to, const void* from, size_t n) {
  auto* out = static_cast<volatile unsigned char*>(to);
  const auto* in = static_cast<const volatile unsigned char*>(from);
  for (size_t i = 0; i < n; ++i) out[i] = in[i];
}

// A reading address: the low 64 bits of the integer's magnitude.
std::optional<uint64_t> read_address(Cell* value) {
  if (!wrapped_integer(value)) return std::nullopt;
  return static_cast<uint64_t>(integer_to_int64(integer_abs(value).get()));
}

// A writing address: the integer's signed 64-bit conversion.
std::optional<uint64_t> write_address(Cell* value) {
  std::optional<int64_t> address = wrapped_integer(value);
  if (!address) return std::nullopt;
  return static_cast<uint64_t>(*address);
}

template <typename T>
CellRef read_memory(CellRef redex) {
  auto [where] = redex_arguments<1>(redex.get());
  std::optional<uint64_t> address = read_address(where);
  if (!address) return make_refusal();
  T value;
  copy_raw(&value, address_pointer(*address), sizeof value);
  if constexpr (std::is_same_v<T, uint64_t>) {
    return integer_from_uint64(value);
  } else {
    return integer_from_int64(static_cast<int64_t>(value));
  }
}

template <typename T>
CellRef write_memory(CellRef redex) {
  auto [where, what] = redex_arguments<2>(redex.get());
  std::optional<uint64_t> address = write_address(where);
  std::optional<int64_t> value = wrapped_integer(what);
  if (!address || !value) return make_refusal();
  const T stored = static_cast<T>(*value);
  copy_raw(address_pointer(*address), &stored, sizeof stored);
  return store_answer();
}

// A position counted from the end when negative, then checked against the
// length.
std::optional<uint64_t> index_within(int64_t position, uint64_t length) {
  const int64_t n = static_cast<int64_t>(length);
  if (position < 0) position += n;
  if (position < 0 || position >= n) return std::nullopt;
  return static_cast<uint64_t>(position);
}

// ---- cork and look ----------------------------------------------------------------------------

constexpr int kRealBits = 64;

// Changes one byte of an atom's text where it stands when nothing else can
// see the atom, else in a copy made by `rebuild`.
template <class Rebuild>
CellRef replace_byte(const CellRef& redex, Cell* atom, std::string_view text, uint64_t index,
                     unsigned char byte, Rebuild rebuild) {
  if (held_only_by_redex(redex.get(), 3, 0)) {
    const size_t offset = static_cast<size_t>(text.data() - atom_chars(atom)) + index;
    atom_chars_mutable(atom)[offset] = static_cast<char>(byte);
    return CellRef::retained(atom);
  }
  std::string copy(text);
  copy[index] = static_cast<char>(byte);
  return rebuild(copy);
}

CellRef cork_bytes(const CellRef& redex, Cell* x, int64_t position, Cell* v) {
  std::optional<int64_t> value = wrapped_integer(v);
  if (!value) return make_refusal();
  std::string_view bytes = byte_string_contents(x);
  std::optional<uint64_t> index = index_within(position, bytes.size());
  if (!index) return make_refusal();
  return replace_byte(redex, x, bytes, *index, static_cast<unsigned char>(*value & 0xFF),
                      [](std::string_view b) { return byte_string_atom(b); });
}

CellRef cork_real(Cell* x, int64_t position, Cell* v) {
  std::optional<bool> bit = truth_argument(v);
  std::optional<uint64_t> index = index_within(position, kRealBits);
  if (!bit || !index) return make_refusal();
  uint64_t pattern = real_pattern(x);
  const uint64_t mask = uint64_t{1} << *index;
  pattern = *bit ? (pattern | mask) : (pattern & ~mask);
  return real_from_pattern(pattern);
}

// Element i of a bit list; a position at or beyond the end extends the list
// with 0 elements up to the new one.
CellRef cork_bit_list(Cell* x, int64_t position, Cell* v) {
  std::optional<bool> element = truth_argument(v);
  if (!element || !is_readable_number(x)) return make_refusal();
  const int64_t length = static_cast<int64_t>(bit_list_length(x));
  if (position < 0) position += length;
  if (position < 0 || (position >= length && position >= kLongestCorkedList)) return make_refusal();
  const uint64_t index = static_cast<uint64_t>(position);
  BitList bits = value_to_bits(x);
  if (position >= length) {
    bit_set(bits, index + 1, true);
    bit_set(bits, static_cast<uint64_t>(length), false);
  }
  bit_set(bits, index, *element);
  bit_list_trim(bits);
  if (!bit_list_valid(bits)) return make_refusal();
  return bits_to_value(bits);
}

bool shapes_literal(unsigned char byte) { return !escape_of(byte).empty(); }

// A character of a text that is not a bracket, replaced by a byte that
// keeps the text well formed.
CellRef cork_data(const CellRef& redex, Cell* x, int64_t position, Cell* v) {
  std::optional<int64_t> value = wrapped_integer(v);
  if (!value) return make_refusal();
  std::string storage;
  std::string_view text = data_text_view(x, storage);
  std::optional<uint64_t> index = index_within(position, text.size());
  if (!index) return make_refusal();
  const auto old_byte = static_cast<unsigned char>(text[*index]);
  const auto new_byte = static_cast<unsigned char>(*value & 0xFF);
  if (old_byte == '[' || old_byte == ']' || shapes_literal(new_byte)) return make_refusal();
  if (is_pair(x)) {
    storage = text;
    storage[*index] = static_cast<char>(new_byte);
    return text_literal_atom(storage);
  }
  return replace_byte(redex, x, text, *index, new_byte,
                      [](std::string_view inner) { return text_literal_atom(inner); });
}

CellRef look_bit_list(Cell* x, int64_t position) {
  if (!is_readable_number(x)) return make_refusal();
  const int64_t length = static_cast<int64_t>(bit_list_length(x));
  if (position < 0) position += length;
  if (position < 0) return make_refusal();
  if (position >= length) return make_truth(false);
  return make_truth(bit_get(value_to_bits(x), static_cast<uint64_t>(position)));
}

CellRef look_real(Cell* x, int64_t position) {
  if (position < -kRealBits || position > kRealBits) return make_refusal();
  if (position == kRealBits) return make_truth(false);
  if (position < 0) position += kRealBits;
  return make_truth((real_pattern(x) >> position) & 1);
}

}  // namespace

// ---- handlers ----------------------------------------------------------------------------------

static CellRef prim_getx(CellRef redex) { return read_memory<uint8_t>(std::move(redex)); }
static CellRef prim_gety(CellRef redex) { return read_memory<int8_t>(std::move(redex)); }
static CellRef prim_gett(CellRef redex) { return read_memory<uint16_t>(std::move(redex)); }
static CellRef prim_getv(CellRef redex) { return read_memory<int16_t>(std::move(redex)); }
static CellRef prim_getu(CellRef redex) { return read_memory<uint32_t>(std::move(redex)); }
static CellRef prim_gets(CellRef redex) { return read_memory<int32_t>(std::move(redex)); }
static CellRef prim_getw(CellRef redex) { return read_memory<uint64_t>(std::move(redex)); }
static CellRef prim_getz(CellRef redex) { return read_memory<int64_t>(std::move(redex)); }

static CellRef prim_setx(CellRef redex) { return write_memory<uint8_t>(std::move(redex)); }
static CellRef prim_sett(CellRef redex) { return write_memory<uint16_t>(std::move(redex)); }
static CellRef prim_setu(CellRef redex) { return write_memory<uint32_t>(std::move(redex)); }
static CellRef prim_setw(CellRef redex) { return write_memory<uint64_t>(std::move(redex)); }

// copy x address: the raw bytes of x stored at the address, unterminated.
static CellRef prim_copy(CellRef redex) {
  auto [x, where] = redex_arguments<2>(redex.get());
  std::optional<uint64_t> address = write_address(where);
  if (!address) return make_refusal();
  std::string storage;
  std::string_view bytes;
  switch (classify_kind(x)) {
    case ValueKind::bytes: bytes = byte_string_contents(x); break;
    case ValueKind::real: bytes = atom_text(x).substr(1); break;
    case ValueKind::data: bytes = data_text_view(x, storage); break;
    case ValueKind::integer:
    case ValueKind::fraction:
      if (!is_readable_number(x)) return make_refusal();
      storage = number_text(x);
      bytes = storage;
      break;
    case ValueKind::other: return make_refusal();
  }
  copy_raw(address_pointer(*address), bytes.data(), bytes.size());
  return store_answer();
}

// cork x i v: x with element i replaced by v.
static CellRef prim_cork(CellRef redex) {
  auto [x, i, v] = redex_arguments<3>(redex.get());
  std::optional<int64_t> position = position_argument(i);
  if (!position) return make_refusal();
  switch (classify_kind(x)) {
    case ValueKind::bytes: return cork_bytes(redex, x, *position, v);
    case ValueKind::real: return cork_real(x, *position, v);
    case ValueKind::integer:
    case ValueKind::fraction: return cork_bit_list(x, *position, v);
    case ValueKind::data: return cork_data(redex, x, *position, v);
    case ValueKind::other: break;
  }
  return make_refusal();
}

// look x i: element i of x.
static CellRef prim_look(CellRef redex) {
  auto [x, i] = redex_arguments<2>(redex.get());
  std::optional<int64_t> position = position_argument(i);
  if (!position) return make_refusal();
  switch (classify_kind(x)) {
    case ValueKind::bytes: {
      std::string_view bytes = byte_string_contents(x);
      std::optional<uint64_t> index = index_within(*position, bytes.size());
      if (!index) return make_refusal();
      return integer_from_int64(static_cast<unsigned char>(bytes[*index]));
    }
    case ValueKind::real: return look_real(x, *position);
    case ValueKind::integer:
    case ValueKind::fraction: return look_bit_list(x, *position);
    case ValueKind::data: {
      std::string storage;
      std::string_view text = data_text_view(x, storage);
      std::optional<uint64_t> index = index_within(*position, text.size());
      if (!index) return make_refusal();
      return integer_from_int64(static_cast<unsigned char>(text[*index]));
    }
    case ValueKind::other: break;
  }
  return make_refusal();
}

// cape x: a byte string as a text literal, and a text literal as bytes.
static CellRef prim_cape(CellRef redex) {
  auto [x] = redex_arguments<1>(redex.get());
  switch (classify_kind(x)) {
    // A newline stays as it is in the literal; reading one back takes
    // "[p]" as well.
    case ValueKind::bytes: return escaped_literal(byte_string_contents(x), false);
    case ValueKind::data: {
      std::string storage;
      const std::string_view text = data_text_view(x, storage);
      // A text with no bracket in it has no escape to read: its bytes are
      // its characters.
      if (text.find_first_of("[]") == std::string_view::npos) return byte_string_atom(text);
      std::string bytes;
      if (!unescape(text, bytes)) return make_refusal();
      return byte_string_atom(bytes);
    }
    default: return make_refusal();
  }
}

// ---- members --------------------------------------------------------------------------

std::span<const BuiltinSpec> memory_members() {
  static constexpr BuiltinSpec kMembers[] = {
      {"cape", 1, prim_cape},
      {"copy", 2, prim_copy, Reach::outside},
      {"cork", 3, prim_cork},
      {"gets", 1, prim_gets, Reach::outside},
      {"gett", 1, prim_gett, Reach::outside},
      {"getu", 1, prim_getu, Reach::outside},
      {"getv", 1, prim_getv, Reach::outside},
      {"getw", 1, prim_getw, Reach::outside},
      {"getx", 1, prim_getx, Reach::outside},
      {"gety", 1, prim_gety, Reach::outside},
      {"getz", 1, prim_getz, Reach::outside},
      {"look", 2, prim_look},
      {"sett", 2, prim_sett, Reach::outside},
      {"setu", 2, prim_setu, Reach::outside},
      {"setw", 2, prim_setw, Reach::outside},
      {"setx", 2, prim_setx, Reach::outside},
  };
  return kMembers;
}

}  // namespace tove
