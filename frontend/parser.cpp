// The expression parser: twelve precedence levels over substrings of one
// normalised, bracket-checked text.
//
// The parse never recurses on the native stack, however deep the text:
// - Groups are parsed innermost first, in the order their closers appear.
//   A "(" group is parsed as its call-list arguments (its contents cut at
//   top-level commas), a "{" group as its comma list. When an enclosing
//   range meets a group, its result is already there.
// - The binary levels work from an explicit stack of the levels cutting the
//   current range, and unary runs are built in loops.
// The closer of every group is found in the same first pass, so each level
// skips a group in one step and a whole parse is linear in the text.
#include <array>
#include <string_view>
#include <utility>
#include <vector>

#include "frontend/frontend.h"

namespace tove {

namespace {

using ByteSet = std::array<bool, 256>;

constexpr ByteSet make_set(std::string_view members) {
  ByteSet set{};
  for (char c : members) set[static_cast<unsigned char>(c)] = true;
  return set;
}

constexpr int kFirstUnaryLevel = 9;

struct BinaryLevel {
  ByteSet separators;
  bool right_associative;
};

// Levels 1 to 8, loosest first.
constexpr std::array<BinaryLevel, kFirstUnaryLevel> kBinaryLevels = {{
    {make_set(""), false},  // unused: levels count from 1
    {make_set(";\\{"), true},
    {make_set("?\n"), false},
    {make_set("&|"), true},
    {make_set("=<>#"), true},
    {make_set("@ "), false},
    {make_set("+-:."), false},
    {make_set("*/%'"), false},
    {make_set("^"), true},
}};

constexpr ByteSet kCommaSet = make_set(",");

CellRef char_atom(char c) { return make_atom(std::string_view(&c, 1)); }

// One parse of one text. Positions are offsets into the text; every range a
// method receives is a balanced piece of it.
class Parser {
 public:
  // Finds every closer and parses every group, innermost first.
  explicit Parser(std::string_view text) : text_(text), closer_(text.size()) {
    std::vector<size_t> open;
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '[') {
        closer_[i] = skip_group(text, i);
        i = closer_[i];
      } else if (c == '(' || c == '{') {
        open.push_back(i);
      } else if (c == ')' || c == '}') {
        TOVE_ASSERT(!open.empty());
        close_group(open.back(), i);
        open.pop_back();
      }
    }
    TOVE_ASSERT(open.empty());
  }

  size_t size() const { return text_.size(); }

  // Levels 1 to 8 with an explicit stack of the levels at work.
  CellRef expression(size_t begin, size_t end) {
    std::vector<LevelTask> tasks;
    CellRef done;  // the result of the range finished last
    start_range(tasks, done, begin, end, 1);
    while (!tasks.empty()) {
      LevelTask& task = tasks.back();
      if (done) absorb(task, std::move(done));
      if (task.step > task.separators.size()) {
        done = std::move(task.result);
        tasks.pop_back();
        continue;
      }
      const auto [piece_begin, piece_end] = piece(task);
      start_range(tasks, done, piece_begin, piece_end, task.level + 1);
    }
    return done;
  }

  // ((, a) ((, b) c)) for the pieces a, b, c between top-level commas.
  CellRef comma_list(size_t begin, size_t end) {
    const std::vector<size_t> commas = separators(begin, end, kCommaSet);
    CellRef result = expression(commas.empty() ? begin : commas.back() + 1, end);
    for (size_t k = commas.size(); k-- > 0;) {
      const size_t piece_begin = k == 0 ? begin : commas[k - 1] + 1;
      result = make_pair(make_atom(","), expression(piece_begin, commas[k]), std::move(result));
    }
    return result;
  }

 private:
  // A parsed group. For "(": its call-list arguments are items_[first_item]
  // onwards, and `whole` is the contents read as one expression, made when
  // first needed. For "{": `whole` is the comma list of its contents.
  struct Group {
    size_t open;
    size_t close;
    size_t first_item;
    size_t item_count;
    CellRef whole;
  };

