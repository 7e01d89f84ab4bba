#!/usr/bin/env python3
"""Times tove's file copies through the C-library binding against peers.

    python3 bench/clib_peers.py [--tove build/tove] [--runs 3]

Two tasks, each a whole process per run, on input files of random bytes
made in a temporary folder:

  blocks  a 50 MB file copied with fread and fwrite in 64 KiB blocks
          (bench/programs/copy_blocks.tv) against `cat in > out`;
  bytes   a 1 MB file copied one byte at a time with getc and putc
          (bench/programs/copy_bytes.tv) against python3 doing the same
          loop with read(1) and write (bench/programs/copy_bytes.py).

Every process runs --runs times; the best wall-clock time and the best
processor time (user + system) count. Every copy must equal its input.
The table shows the times and the ratios tove / peer (above 1: tove is
slower). The exit status is 1 when a copy fails or differs, else 0.
"""
import argparse
import filecmp
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROGRAMS = os.path.join(HERE, "programs")

MIB = 1024 * 1024
# (task, input size, what it does)
TASKS = [
    ("blocks", 50 * MIB, "50 MB copy, fread/fwrite in 64 KiB blocks, against cat"),
    ("bytes", 1 * MIB, "1 MB copy, getc/putc byte by byte, against python3's read(1)/write loop"),
]


def make_input(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = os.urandom(min(left, MIB))
            f.write(chunk)
            left -= len(chunk)


def run_once(command, source, target, stdout_to_target):
    """One process; answers (wall seconds, processor seconds, ok)."""
    out = open(target, "wb") if stdout_to_target else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(status)
        process.stderr.close()
    finally:
        if stdout_to_target:
            out.close()
    ok = process.returncode == 0 and filecmp.cmp(source, target, shallow=False)
    return wall, usage.ru_utime + usage.ru_stime, ok


def measure(name, command, source, target, stdout_to_target, runs):
    best_wall, best_cpu = None, None
    for _ in range(runs):
        if os.path.exists(target):
            os.remove(target)
        wall, cpu, ok = run_once(command, source, target, stdout_to_target)
        if not ok:
            sys.stderr.write("failed or differs: %s\n" % name)
            return None, None
        best_wall = wall if best_wall is None else min(best_wall, wall)
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
    return best_wall, best_cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tove", default=os.path.join(ROOT, "build", "tove"), help="the interpreter (default build/tove)")
    parser.add_argument("--runs", type=int, default=3, help="runs per process; the best counts (default 3)")
    args = parser.parse_args()
    tove = os.path.abspath(args.tove)
    if not os.access(tove, os.X_OK):
        sys.exit("no interpreter at %s (build the tove target, or give --tove)" % tove)
    python = sys.executable

    for task, _, words in TASKS:
        print("%-7s %s" % (task, words))
    print()
    print("%-7s %-8s %10s %10s %12s %12s" % ("task", "program", "wall s", "cpu s", "wall ratio", "cpu ratio"))
    ok = True
    with tempfile.TemporaryDirectory() as folder:
        for task, size, _ in TASKS:
            source = os.path.join(folder, task + ".in")
            target = os.path.join(folder, task + ".out")
            make_input(source, size)
            if task == "blocks":
                runs = [("tove", [tove, os.path.join(PROGRAMS, "copy_blocks.tv"), source, target], False),
                        ("cat", ["cat", source], True)]
            else:
                runs = [("tove", [tove, os.path.join(PROGRAMS, "copy_bytes.tv"), source, target], False),
                        ("python3", [python, os.path.join(PROGRAMS, "copy_bytes.py"), source, target], False)]
            results = [(name, *measure(name, command, source, target, to_target, args.runs))
                       for name, command, to_target in runs]
            tove_wall, tove_cpu = results[0][1], results[0][2]
            for name, wall, cpu in results:
                if wall is None:
                    ok = False
                    print("%-7s %-8s %10s" % (task, name, "failed"))
                    continue
                ratios = ("%11.2fx %11.2fx" % (tove_wall / wall, tove_cpu / cpu)
                          if name != "tove" and tove_wall and cpu else "%12s %12s" % ("", ""))
                print("%-7s %-8s %10.3f %10.3f %s" % (task, name, wall, cpu, ratios))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
