"""What happens when the sound server goes away: on each route the server is ended, killed,
ended and started again, or stalled while dsphost or the wire program runs on a
pseudo-terminal, then ESC is typed; plus the stop time with a healthy server and with one
stalled at the moment of ESC. Each run gets a server of its own. The table: fault_report.py."""

import glob
import os
import select
import shutil
import signal
import termios
import threading
import time

from bench import fault_report, processes, readings, servers, status

ROUTES = ("pulse", "pipewire-alsa", "pipewire-pulse", "jack")
# What happens to the server. "healthy" and "stalled-at-esc" time the stop alone: ESC with the
# server running, and ESC while it is stalled.
FAULTS = fault_report.FAULTS
SIGNALS = {"term": signal.SIGTERM, "kill": signal.SIGKILL, "restart": signal.SIGTERM,
           "stop": signal.SIGSTOP}
FAULT_AFTER = 4.0            # s from the first line to the fault
RESTART_AFTER = 4.0          # s from the fault to the server's new start
STALL_SECONDS = 5.0          # SIGSTOP to SIGCONT
HEALTHY_ESC_AFTER = 3.0      # s from the first line to ESC without a fault
STALLED_ESC_AFTER = 0.2      # s from SIGSTOP to ESC, "stalled-at-esc"
# ESC, in turn, this long after the fault; after a restart or a stall, 2 s less than this
# after the server is back, so that the counts have two lines to show whether they came back.
ESC_AFTER = (5.25, 6.15, 7.05, 7.95, 8.85)
ESC_BACK_LESS = 2.0
HANG_SECONDS = 10.0          # ESC to the end, or the run counts as a hang
RUNS = 5
RUNS_MORE = 10
# Where an earlier measurement found ESC hanging now and then: more runs.
MORE = {("pulse", "restart"), ("pipewire-alsa", "term"), ("pipewire-alsa", "kill"),
        ("pipewire-alsa", "restart"), ("jack", "term"), ("jack", "kill"), ("jack", "restart")}
SETTINGS = {"fault_after": FAULT_AFTER, "esc_after": ESC_AFTER, "esc_back_less": ESC_BACK_LESS,
            "hang_seconds": HANG_SECONDS, "healthy_esc_after": HEALTHY_ESC_AFTER,
            "stalled_esc_after": STALLED_ESC_AFTER, "stall_seconds": STALL_SECONDS}


def start_server(route, directory, caches):
    """The route's server started in directory; its processes and the programs' environment,
    or None."""
    position = processes.mark()
    if route == "jack":
        if not servers.start_jack(directory, caches["jack"]):
            return None
        env = servers.jack_client_env(directory)
    else:
        started = servers.start_paced(route, directory, caches["pipewire"])
        if started is None:
            return None
        env = started[0]
    return {"route": route, "directory": directory, "caches": caches, "env": env,
            "processes": processes.since(position)}


def signal_server(server, sig):
    for process in server["processes"]:
        if process.poll() is None:
            process.send_signal(sig)


def end_server(server):
    signal_server(server, signal.SIGCONT)
    for process in reversed(server["processes"]):
        processes.stop(process)


def restart_server(server):
    """Ends what is left of the server and starts it again in the same folder."""
    end_server(server)
    position = processes.mark()
    route, directory, caches = server["route"], server["directory"], server["caches"]
    if route == "pulse":
        ok = servers.start_pulse(directory) is not None
    elif route == "jack":
        ok = servers.start_jack(directory, caches["jack"])
    else:
        ok = servers.start_pipewire(directory, caches["pipewire"],
                                    route == "pipewire-pulse") is not None
    if not ok:
        processes.say("the server did not start again")
    server["processes"] = processes.since(position)


