// Prints the built-in registry, one "name arity" line per built-in in name
// order: the list that docs/primitives.md must document exactly.
#include <cstdio>

#include "cells/tables.h"
#include "frontend/frontend.h"

int main() {
  tove::register_builtins();
  for (const auto& [name, entry] : tove::builtin_table()) {
    std::printf("%s %u\n", name.c_str(), static_cast<unsigned>(entry.arity));
  }
  return 0;
}
