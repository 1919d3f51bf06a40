#!/bin/sh
# Fuzzes the WAV reader of the audio stream for a bounded time.
#
#   fuzz/run_wav_parse_fuzz.sh SECONDS
#
# Builds the fuzz target with clang (-fsanitize=fuzzer,address,undefined) in
# its own build folder (FUZZ_BUILD_DIR, by default recorder-build-fuzz in the
# temporary folder), then runs it for SECONDS on one core, starting from the
# seeds in fuzz/corpus/wav_parse. New inputs it finds go to the build folder,
# not into the repository; a crash leaves its input there as crash-*.
set -eu

seconds=${1:?usage: run_wav_parse_fuzz.sh SECONDS}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-${TMPDIR:-/tmp}/recorder-build-fuzz}

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRECORDER_FUZZ=ON -DBUILD_TESTING=OFF \
    -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j2 --target wav_parse_fuzz make-wav-parse-corpus
"$build/make-wav-parse-corpus" "$repo/fuzz/corpus/wav_parse"

mkdir -p "$build/wav_parse_corpus"
cd "$build"
exec ./wav_parse_fuzz -max_total_time="$seconds" -max_len=2048 -print_final_stats=1 \
    -dict="$repo/fuzz/wav_parse.dict" \
    -artifact_prefix="$build/" wav_parse_corpus "$repo/fuzz/corpus/wav_parse"