def fault_run(program, name, server, fault, esc_after, fresh_modes):
    """One run of dsphost or the wire program (name; its path: program) on a pseudo-terminal
    through the server, with the fault; its figures."""
    errors_read, errors_write = os.pipe()
    # Bytes in all, and the first ones written after the program's first line (the wire
    # program lets the audio library speak while it opens the stream; dsphost does not).
    errors = {"bytes": 0, "at_start": None, "head": b""}

    def drain_errors():
        while True:
            chunk = os.read(errors_read, 65536)
            if not chunk:
                break
            errors["bytes"] += len(chunk)
            if errors["at_start"] is not None:
                errors["head"] += chunk[:max(0, 2048 - len(errors["head"]))]
        os.close(errors_read)

    ready = status.FIRST_LINE[name]
    session = processes.PtyRun([program], server["env"], stderr=errors_write)
    os.close(errors_write)
    received = []  # (monotonic, wall-clock, line), as each arrives

    def read_terminal():
        pending = b""
        while True:
            try:
                chunk = os.read(session.master, 65536)
            except OSError:  # the terminal's other side is closed: the program has ended
                return
            if not chunk:
                return
            arrived = (time.monotonic(), time.time())
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                received.append(arrived + (line.decode(errors="replace").strip("\r"),))

    readers = [threading.Thread(target=drain_errors, daemon=True),
               threading.Thread(target=read_terminal, daemon=True)]
    for reader in readers:
        reader.start()

    def wait_until(moment):
        time.sleep(max(0.0, moment - time.monotonic()))

    figures = {"program": name, "route": server["route"], "fault": fault, "esc_after": esc_after,
               "started": False}
    pid = session.process.pid

    def drive():
        deadline = time.monotonic() + 10.0
        while not any(ready in text for _, _, text in received):
            if time.monotonic() > deadline or session.process.poll() is not None:
                processes.say("%s did not start" % name)
                return
            time.sleep(0.01)
        figures["started"] = True
        errors["at_start"] = errors["bytes"]
        first = next(t for t, _, text in received if ready in text)
        cont_at = None
        if fault == "healthy":
            esc_at = first + HEALTHY_ESC_AFTER
        elif fault == "stalled-at-esc":
            wait_until(first + HEALTHY_ESC_AFTER)
            signal_server(server, signal.SIGSTOP)
            stalled = time.monotonic()
            esc_at, cont_at = stalled + STALLED_ESC_AFTER, stalled + STALL_SECONDS
        else:
            wait_until(first + FAULT_AFTER)
            faulted = time.monotonic()
            signal_server(server, SIGNALS[fault])
            wait_until(faulted + fault_report.BACK_MARGIN)
            gone_from, cpu_from = time.monotonic(), readings.process_cpu_seconds(pid)
            back = None
            esc_at = faulted + esc_after
            if fault in ("restart", "stop"):
                wait_until(faulted + (RESTART_AFTER if fault == "restart" else STALL_SECONDS))
                gone_to, cpu_to = time.monotonic(), readings.process_cpu_seconds(pid)
                if fault == "restart":
                    restart_server(server)
                else:
                    signal_server(server, signal.SIGCONT)
                back = time.monotonic()
                esc_at = back + esc_after - ESC_BACK_LESS
            else:
                wait_until(esc_at)
                gone_to, cpu_to = time.monotonic(), readings.process_cpu_seconds(pid)
            figures.update(faulted=faulted, gone=(gone_from, gone_to), back=back)
            if cpu_from is not None and cpu_to is not None:
                figures["cpu_gone"] = (cpu_to - cpu_from) / (gone_to - gone_from)
        wait_until(esc_at)
        if session.process.poll() is not None:
            figures.update(early=True, status=session.process.returncode, typed=time.monotonic())
            return
        ended = os.pidfd_open(pid)
        try:
            typed = time.monotonic()
            os.write(session.master, b"\x1b")
            took = None
            while True:
                wake = typed + HANG_SECONDS
                if cont_at is not None:
                    wake = min(wake, cont_at)
                if select.select([ended], [], [], max(0.0, wake - time.monotonic()))[0]:
                    took = (time.monotonic() - typed) * 1000.0
                    break
                if cont_at is not None and time.monotonic() >= cont_at:
                    signal_server(server, signal.SIGCONT)
                    cont_at = None
                    continue
                if time.monotonic() >= typed + HANG_SECONDS:
                    break
        finally:
            os.close(ended)
        if cont_at is not None:
            signal_server(server, signal.SIGCONT)
        figures.update(typed=typed, esc_ms=took)
        if took is not None:
            session.process.wait()
            figures["status"] = session.process.returncode
            figures["modes_back"] = termios.tcgetattr(session.master) == fresh_modes

    try:
        drive()
    finally:
        session.process.kill()
        session.process.wait()
        for reader in readers:
            reader.join(5.0)
        os.close(session.master)
    figures["stderr_bytes"] = errors["bytes"]
    figures["stderr_after_start"] = errors["bytes"] - (errors["at_start"] or 0)
    figures["stderr_head"] = errors["head"].decode(errors="replace")
    if figures["started"]:
        fault_report.status_lines_of(figures, received, name)
    return figures


def series(programs, routes, faults, runs, runs_more, caches, work):
    """Every fault on every route, dsphost and the wire program in turn, each run on a server
    of its own. Returns the list of every run's figures."""
    fresh_master, fresh_slave = os.openpty()
    fresh_modes = termios.tcgetattr(fresh_master)
    os.close(fresh_master)
    os.close(fresh_slave)
    runs_figures = []
    serial = 0
    for route in routes:
        for fault in faults:
            count = runs_more if (route, fault) in MORE else runs
            for run in range(count):
                for name in ("dsphost", "wire") if run % 2 == 0 else ("wire", "dsphost"):
                    serial += 1
                    directory = os.path.join(work, "fault-%d" % serial)
                    position = processes.mark()
                    server = start_server(route, directory, caches)
                    try:
                        figures = (fault_run(programs[name], name, server, fault,
                                             ESC_AFTER[run % len(ESC_AFTER)], fresh_modes)
                                   if server else {"program": name, "route": route,
                                                   "fault": fault, "started": False})
                    finally:
                        if server:
                            end_server(server)
                        processes.stop_since(position)
                        shutil.rmtree(directory, ignore_errors=True)
                    runs_figures.append(figures)
                    processes.say("faults: %s, %s, %s, run %d of %d: %s, status %s, stderr %d "
                                  "bytes" % (route, fault, name, run + 1, count,
                                             "no start" if not figures.get("started") else
                                             "hang" if figures.get("esc_ms") is None else
                                             "%.0f ms" % figures["esc_ms"],
                                             figures.get("status"),
                                             figures.get("stderr_bytes", 0)))
    return runs_figures


def clear_jack(caches, work):
    """A JACK server killed last leaves its shared memory (a hundred MiB) and socket; one
    started and ended under its name clears them. JACK clients that did not close (killed,
    or ended without the libraries' clean-up) leave their semaphores."""
    if glob.glob("/dev/shm/jack_%s_*" % servers.JACK_SERVER):
        position = processes.mark()
        servers.start_jack(os.path.join(work, "jack-clean-up"), caches["jack"])
        processes.stop_since(position)
    for path in glob.glob("/dev/shm/jack_sem.%d_%s_*" % (os.getuid(), servers.JACK_SERVER)):
        os.unlink(path)


def measure(programs, routes, faults, runs, runs_more, caches, work):
    """The fault series; the data for fault_report.report."""
    try:
        figures = series(programs, routes, faults, runs, runs_more, caches, work)
    finally:
        processes.stop_all()
        clear_jack(caches, work)
    return {"dsphost": programs["dsphost"], "settings": SETTINGS, "runs": figures}
