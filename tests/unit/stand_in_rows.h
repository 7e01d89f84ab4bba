// Rows that stand in for the primitive families in the test executables that
// do not link them (the front end's and the compiler's): the built-in names
// those tests read, placeholders, refusals and the prelude's operators among
// them, each answering "Z". Including this header announces them before any
// test runs, so every table a test fills holds them.
#pragma once

#include "cells/tables.h"

namespace test_support {

inline constexpr tove::BuiltinSpec kStandInRows[] = {
    // the prelude's operators
    {"plus", 2, tove::answer_z},
    {"dash", 2, tove::answer_z},
    {"mult", 2, tove::answer_z},
    {"over", 2, tove::answer_z},
    {"cent", 2, tove::answer_z},
    {"powa", 2, tove::answer_z},
    {"less", 2, tove::answer_z},
    {"gteq", 2, tove::answer_z},
    {"same", 2, tove::answer_z},
    {"diff", 2, tove::answer_z},
    {"buck", 1, tove::answer_z},
    {"wave", 1, tove::answer_z},
    // placeholders of the widths the tests look at
    {"abort", 0, tove::answer_z},
    {"abs", 1, tove::answer_z},
    {"cork", 3, tove::answer_z},
    {"getnameinfo", 7, tove::answer_z},
};

inline const bool kStandInRowsAnnounced = (tove::add_builtin_family(kStandInRows), true);

}  // namespace test_support
