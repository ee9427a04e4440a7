"""Every process the tools start, in one list, so that whatever way the tools end (a return, an
error, Ctrl+C, SIGTERM) stop_all ends what is left; helpers report a failure by their result
(None, False), never by ending the process."""

import fcntl
import os
import select
import signal
import subprocess
import sys
import termios
import time

from bench import readings

RSS_AFTER_SECONDS = 2.0

_children = []  # every process started, oldest first


def say(text):
    print("bench: " + text, file=sys.stderr, flush=True)


def adopt(process):
    _children.append(process)
    return process


def spawn(argv, **kwargs):
    """argv started in a session of its own (as another program of the desktop is), owned."""
    kwargs.setdefault("stdin", subprocess.DEVNULL)
    return adopt(subprocess.Popen(argv, start_new_session=True, **kwargs))


def mark():
    return len(_children)


def since(position):
    return _children[position:]


def stop(process, sig=signal.SIGTERM, timeout=10.0):
    """Sends sig and waits; kills what is left after timeout seconds."""
    if process.poll() is None:
        process.send_signal(sig)
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def stop_since(position):
    """Ends, newest first, the processes started since mark() gave position."""
    for process in reversed(_children[position:]):
        stop(process)
    del _children[position:]


def stop_all():
    """Kills every process still running, newest first (a stopped one is continued first)."""
    for process in reversed(_children):
        if process.poll() is None:
            process.send_signal(signal.SIGCONT)
            process.kill()
            process.wait()
    _children.clear()


def raise_on_signals():
    """SIGTERM and SIGHUP end the tools as Ctrl+C does, through every clean-up on the way."""
    def interrupt(number, frame):
        raise KeyboardInterrupt
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, interrupt)


def run_checked(argv, **kwargs):
    """subprocess.run's result, or None (said) when argv failed."""
    result = subprocess.run(argv, **kwargs)
    if result.returncode != 0:
        say("failed: " + " ".join(argv))
        return None
    return result


def busy_processes(count):
    """Busy loops, each in a session of its own as another program of the desktop would be."""
    return [spawn(["sh", "-c", "while :; do :; done"]) for _ in range(count)]


def end_busy(hogs):
    for hog in hogs:
        stop(hog, signal.SIGKILL)


def run_piped(argv, env, seconds, ready=None, enough=None, arrivals=None):
    """Runs argv with standard input /dev/null and SIGTERM after `seconds`, counted from the
    start or, with `ready`, from the moment its output first contains that text (at most a
    minute later); sooner when enough(output so far) is true. Returns its standard output,
    its VmRSS (KiB) RSS_AFTER_SECONDS after the start, and the CPU time of its threads at the
    end (see readings.thread_cpu_seconds). With `arrivals`, appends the wall-clock time at
    which each line was read."""
    started = time.monotonic()
    process = spawn(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    out = b""
    rss = None
    end = started + (seconds if ready is None else 60.0)
    fd = process.stdout.fileno()
    while True:
        now = time.monotonic()
        if rss is None and now - started >= RSS_AFTER_SECONDS:
            rss = readings.vm_rss_kib(process.pid)
        if now >= end:
            break
        wake = min(end, started + RSS_AFTER_SECONDS) if rss is None else end
        if select.select([fd], [], [], max(0.0, wake - now))[0]:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            out += chunk
            if arrivals is not None:
                arrivals.extend([time.time()] * chunk.count(b"\n"))
            if ready is not None and ready.encode() in out:
                end = time.monotonic() + seconds
                ready = None
            if ready is None and enough is not None and enough(out.decode(errors="replace")):
                break
    cpu = readings.thread_cpu_seconds(process.pid)
    stop(process)
    out += process.stdout.read()
    process.stdout.close()
    return out.decode(errors="replace"), rss, cpu


class PtyRun:
    """A program on a fresh pseudo-terminal, its controlling terminal, as from a shell."""

    def __init__(self, argv, env, stderr=subprocess.DEVNULL):
        self.master, slave = os.openpty()
        self.started = time.monotonic()

        def take_terminal():
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.process = adopt(subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=stderr,
                                              env=env, start_new_session=True,
                                              preexec_fn=take_terminal))
        os.close(slave)
        self.pending = b""
        self.arrived = None

    def lines(self, until):
        """Complete lines as they arrive, each with its arrival time (monotonic and
        wall-clock), until the monotonic time `until` or the end of output."""
        while True:
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                yield line.decode(errors="replace").strip("\r"), self.arrived
            left = until - time.monotonic()
            if left <= 0:
                return
            if not select.select([self.master], [], [], left)[0]:
                return
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            self.arrived = (time.monotonic(), time.time())
            if not chunk:
                return
            self.pending += chunk

    def drain(self):
        while select.select([self.master], [], [], 0)[0]:
            try:
                if not os.read(self.master, 65536):
                    return
            except OSError:
                return

    def escape_to_exit_ms(self):
        """Types a lone ESC and measures until the process has ended."""
        self.drain()
        # A pidfd is readable from the moment the process ends; Popen.wait with a timeout
        # polls with sleeps of up to 50 ms and would add them to the figure.
        ended = os.pidfd_open(self.process.pid)
        try:
            typed = time.monotonic()
            os.write(self.master, b"\x1b")
            if not select.select([ended], [], [], 10.0)[0]:
                return None, None
            took = (time.monotonic() - typed) * 1000.0
        finally:
            os.close(ended)
        self.process.wait()
        return took, self.process.returncode

    def close(self):
        stop(self.process, signal.SIGKILL)
        os.close(self.master)
