#!/usr/bin/env python3
# dsphost run as a user runs it: on a pseudo-terminal, as its session's leader or as a job
# under a small job-control shell, with its output on the terminal, in a file or a pipe, over
# the stand-in audio library (dsphost_fake_audio), real PortAudio and ALSA, or, as
# dsphost.exe, under wine with console input records injected. Private sound servers and the
# status line come from the kit in bench/ (servers.py, status.py). tests/README says more.
#
# Usage: program_test.py BUILD_DIR FAKETIME_LIBRARY CASE   (one case a run; CTest runs each)
#        program_test.py - - list|list-windows             (the cases of one platform)
import array, fcntl, glob, math, os, re, select, shutil, signal, subprocess, sys, tempfile
import termios, time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench import servers, status  # noqa: E402

BUILD = FAKETIME = CASE = TMP = None  # set by main; TMP: a fresh folder for each case
RUNS, SLOW = [], 1.0  # every program started; 3.0 in sanitizer builds
LINE = status.LINE_BYTES.pattern + rb"\r\n"  # (time, total, count, CPU field)
START_SEQUENCE = ["Pa_Initialize", "Pa_OpenDefaultStream(1,1,8,8000,1)", "Pa_StartStream"]
STOP_SEQUENCE = ["Pa_StopStream", "Pa_CloseStream", "Pa_Terminate"]


def check(condition, what):
    if not condition:
        sys.exit("FAILED %s: %s" % (CASE, what))


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds * SLOW
    while not condition():
        check(time.monotonic() < deadline, "timed out waiting for " + what)
        time.sleep(0.02)


def pipe_end(kept):
    # One end of a pipe whose other end is closed: the writing end (1) of a pipe whose reader
    # has gone away, or the reading end (0), always readable, at end of file.
    ends = os.pipe()
    os.close(ends[1 - kept])
    return ends[kept]


