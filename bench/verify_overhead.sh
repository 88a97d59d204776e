#!/usr/bin/env bash
# Builds velk-cli, the virtual recorder and the digest benchmark, runs
# bench/verify_bench.py (see its --help; extra arguments go to it) and then
# the SHA-256 / CRC-32 throughput of bench/digests.
set -euo pipefail
cd "$(dirname "$0")/.."
for p in python3 libbenchmark-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || {
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends python3 libbenchmark-dev >/dev/null
    break
  }
done
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target velk-cli velk_vrec_plugin digests >/dev/null
python3 bench/verify_bench.py --velk build/bench/cli/velk-cli "$@"
echo
build/bench/bench/digests --benchmark_min_time=0.2
