#!/usr/bin/env python3
"""The end of a run's output: what a program wrote and the system could not
take (a full device, a closed standard output, a reader that went away)
fails the run, and output that went through stays a success."""
import os
import signal
import subprocess
import sys
import tempfile

tove = sys.argv[1]
failures = []
lost = b"tove: error writing standard output: "

# 10 MB through fwrite in blocks of 64 KB, then the result 5.
WRITES_A_LOT = (b"a\\sq(ww 160)(sq(free block)5),\n"
                b"ww\\n\\(n<1)(I)(sq(fwrite(block,1,65536,stdout))(ww(n-1))),\n"
                b"block\\calloc(65536,1),sq\\x\\y\\y\n")
WRITES_LITTLE = b"a\\sq(puts(cape[hello]))5,sq\\x\\y\\y\n"
WRITES_NOTHING = b"a\\5\n"
EXITS = b"a\\sq(puts(cape[hello]))(exit 3),sq\\x\\y\\y\n"
REPORTS = b"a\\sq(puts(cape[hello]))(cape[x]),sq\\x\\y\\y\n"


def run(program, stdout, **more):
    with tempfile.NamedTemporaryFile(suffix=".tv") as source:
        source.write(program)
        source.flush()
        return subprocess.run([tove, source.name], stdout=stdout, stderr=subprocess.PIPE,
                              timeout=60, **more)


def expect(name, got, status, stderr_start):
    if got.returncode != status or not got.stderr.startswith(stderr_start):
        failures.append(f"{name}: status {got.returncode}, stderr {got.stderr[:200]!r}; "
                        f"expected {status} and stderr starting {stderr_start!r}")


with open("/dev/full", "wb") as full:
    expect("a lot to a full device", run(WRITES_A_LOT, full), 128, lost + b"No space left on device\n")
    expect("a line to a full device", run(WRITES_LITTLE, full), 128, lost + b"No space left on device\n")
    expect("exit after a line to a full device", run(EXITS, full), 128,
           lost + b"No space left on device\n")
    expect("nothing to a full device", run(WRITES_NOTHING, full), 5, b"")
    # A report stays the failure it is; the lost line is said after it.
    got = run(REPORTS, full)
    expect("a report after a line to a full device", got, 128, b"\033[mError.\n Type: Range\n")
    if not got.stderr.endswith(lost + b"No space left on device\n"):
        failures.append(f"report then lost output: stderr {got.stderr!r}")

# Standard output closed altogether.
closed = run(WRITES_LITTLE, None, preexec_fn=lambda: os.close(1))
expect("a line to a closed standard output", closed, 128, lost + b"Bad file descriptor\n")

# Output that went through: the program's own result.
expect("a line to a pipe", run(WRITES_LITTLE, subprocess.PIPE), 5, b"")

# A reader that goes away after one byte, as `| head -c1` does: the run ends
# quietly, by SIGPIPE as the other tools of a pipeline end.
reader, writer = os.pipe()
with tempfile.NamedTemporaryFile(suffix=".tv") as source:
    source.write(WRITES_A_LOT)
    source.flush()
    process = subprocess.Popen([tove, source.name], stdout=writer, stderr=subprocess.PIPE)
    os.close(writer)
    os.read(reader, 1)
    os.close(reader)
    stderr = process.stderr.read()
    process.wait(timeout=60)
    if process.returncode != -signal.SIGPIPE or stderr != b"":
        failures.append(f"reader gone: status {process.returncode}, stderr {stderr!r}")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
