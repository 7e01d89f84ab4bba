#!/usr/bin/env python3
"""The interactive session (tove -i) driven through pipes and a terminal."""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import time

tove = sys.argv[1]
failures = []


def report(type_word, message, name=None):
    text = "\033[mError.\n Type: " + type_word + "\n"
    if name is not None:
        text += " Name: " + name + "\n"
    return (text + message + "\n\\/\n").encode()


def expect(args, lines, status, stdout, stderr):
    run = subprocess.run([tove, "-i"] + args, input="".join(l + "\n" for l in lines).encode(),
                         capture_output=True, timeout=60)
    got = (run.returncode, run.stdout, run.stderr)
    if got != (status, stdout, stderr):
        failures.append(f"-i {args!r} {lines!r}:\n  got      {got!r}\n  expected {(status, stdout, stderr)!r}")


# Definitions print nothing, expressions print their value, failures print
# their report and the session goes on to the end of its input.
expect([], ["sq\\x\\x*x", "sq 12", "", "  1+2", "x\\x+1", "[abc]",
            "hh 3,hh\\x\\sq x+1", "hh 4"], 0,
       b"144\n3\n(\\x +x1)\n[abc]\n16\n25\n", b"")
expect([], ["sq\\x\\x*x", "sq\\5", "nosuch 3", "(", "cc\\cc+1", "cc", "bad\\nosuch", "bad", "sq 2"], 0,
       b"4\n",
       report("Taken", "Function [sq] is already defined and cannot be re-defined.", "sq")
       + report("Alive", "Alive function [TOP] references undefined [nosuch].", "nosuch")
       + report("Match", "Match[_____]Right dangling parenthesis.")
       + report("Cycle", "Cycle detected on function [cc].", "cc")
       + report("Alive", "Alive function [bad] references undefined [nosuch].", "nosuch")
       + report("Alive", "Alive function [TOP] references undefined [bad].", "bad"))
# A lambda on a local letter is an expression, not a definition.
expect([], ["plus\\x\\x", "x\\5,", "0,x\\5", "[\\]\\1"], 0, b"\\x5\n",
       report("Built", "Built in function [plus] cannot be re-defined.", "plus")
       + report("Lower", "Single lowercase letters (x) cannot be defined as global variables.")
       + report("Built", "Built in function [\\] cannot be re-defined."))
# Uncached definitions, and load inside a line sees the session's names.
expect([], ["ff()\\2+3", "ff*ff", "load([ff+1])", "load([gg 1,gg\\x\\x+ff])", "gg 10"], 0,
       b"25\n6\n6\n15\n", b"")
# The end of input without a line end still runs the last line.
run = subprocess.run([tove, "-i"], input=b"6*7", capture_output=True, timeout=60)
if (run.returncode, run.stdout) != (0, b"42\n"):
    failures.append(f"unterminated last line: {run!r}")

with tempfile.TemporaryDirectory() as folder:
    program = os.path.join(folder, "start.tv")
    with open(program, "w") as f:
        f.write("a\\gg a,gg\\x\\x*2,cc\\7")
    expect([program], ["gg cc", "gg\\1"], 0, b"14\n",
           report("Taken", "Function [gg] is already defined and cannot be re-defined.", "gg"))
    broken = os.path.join(folder, "broken.tv")
    with open(broken, "w") as f:
        f.write("nosuch")
    expect([broken], ["1"], 128, b"",
           report("Alive", "Alive function [TOP] references undefined [nosuch].", "nosuch"))
    expect([os.path.join(folder, "missing.tv")], ["1"], 128, b"Error.\n",
           b" Type: Start\n Name: \"" + os.path.join(folder, "missing.tv").encode()
           + b"\"\nCould not read program file.\n\\/\n")


# Ctrl-C ends an endless evaluation and the session goes on; the constant it
# was computing is computed again by a later line, not taken for a cycle.
def interrupted(session, lines):
    session.stdin.write(lines.encode())
    session.stdin.flush()
    seen = b""
    deadline = time.time() + 20
    while b"Interrupted.\n" not in seen and time.time() < deadline:
        time.sleep(0.2)
        session.send_signal(signal.SIGINT)
        while select.select([session.stderr], [], [], 0)[0]:
            chunk = os.read(session.stderr.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    return seen


session = subprocess.Popen([tove, "-i"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
first = interrupted(session, "spin\\x\\spin(x+1)\ncc\\spin 1\ncc\n")
second = interrupted(session, "cc\n")
session.stdin.write(b"1+2\n")
session.stdin.close()
out = session.stdout.read()
rest = session.stderr.read()
status = session.wait(timeout=20)
if (first, second, out, rest, status) != (b"Interrupted.\n", b"Interrupted.\n", b"3\n", b"", 0):
    failures.append(f"Ctrl-C: {(first, second, out, rest, status)!r}")

# On a terminal: a prompt before every line, the value, and Ctrl-D leaves.
pid, terminal = pty.fork()
if pid == 0:
    os.execv(tove, [tove, "-i"])
screen = b""


def read_until(marker):
    global screen
    deadline = time.time() + 20
    while marker not in screen and time.time() < deadline:
        if select.select([terminal], [], [], 0.5)[0]:
            try:
                screen += os.read(terminal, 4096)
            except OSError:
                break


read_until(b"tove> ")
os.write(terminal, b"6*7\n")
read_until(b"42\r\ntove> ")
os.write(terminal, b"\x04")
read_until(b"NEVER")
_, wait_status = os.waitpid(pid, 0)
if not (screen.startswith(b"tove> 6*7\r\n42\r\ntove> ") and os.WEXITSTATUS(wait_status) == 0):
    failures.append(f"terminal: {screen!r}, status {wait_status}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
