#!/usr/bin/env python3
"""Runs the sample programs in examples/ through the real executable.

The folder lister lists a folder made here; the echo server and client talk
on 127.0.0.1, the server started first and the client given the port the
server prints. Every process is bounded in time.
"""
import os
import shutil
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


def main():
    tove, examples = sys.argv[1], sys.argv[2]
    check_listdir(tove, examples)
    check_echo(tove, examples)


if __name__ == "__main__":
    main()
