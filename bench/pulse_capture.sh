#!/usr/bin/env bash
# How much of a recording the audio stream keeps on a sound server's OSS
# emulation: a private PulseAudio daemon with a null sink and a 440 Hz sine
# source at 22050 Hz as the microphone, its OSS emulation preloaded into
# capture_bench, which records through the audio stream as the worker does.
#   bench/pulse_capture.sh [--arch armel|armhf|arm64] [SECONDS] [BUILD DIR]
# Run from the repository's root after a build (build/, or build-ARCH/ with
# --arch). With --arch, the ARM build's capture_bench runs under the emulator
# as a client of the same daemon: in a root of the target's libraries with
# the target's libpulsedsp.so (scripts/sysroot.sh ARCH pulse), preloaded into
# the emulated program only, never into the emulator itself.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)
. "$RECORDER_TOP/scripts/dependencies.sh"

arch=""
if [ "${1:-}" = "--arch" ]; then
    arch=${2:?--arch takes armel, armhf or arm64}
    shift 2
fi
seconds=${1:-10}
build=${2:-$RECORDER_TOP/build${arch:+-$arch}}
if [ -z "$arch" ]; then
    recorder_install_missing pulseaudio pulseaudio-utils libpulsedsp
    preload=$(dpkg -L libpulsedsp | grep -m 1 '/libpulsedsp.so$' || true)
    [ -n "$preload" ] || { echo "libpulsedsp.so not found" >&2; exit 1; }
    run=(env LD_PRELOAD="$preload")
else
    read -r -a cross_packages <<<"$(recorder_cross_packages "$arch")"
    [ "${#cross_packages[@]}" -gt 0 ] || { echo "--arch takes armel, armhf or arm64" >&2; exit 2; }
    recorder_install_missing pulseaudio pulseaudio-utils "${cross_packages[@]}"
    # The emulator and its processor, as the build's own tests run them.
    [ -f "$build/bench/emulator" ] || { echo "no $build/bench/emulator: build $build first" >&2; exit 1; }
    read -r -a emulator <"$build/bench/emulator"
    root=$("$RECORDER_TOP/scripts/sysroot.sh" "$arch" pulse)
    preload=$(cd "$root" && find usr/lib -path '*/pulseaudio/libpulsedsp.so' | head -n 1)
    [ -n "$preload" ] || { echo "libpulsedsp.so not found in $root" >&2; exit 1; }
    # The preload's path is the target's: the emulator finds it under -L.
    preload=/$preload
    # A 32-bit build's OSS requests would pass the emulation by (see
    # bench/oss_time64.cpp): the shim goes first, so that the emulation's
    # ioctl is the one it finds next.
    shim=$build/bench/liboss_time64.so
    case "$arch" in
    armel | armhf)
        [ -f "$shim" ] || { echo "no $shim: build $build first" >&2; exit 1; }
        preload=$shim:$preload
        ;;
    esac
    run=("${emulator[@]}" -L "$root" -E LD_PRELOAD="$preload")
fi
[ -x "$build/bench/capture_bench" ] || { echo "no $build/bench/capture_bench: build it first" >&2; exit 1; }

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

# Its processor time tells whether an emulated program keeps up at all.
TIMEFORMAT="capture_bench: %U s user, %S s system, %P %% of one core"
time "${run[@]}" "$build/bench/capture_bench" "$seconds" "$work/capture.wav"

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
