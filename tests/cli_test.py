#!/usr/bin/env python3
"""Command-line failures of the driver: no program file, unreadable file."""
import subprocess
import sys

tove = sys.argv[1]
failures = []


def expect(args, status, stdout, stderr):
    run = subprocess.run([tove] + args, capture_output=True, timeout=60)
    if (run.returncode, run.stdout, run.stderr) != (status, stdout, stderr):
        failures.append(f"{args!r}: got {(run.returncode, run.stdout, run.stderr)!r}, "
                        f"expected {(status, stdout, stderr)!r}")


expect([], 1, b"", b"Error.\n Type: Usage\nUsage: tove file arg0 arg1 arg2 ...\n\\/\n")
expect(["missing[\n\x7f.tv"], 128, b"Error.\n",
       b" Type: Start\n Name: \"missing[5B][0A][7F].tv\"\nCould not read program file.\n\\/\n")
expect(["/"], 128, b"Error.\n",
       b" Type: Start\n Name: \"/\"\nCould not read program file.\n\\/\n")

# Options come before the program file; a bad size is a usage error.
usage = b"Error.\n Type: Usage\nUsage: tove file arg0 arg1 arg2 ...\n\\/\n"
expect(["--max-memory=64M"], 1, b"", usage)
expect(["--max-memory=lots", "x.tv"], 1, b"", usage)
expect(["--max-memory=99999999999999999999", "x.tv"], 1, b"", usage)
# A file that never ends runs out of memory while it is read.
expect(["--max-memory=64M", "/dev/zero"], 128, b"",
       b"\033[mError.\n Type: Space\nMemory ran out while reading the program.\n\\/\n")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
