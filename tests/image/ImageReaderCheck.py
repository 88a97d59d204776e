#!/usr/bin/python3
# Reads an image with pycdlib and checks it against a manifest written by
# the reader tests: one line per entry, tab-separated
#   tree (iso, joliet, udf)  kind (d, f)  path  size  source-path  mtime
# (mtime: the source's last-write time in Unix seconds, "-" for none).
# Every manifest entry must be listed with its size and date, every file's
# bytes must equal its source's (hashed in pieces, so big files stream), and
# no tree may list an entry the manifest lacks.
# With --boot LOAD_RBA MEDIA the El Torito entry is checked too.
# Prints "OK" or one line per problem.
import calendar
import hashlib
import sys

import pycdlib

PIECE = 1 << 20


class Hasher:
    """A file object pycdlib writes extracted bytes into."""

    def __init__(self):
        self.digest = hashlib.sha256()
        self.length = 0

    def write(self, data):
        self.digest.update(data)
        self.length += len(data)
        return len(data)


def source_hash(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for piece in iter(lambda: source.read(PIECE), b""):
            digest.update(piece)
    return digest.hexdigest()


def record_seconds(date):
    """UTC seconds of a directory record date (local fields, offset)."""
    local = calendar.timegm((1900 + date.years_since_1900, date.month, date.day_of_month,
                             date.hour, date.minute, date.second))
    offset = date.gmtoffset - 256 if date.gmtoffset > 127 else date.gmtoffset
    return local - offset * 15 * 60


def udf_seconds(stamp):
    local = calendar.timegm((stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute,
                             stamp.second))
    return local - stamp.tz * 60 if stamp.timetype == 1 else local


def main():
    image, manifest = sys.argv[1], sys.argv[2]
    boot = sys.argv[4:6] if len(sys.argv) > 3 and sys.argv[3] == "--boot" else None
    expected = {}
    for line in open(manifest, encoding="utf-8"):
        tree, kind, path, size, source, mtime = line.rstrip("\n").split("\t")
        expected[(tree, path)] = (kind, int(size), source, None if mtime == "-" else int(mtime))
    iso = pycdlib.PyCdlib()
    iso.open(image)
    problems = []
    hashes = {}
    checked_big = set()
    trees = sorted({t for t, _ in expected})
    for tree in trees:
        key = {"iso": "iso_path", "joliet": "joliet_path", "udf": "udf_path"}[tree]
        seen = set()
        for top, dirs, files in iso.walk(**{key: "/"}):
            for name in dirs + files:
                path = (top.rstrip("/") + "/" + name)
                seen.add(path)
                if (tree, path) not in expected:
                    problems.append(f"{tree}: unexpected {path!r}")
        for (t, path), (kind, size, source, mtime) in expected.items():
            if t != tree:
                continue
            if path not in seen:
                problems.append(f"{tree}: missing {path!r}")
                continue
            if mtime is not None:
                record = iso.get_record(**{key: path})
                if tree == "udf":
                    when = udf_seconds(record.mod_time)
                else:
                    when = record_seconds(record.date)
                if when != mtime:
                    problems.append(f"{tree}: {path!r} dated {when}, want {mtime}")
            if kind != "f":
                continue
            if tree == "udf" and size > 0xFFFFFFFF:
                # pycdlib gives a UDF file the inode of the ISO record at the
                # same block, which for a multi-extent file is only its first
                # section; 7-Zip and the kernel read it whole from UDF.
                continue
            if size > 0xFFFFFFFF and source in checked_big:
                # pycdlib reads every tree's record of a file through one
                # inode: one whole read of a big file is enough.
                continue
            checked_big.add(source)
            out = Hasher()
            iso.get_file_from_iso_fp(out, **{key: path})
            if out.length != size:
                problems.append(f"{tree}: {path!r} has {out.length} bytes, want {size}")
                continue
            if source not in hashes:
                hashes[source] = source_hash(source)
            if out.digest.hexdigest() != hashes[source]:
                problems.append(f"{tree}: {path!r} bytes differ from {source}")
    if boot:
        catalog = iso.eltorito_boot_catalog
        if catalog is None:
            problems.append("no El Torito catalog")
        else:
            entry = catalog.initial_entry
            if entry.load_rba != int(boot[0]):
                problems.append(f"load RBA {entry.load_rba}, want {boot[0]}")
            if entry.boot_indicator != 0x88:
                problems.append("initial entry not bootable")
            if entry.boot_media_type != int(boot[1]):
                problems.append(f"media type {entry.boot_media_type}, want {boot[1]}")
    iso.close()
    print("\n".join(problems) if problems else "OK")


main()
