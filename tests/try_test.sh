#!/usr/bin/env bash
# scripts/try.sh once, with the host's own pass-through, on half a second of noise: the
# host on the real audio path plays the input samples, in order and unchanged, after the
# latency that the summary reports, and draws its picture. A busy machine can make the audio
# library restart the stream, which inserts a moment of silence into the output, or drop a
# moment of input when capture and playback fall out of step (doc/try-without-a-sound-card.md):
# every sample played, silence aside, must be an input sample, in order, and nine in ten input
# samples must be played.
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
python3 - "${BASH_REMATCH[1]}" <<'EOF' || { echo "FAIL: samples changed or lost" >&2; exit 1; }
import array, sys, wave
heard = lambda f, skip=0: [s for s in array.array("h", wave.open(f).readframes(10**7))[skip:] if s]
given, played = heard("in.wav"), heard("out.wav", int(sys.argv[1]))
rest = iter(given)  # each sample played is an input sample, after the one before
sys.exit(not all(sample in rest for sample in played) or len(played) < 0.9 * len(given))
EOF
[ "$(head -c 4 try.png | tail -c 3)" = PNG ] || { echo "FAIL: no try.png" >&2; exit 1; }
echo "PASS"