  // One binary level at work on one range: the separators that cut it,
  // the number of pieces parsed so far, and the result so far. Pieces are
  // parsed left to right on left-associative levels, right to left on
  // right-associative ones.
  struct LevelTask {
    size_t begin;
    size_t end;
    int level;
    std::vector<size_t> separators;
    size_t step;
    CellRef result;
  };

  // The position after the character or whole group at i.
  size_t step(size_t i) const {
    const char c = text_[i];
    return (c == '(' || c == '[' || c == '{') ? closer_[i] + 1 : i + 1;
  }

  std::vector<size_t> separators(size_t begin, size_t end, const ByteSet& set) const {
    std::vector<size_t> positions;
    for (size_t i = begin; i < end; i = step(i)) {
      if (set[static_cast<unsigned char>(text_[i])]) positions.push_back(i);
    }
    return positions;
  }

  // Records the closer and parses the contents; the groups inside are
  // already parsed. The slot of the closer's own entry in closer_ holds the
  // group's index.
  void close_group(size_t open, size_t close) {
    closer_[open] = close;
    closer_[close] = groups_.size();
    Group group{open, close, items_.size(), 0, CellRef()};
    if (text_[open] == '{') {
      group.whole = comma_list(open + 1, close);
    } else {
      size_t arg_begin = open + 1;
      for (size_t comma : separators(open + 1, close, kCommaSet)) {
        items_.push_back(expression(arg_begin, comma));
        arg_begin = comma + 1;
      }
      items_.push_back(expression(arg_begin, close));
      group.item_count = items_.size() - group.first_item;
      if (group.item_count == 1) group.whole = items_.back().share();
    }
    groups_.push_back(std::move(group));
  }

  Group& group_at(size_t open) { return groups_[closer_[closer_[open]]]; }

  // A "(" group read as a parenthesised expression. Only contents with
  // top-level commas need a parse of their own; the groups inside them are
  // parsed already, so this goes no deeper.
  CellRef parenthesised(size_t open) {
    Group& group = group_at(open);
    if (!group.whole) group.whole = expression(group.open + 1, group.close);
    return group.whole.share();
  }

  // From `level` on, the first level whose separators cut the range gets a
  // task; a range no binary level cuts is parsed at once into `done`.
  void start_range(std::vector<LevelTask>& tasks, CellRef& done, size_t begin, size_t end, int level) {
    for (; level < kFirstUnaryLevel; ++level) {
      std::vector<size_t> seps = separators(begin, end, kBinaryLevels[level].separators);
      if (!seps.empty()) {
        tasks.push_back(LevelTask{begin, end, level, std::move(seps), 0, CellRef()});
        return;
      }
    }
    done = unary(begin, end);
  }

  size_t piece_index(const LevelTask& task) const {
    return kBinaryLevels[task.level].right_associative ? task.separators.size() - task.step : task.step;
  }

  // The range of the task's next piece; the piece after a "{" starts after
  // its matching "}".
  std::pair<size_t, size_t> piece(const LevelTask& task) const {
    const size_t k = piece_index(task);
    const std::vector<size_t>& seps = task.separators;
    size_t begin = task.begin;
    if (k > 0) begin = text_[seps[k - 1]] == '{' ? closer_[seps[k - 1]] + 1 : seps[k - 1] + 1;
    return {begin, k == seps.size() ? task.end : seps[k]};
  }

  // Joins the result of the piece just parsed to the task's result.
  void absorb(LevelTask& task, CellRef operand) {
    const size_t k = piece_index(task);
    const std::vector<size_t>& seps = task.separators;
    if (task.step++ == 0) {
      task.result = std::move(operand);
    } else if (!kBinaryLevels[task.level].right_associative) {
      const char op = text_[seps[k - 1]];
      if (op == '\n') {
        task.result = make_pair(std::move(operand), std::move(task.result));
      } else if (op == ' ') {
        task.result = make_pair(std::move(task.result), std::move(operand));
      } else {
        task.result = make_pair(char_atom(op), std::move(task.result), std::move(operand));
      }
    } else if (text_[seps[k]] == '{') {
      task.result = make_pair(char_atom('{'), std::move(operand), group_at(seps[k]).whole.share(),
                              std::move(task.result));
    } else {
      task.result = make_pair(char_atom(text_[seps[k]]), std::move(operand), std::move(task.result));
    }
  }

