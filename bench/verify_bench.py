#!/usr/bin/env python3
"""What verification costs a burn, ratios from one run.

Builds a tree (by default 100 folders of 100 files of 1-16 KiB plus 4 files
of 100 MiB) and burns it, in alternating rounds, to a fresh blank virtual
DVD+R with simulated time unthrottled:
  burn    velk-cli burn -q --virtual DISC TREE
  verify  velk-cli burn -q --verify --virtual DISC TREE
Prints the medians, verify/burn (target <= 1.6: one extra read pass), the
burn's throughput and, beside it, the SHA-256 throughput of the hashing
(bench/digests, Google Benchmark, found beside velk-cli in the build tree or
named with --digests).
"""
import argparse
import json
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


def sha256_throughput(digests):
    """GB/s of the ways the job hashes a group of chunks, from bench/digests."""
    if not digests or not os.path.exists(digests):
        return None
    result = subprocess.run([digests, "--benchmark_filter=Sha256OfTwoChunks$|Sha256OfSixteenChunks",
                             "--benchmark_format=json"], check=True, capture_output=True, text=True)
    rows = []
    for bench in json.loads(result.stdout)["benchmarks"]:
        if bench.get("error_occurred"):
            continue
        rows.append((bench.get("label") or "SHA instructions, two chunks", bench["bytes_per_second"] / 1e9))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_tree_options(parser, folders=100, files=100, big_files=4, big_mib=100)
    parser.add_argument("--work", help="folder for the tree and the disc")
    parser.add_argument("--digests", help="path of bench/digests (default: beside velk-cli in the build tree)")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="velk-verify-")
    try:
        tree = os.path.join(work, "tree")
        disc = os.path.join(work, "disc.vdisc")
        total, _ = build_tree(tree, args.folders, args.files, args.big_files, args.big_mib)
        # Unthrottled; an infinitely fast drive sees no underruns worth counting.
        env = dict(os.environ, VELK_VIRTUAL_TIME_SCALE="1e9", VELK_VIRTUAL_FAULTS="no-underruns")
        env.pop("VELK_VIRTUAL_JOURNAL", None)
        # One burn first, unmeasured, so that both read the tree from the
        # page cache.
        fresh_disc(args.velk, disc)
        subprocess.run([args.velk, "burn", "-q", "--virtual", disc, tree], check=True, env=env,
                       stdout=subprocess.DEVNULL)
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
        digests = args.digests or os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(args.velk))),
                                               "bench", "digests")
        rows = sha256_throughput(digests)
        if rows is None:
            print(f"\nSHA-256 throughput: {digests} not found (build the benchmarks or pass --digests)")
        else:
            burn_rate = total / 1e9 / medians["burn"]
            print(f"\nthroughput: burn {burn_rate:.2f} GB/s (the whole job); SHA-256 on one core:")
            for label, rate in rows:
                print(f"  {rate:.2f} GB/s  {label}")
        return 0
    finally:
        shutil.rmtree(work if not args.work else os.path.join(work, "tree"), ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
