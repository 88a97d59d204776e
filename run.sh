#!/usr/bin/env bash
# Builds velk-cli and runs the main job on the sample folder shipped in
# samples/demo (or on the paths given).
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF >/dev/null
cmake --build build/run -j"$(nproc)" --target velk-cli >/dev/null

if [ $# -eq 0 ]; then
  set -- samples/demo
fi
exec build/run/cli/velk-cli tree "$@"
