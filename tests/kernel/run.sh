#!/usr/bin/env bash
# The kernel stage: velk-cli against drives this project did not write, in one
# QEMU guest (see guest.sh).
#   tests/kernel/run.sh VELK_CLI
# - QEMU's scsi-cd, read-only, holding CD-ROM-sized and DVD-ROM-sized discs
#   made by genisoimage and by xorriso: info (the session), ls, compare,
#   eject and load.
# - tgt's DVD+R, each burn on a fresh blank: burn, burn --verify --close and
#   burn-image; afterwards the backing files are read on the host by
#   xorriso, isoinfo and 7-Zip and held against the source tree (or, for
#   burn-image, against the image byte for byte).
# Prints one line per check and "N passed, N failed";
# exits non-zero when a check failed. The kernel is cached in
# $VELK_KERNEL_CACHE (default build/kernel-guest), so only the first run
# downloads it. VELK_KERNEL_KEEP=1 keeps the work folder.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/guest.sh"

cli=${1:?usage: tests/kernel/run.sh VELK_CLI}
[ -x "$cli" ] || { echo "no velk-cli at $cli"; exit 2; }
cli=$(realpath "$cli")
cache=$(realpath -m "${VELK_KERNEL_CACHE:-$here/../../build/kernel-guest}")

passed=0 failed=0
pass() { echo "PASS  $1"; passed=$((passed+1)); }
fail() { echo "FAIL  $1: $2"; failed=$((failed+1)); }
finish() {
    echo "$passed passed, $failed failed"
    [ $failed -eq 0 ] && exit 0
    exit 1
}

guest_packages genisoimage xorriso 7zz isoinfo || { fail setup "could not install the packages"; finish; }
guest_kernel "$cache" || { fail setup "could not get the guest kernel into $cache"; finish; }

w=$(mktemp -d "${TMPDIR:-/tmp}/velk-kernel.XXXXXX")
cleanup() {
    tgt_stop
    if [ "${VELK_KERNEL_KEEP:-0}" = 1 ]; then echo "work folder: $w"; else chmod -R u+w "$w"; rm -rf "$w"; fi
}
trap cleanup EXIT
trap 'exit 130' INT; trap 'exit 143' TERM HUP

# The source tree: nested folders, an empty file, a name with spaces and
# mixed case, and a file of a few hundred kilobytes that spans many blocks.
src=$w/src
mkdir -p "$src/Docs/deep/nested" "$src/empty dir"
echo "hello from the kernel stage" > "$src/a.txt"
printf 'line %d\n' $(seq 1 3000) > "$src/Docs/Read Me.md"
head -c 300000 /dev/urandom > "$src/Docs/deep/nested/data.bin"
head -c 2049 /dev/urandom > "$src/Docs/two blocks.dat"
: > "$src/Docs/empty.txt"

# What ls must list for that tree: path and size, folders with a slash.
(cd "$src" && find . -mindepth 1 \( -type d -printf '/%P/\t0\n' \) -o \( -type f -printf '/%P\t%s\n' \)) |
    LC_ALL=C sort > "$w/expected.ls"

# The read-only discs. More than 737,280,000 bytes makes QEMU's drive report
# a DVD-ROM: the padding is a hole in the file, no disc space or time.
dvd_bytes=$((361000 * 2048))
mkdir -p "$w/data" "$w/images"
genisoimage -quiet -J -R -V GENCD -o "$w/images/gen-cd.iso" "$src" &&
    genisoimage -quiet -J -R -V GENDVD -o "$w/images/gen-dvd.iso" "$src" &&
    xorriso -as mkisofs -quiet -J -R -V XORCD -o "$w/images/xor-cd.iso" "$src" 2>/dev/null &&
    xorriso -as mkisofs -quiet -J -R -V XORDVD -o "$w/images/xor-dvd.iso" "$src" 2>/dev/null ||
    { fail setup "could not make the images"; finish; }
truncate -s $dvd_bytes "$w/images/gen-dvd.iso" "$w/images/xor-dvd.iso"
cp "$w/images/gen-cd.iso" "$w/data/burn.iso"   # what burn-image burns

