#!/usr/bin/env bash
# Runs the handheld program (recorder-handheld: the recorder on the handheld
# backend, plain POSIX and SDL on the real paths) on this PC against parts
# that are not ours:
# - /dev/dsp and /dev/mixer: PulseAudio's OSS emulation (libpulsedsp.so,
#   preloaded by its full path) on a private PulseAudio daemon, whose null
#   sink is the speaker and whose sine source (440 Hz at 22050 Hz) is the
#   microphone;
# - /mnt/sd, /mnt/ubifs and /usr/orvo: the folders of a root laid out by
#   handheld-root, bound over those paths in a private mount namespace (as
#   root, or in a user namespace of one's own); the PC's own paths are not
#   touched;
# - the screen: a window on $DISPLAY, or in Xvfb when driven.
#
#   scripts/handheld-on-pc.sh BUILD OUT                  a window to try by hand
#   scripts/handheld-on-pc.sh --drive SECONDS BUILD OUT  in Xvfb, by xdotool: record
#        SECONDS by touch, stop with Tab, play back with Backspace, leave by
#        touching the list button
#
# BUILD holds recorder-handheld and handheld-root; the program runs from the
# repository's root, which holds res/. OUT receives what a check needs:
#   recorder.log, recorder.err   the program's standard output and error
#   root/                        the handheld's root: the recording, sim/menu.log
#   speaker.wav                  what the speaker played (the sink's monitor), silence
#                                between sounds
#   microphone.wav               the microphone, as a plain reader hears it after the run
#   run.txt                      facts of the run, one "name=value" a line
# Ends with status 77 where this machine cannot make a private mount
# namespace, 1 when a step does not happen in time.
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")/.." && pwd)

readonly TONE_HZ=440 RATE=22050
# Where the recorder's touch buttons are.
readonly RECORD_BUTTON="218 218" LIST_BUTTON="298 218"

fail() {
    echo "handheld-on-pc: $*" >&2
    exit 1
}

# ---- Inside the mount namespace: the handheld's paths, then the program.
if [ "${1:-}" = "--inside" ]; then
    shift
    root=$1 layers=$2 preload=$3 program=$4
    # A path that does not exist on this PC gets its folder from a layer laid
    # over its parent, in this namespace only.
    parents=()
    for point in /mnt/sd /mnt/ubifs /usr/orvo; do
        if [ ! -d "$point" ]; then
            mkdir -p "$layers$point"
            parent=$(dirname "$point")
            [[ " ${parents[*]} " == *" $parent "* ]] || parents+=("$parent")
        fi
    done
    for parent in "${parents[@]}"; do
        mount -t overlay overlay -o "lowerdir=$layers$parent:$parent" "$parent" ||
            fail "cannot lay the handheld's folders over $parent"
    done
    for point in /mnt/sd /mnt/ubifs /usr/orvo; do
        mount --bind "$root$point" "$point" || fail "cannot bind $root$point over $point"
    done
    cd "$RECORDER_TOP"
    # Nothing of this script's but 0, 1 and 2, as the menu program starts it:
    # what the program hands on to the menu program is then its own.
    script=$(readlink -f "$0")
    for fd in /proc/$$/fd/*; do
        fd=${fd##*/}
        if [ "$fd" -gt 2 ] && [ "$(readlink "/proc/$$/fd/$fd")" != "$script" ]; then
            eval "exec $fd>&-"
        fi
    done
    # Line by line, so that the driver sees each line as it is written
    # (stdbuf adds its own library to the preloaded ones).
    exec env LD_PRELOAD="$preload" stdbuf -oL "$program"
fi

seconds=""
if [ "${1:-}" = "--drive" ]; then
    seconds=${2:?--drive takes the seconds to record}
    shift 2
fi
build=$(cd "${1:?usage: handheld-on-pc.sh [--drive SECONDS] BUILD OUT}" && pwd)
out=${2:?usage: handheld-on-pc.sh [--drive SECONDS] BUILD OUT}
mkdir -p "$out"
out=$(cd "$out" && pwd)
program=$build/recorder-handheld
[ -x "$program" ] || fail "no $program: build it first"

