#!/usr/bin/env bash
# The handheld's program on a real Linux kernel: Debian's armel kernel booted
# on qemu-system-arm's raspi0 board (an ARM1176 with the board's SD host, so
# the card is a real mmcblk0 with FAT), the kernel's OSS emulation over the
# loopback sound card for /dev/dsp and /dev/mixer, and buttons through uinput.
#
#   scripts/board.sh [--pc] initramfs PACKAGE TOOLS OUT.cpio.gz
#       lays out the handheld's root file system: busybox, the sound, card
#       and input modules, the package unpacked as on the handheld, its
#       libraries from the sysroot, the font, tests/board/init.sh, and the
#       board's static programs from the armel build's folder TOOLS
#       (boardtool and oss-probe, in build-armel/tests)
#   scripts/board.sh [--pc] symbols INITRAMFS
#       keeps the kernel's symbols beside it, to name where the processor of
#       a board that froze is (see run); the first initramfs made does too
#   scripts/board.sh [--pc] run INITRAMFS CASE OUT [--cut MOMENT] [--slow MS,HEAL]
#       boots it on a fresh card, runs one case (see tests/board/init.sh) and
#       leaves in OUT: console.log (the serial console), card.img, card/ (the
#       card's files, read with mtools) and fsck.txt (what fsck.vfat -n said
#       of it, and its status on the last line).
#       --cut MOMENT has the case cut the power at that moment: the emulator
#       is killed when the board says "board: power cut", so the card keeps
#       only what reached it.
#       --slow MS,HEAL has the case hold each of the card's writes MS ms
#       from the press on, until HEAL (see case_slowcard).
#
# With --pc, the same on a PC instead of the board, for figures to set beside
# the board's: Debian's amd64 kernel under qemu-system-x86_64 (emulated, as
# the board is: KVM inside a virtual machine may hang), the card a virtio
# disk, the package the PC's build of the handheld program (scripts/package.sh
# pc) with the PC's libraries, and TOOLS the PC build's tests/ with boardtool
# (make boardtool there; oss-probe is the board's only).
#
# The kernel and busybox are unpacked from Debian's packages by
# scripts/sysroot.sh armel board, the libraries taken from scripts/sysroot.sh
# armel; both are cached. A run whose console says nothing more before
# RECORDER_BOARD_BOUND seconds (300) have passed is sampled through the
# emulator's monitor (board.sh lines in console.log), killed, and fails with
# status 124.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)

# The machine: its kernel's architecture, where its libraries are, its
# dynamic loader, the disk its card is and the modules that disk needs.
kernel_arch=armel triplet=arm-linux-gnueabi loader=lib/ld-linux.so.3 card=mmcblk0 disk_modules=""
if [ "${1:-}" = --pc ]; then
    kernel_arch=amd64 triplet=x86_64-linux-gnu loader=lib64/ld-linux-x86-64.so.2 card=vda
    disk_modules="virtio_blk virtio_pci"
    shift
fi

usage() {
    sed -n '/^#   scripts/,/^#$/p' "$0" >&2
    exit 2
}