readonly_discs="gen-cd gen-dvd xor-cd xor-dvd"
burns="burn verify-close image"
drives=() id=0
for d in $readonly_discs; do drives+=("cd:$id:$w/images/$d.iso"); eval "id_${d//-/_}=$id"; id=$((id+1)); done

# The blank DVD+Rs, one LUN of one target each.
log=$w/tgtd.log
tgt_start "$w" "$log" || { fail setup "could not start tgtd (log: $(tail -n 3 "$log"))"; finish; }
lun=1
for b in $burns; do
    : > "$w/$b.disc"
    tgt_lun $lun "$w/$b.disc" "$log" || { fail setup "could not make LUN $lun: $(tail -n 2 "$log")"; finish; }
    drives+=("iscsi:$id:$TGT_PORTAL:$TGT_IQN:$lun"); eval "id_${b//-/_}=$id"; id=$((id+1)); lun=$((lun+1))
done

# The guest's script: each step's output between marks, with its status.
# A drive is found by its SCSI target number (0:0:ID:0 in sysfs).
{
    echo 'dev() { for b in /sys/block/sr*; do case $(readlink $b/device) in *:$1:0) echo /dev/${b##*/};; esac; done; }'
    echo 'step() { n=$1; shift; echo "==STEP $n"; "$@" 2>&1; rc=$?; echo; echo "==RC $n $rc"; }'
    for d in $readonly_discs; do
        v=id_${d//-/_}; echo "D=\$(dev ${!v})"
        echo "step $d.info velk-cli info --device \$D"
        echo "step $d.ls velk-cli ls --device \$D"
        echo "step $d.compare velk-cli compare --device \$D /src"
    done
    for d in gen-cd xor-dvd; do
        v=id_${d//-/_}; echo "D=\$(dev ${!v})"
        for s in eject ejected load loaded; do
            case $s in eject | load) c=$s ;; *) c=info ;; esac
            echo "step $d.$s velk-cli $c --device \$D"
        done
    done
    echo "D=\$(dev $id_burn)"
    echo "step burn.blank velk-cli info --device \$D"
    echo "step burn.burn velk-cli burn --quiet --device \$D /src"
    echo "step burn.compare velk-cli compare --device \$D /src"
    echo "D=\$(dev $id_verify_close)"
    echo "step verify-close.burn velk-cli burn --quiet --verify --close --device \$D /src"
    echo "step verify-close.compare velk-cli compare --device \$D /src"
    echo "D=\$(dev $id_image)"
    echo "step image.burn velk-cli burn-image --quiet --device \$D /data/burn.iso"
} > "$w/check.sh"
mkdir -p "$w/root/data" && cp "$w/check.sh" "$w/root/" && cp -a "$src" "$w/root/src" &&
    cp "$w/data/burn.iso" "$w/root/data/"

objcopy --strip-debug "$cli" "$w/velk-cli"   # the guest holds it in memory
guest_initramfs "$cache" "$w/initrd" "$w/velk-cli" -- "$w/root:/" || { fail setup "could not make the initramfs"; finish; }
if ! guest_boot "$cache" "$w/initrd" 240 "${drives[@]}" > "$w/console"; then
    cat "$w/console"; fail guest "no answer"; finish
fi
tgt_stop

# Each step's output in $w/steps/NAME, its status in $w/steps/NAME.rc.
mkdir -p "$w/steps"
awk -v dir="$w/steps" '
    /^==STEP / { name = $2; file = dir "/" name; printf "" > file; next }
    /^==RC /   { close(file); print $3 > (dir "/" $2 ".rc"); close(dir "/" $2 ".rc"); name = ""; next }
    name != "" { print >> file }' "$w/console"
out() { cat "$w/steps/$1" 2>/dev/null; }
ok() { [ "$(cat "$w/steps/$1.rc" 2>/dev/null)" = 0 ]; }
why() { echo "exit $(cat "$w/steps/$1.rc" 2>/dev/null || echo none): $(out "$1" | grep -v '^$' | tail -n 3 | tr '\n' ' ')"; }

check() {   # check NAME CONDITION...: pass, or fail with the step's own words
    local name=$1; shift
    if "$@"; then pass "$name"; else fail "$name" "$(why "$step")"; fi
}

