#!/usr/bin/env python3
"""Holds every #include of src/ and app/ against the table of allowed edges between folders.

The table is the one README.md shows, between the lines "<!-- layers -->" and "<!-- /layers -->":
one line per folder, `FOLDER  -> FOLDER FOLDER ...`, naming the folders (below src/, or app/NAME)
whose headers it may include besides its own. `platform/*` stands for every folder of src/platform
without a line of its own. Prints one line per include the table does not allow (file:line) and a
loop in the table itself, if any; exits 1 when there is anything to print.
"""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE = (".h", ".hpp", ".cpp", ".cc", ".c")


def read_table():
    path = os.path.join(ROOT, "README.md")
    rows, inside = {}, False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if "<!-- layers -->" in line:
                inside = True
            elif "<!-- /layers -->" in line:
                inside = False
            elif inside and "->" in line:
                left, right = line.split("->", 1)
                rows[left.strip()] = (set(right.split()), number)
    if not rows:
        sys.exit(f"{path}: no table of allowed includes between <!-- layers --> and <!-- /layers -->")
    return rows


def folder_of(path, rows):
    """The table's name for the folder a path (relative to ROOT, or an include relative to src/) is in."""
    parts = path.split("/")
    if parts[0] == "app":
        return "/".join(parts[:2])
    if parts[0] == "src":
        parts = parts[1:]
    if parts[0] == "platform" and len(parts) > 2:
        return "platform/" + parts[1]
    if len(parts) > 2 and "/".join(parts[:2]) in rows:  # a folder inside a subsystem with a line of its own
        return "/".join(parts[:2])
    return parts[0] if len(parts) > 1 else None


def row_of(folder, rows):
    """The table's line for a folder: its own, or platform/* for a stand-in without one."""
    if folder not in rows and folder and folder.startswith("platform/"):
        return "platform/*"
    return folder


def allowed(source, target, rows):
    if source == target:
        return True
    names = rows.get(row_of(source, rows), (set(), 0))[0]
    return target in names or (target.startswith("platform/") and "platform/*" in names)


def find_loop(rows):
    state = {}

    def visit(node, trail):
        state[node] = 1
        for nxt in sorted(row_of(n, rows) for n in rows.get(node, (set(), 0))[0]):
            if state.get(nxt) == 1:
                path = trail + [node]
                return path[path.index(nxt):] + [nxt]
            if nxt in rows and not state.get(nxt):
                found = visit(nxt, trail + [node])
                if found:
                    return found
        state[node] = 2
        return None

    for node in sorted(rows):
        if not state.get(node):
            found = visit(node, [])
            if found:
                return found
    return None


def main():
    rows = read_table()
    problems = []
    loop = find_loop(rows)
    if loop:
        problems.append("README.md: the table of allowed includes runs in a loop: " + " -> ".join(loop))
    for top in ("src", "app"):
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE):
                    continue
                path = os.path.relpath(os.path.join(folder, name), ROOT)
                source = folder_of(path, rows)
                with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m or "/" not in m.group(1):
                            continue  # a header of the same folder
                        target = folder_of(m.group(1), rows)
                        if not os.path.exists(os.path.join(ROOT, "src", m.group(1))):
                            continue  # not one of ours (generated, or another library's)
                        if row_of(source, rows) not in rows:
                            problems.append(f"{path}:{number}: the folder {source} has no line in README.md's table")
                        elif not allowed(source, target, rows):
                            problems.append(f"{path}:{number}: {source} may not include {target} ({m.group(1)})")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
