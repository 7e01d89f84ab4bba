#!/usr/bin/env python3
"""The interactive session (tove -i) driven through pipes and a terminal."""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time

tove = sys.argv[1]
# Whether the build edits lines with libedit (completion and history).
line_editor = len(sys.argv) > 2 and sys.argv[2] == "libedit"
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
expect([], ["sq\\x\\x*x", "nosuch 3", ")", "cc\\cc+1", "cc", "bad\\nosuch", "bad", "sq 2", "("], 0,
       b"4\n",
       report("Alive", "Alive function [TOP] references undefined [nosuch].", "nosuch")
       + report("Match", "Match[_____]Left dangling parenthesis.")
       + report("Cycle", "Cycle detected on function [cc].", "cc")
       + report("Alive", "Alive function [bad] references undefined [nosuch].", "nosuch")
       + report("Alive", "Alive function [TOP] references undefined [bad].", "bad")
       + report("Match", "Match[_____]Right dangling parenthesis."))
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
    expect([program], ["gg cc", "gg\\1", "gg"], 0, b"14\n1\n", b"Redefined [gg].\n")
    broken = os.path.join(folder, "broken.tv")
    with open(broken, "w") as f:
        f.write("nosuch")
    expect([broken], ["1"], 128, b"",
           report("Alive", "Alive function [TOP] references undefined [nosuch].", "nosuch"))
    expect([os.path.join(folder, "missing.tv")], ["1"], 128, b"Error.\n",
           b" Type: Start\n Name: \"" + os.path.join(folder, "missing.tv").encode()
           + b"\"\nCould not read program file.\n\\/\n")


# Memory running out while evaluating is reported as such, the line's
# memory is given back and the session goes on with its definitions.
run = subprocess.run([tove, "--max-memory=64M", "-i"], capture_output=True, timeout=120,
                     input=b"sq\\x\\x*x\ngrow\\t\\grow(t+t)\ngrow [x]\nsq 5\ngrow [y]\n6*7\n")
if (run.returncode, run.stdout, run.stderr) != (0, b"25\n42\n", report("Space", "Memory ran out while evaluating the program.") * 2):
    failures.append(f"Space while evaluating: {run!r}")
