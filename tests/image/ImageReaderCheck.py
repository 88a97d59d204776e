#!/usr/bin/python3
# Reads an image with pycdlib and checks it against a manifest written by
# the reader tests: one line per entry, tab-separated
#   tree (iso, joliet, udf)  kind (d, f)  path  size  source-path
# Every manifest entry must be listed with its size, every file's bytes must
# equal its source's, and no tree may list an entry the manifest lacks.
# With --boot LOAD_RBA MEDIA the El Torito entry is checked too.
# Prints "OK" or one line per problem.
import hashlib
import io
import sys

import pycdlib


def sha(data):
    return hashlib.sha256(data).hexdigest()


def main():
    image, manifest = sys.argv[1], sys.argv[2]
    boot = sys.argv[4:6] if len(sys.argv) > 3 and sys.argv[3] == "--boot" else None
    expected = {}
    for line in open(manifest, encoding="utf-8"):
        tree, kind, path, size, source = line.rstrip("\n").split("\t")
        expected[(tree, path)] = (kind, int(size), source)
    iso = pycdlib.PyCdlib()
    iso.open(image)
    problems = []
    trees = {t for t, _ in expected}
    for tree in trees:
        key = {"iso": "iso_path", "joliet": "joliet_path", "udf": "udf_path"}[tree]
        seen = set()
        for top, dirs, files in iso.walk(**{key: "/"}):
            for name in dirs + files:
                path = (top.rstrip("/") + "/" + name)
                seen.add(path)
                if (tree, path) not in expected:
                    problems.append(f"{tree}: unexpected {path!r}")
        for (t, path), (kind, size, source) in expected.items():
            if t != tree:
                continue
            if path not in seen:
                problems.append(f"{tree}: missing {path!r}")
                continue
            if kind != "f":
                continue
            out = io.BytesIO()
            iso.get_file_from_iso_fp(out, **{key: path})
            data = out.getvalue()
            if len(data) != size:
                problems.append(f"{tree}: {path!r} has {len(data)} bytes, want {size}")
            elif sha(data) != sha(open(source, "rb").read()):
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
