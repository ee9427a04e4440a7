#!/usr/bin/env bash
# scripts/try.sh once, with the host's own pass-through, on half a second of noise: the
# host on the real audio path plays the input back sample for sample, after the latency that
# the summary reports, and draws its picture. A stutter of the sound server on a busy
# machine inserts silence into the output (README, "Without a sound card"): then one run
# more.
#   try_test.sh <source dir> <dsphost binary> <scratch parent>
set -euo pipefail
dir=$(mktemp -d "$3/try-test.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
sox -n -r 8000 -c 1 -b 16 noise.wav synth 0.5 whitenoise vol 0.5
re='^in 8000 samples, out [0-9]+ samples, latency ([0-9]+) samples \(.* ms\), RMS gain \+0\.00 dB$'
for _ in 1 2; do
    DSPHOST=$2 timeout -s KILL 120 "$1/scripts/try.sh" "" noise.wav >log
    summary=$(tail -n 1 log)
    echo "$summary"
    if [[ $summary =~ $re ]] &&
        cmp <(sox in.wav -t raw -) <(sox out.wav -t raw - trim "${BASH_REMATCH[1]}s" 8000s); then
        [ "$(head -c 4 try.png | tail -c 3)" = PNG ] || { echo "FAIL: no try.png" >&2; exit 1; }
        echo "PASS" && exit 0
    fi
done
echo "FAIL: twice, the output after the latency is not the input" >&2
exit 1
