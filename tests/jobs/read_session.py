#!/usr/bin/python3
"""Reads the session of a disc image that starts at block START with
independent readers and compares every file with a folder, byte for byte.

usage: read_session.py IMAGE START SOURCE_DIR

IMAGE holds the disc from block 0 (block N of the file is block N of the
disc), so a session's absolute addresses reach the data of earlier sessions.
Readers: xorriso (-load sbsector START), isoinfo (-T START, Joliet), and
pycdlib (Joliet) on a copy whose volume descriptors from block 16 are the
session's. Prints one line per difference and exits 1 when there is any."""
import io
import os
import shutil
import subprocess
import sys
import tempfile

import pycdlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from read_back import compare, pycdlib_tree, run_extractor, source_files  # noqa: E402


def ascii_form(path):
    return "".join(c if ord(c) < 128 else "_" for c in path)


def isoinfo_tree(image, start, problems):
    listing = subprocess.run(["isoinfo", "-i", image, "-T", str(start), "-J", "-f"], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT)
    if listing.returncode != 0:
        problems.append(f"isoinfo: exit {listing.returncode}: {listing.stdout.decode(errors='replace')[-400:]}")
        return None
    paths = [line for line in listing.stdout.decode("latin-1").splitlines() if line.strip()]
    # A path is a folder when another path lies below it.
    folders = {p.rsplit("/", 1)[0] for p in paths}
    files = {}
    for path in paths:
        if path in folders:
            continue
        data = subprocess.run([b"isoinfo", b"-i", image.encode(), b"-T", str(start).encode(), b"-J", b"-x",
                               path.encode("latin-1")], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        files[ascii_form(path.lstrip("/"))] = data
    return files


def main():
    image, start, source = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    want = source_files(source)
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "xorriso")
        os.makedirs(out)
        got = run_extractor("xorriso", ["xorriso", "-osirrox", "on", "-indev", image, "-load", "sbsector", str(start),
                                        "-extract", "/", out], out, problems)
        if got is not None:
            compare("xorriso", got, want, problems)
        got = isoinfo_tree(image, start, problems)
        if got is not None:
            # isoinfo shows every character outside ASCII as "_".
            ascii_want = {ascii_form(p): d for p, d in want.items()}
            # It lists an empty folder like a file; only files count.
            got = {p: d for p, d in got.items() if p in ascii_want or d}
            compare("isoinfo", got, ascii_want, problems)
        copy = os.path.join(scratch, "session-at-16.iso")
        shutil.copyfile(image, copy)
        with open(image, "rb") as src, open(copy, "r+b") as dst:
            src.seek((start + 16) * 2048)
            # The session's descriptors up to its terminator, nothing more:
            # the blocks after them may hold an earlier session's data.
            area = b""
            for _ in range(16):
                block = src.read(2048)
                if block[1:6] != b"CD001":
                    break
                area += block
                if block[0] == 255:
                    break
            dst.seek(16 * 2048)
            dst.write(area)
            # An earlier session's UDF recognition blocks would send pycdlib
            # to that session's UDF volume.
            for block_number in range(16, 32):
                dst.seek(block_number * 2048)
                if dst.read(6)[1:6] in (b"BEA01", b"NSR02", b"NSR03", b"TEA01"):
                    dst.seek(block_number * 2048)
                    dst.write(bytes(2048))
        got = pycdlib_tree(copy, "get_joliet_facade", problems)
        if got is not None:
            compare("pycdlib", got, want, problems)
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
