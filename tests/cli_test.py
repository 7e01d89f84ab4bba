#!/usr/bin/env python3
"""The driver's command line: usage, unreadable files, --help, --version and
the program read from standard input ("-")."""
import os
import re
import tempfile
import subprocess
import sys

tove, version = sys.argv[1], sys.argv[2]
failures = []


def expect(args, status, stdout, stderr, stdin=b""):
    run = subprocess.run([tove] + args, input=stdin, capture_output=True, timeout=60)
    if (run.returncode, run.stdout, run.stderr) != (status, stdout, stderr):
        failures.append(f"{args!r}: got {(run.returncode, run.stdout, run.stderr)!r}, "
                        f"expected {(status, stdout, stderr)!r}")


expect([], 1, b"", b"Error.\n Type: Usage\nUsage: tove file arg0 arg1 arg2 ...\n\\/\n")
expect(["missing[\n\x7f.tv"], 128, b"Error.\n",
       b" Type: Start\n Name: \"missing[5B][0A][7F].tv\"\nCould not read program file.\n\\/\n")
expect(["/"], 128, b"Error.\n",
       b" Type: Start\n Name: \"/\"\nCould not read program file.\n\\/\n")

# --help and --version, each as the only argument, answer on standard output.
help_run = subprocess.run([tove, "--help"], capture_output=True, timeout=60)
if help_run.returncode != 0 or help_run.stderr != b"":
    failures.append(f"--help: status {help_run.returncode}, stderr {help_run.stderr!r}")
if not help_run.stdout.startswith(b"Usage: tove file arg0 arg1 arg2 ...\n"):
    failures.append(f"--help: usage line missing from {help_run.stdout[:80]!r}")
for option in (b"  -i [file]", b"  --max-memory=SIZE", b"  --version", b"  -  "):
    if option not in help_run.stdout:
        failures.append(f"--help: no line for {option!r}")
expect(["--version"], 0, f"tove {version}\n".encode(), b"")
# -h is --help; both win wherever they stand among the options, even after
# a wrong one, and whatever follows them.
for args in (["-h"], ["--help", "x"], ["-x", "--help"], ["--max-memory=lots", "-h", "f.tv"],
             ["--version", "-h"]):
    expect(args, 0, help_run.stdout, b"")
expect(["--version", "x"], 0, f"tove {version}\n".encode(), b"")
expect(["-q", "--version"], 0, f"tove {version}\n".encode(), b"")

# "-" reads the whole program from standard input; the arguments after it
# are the program's own.
expect(["-"], 42, b"", b"", stdin=b"a\\gg(20)+2,\ngg\\x\\x*2\n")
expect(["-", "hello"], ord("h"), b"", b"", stdin=b"a\\p{getw a}getx p")
expect(["-", "x", "y"], ord("y"), b"", b"", stdin=b"a\\p{getw(a+8)}getx p")
expect(["-"], 128, b"",
       b"\033[mError.\n Type: Alive\n Name: nosuch\n"
       b"Alive function [TOP] references undefined [nosuch].\n\\/\n",
       stdin=b"a\\nosuch")

# Standard input that cannot be read is reported like an unreadable file.
folder = os.open("/", os.O_RDONLY)
run = subprocess.run([tove, "-"], stdin=folder, capture_output=True, timeout=60)
os.close(folder)
if (run.returncode, run.stdout, run.stderr) != (
        128, b"Error.\n", b" Type: Start\n Name: \"-\"\nCould not read program file.\n\\/\n"):
    failures.append(f"- from a folder: got {(run.returncode, run.stdout, run.stderr)!r}")
# Options come before the program file; options without a program are the
# usage report.
usage = b"Error.\n Type: Usage\nUsage: tove file arg0 arg1 arg2 ...\n\\/\n"
expect(["--max-memory=64M"], 1, b"", usage)
expect(["--stats", "--explain"], 1, b"", usage)
# A wrong option or value: one line saying what is wrong, then the usage.
tail = b"\nUsage: tove [options] file arg0 arg1 arg2 ...\nTry 'tove --help' for the options.\n"
for args, line in (
        (["--max-memory=lots", "x.tv"], b"--max-memory wants a size such as 512M, not 'lots'"),
        (["--max-memory=64MB", "x.tv"], b"--max-memory wants a size such as 512M, not '64MB'"),
        (["--max-memory=99999999999999999999", "x.tv"],
         b"--max-memory wants a size such as 512M, not '99999999999999999999'"),
        (["--max-memory"], b"--max-memory wants a size such as 512M"),
        (["-x", "x.tv"], b"unknown option '-x'"),
        (["--frobnicate=2", "x.tv"], b"unknown option '--frobnicate'"),
        (["-hx"], b"unknown option '-hx'"),
        (["--trace=lots", "x.tv"], b"--trace wants a number of rewrites such as 200, not 'lots'"),
        (["--stats=yes", "x.tv"], b"--stats takes no value, not 'yes'"),
        (["--profile=", "x.tv"], b"--profile= wants a file name"),
        (["-e"], b"-e wants an expression"),
        (["-c"], b"-c wants program text"),
        (["-l"], b"-l wants a library name"),
        (["-e", "1", "x.tv"], b"-e EXPR takes no program file or arguments, not 'x.tv'"),
        # The first wrong word is the one named.
        (["-y", "-z", "x.tv"], b"unknown option '-y'")):
    expect(args, 1, b"", b"tove: " + line + tail)