listing_matches() { out "$1" | grep -v '^session \|^$' | cut -f1-2 | LC_ALL=C sort | cmp -s - "$w/expected.ls"; }
compare_matches() { out "$1" | grep -q "files match, 0 differ, 0 missing on the disc, 0 only on the disc"; }
volume_blocks() { isoinfo -d -i "$1" | sed -n 's/^Volume size is: //p'; }

for d in $readonly_discs; do
    img=$w/images/$d.iso; blocks=$(volume_blocks "$img")
    case $d in *-cd) medium=CD-ROM ;; *) medium=DVD-ROM ;; esac
    step=$d.info; check "$d.info" eval 'ok $step && out $step | grep -q "^disc type: [0-9]* $medium$" &&
        out $step | grep -q "^sessions: 1$" && out $step | grep -q "^iso volume size: $blocks$"'
    # a CD's size is the whole image, up to its lead-out
    [ $medium = CD-ROM ] &&
        check "$d.info-capacity" eval 'out $step | grep -q "^capacity: $(($(stat -c %s "$img") / 2048))$"'
    check "$d.info-session" eval 'out $step | grep -q "^session 1: start 0, size $blocks blocks$"'
    step=$d.ls; check "$d.ls" eval 'ok $step && listing_matches $step'
    step=$d.compare; check "$d.compare" eval 'ok $step && compare_matches $step'
done
for d in gen-cd xor-dvd; do
    case $d in *-cd) medium=CD-ROM ;; *) medium=DVD-ROM ;; esac
    step=$d.eject; check "$d.eject" eval 'ok $step && ok $d.ejected && out $d.ejected | grep -q "^ready: 0$"'
    step=$d.load; check "$d.load" eval 'ok $step && ok $d.loaded && out $d.loaded | grep -q "^ready: 1$" &&
        out $d.loaded | grep -q "^disc type: [0-9]* $medium$"'
done

step=burn.blank; check tgt.blank eval 'ok $step && out $step | grep -q "^disc type: [0-9]* DVD+R$" &&
    out $step | grep -q "^writable: 1$"'
step=burn.burn; check tgt.burn eval 'ok $step'
step=burn.compare; check tgt.burn-compare eval 'ok $step && compare_matches $step'
step=verify-close.burn; check tgt.burn-verify-close eval 'ok $step && out $step | grep -q "verified [0-9]* blocks"'
step=verify-close.compare; check tgt.burn-verify-close-compare eval 'ok $step && compare_matches $step'
step=image.burn; check tgt.burn-image eval 'ok $step'

# The burned discs as independent readers see them in the backing files.
reader_matches() {   # reader_matches READER DISC: the tree READER extracts is the source tree
    local reader=$1 disc=$2 x=$w/read.$1.$(basename "$2")
    mkdir -p "$x"
    case $reader in
    xorriso) xorriso -osirrox on -indev "$disc" -extract / "$x" >/dev/null 2>&1 || return 1 ;;
    7zz) 7zz x -tiso -y -o"$x" "$disc" >/dev/null 2>&1 || return 1 ;;
    isoinfo)
        # the Joliet tree, listed and extracted file by file
        local listed; listed=$(isoinfo -i "$disc" -J -f) || return 1
        while IFS= read -r p; do
            if [ -d "$src$p" ]; then mkdir -p "$x$p"
            else mkdir -p "$(dirname "$x$p")" && isoinfo -i "$disc" -J -x "$p" > "$x$p" || return 1; fi
        done <<< "$listed" ;;
    esac
    diff -r "$src" "$x" >/dev/null
}
for b in burn verify-close; do
    for reader in xorriso isoinfo 7zz; do
        check "tgt.$b-read-$reader" reader_matches $reader "$w/$b.disc"
    done
done
image_matches() {   # the disc holds the image, and nothing but zeros after it
    local n; n=$(stat -c %s "$w/data/burn.iso")
    [ "$(stat -c %s "$w/image.disc")" -ge "$n" ] && cmp -s -n "$n" "$w/data/burn.iso" "$w/image.disc" &&
        [ -z "$(tail -c +$((n + 1)) "$w/image.disc" | tr -d '\0' | head -c 1)" ]
}
check tgt.burn-image-read-cmp image_matches

finish
