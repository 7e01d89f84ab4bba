#!/usr/bin/env python3
"""Times tove's evaluator against other interpreters, one workload shape a row.

    python3 bench/evaluator.py [--tove build/tove] [--baseline OTHER_TOVE]
        [--steps COUNTING_TOVE] [--instructions] [--tasks a,b] [--runs 5]

The shapes, one program per language in bench/programs (NAME.tv, .py, .hs):
calls (nfib 27 through a helper), stream (the first 3000 primes summed from
a lazy stream whose tails are partial applications forced with I), list (10^6
numbers built and summed by non-tail recursion through l K and l H), tree (a
complete binary tree of depth 18 built afresh and counted), lines (the lines
of a 100,000-line file, read with fgetc, printed in reverse), appends (a 10^6
byte string built by +), applies (nfib 27 written with the operators of plain
application, ? and ;), and the older nfib, primes and sumlist. Every
program answers its result mod 256 (tove through its exit status, the peers
on standard output), or for lines its output; the answers must agree.

Each process runs --runs times, the processes of a task taking turns, and the
median of its CPU seconds (user and system, from the kernel's accounting of
the child) counts. A peer that is not installed (runhugs, runghc, python3),
or has no program for a task, is skipped. --baseline names a second tove
executable, an older build, shown beside the first with the speed-up.

--steps names a counting build of the literal reference engine
(-DTOVE_STATS=ON -DTOVE_REFERENCE_ENGINE=ON, default build-stats/tove when
it exists): it runs each task once and its machine steps, the literal steps
of the reduction rules, are shown. With --instructions every tove executable
also runs once under valgrind's callgrind, and its instructions per literal
step are shown (slow: callgrind runs some fifty times slower).
The exit status is 1 when an answer disagrees or a program fails, else 0.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

import hashlib
import random
import re
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAMS = os.path.join(HERE, "programs")

# (name, description, answer): "status" is the result mod 256, "output" the
# whole standard output.
TASKS = [
    ("calls", "nfib 27 through a helper: 635,621 calls", "status"),
    ("stream", "sum of the first 3000 primes, lazy stream of partial applications", "status"),
    ("list", "10^6 numbers built and summed by non-tail recursion", "status"),
    ("tree", "complete binary tree of depth 18 built afresh and counted", "status"),
    ("lines", "reverse the lines of a 100,000-line file read with fgetc", "output"),
    ("appends", "a 10^6-byte string built by appending one byte at a time", "status"),
    ("applies", "nfib 27 through the application operators ? and ;", "status"),
    ("nfib", "nfib 27: 635,621 calls", "status"),
    ("primes", "the 3000th prime by lazy trial-division filters", "status"),
    ("sumlist", "build and sum a 10^6-element list by non-tail recursion", "status"),
]

# Program arguments of a task: the file that lines reverses.
LINES_FILE = os.path.join(tempfile.gettempdir(), "tove-bench-lines-%d.txt" % os.getuid())


def task_arguments(task):
    if task != "lines":
        return []
    if not os.path.exists(LINES_FILE):
        rng = random.Random(100000)
        words = ["tove", "lazy", "cell", "pair", "atom", "graph", "", "K", "H", "0123"]
        with open(LINES_FILE, "w") as f:
            for i in range(100000):
                f.write(" ".join(rng.choice(words) for _ in range(rng.randint(0, 7))) + " %d\n" % i)
    return [LINES_FILE]


# (column, command prefix, program extension); the tool must be on PATH.
PEERS = [
    ("hugs", ["runhugs", "-h100M"], "hs"),
    ("ghci", ["runghc"], "hs"),
    ("python3", ["python3"], "py"),
]

def run_once(command):
    """CPU seconds and exit status of one process; its output is kept."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=PROGRAMS)
    out, err = process.communicate()
    # communicate() has reaped the child; its usage is in RUSAGE_CHILDREN.
    return process.returncode, out, err


def cpu_of(command):
    import resource
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    code, out, err = run_once(command)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    peak_kb = after.ru_maxrss  # the largest child so far, a rough figure
    return cpu, code, out, err, peak_kb


def measure_round_robin(commands, runs):
    """Median CPU seconds and answer of each (name, command, answer_of).

    The processes take turns, one run each per round, so that a change in
    the machine's load during the measurement falls on all of them alike.
    A process that fails is not run again and gets (None, None).
    """
    times = {name: [] for name, _, _ in commands}
    answers = {name: None for name, _, _ in commands}
    failed = set()
    for _ in range(runs):
        for name, command, answer_of in commands:
            if name in failed:
                continue
            cpu, code, out, err, _ = cpu_of(command)
            got = answer_of(code, out)
            if got is None:
                sys.stderr.write("failed: %s\n%s\n" % (" ".join(command), err.decode(errors="replace")[-500:]))
                failed.add(name)
                continue
            answers[name] = got
            times[name].append(cpu)
    return {name: ((None, None) if name in failed else (statistics.median(times[name]), answers[name]))
            for name, _, _ in commands}


