#!/usr/bin/env bash
# Remakes the README's screenshots with the simulator's scenario player:
#   scripts/readme-screens.sh     (after a build in build/)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
"$top/build/handheld-root" "$root"
cd "$top"
HANDHELD_ROOT="$root" HANDHELD_SCRIPT="$top/tests/scenarios/readme-screens.txt" \
    SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC "$top/build/recorder" >/dev/null
mkdir -p "$top/docs"
cp "$root/sim/readme-idle.png" "$root/sim/readme-message.png" "$top/docs/"
echo "docs/readme-idle.png and docs/readme-message.png remade"
