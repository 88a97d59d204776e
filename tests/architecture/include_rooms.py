#!/usr/bin/env python3
"""Includes run one way only, from the rooms above to the rooms below:

    platform <- engine/core <- engine/device <- engine/image <- engine/jobs
             <- engine/api <- virtual-recorder, SkinControl <- cli, app

A file may include its own room and any room below it; rooms of one rank
(the two front ends, the recorder and the controls) include none of each
other. Prints every include
that reaches up and exits 1 when there is one."""
import pathlib
import re
import sys

RANKS = {
    "platform": 0,
    "engine/core": 1,
    "engine/device": 2,
    "engine/image": 3,
    "engine/jobs": 4,
    "engine/api": 5,
    "SkinControl": 6,
    "virtual-recorder": 6,
    "cli": 7,
    "app": 7,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def room_of(path):
    for room in sorted(RANKS, key=len, reverse=True):
        if path == room or path.startswith(room + "/"):
            return room
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    faults = []
    for room in RANKS:
        for source in sorted((root / room).rglob("*")):
            if source.suffix not in (".h", ".cpp"):
                continue
            text = source.read_text(encoding="utf-8", errors="replace")
            for included in INCLUDE.findall(text):
                target = room_of(included)
                if target is None or target == room:
                    continue
                if RANKS[target] >= RANKS[room]:
                    faults.append(f"{source.relative_to(root)}: includes {included} ({target} is above {room})")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} includes reach up")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
