#!/usr/bin/env python3
"""Checks the include rules of src/ and prints one line per offence.

  src/tool      may include every component and core/
  components    (sharemapping, taskbar, weave, interaction, settings) may
                include core/ and shell/, never another component
  shell/        may include only core/
  core/         may include only core/
  resources/    holds the version header any folder may take; it includes
                nothing of the others

Windows-free units (the sources each src/*/CMakeLists.txt gives to
mantlet_pure, and every header they include, followed through quoted
includes) must not include a Windows header.

Usage: check-includes.py [SRC_DIR]   (default: the src/ next to scripts/)
Exit status 1 when anything is reported.
"""

import os
import re
import sys

COMPONENTS = {"sharemapping", "taskbar", "weave", "interaction", "settings"}
ALLOWED = {
    "tool": {"tool", "core", "shell", "resources"} | COMPONENTS,
    "shell": {"shell", "core", "resources"},
    "core": {"core", "resources"},
    "resources": {"resources"},
}
for component in COMPONENTS:
    ALLOWED[component] = {component, "core", "shell", "resources"}

# The Windows headers src/ uses, and the ones they are made of.
WINDOWS_HEADERS = {
    "aclapi.h", "combaseapi.h", "commctrl.h", "io.h", "knownfolders.h", "npapi.h",
    "objbase.h", "ole2.h", "oleauto.h", "propkey.h", "sddl.h", "shellapi.h",
    "shlobj.h", "shlwapi.h", "shobjidl.h", "windef.h", "windows.h", "winbase.h",
    "winerror.h", "wininet.h", "winioctl.h", "winnetwk.h", "winnt.h", "winreg.h",
    "winuser.h", "winver.h", "wrl/client.h",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
PURE_SOURCES = re.compile(r"target_sources\(\s*mantlet_pure\s+PRIVATE([^)]*)\)", re.S)
SOURCE_SUFFIXES = (".h", ".cpp", ".rc")


def includes(path):
    """(line number, quoted?, name) of each include of a file."""
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1) == '"', match.group(2)


def resolve(src, including, name):
    """The file a quoted include names: next to the includer, else under src/."""
    for base in (os.path.dirname(including), src):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(candidate):
            return candidate
    return None


def folder_of(src, path):
    relative = os.path.relpath(path, src)
    return relative.split(os.sep)[0] if os.sep in relative else None


def pure_units(src):
    """The sources listed for mantlet_pure in src/*/CMakeLists.txt."""
    units = []
    for folder in sorted(os.listdir(src)):
        cmake = os.path.join(src, folder, "CMakeLists.txt")
        if not os.path.isfile(cmake):
            continue
        with open(cmake, encoding="utf-8") as f:
            for block in PURE_SOURCES.findall(f.read()):
                units += [os.path.join(src, folder, name) for name in block.split()]
    return units


def check(src):
    offences = []
    for root, _, files in os.walk(src):
        for name in sorted(files):
            path = os.path.join(root, name)
            folder = folder_of(src, path)
            if not name.endswith(SOURCE_SUFFIXES) or folder not in ALLOWED:
                continue
            for number, quoted, included in includes(path):
                if not quoted:
                    continue
                target = resolve(src, path, included)
                target_folder = folder_of(src, target) if target else None
                if target_folder and target_folder not in ALLOWED[folder]:
                    offences.append((path, number, included))

    seen = set()
    pending = [path for path in pure_units(src) if os.path.isfile(path)]
    while pending:
        path = pending.pop()
        if path in seen:
            continue
        seen.add(path)
        for number, quoted, included in includes(path):
            if not quoted and included.lower() in WINDOWS_HEADERS:
                offences.append((path, number, included))
            elif quoted:
                target = resolve(src, path, included)
                if target:
                    pending.append(target)

    return sorted(set(offences))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    src = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src"))
    offences = check(src)
    for path, number, included in offences:
        print(f"{os.path.relpath(path, os.path.dirname(src))}:{number}: includes {included}")
    return 1 if offences else 0


if __name__ == "__main__":
    sys.exit(main())
