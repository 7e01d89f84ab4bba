#!/bin/sh
# Fails, naming each file, when a tracked C++ source is not laid out as
# .clang-format says. With --fix it formats those files in place instead.
#   tests/format_check.sh [--fix]
set -eu
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format) || {
  echo "format_check: clang-format not found" >&2; exit 2; }
files=$(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  echo "$files" | xargs "$format" -i --style=file
  exit 0
fi
bad=0
for file in $files; do
  if ! "$format" --style=file --dry-run -Werror "$file" >/dev/null 2>&1; then
    echo "not formatted: $file"
    bad=1
  fi
done
exit $bad