# A private mount namespace: as root, or as root of a user namespace.
namespace=(unshare -m)
[ "$(id -u)" -eq 0 ] || namespace=(unshare -r -m)
if ! "${namespace[@]}" true 2>/dev/null; then
    echo "handheld-on-pc: SKIPPED: this machine cannot make a private mount namespace" \
        "(${namespace[*]} fails), so the handheld's paths cannot be bound" >&2
    exit 77
fi
preload=$(dpkg -L libpulsedsp 2>/dev/null | grep '/libpulsedsp\.so$' | head -1 || true)
[ -n "$preload" ] || fail "no libpulsedsp.so: install pulseaudio-utils"
for tool in pulseaudio pactl parec stdbuf; do
    command -v "$tool" >/dev/null || fail "no $tool"
done
if [ -n "$seconds" ]; then
    for tool in Xvfb xdotool; do
        command -v "$tool" >/dev/null || fail "no $tool"
    done
elif [ -z "${DISPLAY:-}" ]; then
    fail "no display to show the window on; use --drive SECONDS to run in Xvfb"
fi

work=$(mktemp -d /tmp/handheld-on-pc-XXXXXX)
# The processes this script started and has not yet waited for.
children=()
forget_child() {
    local keep=() child
    for child in "${children[@]}"; do
        [ "$child" = "$1" ] || keep+=("$child")
    done
    children=("${keep[@]}")
}
stop_child() {
    kill -"${2:-TERM}" "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
    forget_child "$1"
}
finish() {
    local child
    # The program first (it cannot be asked to end), then what it used.
    [[ " ${children[*]} " == *" ${recorder_pid:-none} "* ]] && stop_child "$recorder_pid" KILL
    for child in "${children[@]}"; do
        stop_child "$child"
    done
    [ -f "$work/pulse/pid" ] && kill "$(cat "$work/pulse/pid")" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

rm -rf "$out/root" "$out/speaker.wav" "$out/microphone.wav"
"$build/handheld-root" "$out/root" >/dev/null

# The sound server, private to this run: its own folders and socket, and
# its clients do not read the PC's settings.
export XDG_RUNTIME_DIR=$work/pulse PULSE_RUNTIME_PATH=$work/pulse PULSE_STATE_PATH=$work/pulse
export PULSE_SERVER=unix:$work/pulse/native PULSE_COOKIE=$work/pulse/cookie
export PULSE_CLIENTCONFIG=$work/pulse/client.conf
mkdir -p "$work/pulse"
# Daemonised, it returns once it serves (or has failed).
HOME=$work/pulse pulseaudio -n --daemonize=yes --use-pid-file=yes --exit-idle-time=-1 \
    --log-target="file:$out/pulseaudio.log" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$work/pulse/native" \
    --load="module-null-sink sink_name=speaker rate=$RATE channels=2 format=s16le" \
    --load="module-sine-source source_name=microphone rate=$RATE frequency=$TONE_HZ" ||
    fail "the sound server did not start (see $out/pulseaudio.log)"
pactl set-default-sink speaker
pactl set-default-source microphone
# The speaker runs all the time, as a device's output does: an idle null sink
# renders far ahead, and its monitor would miss the first tenth of a second of
# every stream.
exec {keep_running}< <(exec pacat -p --raw --format=s16le --rate=$RATE --channels=2 \
    --latency-msec=10 </dev/zero 2>"$out/pacat.log")
children+=($!)
# What the speaker plays, from before the program starts to its end.
exec {monitor}< <(exec parec -d speaker.monitor --rate=$RATE --channels=2 --format=s16le \
    --file-format=wav --latency-msec=20 "$out/speaker.wav" 2>"$out/parec.log")
monitor_pid=$!
children+=("$monitor_pid")

if [ -n "$seconds" ]; then
    # Xvfb names its display once it takes connections. Without -noreset it
    # would start afresh whenever its last client leaves, and SDL, which
    # looks at the display once before it opens it for good, would find none.
    exec {xvfb}< <(exec Xvfb -displayfd 1 -noreset -screen 0 640x480x24 -nolisten tcp \
        2>"$out/xvfb.log")
    children+=($!)
    read -r -t 20 display <&"$xvfb" || fail "Xvfb did not start (see $out/xvfb.log)"
    export DISPLAY=:$display
fi

# The program; HANDHELD_ROOT is for our menu program, which notes its start
# there (the recorder reads no environment). SDL is left to itself, as on a
# PC (the tests' dummy drivers would give no window).
export HANDHELD_ROOT=$out/root SDL_VIDEODRIVER=x11
unset SDL_AUDIODRIVER
# AddressSanitizer wants its library first, and the emulation's comes first.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
exec {recorder}< <(exec "${namespace[@]}" "$0" --inside "$out/root" "$work/layers" "$preload" \
    "$program" 2>"$out/recorder.err")
recorder_pid=$!
children+=("$recorder_pid")
: >"$out/recorder.log"

# Reads the program's lines into recorder.log until one holds TEXT;
# false when none does within SECONDS.
expect() {
    local text=$1 deadline=$((SECONDS + $2)) line
    while [ "$SECONDS" -lt "$deadline" ]; do
        IFS= read -r -t "$((deadline - SECONDS))" line <&"$recorder" || return 1
        printf '%s\n' "$line" >>"$out/recorder.log"
        [[ "$line" == *"$text"* ]] && return 0
    done
    return 1
}

if [ -z "$seconds" ]; then
    echo "The handheld program runs in a window on $DISPLAY; the handheld's root is $out/root."
    while IFS= read -r line <&"$recorder"; do
        printf '%s\n' "$line" | tee -a "$out/recorder.log"
    done
    wait "$recorder_pid" || true
    forget_child "$recorder_pid"
    stop_child "$monitor_pid" INT
    exit 0
fi

touch_at() { # "X Y"
    # shellcheck disable=SC2086
    xdotool mousemove --window "$window" --sync $1 click 1
}
expect "Langage = " 20 || fail "the recorder did not come up"
window=$(timeout 20 xdotool search --sync --onlyvisible --class recorder | head -1)
[ -n "$window" ] || fail "no window of the recorder"
xdotool windowfocus --sync "$window"

touch_at "$RECORD_BUTTON"
expect "(Record) RecordStart(" 10 || fail "the recording did not start"
record_start=$EPOCHREALTIME
sleep "$seconds"
record_stop=$EPOCHREALTIME
xdotool key Tab
expect "(Record) RecordStop" 10 || fail "the recording did not stop"

xdotool key BackSpace
# A playback takes longer than the recording on some sound cards.
expect "(Play) PlayStop" $((3 * seconds + 20)) || fail "the playback did not end"

touch_at "$LIST_BUTTON"
# The program hands over to the menu program, which ends: its output closes.
while :; do
    status=0
    IFS= read -r -t 20 line <&"$recorder" || status=$?
    [ "$status" -eq 0 ] || break
    printf '%s\n' "$line" >>"$out/recorder.log"
done
[ "$status" -le 128 ] || fail "the recorder did not end"
recorder_status=0
wait "$recorder_pid" || recorder_status=$?
forget_child "$recorder_pid"

stop_child "$monitor_pid" INT
# The microphone as a plain blocking reader hears it, at the level the
# recorder's mixer settings left: the measure of what the recording should be.
timeout -s INT 2 parec -d microphone --rate=$RATE --channels=2 --format=s16le \
    --file-format=wav "$out/microphone.wav" 2>>"$out/parec.log" || true
volume=$(pactl get-source-volume microphone | grep -o -- '-\?[0-9.]* dB' | head -1 | cut -d' ' -f1)

cat >"$out/run.txt" <<EOF
tone_hz=$TONE_HZ
rate=$RATE
record_seconds=$(awk "BEGIN { print $record_stop - $record_start }")
microphone_volume_db=$volume
recorder_status=$recorder_status
EOF
