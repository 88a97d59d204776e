#!/usr/bin/env bash
# Builds velk-cli and the virtual recorder and runs bench/burn_bench.py overhead
# (see its --help). Extra arguments go to the script.
set -euo pipefail
cd "$(dirname "$0")/.."
for p in python3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || {
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends python3 >/dev/null
    break
  }
done
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target velk-cli velk_vrec_plugin >/dev/null
exec python3 bench/burn_bench.py overhead --velk build/bench/cli/velk-cli "$@"
