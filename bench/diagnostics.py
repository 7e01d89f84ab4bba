#!/usr/bin/env python3
"""What the diagnostic options cost: each program of bench/programs runs
plainly, with --explain, with --stats and with --profile, the runs taking
turns, and the median CPU seconds of each are printed with the ratio to the
plain run.

    python3 bench/diagnostics.py [--tove build/tove] [--runs 5] [--tasks calls,list]

--explain records nothing until a primitive answers "Z", so its ratio should
stay within noise of 1; --profile charges every step and cell to a
definition and should stay under 2. Every run must give the plain run's
exit status; the exit status is 1 when one does not.
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAMS = os.path.join(HERE, "programs")
TASKS = ["calls", "list", "tree", "stream", "nfib", "sumlist"]


def cpu_of(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run = subprocess.run(command, cwd=PROGRAMS, capture_output=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), run.returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tove", default=os.path.join(ROOT, "build", "tove"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--tasks", default=",".join(TASKS))
    args = parser.parse_args()
    tove = os.path.abspath(args.tove)
    profile_file = os.path.join(tempfile.gettempdir(), "tove-bench-profile-%d.csv" % os.getuid())
    variants = [("plain", []), ("--explain", ["--explain"]), ("--stats", ["--stats"]),
                ("--profile", ["--profile=" + profile_file])]
    failed = False
    print("%-10s" % "task" + "".join("%14s" % name for name, _ in variants))
    for task in args.tasks.split(","):
        program = task + ".tv"
        if not os.path.exists(os.path.join(PROGRAMS, program)):
            print("%-10s no program %s" % (task, program))
            continue
        times = {name: [] for name, _ in variants}
        statuses = {}
        for _ in range(args.runs):
            for name, options in variants:
                seconds, status = cpu_of([tove] + options + [program])
                times[name].append(seconds)
                statuses.setdefault(name, status)
        plain = statistics.median(times["plain"])
        cells = []
        for name, _ in variants:
            median = statistics.median(times[name])
            ratio = median / plain if plain > 0 else float("nan")
            cells.append("%7.3f %5.2fx" % (median, ratio))
            if statuses[name] != statuses["plain"]:
                failed = True
                cells[-1] += "!"
        print("%-10s" % task + "".join("%14s" % c for c in cells))
    if os.path.exists(profile_file):
        os.remove(profile_file)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
