#!/usr/bin/env python3
"""Image-writing throughput of velk against its peers, in one invocation.

Builds a source tree (by default 200 folders of 100 files of 1-16 KiB each,
plus 8 files of 128 MiB), then times on the same disk:
  velk      velk-cli image -q -o OUT TREE
  genisoimage -J -udf -quiet -o OUT TREE
  xorriso   xorriso -as mkisofs -J -quiet -o OUT TREE
  copy      cat of every file into one file (the bytes any tool must move)
Each is run several times; prints the medians, the ratios velk/genisoimage,
velk/xorriso and velk/copy, and velk's peak memory (maximum resident set).
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def make_tree(root, folders, files, big_files, big_mib):
    rng = random.Random(1)
    for d in range(folders):
        folder = os.path.join(root, f"folder{d:03d}")
        os.makedirs(folder, exist_ok=True)
        for f in range(files):
            size = rng.randint(1024, 16384)
            with open(os.path.join(folder, f"file{f:03d}.dat"), "wb") as out:
                out.write(os.urandom(size))
    chunk = os.urandom(1 << 20)
    big = os.path.join(root, "big")
    os.makedirs(big, exist_ok=True)
    for b in range(big_files):
        with open(os.path.join(big, f"video{b}.bin"), "wb") as out:
            for _ in range(big_mib):
                out.write(chunk)


def add_tree_options(parser, folders, files, big_files, big_mib):
    """The options of every benchmark that times velk-cli on a tree of make_tree."""
    parser.add_argument("--velk", required=True, help="path of velk-cli")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--folders", type=int, default=folders)
    parser.add_argument("--files", type=int, default=files)
    parser.add_argument("--big-files", type=int, default=big_files)
    parser.add_argument("--big-mib", type=int, default=big_mib)


def build_tree(tree, folders, files, big_files, big_mib):
    """make_tree, saying what it made; returns the bytes and the number of files."""
    print(f"building the tree in {tree} ...", flush=True)
    make_tree(tree, folders, files, big_files, big_mib)
    sizes = [os.path.getsize(p) for p in all_files(tree)]
    print(f"{sum(sizes) / 2**20:.0f} MiB in {len(sizes)} files", flush=True)
    return sum(sizes), len(sizes)


def all_files(root):
    for base, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files):
            yield os.path.join(base, name)


def copy_job(tree, out):
    """cat of every file, in the order of the walk, into one file."""
    files = list(all_files(tree))

    def run():
        with open(out, "wb") as target:
            # cat in batches: one process per few thousand files, as xargs would.
            for start in range(0, len(files), 2000):
                subprocess.run(["cat"] + files[start:start + 2000], check=True, stdout=target)
    return run


def command_job(argv):
    def run():
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return run


def timed_rounds(jobs, runs, out):
    """Runs every job once per round, in turn, so that the disk's state (dirty
    pages of the previous output being written back) is the same for all; the
    cache is flushed before each run and the output removed after it."""
    times = {name: [] for name in jobs}
    for _ in range(runs):
        for name, job in jobs.items():
            os.sync()
            start = time.perf_counter()
            job()
            times[name].append(time.perf_counter() - start)
            if os.path.exists(out):
                os.remove(out)
    return {name: statistics.median(values) for name, values in times.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_tree_options(parser, folders=200, files=100, big_files=8, big_mib=128)
    parser.add_argument("--work", help="folder for the tree and the images (same disk for all)")
    parser.add_argument("--buffer-size", type=int, default=33554432)
    args = parser.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="velk-throughput-")
    tree = os.path.join(work, "tree")
    out = os.path.join(work, "out.iso")
    try:
        total, _ = build_tree(tree, args.folders, args.files, args.big_files, args.big_mib)
        copy_job(tree, out)()  # warm the page cache once for everybody

        velk = [args.velk, "image", "-q", "--buffer-size", str(args.buffer_size), "-o", out, tree]
        jobs = {
            "velk": command_job(velk),
            "genisoimage": command_job(["genisoimage", "-J", "-udf", "-quiet", "-o", out, tree]),
            "xorriso": command_job(["xorriso", "-as", "mkisofs", "-J", "-quiet", "-o", out, tree]),
            "copy": copy_job(tree, out),
        }
        medians = timed_rounds(jobs, args.runs, out)

        # A fresh interpreter runs velk alone, so its children's peak is velk's.
        probe = ("import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True); "
                 "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
        peak_kib = int(subprocess.run([sys.executable, "-c", probe] + velk, check=True,
                                      capture_output=True, text=True).stdout.split()[-1])

        print(f"\n{'tool':<12} {'median s':>9} {'MiB/s':>8}")
        for name, seconds in medians.items():
            print(f"{name:<12} {seconds:9.3f} {total / 2**20 / seconds:8.1f}")
        print()
        print(f"velk/genisoimage {medians['velk'] / medians['genisoimage']:.2f}  (target <= 0.80)")
        print(f"velk/xorriso     {medians['velk'] / medians['xorriso']:.2f}")
        print(f"velk/copy        {medians['velk'] / medians['copy']:.2f}  (target <= 1.15)")
        limit = args.buffer_size / 2**20 + 16
        print(f"velk peak memory {peak_kib / 1024:.1f} MiB  (target <= {limit:.0f} MiB: buffer + 16 MiB)")
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
        else:
            shutil.rmtree(tree, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
