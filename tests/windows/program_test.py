#!/usr/bin/env python3
# dsphost.exe end to end under wine, on a pseudo-terminal, with a private PulseAudio.
#     program_test.py <folder of dsphost.exe, mix_c.dll and inject_keys.exe>
# The environment names the wine prefix. Exit status 0 when every check passes.
import array, fcntl, math, os, pty, re, socket, subprocess, sys, tempfile, termios, time

BIN, START, failures = sys.argv[1], time.time(), []
DIR = tempfile.mkdtemp(prefix="dsphost-wine-")
LINE = rb"hit ctrl-C or ESC key to exit (\d\d):(\d\d):(\d\d) (\d+) (\d+)[ \d]\d\.\d\d%\r\n"
RAW = ["--rate=8000", "--channels=1", "--format=s16le", "--raw"]


def check(ok, what):
    print(f"{time.time() - START:5.1f} s {'ok  ' if ok else 'FAIL'} {what}", flush=True)
    failures.extend([] if ok else [what])


# Null sinks in the program's format: "out" takes what it plays; "tone" takes what the test
# plays, and its monitor is the program's capture device.
open(DIR + "/default.pa", "w").write(
    "load-module module-null-sink sink_name=out rate=8000 channels=1 format=s16le\n"
    "load-module module-null-sink sink_name=tone rate=8000 channels=1 format=s16le\n"
    "set-default-sink out\nset-default-source tone.monitor\n"
    f"load-module module-native-protocol-unix socket={DIR}/native auth-anonymous=1\n")
os.environ.update(HOME=DIR, XDG_RUNTIME_DIR=DIR, PULSE_SERVER=f"unix:{DIR}/native",
                  WINEDEBUG="-all,fixme+console")  # wine names its default control handling
pulse = subprocess.Popen(["pulseaudio", "-n", "-F", DIR + "/default.pa", "--daemonize=no",
                          "--exit-idle-time=-1", "--use-pid-file=no"], stderr=subprocess.DEVNULL)
while socket.socket(socket.AF_UNIX).connect_ex(DIR + "/native") != 0 and time.time() < START + 5:
    time.sleep(0.02)


# dsphost.exe with a new pseudo-terminal as its controlling terminal, and standard output
# there too or in the file DIR/out. Returns the process and a reader of everything that
# standard output has received so far.
def start(on_terminal):
    master, slave = pty.openpty()
    os.set_blocking(master, False)
    proc = subprocess.Popen(
        ["wine", BIN + "/dsphost.exe"], stdin=slave, stderr=open(DIR + "/err", "wb"),
        stdout=slave if on_terminal else open(DIR + "/out", "wb"),
        preexec_fn=lambda: (os.setsid(), fcntl.ioctl(0, termios.TIOCSCTTY, 0)))
    seen = [b""]

    def read():
        try:
            seen[0] += os.read(master, 65536)
        except OSError:
            pass
        return seen[0] if on_terminal else open(DIR + "/out", "rb").read()
    return proc, read, master


def shows(read, pattern):
    for _ in range(600):
        if re.search(pattern, read()):
            return True
        time.sleep(0.05)


def ended(proc, seconds):
    try:
        return proc.wait(seconds)
    except subprocess.TimeoutExpired:
        return None


def inject(records):
    return subprocess.run(["wine", BIN + "/inject_keys.exe", "dsphost.exe", *records]).returncode


def key(down, repeat, vk, scan, char, state=0):
    return f"key:{down}:{repeat}:{vk}:{scan}:{char}:{state}"


def press(vk, scan, char, state=0):
    return [key(1, 1, vk, scan, char, state), key(0, 1, vk, scan, char, state)]


