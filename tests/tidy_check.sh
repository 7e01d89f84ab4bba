#!/bin/sh
# Runs clang-tidy with .clang-tidy over the tracked sources of the libraries
# and the driver; fails when any file has a finding. It needs the
# compile commands of a build folder (default build), configured with
# -DCMAKE_EXPORT_COMPILE_COMMANDS=ON.
#   tests/tidy_check.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy) || {
  echo "tidy_check: clang-tidy not found" >&2; exit 2; }
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy_check: no $build/compile_commands.json (configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)" >&2
  exit 2
fi
# The build's g++-only warning options mean nothing to clang.
git ls-files 'platform/*.cpp' 'cells/*.cpp' 'frontend/*.cpp' 'compiler/*.cpp' 'numbers/*.cpp' \
    'prims/*.cpp' 'eval/*.cpp' 'clib/*.cpp' 'driver/*.cpp' |
  xargs -n 1 -P 2 "$tidy" -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option
