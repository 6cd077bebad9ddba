#!/usr/bin/env python3
"""Fails when code includes from a floor above its own, or from a folder that is no floor.

The folders, lowest first: a file may include from its own floor and the ones below it.
"""
import pathlib
import re
import sys

FLOORS = ["interfaces", "core", "ui", "adapters", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def wrong_includes(root: pathlib.Path):
    for rank, floor in enumerate(FLOORS):
        for path in sorted((root / floor).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if "/" not in name:
                    continue  # a file beside it
                folder = name.split("/", 1)[0]
                if folder not in FLOORS:
                    yield path.relative_to(root), name, "names no floor"
                elif FLOORS.index(folder) > rank:
                    yield path.relative_to(root), name, f"runs up from {floor} to {folder}"


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    missing = [floor for floor in FLOORS if not (root / floor).is_dir()]
    if missing:
        print(f"no folder {', '.join(missing)} under {root}")
        return 1
    wrong = list(wrong_includes(root))
    for path, name, why in wrong:
        print(f'{path}: #include "{name}" {why}')
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
