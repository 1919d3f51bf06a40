#!/usr/bin/env bash
# Builds the recorder three ways (plain, with AddressSanitizer and UBSan, with
# ThreadSanitizer) and runs the whole test suite on each.
#   ./test.sh           all three
#   ./test.sh plain     one of them: plain, asan or tsan
set -euo pipefail
RECORDER_TOP=$(cd "$(dirname "$0")" && pwd)
. "$RECORDER_TOP/scripts/dependencies.sh"
recorder_install_missing

variants=("${@:-plain asan tsan}")
read -r -a variants <<<"${variants[*]}"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
# A sanitizer's report fails the test that caused it.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$RECORDER_TOP/tests/tsan.supp"

for variant in "${variants[@]}"; do
    case "$variant" in
    plain) dir=build sanitize="" ;;
    asan) dir=build-asan sanitize=address ;;
    tsan) dir=build-tsan sanitize=thread ;;
    *) echo "unknown variant $variant (plain, asan, tsan)" >&2; exit 2 ;;
    esac
    echo "=== $variant"
    recorder_build "$RECORDER_TOP/$dir" "-DRECORDER_SANITIZE=$sanitize"
    (cd "$RECORDER_TOP/$dir" && ctest --output-on-failure -j 2 --timeout 300)
done
echo "All tests passed: ${variants[*]}"
