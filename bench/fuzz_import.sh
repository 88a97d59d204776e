#!/usr/bin/env bash
# Fuzzes the session import's parser for SECONDS seconds (default 60):
# builds fuzz/ with clang (libFuzzer, ASan, UBSan) in build/fuzz, runs the
# target over a working copy of the saved corpus fuzz/corpus, and prints the
# executions, the coverage and any crash file. Extra arguments go to the
# fuzzer (without -jobs: the statistics are read from this run's output).
# After a long run, `bench/fuzz_import.sh --merge` folds the small inputs of
# the working corpus that add coverage into fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang++ >/dev/null || {
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends clang >/dev/null
}
cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target fuzz_import >/dev/null
work=build/fuzz/corpus-work
crashes=build/fuzz/crashes
mkdir -p "$work" "$crashes"
if [ "${1:-}" = "--merge" ]; then
  # The inputs of the working corpus that add coverage, and of those only
  # the small ones (up to 64 KiB), join the saved corpus.
  merged=build/fuzz/corpus-merged
  rm -rf "$merged" && mkdir -p "$merged"
  build/fuzz/fuzz_import -merge=1 -max_len=1048576 "$merged" fuzz/corpus "$work" 2>&1 | tail -n 1
  find "$merged" -type f -size -65k -exec cp -n {} fuzz/corpus/ \;
  ls fuzz/corpus | wc -l | sed 's/$/ inputs in fuzz\/corpus/'
  exit 0
fi
seconds=${1:-60}
shift || true
cp -n fuzz/corpus/* "$work"/ 2>/dev/null || true
log=build/fuzz/last-run.log
set +e
build/fuzz/fuzz_import -max_total_time="$seconds" -max_len=1048576 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$crashes/" "$@" "$work" 2>&1 | tee "$log" | grep -E "^#[0-9]+ +(INITED|DONE|pulse)" | tail -n 3
status=${PIPESTATUS[0]}
set -e
grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log" || true
grep -oE "cov: [0-9]+ ft: [0-9]+" "$log" | tail -n 1 | sed 's/^/final coverage: /'
if ls "$crashes"/crash-* "$crashes"/leak-* "$crashes"/timeout-* "$crashes"/oom-* >/dev/null 2>&1; then
  echo "findings:"; ls -l "$crashes"
else
  echo "findings: none"
fi
exit "$status"
