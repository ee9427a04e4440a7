#!/usr/bin/env python3
"""dsphost run as a user runs it: on a pseudo-terminal, as its session's leader or as a job
under a small job-control shell, with its output on the terminal, in a file or a pipe, over
the stand-in audio library (dsphost_fake_audio) or real PortAudio and ALSA; and dsphost.exe
under wine, with real console input records injected.

Usage: program_test.py BUILD_DIR FAKETIME_LIBRARY CASE   (one case a run; CTest runs each)
       program_test.py - - list|list-windows             (the cases of one platform)"""
import array, fcntl, math, os, re, select, shutil, signal, socket, subprocess, sys, tempfile
import termios, time

BUILD, FAKETIME, CASE = sys.argv[1:4]
TMP = None  # a fresh folder for each case
SLOW = 3.0 if "san" in os.path.basename(BUILD) else 1.0  # sanitizer builds
LINE = rb"hit ctrl-C or ESC key to exit (\d\d:\d\d:\d\d) (\d+) (\d+)( ?\d+\.\d\d|%[^\r\n]*)%\r\n"
STOP_SEQUENCE = ["Pa_StopStream", "Pa_CloseStream", "Pa_Terminate"]
THREAD_SIGNALS = [signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP,
                  signal.SIGTSTP, signal.SIGCONT]


def check(condition, what):
    if not condition:
        sys.exit("FAILED %s: %s" % (CASE, what))


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds * SLOW
    while not condition():
        check(time.monotonic() < deadline, "timed out waiting for " + what)
        time.sleep(0.02)


RUNS = []


