#!/usr/bin/env bash
# Builds the libFuzzer target and runs it for the given number of seconds (default 30) over
# its checked-in seed corpus. A crash input fails the run and is kept in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
mkdir -p build-fuzz/corpus-key_decoder
echo "--- key_decoder_fuzz: ${seconds} s"
(cd build-fuzz && ./key_decoder_fuzz -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=./key_decoder_fuzz- ../build-fuzz/corpus-key_decoder \
    ../tests/fuzz/corpus/key_decoder)
