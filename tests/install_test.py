#!/usr/bin/env python3
"""Installs the build into a fresh prefix and checks what lands where.

Usage: install_test.py CMAKE BUILD_DIR VERSION

The interpreter goes to bin/, the manual page to share/man/man1/ and the
documentation to share/doc/tove/; the installed interpreter runs, and the
manual page carries the project's version.
"""
import gzip
import os
import subprocess
import sys
import tempfile

cmake, build, version = sys.argv[1], sys.argv[2], sys.argv[3]
problems = []
with tempfile.TemporaryDirectory() as prefix:
    subprocess.run([cmake, "--install", build, "--prefix", prefix],
                   check=True, capture_output=True, timeout=120)
    expected = ["bin/tove", "share/man/man1/tove.1.gz",
                "share/doc/tove/copyright", "share/doc/tove/changelog.gz", "share/doc/tove/README.md",
                "share/doc/tove/tutorial.md", "share/doc/tove/language.md",
                "share/doc/tove/primitives.md", "share/doc/tove/errors.md",
                "share/doc/tove/library.md", "share/doc/tove/internals.md",
                "share/doc/tove/examples/double.tv",
                "share/tove/editors/vim/syntax/tove.vim",
                "share/tove/editors/vscode/syntaxes/tove.tmLanguage.json",
                "share/tove/lib/io.tv", "share/tove/lib/list.tv", "share/tove/lib/text.tv",
                "share/tove/lib/map.tv", "share/tove/lib/fs.tv", "share/tove/lib/time.tv",
                "share/tove/lib/net.tv", "share/doc/tove/library.md"]
    for path in expected:
        if not os.path.isfile(os.path.join(prefix, path)):
            problems.append(f"{path} not installed")
    tove = os.path.join(prefix, "bin/tove")
    if os.path.isfile(tove):
        run = subprocess.run([tove, "-"], input=b"a\\6*7", capture_output=True, timeout=60)
        if run.returncode != 42:
            problems.append(f"installed tove exits with {run.returncode} for a\\6*7")
        # The installed interpreter finds the installed libraries.
        linked = subprocess.run([tove, "-l", "io", "-l", "list", "-l", "text", "-"],
                                input=b"a\\p{say_int(sum(range(0,4))-10)}length(split(cape[a b],32))",
                                capture_output=True, timeout=60)
        if linked.returncode != 2 or linked.stdout != b"-4\n":
            problems.append(f"installed tove with -l gives {linked.returncode}, {linked.stdout!r}")
        others = subprocess.run([tove, "-l", "map", "-l", "fs", "-l", "time", "-l", "net", "-"],
                                input=b"a\\map_size(map_insert(map_empty,1,2))+(file_exists [/])(2)(0)"
                                      b"+(rank(time_format_utc(0,[%Y]))=4)(4)(0)"
                                      b"+(cmpr(tcp_connect([host.invalid],1),Z)=0)(8)(0)",
                                capture_output=True, timeout=60)
        if others.returncode != 15:
            problems.append(f"installed tove with map, fs, time and net exits with {others.returncode}")
    page = os.path.join(prefix, "share/man/man1/tove.1.gz")
    if os.path.isfile(page):
        with gzip.open(page, "rt", encoding="utf-8") as f:
            header = f.readline()
        if f'"tove {version}"' not in header:
            problems.append(f"manual page header {header.strip()!r} lacks version {version}")
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