class Run:
    """The program on a fresh pseudo-terminal. shell: run it as a job of a job-control shell
    (a session leader that puts it in a process group of its own and moves the terminal's
    foreground on `foreground(flag)`); otherwise it leads its own session, with no job control."""

    def __init__(self, binary="dsphost_fake_audio", env=(), stdout="tty", stdin="tty",
                 shell=False, background=False, tostop=False):
        self.master, self.slave = os.openpty()
        self.log = os.path.join(TMP, "calls")
        self.found = termios.tcgetattr(self.slave)
        if tostop:
            self.found[3] |= termios.TOSTOP
            termios.tcsetattr(self.slave, termios.TCSANOW, self.found)
        # ALSA keeps a few allocations of its plugins at exit, and the pulse client's threads
        # hand data over in ways ThreadSanitizer cannot see: neither is this program's. A
        # SIGSEGV sent from outside is the program's to handle, not the sanitizers'.
        self.env = dict(os.environ, DSPHOST_FAKE_PA_LOG=self.log, JACK_NO_START_SERVER="1",
                        ASAN_OPTIONS="detect_leaks=0:verify_asan_link_order=0:handle_segv=0",
                        TSAN_OPTIONS=os.environ.get("TSAN_OPTIONS", "") + ":handle_segv=0" +
                        ":suppressions=" +
                        os.path.join(os.path.dirname(os.path.abspath(__file__)), "pulse.tsan.supp"),
                        **dict(env))
        self.out, self.file = b"", os.path.join(TMP, "out")
        out = {"tty": self.slave, "file": os.open(self.file, os.O_WRONLY | os.O_CREAT, 0o600),
               "full": os.open("/dev/full", os.O_WRONLY)}.get(stdout)
        if stdout == "pipe":
            reader, out = os.pipe()
            os.close(reader)  # a reader that has gone away
        into = self.slave if stdin == "tty" else os.open(os.devnull, os.O_RDONLY)
        err_r, err_w = os.pipe()
        self.stderr = err_r
        commands, self.commands = os.pipe()
        pid_r, pid_w = os.pipe()
        self.shell = os.fork()
        if self.shell == 0:
            os.setsid()
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
            signal.signal(signal.SIGTTOU, signal.SIG_IGN)
            child = os.fork() if shell else 0
            if child == 0:
                if shell:
                    os.setpgid(0, 0)
                    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
                os.dup2(into, 0), os.dup2(out, 1), os.dup2(err_w, 2)
                path = os.path.join(BUILD, binary)
                argv = ["wine", path] if binary.endswith(".exe") else [binary]
                os.execve(shutil.which(argv[0]) or path, argv, self.env)
            os.setpgid(child, child)
            os.write(pid_w, b"%d\n" % child)
            os.tcsetpgrp(self.slave, os.getpgrp() if background else child)
            while True:  # the shell: moves the foreground until its job ends
                if select.select([commands], [], [], 0.02)[0]:
                    command = os.read(commands, 1)
                    os.tcsetpgrp(self.slave, child if command == b"f" else os.getpgrp())
                ended, status = os.waitpid(child, os.WNOHANG | os.WUNTRACED)
                if ended and not os.WIFSTOPPED(status):
                    os._exit(os.waitstatus_to_exitcode(status) % 256)
        self.pid = self.shell if not shell else int(os.read(pid_r, 32))
        os.close(err_w)
        RUNS.append(self)

    def read(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                self.out += os.read(self.master, 65536)
            except OSError:
                break
        return self.out

    def lines(self, source=None):
        """The status lines; on the terminal, its output processing writes LF as CR LF."""
        return re.findall(LINE, self.read().replace(b"\r\r\n", b"\r\n") if source is None
                          else source)

    def wait_lines(self, count, seconds=10):
        wait_until(lambda: len(self.lines()) >= count, seconds, "%d status lines" % count)

    def state(self):
        with open("/proc/%d/stat" % self.pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0]

    def modes(self):
        return termios.tcgetattr(self.slave)

    def program_modes_on(self):
        return not self.modes()[3] & (termios.ICANON | termios.ECHO)

    def foreground(self, flag):
        os.write(self.commands, b"f" if flag else b"b")

    def type(self, keys):
        os.write(self.master, keys)

    def end(self, seconds=10):
        """The exit code, negative for a signal (as the shell's 128 + n)."""
        deadline = time.monotonic() + seconds * SLOW
        while True:
            self.read()
            ended, status = os.waitpid(self.shell, os.WNOHANG)
            if ended:
                code = os.waitstatus_to_exitcode(status)
                return code - 256 if code > 128 else code
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                check(False, "the program did not end")
            time.sleep(0.02)

    def calls(self):
        return open(self.log).read().split() if os.path.exists(self.log) else []


def alsa(slave, output=os.devnull, infile="/dev/zero"):
    """Real PortAudio over ALSA file plugins: played samples to a file, captured from one."""
    path = os.path.join(TMP, "asound.conf")
    with open(path, "w") as f:
        f.write('pcm.!default { type asym playback.pcm { type file slave.pcm %s file "%s" '
                'format "raw" } capture.pcm { type file slave.pcm %s file "/dev/null" '
                'infile "%s" format "raw" } }\n' % (slave, output, slave, infile))
    return {"ALSA_CONFIG_PATH": path}


def pulse():
    """A private PulseAudio with 8000 Hz null sinks: the program plays into "out", and captures
    what is played into "tone". Returns the environment that reaches it, through ALSA too."""
    sock = os.path.join(TMP, "native")
    script = os.path.join(TMP, "default.pa")
    with open(script, "w") as f:
        # An idle null sink renders in 2-second blocks; loopbacks of silence keep both sinks on
        # short ones, and a suspend and resume makes them start over with them.
        f.write("load-module module-null-sink sink_name=out rate=8000 channels=1 format=s16le\n"
                "load-module module-null-sink sink_name=tone rate=8000 channels=1 format=s16le\n"
                "load-module module-null-source source_name=m rate=8000 channels=1 format=s16le\n"
                "set-default-sink out\nset-default-source tone.monitor\n"
                "load-module module-loopback source=m sink=out latency_msec=10 adjust_time=0\n"
                "load-module module-loopback source=m sink=tone latency_msec=10 adjust_time=0\n"
                "suspend-sink out 1\nsuspend-sink out 0\nsuspend-sink tone 1\nsuspend-sink tone 0\n"
                "load-module module-native-protocol-unix socket=%s auth-anonymous=1\n" % sock)
    env = {"HOME": TMP, "XDG_RUNTIME_DIR": TMP, "PULSE_SERVER": "unix:" + sock}
    subprocess.Popen(["pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
                      "--use-pid-file=no"], env=dict(os.environ, **env),
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    wait_until(lambda: socket.socket(socket.AF_UNIX).connect_ex(sock) == 0, 10, "PulseAudio")
    os.environ.update(env)  # for the pulse tools
    return dict(env, **alsa('{ type pulse server "unix:%s" }' % sock))


def clock(text):
    hours, minutes, seconds = map(int, text.split(b":"))
    return hours * 3600 + minutes * 60 + seconds


def faketime(spec):
    return {"LD_PRELOAD": FAKETIME, "FAKETIME": spec, "DONT_FAKE_MONOTONIC": "1"}


def ends_in_order(run, keys=b"\x1b"):
    run.type(keys)
    check(run.end() == 0, "exit status 0")
    check(run.calls()[-3:] == STOP_SEQUENCE and run.calls().count("Pa_StopStream") == 1,
          "stopped in order: %s" % run.calls())
    check(run.modes() == run.found, "the terminal's modes put back")


# Exit paths with the clock frozen: one line, then the action; exit status and stop sequence.
EXITS = {"esc": (b"\x1b", 0), "ctrl_c": (b"\x03", -2), "ctrl_backslash": (b"\x1c", -3),
         "sigterm": (signal.SIGTERM, -15), "sighup": (signal.SIGHUP, -1),
         "sigsegv": (signal.SIGSEGV, -11), "sigabrt": (signal.SIGABRT, -6)}


def exit_path(name):
    action, status = EXITS[name]
    run = Run(env=faketime("2026-12-07 09:05:07"))  # frozen
    run.wait_lines(1)
    check(run.program_modes_on(), "the program's modes on")
    time.sleep(0.3)
    run.type(action) if isinstance(action, bytes) else os.kill(run.pid, action)
    check(run.end() == status, "exit status %d" % status)
    check([line[3] for line in run.lines()] == [b" 3.12"], "one line: %r" % run.out)
    check((run.calls()[-3:] == STOP_SEQUENCE) == (status == 0), "stop sequence: %s" % run.calls())
    check(run.modes() == run.found, "the terminal's modes put back")


def line_mode_behind_its_back():
    run = Run()
    run.wait_lines(1)
    program = run.modes()
    termios.tcsetattr(run.slave, termios.TCSANOW, run.found)  # as `stty sane` would
    run.type(b"typed")
    count = len(run.lines())
    run.wait_lines(count + 2, 4)  # polling never waits for the line to end
    termios.tcsetattr(run.slave, termios.TCSANOW, program)
    ends_in_order(run)


def background(tostop):
    run = Run(shell=True, background=True, tostop=tostop)
    deadline = time.monotonic() + 3
    while time.monotonic() < deadline:
        check(run.state() != "T" and run.modes() == run.found, "running, terminal untouched")
        time.sleep(0.05)
    check((len(run.lines()) >= 2) != tostop, "lines in the background: %r" % run.out)
    run.foreground(True)
    wait_until(run.program_modes_on, 5, "the program's modes in the foreground")
    run.wait_lines(len(run.lines()) + 1)
    ends_in_order(run)


def ctrl_z_bg_fg():
    run = Run(shell=True)
    run.wait_lines(1)
    run.type(b"\x1a")
    wait_until(lambda: run.state() == "T", 5, "stopped")
    check(run.modes() == run.found, "the terminal's modes put back while stopped")
    run.foreground(False)
    os.kill(run.pid, signal.SIGCONT)  # bg
    run.wait_lines(len(run.lines()) + 2)
    check(run.modes() == run.found, "the terminal left to the shell in the background")
    run.foreground(True)
    os.kill(run.pid, signal.SIGCONT)  # fg
    wait_until(run.program_modes_on, 5, "the program's modes again")
    ends_in_order(run)


def ctrl_z_without_job_control():
    run = Run()
    run.wait_lines(1)
    run.type(b"\x1a")
    run.wait_lines(len(run.lines()) + 2)
    check(run.program_modes_on(), "the program's modes still on")
    ends_in_order(run)


def output(where):
    run = Run(stdout=where)
    time.sleep(1.5)
    ends_in_order(run)
    check(run.out == b"", "nothing on the terminal")
    if where == "file":
        text = open(run.file, "rb").read()
        check(re.fullmatch(b"(%s){2,}" % LINE, text), "only status lines: %r" % text)
        (_, total1, since1, _), (_, total2, since2, _) = re.findall(LINE, text)[:2]
        # Each line counts the samples since the line before, read a moment after it.
        check(0 <= int(since1) - int(total1) < 1000 and 0 <= int(total2) - int(since2) - int(total1) < 1000,
              "counts: %r" % text)


def fast_clock():
    run = Run(stdin="null", stdout="file", env=faketime("@2026-12-07 23:59:50 x50"))
    time.sleep(3)
    os.kill(run.pid, signal.SIGTERM)
    run.end()
    times = [t for t, _, _, _ in run.lines(open(run.file, "rb").read())]
    check(len(times) > 20 and times == sorted(set(times), key=lambda t: (t < b"12", t)),
          "one line per time of day, in order, across midnight: %r" % times)


def thread_masks(pid):
    """The blocked signals of each of the process's threads, the main thread first."""
    masks = []
    for tid in sorted(map(int, os.listdir("/proc/%d/task" % pid))):
        status = open("/proc/%d/task/%d/status" % (pid, tid)).read()
        masks.append(int(re.search(r"SigBlk:\s*(\w+)", status).group(1), 16))
    return masks


def real_audio(effect):
    """Unpaced real audio: every captured sample played through the effect, after a delay;
    the handled signals are taken on the main thread only."""
    samples = [(n * 7919) % 65536 - 32768 for n in range(40000)]
    infile, played = os.path.join(TMP, "in.raw"), os.path.join(TMP, "out.raw")
    open(infile, "wb").write(b"".join(s.to_bytes(2, "little", signed=True) for s in samples))
    env = alsa("{ type null }", played, infile)
    if effect:
        env["LD_LIBRARY_PATH"] = os.path.join(BUILD, "examples", effect)
    run = Run("dsphost", env, stdout="file")
    wait_until(lambda: os.path.exists(played) and os.path.getsize(played) > 200000, 20,
               "samples played")
    masks = thread_masks(run.pid)
    blocked = sum(1 << (s - 1) for s in THREAD_SIGNALS)
    check(len(masks) > 1 and masks[0] & blocked == 0 and all(m & blocked == blocked
                                                               for m in masks[1:]),
          "handled signals blocked in the audio threads only: %s" % [hex(m) for m in masks])
    run.type(b"\x1b")
    check(run.end() == 0, "exit status 0")
    check(os.read(run.stderr, 4096) == b"", "nothing on standard error")
    out = open(played, "rb").read()
    out = [int.from_bytes(out[i:i + 2], "little", signed=True) for i in range(0, len(out), 2)]
    want = samples
    if effect == "preemphasis":
        import struct
        f32 = lambda v: struct.unpack("f", struct.pack("f", v))[0]
        want = [max(-32768, min(32767, int(f32(x / 32768 - 0.95 * (p / 32768)) * 32768 // 1)))
                for x, p in zip(samples, [0] + samples)]
    shift = next((d for d in range(4096) if out[d:d + 1000] == want[:1000]), None)
    check(shift is not None and out[shift:shift + len(want)] == want, "played as the effect made it")


def paced_real_audio():
    run = Run("dsphost", pulse())
    run.wait_lines(6, 20)
    first, last = run.lines()[1], run.lines()[-1]  # the first line of all comes mid-second
    seconds = (clock(last[0]) - clock(first[0])) % 86400
    rate = (int(last[1]) - int(first[1])) / seconds
    # Paced by the sound server, not as fast as the processor allows; how evenly, on a busy
    # machine, is for the benchmarks to say.
    check(2000 <= rate <= 20000, "about 8000 a second over %d s: %.0f" % (seconds, rate))
    run.type(b"\x1b")
    check(run.end() == 0 and run.modes() == run.found, "ESC ends it with the terminal as found")


def no_sound_device():
    run = Run("dsphost", {"PULSE_SERVER": "unix:" + os.path.join(TMP, "none"),
                          "ALSA_CONFIG_PATH": "/usr/share/alsa/alsa.conf"})
    run.wait_lines(2)
    check(all(total == b"0" and since == b"0" for _, total, since, _ in run.lines()), "counts 0")
    run.type(b"\x1b")
    check(run.end() == 0 and os.read(run.stderr, 4096) == b"", "exit 0, nothing on stderr")


def inject(*records):
    """Exact console input records into the console of the running dsphost.exe."""
    return subprocess.run(["wine", os.path.join(BUILD, "inject_keys.exe"), "dsphost.exe",
                           *records]).returncode


def key(down, repeat, vk, scan, char, state=0):
    return "key:%d:%d:%d:%d:%d:%d" % (down, repeat, vk, scan, char, state)


def press(vk, scan, char, state=0):
    return [key(1, 1, vk, scan, char, state), key(0, 1, vk, scan, char, state)]


# Records as a Windows console delivers them (wine's own reading of a terminal reports a lone
# ESC with the character 0, which Windows never does); none of these ends the program.
IGNORED_RECORDS = [press(0x74, 63, 0), press(0x26, 72, 0, 0x100), press(0x51, 16, 113),
                   [key(1, 3, 0x51, 16, 113)], [key(1, 0, 0x1B, 1, 27)], [key(0, 1, 0x1B, 1, 27)],
                   ["focus"]]
ALT_KEYPAD_27 = [key(1, 1, 0x12, 56, 0, 2), *press(0x62, 80, 0, 0x22), *press(0x67, 71, 0, 0x22),
                 key(0, 1, 0x12, 56, 0, 0x20)]


def windows_redirected():
    """A tone played into the capture side comes out of playback; the samples are counted at
    about 8000 a second; key records end it only when they are Esc; the redirected output
    holds only status lines, CR LF."""
    run = Run("dsphost.exe", pulse(), stdout="file")
    wait_until(lambda: len(run.lines(open(run.file, "rb").read())) >= 2, 60, "status lines")
    raw = ["--rate=8000", "--channels=1", "--format=s16le", "--raw"]
    recorder = subprocess.Popen(["parec", "-d", "out.monitor", *raw], stdout=subprocess.PIPE)
    tone = array.array("h", (int(8000 * math.sin(math.pi * i / 8)) for i in range(24000)))
    subprocess.run(["pacat", "-d", "tone", *raw], input=tone.tobytes())  # 3 s at 500 Hz
    time.sleep(0.5)
    recorder.terminate()
    got = array.array("h", (lambda d: d[:len(d) // 2 * 2])(recorder.communicate()[0]))
    parts = [got[i:i + 2000] for i in range(0, len(got) - 2000, 500)]
    check(any(min(p) < -6000 and max(p) > 6000 and
              abs(sum(a < 0 <= b for a, b in zip(p, p[1:])) - 125) <= 3 for p in parts),
          "a quarter second of the recording is the tone")
    wait_until(lambda: len(run.lines(open(run.file, "rb").read())) >= 10, 30, "ten lines")
    # Whole seconds before the keys (each injection starts a wine process that competes with
    # the audio thread); the median, as wine's audio thread now and then falls behind.
    full = sorted(int(since) for _, _, since, _ in run.lines(open(run.file, "rb").read())[2:10])
    check(7000 <= full[len(full) // 2] <= 9000, "about 8000 samples a second: %s" % full)
    for records in IGNORED_RECORDS:
        check(inject(*records) == 0 and time.sleep(0.3) is None and run.state() != "Z",
              "ignored: %s" % records)
    inject(*press(0x1B, 1, 27))
    check(run.end() == 0, "Esc ends it with 0")
    text = open(run.file, "rb").read()
    check(re.fullmatch(b"(%s)+" % LINE, text), "only status lines: %r" % text[-200:])


def windows_terminal():
    """The lines are drawn on the console (wine draws cell by cell, with cursor moves), and an
    Alt + keypad entry of 27 ends it with 0."""
    run = Run("dsphost.exe", pulse())
    wait_until(lambda: re.search(rb"(?s)(exit.*?\d\d:\d\d:\d\d.*?%.*?){2}", run.read()), 60,
               "two lines drawn")
    inject(*ALT_KEYPAD_27)
    check(run.end() == 0, "Alt + keypad 2, 7 ends it with 0")


def windows_ctrl_c():
    """Ctrl+C is declined by the program's handler and left to the platform's default handling,
    which ends the process; wine's names itself on standard error (and, with a stream open,
    now and then crashes or hangs while ending it, so the message is what is checked)."""
    run = Run("dsphost.exe", dict(pulse(), WINEDEBUG="-all,fixme+console"))
    wait_until(lambda: re.search(rb"hit ctrl-C", run.read()), 60, "a line")
    run.type(b"\x03")
    err = b""
    for _ in range(int(200 * SLOW)):
        err += os.read(run.stderr, 65536) if select.select([run.stderr], [], [], 0.05)[0] else b""
        if b"default_ctrl_handler Terminating" in err:
            return
    check(False, "Ctrl+C ends the process through the default handling: %r" % err[-300:])


CASES = {"line_mode_behind_its_back": line_mode_behind_its_back,
         "background": lambda: background(False), "background_tostop": lambda: background(True),
         "ctrl_z_bg_fg": ctrl_z_bg_fg, "ctrl_z_without_job_control": ctrl_z_without_job_control,
         "output_file": lambda: output("file"), "output_full": lambda: output("full"),
         "output_closed_pipe": lambda: output("pipe"), "fast_clock": fast_clock,
         "real_audio_preemphasis": lambda: real_audio("preemphasis"),
         "paced_real_audio": paced_real_audio, "no_sound_device": no_sound_device}
CASES.update({"exit_" + name: (lambda name=name: exit_path(name)) for name in EXITS})
WINDOWS_CASES = {"windows_redirected": windows_redirected, "windows_terminal": windows_terminal,
                 "windows_ctrl_c": windows_ctrl_c}

if __name__ == "__main__":
    if CASE.startswith("list"):
        print(";".join(WINDOWS_CASES if CASE == "list-windows" else CASES))
        sys.exit(0)
    CASES.update(WINDOWS_CASES)
    TMP = tempfile.mkdtemp(prefix="dsphost-test-")
    try:
        CASES[CASE]()
    finally:
        for pid in [run.pid for run in RUNS] + [run.shell for run in RUNS]:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        subprocess.run(["pkill", "-KILL", "-f", TMP], stderr=subprocess.DEVNULL)
        shutil.rmtree(TMP, ignore_errors=True)
    print("passed: " + CASE)