# A value as the next word, as after "=".
expect(["--max-memory", "64M", "-"], 42, b"", b"", stdin=b"a\\6*7")
# "--" ends the options: a file named -i or -x runs as a program.
with tempfile.TemporaryDirectory() as folder:
    for name in ("-i", "-x"):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"a\\6*7")
        expect(["--", os.path.join(folder, name)], 42, b"", b"")
    expect(["--"], 1, b"", usage)
    # --profile=FILE writes every definition as CSV; the table goes to
    # standard error.
    table = os.path.join(folder, "profile.csv")
    run = subprocess.run([tove, "--profile=" + table, "-"], input=b"a\\(sq 6)+(sq 1),\nsq\\x\\x*x",
                         capture_output=True, timeout=60)
    if run.returncode != 37 or not re.match(
            rb"profile: definition +expansions +steps +cells\n(profile: \S+ +\d+ +\d+ +\d+\n)+$", run.stderr):
        failures.append(f"--profile: got {(run.returncode, run.stderr)!r}")
    with open(table, "rb") as f:
        rows = f.read().split(b"\n")
    if rows[0] != b"definition,expansions,steps,cells" or not any(r.startswith(b"sq,2,") for r in rows):
        failures.append(f"--profile file: got {rows!r}")
    # A profile file that cannot be written fails a run that succeeded.
    missing = os.path.join(folder, "no", "such.csv")
    run = subprocess.run([tove, "--profile=" + missing, "-"], input=b"a\\0", capture_output=True, timeout=60)
    if run.returncode != 1 or not run.stderr.endswith(f"tove: cannot write the profile to {missing}\n".encode()):
        failures.append(f"--profile to a missing folder: got {(run.returncode, run.stderr)!r}")
# -e evaluates an expression as a session line and prints its value; -c
# runs a text as a program file, with the arguments after it.
expect(["-e", "6*7"], 0, b"42\n", b"")
expect(["-e", "sq 12,sq\\x\\x*x"], 0, b"144\n", b"")
expect(["-e6*7"], 0, b"42\n", b"")
expect(["-e", "cc,cc\\cc+1"], 128, b"",
       b"\033[mError.\n Type: Cycle\n Name: cc\nCycle detected on function [cc].\n\\/\n")
expect(["-c", "a\\6*7"], 42, b"", b"")
expect(["-c", "a\\p{getw a}getx p", "hello"], ord("h"), b"", b"")
expect(["--max-memory=64M", "-c", "a\\7"], 7, b"", b"")
# --stats: one line after the run, with or without a failure.
for args, status in ((["--stats", "-c", "a\\6*7"], 42), (["--stats", "-c", "a\\[x]"], 128)):
    run = subprocess.run([tove] + args, capture_output=True, timeout=60)
    last = run.stderr.split(b"\n")[-2] if run.stderr.endswith(b"\n") else b""
    if run.returncode != status or not re.fullmatch(
            rb"stats: \d+ steps, \d+ cells, \d+\.\d MiB peak, \d+\.\d{3} s cpu, \d+\.\d{3} s wall", last):
        failures.append(f"{args!r}: got {(run.returncode, run.stderr)!r}")
# --trace=N: the first N rewrites, each as before => after.
expect(["--trace=4", "-e", "6*7+1"], 0, b"43\n", b"+ => plus\n* => mult\n(mult6 7) => 42\n(plus42 1) => 43\n")
expect(["--trace=1", "-e", "6*7+1"], 0, b"43\n", b"+ => plus\n")
# Every suffix the size accepts works, and the help names each one.
help_option = help_run.stdout.split(b"  --max-memory=SIZE", 1)[-1].split(b"\n  -", 1)[0]
help_words = help_option.replace(b",", b" ").split()
for size in ("65536K", "64M", "1G", "1T", "64m"):
    expect([f"--max-memory={size}", "-"], 42, b"", b"", stdin=b"a\\6*7")
    if size[-1].upper().encode() not in help_words:
        failures.append(f"--help does not name the suffix of {size}")
# A file that never ends runs out of memory while it is read.
expect(["--max-memory=64M", "/dev/zero"], 128, b"",
       b"\033[mError.\n Type: Space\nMemory ran out while reading the program.\n\\/\n")

# The README's quick-start line runs in any POSIX shell: each shell found
# here runs it with the interpreter under test in place of ./build/tove.
readme = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")
with open(readme, encoding="utf-8") as f:
    quick = [line.strip() for line in f if line.strip().startswith("printf ") and "./build/tove -" in line]
if not quick:
    failures.append("README: no quick-start printf line found")
for shell in ("sh", "dash", "bash", "zsh", "mksh"):
    path = next((os.path.join(d, shell) for d in os.environ.get("PATH", "").split(os.pathsep)
                 if os.access(os.path.join(d, shell), os.X_OK)), None)
    if path is None:
        continue
    for line in quick:
        run = subprocess.run([path, "-c", line.replace("./build/tove", tove)], capture_output=True, timeout=60)
        if run.stdout != b"exit status 42\n":
            failures.append(f"README line under {shell}: {(run.stdout, run.stderr)!r}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
