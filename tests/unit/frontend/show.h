// Writes a cell graph in the compact form the parser tests compare with:
// a pair is "(left right)", an atom its text.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cells/cell.h"

namespace frontend_test {

inline std::string show(const tove::Cell* root) {
  std::string out;
  // Each entry is a cell to write, or nullptr for a pending ")" or " ".
  std::vector<std::pair<const tove::Cell*, char>> work{{root, 0}};
  while (!work.empty()) {
    auto [cell, mark] = work.back();
    work.pop_back();
    if (cell == nullptr) {
      out.push_back(mark);
    } else if (tove::is_atom(cell)) {
      out.append(tove::atom_text(cell));
    } else {
      out.push_back('(');
      work.push_back({nullptr, ')'});
      work.push_back({tove::pair_right(cell), 0});
      work.push_back({nullptr, ' '});
      work.push_back({tove::pair_left(cell), 0});
    }
  }
  return out;
}

inline std::string show(const tove::CellRef& cell) { return show(cell.get()); }

}  // namespace frontend_test
