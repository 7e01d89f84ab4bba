// Calls of the C-library members on hand-built redexes, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cells/cell.h"
#include "clib/family.h"
#include "numbers/args.h"
#include "numbers/numbers.h"

namespace tove::testing {

inline CellRef number(int64_t value) { return integer_from_int64(value); }
inline CellRef address(const void* p) { return integer_from_uint64(reinterpret_cast<uintptr_t>(p)); }
inline CellRef bytes(std::string_view contents) { return byte_string_atom(contents); }

// (((name a1) a2) ... an) handed to the member's handler.
template <class... Args>
CellRef call(std::string_view name, Args&&... args) {
  CellRef redex = make_atom(name);
  ((redex = make_pair(std::move(redex), std::forward<Args>(args))), ...);
  for (const BuiltinSpec& member : clib::c_library_family()) {
    if (member.name != name) continue;
    EXPECT_EQ(member.arity, sizeof...(args)) << name;
    return member.handler(std::move(redex));
  }
  ADD_FAILURE() << "no C-library member " << name;
  return make_atom("?");
}

inline std::string text_of(const CellRef& c) { return std::string(atom_text(c.get())); }
inline std::optional<int64_t> integer_of(const CellRef& c) { return exact_integer(c.get()); }

}  // namespace tove::testing
