#!/usr/bin/env bash
# The Windows console build: cross-compiles dsphost.exe, mix_c.dll and the Windows tests with
# mingw-w64 (PortAudio from source on the first build) and runs the tests under wine, in a
# private wine prefix under build-windows/. Run scripts/setup.sh windows first
# (scripts/test.sh windows does).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
nice -n 5 cmake --build --preset windows -j "$(nproc)"
ctest --preset windows
