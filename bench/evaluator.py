#!/usr/bin/env python3
"""Times tove's evaluator against other lazy and strict interpreters.

    python3 bench/evaluator.py [--tove build/tove] [--baseline OTHER_TOVE] [--runs 5]

Three workloads, one program per language in bench/programs (NAME.tv, .py,
.hs): nfib 27 (635,621 calls), the 3000th prime by lazy trial-division
filters, and a 10^6-element list built and summed by non-tail recursion.
Every program answers its result mod 256 (tove through its exit status, the
peers on standard output); the answers must agree.

Each process runs --runs times, the processes of a task taking turns, and the
median of its CPU seconds (user and system, from the kernel's accounting of
the child) counts. A peer that is not
installed (runhugs, runghc, python3) is skipped. --baseline names a second
tove executable, an older build, shown beside the first with the speed-up.
The exit status is 1 when an answer disagrees or a program fails, else 0.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAMS = os.path.join(HERE, "programs")

TASKS = [
    ("nfib", "nfib 27: 635,621 calls"),
    ("primes", "the 3000th prime by lazy trial-division filters"),
    ("sumlist", "build and sum a 10^6-element list by non-tail recursion"),
]

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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tove", default=os.path.join(ROOT, "build", "tove"), help="the interpreter (default build/tove)")
    parser.add_argument("--baseline", help="an older tove executable to compare with")
    parser.add_argument("--runs", type=int, default=5, help="runs per process; the median counts (default 5)")
    args = parser.parse_args()

    tools = [("tove", [os.path.abspath(args.tove)], "tv")]
    if args.baseline:
        tools.append(("baseline", [os.path.abspath(args.baseline)], "tv"))
    for name, prefix, ext in PEERS:
        if shutil.which(prefix[0]):
            tools.append((name, prefix, ext))
        else:
            print("%s: not installed, skipped" % prefix[0])
    for task, words in TASKS:
        print("%-8s %s" % (task, words))
    print()
    header = "%-8s" % "task" + "".join("%11s" % (name + " s") for name, _, _ in tools)
    if args.baseline:
        header += "%10s" % "speed-up"
    print(header + "  answer")

    ok = True
    for task, _ in TASKS:
        commands = [(name, prefix + [os.path.join(PROGRAMS, "%s.%s" % (task, ext))],
                     tove_answer if ext == "tv" else printed_answer) for name, prefix, ext in tools]
        results = measure_round_robin(commands, args.runs)
        row = {name: results[name][0] for name, _, _ in tools}
        answers = {results[name][1] for name, _, _ in tools}
        # A peer that fails (a stack overflow, say) shows "failed" but does
        # not make the answers disagree; tove must answer.
        given = answers - {None}
        agree = row["tove"] is not None and len(given) == 1
        ok = ok and agree
        line = "%-8s" % task + "".join("%11.3f" % row[n] if row[n] is not None else "%11s" % "failed" for n, _, _ in tools)
        if args.baseline:
            b, t = row.get("baseline"), row["tove"]
            line += "%9.2fx" % (b / t) if b and t else "%10s" % "-"
        print(line + "  " + (str(given.pop()) if agree else "DISAGREE"))
        sys.stdout.flush()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
