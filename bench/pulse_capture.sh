#!/usr/bin/env bash
# How much of a recording the audio stream keeps on a sound server's OSS
# emulation: a private PulseAudio daemon with a null sink and a 440 Hz sine
# source at 22050 Hz as the microphone, its OSS emulation preloaded into
# capture_bench, which records through the audio stream as the worker does.
#   bench/pulse_capture.sh [SECONDS] [BUILD DIR]
# Run from the repository's root after a build.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)
. "$RECORDER_TOP/scripts/dependencies.sh"
recorder_install_missing pulseaudio pulseaudio-utils libpulsedsp

seconds=${1:-10}
build=${2:-$RECORDER_TOP/build}
preload=$(dpkg -L libpulsedsp | grep -m 1 '/libpulsedsp.so$' || true)
[ -n "$preload" ] || { echo "libpulsedsp.so not found" >&2; exit 1; }

work=$(mktemp -d /tmp/pulse-capture-XXXXXX)
export XDG_RUNTIME_DIR=$work/run HOME=$work PULSE_SERVER=unix:$work/run/native
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
stop() {
    pulseaudio --kill 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
# -n: no configuration of the machine's own; only what is named here.
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=file:"$work/pulseaudio.log" \
    -L "module-native-protocol-unix socket=$work/run/native" \
    -L "module-null-sink sink_name=speaker" \
    -L "module-sine-source source_name=mic rate=22050 frequency=440"
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-source mic
pactl set-default-sink speaker

LD_PRELOAD=$preload "$build/bench/capture_bench" "$seconds" "$work/capture.wav"

# The sine's phase, block by block, runs on without a jump when no frame was
# lost or repeated between the first sample and the last.
python3 - "$work/capture.wav" <<'CHECK'
import math, struct, sys, wave
with wave.open(sys.argv[1]) as w:
    data = w.readframes(w.getnframes())
left = struct.unpack(f"<{len(data) // 2}h", data)[0::2]
step = 2 * math.pi * 440 / 22050
block = 1024
phases = []
for start in range(0, len(left) - block, block):
    i = sum(left[start + n] * math.cos(step * (start + n)) for n in range(block))
    q = sum(left[start + n] * math.sin(step * (start + n)) for n in range(block))
    phases.append(math.atan2(q, i))
jumps = sum(1 for a, b in zip(phases, phases[1:])
            if abs(math.remainder(b - a, 2 * math.pi)) > 0.2)
print(f"sine phase: {len(phases)} blocks of {block} frames, {jumps} jump(s)")
CHECK
