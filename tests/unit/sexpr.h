// Builds cells from a compact written form for tests: "(f a b)" is
// ((f a) b), any other run of non-blank, non-parenthesis bytes is an atom,
// and a run starting with "[" extends to its balanced "]".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cells/cell.h"

namespace test_support {

inline tove::CellRef sexpr(std::string_view text) {
  using tove::CellRef;
  std::vector<std::vector<CellRef>> groups(1);
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ') {
      ++i;
    } else if (c == '(') {
      groups.emplace_back();
      ++i;
    } else if (c == ')') {
      std::vector<CellRef> items = std::move(groups.back());
      groups.pop_back();
      CellRef acc = std::move(items[0]);
      for (size_t k = 1; k < items.size(); ++k) acc = tove::make_pair(std::move(acc), std::move(items[k]));
      groups.back().push_back(std::move(acc));
      ++i;
    } else {
      size_t start = i;
      if (c == '[') {
        int depth = 0;
        do {
          if (text[i] == '[') ++depth;
          if (text[i] == ']') --depth;
          ++i;
        } while (depth > 0);
      } else {
        while (i < text.size() && text[i] != ' ' && text[i] != '(' && text[i] != ')') ++i;
      }
      groups.back().push_back(tove::make_atom(text.substr(start, i - start)));
    }
  }
  return std::move(groups[0][0]);
}

}  // namespace test_support
