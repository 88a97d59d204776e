#!/usr/bin/python3
"""Reads a disc image with independent readers and compares every file with
the source folder it was made from, byte for byte.

usage: read_back.py IMAGE SOURCE_DIR [--no-udf]

Readers: xorriso (Joliet tree), 7-Zip as ISO and as UDF, pycdlib (Joliet and
UDF trees). Prints one line per difference and exits 1 when there is any."""
import io
import os
import subprocess
import sys
import tempfile

import pycdlib


def source_files(root):
    files = {}
    for folder, _dirs, names in os.walk(root):
        for name in names:
            full = os.path.join(folder, name)
            with open(full, "rb") as f:
                files[os.path.relpath(full, root)] = f.read()
    return files


def extracted_files(root):
    return source_files(root)


def compare(reader, got, want, problems):
    for path in sorted(set(want) | set(got)):
        if path not in got:
            problems.append(f"{reader}: missing {path}")
        elif path not in want:
            problems.append(f"{reader}: extra {path}")
        elif got[path] != want[path]:
            problems.append(f"{reader}: {path} differs ({len(got[path])} bytes, want {len(want[path])})")


def run_extractor(reader, command, out, problems):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        problems.append(f"{reader}: exit {result.returncode}: {result.stdout.decode(errors='replace')[-400:]}")
        return None
    # Extractors leave read-only folders behind.
    for folder, dirs, _names in os.walk(out):
        for d in dirs:
            os.chmod(os.path.join(folder, d), 0o755)
    return extracted_files(out)


def pycdlib_tree(image, facade_name, problems):
    iso = pycdlib.PyCdlib()
    try:
        iso.open(image)
    except Exception as error:  # noqa: BLE001 - the reader's refusal is the finding
        problems.append(f"pycdlib: open failed: {error}")
        return None
    files = {}
    try:
        facade = getattr(iso, facade_name)()
        path_key = "joliet_path" if facade_name == "get_joliet_facade" else "udf_path"

        def walk(path):
            for child in facade.list_children(**{path_key: path}):
                if child is None or child.is_dot() or child.is_dotdot():
                    continue
                ident = child.file_identifier()
                if path_key == "joliet_path":
                    ident = ident.decode("utf-16-be")
                else:
                    # UDF names are stored as Latin-1 or UTF-16 (compression
                    # id 8 or 16).
                    ident = ident.decode(child.file_ident.encoding or "latin-1")
                child_path = path.rstrip("/") + "/" + ident
                if child.is_dir():
                    walk(child_path)
                else:
                    out = io.BytesIO()
                    facade.get_file_from_iso_fp(out, **{path_key: child_path})
                    files[child_path.lstrip("/")] = out.getvalue()

        walk("/")
    except Exception as error:  # noqa: BLE001
        problems.append(f"pycdlib ({facade_name}): {error}")
        return None
    finally:
        iso.close()
    return files


def main():
    image, source = sys.argv[1], sys.argv[2]
    udf = "--no-udf" not in sys.argv[3:]
    want = source_files(source)
    problems = []
    with tempfile.TemporaryDirectory() as scratch:
        readers = [
            ("xorriso", lambda out: ["xorriso", "-osirrox", "on", "-indev", image, "-extract", "/", out]),
            ("7zz iso", lambda out: ["7zz", "x", "-tiso", "-y", "-o" + out, image]),
        ]
        if udf:
            readers.append(("7zz udf", lambda out: ["7zz", "x", "-tudf", "-y", "-o" + out, image]))
        for i, (reader, command) in enumerate(readers):
            out = os.path.join(scratch, str(i))
            os.makedirs(out)
            got = run_extractor(reader, command(out), out, problems)
            if got is not None:
                compare(reader, got, want, problems)
    facades = ["get_joliet_facade"] + (["get_udf_facade"] if udf else [])
    for facade in facades:
        got = pycdlib_tree(image, facade, problems)
        if got is not None:
            compare("pycdlib " + facade, got, want, problems)
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
