#!/usr/bin/env bash
# Installs what building and running dsphost needs (scripts/setup.sh run), builds it with the
# release preset and runs it in this terminal. ESC quits.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
cmake --preset release >/dev/null
cmake --build --preset release
exec ./build-release/dsphost
