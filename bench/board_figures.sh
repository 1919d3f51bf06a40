#!/usr/bin/env bash
# Figures of the handheld's package on the emulated board (scripts/board.sh):
# the time from the program's start to the first press it answers (a record
# press, given once it has read its language), the processor's share of a
# recording second and of an idle second (from the guest's /proc, over two
# seconds each), and the frames the kernel dropped while recording (breaks
# in the recording's counter; its OSS emulation counts none where a program
# could read them).
#   bench/board_figures.sh [--pc] [RUNS]
# Run from the repository's root after ./test.sh board (or scripts/package.sh
# armel and a build of build-armel's boardtool and oss-probe). With --pc, the
# same figures of the PC's handheld build on Debian's PC kernel, emulated
# the same way (scripts/board.sh --pc); it makes its own package and tools.
# The emulated ARM1176 is not the handheld's processor, and the emulator's
# speed depends on the PC's: the figures compare the program with itself,
# commit to commit on one PC, and one kernel with the other, not with the
# handheld.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)
machine=() package=armel tools="$RECORDER_TOP/build-armel/tests"
if [ "${1:-}" = --pc ]; then
    machine=(--pc) package=pc tools="$RECORDER_TOP/build/tests"
    shift
    "$RECORDER_TOP/scripts/package.sh" pc >/dev/null
    cmake --build "$RECORDER_TOP/build" --target boardtool >/dev/null
fi
runs=${1:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$RECORDER_TOP/scripts/board.sh" "${machine[@]}" initramfs \
    "$RECORDER_TOP/dist/recorder-$package.tar.gz" "$tools" "$work/initramfs.cpio.gz"
for run in $(seq "$runs"); do
    "$RECORDER_TOP/scripts/board.sh" "${machine[@]}" run "$work/initramfs.cpio.gz" figures \
        "$work/$run" >/dev/null
    grep '^board: figure: ' "$work/$run/console.log" | sed "s/^board: figure: /run $run: /"
    for wav in "$work/$run"/card/music/rec/*.wav; do
        # Both channels carry the frame number: a step other than 1 is a
        # break, frames the kernel dropped.
        echo "run $run: breaks in the recording's counter: $(od -An -v -t d2 -w4 -j 44 "$wav" |
            awk 'NR > 1 && ($1 - last + 65536) % 65536 != 1 { n++ } { last = $1 } END { print n + 0 }')"
    done
done
