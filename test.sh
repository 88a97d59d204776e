#!/usr/bin/env bash
# Installs what the build and the tests need, then builds and runs the whole
# suite twice: a normal build and one under AddressSanitizer +
# UndefinedBehaviorSanitizer. The threaded job tests also run under
# ThreadSanitizer. After the normal build, the kernel stage runs its velk-cli
# in a QEMU guest against drives this project did not write. The desktop
# application and its window tests are built in the normal stage only
# (offscreen), and its installed layout is started once under a real X server
# (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  # independent readers that check our images
  genisoimage xorriso 7zip udftools python3 python3-pycdlib dumpet
  # validates velk-cli's --json output against its schema
  python3-jsonschema
  # the desktop application, its offscreen tests and the X server smoke test
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins xvfb xauth python3-xlib
  # the Debian package
  dpkg-dev file
  # the kernel stage: a QEMU guest, tgt's recorder over iSCSI, the initramfs
  qemu-system-x86 qemu-block-extra tgt cpio kmod busybox-static xz-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" ${VELK_CTEST_ARGS:-})
}

# Qt's window tests draw offscreen; nothing needs a display.
export QT_QPA_PLATFORM=offscreen

echo "== normal build"
run_suite build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo

# velk-cli against drives it did not write (QEMU's CD/DVD-ROM, tgt's DVD+R),
# through a guest kernel's sr/sg drivers; the kernel is cached in build/.
echo "== kernel stage"
VELK_KERNEL_CACHE=build/kernel-guest tests/kernel/run.sh build/normal/cli/velk-cli

echo "== the installed application under a real X server"
rm -rf build/normal/stage
cmake --install build/normal --prefix build/normal/stage >/dev/null
env -u QT_QPA_PLATFORM xvfb-run -a /usr/bin/python3 tests/app-window/xvfb_smoke.py build/normal/stage

echo "== the Debian package"
(cd build/normal && cpack -G DEB >/dev/null && dpkg-deb -c velk_*.deb)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build/asan -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=address,undefined -DVELK_BUILD_BENCH=OFF \
  -DVELK_BUILD_APP=OFF

# The threaded parts (producer and writer, the virtual recorder's plugin
# workers, the window's burn set-up thread and callbacks) also run under
# ThreadSanitizer.
echo "== ThreadSanitizer build (threaded modules)"
tsan_targets=(velk_jobs_tests velk_virtual_recorder_tests velk_app_tests)
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_SANITIZE=thread -DVELK_BUILD_BENCH=OFF \
  -DVELK_BUILD_APP=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target "${tsan_targets[@]}"
for target in "${tsan_targets[@]}"; do
  TSAN_OPTIONS=halt_on_error=1 "build/tsan/tests/$target" --gtest_brief=1
done
