#!/usr/bin/env python3
"""The house as its includes draw it: which folder uses which, and the check
that no arrow points back up a floor or brings Qt or POSIX where they do not
belong.

    scripts/house.py          prints the folders and their arrows
    scripts/house.py --check  also fails (exit 1) on a forbidden arrow or header
"""
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Folders in the order of the drawing, most specific first where they nest.
FOLDERS = ["app", "cli", "panel/widgets", "panel", "link", "serial/platform", "serial", "camera"]

# Who may use whom. Arrows only go down: nothing below uses what is above it.
ALLOWED = {
    "app": {"panel", "panel/widgets", "link", "serial", "serial/platform", "camera"},
    "cli": {"link", "serial", "serial/platform", "camera"},
    "panel": {"panel/widgets", "link", "serial", "serial/platform"},
    "panel/widgets": set(),
    "link": set(),
    "serial": {"serial/platform"},
    "serial/platform": {"serial"},
    "camera": set(),
}

POSIX = re.compile(r"^(unistd|termios|poll|fcntl|pthread|signal|libudev)\.h$|^(sys|asm|linux)/")
QT = re.compile(r"^Q[A-Za-z]+$|^Qt")
# Standard C++ only in the link; no Qt in the serial component or the camera.
FORBIDDEN = {
    "link": [("Qt", QT), ("POSIX", POSIX)],
    "serial": [("Qt", QT)],
    "serial/platform": [("Qt", QT)],
    "camera": [("Qt", QT)],
    "cli": [("Qt", QT)],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)


def folder_of(path):
    rel = path.as_posix()
    for f in FOLDERS:
        if rel.startswith(f + "/"):
            return f
    return None


def scan():
    arrows = {}
    faults = []
    for f in FOLDERS:
        base = ROOT / f
        if not base.is_dir():
            continue
        for src in sorted(base.rglob("*")):
            if src.suffix not in (".h", ".cpp", ".c"):
                continue
            rel = src.relative_to(ROOT)
            here = folder_of(rel)
            if here != f:
                continue
            for kind, name in INCLUDE.findall(src.read_text(errors="replace")):
                if kind == '"':
                    there = folder_of(Path(name))
                    if there is None:
                        faults.append(f"{rel}: include \"{name}\" is not qualified by its folder")
                        continue
                    if there != here:
                        arrows.setdefault(here, set()).add(there)
                        if there not in ALLOWED[here]:
                            faults.append(f"{rel}: {here}/ must not use {there}/ (\"{name}\")")
                else:
                    for what, pattern in FORBIDDEN.get(here, []):
                        if pattern.search(name):
                            faults.append(f"{rel}: {here}/ must not include {what} header <{name}>")
    return arrows, faults


def main():
    arrows, faults = scan()
    for f in FOLDERS:
        if (ROOT / f).is_dir():
            targets = sorted(arrows.get(f, ()), key=FOLDERS.index)
            print(f"{f + '/':17} -> {', '.join(t + '/' for t in targets) if targets else '(nothing of ours)'}")
    if "--check" in sys.argv[1:]:
        for fault in faults:
            print("house:", fault, file=sys.stderr)
        return 1 if faults else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
