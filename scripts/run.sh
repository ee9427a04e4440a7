#!/usr/bin/env bash
# Sets everything up, builds dsphost and runs it. ESC quits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target dsphost mix_c
exec ./build/dsphost
