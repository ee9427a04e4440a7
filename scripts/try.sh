#!/usr/bin/env bash
# Tries an effect without a sound card, through the real dsphost at the real pace.
#
#   scripts/try.sh [effect-dir] [input.wav]
#
# effect-dir  a directory holding a libmix_c.so, put first on LD_LIBRARY_PATH (default: none,
#             the host's own pass-through); a source directory such as
#             examples/preemphasis is also looked up in the host's build folder.
# input.wav   any file sox reads (default: a 3 s logarithmic sweep over three steady tones
#             and a faint white noise, which shows the effect's frequency response).
#
# A private PulseAudio with null devices at 8000 Hz paces the host's default device, whose
# capture side delivers the input's samples and whose playback side writes what the host
# plays to a file (ALSA's file plug-in): the samples are exact even when a busy machine
# makes the sound server stutter. dsphost runs on a pseudo-terminal with the effect first
# on LD_LIBRARY_PATH, its status lines scroll by, and ESC ends it once the input is through.
# Written to the current directory: in.wav (the input as played, a quarter second of
# silence around it), out.wav (the playback side), try.png (the spectrograms of the input
# and of the output after the latency, side by side); the last line is the summary.
#
# DSPHOST=<binary> runs that host as it is; otherwise the set-up (scripts/setup.sh try) and
# the build (the release preset, in build-release/) run first.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
effect=${1:-}
input=${2:-}
out_dir=$PWD
if [ -z "${DSPHOST:-}" ]; then
    "$root/scripts/setup.sh" try
    (cd "$root" && cmake --preset release >/dev/null &&
        cmake --build --preset release --target dsphost mix_c example_preemphasis >/dev/null)
    DSPHOST=$root/build-release/dsphost