class Run:
    # The program on a fresh pseudo-terminal, leading its own session (no job control), or
    # with shell=True as a job of a job-control shell: a session leader that puts it in a process
    # group of its own and moves the terminal's foreground on foreground(flag).

    def __init__(self, binary="dsphost_fake_audio", env=(), stdout="tty", stdin="tty",
                 shell=False, background=False, tostop=False, wrapper=(), intr=b"\x03"):
        self.master, self.slave = os.openpty()
        self.found, self.out = termios.tcgetattr(self.slave), b""
        self.stdout = stdout
        self.found[3] |= termios.TOSTOP if tostop else 0
        self.found[6][termios.VINTR] = intr
        termios.tcsetattr(self.slave, termios.TCSANOW, self.found)
        self.log, self.file, self.err = (os.path.join(TMP, f) for f in ("calls", "out", "err"))
        # ALSA keeps a few allocations of its plugins at exit, and the pulse client's threads
        # hand data over in ways ThreadSanitizer cannot see: neither is this program's. A
        # SIGSEGV sent from outside is the program's to handle, not the sanitizers'. Reports
        # go to files, as the program's standard error leads nowhere once audio starts.
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pulse.tsan.supp")
        logs = ":log_path=" + os.path.join(TMP, "sanitizer")
        env = dict(os.environ, DSPHOST_FAKE_PA_LOG=self.log, JACK_NO_START_SERVER="1",
                   ASAN_OPTIONS="detect_leaks=0:verify_asan_link_order=0:handle_segv=0" + logs,
                   UBSAN_OPTIONS=os.environ.get("UBSAN_OPTIONS", "") + logs,
                   TSAN_OPTIONS=os.environ.get("TSAN_OPTIONS", "") + ":handle_segv=0:"
                   "suppressions=" + supp + logs, **dict(env))
        out = {"tty": lambda: self.slave, "full": lambda: os.open("/dev/full", os.O_WRONLY),
               "file": lambda: os.open(self.file, os.O_WRONLY | os.O_CREAT, 0o600),
               "pipe": lambda: pipe_end(1)}[stdout]()
        into = {"tty": lambda: self.slave, "null": lambda: os.open(os.devnull, os.O_RDONLY),
                "file": lambda: os.open(__file__, os.O_RDONLY), "closed_pipe": lambda: pipe_end(0),
                "open_pipe": lambda: os.pipe()[0]}[stdin]()
        err = os.open(self.err, os.O_WRONLY | os.O_CREAT, 0o600)
        commands, self.commands = os.pipe()
        pid_r, pid_w = os.pipe()
        self.shell = os.fork()
        if self.shell == 0:
            os.setsid()
            fcntl.ioctl(self.slave, termios.TIOCSCTTY, 0)
            signal.signal(signal.SIGTTOU, signal.SIG_IGN)
            signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # as a shell starts programs
            child = os.fork() if shell else 0
            if child == 0:
                if shell:
                    os.setpgid(0, 0)
                    signal.signal(signal.SIGTTOU, signal.SIG_DFL)
                os.dup2(into, 0), os.dup2(out, 1), os.dup2(err, 2)
                argv = [*wrapper, os.path.join(BUILD, binary)]
                argv = [shutil.which("wine")] + argv if binary.endswith(".exe") else argv
                argv[0] = shutil.which(argv[0])
                os.execve(argv[0], argv, env)
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
        self.pid = int(os.read(pid_r, 32)) if shell else self.shell
        os.close(err)
        RUNS.append(self)

    def read(self):
        # What the terminal shows so far (its output processing writes LF as CR LF).
        while select.select([self.master], [], [], 0)[0]:
            try:
                self.out += os.read(self.master, 65536).replace(b"\r\r\n", b"\r\n")
            except OSError:
                break
        return self.out

    def text(self):
        return open(self.file, "rb").read() if self.stdout == "file" else self.read()

    def lines(self):
        return re.findall(LINE, self.text())

    def wait_lines(self, count, seconds=10):
        wait_until(lambda: len(self.lines()) >= count, seconds, "%d status lines" % count)

    def made(self):
        # Status lines made so far, written or not: each asks the audio library for its figure.
        return self.calls().count("Pa_GetStreamCpuLoad")

    def state(self):
        return open("/proc/%d/stat" % self.pid).read().rsplit(")", 1)[1].split()[0]

    def idle(self, what, seconds=2):
        # The main thread waits between passes: it uses almost no processor time (its exact
        # run time over the time that passed; a spinning loop takes its session's share).
        stat = "/proc/%d/task/%d/schedstat" % (self.pid, self.pid)
        ran = lambda: int(open(stat).read().split()[0]) / 1e9
        before, start = ran(), time.monotonic()
        time.sleep(seconds)
        used = (ran() - before) / (time.monotonic() - start)
        check(used < 0.05, "main thread at %.0f %% of a core %s" % (100 * used, what))

    def modes(self):
        return termios.tcgetattr(self.slave)

    def program_modes_on(self):
        return not self.modes()[3] & (termios.ICANON | termios.ECHO)

    def foreground(self, flag):
        os.write(self.commands, b"f" if flag else b"b")

    def type(self, keys):
        os.write(self.master, keys)

    def end(self, seconds=10):
        # The exit code, negative for a signal (from the shell: 256 - n).
        def ended():
            self.read()
            pid, self.code = os.waitpid(self.shell, os.WNOHANG)
            return pid
        wait_until(ended, seconds, "the program to end")
        code = os.waitstatus_to_exitcode(self.code)
        return code - 256 if code > 128 else code

    def errors(self):
        return open(self.err, "rb").read()

    def calls(self):
        return open(self.log).read().split() if os.path.exists(self.log) else []


def alsa(slave, output=os.devnull, infile="/dev/zero"):
    # Real PortAudio over ALSA file plugins: played samples to a file, captured from one.
    return {"ALSA_CONFIG_PATH": servers.alsa_config(TMP, slave, output, infile)}


def pulse():
    # A private PulseAudio at 8000 Hz: the program plays into "out" and captures what is played
    # into "tone". The environment that reaches it, through ALSA too.
    sock = servers.start_pulse(TMP, sinks=("out", "tone"), source="tone.monitor",
                               seconds=10 * SLOW)
    check(sock, "PulseAudio started")
    env = servers.pulse_client(TMP, sock)
    os.environ.update(env)  # for the pulse tools
    return dict(env, **alsa(servers.pulse_slave(sock)))


def faketime(clock):
    # The clock is set in local time, in a zone 5:30 ahead of UTC, so a line that showed UTC
    # would be off by hours and minutes.
    return {"LD_PRELOAD": FAKETIME, "FAKETIME": clock, "DONT_FAKE_MONOTONIC": "1",
            "TZ": "IST-5:30"}


def ends_in_order(run, keys=b"\x1b"):
    run.type(keys)
    check(run.end() == 0, "exit status 0")
    check(run.calls()[-3:] == STOP_SEQUENCE and run.calls().count("Pa_StopStream") == 1,
          "stopped in order: %s" % run.calls())
    check(run.modes() == run.found, "the terminal's modes put back")


