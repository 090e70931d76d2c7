#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks that every quoted include is written from the project's root and that no product file
includes a folder above its own layer. Run from anywhere: include-layers.py SOURCE_DIR."""
import pathlib
import re
import subprocess
import sys

# Each folder with the folders it may include, itself always allowed. Read top to bottom: a
# folder reaches only the folders listed after it. Entry points (a program's main.cpp, the
# AutoFill helper's panel module, tools/) assemble everything and are not listed.
BASE = ["shared", "platform"]
MAY_INCLUDE = {
    "ZorvikMac/Shell": ["ZorvikMac/Popover", "ZorvikMac/Receiver", "ZorvikMac/Readiness",
                        "ZorvikMac/CodeDelivery", "ZorvikMac/CodeIntake", *BASE],
    "ZorvikMac/Popover": ["ZorvikMac/Receiver", "ZorvikMac/Readiness", "ZorvikMac/CodeIntake",
                          *BASE],
    "ZorvikMac/Receiver": ["ZorvikMac/Readiness", "ZorvikMac/CodeDelivery",
                           "ZorvikMac/CodeIntake", *BASE],
    "ZorvikMac/Readiness": ["ZorvikMac/CodeIntake", *BASE],
    "ZorvikMac/CodeDelivery": ["ZorvikMac/CodeIntake", *BASE],
    "ZorvikMac/CodeIntake": BASE,
    "ZorvikMacAutoFill/Host": ["ZorvikMacAutoFill", *BASE],
    "ZorvikMacAutoFill": BASE,
    "platform/linux": BASE,
    "shared": ["platform"],
    "platform": [],
}
ENTRY_POINTS = ("ZorvikMac/main.cpp", "ZorvikMacAutoFill/main.cpp",
                "ZorvikMacAutoFill/PanelModule.cpp", "tools/")
# Files the build writes, included by their own name beside the build's folders.
GENERATED = re.compile(r"(\.moc|^protocols/.*)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path: str):
    """The most specific folder of the table that holds `path`."""
    folder = str(pathlib.PurePosixPath(path).parent)
    while folder not in MAY_INCLUDE and folder not in (".", ""):
        folder = str(pathlib.PurePosixPath(folder).parent)
    return folder if folder in MAY_INCLUDE else None


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    files = subprocess.run(["git", "-C", str(root), "ls-files", "-co", "--exclude-standard",
                            "*.cpp", "*.h"], capture_output=True, text=True, check=True)
    faults = []
    for name in files.stdout.split():
        if name.startswith("build/") or not (root / name).is_file():
            continue
        own = layer_of(name)
        for line_number, included in enumerate_includes((root / name).read_text()):
            where = f"{name}:{line_number}"
            if GENERATED.search(included):
                continue
            if not (root / included).is_file():
                faults.append(f'{where}: "{included}" is not a path from the root')
                continue
            if own is None or name.startswith(ENTRY_POINTS):
                continue
            target = layer_of(included)
            if target is None or target == own or target in MAY_INCLUDE[own]:
                continue
            faults.append(f'{where}: {own} may not include "{included}" ({target} is above it '
                          f"or beside it)")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


def enumerate_includes(text: str):
    for match in INCLUDE.finditer(text):
        yield text.count("\n", 0, match.start()) + 1, match.group(1)


if __name__ == "__main__":
    sys.exit(main())
