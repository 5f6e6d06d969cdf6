#!/usr/bin/env python3
"""Fails when the product's modules include each other in a circle, or when
two files of one module do (directly or through other files).

A module is a top-level folder; a file is a source and its header together
(paint.cpp with paint.h), so a header that includes a file whose source
includes that header again counts as a circle. Only `#include "folder/name"`
lines are read: the system's and generated headers are nobody's module.

Usage: check-includes.py [ROOT]   (ROOT: the checkout, default this script's parent's parent)
"""
import pathlib
import re
import sys

MODULES = ("app", "common", "install", "log", "net", "product", "profile", "registry", "res", "splash")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/([^"/]+)"', re.M)


def Unit(module, name):
    return module + "/" + name.rsplit(".", 1)[0]


def ReadGraph(root):
    """Edges between files (module/stem) and between modules."""
    files = {}
    modules = {}
    for module in MODULES:
        folder = root / module
        if not folder.is_dir():
            continue
        for path in sorted(folder.iterdir()):
            if path.suffix not in (".h", ".cpp"):
                continue
            unit = Unit(module, path.name)
            files.setdefault(unit, set())
            modules.setdefault(module, set())
            for target_module, target_name in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if target_module not in MODULES:
                    continue
                target = Unit(target_module, target_name)
                if target_module == module:
                    if target != unit:
                        files[unit].add(target)
                else:
                    modules[module].add(target_module)
    return files, modules


def FindCircle(graph):
    """One circle as a list of nodes (first repeated last), or None."""
    state = {}  # 1: on the current path, 2: finished
    path = []

    def Visit(node):
        state[node] = 1
        path.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                found = Visit(nxt)
                if found:
                    return found
        path.pop()
        state[node] = 2
        return None

    for node in sorted(graph):
        if node not in state:
            found = Visit(node)
            if found:
                return found
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    files, modules = ReadGraph(root)
    if not files:
        print(f"no sources under {root}")
        return 1
    problems = []
    circle = FindCircle(modules)
    if circle:
        problems.append("modules include each other: " + " -> ".join(circle))
    for module in sorted(modules):
        inside = {unit: edges for unit, edges in files.items() if unit.startswith(module + "/")}
        circle = FindCircle(inside)
        if circle:
            problems.append("files include each other: " + " -> ".join(circle))
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"ok: {len(files)} files in {len(modules)} modules, no include circles")
    return 0


if __name__ == "__main__":
    sys.exit(main())