# Exit paths with the clock frozen: one line, then the action; exit status, stop sequence.
# Key code 3 comes from the terminal when its interrupt character is another (here none).
# A stop that never returns (a sound server gone) still ends with 0, by the bound.
EXITS = {"esc": (b"\x1b", 0), "ctrl_c": (b"\x03", -2), "ctrl_backslash": (b"\x1c", -3),
         "key_code_3": (b"\x03", 0, {"intr": b"\0"}),
         "esc_stop_never_returns": (b"\x1b", 0, {"env": {"DSPHOST_FAKE_PA_STOP": "never"}}),
         "sigterm": (signal.SIGTERM, -15), "sighup": (signal.SIGHUP, -1),
         "sigsegv": (signal.SIGSEGV, -11), "sigabrt": (signal.SIGABRT, -6)}


def exit_path(name):
    action, status, *options = EXITS[name]
    options = dict(*options)
    env = dict(faketime("2026-12-07 09:05:07"), **options.pop("env", {}))  # frozen
    run = Run(env=env, **options)
    run.wait_lines(1)
    check(run.program_modes_on(), "the program's modes on")
    run.type(action) if isinstance(action, bytes) else os.kill(run.pid, action)
    check(run.end() == status, "exit status %d" % status)
    check([(line[0], line[3]) for line in run.lines()] == [(b"09:05:07", b" 3.12")],
          "one line, the local time of day and the library's CPU figure: %r" % run.out)
    check(run.calls()[:3] == START_SEQUENCE, "the stream opened as expected: %s" % run.calls())
    stops = STOP_SEQUENCE[:1] if "DSPHOST_FAKE_PA_STOP" in env else STOP_SEQUENCE
    check([c for c in run.calls() if c in STOP_SEQUENCE] == (stops if status == 0 else []),
          "stop sequence: %s" % run.calls())
    check(run.modes() == run.found, "the terminal's modes put back")


def line_mode_behind_its_back():
    run = Run()
    run.wait_lines(1)
    run.idle("in the program's modes")
    program = run.modes()
    termios.tcsetattr(run.slave, termios.TCSANOW, run.found)  # as `stty sane` would
    run.type(b"typed")
    run.wait_lines(len(run.lines()) + 2, 4)  # polling never waits for the line to end
    run.idle("with part of a line pending in line mode")
    termios.tcsetattr(run.slave, termios.TCSANOW, program)
    ends_in_order(run)


def background(tostop, lost=False):
    # Started in the background, or losing the terminal to another job without a stop: it
    # hands the terminal back and runs on, reads no key, until it is in the foreground again.
    run = Run(shell=True, background=not lost, tostop=tostop)
    if lost:
        wait_until(run.program_modes_on, 5, "the program's modes")
        run.foreground(False)
        wait_until(lambda: run.modes() == run.found, 5, "the terminal's modes handed back")
    lines, made = len(run.lines()), run.made()
    run.type(b"for the shell\n")
    run.idle("in the background, input pending")

    def three_more_lines_made():
        check(run.state() != "T" and run.modes() == run.found, "running, terminal untouched")
        return run.made() >= made + 3
    wait_until(three_more_lines_made, 10, "three lines made in the background")
    check((len(run.lines()) >= lines + 2) != tostop, "lines in the background: %r" % run.out)
    run.foreground(True)
    wait_until(run.program_modes_on, 5, "the program's modes in the foreground")
    run.wait_lines(len(run.lines()) + 1)
    ends_in_order(run)


def ctrl_z(job_control):
    # Ctrl+Z, then bg and fg; without job control the stop is discarded and it carries on.
    run = Run(shell=job_control)
    run.wait_lines(1)
    run.type(b"\x1a")
    if job_control:
        wait_until(lambda: run.state() == "T", 5, "stopped")
        check(run.modes() == run.found, "the terminal's modes put back while stopped")
        run.foreground(False)
        os.kill(run.pid, signal.SIGCONT)  # bg
        run.wait_lines(len(run.lines()) + 2)
        check(run.modes() == run.found, "the terminal left to the shell in the background")
        run.foreground(True)
        os.kill(run.pid, signal.SIGCONT)  # fg
        run.idle("continued in the foreground")
    run.wait_lines(len(run.lines()) + 2)
    check(run.program_modes_on(), "the program's modes on")
    ends_in_order(run)


