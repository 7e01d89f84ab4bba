// The bracket check: brackets must pair up, and commas may stand only at the
// top level, inside braces and inside the parentheses of a call list.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/frontend.h"

namespace tove {

namespace {

// The largest position encode_position takes; it is written "!!!!!".
constexpr uint64_t kPositionLimit = 0x40000000;

std::string_view kind_of(char bracket) {
  switch (bracket) {
    case '(':
    case ')': return "parenthesis";
    case '[':
    case ']': return "bracket";
    default: return "wing";
  }
}

bool check_pairing(std::string_view text, ErrorReport& report) {
  std::vector<size_t> open;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!open.empty() && text[open.back()] == '[') {
      if (c == ']') open.pop_back();
      else if (c == '[') open.push_back(i);
      continue;
    }
    if (c == '(' || c == '[' || c == '{') {
      open.push_back(i);
    } else if (c == ')' || c == ']' || c == '}') {
      if (open.empty()) {
        fail_at_offset(report, "Match", i, "Left dangling " + std::string(kind_of(c)) + ".");
        return false;
      }
      const char opener = text[open.back()];
      if ((c == ')' && opener == '(') || (c == '}' && opener == '{')) {
        open.pop_back();
      } else {
        fail_at_offset(report, "Match", open.back(),
                       "Doesn't fit '" + std::string(1, c) + "' at [" + encode_offset(i) + "].");
        return false;
      }
    }
  }
  if (!open.empty()) {
    fail_at_offset(report, "Match", open.back(),
                   "Right dangling " + std::string(kind_of(text[open.back()])) + ".");
    return false;
  }
  return true;
}

// Scans backwards, keeping for each open ")" group the leftmost comma seen
// in it; at its "(" the group must be a call list.
bool check_commas(std::string_view text, ErrorReport& report) {
  std::vector<size_t> stack;
  for (size_t i = text.size(); i-- > 0;) {
    const char c = text[i];
    if (c == ')' || c == '}') {
      stack.push_back(i);
    } else if (c == ',') {
      if (stack.empty()) continue;
      const char top = text[stack.back()];
      if (top == ')') stack.push_back(i);
      else if (top == ',') stack.back() = i;
    } else if (c == ']') {
      i = skip_group(text, i);
    } else if (c == '(') {
      TOVE_ASSERT(!stack.empty());
      if (text[stack.back()] == ',') {
        const bool call_list = i > 0 && (text[i - 1] == ')' || text[i - 1] == ']' ||
                                         !is_absorbing(static_cast<unsigned char>(text[i - 1])));
        if (!call_list) {
          fail_at_offset(report, "Comma", stack.back(),
                         "Comma encountered in parenthesization which is not a call list.");
          return false;
        }
        stack.pop_back();
      }
      TOVE_ASSERT(!stack.empty() && text[stack.back()] == ')');
      stack.pop_back();
    } else if (c == '{') {
      TOVE_ASSERT(!stack.empty() && text[stack.back()] == '}');
      stack.pop_back();
    }
  }
  return true;
}

}  // namespace

std::string encode_position(uint64_t n) {
  TOVE_ASSERT(n <= kPositionLimit);
  if (n == kPositionLimit) return "!!!!!";
  std::string digits(5, '_');
  for (size_t k = 0; k < 5; ++k) {
    digits[4 - k] = kDigitAlphabet[n % 64];
    n /= 64;
  }
  return digits;
}

std::string encode_offset(size_t offset) {
  return encode_position(offset < kPositionLimit ? offset : kPositionLimit);
}

void fail_at_offset(ErrorReport& report, std::string_view type_word, size_t offset, std::string_view text) {
  std::string message(type_word);
  message.append("[").append(encode_offset(offset)).append("]").append(text);
  fail(report, type_word, std::move(message), {}, static_cast<int64_t>(offset));
}

bool check_brackets(std::string_view text, ErrorReport& report) {
  return check_pairing(text, report) && check_commas(text, report);
}

}  // namespace tove
