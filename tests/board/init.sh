#!/bin/sh
# The first process of the emulated handheld: lays out what the handheld has,
# runs one case of the board's tests and powers off. Everything it reports
# goes to the serial console, a line each, starting "board: ", and onto the
# card, which the PC reads afterwards. The case and its settings come on the
# kernel's command line: board.case=NAME board.clock=EPOCH board.bound=SECONDS
# board.card=DISK (mmcblk0 on the board, vda on a PC), board.cut=MOMENT,
# board.slow=MS,HEAL.
#
# The program is started as the menu program starts it: from its folder, with
# no argument. SDL is given its dummy video and sound drivers (the board has
# no screen SDL can drive); that is SDL's own environment, not the program's.

export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp

say() { echo "board: $*"; }
uptime_now() { cut -d' ' -f1 /proc/uptime; }
# Power goes off at once; nothing is synced on the way.
power_off() { poweroff -f; sleep 60; }

arg() { tr ' ' '\n' </proc/cmdline | sed -n "s/^board\.$1=//p" | tail -n 1; }
case_name=$(arg case)
bound=$(arg bound)
cut=$(arg cut)
slow=$(arg slow)
disk=/dev/$(arg card)
: "${bound:=120}"

# Those the initramfs carries: the others are built into its kernel, or
# are another machine's.
for module in snd-aloop snd-pcm-oss snd-mixer-oss uinput evdev vfat nls_cp437 nls_ascii \
    dm-mod dm-delay virtio_blk virtio_pci; do
    grep -q "/$module.ko:" "/lib/modules/$(uname -r)/modules.dep" || continue
    modprobe "$module" || say "modprobe $module failed"
done
# The board has no clock of its own.
date -s "@$(arg clock)" >/dev/null

tool=/board/boardtool
# A slow card is the card behind a disk that holds its writes back; the file
# system is mounted on that disk.
card=$disk
if [ -n "$slow" ]; then
    card=$("$tool" delay card "$disk" 0 | sed -n 's/^delay .* on //p')
fi

mkdir -p /mnt/sd /mnt/ubifs/usr/orvo /usr/orvo
if [ -z "$card" ] || ! mount -t vfat -o iocharset=ascii "$card" /mnt/sd; then
    say "the card does not mount"
    power_off
fi
printf '[main]\nlanguage=en_US.utf8\n' >/mnt/ubifs/usr/orvo/common.ini
cp /board/HYUni_ZEM_B.ttf /usr/orvo/
ln -s /board/boardtool /usr/orvo/orvomenu
mkdir -p /usr/apps
tar -xzf /board/recorder.tar.gz -C /usr/apps

log=/tmp/recorder.log
pid=

# Every thread of the program, as the kernel sees it: what a run that does
# not end was waiting for.
threads() {
    for task in /proc/"$1"/task/*; do
        [ -d "$task" ] || continue
        say "thread ${task##*/} $(cut -d' ' -f2-3 "$task/stat") wchan=$(cat "$task/wchan" 2>/dev/null)" \
            "syscall=$(cut -d' ' -f1 "$task/syscall" 2>/dev/null)"
        sed 's/^/board:   /' "$task/stack" 2>/dev/null
    done
}

# Waits for a line of the program's log; a run that does not bring it is
# reported with its threads and ends the case.
await() {
    "$tool" await "$log" "$1" "${2:-$bound}" $pid && return 0
    say "stuck: waited for \"$1\""
    [ -n "$pid" ] && threads "$pid"
    finish 1
}

press() { echo "press $1" >&3; }

start_hands() {
    mkfifo /tmp/pad
    "$tool" pad </tmp/pad >/tmp/pad.log 2>&1 &
    exec 3>/tmp/pad
    "$tool" cable /tmp/speaker.raw >/tmp/cable.log 2>&1 &
    cable=$!
    "$tool" await /tmp/pad.log "pad ready" 30 && "$tool" await /tmp/cable.log "cable ready" 30 ||
        { say "the board's hands did not start"; finish 1; }
}

# The program's lines go to the console as they come, so that they are there
# whatever happens to the card, and to a file the case waits on. It gets none
# of the board's own descriptors.
start_program() {
    mkfifo /tmp/out
    tee "$log" </tmp/out | sed 's/^/board: log: /' &
    say "program started at $(uptime_now)"
    (cd /usr/apps/recorder && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy exec ./recorder) \
        >/tmp/out 2>&1 3>&- &
    pid=$!
}

# The program hands over to the menu program, which reports and ends.
await_end() {
    await "menu: "
    wait "$pid"
    pid=
}

