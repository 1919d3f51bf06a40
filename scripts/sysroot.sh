#!/usr/bin/env bash
# Makes the sysroot of a handheld architecture from Debian 12's packages and
# prints its path:
#   scripts/sysroot.sh armel|armhf|arm64 [pulse]
#   scripts/sysroot.sh armel|amd64 board
# With "pulse", a separate root to run programs in, not to build against:
# only the libraries capture_bench loads and PulseAudio's OSS emulation,
# which bench/pulse_capture.sh --arch preloads. It is kept beside the build
# sysroot (ARCH-pulse), so the one every test run unpacks does not grow.
# With "board", the emulated board's kernel, its modules and busybox, for
# scripts/board.sh (ARCH-board): armel's rpi kernel for the board, amd64's
# for the PC that bench/board_figures.sh --pc sets beside it.
# The packages are unpacked, not installed: nothing of the target goes onto the
# PC. The result is kept in ${RECORDER_SYSROOT_CACHE:-~/.cache/recorder-sysroots}/ARCH
# and made again only when the package list below changes. A handheld with an
# older C++ library needs its vendor's sysroot instead (its C library still
# glibc 2.34 or later, for 64-bit time): give that one to the build
# (RECORDER_SYSROOT=DIR ./test.sh armel, or -DCMAKE_SYSROOT=DIR).
set -euo pipefail

arch=${1:-}
flavour=${2:-}
case "$arch:$flavour" in
armel: | armhf: | arm64: | armel:pulse | armhf:pulse | arm64:pulse | armel:board | amd64:board) ;;
*) echo "usage: $0 armel|armhf|arm64 [pulse], or $0 armel|amd64 board" >&2; exit 2 ;;
esac

suite=bookworm
packages="libc6-dev,libstdc++6,libgcc-s1,libsdl1.2-dev,libsdl-image1.2-dev,libsdl-ttf2.0-dev,\
libinih-dev,libpng-dev,libgtest-dev"
[ "$flavour" = pulse ] && packages="libc6,libstdc++6,libgcc-s1,libatomic1,libpulsedsp"
[ "$flavour" = board ] && packages="linux-image-rpi,busybox-static"
[ "$arch:$flavour" = amd64:board ] && packages="linux-image-amd64,busybox-static"
cache=${RECORDER_SYSROOT_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/recorder-sysroots}
sysroot="$cache/$arch${flavour:+-$flavour}"
stamp="$suite $packages"

if [ -f "$sysroot/.recorder-sysroot" ] && [ "$(cat "$sysroot/.recorder-sysroot")" = "$stamp" ]; then
    echo "$sysroot"
    exit 0
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/.$arch.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Unpacking Debian $suite's $arch packages into $sysroot" >&2
# Without a mirror, Debian's own with its updates and security suites; the
# standard input is closed so that it is never read as a sources list.
mmdebstrap --quiet --variant=extract --architectures="$arch" --include="$packages" \
    "$suite" "$work/root" </dev/null >&2

# Device nodes and the scratch folder are no business of a sysroot; under the
# emulator they would stand in for the PC's own /dev and /tmp.
rm -rf "$work/root/dev" "$work/root/tmp"
# The linker follows the development symbolic links (libz.so -> /lib/...) on
# the PC unless they stay inside the sysroot.
find "$work/root" -type l -lname '/*' | while read -r link; do
    target=$(readlink "$link")
    ln -sfn "$(realpath -m -s --relative-to="$(dirname "$link")" "$work/root$target")" "$link"
done
# The modules' dependencies, which the package's own scripts would work out.
if [ "$flavour" = board ]; then
    for modules in "$work"/root/lib/modules/*; do
        depmod -b "$work/root" "$(basename "$modules")"
    done
fi
echo "$stamp" >"$work/root/.recorder-sysroot"

rm -rf "$sysroot"
mv "$work/root" "$sysroot"
echo "$sysroot"
