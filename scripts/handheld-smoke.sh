#!/usr/bin/env bash
# Starts the handheld's program as installed, under the emulator, in a
# throwaway root that stands for the handheld's file system: the installed
# folder, the handheld's paths as handheld-root lays them out, and the
# target's libraries from the sysroot. The program must load its images, its
# settings and its font, and leave with its exit line on SIGINT.
#   scripts/handheld-smoke.sh BUILD SYSROOT HANDHELD_ROOT_PROGRAM EMULATOR [OPTION...]
# The root is entered in a user and mount namespace of its own; on a machine
# that allows none the run is skipped with status 77. KEEP_HANDHELD_ROOT=1
# keeps the root for a look afterwards.
set -euo pipefail

if [ $# -lt 4 ]; then
    echo "usage: $0 BUILD SYSROOT HANDHELD_ROOT_PROGRAM EMULATOR [OPTION...]" >&2
    exit 2
fi
build=$1 sysroot=$2 handheld_root=$3
shift 3
emulator=$(type -P "$1")
shift
if ! command -v inotifywait >/dev/null; then
    echo "inotifywait (Debian's inotify-tools) is missing" >&2
    exit 1
fi
if ! unshare --user --map-root-user --mount true 2>/dev/null; then
    echo "skipped: this machine gives no user and mount namespace for a throwaway root"
    exit 77
fi

work=$(mktemp -d)
trap '[ -n "${KEEP_HANDHELD_ROOT:-}" ] || rm -rf "$work"' EXIT
root="$work/root"
language=ko_KR.utf8
"$handheld_root" "$root" "$language" >/dev/null
# Anywhere will do: the program only needs res/ in its working directory.
cmake --install "$build" --strip --prefix "$root/app" >/dev/null

# The program opens its font last of all it loads at the start: that open is
# the sign that it is up.
font="$root/usr/orvo/HYUni_ZEM_B.ttf"
if [ ! -f "$font" ]; then
    echo "the root holds no font at /usr/orvo/HYUni_ZEM_B.ttf" >&2
    exit 1
fi
mkfifo "$work/watch"
inotifywait --timeout 60 --event open "$font" >"$work/watch" 2>&1 &
watcher=$!
exec {watch}<"$work/watch"
while IFS= read -r -t 60 line <&"$watch" && [ "$line" != "Watches established." ]; do :; done

# Inside the root: the target's libraries where its dynamic loader looks, and
# the emulator, a program of the PC, with the PC's libraries beside it.
enter="$work/enter.sh"
{
    echo "set -e"
    for folder in lib usr/lib; do
        [ -d "$sysroot/$folder" ] || continue
        mkdir -p "$root/$folder"
        printf 'mount --rbind %q %q\n' "$sysroot/$folder" "$root/$folder"
    done
    mkdir -p "$root/host"
    while read -r library; do
        touch "$root/host/$(basename "$library")"
        printf 'mount --bind %q %q\n' "$library" "$root/host/$(basename "$library")"
    done < <(ldd "$emulator" | grep -o '/[^ ]*')
    touch "$root/host/emulator"
    printf 'mount --bind %q %q\n' "$emulator" "$root/host/emulator"
    loader=$(ldd "$emulator" | grep -o '/[^ ]*ld-linux[^ ]*')
    printf 'exec unshare --root=%q --wd=/app /host/%q --library-path /host /host/emulator' \
        "$root" "$(basename "$loader")"
    for option in "$@"; do printf ' %q' "$option"; done
    echo " ./recorder"
} >"$enter"

# A shell starts a program in the background with SIGINT ignored, and SDL
# leaves an ignored SIGINT alone: the program gets it back. timeout bounds
# the run and hands it the SIGINT sent here.
env -i --default-signal=INT PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
    timeout --signal=KILL 60 unshare --user --map-root-user --mount bash "$enter" >"$work/log" 2>&1 &
pid=$!
# Whichever comes first: the program opens its font, or it ends.
opened=0
wait -n -p first "$watcher" "$pid" && opened=1
if [ "$first" = "$watcher" ] && [ "$opened" = 1 ]; then
    kill -INT "$pid"
else
    kill "$watcher" 2>/dev/null || true
fi
status=0
wait "$pid" || status=$?
cat "$work/log"

failed=""
check() {
    if grep -qF -- "$2" "$work/log"; then
        [ "$1" = present ] || failed="$failed\n  the line \"$2\""
    else
        [ "$1" = absent ] || failed="$failed\n  no line \"$2\""
    fi
}
check present "Langage = $language"
check present "exit code(--view-apps) !!"
for failure in "Not found image" "Error =" "Unable to load font" "Unable to init SDL" "Couldn't"; do
    check absent "$failure"
done
[ "$status" -eq 0 ] || failed="$failed\n  exit status $status"
if [ -n "$failed" ]; then
    echo -e "the handheld's program did not start and stop as it should:$failed" >&2
    exit 1
fi
echo "the handheld's program started in a throwaway root and left on SIGINT"
