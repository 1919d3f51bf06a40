#!/usr/bin/env bash
# Runs the randomised model test for many seeds, in several processes at once
# (each process has a recorder view of its own):
#   scripts/model.sh BUILD_DIR SEQUENCES [PROCESSES] [FIRST_SEED]
# for example: scripts/model.sh build-asan 500 4
# Prints each failing seed with the shortest sequence that still fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build folder}
total=${2:?number of sequences}
processes=${3:-4}
first=${4:-1}
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$top/tests/tsan.supp}
logs=$(mktemp -d)
chunk=$(((total + processes - 1) / processes))
start=$(date +%s)
pids=()
for ((p = 0; p < processes; p++)); do
    seed=$((first + p * chunk))
    count=$((total - p * chunk < chunk ? total - p * chunk : chunk))
    ((count > 0)) || break
    (cd "$top" && MODEL_SEED=$seed MODEL_SEQUENCES=$count \
        "$top/$build/tests/model_tests" >"$logs/$p.log" 2>&1) &
    pids+=($!)
done
failed=0
for p in "${!pids[@]}"; do
    if ! wait "${pids[$p]}"; then
        failed=1
        grep -v '\.cpp_' "$logs/$p.log" | sed -n '/^seed\|Failure\|ERROR\|WARNING/,$p' | head -80
    fi
    grep -h 'sequences from seed' "$logs/$p.log" || true
done
echo "$total sequences in $(($(date +%s) - start)) s with $processes processes ($build)"
rm -rf "$logs"
exit $failed
