# Shell functions (sourced, bash) that run velk-cli in a small QEMU guest
# against drives this project did not write: QEMU's own SCSI CD/DVD-ROM
# (scsi-cd) and tgt's MMC recorder emulation, a DVD+R reached over iSCSI on
# 127.0.0.1 and passed through whole (scsi-generic). Every command then goes
# through the guest kernel's sr/sg drivers and velk's SG_IO transport.
#
# The guest is Debian's kernel with a busybox initramfs, TCG, one CPU. The
# kernel package is fetched once with `apt-get download` (the only network
# use) and never installed: its vmlinuz and the few modules the guest loads
# are kept in the cache folder, the rest of the package is thrown away.
#
# Traps these functions work around:
# - QEMU calls an image of more than 737,280,000 bytes a DVD-ROM, a smaller
#   one a CD-ROM; its disc is always one finalised session of one track.
# - tgt picks the medium when the LUN is made: an empty backing file is a
#   blank DVD+R, anything else a DVD-ROM. At CLOSE TRACK/SESSION its DVD+R
#   becomes a DVD-ROM, and it signals no medium change, so the guest kernel
#   keeps the blank disc's size (SG_IO reads are not bounded by it).
# - tgt lacks RESERVE TRACK (growisofs and velk do without it).
# - tgtd ignores SIGTERM: it is asked to leave over its control socket, and
#   killed by its pid when it is still there.
# - QEMU's iSCSI driver gives up on a LUN whose READ CAPACITY fails, so a
#   drive with no disc can only be a scsi-cd.

GUEST_MODULES="virtio_pci virtio_scsi sr_mod cdrom sg isofs"

# guest_packages: installs the host tools the guest needs, when missing.
guest_packages() {
    local need=()
    command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
    [ -e /usr/lib/x86_64-linux-gnu/qemu/block-iscsi.so ] || need+=(qemu-block-extra)
    command -v tgtd >/dev/null && command -v tgtadm >/dev/null || need+=(tgt)
    command -v cpio >/dev/null || need+=(cpio)
    command -v depmod >/dev/null || need+=(kmod)
    [ -x /bin/busybox ] || need+=(busybox-static)
    command -v xz >/dev/null || need+=(xz-utils)
    for tool in "$@"; do command -v "$tool" >/dev/null || need+=("$tool"); done
    [ ${#need[@]} -eq 0 ] && return 0
    echo "installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null 2>&1
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}

# guest_kernel CACHE: vmlinuz, the module files and their load order in
# CACHE (kept from run to run); downloads the kernel package only when the
# cache lacks them.
guest_kernel() {
    local cache=$1
    [ -s "$cache/vmlinuz" ] && [ -s "$cache/modules.order" ] && return 0
    local x ver
    mkdir -p "$cache" && x=$(mktemp -d "$cache/unpack.XXXX") || return 1
    apt-get update -qq >/dev/null 2>&1
    ver=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: linux-image-//p' | head -n 1)
    [ -n "$ver" ] || { echo "no linux-image-amd64 in the package lists"; rm -rf "$x"; return 1; }
    echo "downloading linux-image-$ver"
    if ! (cd "$x" && apt-get download "linux-image-$ver" >/dev/null 2>&1 && dpkg-deb -x linux-image-*.deb root); then
        echo "could not download linux-image-$ver"; rm -rf "$x"; return 1
    fi
    depmod -b "$x/root" "$ver" || { rm -rf "$x"; return 1; }
    rm -rf "$cache/modules" && mkdir -p "$cache/modules"
    local m f
    for m in $GUEST_MODULES; do modprobe -d "$x/root" -S "$ver" --show-depends "$m"; done |
        awk '$1 == "insmod" && !seen[$2]++ { print $2 }' | while read -r f; do
            # busybox insmod takes plain module files only
            case $f in
            *.ko.xz) xz -dc "$f" > "$cache/modules/$(basename "$f" .xz)" ;;
            *.ko.zst) zstd -qdc "$f" > "$cache/modules/$(basename "$f" .zst)" ;;
            *) cp "$f" "$cache/modules/" ;;
            esac
            basename "${f%.xz}" | sed 's/\.zst$//'
        done > "$cache/modules.order.new"
    cp "$x/root/boot/vmlinuz-$ver" "$cache/vmlinuz" && mv "$cache/modules.order.new" "$cache/modules.order" &&
        echo "$ver" > "$cache/version"
    local rc=$?
    rm -rf "$x"
    return $rc
}

