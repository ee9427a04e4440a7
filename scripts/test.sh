#!/usr/bin/env bash
# Installs the test kit, then builds and runs the whole test suite three times: optimised with
# warnings as errors (the Debian package built in it), under AddressSanitizer +
# UndefinedBehaviorSanitizer, and under ThreadSanitizer; then the Debian package installed and
# its own test run (autopkgtest), the Windows build under wine, each fuzz target for a bounded
# time, and clang-tidy.
#   scripts/test.sh              everything
#   scripts/test.sh default      only the named steps (default, asan, tsan, deb, windows, fuzz,
#                                tidy; deb takes the package that default built)
# The Windows cross-build kit is installed only when the windows step runs.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
if ((${#steps[@]} == 0)); then steps=(default asan tsan deb windows fuzz tidy); fi
kit="" windows_kit=""
for step in "${steps[@]}"; do
    if [ "$step" = windows ]; then windows_kit=windows; else kit="test"; fi
done
# shellcheck disable=SC2086 # one word each, or none
scripts/setup.sh $kit $windows_kit

jobs=$(nproc)
failed=()
for step in "${steps[@]}"; do
    echo "=== ${step} ==="
    case "$step" in
        default | asan | tsan)
            cmake --preset "$step" >/dev/null &&
                cmake --build --preset "$step" -j "$jobs" &&
                ctest --preset "$step" -j "$jobs" || failed+=("$step")
            ;;
        deb) scripts/test-deb.sh || failed+=("$step") ;;
        windows) scripts/test-windows.sh || failed+=("$step") ;;
        fuzz) scripts/fuzz.sh "${DSPHOST_FUZZ_SECONDS:-20}" || failed+=("$step") ;;
        tidy) scripts/tidy.sh || failed+=("$step") ;;
        *)
            echo "unknown step: $step" >&2
            exit 2
            ;;
    esac
done

# Every step runs, so one failure does not hide another.
if ((${#failed[@]})); then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all steps passed: ${steps[*]}"
