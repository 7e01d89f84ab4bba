#!/usr/bin/env python3
"""Checks that the primitives reference documents exactly the registry.

Usage: primitives_doc_test.py BUILTIN_LIST primitives.md [SYNTAX_FILE...]
       primitives_doc_test.py BUILTIN_LIST --skeleton

BUILTIN_LIST is the program that prints the registry ("name arity" lines).
A documented built-in is a table row that begins "| `name` | arity |"; every
registered name must have exactly one such row with its registered arity,
and no other name may have one. Each SYNTAX_FILE (an editor's syntax
definition) must parse when it is .json; its word list of built-ins is a
convenience of highlighting and may lag the registry, so that adding a
built-in stays one row in its family and one line here.
--skeleton prints a row for every built-in,
the starting point when the registry grows.
"""
import json
import re
import subprocess
import sys

ROW = re.compile(r"^\| `([^`]+)` \| (\d+) \|")


def registry(lister):
    out = subprocess.run([lister], capture_output=True, check=True, timeout=60).stdout
    entries = {}
    for line in out.decode().splitlines():
        name, arity = line.split()
        entries[name] = int(arity)
    return entries


def documented(path):
    rows = {}
    problems = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            row = ROW.match(line)
            if not row:
                continue
            name, arity = row.group(1), int(row.group(2))
            if name in rows:
                problems.append(f"{path}:{number}: `{name}` documented twice")
            rows[name] = arity
    return rows, problems


def main():
    entries = registry(sys.argv[1])
    if sys.argv[2] == "--skeleton":
        for name, arity in entries.items():
            print(f"| `{name}` | {arity} | | |")
        return
    rows, problems = documented(sys.argv[2])
    for name, arity in entries.items():
        if name not in rows:
            problems.append(f"`{name}` (arity {arity}) is not documented")
        elif rows[name] != arity:
            problems.append(f"`{name}` documented with arity {rows[name]}, registered {arity}")
    for name in rows:
        if name not in entries:
            problems.append(f"`{name}` is documented but not registered")
    for path in sys.argv[3:]:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if path.endswith(".json"):
            try:
                json.loads(text)
            except ValueError as e:
                problems.append(f"{path}: not JSON: {e}")
    for problem in problems:
        print(problem)
    print(f"{len(entries)} built-ins registered, {len(rows)} documented")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