fi
build=$(dirname "$(readlink -f "$DSPHOST")")
label="the host's own libmix_c.so"
if [ -n "$effect" ]; then
    if [ ! -f "$effect/libmix_c.so" ] && [ -f "$build/$effect/libmix_c.so" ]; then
        effect=$build/$effect
    fi
    if [ ! -f "$effect/libmix_c.so" ]; then
        echo "try.sh: no libmix_c.so in $effect" >&2
        exit 2
    fi
    effect=$(readlink -f "$effect")
    label=${effect#"$root"/}/libmix_c.so
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/dsphost-try.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The input as 8000 Hz mono 16-bit samples; the host reads it from in.raw, which goes on
# in silence far beyond the moment ESC is sent.
raw=(-t raw -r 8000 -c 1 -b 16 -e signed-integer)
if [ -n "$input" ]; then
    sox "$input" -r 8000 -c 1 -b 16 "$out_dir/in.wav" pad 0.25 0.25
else
    sox -n -r 8000 -c 1 -b 16 "$out_dir/in.wav" synth 3 sine 50/3900 sine 300 sine 1000 \
        sine 2500 whitenoise remix 1v0.5,2v0.15,3v0.15,4v0.15,5v0.03 fade 0.02 3 0.02 \
        norm -6 pad 0.25 0.25
fi
sox "$out_dir/in.wav" "${raw[@]}" "$work/in.raw" pad 0 10
samples=$(soxi -s "$out_dir/in.wav")

# The sound server (bench/servers.py: its own home, runtime directory and socket) behind the
# default device; dsphost on a pseudo-terminal, its output copied here. ESC (then nothing: a
# lone ESC) once a status line (bench/status.py) counts the input and half a second more.
python3 - "$root" "$work" "$DSPHOST" "$effect" $((samples + 4000)) <<'EOF'
import os, pty, select, sys, time
root, work, host, effect, enough = *sys.argv[1:5], int(sys.argv[5])
sys.path.insert(0, root)
from bench import processes, servers, status
try:
    sock = servers.start_pulse(work)
    if sock is None:
        sys.exit("try.sh: the private sound server did not start")
    config = servers.alsa_config(work, servers.pulse_slave(sock), os.path.join(work, "out.raw"),
                                 os.path.join(work, "in.raw"))
    env = dict(servers.client_env(config), **servers.pulse_client(work, sock))
    env.pop("LD_LIBRARY_PATH", None)
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.execve(host, [host], dict(env, LD_LIBRARY_PATH=effect) if effect else env)
        finally:
            os._exit(127)
    seen, sent, give_up = b"", False, time.monotonic() + enough / 8000 + 30
    while time.monotonic() < give_up:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # the host has ended and closed its terminal
                break
            sys.stdout.buffer.write(chunk)
            sys.stdout.flush()
            seen = (seen + chunk)[-300:]
            counts = [int(m.group(2)) for m in status.LINE_BYTES.finditer(seen)]
            if not sent and counts and counts[-1] >= enough:
                os.write(fd, b"\x1b")
                sent = True
    else:
        os.kill(pid, 9)
    code = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    if not sent or code != 0:
        sys.exit(f"try.sh: dsphost ended with status {code}" + ("" if sent else " before ESC"))
finally:
    processes.stop_all()
EOF

# The latency by cross-correlation, the output after it, and the summary.
summary=$(python3 - "$work" "$samples" <<'EOF'
import array, cmath, math, sys
work, n = sys.argv[1], int(sys.argv[2])
def load(path):
    a = array.array("h")
    with open(path, "rb") as f:
        a.frombytes(f.read())
    return a
def fft(a):
    if len(a) == 1:
        return list(a)
    even, odd, m = fft(a[0::2]), fft(a[1::2]), len(a) // 2
    odd = [cmath.exp(-1j * cmath.pi * k / m) * odd[k] for k in range(m)]
    return [e + o for e, o in zip(even, odd)] + [e - o for e, o in zip(even, odd)]
x, y = load(work + "/in.raw")[:n], load(work + "/out.raw")
# 8192 input samples from the middle of the silence in front of the input against 16384
# output samples from there: the cross-correlation at lags 0 to 4095, each frequency
# weighted alike (by its phase only), so that an effect which shifts phases or favours some
# frequencies does not move the peak, and the input's onset makes even a steady tone's
# latency plain. Lags stay below a quarter of the length, clear of the output's end.
start, size = 1000, 16384
a = (list(x[start:start + size // 2]) + [0] * size)[:size]
b = (list(y[start:start + size]) + [0] * size)[:size]
silent = [what for what, part in (("input", a), ("output", b)) if not any(part)]
if silent:  # nothing to correlate: the output as it came
    lat = None
else:
    spectrum = [p.conjugate() * q for p, q in zip(fft(a), fft(b))]
    floor = max(map(abs, spectrum)) * 1e-9  # below it, rounding noise: left small
    spectrum = [v.conjugate() / (abs(v) + floor) for v in spectrum]
    correlation = fft(spectrum)  # the inverse transform, but for the conjugate and the scale
    lat = max(range(size // 4), key=lambda k: abs(correlation[k]))
aligned = y[lat or 0:(lat or 0) + n]
with open(work + "/aligned.raw", "wb") as f:
    aligned.tofile(f)
def rms(a):
    return math.sqrt(sum(v * v for v in a) / max(len(a), 1))
gain = 20 * math.log10(max(rms(aligned), 1e-9) / max(rms(x), 1e-9))
if silent:
    print(f"in {n} samples, out {len(y)} samples, latency unknown: the {' and the '.join(silent)} "
          f"{'are' if len(silent) > 1 else 'is'} silent from {start / 8000:g} s on")
else:
    print(f"in {n} samples, out {len(y)} samples, latency {lat} samples ({lat / 8:.1f} ms), "
          f"RMS gain {gain:+.2f} dB")
EOF
)
sox "${raw[@]}" "$work/out.raw" "$out_dir/out.wav"
sox -n -r 8000 -c 1 -b 16 "$work/gap.wav" trim 0 0.1
sox "$out_dir/in.wav" "$work/gap.wav" "${raw[@]}" "$work/aligned.raw" -n spectrogram \
    -x 800 -y 160 -z 90 -t "input | output of $label" \
    -c "scripts/try.sh" -o "$out_dir/try.png"
echo "$summary"
