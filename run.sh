#!/usr/bin/env bash
# Builds velk-cli and runs the main job: writes a disc image of the sample
# folder samples/demo (or of the paths given) and lists what an independent
# reader (xorriso) finds in it.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev xorriso)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S . -B build/run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF >/dev/null
cmake --build build/run -j"$(nproc)" --target velk-cli >/dev/null

if [ $# -eq 0 ]; then
  set -- samples/demo
fi
image=build/run/velk-sample.iso
build/run/cli/velk-cli image -o "$image" --label "VELK SAMPLE" "$@"
echo
echo "What xorriso reads in $image (Joliet tree):"
xorriso -indev "$image" -find / -exec lsdl -- 2>/dev/null
