#!/usr/bin/env bash
# Builds velk-cli and the virtual recorder and runs the main job: burns the
# sample folder samples/demo (or the paths given) to a blank virtual DVD+R
# under build/run/, exports the session the disc now holds and lists what an
# independent reader (xorriso) finds in it.
#
# ./run.sh app builds the desktop application and starts it with a blank
# virtual DVD+R attached, for trying it without a drive (it needs a display;
# without one it says so and exits with status 2).
set -euo pipefail
cd "$(dirname "$0")"

# build WHAT TARGET...: configures build/run and builds the targets, showing
# one line per build step with its percentage; the full output goes to
# build/run/build.log, and its end is shown when the build fails.
build() {
  local what=$1
  shift
  if [ -f build/run/CMakeCache.txt ]; then
    echo "Building $what in build/run (seconds, unless the sources changed)."
  else
    echo "Building $what in build/run: this first run builds velk, which takes a few minutes; later runs take seconds."
  fi
  mkdir -p build/run
  local log=build/run/build.log
  echo "Configuring build/run (cmake)"
  local status=0
  cmake -S . -B build/run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=OFF \
    >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    # Make prints "[ 42%] Building ...", Ninja "[12/40] Building ...".
    cmake --build build/run -j"$(nproc)" --target "$@" 2>&1 | tee -a "$log" |
      { grep --line-buffered -E '^\[ *[0-9]+(%|/[0-9]+)\]' || true; } || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    echo "run.sh: the build failed; its last lines follow (all of it is in $log):" >&2
    tail -n 30 "$log" >&2
    exit "$status"
  fi
}

if [ "${1:-}" = "app" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh app: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)" >&2
    exit 2
  fi
  packages=(cmake g++ make libcli11-dev qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins)
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  build "the desktop application" velk velk-cli velk_vrec_plugin
  disc="$PWD/build/run/velk-app.vdisc"
  rm -f "$disc" "$disc.data"
  build/run/cli/velk-cli vdisc create --medium dvd+r "$disc"
  echo "The disc file is $disc; export what you burned with:"
  echo "  build/run/cli/velk-cli vdisc export $disc -o build/run/velk-app.iso"
  # The recorder's clock runs 20 times faster than the wall clock.
  VELK_VIRTUAL_DISCS="$disc" VELK_VIRTUAL_TIME_SCALE="${VELK_VIRTUAL_TIME_SCALE:-20}" exec build/run/app/velk
fi

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

build "velk-cli and the virtual recorder" velk-cli velk_vrec_plugin

if [ $# -eq 0 ]; then
  set -- samples/demo
fi
cli=build/run/cli/velk-cli
disc=build/run/velk-demo.vdisc
image=build/run/velk-demo.iso

# A fresh blank disc every run; the recorder's simulated clock runs 20 times
# faster than the wall clock, so a demo burn at DVD speed takes moments. The
# image of the last run stays until this run's export replaces it (the export
# writes a temporary file and renames it), so a burn that fails leaves it.
rm -f "$disc" "$disc.data"
"$cli" vdisc create --medium dvd+r "$disc"
VELK_VIRTUAL_TIME_SCALE=20 "$cli" burn --virtual "$disc" --label "VELK SAMPLE" "$@"
echo
"$cli" vdisc show "$disc"
echo
"$cli" vdisc export "$disc" -o "$image"
echo
echo "What xorriso reads in the burned session ($image, Joliet tree):"
xorriso -indev "$image" -find / -exec lsdl -- 2>/dev/null
