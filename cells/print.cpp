#include "cells/print.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cells/encoding.h"
#include "cells/interrupt.h"
#include "cells/memory.h"

namespace tove {

namespace {

// The juxtaposition rules look only at a few facts of each printed form, so
// the printer first computes those facts bottom-up (a Shape per sub-form,
// never the text), decides the form of every pair, and then writes the text
// once. The writing runs backwards (pair, right part, left part), which is
// exactly the reverse of the post-order in which the forms were decided, so
// the decisions are read back from a plain vector with no lookup.

enum class Form : uint8_t {
  extend,  // L without its last character, " ", R, ")"
  join,    // L R
  paren,   // "(" L " " R ")"
};

// The walks over a printed form look at the interrupt request once per
// this many cells: a form of millions of cells stops within milliseconds.
constexpr uint32_t kPollCells = 4096;

// Counts the cells a walk has visited, looking at the interrupt request at
// every kPollCells-th.
struct InterruptPoll {
  uint32_t count = 0;
  void visit() {
    if (++count % kPollCells == 0) stop_if_interrupted();
  }
};

constexpr int64_t kNoPrefix = std::numeric_limits<int64_t>::max();

// Facts about one printed form.
struct Shape {
  uint64_t size = 0;
  // Running count of "[" minus "]" over the whole form, and its lowest
  // value after a proper non-empty prefix (kNoPrefix for one character).
  // The form is one bracket group when it starts with "[", the count ends
  // at 0 and never reaches 0 before the last character.
  int64_t net = 0;
  int64_t low = kNoPrefix;
  unsigned char first = 0;
  unsigned char second = 0;  // 0 when the form has one character
  unsigned char last = 0;
  bool all_word = false;
  bool all_digit = false;
};

constexpr bool is_word_char(unsigned char ch) { return ch == '_' || (ch >= 'a' && ch <= 'z'); }
constexpr bool is_digit_char(unsigned char ch) { return is_decimal_digit(ch); }

constexpr int bracket_step(unsigned char ch) { return ch == '[' ? 1 : ch == ']' ? -1 : 0; }

Shape char_shape(unsigned char ch) {
  Shape s;
  s.size = 1;
  s.net = bracket_step(ch);
  s.first = s.last = ch;
  s.all_word = is_word_char(ch);
  s.all_digit = is_digit_char(ch);
  return s;
}

Shape text_shape(std::string_view text) {
  TOVE_ASSERT(!text.empty());
  Shape s;
  s.size = text.size();
  s.first = static_cast<unsigned char>(text.front());
  s.second = text.size() >= 2 ? static_cast<unsigned char>(text[1]) : 0;
  s.last = static_cast<unsigned char>(text.back());
  s.all_word = true;
  s.all_digit = true;
  int64_t depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(text[i]);
    depth += bracket_step(ch);
    if (i + 1 < text.size()) s.low = std::min(s.low, depth);
    s.all_word = s.all_word && is_word_char(ch);
    s.all_digit = s.all_digit && is_digit_char(ch);
  }
  s.net = depth;
  return s;
}

// The shape of a followed by b.
Shape concat(const Shape& a, const Shape& b) {
  Shape s;
  s.size = a.size + b.size;
  s.net = a.net + b.net;
  s.low = std::min(a.low, a.net);
  if (b.low != kNoPrefix) s.low = std::min(s.low, a.net + b.low);
  s.first = a.first;
  s.second = a.size >= 2 ? a.second : b.first;
  s.last = b.last;
  s.all_word = a.all_word && b.all_word;
  s.all_digit = a.all_digit && b.all_digit;
  return s;
}

// The shape of a without its last character (a has at least two). Its own
// last character is not known; every caller appends more text. The lowest
// count of a covers every proper prefix of the shortened form and the
// shortened form itself, which is all that a concatenation after it reads.
Shape drop_last(const Shape& a) {
  TOVE_ASSERT(a.size >= 2);
  Shape s = a;
  s.size = a.size - 1;
  s.net = a.net - bracket_step(a.last);
  s.second = a.size >= 3 ? a.second : 0;
  s.last = 0;
  s.all_word = false;
  s.all_digit = false;
  return s;
}

bool is_open_call(const Shape& l) { return l.first == '(' && l.size >= 2 && l.second != ')'; }

bool is_one_group(const Shape& r) { return r.first == '[' && r.net == 0 && r.low >= 1; }

bool is_single_token(const Shape& r) { return r.size == 1 || r.all_word || r.all_digit; }

Form choose_form(const Shape& l, const Shape& r) {
  if (is_open_call(l)) return Form::extend;
  if (is_one_group(r)) return Form::join;
  if (is_single_token(r)) {
    bool clash =
        (is_word_char(l.last) && is_word_char(r.first)) || (is_digit_char(l.last) && is_digit_char(r.first));
    return clash ? Form::paren : Form::join;
  }
  return Form::paren;
}

Shape pair_shape(const Shape& l, const Shape& r, Form form) {
  switch (form) {
    case Form::extend: return concat(concat(concat(drop_last(l), char_shape(' ')), r), char_shape(')'));
    case Form::join: return concat(l, r);
    case Form::paren: break;
  }
  return concat(concat(concat(concat(char_shape('('), l), char_shape(' ')), r), char_shape(')'));
}

// ---- atoms ----------------------------------------------------------------

std::string real_form(std::string_view text) {
  return "real[" + format_real(std::bit_cast<double>(real_text_pattern(text))) + "]";
}

std::string byte_string_form(std::string_view text) {
  std::string form = "cape[";
  append_escaped(form, byte_string_bytes(text));
  form += ']';
  return form;
}

// The printed form of an atom: a view of its own text where the text prints
// as itself, else the generated form held in `scratch`.
std::string_view atom_form(const Cell* atom, std::string& scratch) {
  std::string_view text = atom_text(atom);
  if (prints_as_marker(text)) return "()";
  switch (atom_kind(atom)) {
    case AtomKind::real: scratch = real_form(text); return scratch;
    case AtomKind::bytes: scratch = byte_string_form(text); return scratch;
    default: return text;
  }
}

// ---- the two passes ---------------------------------------------------------

struct Frame {
  const Cell* cell;
  int stage;
};

// Decides the form of every pair occurrence in post-order and returns the
// shape of the whole expression.
Shape decide_forms(const Cell* root, std::vector<Form>& forms) {
  std::vector<Frame> stack;
  std::vector<Shape> shapes;
  std::string scratch;
  auto visit = [&](const Cell* c) {
    if (is_atom(c)) {
      shapes.push_back(text_shape(atom_form(c, scratch)));
    } else {
      stack.push_back({c, 0});
    }
  };
  visit(root);
  InterruptPoll poll;
  while (!stack.empty()) {
    poll.visit();
    Frame& frame = stack.back();
    const Cell* c = frame.cell;
    if (frame.stage == 0) {
      frame.stage = 1;
      visit(pair_left(c));
    } else if (frame.stage == 1) {
      frame.stage = 2;
      visit(pair_right(c));
    } else {
      stack.pop_back();
      Shape r = shapes.back();
      shapes.pop_back();
      Shape l = shapes.back();
      shapes.pop_back();
      Form form = choose_form(l, r);
      forms.push_back(form);
      shapes.push_back(pair_shape(l, r, form));
    }
  }
  TOVE_ASSERT(shapes.size() == 1);
  return shapes.back();
}

// A printed form longer than the memory left is out of memory before it is
// walked: a value that shares its parts prints each occurrence, so its form
// can be exponentially longer than the value. The shapes of shared cells
// are computed once here, so this costs time in the distinct cells only,
// and the check comes before any count could overflow.
void refuse_oversized_form(const Cell* root) {
  const size_t in_use = memory_in_use();
  const size_t ceiling = memory_ceiling();
  const uint64_t room = std::min<uint64_t>(ceiling > in_use ? ceiling - in_use : 0, uint64_t{1} << 61);
  std::unordered_map<const Cell*, Shape> known;
  std::vector<std::pair<const Cell*, bool>> work{{root, false}};
  std::vector<Shape> shapes;
  std::string scratch;
  InterruptPoll poll;
  while (!work.empty()) {
    poll.visit();
    const Cell* const c = work.back().first;
    const bool parts_done = work.back().second;
    work.pop_back();
    const bool shared = ref_count(c) > 1;
    if (!parts_done && shared) {
      if (auto it = known.find(c); it != known.end()) {
        shapes.push_back(it->second);
        continue;
      }
    }
    Shape shape;
    if (is_atom(c)) {
      shape = text_shape(atom_form(c, scratch));
    } else if (!parts_done) {
      work.push_back({c, true});
      work.push_back({pair_right(c), false});
      work.push_back({pair_left(c), false});
      continue;
    } else {
      const Shape r = shapes.back();
      shapes.pop_back();
      const Shape l = shapes.back();
      shapes.pop_back();
      shape = pair_shape(l, r, choose_form(l, r));
    }
    if (shape.size > room) throw std::bad_alloc();
    if (shared) known.emplace(c, shape);
    shapes.push_back(shape);
  }
}

// Fills a string of known length from its end.
struct BackwardWriter {
  std::string& out;
  size_t position;
  bool drop_next = false;  // the next character written is discarded

