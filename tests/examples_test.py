#!/usr/bin/env python3
"""Runs the sample programs in examples/ through the real executable.

The folder lister lists a folder made here; the echo server and client talk
on 127.0.0.1, the server started first and the client given the port the
server prints; the tally server answers a client of this script line by
line; the word-frequency count agrees with the shell pipeline it imitates.
Every process and every socket wait is bounded in time.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile

LIMIT = 30  # seconds for any one process


def fail(message):
    print(message)
    sys.exit(1)


def check_listdir(tove, examples):
    folder = tempfile.mkdtemp(prefix="tove_listdir_")
    try:
        for name in ["b", "a", "Z"]:
            open(os.path.join(folder, name), "w").close()
        os.mkdir(os.path.join(folder, "sub"))
        os.symlink("a", os.path.join(folder, "link"))
        run = subprocess.run([tove, os.path.join(examples, "listdir.tv"), folder],
                             capture_output=True, timeout=LIMIT)
        expected = (b"dir  .\ndir  ..\nfile Z\nfile a\nfile b\nlink link\ndir  sub\n")
        if run.returncode != 0 or run.stdout != expected:
            fail(f"listdir.tv: status {run.returncode}, output {run.stdout!r}")
        missing = subprocess.run([tove, os.path.join(examples, "listdir.tv"), os.path.join(folder, "none")],
                                 capture_output=True, timeout=LIMIT)
        if missing.returncode != 2 or missing.stdout != b"":
            fail(f"listdir.tv on a missing folder: status {missing.returncode}")
    finally:
        shutil.rmtree(folder)


def check_echo(tove, examples):
    server = subprocess.Popen([tove, os.path.join(examples, "echo_server.tv"), "45200"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        line = server.stdout.readline()
        if not line.startswith(b"listening on "):
            fail(f"echo_server.tv: first line {line!r}")
        port = line.split()[2].decode()
        message = "hello, over loopback"
        client = subprocess.run([tove, os.path.join(examples, "echo_client.tv"), port, message],
                                capture_output=True, timeout=LIMIT)
        if client.returncode != 0 or client.stdout != message.encode() + b"\n":
            fail(f"echo_client.tv: status {client.returncode}, output {client.stdout!r}")
        rest, errors = server.communicate(timeout=LIMIT)
        if server.returncode != 0 or rest != b"" or errors != b"":
            fail(f"echo_server.tv: status {server.returncode}, output {rest!r} {errors!r}")
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()


def check_tally(tove, examples):
    server = subprocess.Popen([tove, "-l", "net", "-l", "io", "-l", "list", "-l", "map", "-l", "text",
                               os.path.join(examples, "tally_server.tv"), "45400"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        line = server.stdout.readline()
        if not line.startswith(b"listening on "):
            fail(f"tally_server.tv: first line {line!r}")
        port = int(line.split()[2])
        with socket.create_connection(("127.0.0.1", port), timeout=LIMIT) as client:
            replies = client.makefile("rb")
            # Each answer is read before the next line goes, so the service
            # is seen to answer line by line, not at the close.
            for word, expected in [(b"apple", b"1 apple\n"), (b"pear", b"1 pear\n"),
                                   (b"apple", b"2 apple\n"), (b"[x] y", b"1 [x] y\n"),
                                   (b"apple", b"3 apple\n"), (b"quit", b"bye\n")]:
                client.sendall(word + b"\n")
                answer = replies.readline()
                if answer != expected:
                    fail(f"tally_server.tv: {word!r} answered {answer!r}, expected {expected!r}")
            rest = replies.read()
            if rest != b"":
                fail(f"tally_server.tv: after bye {rest!r}")
        output, errors = server.communicate(timeout=LIMIT)
        if server.returncode != 0 or output != b"" or errors != b"":
            fail(f"tally_server.tv: status {server.returncode}, output {output!r} {errors!r}")
    finally:
        if server.poll() is None:
            server.kill()
            server.wait()


def check_wordfreq(tove, examples):
    words = os.path.join(os.path.dirname(os.path.abspath(__file__)), "examples", "words.txt")
    run = subprocess.run([tove, "-l", "io", "-l", "list", "-l", "text", "-l", "map",
                          os.path.join(examples, "wordfreq.tv"), words], capture_output=True, timeout=LIMIT)
    pipeline = subprocess.run(["sh", "-c", "tr -s ' ' '\\n' < \"$1\" | sort | uniq -c | sort -rn | head", "sh", words],
                              capture_output=True, timeout=LIMIT, env=dict(os.environ, LC_ALL="C"))
    if pipeline.returncode != 0 or pipeline.stdout.count(b"\n") != 10:
        fail(f"the word-frequency pipeline: status {pipeline.returncode}, output {pipeline.stdout!r}")
    if run.returncode != 0 or run.stdout != pipeline.stdout or run.stderr != b"":
        fail(f"wordfreq.tv: status {run.returncode}, output\n{run.stdout.decode(errors='replace')}"
             f"the pipeline gives\n{pipeline.stdout.decode(errors='replace')}")


def main():
    tove, examples = sys.argv[1], sys.argv[2]
    check_listdir(tove, examples)
    check_echo(tove, examples)
    check_tally(tove, examples)
    check_wordfreq(tove, examples)


if __name__ == "__main__":
    main()