# guest_initramfs CACHE OUT BINARY... [-- DIR:GUESTDIR...]: writes the
# initramfs OUT with busybox, the modules, each BINARY in /opt/velk with every
# library ldd lists (and the loader), and each host folder DIR copied to
# GUESTDIR. The guest runs /check.sh (which the caller puts in a DIR) once
# the drives it waits for (/ndrives) are there, then powers off.
guest_initramfs() {
    local cache=$1 out=$2; shift 2
    local bins=() dirs=() f r
    while [ $# -gt 0 ] && [ "$1" != -- ]; do bins+=("$1"); shift; done
    [ $# -gt 0 ] && shift && dirs=("$@")
    r=$(mktemp -d) || return 1
    mkdir -p "$r/bin" "$r/lib/mods" "$r/opt/velk" "$r/etc"
    cp /bin/busybox "$r/bin/"
    cp "$cache"/modules/*.ko "$r/lib/mods/"
    sed 's|^|/lib/mods/|' "$cache/modules.order" > "$r/modules"
    cp -L "${bins[@]}" "$r/opt/velk/"
    for f in $(for b in "${bins[@]}"; do ldd "$b"; done | grep -o '/[^ ]*' | sort -u); do
        mkdir -p "$r${f%/*}" && cp -L "$f" "$r$f"
    done
    for f in "${dirs[@]}"; do mkdir -p "$r${f#*:}" && cp -a "${f%%:*}/." "$r${f#*:}/"; done
    cat > "$r/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/opt/velk:/bin HOME=/tmp
mkdir -p /proc /sys /dev /tmp /mnt
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
ln -s /proc/mounts /etc/mtab
for m in $(cat /modules); do insmod $m || echo "insmod $m failed"; done
n=$(cat /ndrives 2>/dev/null || echo 1); i=0
while [ "$(ls -d /sys/block/sr* 2>/dev/null | wc -l)" -lt "$n" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
i=0; while [ "$(ls /dev/sg* 2>/dev/null | wc -l)" -lt "$n" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
echo; echo ==GUEST-BEGIN==
cd /; sh /check.sh </dev/null 2>&1
echo; echo ==GUEST-END==
poweroff -f
EOF
    chmod +x "$r/init"
    (cd "$r" && find . | cpio -o -H newc --quiet) > "$out"
    local rc=$?
    rm -rf "$r"
    return $rc
}

# guest_boot CACHE INITRAMFS TIMEOUT DRIVE...: boots the guest and prints what
# it printed between its begin and end marks; fails when it never got there.
# A DRIVE is "cd:ID:IMAGE" (QEMU's scsi-cd, read-only) or "iscsi:ID:PORTAL:IQN:LUN"
# (a LUN passed through whole); ID is the drive's SCSI target number, which
# the guest sees in /sys/block/srN/device (0:0:ID:0).
guest_boot() {
    local cache=$1 initrd=$2 limit=$3; shift 3
    local args=() d id rest n=0 console rc
    for d in "$@"; do
        id=$(echo "$d" | cut -d: -f2); rest=${d#*:*:}
        case $d in
        cd:*) args+=(-drive "file=${rest//,/,,},format=raw,if=none,id=d$id,media=cdrom,readonly=on"
                     -device "scsi-cd,drive=d$id,bus=scsi.0,scsi-id=$id,lun=0") ;;
        iscsi:*) local portal iqn lun
                 portal=$(echo "$rest" | cut -d: -f1-2); iqn=$(echo "$rest" | cut -d: -f3-4); lun=${rest##*:}
                 args+=(-drive "driver=iscsi,transport=tcp,portal=$portal,target=$iqn,lun=$lun,if=none,id=d$id"
                        -device "scsi-generic,drive=d$id,bus=scsi.0,scsi-id=$id,lun=0") ;;
        *) echo "guest_boot: unknown drive $d"; return 2 ;;
        esac
        n=$((n+1))
    done
    console=$(mktemp)
    # the drive count travels in a second archive after the main one
    local extra; extra=$(mktemp -d)
    echo $n > "$extra/ndrives"
    (cd "$extra" && echo ndrives | cpio -o -H newc --quiet) | cat "$initrd" - > "$extra/initrd"
    timeout "$limit" qemu-system-x86_64 -nodefaults -display none -serial stdio -no-reboot \
        -m 512M -smp 1 -kernel "$cache/vmlinuz" -initrd "$extra/initrd" \
        -append "console=ttyS0 quiet loglevel=0 panic=-1" \
        -device virtio-scsi-pci,id=scsi "${args[@]}" </dev/null > "$console" 2>&1
    tr -d '\r' < "$console" > "$console.txt"
    if grep -q '^==GUEST-END==$' "$console.txt"; then
        sed -n '/^==GUEST-BEGIN==$/,/^==GUEST-END==$/{//!p}' "$console.txt"; rc=0
    else
        tail -n 30 "$console.txt"; echo "the guest gave no answer within $limit s"; rc=1
    fi
    rm -rf "$console" "$console.txt" "$extra"
    return $rc
}

# tgt_start DIR LOG: starts a tgtd of our own on a free port of 127.0.0.1,
# its control socket in DIR, with one target that admits 127.0.0.1 only.
# Sets TGT_PID, TGT_PORTAL and TGT_IQN.
tgt_start() {
    local dir=$1 log=$2 try i
    export TGT_IPC_SOCKET=$dir/tgtd
    TGT_IQN=iqn.2024-01.test.velk:dvd TGT_PID=
    for try in 1 2 3 4 5 6 7 8; do
        TGT_PORTAL=127.0.0.1:$((20000 + RANDOM % 40000))
        echo "== tgtd --iscsi portal=$TGT_PORTAL" >> "$log"
        tgtd -f -d 0 --iscsi portal=$TGT_PORTAL >> "$log" 2>&1 &
        TGT_PID=$!
        i=0; until tgtadm --op show --mode target >/dev/null 2>&1 || [ $i -ge 100 ]; do sleep 0.1; i=$((i+1)); done
        # tgtd goes on without a portal it could not bind: then another port
        grep -q 'failed to create/bind to portal' "$log" || break
        sed -i 's|failed to create/bind to portal|(port taken)|' "$log"
        tgt_stop
    done
    [ -n "$TGT_PID" ] && tgtadm --lld iscsi --mode target --op new --tid 1 -T $TGT_IQN >> "$log" 2>&1 &&
        tgtadm --lld iscsi --mode target --op bind --tid 1 -I 127.0.0.1 >> "$log" 2>&1
}

# tgt_lun LUN FILE LOG: LUN of the target on FILE as an MMC drive (an empty
# file is a blank DVD+R).
tgt_lun() {
    tgtadm --lld iscsi --mode logicalunit --op new --tid 1 --lun "$1" --device-type cd -b "$(realpath "$2")" >> "$3" 2>&1
}

tgt_stop() {
    [ -n "${TGT_PID:-}" ] || return 0
    tgtadm --lld iscsi --op delete --mode target --tid 1 --force >/dev/null 2>&1
    tgtadm --op delete --mode system >/dev/null 2>&1
    local i=0
    while kill -0 "$TGT_PID" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); done
    kill -0 "$TGT_PID" 2>/dev/null && kill -KILL "$TGT_PID"
    wait "$TGT_PID" 2>/dev/null
    TGT_PID=
}
