#!/usr/bin/env bash
# Figures of the handheld's package on the emulated board (scripts/board.sh):
# the time from the program's start to the first press it answers (a record
# press, given once it has read its language), the processor's share of a
# recording second and of an idle second (from the guest's /proc, over two
# seconds each), and the frames the kernel dropped while recording (breaks
# in the recording's counter; its OSS emulation counts none where a program
# could read them).
#   bench/board_figures.sh [RUNS]
# Run from the repository's root after ./test.sh board (or scripts/package.sh
# armel and a build of build-armel's boardtool and oss-probe). The emulated
# ARM1176 is not the handheld's processor, and the emulator's speed depends
# on the PC's: the figures compare the program with itself, commit to commit
# on one PC, not with the handheld.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$RECORDER_TOP/scripts/board.sh" initramfs "$RECORDER_TOP/dist/recorder-armel.tar.gz" \
    "$RECORDER_TOP/build-armel/tests" "$work/initramfs.cpio.gz"
for run in $(seq "$runs"); do
    "$RECORDER_TOP/scripts/board.sh" run "$work/initramfs.cpio.gz" figures "$work/$run" >/dev/null
    grep '^board: figure: ' "$work/$run/console.log" | sed "s/^board: figure: /run $run: /"
    for wav in "$work/$run"/card/music/rec/*.wav; do
        # Both channels carry the frame number: a step other than 1 is a
        # break, frames the kernel dropped.
        echo "run $run: breaks in the recording's counter: $(od -An -v -t d2 -w4 -j 44 "$wav" |
            awk 'NR > 1 && ($1 - last + 65536) % 65536 != 1 { n++ } { last = $1 } END { print n + 0 }')"
    done
done
