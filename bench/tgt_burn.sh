#!/usr/bin/env bash
# Burning a 10 MB tree to tgt's DVD+R (an MMC emulation this project did not
# write, over iSCSI on 127.0.0.1, through a QEMU guest's sr/sg drivers):
# velk-cli burn against growisofs -Z DEV -J -R, on two drives of one guest,
# each run on fresh blanks, the two burners taking turns at going first.
#   bench/tgt_burn.sh [VELK_CLI] [RUNS]   (default build/normal/velk-cli, 3)
# Prints each run's seconds, the medians and velk's time as a multiple of
# growisofs's (under 1.0x: velk is the faster).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tests/kernel/guest.sh"
cli=$(realpath "${1:-$root/build/normal/velk-cli}")
runs=${2:-3}
[ -x "$cli" ] || { echo "no velk-cli at $cli"; exit 2; }
cache=$(realpath -m "${VELK_KERNEL_CACHE:-$root/build/kernel-guest}")

guest_packages growisofs genisoimage || exit 1
guest_kernel "$cache" || exit 1
w=$(mktemp -d "${TMPDIR:-/tmp}/velk-tgt-bench.XXXXXX")
trap 'tgt_stop; rm -rf "$w"' EXIT
trap 'exit 130' INT; trap 'exit 143' TERM HUP

mkdir -p "$w/root/src/photos" "$w/root/src/docs" "$w/bin"
for i in 1 2 3 4; do head -c 2000000 /dev/urandom > "$w/root/src/photos/img$i.jpg"; done
for i in $(seq 1 40); do head -c 50000 /dev/urandom > "$w/root/src/docs/note$i.txt"; done
objcopy --strip-debug "$cli" "$w/bin/velk-cli"

log=$w/tgtd.log
tgt_start "$w" "$log" || { echo "could not start tgtd: $(tail -n 3 "$log")"; exit 1; }
drives=()
for lun in $(seq 1 $((2 * runs))); do
    : > "$w/disc$lun"
    tgt_lun $lun "$w/disc$lun" "$log" || { echo "could not make LUN $lun: $(tail -n 2 "$log")"; exit 1; }
    drives+=("iscsi:$((lun - 1)):$TGT_PORTAL:$TGT_IQN:$lun")
done

# In the guest: run i burns with velk on drive 2i-2 and growisofs on 2i-1,
# velk first in odd runs. Times come from /proc/uptime (1/100 s).
cat > "$w/root/check.sh" <<EOF
dev() { for b in /sys/block/sr*; do case \$(readlink \$b/device) in *:\$1:0) echo /dev/\${b##*/};; esac; done; }
now() { cut -d' ' -f1 /proc/uptime; }
timed() {   # timed NAME COMMAND...: "TIME NAME SECONDS", or the command's last words when it failed
    name=\$1; shift; t0=\$(now)
    if "\$@" > /tmp/log 2>&1; then echo "TIME \$name \$(now) \$t0"; else echo "FAILED \$name"; tail -n 5 /tmp/log; fi
}
i=1
while [ \$i -le $runs ]; do
    v=\$(dev \$((2 * i - 2))); g=\$(dev \$((2 * i - 1)))
    if [ \$((i % 2)) = 1 ]; then
        timed velk velk-cli burn --quiet --device \$v /src; timed growisofs growisofs -Z \$g -J -R /src
    else
        timed growisofs growisofs -Z \$g -J -R /src; timed velk velk-cli burn --quiet --device \$v /src
    fi
    i=\$((i + 1))
done
EOF
# growisofs makes the image with genisoimage, from PATH
guest_initramfs "$cache" "$w/initrd" "$w/bin/velk-cli" "$(command -v growisofs)" \
    "$(command -v genisoimage)" -- "$w/root:/" ||
    { echo "could not make the initramfs"; exit 1; }
guest_boot "$cache" "$w/initrd" 600 "${drives[@]}" > "$w/console" || { cat "$w/console"; exit 1; }
tgt_stop
grep -A5 '^FAILED' "$w/console" && exit 1

awk '/^TIME / { t = $3 - $4; n[$2]++; v[$2, n[$2]] = t; printf "run %d  %-9s %6.2f s\n", n[$2], $2, t }
    function median(name,   i, j, k, a, m) {
        m = n[name]; for (i = 1; i <= m; i++) a[i] = v[name, i]
        for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (a[j] < a[i]) { k = a[i]; a[i] = a[j]; a[j] = k }
        return m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2 }
    END {
        if (!n["velk"] || !n["growisofs"]) { print "no timings"; exit 1 }
        mv = median("velk"); mg = median("growisofs")
        printf "median    velk %.2f s, growisofs %.2f s (10 MB to a tgt DVD+R)\n", mv, mg
        printf "ratio     velk / growisofs = %.2fx\n", mv / mg }' "$w/console"