  void put(char ch) {
    if (drop_next) {
      drop_next = false;
      return;
    }
    TOVE_ASSERT(position > 0);
    out[--position] = ch;
  }
  void put_text(std::string_view text) {
    for (size_t i = text.size(); i-- > 0;) put(text[i]);
  }
};

}  // namespace

std::string print_expression(const Cell* c) {
  TOVE_ASSERT(c != nullptr);
  refuse_oversized_form(c);
  std::vector<Form> forms;
  Shape whole = decide_forms(c, forms);

  std::string out(whole.size, '\0');
  BackwardWriter writer{out, out.size()};
  std::vector<Frame> stack;
  std::string scratch;
  auto visit = [&](const Cell* cell) {
    if (is_atom(cell)) {
      writer.put_text(atom_form(cell, scratch));
    } else {
      stack.push_back({cell, 0});
    }
  };
  // A pair's frame keeps its form in `stage` after the first visit:
  // stage 0 is the first visit, then 1 + form after the right part, and
  // 4 + form after the left part.
  visit(c);
  InterruptPoll poll;
  while (!stack.empty()) {
    poll.visit();
    Frame& frame = stack.back();
    const Cell* cell = frame.cell;
    if (frame.stage == 0) {
      TOVE_ASSERT(!forms.empty());
      Form form = forms.back();
      forms.pop_back();
      frame.stage = 1 + static_cast<int>(form);
      if (form != Form::join) writer.put(')');
      visit(pair_right(cell));
    } else if (frame.stage < 4) {
      Form form = static_cast<Form>(frame.stage - 1);
      frame.stage = 4 + static_cast<int>(form);
      if (form != Form::join) writer.put(' ');
      if (form == Form::extend) writer.drop_next = true;
      visit(pair_left(cell));
    } else {
      Form form = static_cast<Form>(frame.stage - 4);
      stack.pop_back();
      if (form == Form::paren) writer.put('(');
    }
  }
  TOVE_ASSERT(forms.empty() && writer.position == 0 && !writer.drop_next);
  return out;
}

}  // namespace tove