# A value whose printed form would not fit runs out while printing.
def level(k):
    return "w" + chr(97 + k // 26) + chr(97 + k % 26)


doubles = ",".join(f"{level(k + 1)}\\{level(k)}-{level(k)}" for k in range(60))
run = subprocess.run([tove, "--max-memory=64M", "-i"], capture_output=True, timeout=120,
                     input=f"{level(60)},{level(0)}\\[x],{doubles}\n6*7\n".encode())
if (run.returncode, run.stdout, run.stderr) != (0, b"42\n", report("Space", "Memory ran out while printing the result.")):
    failures.append(f"Space while printing: {run!r}")

# Redefinition replaces a name the session defined, for every later line;
# a replacement that fails, or that changes the parameter count of a name
# another definition uses, leaves the old definition. The prelude's names
# and the built-ins stay refused.
expect([], ["sq\\x\\x*x", "hh\\x\\sq x+1", "sq 3", "sq\\x\\x+x", "sq 3", "hh 3", "sq\\5", "sq 3",
            "sq\\x\\nosuch x", "sq 3", "ff()\\1", "ff\\ff+1", "ff", "ff\\2,gg\\3", "ff+gg", "K\\x\\x"], 0,
       b"9\n6\n8\n6\n6\n5\n",
       b"Redefined [sq].\n"
       b"Not redefined: [sq] would take 0 parameters instead of 1, and [hh] uses it; give the new definition another name.\n"
       + report("Alive", "Alive function [sq] references undefined [nosuch].", "nosuch")
       + b"Redefined [ff].\n"
       + report("Cycle", "Cycle detected on function [ff].", "ff")
       + b"Redefined [ff].\n"
       + report("Taken", "Function [K] is already defined and cannot be re-defined.", "K"))

# An input whose brackets are open goes on to the next line; the lines are
# one input joined by line ends.
expect([], ["(1+", "2)", "dd\\x\\(x*", "  x)", "dd 4", "[ab", "cd]", "((2", ")*(3", "))"], 0,
       b"3\n16\n[ab\ncd]\n6\n", b"")

def wait_for(stream, marker):
    """What the stream shows until marker, or until a minute has passed."""
    seen = b""
    deadline = time.time() + 60
    while marker not in seen and time.time() < deadline:
        if select.select([stream], [], [], deadline - time.time())[0]:
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                break
            seen += chunk
    return seen


# Commands.
with tempfile.TemporaryDirectory() as folder:
    program = os.path.join(folder, "work.tv")
    with open(program, "w") as f:
        f.write("I,ff\\x\\x+1,gg\\x\\y\\x*y,kk()\\7")
    later = os.path.join(folder, "later.tv")
    with open(later, "w") as f:
        f.write("I,ll\\40")
    expect([program], [":browse", "ff 1", ":type gg", ":type gg 2", ":type [ab]", ":type 7/2",
                       ":set +t", "ff 2", ":unset +t", "ff 3", ":bogus", ":set +q", ":type",
                       ":load " + later, "ll+2", "ff 1", ":reload", ":quit", "ll"], 0,
           b"ff  1 parameter\ngg  2 parameters\nkk()  0 parameters\n2\n:: [void], arity 2\n"
           b":: [void], arity 1\n:: [zits], arity 1\n:: [hint], arity 1\n3\n4\n42\n",
           b":: [hint], arity 1\nUnknown command :bogus; :help lists the commands.\n"
           b":set takes +s or +t.\n:type needs an expression.\nLoaded " + later.encode() + b".\n"
           + report("Alive", "Alive function [TOP] references undefined [ff].", "ff")
           + b"Reloaded " + later.encode() + b".\n")
    # :reload reads the file again after it changed; a file that no longer
    # compiles leaves the definitions as they were.
    session = subprocess.Popen([tove, "-i", program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)

    def ask(line):
        session.stdin.write(line.encode() + b"\n")
        session.stdin.flush()
        return wait_for(session.stdout, b"\n")

    before = ask("ff 1")
    with open(program, "w") as f:
        f.write("I,ff\\x\\x+100")
    session.stdin.write(b":reload\n")
    after = ask("ff 1")
    with open(program, "w") as f:
        f.write("I,ff\\x\\(x")
    session.stdin.write(b":reload\n")
    kept = ask("ff 1")
    out, err = session.communicate(timeout=60)
    if (before, after, kept, out, err, session.returncode) != (
            b"2\n", b"101\n", b"101\n", b"",
            b"Reloaded " + program.encode() + b".\n"
            + report("Match", "Match[____g]Right dangling parenthesis."), 0):
        failures.append(f":reload: {(before, after, kept, out, err, session.returncode)!r}")
run = subprocess.run([tove, "-i"], input=b":help\n:reload\n:load\n:set +s\n6*7\n", capture_output=True, timeout=60)
if not (run.stdout.startswith(b"Inputs:\n") and run.stdout.endswith(b"\n42\n")
        and run.stderr.startswith(b"No file to reload: start with tove -i FILE or use :load FILE.\n"
                                  b":load needs a file name.\n(")
        and b" steps, " in run.stderr and b" cells, " in run.stderr and run.stderr.endswith(b" s)\n")):
    failures.append(f":help, :set +s: {run!r}")


# Ctrl-C ends an evaluation, also inside a long primitive or the copy of a
# long text, and the session goes on; a constant it was computing is
# computed again by a later line, not taken for a cycle. One interrupt is
# sent per line, once the line is written: it stops that line whether it
# arrives before its evaluation starts or during it.
session = subprocess.Popen([tove, "-i"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)


def interrupted(line, setup=""):
    """Runs the setup lines to their end, then sends line and one Ctrl-C."""
    session.stdin.write((setup + "0\n").encode())
    session.stdin.flush()
    ready = wait_for(session.stdout, b"0\n")
    session.stdin.write(line.encode())
    session.stdin.flush()
    session.send_signal(signal.SIGINT)
    return ready, wait_for(session.stderr, b"Interrupted.\n")


# The session takes Ctrl-C once it answers its first line.
seen = [interrupted("cc\n", "spin\\x\\spin(x+1)\ncc\\spin 1\n"), interrupted("cc\n"),
        interrupted("rank(2^30000000)\n"), interrupted("grow [x]\n", "grow\\t\\grow(t+t)\n"),
        interrupted("(2^3000000)*(3^3000000)<1\n")]
session.stdin.write(b"1+2\n")
session.stdin.close()
out = session.stdout.read()
rest = session.stderr.read()
status = session.wait(timeout=20)
if (seen, out, rest, status) != ([(b"0\n", b"Interrupted.\n")] * 5, b"3\n", b"", 0):
    failures.append(f"Ctrl-C: {(seen, out, rest, status)!r}")


# On a terminal, through a real pseudo-terminal: the test types a line only
# once the prompt is on the screen, and reads until the next prompt. What
# the line editor echoes is not compared, only what the session answers.
class Terminal:
    def __init__(self, args, home):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.environ["HOME"] = home
            os.execv(tove, [tove] + args)
        # Ctrl-C must not throw away a line the session has not read yet.
        attributes = termios.tcgetattr(self.fd)
        attributes[3] |= termios.NOFLSH
        termios.tcsetattr(self.fd, termios.TCSANOW, attributes)
        self.screen = b""
        self.read = 0

    def until(self, marker):
        """What appeared after the last call, up to and including marker."""
        deadline = time.time() + 60
        while marker not in self.screen[self.read:] and time.time() < deadline:
            if select.select([self.fd], [], [], max(0, deadline - time.time()))[0]:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                self.screen += chunk
        end = self.screen.find(marker, self.read)
        if end < 0:
            part, self.read = self.screen[self.read:], len(self.screen)
            return part
        part = self.screen[self.read:end + len(marker)]
        self.read = end + len(marker)
        return part

    def answer(self, line, marker=b"tove> "):
        os.write(self.fd, line)
        return self.until(marker)

    def close(self):
        """The exit status after end of input; a session that does not end
        within the deadline is killed and answers -1, so the test never
        hangs."""
        deadline = time.time() + 60
        request = b"\x04"
        while time.time() < deadline:
            # A Ctrl-D that arrives while the line editor is taking the
            # terminal may be discarded, or left in the line as a stray
            # byte, where a Ctrl-D no longer means the end. So it is sent
            # again until the session ends, after a Ctrl-U that empties the
            # line.
            try:
                os.write(self.fd, request)
            except OSError:
                pass  # the session has closed the terminal: it is ending
            request = b"\x15\x04"
            until = time.time() + 1
            while time.time() < until:
                pid, wait_status = os.waitpid(self.pid, os.WNOHANG)
                if pid == self.pid:
                    return os.WEXITSTATUS(wait_status)
                # Whatever the session still writes must be read, or it blocks.
                if select.select([self.fd], [], [], 0.1)[0]:
                    try:
                        chunk = os.read(self.fd, 4096)
                    except OSError:
                        chunk = b""
                    self.screen += chunk
        os.kill(self.pid, 9)
        os.waitpid(self.pid, 0)
        return -1


def check(name, got, wanted):
    if wanted not in got:
        failures.append(f"terminal {name}: {wanted!r} not in {got!r}; the whole screen: {screen.screen!r}")


with tempfile.TemporaryDirectory() as home:
    program = os.path.join(home, "work.tv")
    with open(program, "w") as f:
        f.write("I,squarely\\x\\x*x")
    screen = Terminal(["-i", program], home)
    check("prompt", screen.until(b"tove> "), b"tove> ")
    check("value", screen.answer(b"6*7\n"), b"42\r\n")
    # Ctrl-C once the evaluation is under way: the line prints a mark before
    # it spins. (An echo of the line shows only that the terminal has it:
    # a line editor may still be reading it.)
    os.write(screen.fd, b"spin\\x\\spin(x+1)\n")
    screen.until(b"tove> ")
    os.write(screen.fd, b"(x\\y\\y)(puts([on]))(spin 1)\n")
    screen.until(b"[on]\r\n")
    os.write(screen.fd, b"\x03")
    check("interrupt", screen.until(b"tove> "), b"Interrupted.\r\n")
    check("after interrupt", screen.answer(b"squarely 5\n"), b"25\r\n")
    check("continuation", screen.answer(b"(1+\n", b"....> "), b"....> ")
    check("continued", screen.answer(b"2)\n"), b"3\r\n")
    check("redefinition", screen.answer(b"squarely\\x\\x*x*x\n"), b"Redefined [squarely].\r\n")
    check("redefined", screen.answer(b"squarely 2\n"), b"8\r\n")
    with open(program, "w") as f:
        f.write("I,squarely\\x\\x+x")
    check("reload", screen.answer(b":reload\n"), b"Reloaded ")
    check("reloaded", screen.answer(b"squarely 2\n"), b"4\r\n")
    if line_editor:
        # Tab completes a definition's name and a command; the completed
        # line is what runs.
        os.write(screen.fd, b"squa\t")
        screen.until(b"squarely")
        check("completion", screen.answer(b" 6\n"), b"12\r\n")
        os.write(screen.fd, b":brow\t")
        screen.until(b":browse")
        check("command completion", screen.answer(b"\n"), b"squarely  1 parameter\r\n")
    status = screen.close()
    if status != 0:
        failures.append(f"terminal: status {status}, screen {screen.screen!r}")
    if line_editor:
        # The history is kept in the home folder, for its owner alone.
        history = os.path.join(home, ".tove_history")
        if not os.path.exists(history) or os.stat(history).st_mode & 0o777 != 0o600:
            failures.append(f"history file missing or not private: {history}")
        elif b"6*7" not in open(history, "rb").read():
            failures.append(f"history lacks the lines typed: {open(history, 'rb').read()!r}")
        # Its length is limited: a long history keeps its last lines.
        with open(history, "w") as f:
            f.write("_HiStOrY_V2_\n" + "".join(f"{k}\n" for k in range(5000)))
        screen = Terminal(["-i"], home)
        screen.until(b"tove> ")
        screen.answer(b"1+1\n")
        screen.close()
        lines = open(history, "rb").read().split(b"\n")
        if not (len(lines) <= 1002 and b"1+1" in lines):
            failures.append(f"history not limited: {len(lines)} lines, last {lines[-3:]!r}")

    # Memory running out on a terminal is reported and the session goes on.
    screen = Terminal(["--max-memory=64M", "-i"], home)
    screen.until(b"tove> ")
    screen.answer(b"grow\\t\\grow(t+t)\n")
    check("Space", screen.answer(b"grow [x]\n"), b"Memory ran out while evaluating the program.\r\n")
    check("after Space", screen.answer(b"6*7\n"), b"42\r\n")
    status = screen.close()
    if status != 0:
        failures.append(f"terminal after Space: status {status}")

for f in failures:
    print(f)
sys.exit(1 if failures else 0)