def tove_answer(code, out):
    return code & 0xFF if 0 <= code < 256 else None


def printed_answer(code, out):
    text = out.decode(errors="replace").strip()
    return int(text) % 256 if code == 0 and text.lstrip("-").isdigit() else None


def output_answer(code, out):
    return hashlib.sha256(out).hexdigest()[:12] if code == 0 else None


def answer_of(kind, ext):
    if kind == "output":
        return output_answer
    return tove_answer if ext == "tv" else printed_answer


def literal_steps(counting_tove, task):
    """Machine steps of the reference engine on the task, or None."""
    command = [counting_tove, os.path.join(PROGRAMS, task + ".tv")] + task_arguments(task)
    process = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=PROGRAMS)
    found = re.search(rb"machine steps: (\d+)", process.stderr)
    return int(found.group(1)) if found else None


def instructions(tove, task):
    """Instructions callgrind counts for one run of the task, or None."""
    command = ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", tove,
               os.path.join(PROGRAMS, task + ".tv")] + task_arguments(task)
    process = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=PROGRAMS)
    found = re.search(rb"Collected : (\d+)", process.stderr)
    return int(found.group(1)) if found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tove", default=os.path.join(ROOT, "build", "tove"), help="the interpreter (default build/tove)")
    parser.add_argument("--baseline", help="an older tove executable to compare with")
    parser.add_argument("--steps", help="a counting build of the reference engine (default build-stats/tove)")
    parser.add_argument("--instructions", action="store_true", help="count instructions with callgrind")
    parser.add_argument("--tasks", help="comma-separated tasks to run (default all)")
    parser.add_argument("--runs", type=int, default=5, help="runs per process; the median counts (default 5)")
    args = parser.parse_args()

    tasks = TASKS
    if args.tasks:
        wanted = args.tasks.split(",")
        unknown = set(wanted) - {task for task, _, _ in TASKS}
        if unknown:
            parser.error("unknown tasks: " + ", ".join(sorted(unknown)))
        tasks = [t for t in TASKS if t[0] in wanted]
    counting = os.path.abspath(args.steps or os.path.join(ROOT, "build-stats", "tove"))
    if not os.path.exists(counting):
        if args.steps:
            parser.error("no counting build at " + counting)
        counting = None
    if args.instructions and not shutil.which("valgrind"):
        parser.error("--instructions needs valgrind")

    tools = [("tove", [os.path.abspath(args.tove)], "tv")]
    if args.baseline:
        tools.append(("baseline", [os.path.abspath(args.baseline)], "tv"))
    for name, prefix, ext in PEERS:
        if shutil.which(prefix[0]):
            tools.append((name, prefix, ext))
        else:
            print("%s: not installed, skipped" % prefix[0])
    for task, words, _ in tasks:
        print("%-8s %s" % (task, words))
    print()
    header = "%-8s" % "task" + "".join("%11s" % (name + " s") for name, _, _ in tools)
    if args.baseline:
        header += "%10s" % "speed-up"
    if counting:
        header += "%13s" % "steps"
        if args.instructions:
            header += "".join("%11s" % (name + " i/s") for name, _, ext in tools if ext == "tv")
    print(header + "  answer")

    ok = True
    for task, _, kind in tasks:
        runnable = [(name, prefix, ext) for name, prefix, ext in tools
                    if os.path.exists(os.path.join(PROGRAMS, "%s.%s" % (task, ext)))]
        commands = [(name, prefix + [os.path.join(PROGRAMS, "%s.%s" % (task, ext))] + task_arguments(task),
                     answer_of(kind, ext)) for name, prefix, ext in runnable]
        results = measure_round_robin(commands, args.runs)
        row = {name: results[name][0] if name in results else None for name, _, _ in tools}
        answers = {results[name][1] for name in results}
        # A peer that fails (a stack overflow, say) shows "failed" but does
        # not make the answers disagree; tove must answer.
        given = answers - {None}
        agree = row["tove"] is not None and len(given) == 1
        ok = ok and agree
        line = "%-8s" % task
        for name, _, _ in tools:
            if name not in results:
                line += "%11s" % "-"
            else:
                line += "%11.3f" % row[name] if row[name] is not None else "%11s" % "failed"
        if args.baseline:
            b, t = row.get("baseline"), row["tove"]
            line += "%9.2fx" % (b / t) if b and t else "%10s" % "-"
        if counting:
            steps = literal_steps(counting, task)
            line += "%13s" % (steps if steps else "-")
            if args.instructions:
                for name, prefix, ext in tools:
                    if ext != "tv":
                        continue
                    count = instructions(prefix[0], task) if steps else None
                    line += "%11.1f" % (count / steps) if count else "%11s" % "-"
        print(line + "  " + (str(given.pop()) if agree else "DISAGREE"))
        sys.stdout.flush()
    return 0 if ok else 1

if __name__ == "__main__":
    sys.exit(main())
