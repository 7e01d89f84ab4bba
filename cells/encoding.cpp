#include "cells/encoding.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

#include "cells/analysis.h"

namespace tove {

// ---- integers' text -------------------------------------------------------------------

// Eight bytes at a time.
bool all_decimal_digits(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    if (!are_eight_digits(w)) return false;
  }
  for (; i < text.size(); ++i) {
    if (!is_decimal_digit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

bool small_from_tove_text(std::string_view text, int64_t* out) {
  if (text.empty() || !all_decimal_digits(text)) return false;
  if (text == "0") {
    *out = 0;
    return true;
  }
  const SignedDigits s = split_integer_sign(text);
  if (s.digits[0] == '0' || s.digits.size() > 19) return false;
  uint64_t m = 0;
  for (char d : s.digits) m = m * 10 + static_cast<uint64_t>(d - '0');
  const uint64_t limit = s.negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (m > limit) return false;
  *out = s.negative ? static_cast<int64_t>(0 - m) : static_cast<int64_t>(m);
  return true;
}

std::string small_to_tove_text(int64_t value) {
  char buffer[kLongestSmallIntegerText];
  char* end = buffer + sizeof buffer;
  const char* start = write_small_integer(value, end);
  return std::string(start, static_cast<size_t>(end - start));
}

std::string decimal_from_int64(int64_t value) { return small_to_tove_text(value); }

int64_t number_word_of_text(const char* text, size_t n) {
  int64_t value;
  return short_integer_of_text(text, n, &value) ? value : kNoNumberWord;
}

namespace {

// A text too long for a word: apart, so that the short path saves no
// registers for it.
[[gnu::noinline]] CellRef long_integer_atom(int64_t value) {
  char buffer[kLongestSmallIntegerText];
  char* end = buffer + kLongestSmallIntegerText;
  const char* at = write_small_integer(value, end);
  CellRef atom = make_atom(std::string_view(at, static_cast<size_t>(end - at)));
  analyse_value_atom(atom.get());
  return atom;
}

}  // namespace

CellRef small_integer_atom(int64_t value) {
  uint64_t text;
  size_t n;
  if (!short_integer_text_word(value, &text, &n)) [[unlikely]]
    return long_integer_atom(value);
  CellRef atom = make_short_number_atom(text, n, value);
  analyse_value_atom(atom.get());
  return atom;
}

std::string negated_integer_text(std::string_view text) {
  if (text == "0") return std::string(text);
  const SignedDigits s = split_integer_sign(text);
  if (s.negative) return std::string(s.digits);
  std::string negated;
  negated.reserve(text.size() + 1);
  negated += '0';
  negated += text;
  return negated;
}

// ---- reals -------------------------------------------------------------------------------

uint64_t real_text_pattern(std::string_view text) {
  TOVE_ASSERT(text.size() == kRealTextLength &&
              atom_kind_of_byte(static_cast<unsigned char>(text[0])) == AtomKind::real);
  uint64_t pattern = 0;
  for (int i = 8; i >= 1; --i)
    pattern = (pattern << 8) | static_cast<unsigned char>(text[static_cast<size_t>(i)]);
  return pattern;
}

double real_value(const Cell* real) { return std::bit_cast<double>(real_pattern(real)); }

CellRef real_from_pattern(uint64_t pattern) {
  char text[kRealTextLength];
  text[0] = ' ';
  for (int i = 0; i < 8; ++i) text[1 + i] = static_cast<char>((pattern >> (8 * i)) & 0xFF);
  return make_atom(std::string_view(text, sizeof text));
}

CellRef make_real(double value) { return real_from_pattern(std::bit_cast<uint64_t>(value)); }

std::string format_real(double value) {
  char text[64];
  int n = std::snprintf(text, sizeof text, "%e", value);
  TOVE_ASSERT(n > 0 && static_cast<size_t>(n) < sizeof text);
  return std::string(text, static_cast<size_t>(n));
}

// ---- byte strings ------------------------------------------------------------------------

size_t byte_string_text_length(const char* text) {
  const size_t header = byte_string_header_length(text);
  return header + base64_decode({text + 1, header - 2});
}

std::string_view byte_string_bytes(std::string_view text) {
  TOVE_ASSERT(!text.empty() && text[0] == '(');
  return text.substr(byte_string_header_length(text.data()));
}

std::string_view byte_string_contents(const Cell* bytes) { return byte_string_bytes(atom_text(bytes)); }

namespace {

// The "(" + base-64 length + ")" header of a byte string of `length` bytes,
// written in its own room, which `text` views.
struct ByteStringHeader {
  char room[kLongestBase64Digits + 2];
  std::string_view text;
  explicit ByteStringHeader(uint64_t length) {
    char* close = room + sizeof room - 1;
    *close = ')';
    char* start = write_base64(length, close);
    *--start = '(';
    text = std::string_view(start, static_cast<size_t>(close + 1 - start));
  }
  ByteStringHeader(const ByteStringHeader&) = delete;
  ByteStringHeader& operator=(const ByteStringHeader&) = delete;
};

}  // namespace

std::string byte_string_text(std::string_view contents) {
  const ByteStringHeader header(contents.size());
  std::string text;
  text.reserve(header.text.size() + contents.size());
  text += header.text;
  text += contents;
  return text;
}

CellRef byte_string_atom(std::string_view contents) {
  // The bytes and chars a loop takes one at a time are made without a
  // text of their own first.
  constexpr size_t kShortContents = 32;
  CellRef atom;
  if (contents.size() <= kShortContents) {
    const ByteStringHeader header(contents.size());
    char text[sizeof header.room + kShortContents];
    std::memcpy(text, header.text.data(), header.text.size());
    if (!contents.empty()) std::memcpy(text + header.text.size(), contents.data(), contents.size());
    atom = make_atom(std::string_view(text, header.text.size() + contents.size()));
  } else {
    atom = make_atom(byte_string_text(contents));
  }
  analyse_value_atom(atom.get());
  return atom;
}

CellRef byte_string_appended(Cell* bytes, std::string_view more, bool alone) {
  const std::string_view text = atom_text(bytes);
  TOVE_ASSERT(!alone || more.empty() || more.data() + more.size() <= text.data() ||
              more.data() >= text.data() + text.size());
  const size_t header = byte_string_header_length(text.data());
  const size_t length = text.size() - header;
  const uint64_t grown_length = length + more.size();
  // "(" and ")" around one digit for each six bits of the length.
  const size_t new_header = 2 + (static_cast<size_t>(std::bit_width(grown_length)) + 5) / 6;
  const size_t new_size = new_header + grown_length;
  if (alone && new_size <= atom_room(bytes)) {
    char* chars = atom_chars_mutable(bytes);
    if (new_header == header) {
      // As many length digits as before: they count up where they stand,
      // between the parentheses, a byte's append most often in the last
      // digit alone. The sum has no more digits, so the carry ends inside.
      uint64_t carry = more.size();
      for (size_t at = header - 2; carry != 0; --at) {
        const uint64_t sum = base64_digit_value(static_cast<unsigned char>(chars[at])) + carry;
        chars[at] = kDigitAlphabet[sum % 64];
        carry = sum / 64;
      }
    } else {
      // The length digits grow by one at each power of 64: the bytes move
      // up to make room for the new digit.
      const ByteStringHeader grown(grown_length);
      std::memmove(chars + new_header, chars + header, length);
      std::memcpy(chars, grown.text.data(), new_header);
    }
    // A loop appends a byte at a time.
    if (more.size() == 1) {
      chars[new_header + length] = more[0];
    } else if (!more.empty()) {
      std::memcpy(chars + new_header + length, more.data(), more.size());
    }
    chars[new_size] = '\0';
    set_payload(bytes, new_size < kRecordedLengthLimit ? new_size : 0);
    return CellRef::retained(bytes);
  }
  const ByteStringHeader grown(grown_length);
  std::string joined;
  joined.reserve(new_size);
  joined += grown.text;
  joined += text.substr(header);
  joined += more;
  CellRef atom;
  if (alone) {
    // The room is a convenience: under a memory ceiling that refuses it,
    // the exact atom is made as for a shared string.
    try {
      atom = make_atom_with_room(joined, new_size <= SIZE_MAX / 2 ? 2 * new_size : new_size);
    } catch (const std::bad_alloc&) {
      atom.reset();  // made exact below
    }
  }
  if (!atom) atom = make_atom(joined);
  analyse_value_atom(atom.get());
  return atom;
}

// ---- text literals and their escapes --------------------------------------------------

void append_escaped(std::string& out, std::string_view bytes, bool newline) {
  for (char c : bytes) {
    const std::string_view escape = escape_of(static_cast<unsigned char>(c), newline);
    if (escape.empty()) {
      out += c;
    } else {
      out += escape;
    }
  }
}

int escaped_byte(std::string_view escape) {
  if (escape.size() != 3 || escape[0] != '[' || escape[2] != ']') return -1;
  switch (escape[1]) {
    case 'p': return '\n';
    case 'q': return '[';
    case 'r': return ']';
    default: return -1;
  }
}

bool unescape(std::string_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ']') return false;
    if (c != '[') {
      bytes += c;
      continue;
    }
    const int byte = escaped_byte(text.substr(i, 3));
    if (byte < 0) return false;
    bytes += static_cast<char>(byte);
    i += 2;
  }
  return true;
}

CellRef text_literal_atom(std::string_view text) {
  std::string literal;
  literal.reserve(text.size() + 2);
  literal += '[';
  literal += text;
  literal += ']';
  return make_atom(literal);
}

CellRef escaped_literal(std::string_view bytes, bool newline) {
  std::string literal = "[";
  literal.reserve(bytes.size() + 2);
  append_escaped(literal, bytes, newline);
  literal += ']';
  return make_atom(literal);
}

CellRef byte_literal(unsigned char byte, bool newline) {
  const char c = static_cast<char>(byte);
  return escaped_literal(std::string_view(&c, 1), newline);
}

// ---- the markers ---------------------------------------------------------------------------

namespace {

CellRef marked(char marker, std::string_view name) {
  std::string text;
  text.reserve(name.size() + 1);
  text += marker;
  text += name;
  return make_atom(text);
}

}  // namespace

CellRef make_black_hole() { return make_atom(")"); }
CellRef make_update_marker(std::string_view name) { return marked(')', name); }
CellRef make_undefined_marker(std::string_view name) { return marked(']', name); }

}  // namespace tove