# The shared libraries a program needs, found in the sysroot, as sysroot
# paths: the dynamic loader's search, done by reading the programs' headers.
libraries() {
    local sysroot=$1
    shift
    local -A seen=()
    local queue=("$@") file needed folder found
    while [ ${#queue[@]} -gt 0 ]; do
        file=${queue[0]}
        queue=("${queue[@]:1}")
        # Where the library itself says to look first (PulseAudio's do).
        local runpath
        runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' | tr ':' ' ')
        for needed in $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [ -n "${seen[$needed]:-}" ] && continue
            seen[$needed]=1
            found=
            for folder in $runpath lib/$triplet usr/lib/$triplet lib usr/lib; do
                folder=${folder#/}
                if [ -e "$sysroot/$folder/$needed" ]; then
                    found=$folder/$needed
                    break
                fi
            done
            [ -n "$found" ] || { echo "no $needed in $sysroot" >&2; return 1; }
            echo "$found"
            queue+=("$(realpath "$sysroot/$found")")
        done
    done
}

# Where the board's processor is, a few times over: the program counter and
# the return address, each with the kernel symbol it falls in (user space
# shows as an address below the kernel's).
board_sample() {
    local monitor=$1 map=$2 sample register address
    for sample in 1 2 3; do
        for register in R15 R14; do
            address=$(echo "info registers" | socat -t 2 - "UNIX-CONNECT:$monitor" 2>/dev/null |
                tr ' ' '\n' | sed -n "s/^$register=//p" | head -n 1)
            [ -n "$address" ] || continue
            # The map is sorted, and its addresses have as many digits as
            # the register's: they compare as text.
            echo "board.sh: sample $sample: $register=$address $( [ -f "$map" ] && sort "$map" |
                awk -v at="$address" '$1 <= tolower(at) { name = $3 } END { print name }')"
        done
    done
}

# The kernel's text symbols, kept beside it for board_sample: its package
# has no System.map, and an ARM kernel has the same addresses at every boot.
keep_symbols() {
    local initramfs=$1 kernel version work
    kernel=$("$RECORDER_TOP/scripts/sysroot.sh" $kernel_arch board)
    version=$(basename "$(ls -d "$kernel"/lib/modules/*)")
    work=$(mktemp -d)
    run_case "$initramfs" symbols "$work" >/dev/null
    cp "$work/card/board/kallsyms" "$kernel/boot/kallsyms-$version"
    rm -rf "$work"
}

make_initramfs() {
    local package=$1 tools=$2 out=$3
    local kernel sysroot version stage
    kernel=$("$RECORDER_TOP/scripts/sysroot.sh" $kernel_arch board)
    if [ "$kernel_arch" = amd64 ]; then
        sysroot=/
    else
        sysroot=${RECORDER_SYSROOT:-$("$RECORDER_TOP/scripts/sysroot.sh" armel)}
    fi
    version=$(basename "$(ls -d "$kernel"/lib/modules/*)")
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' RETURN
    mkdir -p "$stage"/{bin,sbin,proc,sys,dev,tmp,board,lib/modules/"$version"}
    cp "$kernel/bin/busybox" "$stage/bin/"
    local list=("$kernel/bin/busybox" --list)
    [ "$kernel_arch" = armel ] && list=(qemu-arm "${list[@]}")
    for applet in $("${list[@]}"); do
        [ "$applet" = busybox ] || ln -s busybox "$stage/bin/$applet"
    done
    # The modules the handheld's devices need, with those they depend on.
    local modules="$kernel/lib/modules/$version" module
    for module in snd-aloop snd-pcm-oss snd-mixer-oss uinput evdev vfat nls_cp437 nls_ascii \
        dm-mod dm-delay $disk_modules; do
        local path
        path=$(grep -E "/${module//-/[-_]}\.ko:" "$modules/modules.dep" | cut -d: -f1)
        for path in $path $(grep "^$path:" "$modules/modules.dep" | cut -d: -f2); do
            mkdir -p "$stage/lib/modules/$version/$(dirname "$path")"
            cp "$modules/$path" "$stage/lib/modules/$version/$path"
        done
    done
    depmod -b "$stage" "$version" 2>/dev/null
    # The package as the handheld installs it, and what it loads.
    local program
    program=$(mktemp -d)
    tar -xzf "$package" -C "$program"
    local library needed
    needed=$(libraries "$sysroot" "$program/recorder/recorder")
    for library in $loader $needed; do
        mkdir -p "$stage/$(dirname "$library")"
        cp -L "$sysroot/$library" "$stage/$library"
    done
    rm -rf "$program"
    cp "$package" "$stage/board/recorder.tar.gz"
    cp "$tools/boardtool" "$stage/board/"
    [ "$kernel_arch" = amd64 ] || cp "$tools/oss-probe" "$stage/board/"
    cp /usr/share/fonts/truetype/nanum/NanumGothicBold.ttf "$stage/board/HYUni_ZEM_B.ttf"
    cp "$RECORDER_TOP/tests/board/init.sh" "$stage/init"
    chmod +x "$stage/init"
    (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$out"
    [ "$kernel_arch" = amd64 ] || [ -f "$kernel/boot/kallsyms-$version" ] || keep_symbols "$out"
}

run_case() {
    local initramfs=$1 case_name=$2 out=$3
    shift 3
    local cut="" slow=""
    while [ $# -gt 0 ]; do
        case "$1" in
        --cut) cut=$2; shift 2 ;;
        --slow) slow=$2; shift 2 ;;
        *) usage ;;
        esac
    done
    local kernel version
    kernel=$("$RECORDER_TOP/scripts/sysroot.sh" $kernel_arch board)
    version=$(basename "$(ls -d "$kernel"/lib/modules/*)")
    mkdir -p "$out"
    rm -rf "$out/card" "$out/card.img"
    truncate -s 128M "$out/card.img"
    mkfs.vfat -F 32 -n HANDHELD "$out/card.img" >/dev/null
    # The power domain driver faults on the emulated board; the handheld's
    # clock is set from the PC's.
    local append="console=ttyAMA0 quiet panic=-1 initcall_blacklist=bcm2835_power_driver_init"
    local machine=(qemu-system-arm -M raspi0 -kernel "$kernel/boot/vmlinuz-$version"
        -dtb "$kernel/usr/lib/linux-image-$version/bcm2835-rpi-zero.dtb"
        -drive "file=$out/card.img,if=sd,format=raw")
    local map="$kernel/boot/kallsyms-$version"
    if [ "$kernel_arch" = amd64 ]; then
        append="console=ttyS0 quiet panic=-1"
        machine=(qemu-system-x86_64 -m 512 -kernel "$kernel/boot/vmlinuz-$version"
            -drive "file=$out/card.img,if=virtio,format=raw")
        map="$kernel/boot/System.map-$version"
    fi
    # The machine's own clock counts instructions, 250 million a second on
    # both machines, so that their figures compare (see the README): on the
    # PC's clock, a board held up by a busy PC can set its timer's alarm in
    # the past and sleep for 71 minutes.
    machine+=(-icount shift=2,sleep=on)
    append="$append board.case=$case_name board.clock=$(date +%s) board.bound=120 board.card=$card"
    [ -n "$cut" ] && append="$append board.cut=$cut"
    [ -n "$slow" ] && append="$append board.slow=$slow"
    local bound=${RECORDER_BOARD_BOUND:-300} status=0
    local monitor="$out/monitor.sock"
    : >"$out/console.log"
    rm -f "$out/bound" "$monitor"
    # The console is read as it comes, so that a power cut is the moment the
    # board names, not a moment later. The bound is kept by the reading: a
    # board that says nothing more until it is reached is sampled through
    # the emulator's monitor (where its processor is, by kernel symbol, for
    # a board whose kernel froze) and killed.
    {
        "${machine[@]}" -nographic -no-reboot -initrd "$initramfs" -append "$append" \
            -monitor "unix:$monitor,server,nowait" </dev/null 2>&1 &
        echo "$!" >"$out/qemu.pid"
        wait "$!" || echo "board.sh: the emulator ended with $?"
    } | {
        local deadline=$((SECONDS + bound)) line
        while true; do
            if ! IFS= read -r -t "$((deadline > SECONDS ? deadline - SECONDS : 1))" line; then
                [ "$SECONDS" -lt "$deadline" ] && break  # the emulator ended
                touch "$out/bound"
                board_sample "$monitor" "$map" >>"$out/console.log"
                kill -KILL "$(cat "$out/qemu.pid")" 2>/dev/null || true
                deadline=$((SECONDS + 60))
                continue
            fi
            line=${line%$'\r'}
            printf '%s\n' "$line" >>"$out/console.log"
            if [ "$line" = "board: power cut" ]; then
                kill -KILL "$(cat "$out/qemu.pid")" 2>/dev/null || true
            fi
        done
    }
    if [ -e "$out/bound" ]; then
        echo "board.sh: no end within $bound s" >>"$out/console.log"
        status=124
    fi
    local fsck=0
    fsck.vfat -n "$out/card.img" >"$out/fsck.txt" 2>&1 || fsck=$?
    echo "fsck status $fsck" >>"$out/fsck.txt"
    mkdir -p "$out/card"
    MTOOLS_SKIP_CHECK=1 mcopy -s -n -i "$out/card.img" ::/ "$out/card/" 2>/dev/null || true
    return "$status"
}

case "${1:-}" in
initramfs) [ $# -eq 4 ] || usage; make_initramfs "$2" "$3" "$4" ;;
run) [ $# -ge 4 ] || usage; shift; run_case "$@" ;;
symbols) [ $# -eq 2 ] || usage; keep_symbols "$2" ;;
*) usage ;;
esac
