#!/usr/bin/env bash
# Runs the recorder on the simulated handheld: in a window when there is a
# display, otherwise headless through the demo scenario.
#   ./run.sh            window or demo, whichever fits this machine
#   ./run.sh --demo     the demo, headless, even where there is a display
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")" && pwd)
. "$RECORDER_TOP/scripts/dependencies.sh"
recorder_install_missing
recorder_build "$RECORDER_TOP/build" "" recorder handheld-root

root="$RECORDER_TOP/demo-root"
rm -rf "$root"
"$RECORDER_TOP/build/handheld-root" "$root"
export HANDHELD_ROOT="$root"
cd "$RECORDER_TOP"

if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--demo" ]; then
    # Without a sound card SDL's sound drivers fill the terminal with the
    # errors of ALSA's probe; the speaker is still in sim/speaker.wav.
    [ -e /dev/snd ] || export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
    echo "The recorder runs in a window; F1 pulls or inserts the SD card, F2 write-protects it,"
    echo "F3 flips HOLD, F4 steps the battery level. The handheld's root is $root."
    exec ./build/recorder
fi

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
export HANDHELD_SCRIPT="$RECORDER_TOP/tests/scenarios/demo.txt"
echo "No display (or --demo): playing $HANDHELD_SCRIPT headless."
echo "--- the recorder's log"
./build/recorder
echo "--- what the handheld was left with ($root)"
echo "menu program started as: $(cat "$root/sim/menu.log")"
find "$root/mnt/sd" "$root/sim" -type f -newer "$root/usr/orvo/orvomenu" | sort
