#!/usr/bin/env python3
"""Counts code lines: non-blank lines that are not comments alone.

    scripts/count-lines.py            prints src/, tests/ (with the scenario files the
                                      tests run), testenv/ and the tests-to-src ratio
    scripts/count-lines.py --check    also fails when tests/ exceed 0.45 of src/

Sources are the C and C++ files git tracks; scenario files count when a test runs
them (tests/scenarios/).
"""
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LIMIT = 0.45
CODE = (".cpp", ".h", ".c")


def tracked(folder):
    out = subprocess.run(["git", "ls-files", "--", folder], cwd=ROOT, capture_output=True,
                         text=True, check=True).stdout
    return [ROOT / line for line in out.splitlines() if line]


def code_lines(path):
    count, in_block = 0, False
    for raw in path.read_text(encoding="utf-8", errors="replace").splitlines():
        line = raw.strip()
        if in_block:
            if "*/" in line:
                in_block = False
                line = line.split("*/", 1)[1].strip()
            else:
                continue
        if line.startswith("/*"):
            if "*/" not in line:
                in_block = True
            continue
        if not line or line.startswith("//"):
            continue
        count += 1
    return count


def scenario_lines(path):
    return sum(1 for raw in path.read_text(encoding="utf-8").splitlines()
               if raw.strip() and not raw.strip().startswith("#"))


def count(folder):
    return sum(code_lines(p) for p in tracked(folder) if p.suffix in CODE)


def main():
    src = count("src")
    tests = count("tests")
    scenarios = sum(scenario_lines(p) for p in tracked("tests/scenarios")
                    if p.suffix == ".scenario")
    testenv = count("testenv")
    ratio = (tests + scenarios) / src if src else 0.0
    print(f"src/ {src} lines; tests/ {tests} + scenarios {scenarios} = {tests + scenarios} "
          f"({ratio:.2f} of src/, limit {LIMIT}); testenv/ {testenv}")
    if "--check" in sys.argv[1:] and ratio > LIMIT:
        print(f"tests/ are {ratio:.2f} of src/, above {LIMIT}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
