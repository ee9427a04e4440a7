#!/usr/bin/env bash
# scripts/try.sh once, with the host's own pass-through, on half a second of noise: the
# host on the real audio path plays every input sample, in order and unchanged, after the
# latency that the summary reports, and draws its picture. A busy machine can make the
# audio library restart the stream, which inserts a moment of silence into the output (README,
# "Without a sound card"): the samples are compared with the silence left out of both sides.
#   try_test.sh <source dir> <dsphost binary> <scratch parent>
set -euo pipefail
dir=$(mktemp -d "$3/try-test.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
sox -n -r 8000 -c 1 -b 16 noise.wav synth 0.5 whitenoise vol 0.5
DSPHOST=$2 timeout -s KILL 120 "$1/scripts/try.sh" "" noise.wav >log
summary=$(tail -n 1 log)
echo "$summary"
re='^in 8000 samples, out [0-9]+ samples, latency ([0-9]+) samples \(.* ms\), RMS gain .* dB$'
[[ $summary =~ $re ]] || { echo "FAIL: summary" >&2; exit 1; }
sound() { sox "$1" -t raw - trim "$2s" | od -An -v -td2 -w2 | grep -vx ' *0'; }
cmp <(sound in.wav 0) <(sound out.wav "${BASH_REMATCH[1]}") ||
    { echo "FAIL: input samples lost or changed on the way (silence aside)" >&2; exit 1; }
[ "$(head -c 4 try.png | tail -c 3)" = PNG ] || { echo "FAIL: no try.png" >&2; exit 1; }
echo "PASS"
