#!/usr/bin/env python3
"""dsphost.exe end to end under wine, on a pseudo-terminal, with a private PulseAudio.

    program_test.py <folder holding dsphost.exe, mix_c.dll and inject_keys.exe>

The environment names the wine prefix (WINEPREFIX). Exit status 0 when every check passes.
"""
import array, fcntl, math, os, pty, re, socket, struct, subprocess, sys, tempfile, termios
import threading, time

BIN = sys.argv[1]
START = time.time()
failures = []


def check(ok, what):
    print(f"{time.time() - START:5.1f} s " + ("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def start_pulse(folder):
    # Null sinks at the program's format: "out" takes what the program plays, "tone" is
    # what the test plays, and its monitor is the program's capture device.
    sock = folder + "/native"
    with open(folder + "/default.pa", "w") as f:
        f.write("load-module module-null-sink sink_name=out rate=8000 channels=1 format=s16le\n"
                "load-module module-null-sink sink_name=tone rate=8000 channels=1 format=s16le\n"
                "set-default-sink out\nset-default-source tone.monitor\n"
                f"load-module module-native-protocol-unix socket={sock} auth-anonymous=1\n")
    env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder)
    daemon = subprocess.Popen(
        ["pulseaudio", "-n", "-F", folder + "/default.pa", "--daemonize=no",
         "--exit-idle-time=-1", "--use-pid-file=no", "--system=no"], env=env,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(250):
        try:
            socket.socket(socket.AF_UNIX).connect(sock)
            break
        except OSError:
            time.sleep(0.02)
    os.environ.update(PULSE_SERVER="unix:" + sock, PULSE_CLIENTCONFIG="/dev/null",
                      HOME=folder, XDG_RUNTIME_DIR=folder)
    return daemon


class Run:
    """dsphost.exe on a fresh 80x25 pseudo-terminal; standard output there or on a pipe."""

    def __init__(self, stdout_on_terminal):
        self.master, slave = pty.openpty()

        def controlling_terminal():  # where a typed Ctrl+C raises the interrupt
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 80, 0, 0))
        self.terminal, self.out = b"", b""
        self.proc = subprocess.Popen(
            ["wine", BIN + "/dsphost.exe"], stdin=slave, stderr=subprocess.DEVNULL,
            stdout=slave if stdout_on_terminal else subprocess.PIPE,
            preexec_fn=controlling_terminal)
        os.close(slave)
        threading.Thread(target=self.drain, args=("terminal", self.master), daemon=True).start()
        if self.proc.stdout:
            threading.Thread(target=self.drain, args=("out", self.proc.stdout.fileno()),
                             daemon=True).start()

    def drain(self, name, fd):
        while True:
            try:
                data = os.read(fd, 4096)
            except OSError:
                return
            if not data:
                return
            setattr(self, name, getattr(self, name) + data)

    def wait_for(self, name, pattern, seconds):
        end = time.time() + seconds
        while time.time() < end and not re.search(pattern, getattr(self, name)):
            time.sleep(0.05)
        return re.search(pattern, getattr(self, name)) is not None

    def ended(self, seconds):
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        os.close(self.master)


def inject(*records):
    return subprocess.run(["wine", BIN + "/inject_keys.exe", "dsphost.exe", *records]).returncode


def key(down, repeat, vk, scan, char, state=0):
    return f"key:{down}:{repeat}:{vk}:{scan}:{char}:{state}"


ALT, NUMLOCK, ENHANCED = 0x2, 0x20, 0x100
# Exact records as a Windows console delivers them. Esc carries the character 27 here:
# wine's own reading of a terminal reports a lone ESC with the character 0, which Windows
# never does, so the test injects what Windows would send.
KEYS = [  # what, records, ends the program
    ("F5", [key(1, 1, 0x74, 63, 0), key(0, 1, 0x74, 63, 0)], False),
    ("Up arrow", [key(1, 1, 0x26, 72, 0, ENHANCED), key(0, 1, 0x26, 72, 0, ENHANCED)], False),
    ("letter q", [key(1, 1, 0x51, 16, 113), key(0, 1, 0x51, 16, 113)], False),
    ("letter q, repeat count 3", [key(1, 3, 0x51, 16, 113)], False),
    ("Esc, repeat count 0", [key(1, 0, 0x1B, 1, 27)], False),
    ("Esc released", [key(0, 1, 0x1B, 1, 27)], False),
    ("focus record", ["focus"], False),
    ("Esc", [key(1, 1, 0x1B, 1, 27), key(0, 1, 0x1B, 1, 27)], True),
    # Alt held, keypad 2 and 7, Alt released; the release carries no character, so only the
    # keypad entry can give the 27.
    ("Alt + keypad 2, 7", [key(1, 1, 0x12, 56, 0, ALT), key(1, 1, 0x62, 80, 0, ALT | NUMLOCK),
                           key(0, 1, 0x62, 80, 0, ALT | NUMLOCK),
                           key(1, 1, 0x67, 71, 0, ALT | NUMLOCK),
                           key(0, 1, 0x67, 71, 0, ALT | NUMLOCK), key(0, 1, 0x12, 56, 0, NUMLOCK)],
     True),
]
LINE = rb"hit ctrl-C or ESC key to exit (\d\d):(\d\d):(\d\d) (\d+) (\d+)[ \d]\d\.\d\d%\r\n"


