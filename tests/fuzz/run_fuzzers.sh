#!/bin/sh
# Runs each fuzz harness of a TOVE_FUZZ build for a while, starting from a
# seed corpus of the program tests and the examples (among them chains of
# loads inside loads, load_*_chain*.tv, which the eval harness runs).
#   tests/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_EACH]
# The mutation seed is fixed (FUZZ_SEED, default 1), so a run explores the same
# inputs in the same order every time; a longer run only goes further.
# Ends with the first harness that finds a fault; its reproducer is left in
# the working directory (crash-*, leak-*, timeout-*, oom-*).
set -eu
build=$1
seconds=${2:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT

for harness in reader compile eval; do
  mkdir -p "$corpus/$harness"
  cp "$root"/tests/programs/*.tv "$root"/examples/*.tv "$corpus/$harness/"
  echo "fuzz_$harness: $seconds s"
  "$build/fuzz/fuzz_$harness" -max_total_time="$seconds" -seed="${FUZZ_SEED:-1}" -timeout=20 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 "$corpus/$harness"
done