# The results go onto the card for the PC, then the card is let go as a
# handheld's system would at power-off.
finish() {
    status=$1
    [ -n "${cable:-}" ] && kill "$cable" 2>/dev/null && wait "$cable"
    sed 's/^/board: /' /tmp/cable.log 2>/dev/null
    mkdir -p /mnt/sd/board
    cp /tmp/cable.log /mnt/sd/board/ 2>/dev/null
    [ -n "${played:-}" ] && cp /tmp/speaker.raw /mnt/sd/board/
    umount /mnt/sd || say "the card does not unmount"
    say "case $case_name ended with $status"
    power_off
}

# ---- cases ----

# Records about five seconds, stops, plays the recording back and leaves.
case_roundtrip() {
    start_hands
    start_program
    await "Langage = "
    press 2
    await "(Record) RecordStart"
    sleep 5
    press 2
    await "(Record) RecordStop"
    press 0
    await "(Play) PlayStop"
    played=1
    press 1
    await_end
    finish 0
}

# The power goes at a moment of a recording: just after the press, early,
# in the middle, or just after the stop. The PC kills the emulator when it
# reads the line, so nothing after it reaches the card.
case_powercut() {
    start_hands
    start_program
    await "Langage = "
    say "pressed at $(uptime_now)"
    press 2
    await "(Record) RecordStart"
    say "recording at $(uptime_now)"
    case "$cut" in
    press) ;;
    early) sleep 0.6 ;;
    middle) sleep 2.5 ;;
    stop)
        sleep 3
        say "stopped at $(uptime_now)"
        press 2
        await "(Record) RecordStop"
        # From the log itself: the console's copy may lag behind the cut.
        say "$(grep -o 'Write sound data=[0-9]*' "$log")"
        ;;
    *) say "no moment $cut"; finish 2 ;;
    esac
    say "cut at $(uptime_now)"
    say "power cut"
    sleep 3600
}

# A card slower than the recording, from the press on: each of its writes is
# held board.slow's milliseconds. It heals board.heal's seconds into the
# recording, or, with board.heal=failed, once the recording has failed; then
# the recording is stopped (when it still runs) and the program left.
case_slowcard() {
    local ms=${slow%%,*} heal=${slow#*,}
    slow_writes() { "$tool" delay card "$disk" "$1" | sed 's/^/board: /'; }
    start_hands
    start_program
    await "Langage = "
    slow_writes "$ms"
    press 2
    await "(Record) RecordStart"
    say "recording at $(uptime_now)"
    if [ "$heal" = failed ]; then
        await "(Record) Write abort..."
        slow_writes 0
        await "(Record) The card was too slow: "
    else
        sleep "$heal"
        slow_writes 0
        sleep 3
        say "stopped at $(uptime_now)"
        press 2
        await "(Record) RecordStop"
        say "$(grep -o 'Write sound data=[0-9]*' "$log")"
    fi
    press 1
    await_end
    finish 0
}

# The processor's time a process has used, in seconds (its own and its
# threads', user and system).
cpu_seconds() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"; }

# Figures for bench/board_figures.sh: the time from the start to the first
# press answered, and the processor's share of an idle second and of a
# recording second, each over two seconds.
case_figures() {
    start_hands
    start_program
    started=$(uptime_now)
    await "Langage = "
    press 2
    await "(Record) RecordStart"
    say "figure: start to the first press answered: $(echo "$(uptime_now) $started" |
        awk '{ printf "%.2f", $1 - $2 }') s"
    share() {
        local cpu0 at0 cpu1 at1
        cpu0=$(cpu_seconds "$pid") at0=$(uptime_now)
        sleep 2
        cpu1=$(cpu_seconds "$pid") at1=$(uptime_now)
        say "figure: processor share $1: $(echo "$cpu1 $cpu0 $at1 $at0" |
            awk '{ printf "%.1f", 100 * ($1 - $2) / ($3 - $4) }') %"
    }
    share "recording"
    press 2
    await "(Record) RecordStop"
    sleep 1
    share "idle"
    press 1
    await_end
    finish 0
}

# The kernel's symbols, for naming where a frozen board's processor is.
case_symbols() {
    mkdir -p /mnt/sd/board
    grep ' [tT] ' /proc/kallsyms >/mnt/sd/board/kallsyms
    finish 0
}

# What the kernel's OSS emulation answers to the recorder's requests.
case_probe() {
    /board/oss-probe | sed 's/^/board: /'
    finish 0
}

say "up at $(uptime_now), case $case_name"
if ! command -v "case_$case_name" >/dev/null; then
    say "no case $case_name"
    finish 2
fi
"case_$case_name"
