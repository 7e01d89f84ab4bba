#!/usr/bin/env python3
"""A runaway against the deepest finite recursion the defaults must allow.

    python3 bench/runaway.py [--tove build/tove]

With no option given, the recursion that never ends
(fac with its base case never reached) must stop with the Space report of the
continuation's bound, in seconds, while a 10^7-element list built and summed
by non-tail recursion (bench/programs/sumlist.tv with 10^7) still answers.
Prints, for each, the wall seconds, the peak resident memory and the outcome;
the exit status is 1 when either outcome is not the expected one.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNAWAY = "a\\fac(5),fac\\n\\n<2 (1) (n*fac(n-1))\n"


def run(tove, text):
    with tempfile.NamedTemporaryFile("w", suffix=".tv") as source:
        source.write(text)
        source.flush()
        start = time.monotonic()
        process = subprocess.Popen([tove, source.name], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        stderr = process.stderr.read()
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        return time.monotonic() - start, usage.ru_maxrss / 1024, process.returncode, stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tove", default=os.path.join(HERE, "..", "build", "tove"))
    tove = parser.parse_args().tove
    with open(os.path.join(HERE, "programs", "sumlist.tv")) as f:
        sumlist = f.read().replace("1000000", "10000000")
    ok = True
    for name, text, expected in (
            ("runaway fac", RUNAWAY, lambda status, err: status == 128 and b"frames in function [fac]" in err),
            ("10^7-element sum", sumlist, lambda status, err: status == 10000000 * 10000001 // 2 % 256)):
        seconds, megabytes, status, stderr = run(tove, text)
        good = expected(status, stderr)
        ok = ok and good
        print(f"{name:18} {seconds:6.2f} s {megabytes:8.0f} MB  status {status}  {'ok' if good else 'UNEXPECTED'}")
        if not good:
            sys.stdout.write(stderr.decode(errors="replace"))
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
