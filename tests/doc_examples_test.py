#!/usr/bin/env python3
"""Runs every program shown in the documentation and checks its stated result.

Usage: doc_examples_test.py TOVE FILE.md...

An example is a fenced block whose info string starts with "tove"; any
further words of the info string are command-line arguments: those that
begin with "--", and "-l NAME" or "-L DIR", are the interpreter's options,
written before the program file, and the others the program's own, written
after it.
Between it and the next example or heading, the document states the result:

    ```output        the exact standard output
    ```stderr        the exact standard error, colour codes removed
    Exit status: N   the exit status (0 when not stated)

In a manual page (a file ending in .1), an example is a .nf/.fi block
followed, within two lines, by the comment line
'.\" tove example: exit status N'; roff escapes \e and \- are undone.

A fenced block whose info string starts with "tove-session" is a session
example: its lines are typed into `tove -i` (standard input, so no prompt
shows), with the options of its info string before -i. When the info
string holds the word "prog.tv", the last block above it whose info
string is "tove-file" is written to prog.tv and the session starts with
`-i prog.tv`.

An example must state at least one of them. An example preceded by a line
"<!-- pending: WHAT -->" needs a part of the interpreter that is not built
yet (WHAT names it: "load" for run-time loading, "clib" for the C library);
it is skipped and counted, and the marker is removed when the part lands. Each example runs from a file prog.tv in a
fresh empty folder, which is its working directory.
"""
import os
import re
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\S*)\s*(.*)$")
STATUS = re.compile(r"^Exit status: (\d+)\b")
HEADING = re.compile(r"^#")
COLOUR = re.compile(rb"\x1b\[[0-9;]*m")
PENDING = re.compile(r"^<!-- pending: (\w+) -->$")


class Example:
    def __init__(self, path, line, args, pending):
        self.path, self.line, self.args, self.pending = path, line, args, pending
        self.program = ""
        self.stdout = None
        self.stderr = None
        self.status = None
        self.session = False
        self.file_program = ""  # a session example's prog.tv

    def where(self):
        return f"{self.path}:{self.line}"


def parse(path):
    """The examples of one Markdown file, with their stated results."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    examples = []
    current = None
    file_text = ""  # the last tove-file block
    last_text = ""  # the last non-blank line outside fences
    i = 0
    while i < len(lines):
        line = lines[i]
        fence = FENCE.match(line)
        if fence:
            kind, info = fence.group(1), fence.group(2)
            body = []
            i += 1
            while i < len(lines) and lines[i] != "```":
                body.append(lines[i])
                i += 1
            text = "\n".join(body) + "\n" if body else ""
            if kind == "tove-file":
                file_text = text
            elif kind == "tove-session":
                current = Example(path, i - len(body), info.split(), None)
                current.session, current.file_program = True, file_text
                current.program = text
                examples.append(current)
            elif kind == "tove":
                pending = PENDING.match(last_text)
                current = Example(path, i - len(body), info.split(),
                                  pending.group(1) if pending else None)
                current.program = text
                examples.append(current)
            elif kind in ("output", "stderr") and current is not None:
                setattr(current, "stdout" if kind == "output" else "stderr", text.encode())
            last_text = ""
            i += 1
            continue
        if line.strip():
            last_text = line.strip()
        if HEADING.match(line):
            current = None
        status = STATUS.match(line)
        if status and current is not None:
            current.status = int(status.group(1))
        i += 1
    return examples


ROFF_EXAMPLE = re.compile(r'^\.\\" tove example: exit status (\d+)$')


def parse_roff(path):
    """The examples of a manual page: .nf/.fi blocks marked by a comment."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    examples = []
    i = 0
    while i < len(lines):
        if lines[i] != ".nf":
            i += 1
            continue
        start = i + 1
        end = lines.index(".fi", start)
        for line in lines[end + 1:end + 3]:
            mark = ROFF_EXAMPLE.match(line)
            if mark:
                example = Example(path, start + 1, [], None)
                body = "\n".join(lines[start:end]) + "\n"
                example.program = body.replace("\\e", "\\").replace("\\-", "-")
                example.status = int(mark.group(1))
                examples.append(example)
        i = end + 1
    return examples


def run(tove, example):
    """A list of the differences between the stated and the actual result."""
    if example.stdout is None and example.stderr is None and example.status is None:
        return ["states no result (output, stderr or Exit status)"]
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "prog.tv"), "w", encoding="utf-8") as f:
            f.write(example.file_program if example.session else example.program)
        if example.session:
            options = [word for word in example.args if word != "prog.tv"]
            start = ["-i", "prog.tv"] if "prog.tv" in example.args else ["-i"]
            got = subprocess.run([tove] + options + start, cwd=folder, input=example.program.encode(),
                                 capture_output=True, timeout=120)
            return compare(example, got)
        options, arguments = [], []
        words = iter(example.args)
        for word in words:
            if word.startswith("--"):
                options.append(word)
            elif word in ("-l", "-L"):
                options += [word, next(words, "")]
            else:
                arguments.append(word)
        got = subprocess.run([tove] + options + ["prog.tv"] + arguments, cwd=folder,
                             capture_output=True, timeout=120)
    return compare(example, got)


def compare(example, got):
    """The differences between the stated result and a finished run."""
    problems = []
    status = example.status if example.status is not None else 0
    if got.returncode != status:
        problems.append(f"exit status {got.returncode}, stated {status}")
    if got.stdout != (example.stdout or b""):
        problems.append(f"output {got.stdout!r}, stated {example.stdout or b''!r}")
    stderr = COLOUR.sub(b"", got.stderr)
    if stderr != (example.stderr or b""):
        problems.append(f"stderr {stderr!r}, stated {example.stderr or b''!r}")
    return problems


def main():
    tove, paths = os.path.abspath(sys.argv[1]), sys.argv[2:]
    failed = ran = 0
    pending = {}
    for path in paths:
        examples = parse_roff(path) if path.endswith(".1") else parse(path)
        if not examples:
            print(f"{path}: no tove examples found")
            failed += 1
        for example in examples:
            if example.pending:
                pending[example.pending] = pending.get(example.pending, 0) + 1
                continue
            ran += 1
            for problem in run(tove, example):
                print(f"{example.where()}: {problem}")
                failed += 1
    waiting = ", ".join(f"{n} waiting for {what}" for what, n in sorted(pending.items()))
    print(f"{ran} examples run, {failed} problems" + (f"; {waiting}" if waiting else ""))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
