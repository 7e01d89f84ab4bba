// Character classes, whitespace normalisation and the top-level scans of
// program text. Every scan here is one linear pass; group skipping scans a
// group once.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/frontend.h"

namespace tove {

namespace {

using ByteClass = std::array<bool, 256>;

constexpr ByteClass make_class(std::string_view members) {
  ByteClass table{};
  for (char c : members) table[static_cast<unsigned char>(c)] = true;
  return table;
}

constexpr size_t count_members(const ByteClass& table) {
  size_t n = 0;
  for (bool b : table) n += b ? 1 : 0;
  return n;
}

constexpr ByteClass kWordChars = make_class("_abcdefghijklmnopqrstuvwxyz");
constexpr ByteClass kDigitChars = make_class("0123456789");
constexpr ByteClass kPunctuation = make_class("~!@#$%^&*<>-|+/=\\.`'\":;?(){},[] \n");
constexpr ByteClass kAbsorbing = make_class("\n #%&'*+,-./:;<=>?@\\^|");
constexpr ByteClass kUnaryChars = make_class("~!\"$`");

static_assert(count_members(kWordChars) == 27);
static_assert(count_members(kPunctuation) == 33);
static_assert(count_members(kAbsorbing) == 22);
static_assert(count_members(kUnaryChars) == 5);

bool is_space_or_newline(char c) { return c == ' ' || c == '\n'; }

// The closer of the group that opens at `position`: a "[" group counts
// square brackets only; a "(" or "{" group counts parentheses and braces
// together and skips the text literals inside it.
size_t closer_of(std::string_view text, size_t position) {
  const bool literal = text[position] == '[';
  size_t depth = 0;
  for (size_t i = position; i < text.size(); ++i) {
    const char d = text[i];
    if (literal) {
      if (d == '[') ++depth;
      else if (d == ']' && --depth == 0) return i;
    } else if (d == '(' || d == '{') {
      ++depth;
    } else if ((d == ')' || d == '}') && --depth == 0) {
      return i;
    } else if (d == '[') {
      i = closer_of(text, i);
    }
  }
  TOVE_ASSERT(false);  // the group never closes
  return text.size();
}

// The opener of the group that closes at `position`, scanning backwards.
size_t opener_of(std::string_view text, size_t position) {
  const bool literal = text[position] == ']';
  size_t depth = 0;
  for (size_t i = position + 1; i-- > 0;) {
    const char d = text[i];
    if (literal) {
      if (d == ']') ++depth;
      else if (d == '[' && --depth == 0) return i;
    } else if (d == ')' || d == '}') {
      ++depth;
    } else if ((d == '(' || d == '{') && --depth == 0) {
      return i;
    } else if (d == ']') {
      i = opener_of(text, i);
    }
  }
  TOVE_ASSERT(false);  // the group never opens
  return 0;
}

}  // namespace

// The position just past the "[" group that starts at `start`, or the end of
// the text when the group never closes.
size_t literal_end(std::string_view text, size_t start) {
  size_t depth = 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '[') {
      ++depth;
    } else if (text[i] == ']' && --depth == 0) {
      return i + 1;
    }
  }
  return text.size();
}

bool is_word_char(unsigned char c) { return kWordChars[c]; }
bool is_digit_char(unsigned char c) { return kDigitChars[c]; }
bool is_punctuation(unsigned char c) { return kPunctuation[c]; }
bool is_absorbing(unsigned char c) { return kAbsorbing[c]; }
bool is_unary_char(unsigned char c) { return kUnaryChars[c]; }

bool starts_token(unsigned char previous, unsigned char current) {
  if (previous == ')' || previous == ']') return true;
  if (current == '(' || current == '[') return true;
  if (kWordChars[current]) return !kWordChars[previous];
  if (kDigitChars[current]) return !kDigitChars[previous];
  return !kPunctuation[current];
}

std::string normalise_text(std::string_view text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && is_space_or_newline(text[first])) ++first;
  while (last > first && is_space_or_newline(text[last - 1])) --last;
  text = text.substr(first, last - first);

  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '[') {
      const size_t end = literal_end(text, i);
      out.append(text.substr(i, end - i));
      i = end;
    } else if (!is_space_or_newline(c)) {
      out.push_back(c);
      ++i;
    } else {
      // A whitespace run: trimming guarantees characters on both sides.
      const size_t start = i;
      bool newline = false;
      while (is_space_or_newline(text[i])) newline |= text[i++] == '\n';
      const unsigned char p = static_cast<unsigned char>(text[start - 1]);
      const unsigned char n = static_cast<unsigned char>(text[i]);
      const bool dropped = kAbsorbing[p] || kAbsorbing[n] || p == '{' || p == '(' || p == '}' || n == '}' ||
                           n == ')' || n == '{';
      if (!dropped) out.push_back(newline ? '\n' : ' ');
    }
  }
  return out;
}

size_t skip_group(std::string_view text, size_t position) {
  TOVE_ASSERT(position < text.size());
  const char c = text[position];
  if (c == '[' || c == '(' || c == '{') return closer_of(text, position);
  if (c == ']' || c == ')' || c == '}') return opener_of(text, position);
  return position;
}

std::vector<size_t> find_separators(std::string_view text, std::string_view set) {
  const ByteClass members = make_class(set);
  std::vector<size_t> positions;
  for (size_t i = 0; i < text.size();) {
    if (members[static_cast<unsigned char>(text[i])]) positions.push_back(i);
    const size_t end = skip_group(text, i);
    // A closer at the top level would send the scan backwards: the text is
    // unbalanced, which the bracket check rules out.
    TOVE_ASSERT(end >= i);
    i = end + 1;
  }
  return positions;
}

long find_unary(std::string_view text, size_t start) {
  size_t depth = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '[') {
      i = literal_end(text, i) - 1;
    } else if (c == '(' || c == '{') {
      ++depth;
    } else if (c == ')' || c == '}') {
      if (depth > 0) --depth;
    } else if (depth == 0 && kUnaryChars[static_cast<unsigned char>(c)]) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

std::vector<std::string_view> split_tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  if (text.empty()) return tokens;
  size_t start = 0;
  size_t i = (text[0] == '(' || text[0] == '[') ? skip_group(text, 0) + 1 : 1;
  while (i < text.size()) {
    const auto p = static_cast<unsigned char>(text[i - 1]);
    const auto c = static_cast<unsigned char>(text[i]);
    if (starts_token(p, c)) {
      tokens.push_back(text.substr(start, i - start));
      start = i;
    }
    i = (c == '(' || c == '[') ? skip_group(text, i) + 1 : i + 1;
  }
  tokens.push_back(text.substr(start));
  return tokens;
}

long find_too_deep(std::string_view text, size_t limit) {
  size_t depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '[') {
      i = literal_end(text, i) - 1;
    } else if (c == '(' || c == '{') {
      if (++depth > limit) return static_cast<long>(i);
    } else if ((c == ')' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return -1;
}

size_t nesting_depth(std::string_view text) {
  size_t depth = 0;
  size_t deepest = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '[') {
      i = literal_end(text, i) - 1;
    } else if (c == '(' || c == '{') {
      if (++depth > deepest) deepest = depth;
    } else if ((c == ')' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

}  // namespace tove
