#!/usr/bin/env bash
# Adding big trees: AddDirectory against `find TREE -printf "%s\n"`, which
# also reads every entry's metadata, on the same trees in one invocation.
#   case 1: 1,000 folders of 199 files (200,000 items: the project's limit)
#   case 2: one folder of 50,000 files
# Usage: bench/add_tree.sh [WORKDIR]   (the trees are made there and removed)
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-$(mktemp -d "${TMPDIR:-/tmp}/velk-bench-XXXXXX")}
mkdir -p "$work"
trap 'rm -rf "$work/tree1" "$work/tree2"' EXIT

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target add_tree >/dev/null

python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
for d in range(1000):
    folder = os.path.join(work, "tree1", f"folder{d:04d}")
    os.makedirs(folder, exist_ok=True)
    for f in range(199):
        with open(os.path.join(folder, f"photo_{f:05d}.jpg"), "wb") as out:
            out.write(b"x" * (f % 7))
big = os.path.join(work, "tree2", "archive")
os.makedirs(big, exist_ok=True)
for f in range(50000):
    with open(os.path.join(big, f"IMG_{f:06d}.JPG"), "wb") as out:
        pass
PY

median_find() {
  local tree=$1 times=()
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    find "$tree" -printf "%s\n" >/dev/null
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 2p
}

printf '%-34s %10s %10s %8s\n' "tree" "velk (s)" "find (s)" "ratio"
for tree in tree1 tree2; do
  find "$work/$tree" -printf "%s\n" >/dev/null  # warm the cache for both
  read -r velk items < <(build/bench/bench/add_tree "$work/$tree" 3)
  find_s=$(median_find "$work/$tree")
  ratio=$(awk -v a="$velk" -v b="$find_s" 'BEGIN { printf "%.4f", a / b }')
  printf '%-34s %10.3f %10.3f %8.2f\n' "$tree ($items items)" "$velk" "$find_s" "$ratio"
done