  bool unary_at(size_t i) const { return is_unary_char(static_cast<unsigned char>(text_[i])); }

  // Levels 9 (postfix) and 10 (prefix): (u X) for each unary character at
  // either end, the last postfix character outermost.
  CellRef unary(size_t begin, size_t end) {
    size_t body_end = end;
    while (body_end > begin && unary_at(body_end - 1)) --body_end;
    CellRef result;
    if (body_end == begin) {
      result = make_atom("}");
    } else {
      size_t body_begin = begin;
      while (unary_at(body_begin)) ++body_begin;  // stops before body_end
      result = infix(body_begin, body_end);
      for (size_t k = body_begin; k-- > begin;) {
        result = make_pair(char_atom(text_[k]), std::move(result));
      }
    }
    for (size_t k = body_end; k < end; ++k) {
      result = make_pair(char_atom(text_[k]), std::move(result));
    }
    return result;
  }

  // The next top-level unary character at or after i, or end.
  size_t next_unary(size_t i, size_t end) const {
    while (i < end && !unary_at(i)) i = step(i);
    return i;
  }

  // Level 11: x!y is x applied to (! y); a run of unary characters nests.
  CellRef infix(size_t begin, size_t end) {
    size_t run = next_unary(begin, end);
    CellRef result = tight(begin, run);
    while (run < end) {
      size_t rest = run;
      while (rest < end && unary_at(rest)) ++rest;
      const size_t next = next_unary(rest, end);
      CellRef operand = tight(rest, next);
      for (size_t k = rest; k-- > run;) operand = make_pair(char_atom(text_[k]), std::move(operand));
      result = make_pair(std::move(result), std::move(operand));
      run = next;
    }
    return result;
  }

  // The end of the token that starts at `start`.
  size_t token_end(size_t start, size_t end) const {
    size_t i = step(start);
    while (i < end &&
           !starts_token(static_cast<unsigned char>(text_[i - 1]), static_cast<unsigned char>(text_[i]))) {
      i = step(i);
    }
    return i;
  }

  // Level 12: tokens applied left to right; a "(" group after the first
  // token is a call list whose arguments are applied one by one.
  CellRef tight(size_t begin, size_t end) {
    TOVE_ASSERT(begin < end);
    size_t token = token_end(begin, end);
    CellRef result = atom(begin, token);
    while (token < end) {
      const size_t start = token;
      token = token_end(start, end);
      if (text_[start] == '(') {
        const Group& group = group_at(start);
        for (size_t k = 0; k < group.item_count; ++k) {
          result = make_pair(std::move(result), items_[group.first_item + k].share());
        }
      } else {
        result = make_pair(std::move(result), atom(start, token));
      }
    }
    return result;
  }

  // The atom level for the token text_[begin, end).
  CellRef atom(size_t begin, size_t end) {
    TOVE_ASSERT(begin < end);
    const auto c = static_cast<unsigned char>(text_[begin]);
    if (c == '(') return parenthesised(begin);
    std::string_view token = text_.substr(begin, end - begin);
    if (c == '[' || is_word_char(c) || is_digit_char(c)) return make_atom(token);
    // A single name character; the zero byte, which no atom text can hold,
    // stands for a newline. Commas that reach this level stay attached to
    // the character before them (as in "K,"), and such a token is an atom of
    // exactly that text.
    if (c != 0) return make_atom(token);
    std::string text(token);
    text[0] = '\n';
    return make_atom(text);
  }

  std::string_view text_;
  // For an opener, the position of its closer; for the closer of a "(" or
  // "{" group, the index of the group in groups_.
  std::vector<size_t> closer_;
  std::vector<Group> groups_;
  std::vector<CellRef> items_;
};

}  // namespace

CellRef parse_expression(std::string_view text) {
  Parser parser(text);
  return parser.expression(0, parser.size());
}

CellRef parse_comma_list(std::string_view text) {
  Parser parser(text);
  return parser.comma_list(0, parser.size());
}

}  // namespace tove
