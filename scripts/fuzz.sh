#!/usr/bin/env bash
# Builds the libFuzzer target and runs it for the given number of seconds (default 30)
# over its checked-in seed corpus. A crash input fails the run and is kept in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
for target in key_decoder_fuzz; do
    corpus=tests/fuzz/corpus/${target%_fuzz}
    work=build-fuzz/corpus-${target%_fuzz}
    mkdir -p "$work"
    echo "--- ${target}: ${seconds} s"
    (cd build-fuzz && "./${target}" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="./${target}-" "../${work}" "../${corpus}")
done
