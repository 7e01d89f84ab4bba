#!/usr/bin/env python3
"""Checks that every link line names exactly the libraries its files include.

Usage: layering_check.py SOURCE_DIR

A library is a folder whose CMakeLists.txt calls tove_subsystem(NAME LIBS...);
its files are the folder's .cpp (main.cpp aside) and .h files, and LIBS must be
the set of other library folders those files #include, no more and no fewer.
An executable (add_executable) is checked the same way against the tove_*
libraries of its target_link_libraries: its sources and the project-local
headers they reach outside the library folders (tests/unit/sexpr.h and the
like, followed to their own includes) are its files.

The CMakeLists files are read by a small evaluator of the commands they use
for this: set, foreach, file(GLOB), add_executable, target_link_libraries and
target_include_directories, with ${...} expanded from the inside out. if()
blocks are entered unconditionally: every target declared is checked.
The exit status is 1 when a difference is found, with one line per
difference.
"""
import glob
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
COMMAND = re.compile(r"^\s*([A-Za-z_]+)\s*\(", re.MULTILINE)
VARIABLE = re.compile(r"\$\{([^${}]*)\}")


def library_folders():
    """Maps each library folder (relative to ROOT) to its tove_subsystem arguments."""
    found = {}
    for path in sorted(glob.glob(os.path.join(ROOT, "*", "CMakeLists.txt"))):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        match = re.search(r"^\s*tove_subsystem\(([^)]*)\)", text, re.MULTILINE)
        if match:
            name, *libraries = match.group(1).split()
            found[os.path.basename(os.path.dirname(path))] = (name, libraries)
    return found


LIBRARIES = library_folders()


def included_folders(files, include_dirs):
    """The library folders the files include, following local headers outside them."""
    folders, seen, pending = set(), set(), list(files)
    while pending:
        path = pending.pop()
        if path in seen:
            continue
        seen.add(path)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for name in INCLUDE.findall(text):
            top = name.split("/")[0]
            if "/" in name and top in LIBRARIES:
                folders.add(top)
                continue
            for base in [os.path.dirname(path), ROOT, *include_dirs]:
                candidate = os.path.normpath(os.path.join(base, name))
                if os.path.isfile(candidate):
                    pending.append(candidate)
                    break
    return folders


def calls(text):
    """The CMake commands of a file as (name, argument list), comments removed."""
    text = re.sub(r"#[^\n]*", "", text)
    position = 0
    while True:
        match = COMMAND.search(text, position)
        if not match:
            return
        depth, end = 1, match.end()
        while depth:
            depth += {"(": 1, ")": -1}.get(text[end], 0)
            end += 1
        yield match.group(1).lower(), text[match.end():end - 1]
        position = end


def expand(arguments, variables):
    while True:
        replaced = VARIABLE.sub(lambda m: variables.get(m.group(1), ""), arguments)
        if replaced == arguments:
            return re.sub(r'"', "", replaced).split()
        arguments = replaced


def targets(cmake_file):
    """Yields (target, sources, linked tove libraries, include folders) of the file's executables."""
    folder = os.path.dirname(cmake_file)
    with open(cmake_file, encoding="utf-8") as f:
        commands = list(calls(f.read()))
    variables = {"CMAKE_CURRENT_SOURCE_DIR": folder, "CMAKE_SOURCE_DIR": ROOT}
    executables = {}

    def run(block):
        index = 0
        while index < len(block):
            name, arguments = block[index]
            if name == "foreach":
                depth, end = 1, index + 1
                while depth:
                    depth += {"foreach": 1, "endforeach": -1}.get(block[end][0], 0)
                    end += 1
                variable, *items = expand(arguments, variables)
                for item in items:
                    variables[variable] = item
                    run(block[index + 1:end - 1])
                index = end
                continue
            words = expand(arguments, variables)
            if name == "set" and words:
                variables[words[0]] = " ".join(words[1:])
            elif name == "file" and words[:1] == ["GLOB"]:
                patterns = [w for w in words[2:] if w != "CONFIGURE_DEPENDS"]
                variables[words[1]] = " ".join(sorted(p for w in patterns for p in glob.glob(w)))
            elif name == "add_executable":
                executables[words[0]] = ([os.path.join(folder, w) for w in words[1:]], set(), [])
            elif name == "target_link_libraries" and words[0] in executables:
                executables[words[0]][1].update(w[5:] for w in words[1:] if w.startswith("tove_"))
            elif name == "target_include_directories" and words[0] in executables:
                executables[words[0]][2].extend(w for w in words[1:] if os.path.isdir(w))
            index += 1

    run(commands)
    for target, (sources, linked, include_dirs) in executables.items():
        yield target, sources, linked, include_dirs


def difference(what, included, linked):
    problems = []
    for folder in sorted(included - linked):
        problems.append(f"{what} includes {folder}/ but does not link tove_{folder}")
    for folder in sorted(linked - included):
        problems.append(f"{what} links tove_{folder} but includes nothing of {folder}/")
    return problems


def main():
    problems = []
    for folder, (name, libraries) in sorted(LIBRARIES.items()):
        files = [p for p in glob.glob(os.path.join(ROOT, folder, "*.cpp")) if os.path.basename(p) != "main.cpp"]
        files += glob.glob(os.path.join(ROOT, folder, "*.h"))
        linked = set()
        for library in libraries:
            if library.startswith("tove_"):
                linked.add(library[5:])
            else:
                problems.append(f"library {folder}/ links {library}, which is not a tove library")
        problems += difference(f"library {folder}/", included_folders(files, []) - {folder}, linked)
    cmake_files = [os.path.join(ROOT, folder, "CMakeLists.txt") for folder in LIBRARIES]
    cmake_files += glob.glob(os.path.join(ROOT, "tests", "**", "CMakeLists.txt"), recursive=True)
    cmake_files += glob.glob(os.path.join(ROOT, "bench", "CMakeLists.txt"))
    checked = 0
    for cmake_file in sorted(cmake_files):
        for target, sources, linked, include_dirs in targets(cmake_file):
            missing = [s for s in sources if not os.path.isfile(s)]
            if missing or not sources:
                problems.append(f"executable {target} has no source file {missing}")
                continue
            checked += 1
            problems += difference(f"executable {target}", included_folders(sources, include_dirs), linked)
    if not LIBRARIES or not checked:
        problems.append("no library or executable found: is the source folder right?")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