def output_stopped(by):
    # Ctrl+S is a key like any other: the lines go on. Output stopped from elsewhere (tcflow, as
    # a console's Scroll Lock does): the lines are made and dropped, and ESC is still read.
    run = Run()
    run.wait_lines(1)
    lines, made = len(run.lines()), run.made()
    if by == "ctrl_s":
        run.type(b"\x13")
        run.wait_lines(lines + 3)
    else:
        termios.tcflow(run.slave, termios.TCOOFF)
        wait_until(lambda: run.made() >= made + 2, 10, "lines made while the output is stopped")
    ends_in_order(run)


def output(where):
    run = Run(stdout=where)
    wait_until(lambda: run.made() >= 4, 10, "four lines made")
    ends_in_order(run)
    check(run.out == b"", "nothing on the terminal")
    if where == "file":
        check(re.fullmatch(b"(%s){4,}" % LINE, run.text()), "only status lines: %r" % run.text())
        totals = [int(line[1]) for line in run.lines()]
        # Each line counts the samples since the line before, read a moment after it; from the
        # third line on a second of samples lies between.
        check(totals[2] > 4000 and all(abs(total - int(line[2]) - before) < 4000 for before, total,
                                       line in zip(totals, totals[1:], run.lines()[1:])),
              "counts: %r" % run.text())


# Standard input that is not a terminal, and the signal that then ends the program.
INPUTS = {"null": signal.SIGTERM, "closed_pipe": signal.SIGHUP, "file": signal.SIGTERM,
          "open_pipe": signal.SIGHUP}


def input_not_a_terminal(stdin):
    run = Run(stdin=stdin, stdout="file")
    run.idle("with standard input " + stdin)
    run.wait_lines(3)
    os.kill(run.pid, INPUTS[stdin])
    check(run.end() == -INPUTS[stdin], "ended by the signal")


def fast_clock():
    # Hundreds of lines in a few seconds: one per time of day, and memory that stays flat
    # (the sanitizers' own bookkeeping grows, so only the plain build is judged on it).
    run = Run(stdin="null", stdout="file", env=faketime("@2026-12-07 23:59:00 x2000"))
    rss = lambda: int(re.search(r"VmRSS:\s*(\d+)", open("/proc/%d/status" % run.pid).read())[1])
    run.wait_lines(100, 20)
    before = rss()
    run.wait_lines(1100, 60)
    check(SLOW > 1 or rss() - before < 48, "memory flat: %d KiB, then %d KiB" % (before, rss()))
    os.kill(run.pid, signal.SIGTERM)
    run.end()
    times = [line[0] for line in run.lines()]
    check(len(times) > 20 and times == sorted(set(times), key=lambda t: (t < b"12", t)),
          "one line per time of day, in order, across midnight: %r" % times)


def real_audio(card, allowed):
    # Unpaced real audio through the real pass-through: every captured sample played, after
    # a delay; the signals the program handles are taken on the main thread only; the audio
    # thread in the real-time class on a sound card where that is allowed (as root), and audio
    # without it.
    samples = array.array("h", ((n * 7919) % 65536 - 32768 for n in range(40000)))
    infile, played = os.path.join(TMP, "in.raw"), os.path.join(TMP, "out.raw")
    open(infile, "wb").write(samples.tobytes())
    sound_card = {"LD_PRELOAD": os.path.join(BUILD, "sound_card.so")} if card else {}
    run = Run("dsphost", dict(alsa("{ type null }", played, infile), **sound_card), stdout="file",
              wrapper=() if allowed else ["setpriv", "--bounding-set=-sys_nice", "prlimit", "-r0"])
    wait_until(lambda: os.path.exists(played) and os.path.getsize(played) > 200000, 20, "audio")
    run.wait_lines(1)  # the stream started and the audio library's calls done
    masks = [int(re.search(r"SigBlk:\s*(\w+)", open("/proc/%d/task/%s/status" % (run.pid, t))
                           .read()).group(1), 16) for t in os.listdir("/proc/%d/task" % run.pid)]
    handled = sum(1 << (s - 1) for s in (signal.SIGINT, signal.SIGQUIT, signal.SIGTERM,
                                         signal.SIGHUP, signal.SIGTSTP))
    check(sorted(m & handled for m in masks) == [0] + [handled] * (len(masks) - 1),
          "handled signals blocked in every thread but the main one: %s" % masks)
    policy = [int(open("/proc/%d/task/%s/stat" % (run.pid, t)).read().rsplit(")", 1)[1].split()[38])
              for t in sorted(os.listdir("/proc/%d/task" % run.pid), key=int)]
    check(policy[0] == 0 and policy[1:].count(1) == (card and allowed), "FIFO: %s" % policy)
    run.type(b"\x1b")
    check(run.end() == 0 and run.errors() == b"", "exit 0, nothing on stderr")
    out = array.array("h", open(played, "rb").read())
    check(any(out[d:d + len(samples)] == samples for d in range(4096)), "every sample played")


