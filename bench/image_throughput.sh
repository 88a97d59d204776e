#!/usr/bin/env bash
# Builds velk-cli and runs bench/image_throughput.py against genisoimage,
# xorriso and a plain copy. Extra arguments go to the script (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
for p in genisoimage xorriso python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || {
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends genisoimage xorriso python3 >/dev/null
    break
  }
done
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target velk-cli >/dev/null
exec python3 bench/image_throughput.py --velk build/bench/cli/velk-cli "$@"