def tone_and_recording(seconds):
    """Plays a 500 Hz tone into the capture side while recording the playback side."""
    tone = array.array("h", (int(8000 * math.sin(2 * math.pi * 500 * i / 8000))
                             for i in range(int(8000 * seconds))))
    fmt = ["--rate=8000", "--channels=1", "--format=s16le", "--raw"]
    rec = subprocess.Popen(["parec", "-d", "out.monitor", *fmt], stdout=subprocess.PIPE)
    subprocess.run(["pacat", "-d", "tone", *fmt], input=tone.tobytes())
    time.sleep(0.5)
    rec.terminate()
    data = rec.communicate()[0]
    return array.array("h", data[: len(data) // 2 * 2])


def tone_heard(samples):
    """Some quarter second of the recording is the tone: loud, 250 crossings upward."""
    for start in range(0, len(samples) - 2000, 500):
        part = samples[start:start + 2000]
        ups = sum(1 for a, b in zip(part, part[1:]) if a < 0 <= b)
        if min(part) < -6000 and max(part) > 6000 and abs(ups - 125) <= 3:
            return True
    return False


def main():
    folder = tempfile.mkdtemp(prefix="dsphost-wine-")
    daemon = start_pulse(folder)
    try:
        # Standard output on a pipe: the keys that are ignored, the signal through the
        # effect, and Esc.
        run = Run(stdout_on_terminal=False)
        check(run.wait_for("out", LINE + LINE, 30), "status lines on redirected output")
        check(tone_heard(tone_and_recording(3)), "a tone played into capture comes out")
        for what, records, ends in KEYS:
            check(inject(*records) == 0, f"{what}: injected")
            if ends:
                check(run.ended(10) == 0, f"{what}: ends the program with 0")
                break
            check(run.ended(0.3) is None, f"{what}: ignored")
        run.stop()
        check(re.fullmatch(b"(" + LINE + b")+", run.out) is not None,
              "redirected output holds only status lines, CR LF")
        lines = [[int(x) for x in m] for m in re.findall(LINE, run.out)]
        total_ok = all(b[3] == a[3] + b[4] for a, b in zip(lines, lines[1:]))
        check(total_ok, "each line's second count is the growth of the first")
        moving = [l for l in lines if l[3] > 0][1:]  # full seconds after the stream began
        seconds = len(moving) - 1
        rate = (moving[-1][3] - moving[0][3]) / seconds if seconds > 0 else 0
        check(7000 <= rate <= 9000, f"about 8000 samples a second: {rate:.0f} over {seconds} s")

        # Standard output on the terminal: the lines are drawn there; the Alt + keypad entry.
        run = Run(stdout_on_terminal=True)
        # Wine draws the screen buffer item by item with cursor moves in between: two lines'
        # texts in order, each with its time.
        check(run.wait_for("terminal", rb"(?s)(hit ctrl-C or ESC key to exit.*?\d\d:\d\d:\d\d"
                           rb".*?%.*?){2}", 30), "status lines shown on the terminal")
        what, records, _ = KEYS[-1]
        check(inject(*records) == 0 and run.ended(10) == 0, f"{what}: ends with 0")
        run.stop()

        # Ctrl+C typed on the terminal ends the process through the platform's default
        # handling, the program's handler declining it (console_test checks that). Windows
        # ends it with STATUS_CONTROL_C_EXIT; wine ends it with status 0, so only the end
        # itself can be checked here.
        run = Run(stdout_on_terminal=True)
        run.wait_for("terminal", rb"hit ctrl-C", 30)
        os.write(run.master, b"\x03")
        check(run.ended(10) is not None, "Ctrl+C ends the process")
        run.stop()
    finally:
        daemon.kill()
        daemon.wait()
        subprocess.run(["rm", "-rf", folder])
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


sys.exit(main())
