#!/usr/bin/env bash
# Makes the handheld's package for an ARM architecture: a tarball of one
# folder, recorder/, holding the program and the images it loads from ./res.
#   scripts/package.sh armel|armhf|arm64|pc   -> dist/recorder-ARCH.tar.gz
# It builds in build-ARCH, as ./test.sh ARCH does, against the sysroot that
# scripts/sysroot.sh makes, or the one in RECORDER_SYSROOT. With pc, the same
# package of the PC's handheld build (build/, as ./test.sh plain builds it),
# for scripts/board.sh --pc.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)
. "$RECORDER_TOP/scripts/dependencies.sh"

arch=${1:-}
case "$arch" in
armel | armhf | arm64) ;;
pc) ;;
*) echo "usage: $0 armel|armhf|arm64|pc" >&2; exit 2 ;;
esac
if [ "$arch" = pc ]; then
    recorder_build_variant plain recorder-handheld
else
    read -r -a cross_packages <<<"$(recorder_cross_packages "$arch")"
    recorder_install_missing "${cross_packages[@]}"
    recorder_build_variant "$arch" recorder-handheld
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$RECORDER_BUILD_DIR" --strip --prefix "$stage/recorder" >/dev/null
mkdir -p "$RECORDER_TOP/dist"
package="$RECORDER_TOP/dist/recorder-$arch.tar.gz"
tar --owner=0 --group=0 --sort=name -C "$stage" -czf "$package" recorder
echo "$package: $(du -k "$package" | cut -f1) KiB; the program $(stat -c %s "$stage/recorder/recorder") bytes"
