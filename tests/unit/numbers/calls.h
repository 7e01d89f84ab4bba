// Calls of the number primitives on hand-built redexes, for the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "cells/cell.h"
#include "leak_check.h"
#include "numbers/family.h"
#include "numbers/numbers.h"

namespace tove::testing {

// LeakCheck after the primitives have let go of the results they remember.
class PrimitiveLeakCheck : public LeakCheck {
 protected:
  void TearDown() override {
    forget_recent_integers();
    LeakCheck::TearDown();
  }
};

inline CellRef atom(std::string_view text) { return make_atom(text); }

inline BuiltinHandler handler_of(std::string_view name) {
  for (const BuiltinSpec& member : number_family()) {
    if (member.name == name) return member.handler;
  }
  ADD_FAILURE() << "no number primitive " << name;
  return nullptr;
}

// (name a)
inline CellRef call(std::string_view name, CellRef a) {
  return handler_of(name)(make_pair(atom(name), std::move(a)));
}

// ((name a) b)
inline CellRef call(std::string_view name, CellRef a, CellRef b) {
  return handler_of(name)(make_pair(make_pair(atom(name), std::move(a)), std::move(b)));
}

inline CellRef call(std::string_view name, std::string_view a, std::string_view b) {
  return call(name, atom(a), atom(b));
}

// The text of an atom result; pairs show as "(pair)".
inline std::string text(const CellRef& c) {
  return is_atom(c.get()) ? std::string(atom_text(c.get())) : std::string("(pair)");
}

// The double of a real result; NaN with a test failure for anything else.
inline double real_result(const CellRef& c) {
  if (!is_atom(c.get()) || head_char(c.get()) != ' ') {
    ADD_FAILURE() << "not a real: " << text(c);
    return __builtin_nan("");
  }
  return real_value(c.get());
}

// ((J e) rest): the list form of a bit list.
inline CellRef cons(std::string_view element, CellRef rest) {
  return make_pair(make_pair(atom("J"), atom(element)), std::move(rest));
}

}  // namespace tove::testing
