// The structural order on cells: two separately built values that share
// their parts (((V k) k) nested, few distinct cells but exponentially many
// paths), and small unshared trees, the common case of the sharing set.
#include <benchmark/benchmark.h>

#include "cells/analysis.h"

using namespace tove;

namespace {

CellRef shared_tower(int depth, const char* bottom) {
  CellRef k = make_atom(bottom);
  for (int i = 0; i < depth; ++i) k = make_pair(make_pair(make_atom("V"), k.share()), k.share());
  return k;
}

CellRef small_tree(int leaves) {
  CellRef tree = make_atom("x");
  for (int i = 0; i < leaves; ++i) tree = make_pair(std::move(tree), make_atom("12"));
  return tree;
}

void SharedTowers(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  CellRef a = shared_tower(depth, "[a]");
  CellRef b = shared_tower(depth, "[a]");
  for (auto _ : state) benchmark::DoNotOptimize(compare_cells(a.get(), b.get()));
}
BENCHMARK(SharedTowers)->Arg(10)->Arg(20)->Arg(40)->Arg(1000);

void SmallTrees(benchmark::State& state) {
  CellRef a = small_tree(static_cast<int>(state.range(0)));
  CellRef b = small_tree(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(compare_cells(a.get(), b.get()));
}
BENCHMARK(SmallTrees)->Arg(4)->Arg(30)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
