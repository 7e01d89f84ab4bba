#!/usr/bin/env python3
"""Times tove against python3 and bc on the same work, as whole processes.

    python3 bench/peers.py [--tove build/tove] [--runs 3]

Each task is one program per language (bench/programs/NAME.tv, .py and .bc;
the product's programs are written at run time, since its two 100,000-digit
operands stand in the program text). Every process runs --runs times and
its best wall-clock time counts. tove answers through its exit status,
python3 and bc print their answer; the answers must agree.

The table shows each time and the ratio peer time / tove time (above 1:
tove is faster), then each target with "met" or "NOT met". The exit status
is 1 when an answer disagrees or a program fails, else 0.
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAMS = os.path.join(HERE, "programs")

# (task, what it does)
TASKS = [
    ("power", "3^200000 by powa, its digit count mod 256"),
    ("product", "product of two 100,000-digit literals, its digit count mod 256"),
    ("factorial", "recursive factorial of 10000, mod 256"),
    ("countdown", "recursive countdown from 10^6: 10^6 subtractions and comparisons"),
]

# (task, peer, test on the ratio peer/tove, the target in words)
TARGETS = [
    ("power", "python3", lambda r: r >= 10, "at least 10x faster than python3"),
    ("product", "python3", lambda r: r > 1, "faster than python3"),
    ("product", "bc", lambda r: r > 1, "faster than bc"),
    ("factorial", "python3", lambda r: r >= 0.5, "within 2x of python3"),
    ("factorial", "bc", lambda r: r >= 5, "at least 5x faster than bc"),
    ("countdown", "bc", lambda r: r > 1, "faster than bc"),
]


def write_product(folder):
    """The product task in the three languages, with the same operands."""
    rng = random.Random(20240611)

    def operand():
        return str(rng.randint(1, 9)) + "".join(rng.choice("0123456789") for _ in range(99999))

    a, b = operand(), operand()
    paths = {}
    for ext, text in (
        ("tv", "a\\rank(%s*%s)%%256\n" % (a, b)),
        ("py", "print(len(str(%s * %s)) %% 256)\n" % (a, b)),
        # bc reads one long line; its output is one short number.
        ("bc", "length(%s * %s) %% 256\n" % (a, b)),
    ):
        paths[ext] = os.path.join(folder, "product." + ext)
        with open(paths[ext], "w") as f:
            f.write(text)
    return paths


def program_paths(task, folder):
    if task == "product":
        return write_product(folder)
    return {ext: os.path.join(PROGRAMS, "%s.%s" % (task, ext)) for ext in ("tv", "py", "bc")}


def run_once(command, stdin_path):
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    env = dict(os.environ, BC_LINE_LENGTH="0")
    try:
        start = time.perf_counter()
        done = subprocess.run(command, stdin=stdin, capture_output=True, env=env, cwd=PROGRAMS)
        elapsed = time.perf_counter() - start
    finally:
        if stdin_path:
            stdin.close()
    return elapsed, done


def measure(command, stdin_path, runs, answer_of):
    best, answer = None, None
    for _ in range(runs):
        elapsed, done = run_once(command, stdin_path)
        got = answer_of(done)
        if got is None:
            sys.stderr.write("failed: %s\n%s\n" % (" ".join(command)[:200], done.stderr.decode()[-2000:]))
            return None, None
        answer = got
        best = elapsed if best is None else min(best, elapsed)
    return best, answer


def printed_answer(done):
    if done.returncode != 0:
        return None
    text = done.stdout.decode().strip()
    return int(text) % 256 if text.lstrip("-").isdigit() else None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tove", default=os.path.join(ROOT, "build", "tove"), help="the interpreter (default build/tove)")
    parser.add_argument("--runs", type=int, default=3, help="runs per process; the best counts (default 3)")
    args = parser.parse_args()
    tove = os.path.abspath(args.tove)
    if not os.access(tove, os.X_OK):
        sys.exit("no interpreter at %s (build the tove target, or give --tove)" % tove)
    # The interpreter itself, not a launcher script in front of it.
    python = sys.executable

    ok = True
    times = {}
    for task, words in TASKS:
        print("%-10s %s" % (task, words))
    print()
    print("%-10s %10s %10s %10s %12s %12s  %s" % ("task", "tove s", "python3 s", "bc s", "python3/tove", "bc/tove", "answer"))
    with tempfile.TemporaryDirectory() as folder:
        for task, _ in TASKS:
            paths = program_paths(task, folder)
            t_tove, a_tove = measure([tove, paths["tv"]], None, args.runs, lambda d: d.returncode & 0xFF)
            t_py, a_py = measure([python, "-X", "int_max_str_digits=0", paths["py"]], None, args.runs, printed_answer)
            t_bc, a_bc = measure(["bc", "-q"], paths["bc"], args.runs, printed_answer)
            answers = {a_tove, a_py, a_bc}
            agree = None not in answers and len(answers) == 1
            ok = ok and agree
            times[task] = {"tove": t_tove, "python3": t_py, "bc": t_bc}

            def ratio(peer_time):
                return "%11.2fx" % (peer_time / t_tove) if peer_time and t_tove else "%12s" % "-"

            def secs(t):
                return "%10.3f" % t if t is not None else "%10s" % "failed"

            print("%-10s %s %s %s %s %s  %s" % (task, secs(t_tove), secs(t_py), secs(t_bc), ratio(t_py), ratio(t_bc),
                                               a_tove if agree else "DISAGREE tove=%s python3=%s bc=%s" % (a_tove, a_py, a_bc)))

    print()
    for task, peer, test, words in TARGETS:
        t = times[task]
        if t["tove"] and t[peer]:
            r = t[peer] / t["tove"]
            print("%-10s %-34s ratio %7.2f  %s" % (task, words, r, "met" if test(r) else "NOT met"))
        else:
            print("%-10s %-34s %s" % (task, words, "not measured"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
