#!/usr/bin/env python3
"""Fails on an include that runs up the layers, a mode that includes another
mode, or a cycle between files. Usage: layers_test.py SOURCE_DIR"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
# Lowest first; a file may include its own layer and those before it.
layers = ["record", "text", "run", "files", "schema", "edit", "modes", "cli", "entry"]
folders = {"paramlist": "record", "text": "text", "run": "run", "files": "files", "schema": "schema", "edit": "edit",
           "modes": "modes", "cli": "cli"}
# What a mode may include of its own layer: the declarations of all modes,
# and its own header.
shared_in_modes = {"modes.h"}


def layer_of(path):
    relative = path.relative_to(root)
    if len(relative.parts) == 1:
        return "record" if relative.name == "Parameter.h" else "entry"
    return folders[relative.parts[0]]


sources = [root / "Parameter.h", root / "main.cpp"]
for folder in folders:
    sources += sorted((root / folder).glob("*.[ch]*"))
by_name = {}
for path in sources:
    if path.parent != root / "paramlist":
        by_name.setdefault(path.name, []).append(path)
problems = [f"{paths[0].name} is in {len(paths)} folders" for paths in by_name.values() if len(paths) > 1]

graph = {}
for path in sources:
    unit = path.with_suffix("")
    graph.setdefault(unit, set())
    for line_number, line in enumerate(path.read_text().splitlines(), 1):
        match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
        if not match:
            continue
        name = match.group(1)
        target = path.parent / name
        if not target.exists():
            target = by_name.get(name, [root / name])[0]
        if not target.exists():
            problems.append(f"{path.relative_to(root)}:{line_number}: includes {name}, which is not in the tree")
            continue
        where = f"{path.relative_to(root)}:{line_number}: includes {target.relative_to(root)}"
        if layers.index(layer_of(target)) > layers.index(layer_of(path)):
            problems.append(f"{where}, a layer above its own ({layer_of(path)})")
        if layer_of(path) == layer_of(target) == "modes" and target.name not in shared_in_modes and \
                target.stem != path.stem:
            problems.append(f"{where}: a mode includes no other mode")
        if target.with_suffix("") != unit:
            graph[unit].add(target.with_suffix(""))

# A cycle between files (a header and its source counted as one).
state = {}


def visit(unit, trail):
    state[unit] = "open"
    for next_unit in sorted(graph.get(unit, ())):
        if state.get(next_unit) == "open":
            cycle = trail[trail.index(next_unit):] + [next_unit]
            problems.append("include cycle: " + " -> ".join(str(u.relative_to(root)) for u in cycle))
        elif next_unit not in state:
            visit(next_unit, trail + [next_unit])
    state[unit] = "done"


for unit in sorted(graph):
    if unit not in state:
        visit(unit, [unit])

for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