def no_sound_device():
    run = Run("dsphost", {"PULSE_SERVER": "unix:" + os.path.join(TMP, "none"),
                          "ALSA_CONFIG_PATH": "/usr/share/alsa/alsa.conf"})
    run.wait_lines(2)
    check(all(int(line[1]) == int(line[2]) == 0 for line in run.lines()), "counts 0")
    run.type(b"\x1b")
    check(run.end() == 0 and run.errors() == b"", "exit 0, nothing on stderr")


def server_gone():
    # The sound server crashes under the program: the lines go on, the audio library's
    # complaints stay off the terminal, and ESC ends it with 0 (its stop may never return).
    run = Run("dsphost", pulse())
    run.wait_lines(2)
    subprocess.run(["pkill", "-KILL", "-f", os.path.join(TMP, "default.pa")])
    run.wait_lines(len(run.lines()) + 2)
    run.type(b"\x1b")
    check(run.end() == 0 and run.errors() == b"", "exit 0, nothing on stderr")
    check(run.modes() == run.found, "the terminal's modes put back")


def silent_start():
    # Silence in, silence out from the first sample, whatever the heap held: PulseAudio's ALSA
    # plug-in has no mmap, so the audio library plays from a buffer of its own.
    env, played = pulse(), os.path.join(TMP, "played.raw")
    subprocess.Popen(["parec", "-d", "out.monitor", "--raw", "--format=s16le", "--rate=8000",
                      "--channels=1", "--latency-msec=10"], stdout=open(played, "wb"))
    wait_until(lambda: os.path.getsize(played) > 0, 10, "the recording")
    run = Run("dsphost", dict(env, MALLOC_PERTURB_="85"))
    run.wait_lines(3), run.type(b"\x1b")
    out = array.array("h", open(played, "rb").read())
    check(run.end() == 0 and len(out) > 8000 and not any(out), "%d of %d samples not 0"
          % (len(out) - out.count(0), len(out)))


def inject(*records):
    # Exact console input records into the console of the running dsphost.exe.
    return subprocess.run(["wine", os.path.join(BUILD, "inject_keys.exe"), "dsphost.exe",
                           *records]).returncode


def key(down, repeat, vk, scan, char, state=0):
    return "key:%d:%d:%d:%d:%d:%d" % (down, repeat, vk, scan, char, state)


def press(vk, scan, char, state=0):
    return [key(1, 1, vk, scan, char, state), key(0, 1, vk, scan, char, state)]


# Records as a Windows console delivers them (wine's own reading of a terminal reports a lone
# ESC with the character 0, which Windows never does); none of these ends the program.
IGNORED = [press(0x74, 63, 0), press(0x26, 72, 0, 0x100), press(0x51, 16, 113), ["focus"],
           [key(1, 3, 0x51, 16, 113)], [key(1, 0, 0x1B, 1, 27)], [key(0, 1, 0x1B, 1, 27)]]
ALT_KEYPAD_27 = [key(1, 1, 0x12, 56, 0, 2), *press(0x62, 80, 0, 0x22), *press(0x67, 71, 0, 0x22),
                 key(0, 1, 0x12, 56, 0, 0x20)]


