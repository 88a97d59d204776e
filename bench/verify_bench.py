#!/usr/bin/env python3
"""What verification costs a burn, ratios from one run.

Builds a tree (by default 100 folders of 100 files of 1-16 KiB plus 4 files
of 100 MiB) and burns it, in alternating rounds, to a fresh blank virtual
DVD+R with simulated time unthrottled:
  burn    velk-cli burn -q --virtual DISC TREE
  verify  velk-cli burn -q --verify --virtual DISC TREE
Prints the medians, verify/burn (target <= 1.6: one extra read pass) and the
burn's throughput; bench/digests (Google Benchmark) gives the SHA-256
throughput of the hashing beside it.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from burn_bench import fresh_disc  # noqa: E402
from image_throughput import add_tree_options, build_tree  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_tree_options(parser, folders=100, files=100, big_files=4, big_mib=100)
    parser.add_argument("--work", help="folder for the tree and the disc")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="velk-verify-")
    try:
        tree = os.path.join(work, "tree")
        disc = os.path.join(work, "disc.vdisc")
        total, _ = build_tree(tree, args.folders, args.files, args.big_files, args.big_mib)
        # Unthrottled; an infinitely fast drive sees no underruns worth counting.
        env = dict(os.environ, VELK_VIRTUAL_TIME_SCALE="1e9", VELK_VIRTUAL_FAULTS="no-underruns")
        env.pop("VELK_VIRTUAL_JOURNAL", None)
        times = {"burn": [], "verify": []}
        for _ in range(args.runs):
            for name, extra in (("burn", []), ("verify", ["--verify"])):
                fresh_disc(args.velk, disc)
                os.sync()
                start = time.perf_counter()
                subprocess.run([args.velk, "burn", "-q", *extra, "--virtual", disc, tree], check=True, env=env,
                               stdout=subprocess.DEVNULL)
                times[name].append(time.perf_counter() - start)
        fresh_disc(args.velk, disc)
        medians = {name: statistics.median(values) for name, values in times.items()}
        print(f"\n{'job':<8} {'median s':>9} {'MiB/s':>8}   runs")
        for name, seconds in medians.items():
            runs = " ".join(f"{t:.2f}" for t in times[name])
            print(f"{name:<8} {seconds:9.3f} {total / 2**20 / seconds:8.1f}   {runs}")
        print(f"\nverify/burn {medians['verify'] / medians['burn']:.2f}  (target <= 1.6)")
        # The fastest runs are the least disturbed by the host.
        print(f"verify/burn of the fastest runs {min(times['verify']) / min(times['burn']):.2f}")
        return 0
    finally:
        shutil.rmtree(work if not args.work else os.path.join(work, "tree"), ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
