#!/usr/bin/env python3
"""The driver's command line: usage, unreadable files, --help, --version and
the program read from standard input ("-")."""
import os
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
# With a further argument they are file names like any other.
expect(["--help", "x"], 128, b"Error.\n",
       b" Type: Start\n Name: \"--help\"\nCould not read program file.\n\\/\n")
expect(["--version", "x"], 128, b"Error.\n",
       b" Type: Start\n Name: \"--version\"\nCould not read program file.\n\\/\n")

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
# Options come before the program file; a bad size is a usage error.
usage = b"Error.\n Type: Usage\nUsage: tove file arg0 arg1 arg2 ...\n\\/\n"
expect(["--max-memory=64M"], 1, b"", usage)
expect(["--max-memory=lots", "x.tv"], 1, b"", usage)
expect(["--max-memory=99999999999999999999", "x.tv"], 1, b"", usage)
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

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
