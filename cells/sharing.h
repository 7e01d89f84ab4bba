// The sharing set: one process-wide set of cells in which structurally
// equal cells (equal under compare_cells) are the same key; it is kept as a
// hash of the structure, so deep, nearly equal chains cost no repeated deep
// comparisons. The compiler empties it, shares every body (so equal
// sub-expressions of all definitions become single cells) and prunes it to
// the finished values; at run time `share_value` hands out its cells (the
// inspection primitives `tern` and `type`).
#pragma once

#include <cstddef>

#include "cells/cell.h"

namespace tove {

void clear_sharing_set();
// The body with every sub-expression replaced by the set's equal cell,
// inserting what the set lacks.
CellRef share_body(Cell* body);
// Keeps only the cells that are finished values (is_done).
void prune_sharing_set();
// The set's cell equal to `value`, which is inserted when none is.
CellRef share_value(CellRef value);
size_t sharing_set_size();
bool sharing_set_holds(const Cell* c);  // that very cell is in the set

}  // namespace tove