ALT, NUM = 0x2, 0x20
# Records as a Windows console delivers them. Esc carries the character 27: wine's own
# reading of a terminal reports a lone ESC with the character 0, which Windows never does.
# The Alt release carries no character, so only the keypad entry can give the 27.
KEYS = [  # what, records, ends the program
    ("F5", press(0x74, 63, 0), False),
    ("Up arrow", press(0x26, 72, 0, 0x100), False),
    ("letter q", press(0x51, 16, 113), False),
    ("letter q, repeat count 3", [key(1, 3, 0x51, 16, 113)], False),
    ("Esc, repeat count 0", [key(1, 0, 0x1B, 1, 27)], False),
    ("Esc released", [key(0, 1, 0x1B, 1, 27)], False),
    ("focus record", ["focus"], False),
    ("Esc", press(0x1B, 1, 27), True),
    ("Alt + keypad 2, 7", [key(1, 1, 0x12, 56, 0, ALT), *press(0x62, 80, 0, ALT | NUM),
                           *press(0x67, 71, 0, ALT | NUM), key(0, 1, 0x12, 56, 0, NUM)], True),
]

# Standard output in a file: a tone through the effect, the keys, the exact bytes. The
# tone, 3 s at 500 Hz, goes into the capture side while the playback side is recorded: some
# quarter second of the recording is loud and crosses zero upward 125 times.
proc, read, _ = start(on_terminal=False)
check(shows(read, LINE + LINE), "status lines on redirected output")
tone = array.array("h", (int(8000 * math.sin(math.pi * i / 8)) for i in range(24000)))
rec = subprocess.Popen(["parec", "-d", "out.monitor", *RAW], stdout=subprocess.PIPE)
subprocess.run(["pacat", "-d", "tone", *RAW], input=tone.tobytes())
time.sleep(0.5)
rec.terminate()
got = array.array("h", (lambda d: d[: len(d) // 2 * 2])(rec.communicate()[0]))
parts = [got[i:i + 2000] for i in range(0, len(got) - 2000, 500)]
check(any(min(p) < -6000 and max(p) > 6000 and
          abs(sum(a < 0 <= b for a, b in zip(p, p[1:])) - 125) <= 3 for p in parts),
      "a tone played into capture comes out of playback")
# The rate is judged on lines from before the keys: each injection starts a wine process,
# and under wine the spinning monitor loop's idle priority does little, so on 2 busy cores
# the audio thread then falls behind, which Windows would not let happen.
check(shows(read, LINE * 10), "ten status lines")
quiet = [[int(x) for x in m] for m in re.findall(LINE, read())][:10]
for what, records, ends in KEYS[:-1]:
    check(inject(records) == 0 and ended(proc, 10 if ends else 0.3) == (0 if ends else None),
          f"{what}: " + ("ends the program with 0" if ends else "ignored"))
proc.kill()
check(re.fullmatch(b"(" + LINE + b")+", read()), "redirected output: status lines only, CR LF")
# The median of the whole seconds after the stream began: even before the keys, other work
# on the machine now and then holds wine's audio thread back for a second or two.
full = sorted([line[4] for line in quiet if line[3] > 0][1:])
rate = full[len(full) // 2] if full else 0
check(7000 <= rate <= 9000, f"about 8000 samples a second: {rate}, {[line[4] for line in quiet]}")

# Standard output on the terminal: wine draws the screen buffer item by item with cursor
# moves between them, so two lines' texts in order, each with its time.
proc, read, _ = start(on_terminal=True)
check(shows(read, rb"(?s)(hit ctrl-C or ESC key to exit.*?\d\d:\d\d:\d\d.*?%.*?){2}"),
      "status lines drawn on the terminal")
check(inject(KEYS[-1][1]) == 0 and ended(proc, 10) == 0, f"{KEYS[-1][0]}: ends with 0")
proc.kill()

# Ctrl+C typed on the terminal: the program's handler declines it (console_test), so the
# platform's default handling ends the process. Wine's names itself on standard error and
# ends the process with status 0, or now and then crashes or hangs in doing so; Windows ends
# it with STATUS_CONTROL_C_EXIT.
proc, read, master = start(on_terminal=True)
shows(read, rb"hit ctrl-C")
os.write(master, b"\x03")
check(shows(lambda: open(DIR + "/err", "rb").read(), rb"default_ctrl_handler Terminating"),
      "Ctrl+C goes to the platform's default handling, which ends the process")
proc.kill()
pulse.kill()
pulse.wait()
subprocess.run(["rm", "-rf", DIR])
sys.exit(1 if failures else 0)
