#!/usr/bin/env bash
# Builds the recorder several ways and runs the whole test suite on each: on
# the PC plain, with AddressSanitizer and UBSan, with ThreadSanitizer, and
# cross-built for the handheld's ARM processor, run under qemu-user, and the
# handheld's package on a real Linux kernel, on an emulated ARM board.
#   ./test.sh                    plain, asan, tsan, armel and board
#   ./test.sh plain|asan|tsan    one PC build
#   ./test.sh armel|armhf|arm64  one ARM build (armel: ARMv5TE, the handheld's class)
#   ./test.sh board              the armel package booted on the emulated board
# An ARM build uses the sysroot scripts/sysroot.sh makes from Debian's
# packages, or the one in RECORDER_SYSROOT (a vendor's, for one ARM variant).
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")" && pwd)
. "$RECORDER_TOP/scripts/dependencies.sh"

variants=("${@:-plain asan tsan armel board}")
read -r -a variants <<<"${variants[*]}"
arm_variants=0
for variant in "${variants[@]}"; do
    case "$variant" in
    plain | asan | tsan) ;;
    armel | armhf | arm64) arm_variants=$((arm_variants + 1)) ;;
    board) ;;
    *) echo "unknown variant $variant (plain, asan, tsan, armel, armhf, arm64, board)" >&2; exit 2 ;;
    esac
done
if [ -n "${RECORDER_SYSROOT:-}" ] && [ "$arm_variants" -gt 1 ]; then
    echo "RECORDER_SYSROOT is one architecture's sysroot: give one ARM variant with it" >&2
    exit 2
fi
read -r -a cross_packages <<<"$(recorder_cross_packages "${variants[@]}")"
recorder_install_missing "${cross_packages[@]}"

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
# A sanitizer's report fails the test that caused it.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$RECORDER_TOP/tests/tsan.supp"

for variant in "${variants[@]}"; do
    echo "=== $variant"
    recorder_build_variant "$variant"
    if [ "$variant" = board ]; then
        # One board at a time: each is an emulated processor of its own.
        (cd "$RECORDER_BUILD_DIR" && ctest --output-on-failure -L board --timeout 900)
    elif [ "$variant" = plain ] || [ "$variant" = asan ] || [ "$variant" = tsan ]; then
        (cd "$RECORDER_BUILD_DIR" && ctest --output-on-failure -j 2 --timeout 300)
    else
        # The sweep of a fault over every call is about the threads, which
        # the PC builds and their sanitizers see; under qemu-user its runs
        # would cost several times as much.
        (cd "$RECORDER_BUILD_DIR" && ctest --output-on-failure -j 2 --timeout 300 -LE sweep)
    fi
done
echo "All tests passed: ${variants[*]}"
