#!/usr/bin/env python3
"""Runs one sample program of examples/ and compares its results.

    run_example_test.py TOVE CASE

CASE is the path of a case under tests/examples/ without its suffix: its
name before any "-" names the sample (table-3 runs examples/table.tv), and
CASE.args (whitespace-separated arguments), CASE.stdout, CASE.stderr
(exact bytes, default empty) and CASE.status (decimal, default 0) give the
run and its expected results. The program runs from the top of the source
tree, as its own usage line shows it, so arguments name files from there.
"""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read(path, default):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


def main():
    tove, case = os.path.abspath(sys.argv[1]), sys.argv[2]
    sample = os.path.basename(case).split("-")[0]
    program = os.path.join("examples", sample + ".tv")
    status = int(read(case + ".status", b"0").strip() or b"0")
    stdout = read(case + ".stdout", b"")
    stderr = read(case + ".stderr", b"")
    args = read(case + ".args", b"").decode().split()
    run = subprocess.run([tove, program] + args, cwd=ROOT, capture_output=True, timeout=120)
    ok = True
    if run.returncode != status:
        print(f"status: expected {status}, got {run.returncode}")
        ok = False
    if run.stdout != stdout:
        print(f"stdout: expected {stdout!r}\n        got      {run.stdout!r}")
        ok = False
    if run.stderr != stderr:
        print(f"stderr: expected {stderr!r}\n        got      {run.stderr!r}")
        ok = False
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
