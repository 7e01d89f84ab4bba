#!/usr/bin/env python3
"""Times the library's joining, file reading and sorting against python3.

    python3 bench/library.py [--tove build/tove] [--runs 3] [--scale 1]

Three tasks, each a whole process per run, at three sizes (the largest
times --scale) so the growth shows beside the ratio:

  join  join(map(...), newline) of 100-byte pieces into 2.5, 5 and 10 MB,
        written with file_write (-l list -l text -l fs), against
        "\\n".join of the same pieces written by python3;
  read  file_read of those files (-l fs), against open().read();
  sort  sort of 25000, 50000 and 100000 pseudo-random integers
        (-l list), against sorted().

Each process answers a check of its result (a size, a sum of the first
elements) that must agree with python3's. The best wall-clock and
processor times (user + system, of the child) of --runs count. The table
shows the times, tove / python3, and tove's time per unit (per MB, or per
n log2 n microsecond): a steady unit time means the growth is as claimed.
Exit status 1 when a check differs.
"""
import argparse
import math
import os
import resource
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

JOIN_TV = ("a\\n{parse_int(head(args a))}s{join(map(i\\cape[x]*99,range(0,n)),cape[[p]])}"
           "w{file_write(head(tail(args a)),s)}p{say_int(rank s)}0")
JOIN_PY = ("import sys\nn=int(sys.argv[1])\ns='\\n'.join('x'*99 for i in range(n))\n"
           "open(sys.argv[2],'w').write(s)\nprint(len(s))")
READ_TV = "a\\s{file_read(head(args a))}p{say_int(rank s)}0"
READ_PY = "import sys\nprint(len(open(sys.argv[1],'rb').read()))"
# The same linear congruential numbers in both, below 10^6.
SORT_TV = ("a\\n{parse_int(head(args a))}s{sort(rnd(n,7))}p{say_int(sum(take(3,s)))}0,\n"
           "rnd\\n\\x\\(n<1)(nil)(cons(x%1000000,rnd(n-1,(x*1103515245+12345)%2147483648)))")
SORT_PY = ("import sys\nn=int(sys.argv[1])\nx=7\nl=[]\nfor i in range(n):\n"
           "    l.append(x%1000000)\n    x=(x*1103515245+12345)%2147483648\nprint(sum(sorted(l)[:3]))")


def timed(command, runs):
    """Best wall and processor seconds of runs of command, and its output."""
    best_wall, best_cpu, output = math.inf, math.inf, None
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        run = subprocess.run(command, capture_output=True, check=True)
        wall = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        best_wall, best_cpu, output = min(best_wall, wall), min(best_cpu, cpu), run.stdout
    return best_wall, best_cpu, output


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tove", default=os.path.join(ROOT, "build", "tove"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scale", type=float, default=1.0)
    options = parser.parse_args()
    tove = [options.tove, "-L", os.path.join(ROOT, "lib")]
    problems = 0
    with tempfile.TemporaryDirectory(prefix="tove_bench_") as folder:
        def program(name, text):
            path = os.path.join(folder, name)
            with open(path, "w") as f:
                f.write(text)
            return path
        join_tv, read_tv, sort_tv = program("join.tv", JOIN_TV), program("read.tv", READ_TV), program("sort.tv", SORT_TV)
        join_py, read_py, sort_py = program("join.py", JOIN_PY), program("read.py", READ_PY), program("sort.py", SORT_PY)
        rows = []
        for fraction in (0.25, 0.5, 1.0):
            pieces = int(100000 * fraction * options.scale)
            out_tv, out_py = os.path.join(folder, "tv.txt"), os.path.join(folder, "py.txt")
            megabytes = pieces * 100 / 1e6
            t = timed(tove + ["-l", "io", "-l", "list", "-l", "text", "-l", "fs", join_tv, str(pieces), out_tv],
                      options.runs)
            p = timed([sys.executable, join_py, str(pieces), out_py], options.runs)
            same = t[2] == p[2] and open(out_tv, "rb").read() == open(out_py, "rb").read()
            rows.append(("join", f"{megabytes:.1f} MB", t, p, t[1] / megabytes, "s/MB", same))
            t = timed(tove + ["-l", "io", "-l", "list", "-l", "fs", read_tv, out_py], options.runs)
            p = timed([sys.executable, read_py, out_py], options.runs)
            rows.append(("read", f"{megabytes:.1f} MB", t, p, t[1] / megabytes, "s/MB", t[2] == p[2]))
            n = int(100000 * fraction * options.scale)
            t = timed(tove + ["-l", "io", "-l", "list", "-l", "text", sort_tv, str(n)], options.runs)
            p = timed([sys.executable, sort_py, str(n)], options.runs)
            rows.append(("sort", f"n={n}", t, p, t[1] / (n * math.log2(n)) * 1e6, "us/(n log2 n)", t[2] == p[2]))
        print(f"{'task':5} {'size':9} {'tove wall':>9} {'tove cpu':>9} {'py wall':>8} {'py cpu':>8} "
              f"{'cpu ratio':>9}  tove per unit")
        for task in ("join", "read", "sort"):
            for name, size, t, p, unit, unit_name, same in rows:
                if name != task:
                    continue
                mark = "" if same else "  RESULTS DIFFER"
                problems += not same
                print(f"{name:5} {size:9} {t[0]:9.3f} {t[1]:9.3f} {p[0]:8.3f} {p[1]:8.3f} "
                      f"{t[1] / max(p[1], 1e-6):9.1f}  {unit:.4f} {unit_name}{mark}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