def windows_redirected():
    # A tone played into the capture side comes out of playback; about 8000 samples a
    # second; key records end it only when they are Esc; the output holds only status lines.
    run = Run("dsphost.exe", pulse(), stdout="file")
    run.wait_lines(2, 60)
    raw = ["--rate=8000", "--channels=1", "--format=s16le", "--raw"]
    recorder = subprocess.Popen(["parec", "-d", "out.monitor", *raw], stdout=subprocess.PIPE)
    tone = array.array("h", (int(8000 * math.sin(math.pi * i / 8)) for i in range(24000)))
    subprocess.run(["pacat", "-d", "tone", *raw], input=tone.tobytes())  # 3 s at 500 Hz
    time.sleep(0.5)
    recorder.terminate()
    got = array.array("h", (lambda d: d[:len(d) // 2 * 2])(recorder.communicate()[0]))
    parts = [got[i:i + 2000] for i in range(0, len(got) - 2000, 500)]
    check(any(min(p) < -6000 and max(p) > 6000 and
              abs(sum(a < 0 <= b for a, b in zip(p, p[1:])) - 125) <= 15 for p in parts),
          "a quarter second of the recording is the tone")
    run.wait_lines(10, 30)
    # Whole seconds before the keys (each injection starts a wine process that competes with
    # the audio thread); the median, as wine's audio thread now and then falls behind. Wide
    # enough for a busy machine, and still far from half or twice the rate.
    full = sorted(int(line[2]) for line in run.lines()[2:10])
    check(6000 <= full[len(full) // 2] <= 10000, "about 8000 samples a second: %s" % full)
    for records in IGNORED:
        check(inject(*records) == 0 and time.sleep(0.3) is None and run.state() != "Z",
              "ignored: %s" % records)
    inject(*press(0x1B, 1, 27))
    check(run.end() == 0, "Esc ends it with 0")
    check(re.fullmatch(b"(%s)+" % LINE, run.text()), "only status lines: %r" % run.text()[-200:])


def windows_console(end):
    # The lines are drawn on the console (wine draws cell by cell, with cursor moves). An Alt +
    # keypad entry of 27 ends it with 0. Ctrl+C is declined by the program's handler and left to
    # the default handling, which ends the process; wine's names itself on standard error (and,
    # with a stream open, now and then crashes or hangs while ending it, so the message is what
    # is checked).
    run = Run("dsphost.exe", dict(pulse(), WINEDEBUG="-all,fixme+console"))
    wait_until(lambda: re.search(rb"(?s)(exit.*?\d\d:\d\d:\d\d.*?%.*?){2}", run.read()), 60,
               "two lines drawn")
    if end == "ctrl_c":
        run.type(b"\x03")
        wait_until(lambda: b"default_ctrl_handler Terminating" in run.errors(), 10,
                   "the default handling of Ctrl+C")
    else:
        inject(*ALT_KEYPAD_27)
        check(run.end() == 0, "Alt + keypad 2, 7 ends it with 0")

CASES = {"line_mode_behind_its_back": line_mode_behind_its_back, "fast_clock": fast_clock,
         "background": lambda: background(False), "background_tostop": lambda: background(True),
         "foreground_lost": lambda: background(False, lost=True),
         "ctrl_z_bg_fg": lambda: ctrl_z(True), "ctrl_z_without_job_control": lambda: ctrl_z(False),
         "output_file": lambda: output("file"), "output_full": lambda: output("full"),
         "output_closed_pipe": lambda: output("pipe"),
         "output_ctrl_s": lambda: output_stopped("ctrl_s"),
         "output_stopped_by_tcflow": lambda: output_stopped("tcflow"),
         **{"real_audio" + suffix: (lambda args=args: real_audio(*args)) for suffix, args in
            (("", (True, True)), ("_no_card", (False, True)), ("_no_realtime", (True, False)))},
         "no_sound_device": no_sound_device, "server_gone": server_gone, "silent_start": silent_start,
         **{"exit_" + name: (lambda name=name: exit_path(name)) for name in EXITS},
         **{"input_" + name: (lambda name=name: input_not_a_terminal(name)) for name in INPUTS}}
WINDOWS_CASES = {"windows_redirected": windows_redirected,
                 **{"windows_" + end: (lambda end=end: windows_console(end))
                    for end in ("alt_keypad", "ctrl_c")}}


def main(build, faketime_library, case):
    global BUILD, FAKETIME, CASE, TMP, SLOW
    BUILD, FAKETIME, CASE = build, faketime_library, case
    if CASE.startswith("list"):
        print(";".join(WINDOWS_CASES if CASE == "list-windows" else CASES))
        return
    SLOW = 3.0 if "san" in os.path.basename(BUILD) else 1.0
    TMP = tempfile.mkdtemp(prefix="dsphost-test-")
    reports = ""
    try:
        dict(CASES, **WINDOWS_CASES)[CASE]()
    finally:
        reports = "".join(open(f, errors="replace").read()
                          for f in glob.glob(os.path.join(TMP, "sanitizer.*")))
        sys.stderr.write(reports)
        for pid in [run.pid for run in RUNS] + [run.shell for run in RUNS]:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        subprocess.run(["pkill", "-KILL", "-f", TMP], stderr=subprocess.DEVNULL)
        shutil.rmtree(TMP, ignore_errors=True)
    check(not reports, "no sanitizer report")
    print("passed: " + CASE)


if __name__ == "__main__":
    main(*sys.argv[1:4])
