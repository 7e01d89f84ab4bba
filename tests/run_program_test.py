#!/usr/bin/env python3
"""Runs tove on one program file and compares status, stdout and stderr.

Expected results sit beside the program: NAME.status (decimal exit status,
default 0), NAME.stdout and NAME.stderr (exact bytes, default empty) and
NAME.args (whitespace-separated extra arguments) and NAME.options
(whitespace-separated interpreter options, given before the program file). The
program runs with the program file's folder as its working directory. A process
ended by signal N has the status 128 + N, as a shell reports it (an abort is
134).
"""
import os
import subprocess
import sys


def read(path, default):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


def main():
    tove, program = sys.argv[1], sys.argv[2]
    base = program[:-3]
    status = int(read(base + ".status", b"0").strip() or b"0")
    stdout = read(base + ".stdout", b"")
    stderr = read(base + ".stderr", b"")
    args = read(base + ".args", b"").decode().split()
    options = read(base + ".options", b"").decode().split()
    folder = os.path.dirname(os.path.abspath(program))
    run = subprocess.run([tove] + options + [os.path.basename(program)] + args, cwd=folder,
                         capture_output=True, timeout=120)
    got = 128 - run.returncode if run.returncode < 0 else run.returncode
    ok = True
    if got != status:
        print(f"status: expected {status}, got {got}")
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
