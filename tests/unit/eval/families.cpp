// The eval tests run with the families of a run that they read, announced
// before any test starts: the number primitives, which the prelude's
// operators name, and `load`.
#include "cells/tables.h"
#include "eval/load.h"
#include "numbers/family.h"

namespace {

[[maybe_unused]] const bool kAnnounced =
    (tove::add_builtin_family(tove::number_family()), tove::add_builtin_family(tove::load_family()), true);

}  // namespace
