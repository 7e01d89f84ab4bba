#!/usr/bin/env python3
"""Runs one sample program of examples/ and compares its results.

    run_example_test.py TOVE CASE

CASE is the path of a case under tests/examples/ without its suffix: its
name before any "-" names the sample (table-3 runs examples/table.tv), and
CASE.args (whitespace-separated arguments), CASE.options (interpreter
options such as -l NAME, given before the program), CASE.stdout, CASE.stderr
(exact bytes, default empty) and CASE.status (decimal, default 0) give the
run and its expected results. The program runs from the top of the source
tree, as its own usage line shows it, so arguments name files from there.
"""
import os
import sys

from run_program_test import check_run, read

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    tove, case = os.path.abspath(sys.argv[1]), sys.argv[2]
    sample = os.path.basename(case).split("-")[0]
    program = os.path.join("examples", sample + ".tv")
    args = read(case + ".args", b"").decode().split()
    options = read(case + ".options", b"").decode().split()
    sys.exit(0 if check_run([tove] + options + [program] + args, ROOT, case) else 1)


if __name__ == "__main__":
    main()
